#include "platform/PartFile.h"

#include "platform/Exceptions.h"

#include <QDir>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr std::string_view PartPrefix = ".vantrel-";
constexpr std::string_view PartSuffix = ".part";
constexpr size_t PartLetters = 8;

// Opens path and takes its lock without waiting; -1 when it is locked by someone (or gone).
int LockedIfFree(const std::string& native, int flags) {
    const int fd = ::open(native.c_str(), flags | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool OlderThanStale(int fd) {
    struct stat info {};
    return ::fstat(fd, &info) == 0 && info.st_mtime + StaleSeconds < std::time(nullptr);
}

// Calls take(name) for every entry of a native directory.
template <typename Take> void EachEntry(const std::string& native, Take take) {
    DIR* dir = ::opendir(native.c_str());
    if (dir == nullptr)
        return;
    while (const dirent* entry = ::readdir(dir))
        take(std::string(entry->d_name));
    ::closedir(dir);
}

} // namespace

bool IsPartFileName(std::string_view name) {
    if (name.size() != PartPrefix.size() + PartLetters + PartSuffix.size() ||
        !name.starts_with(PartPrefix) || !name.ends_with(PartSuffix))
        return false;
    for (const char c : name.substr(PartPrefix.size(), PartLetters))
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')))
            return false;
    return true;
}

std::string SetAside(const std::string& file, const std::string& folder,
                     const std::string& relative) {
    const std::string place = folder + "/" + relative;
    const size_t slash = place.find_last_of('/');
    if (!ForceDirectories(place.substr(0, slash)))
        return {};
    for (int n = 1; n < 10000; ++n) {
        const std::string target = n == 1 ? place : place + "." + std::to_string(n);
        switch (CommitFile(file, target)) {
        case TCommit::Committed:
            return target;
        case TCommit::TargetExists:
            continue;
        case TCommit::Failed:
            return {};
        }
    }
    return {};
}

bool IsOwnFolderPath(std::string_view relativeDir) {
    constexpr std::string_view own = ".vantrel";
    size_t start = 0;
    while (start < relativeDir.size()) {
        size_t end = relativeDir.find_first_of("/\\", start);
        if (end == std::string_view::npos)
            end = relativeDir.size();
        const std::string_view component = relativeDir.substr(start, end - start);
        if (!component.empty() && component != ".")
            return component.size() == own.size() &&
                   std::equal(own.begin(), own.end(), component.begin(), [](char a, char b) {
                       return a == (b >= 'A' && b <= 'Z' ? char(b - 'A' + 'a') : b);
                   });
        start = end + 1;
    }
    return false;
}

TCommit CommitFile(const std::string& from, const std::string& to) {
    const std::string source = NativePath(from), target = NativePath(to);
    if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
        return TCommit::Committed;
    if (errno == EEXIST)
        return TCommit::TargetExists;
    if (errno != EINVAL && errno != ENOSYS)
        return TCommit::Failed;
    // No atomic rename without replace here: a second name that the kernel refuses to put over
    // an existing one, then the first name goes.
    if (::link(source.c_str(), target.c_str()) == 0) {
        (void)::unlink(source.c_str());
        return TCommit::Committed;
    }
    if (errno == EEXIST)
        return TCommit::TargetExists;
    if (errno != EPERM && errno != EOPNOTSUPP)
        return TCommit::Failed;
    // No hard links either (some network and FAT file systems): the best left is to look first.
    struct stat info {};
    if (::lstat(target.c_str(), &info) == 0)
        return TCommit::TargetExists;
    return ::rename(source.c_str(), target.c_str()) == 0 ? TCommit::Committed : TCommit::Failed;
}

TPartFile::TPartFile(const std::string& directory) {
    const int fd = OpenTempFileIn(directory, path_);
    stream_ = std::make_unique<TFileStream>(path_, fd);
    // Without a lock the file is still safe for StaleSeconds; a file system without locks
    // (some network ones) only loses the sweep's certainty, not the download.
    (void)::flock(fd, LOCK_EX | LOCK_NB);
}

TPartFile::~TPartFile() {
    if (!done_)
        (void)DeleteFile(path_);
}

TCommit TPartFile::Commit(const std::string& target) {
    const TCommit result = CommitFile(path_, target);
    if (result != TCommit::Committed)
        (void)DeleteFile(path_);
    done_ = true;
    stream_->Close();
    return result;
}

void TPartFile::Discard() {
    if (!done_)
        (void)DeleteFile(path_);
    done_ = true;
    stream_->Close();
}

bool TPartFile::SetModified(std::time_t time) {
    const timespec times[2] = {{0, UTIME_OMIT}, {time, 0}};
    return ::futimens(stream_->Descriptor(), times) == 0;
}

void SweepPartFiles(const std::string& directory) {
    const std::string native = NativePath(directory + "/");
    EachEntry(native, [&](const std::string& name) {
        if (!IsPartFileName(name))
            return;
        const std::string path = native + name;
        const int fd = LockedIfFree(path, O_RDONLY);
        if (fd < 0)
            return;
        struct stat info {};
        if (OlderThanStale(fd) && ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode))
            (void)::unlink(path.c_str());
        ::close(fd);
    });
}

TDirLock::TDirLock(const std::string& nativePath) {
    fd_ = ::open(nativePath.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ >= 0)
        (void)::flock(fd_, LOCK_EX | LOCK_NB);
}

TDirLock::~TDirLock() {
    if (fd_ >= 0)
        ::close(fd_);
}

void SweepStaleDirs(const std::string& parent, const std::string& prefix) {
    const std::string native = NativePath(parent + "/");
    EachEntry(native, [&](const std::string& name) {
        if (!name.starts_with(prefix))
            return;
        const std::string path = native + name;
        const int fd = LockedIfFree(path, O_RDONLY | O_DIRECTORY);
        if (fd < 0)
            return;
        if (OlderThanStale(fd))
            QDir(QString::fromStdString(path)).removeRecursively();
        ::close(fd);
    });
}

} // namespace platform
