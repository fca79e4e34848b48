#include "platform/FileSystem.h"

#include "platform/Exceptions.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

std::string NativePath(std::string_view enginePath) {
    std::string native;
    native.reserve(enginePath.size());
    for (const char c : enginePath) {
        const bool separator = c == '\\' || c == '/';
        if (separator && !native.empty() && native.back() == '/')
            continue;
        native.push_back(separator ? '/' : c);
    }
    return native;
}

static bool StatIs(const std::string& path, mode_t kind) {
    struct stat info {};
    return ::stat(NativePath(path).c_str(), &info) == 0 && (info.st_mode & S_IFMT) == kind;
}

bool FileExists(const std::string& path) {
    return StatIs(path, S_IFREG);
}

bool DirectoryExists(const std::string& path) {
    return StatIs(path, S_IFDIR);
}

bool CreateDir(const std::string& path) {
    return ::mkdir(NativePath(path).c_str(), 0777) == 0;
}

bool DeleteFile(const std::string& path) {
    return ::unlink(NativePath(path).c_str()) == 0;
}

bool RenameFile(const std::string& from, const std::string& to) {
    return ::rename(NativePath(from).c_str(), NativePath(to).c_str()) == 0;
}

bool ForceDirectories(const std::string& path) {
    // Nearly always the folder is there already: one look. Otherwise the missing levels are
    // made from the deepest one that exists, with no failing mkdir for the levels above it.
    if (DirectoryExists(path))
        return true;
    std::string native = NativePath(path);
    while (native.size() > 1 && native.back() == '/')
        native.pop_back();
    if (::mkdir(native.c_str(), 0777) == 0)
        return true;
    const size_t slash = native.rfind('/');
    if (errno != ENOENT || slash == std::string::npos || slash == 0)
        return DirectoryExists(path);
    if (!ForceDirectories(native.substr(0, slash)))
        return false;
    return ::mkdir(native.c_str(), 0777) == 0 || DirectoryExists(path);
}

int64_t FileSize(const std::string& path) {
    struct stat info {};
    if (::stat(NativePath(path).c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return -1;
    return static_cast<int64_t>(info.st_size);
}

int OpenTempFileIn(const std::string& directory, std::string& path) {
    static std::mt19937_64 random{std::random_device{}()};
    static const char digits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = ".vantrel-";
        for (int i = 0; i < 8; ++i)
            name += digits[random() % (sizeof digits - 1)];
        path = directory + name + ".part";
        // O_EXCL: a name in use by another download (or another program) is never reused.
        const int fd =
            ::open(NativePath(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0)
            return fd;
        if (errno != EEXIST)
            break;
    }
    throw EFCreateError("Cannot create file " + directory);
}

std::string CreateTempFileIn(const std::string& directory) {
    std::string path;
    ::close(OpenTempFileIn(directory, path));
    return path;
}

std::string ComparablePath(std::string_view enginePath) {
    const std::string native = NativePath(enginePath);
    std::string kept;
    kept.reserve(native.size());
    size_t start = 0;
    while (start <= native.size()) {
        size_t end = native.find('/', start);
        if (end == std::string::npos)
            end = native.size();
        const std::string_view component = std::string_view(native).substr(start, end - start);
        if (component != ".") {
            kept.append(component);
            if (end < native.size())
                kept.push_back('/');
        }
        start = end + 1;
    }
    return kept.empty() ? native : kept;
}

namespace {

bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

} // namespace

bool IsSafeFileName(std::string_view name) {
    if (name.empty() || name == "." || name == ".." || name.size() > MaxNameBytes)
        return false;
    for (const char c : name)
        if (IsSeparator(c) || c == '\0')
            return false;
    return true;
}

bool IsSafeRelativePath(std::string_view path) {
    if (path.size() > MaxPathBytes || path.find('\0') != std::string_view::npos)
        return false;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = start;
        while (end < path.size() && !IsSeparator(path[end]))
            ++end;
        const std::string_view component = path.substr(start, end - start);
        if (component == ".." || component.size() > MaxNameBytes)
            return false;
        start = end + 1;
    }
    return true;
}

std::string CurrentDir() {
    std::string buffer(4096, '\0');
    if (::getcwd(buffer.data(), buffer.size()) == nullptr)
        return {};
    buffer.resize(std::char_traits<char>::length(buffer.c_str()));
    return buffer;
}

bool SetCurrentDir(const std::string& path) {
    return ::chdir(NativePath(path).c_str()) == 0;
}

std::string ProgramDir() {
    std::string dir = QCoreApplication::applicationDirPath().toStdString();
    if (dir.empty() || dir.back() != '/')
        dir.push_back('/');
    return dir;
}

std::string ProgramFileName() {
    return QFileInfo(QCoreApplication::applicationFilePath()).fileName().toStdString();
}

} // namespace platform

TFileStream::TFileStream(const std::string& fileName, Mode mode) : fileName_(fileName) {
    const std::string native = platform::NativePath(fileName);
    if (mode == Mode::Create) {
        fd_ = ::open(native.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd_ < 0)
            throw EFCreateError("Cannot create file " + fileName);
    } else {
        fd_ = ::open(native.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0)
            throw EFOpenError("Cannot open file " + fileName);
    }
}

TFileStream::~TFileStream() {
    Close();
}

void TFileStream::Write(const void* data, size_t count) {
    if (observer_ != nullptr)
        observer_->Written(data, count);
    written_ = written_ || count > 0;
    const char* bytes = static_cast<const char*>(data);
    while (count > 0) {
        const ssize_t written = ::write(fd_, bytes, count);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            throw EFileError("Stream write error");
        bytes += written;
        count -= static_cast<size_t>(written);
    }
}

size_t TFileStream::Read(void* data, size_t count) {
    for (;;) {
        const ssize_t got = ::read(fd_, data, count);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw EFileError("Stream read error");
        return static_cast<size_t>(got);
    }
}

size_t TFileStream::ReadAt(void* data, size_t count, uint64_t offset) {
    for (;;) {
        const ssize_t got = ::pread(fd_, data, count, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw EFileError("Stream read error");
        return static_cast<size_t>(got);
    }
}

uint64_t TFileStream::Size() const {
    struct stat info {};
    return ::fstat(fd_, &info) == 0 ? static_cast<uint64_t>(info.st_size) : 0;
}

void TFileStream::Truncate() {
    // A file nothing was written to yet (a new partial file) is empty already.
    if (written_ && (::ftruncate(fd_, 0) != 0 || ::lseek(fd_, 0, SEEK_SET) != 0))
        throw EFileError("Stream write error");
    written_ = false;
    if (observer_ != nullptr)
        observer_->Restarted();
}

void TFileStream::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}
