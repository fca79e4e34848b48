#include "cli/HeadlessList.h"

#include "platform/Exceptions.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace cli {

bool ListNamesAnyId(const std::string& path) {
    const auto fail = [&path](const char* reason) {
        throw EFOpenError("Cannot open file " + path + ": " + reason);
    };
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        fail(std::strerror(errno));
    struct stat info {};
    std::string text;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        fail(S_ISDIR(info.st_mode) ? std::strerror(EISDIR) : "not a regular file");
    }
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            const int error = errno;
            ::close(fd);
            fail(std::strerror(error));
        }
        if (got == 0)
            break;
        text.append(buffer, static_cast<size_t>(got));
    }
    ::close(fd);
    // Ctrl+Z ends the list; "f=" and "m=" never span a line break, so the whole text will do.
    const std::string_view list = std::string_view(text).substr(0, text.find('\x1a'));
    return list.find("f=") != std::string_view::npos || list.find("m=") != std::string_view::npos;
}

} // namespace cli
