#pragma once

#include "platform/FileSystem.h"

#include <ctime>
#include <memory>
#include <string>
#include <string_view>

// A download while it arrives, and what a killed run leaves behind. A file is written under a
// hidden name of its own and takes its real name only once it is whole, and never in place of
// a file already there. Its descriptor holds an advisory lock from the moment it exists, so
// that another run sweeping the folder can tell a live download from a dead run's leftover.
namespace platform {

// Names of the shape a partial file is given: ".vantrel-" + 8 letters or digits + ".part". A
// server's name of that shape is refused, so that a sweep can never delete a picture.
bool IsPartFileName(std::string_view name);
// True when the first component of a path below the destination is the program's own folder
// ".vantrel" in any letter case (a case-insensitive file system would write into it).
bool IsOwnFolderPath(std::string_view relativeDir);

enum class TCommit {
    Committed,    // the file has its name
    TargetExists, // a file of that name was there: nothing was replaced
    Failed,       // the file system refused
};

// Gives a finished file its name, never replacing one already there: an atomic no-replace
// rename where the file system has one, else a hard link and an unlink, else (a file system
// without hard links) an existence test and a rename. A destination that ignores letter case
// answers "there" for a name that differs only in case, which keeps both files.
TCommit CommitFile(const std::string& from, const std::string& to);
// Moves a file into folder (made as needed) under relative, never over a file already there:
// a name taken gets ".2", ".3" ... appended. The place it took, or empty when it could not move.
std::string SetAside(const std::string& file, const std::string& folder,
                     const std::string& relative);

class TPartFile {
public:
    // Creates a new partial file in directory (an engine path ending in a separator), locked;
    // raises EFCreateError when none can be made.
    explicit TPartFile(const std::string& directory);
    // A partial file that was never committed is deleted, then its lock released.
    ~TPartFile();
    TPartFile(const TPartFile&) = delete;
    TPartFile& operator=(const TPartFile&) = delete;

    // The file, opened for writing through the locked descriptor.
    TFileStream& Stream() { return *stream_; }
    const std::string& Path() const { return path_; }
    // Commits the file under target (see CommitFile). Whatever the result, the partial file is
    // gone afterwards and its lock released.
    TCommit Commit(const std::string& target);
    // Deletes the partial file now (a failed download), then releases its lock.
    void Discard();
    // Gives the file a modification time (the server's date for it); false when refused.
    bool SetModified(std::time_t time);

private:
    std::string path_;
    std::unique_ptr<TFileStream> stream_;
    bool done_ = false;
};

// A partial file or a job's page folder older than this and locked by nobody belongs to a run
// that was killed. The age keeps a file just created, not yet locked, safe from a sweep.
inline constexpr int StaleSeconds = 60;

// Deletes the partial files in directory that no process holds a lock on and that are older
// than StaleSeconds.
void SweepPartFiles(const std::string& directory);

// An advisory lock on a directory, held for as long as the object lives: a job's page folder,
// so that another job's sweep leaves it alone.
class TDirLock {
public:
    explicit TDirLock(const std::string& nativePath);
    ~TDirLock();
    TDirLock(const TDirLock&) = delete;
    TDirLock& operator=(const TDirLock&) = delete;

private:
    int fd_ = -1;
};

// Removes, with everything in them, the directories in parent (native) whose names start with
// prefix, that nobody holds a lock on and that are older than StaleSeconds.
void SweepStaleDirs(const std::string& parent, const std::string& prefix);

} // namespace platform
