#include "platform/PrivateProfile.h"

#include "platform/Exceptions.h"
#include "platform/FileSystem.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace platform {

bool SameTextIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    for (size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i]))
            return false;
    return true;
}

std::string TrimControls(std::string_view text) {
    const auto control = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    while (!text.empty() && control(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && control(text.back()))
        text.remove_suffix(1);
    return std::string(text);
}

namespace {

std::string_view TrimBlanks(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

// One line of an INI file, as offsets into its text so that a write can replace exactly the
// bytes of one line and keep all others as they were.
struct ProfileLine {
    enum class Kind { Other, Header, Key };
    size_t begin = 0;
    size_t textEnd = 0; // before the line break (CR LF or LF)
    size_t end = 0;     // after the line break
    Kind kind = Kind::Other;
    std::string_view name; // section or key name, trimmed
    std::string_view value;
};

// An editor may put a UTF-8 byte-order mark first; it belongs to no line, and a write keeps it.
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

size_t TextStart(std::string_view content) {
    return content.starts_with(kByteOrderMark) ? kByteOrderMark.size() : 0;
}

std::vector<ProfileLine> ParseLines(std::string_view content) {
    std::vector<ProfileLine> lines;
    size_t begin = TextStart(content);
    while (begin < content.size()) {
        ProfileLine line;
        line.begin = begin;
        const size_t lf = content.find('\n', begin);
        line.end = lf == std::string_view::npos ? content.size() : lf + 1;
        line.textEnd = lf == std::string_view::npos ? content.size() : lf;
        if (line.textEnd > begin && content[line.textEnd - 1] == '\r')
            --line.textEnd;
        const std::string_view text = content.substr(begin, line.textEnd - begin);
        const std::string_view trimmed = TrimBlanks(text);
        if (!trimmed.empty() && trimmed.front() == '[') {
            line.kind = ProfileLine::Kind::Header;
            line.name = TrimBlanks(trimmed.substr(1, trimmed.find(']') - 1));
        } else if (!trimmed.empty() && trimmed.front() != ';' &&
                   text.find('=') != std::string_view::npos) {
            const size_t equals = text.find('=');
            line.kind = ProfileLine::Kind::Key;
            line.name = TrimBlanks(text.substr(0, equals));
            line.value = text.substr(equals + 1);
        }
        lines.push_back(line);
        begin = line.end;
    }
    return lines;
}

// The lines of the first section of that name: [first, last) indexes, the header excluded;
// nullopt when there is no such section. Later sections of the same name are not read.
std::optional<std::pair<size_t, size_t>> FindSection(const std::vector<ProfileLine>& lines,
                                                     std::string_view section) {
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].kind != ProfileLine::Kind::Header ||
            !SameTextIgnoringCase(lines[i].name, section))
            continue;
        size_t last = i + 1;
        while (last < lines.size() && lines[last].kind != ProfileLine::Kind::Header)
            ++last;
        return std::make_pair(i + 1, last);
    }
    return std::nullopt;
}

std::optional<size_t> FindKey(const std::vector<ProfileLine>& lines,
                              std::pair<size_t, size_t> section, std::string_view key) {
    for (size_t i = section.first; i < section.second; ++i)
        if (lines[i].kind == ProfileLine::Kind::Key && SameTextIgnoringCase(lines[i].name, key))
            return i;
    return std::nullopt;
}

// The whole file; nullopt when it cannot be opened or read, with errno telling why. Nothing
// blocks: a FIFO, a socket or a directory is no settings file and reads as unreadable, and a
// character device (a link to /dev/null keeps a user's settings from being saved) reads as
// empty, since reading one may never end.
std::optional<std::string> ReadWholeFile(const std::string& fileName) {
    const int fd = ::open(fileName.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const bool device = S_ISCHR(info.st_mode);
        ::close(fd);
        errno = EINVAL;
        return device ? std::optional<std::string>(std::string()) : std::nullopt;
    }
    std::string content;
    char buffer[8192];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            const int error = errno;
            ::close(fd);
            errno = error;
            return std::nullopt;
        }
        if (got == 0)
            break;
        content.append(buffer, static_cast<size_t>(got));
    }
    ::close(fd);
    return content;
}

[[noreturn]] void FailToWrite(const std::string& fileName) {
    throw EIniFileException("Unable to write to " + fileName);
}

bool WriteAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes.remove_prefix(static_cast<size_t>(written));
    }
    return true;
}

std::string DirectoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Creates the missing directories of a path, private to their owner, as the configuration
// directory of a first run needs.
void CreateDirectories(const std::string& dir) {
    for (size_t slash = dir.find('/', 1);; slash = dir.find('/', slash + 1)) {
        const std::string prefix = dir.substr(0, slash);
        if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST)
            return;
        if (slash == std::string::npos)
            return;
    }
}

// The path a chain of links leads to, whether or not anything is there yet; the path itself
// when it is no link. nullopt for a loop or a link that cannot be read.
std::optional<std::string> FollowLinks(std::string path) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
            return path;
        std::string target(PATH_MAX, '\0');
        const ssize_t size = ::readlink(path.c_str(), target.data(), target.size());
        if (size <= 0 || static_cast<size_t>(size) >= target.size())
            return std::nullopt;
        target.resize(static_cast<size_t>(size));
        path = target.front() == '/' ? target : DirectoryOf(path) + "/" + target;
    }
    return std::nullopt;
}

// A character device takes the text where it is: opened without blocking and never replaced,
// so that a link to /dev/null goes on swallowing the settings instead of becoming a file.
void WriteToDevice(const std::string& device, const std::string& fileName,
                   std::string_view content) {
    const int fd = ::open(device.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        FailToWrite(fileName);
    struct stat info {};
    const bool written = ::fstat(fd, &info) == 0 && S_ISCHR(info.st_mode) && WriteAll(fd, content);
    if (::close(fd) != 0 || !written)
        FailToWrite(fileName);
}

// Puts content in place of the file in one step: written and synced beside it under a temporary
// name, then renamed over it. Only a regular file is replaced so; see WriteToDevice for a
// character device, and anything else is refused.
void ReplaceFile(const std::string& fileName, std::string_view content) {
    // A link to the settings file stays a link: what it leads to is written, and a link that
    // leads nowhere yet gets its file made where it says.
    const std::optional<std::string> followed = FollowLinks(fileName);
    if (!followed)
        FailToWrite(fileName);
    const std::string& target = *followed;

    struct stat existing {};
    const bool exists = ::stat(target.c_str(), &existing) == 0;
    if (exists && S_ISCHR(existing.st_mode))
        return WriteToDevice(target, fileName, content);
    if (exists && !S_ISREG(existing.st_mode))
        FailToWrite(fileName);
    if (exists) {
        // Renaming would get past a file its user may not write; refuse it as an in-place write
        // would.
        const int probe = ::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (probe < 0)
            FailToWrite(fileName);
        ::close(probe);
    } else {
        CreateDirectories(DirectoryOf(target));
    }

    const size_t slash = target.rfind('/');
    std::string temporary = DirectoryOf(target) + "/." +
                            target.substr(slash == std::string::npos ? 0 : slash + 1) + ".XXXXXX";
    // mkstemp creates the file with mode 0600.
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0)
        FailToWrite(fileName);
    if (exists && (existing.st_uid != ::geteuid() || existing.st_gid != ::getegid())) {
        // Run by root in a user's portable copy, the file stays the user's. Only root may do
        // this; anyone else keeps the file as their own.
        [[maybe_unused]] const int ignored = ::fchown(fd, existing.st_uid, existing.st_gid);
    }
    bool written = (!exists || ::fchmod(fd, existing.st_mode & 07777) == 0) &&
                   WriteAll(fd, content) && ::fsync(fd) == 0;
    written = ::close(fd) == 0 && written;
    if (!written || ::rename(temporary.c_str(), target.c_str()) != 0) {
        ::unlink(temporary.c_str());
        FailToWrite(fileName);
    }
}

} // namespace

std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, const std::string& fileName) {
    const std::optional<std::string> content = ReadWholeFile(fileName);
    if (!content)
        return defaultValue;
    const std::vector<ProfileLine> lines = ParseLines(*content);
    const auto found = FindSection(lines, section);
    if (!found)
        return defaultValue;
    const auto index = FindKey(lines, *found, key);
    if (!index)
        return defaultValue;
    std::string_view value = TrimBlanks(lines[*index].value);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return std::string(value.substr(0, kProfileValueLimit));
}

void WritePrivateProfileString(const std::string& section, const std::string& key,
                               const std::string& value, const std::string& fileName) {
    std::optional<std::string> read = ReadWholeFile(fileName);
    if (!read && errno != ENOENT)
        FailToWrite(fileName);
    std::string content = read.value_or(std::string());

    // The file keeps the line breaks it has; a new one gets the system's.
    const size_t firstBreak = content.find('\n');
    const std::string lineBreak =
        firstBreak != std::string::npos && firstBreak > 0 && content[firstBreak - 1] == '\r'
            ? "\r\n"
            : "\n";
    const std::string keyLine = key + "=" + value.substr(0, value.find_first_of("\r\n"));

    const std::vector<ProfileLine> lines = ParseLines(content);
    const auto found = FindSection(lines, section);
    if (!found) {
        if (content.size() > TextStart(content) && content.back() != '\n')
            content += lineBreak;
        content += "[" + section + "]" + lineBreak + keyLine + lineBreak;
    } else if (const auto index = FindKey(lines, *found, key)) {
        const ProfileLine& line = lines[*index];
        content.replace(line.begin, line.textEnd - line.begin, keyLine);
    } else {
        // After the section's last line that is not blank, so that the blank lines between
        // sections stay between them.
        size_t after = found->first - 1; // the header
        for (size_t i = found->first; i < found->second; ++i)
            if (!TrimBlanks(std::string_view(content).substr(lines[i].begin,
                                                             lines[i].textEnd - lines[i].begin))
                     .empty())
                after = i;
        size_t at = lines[after].end;
        std::string inserted = keyLine + lineBreak;
        if (at == content.size() && !content.empty() && content.back() != '\n')
            inserted = lineBreak + inserted;
        content.insert(at, inserted);
    }
    ReplaceFile(fileName, content);
}

} // namespace platform
