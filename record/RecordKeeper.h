#pragma once

#include "record/BackupRecord.h"
#include "record/Sha256.h"

#include <condition_variable>
#include <ctime>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

// The backup record while a job runs. The job's thread asks and tells without waiting: what
// the record says is read once at the start and kept in memory beside the job's own changes,
// and the database is written on a thread of the keeper's own, in the record's batches. So a
// job between two files never waits for SQLite, and the record still lags the tree: a row is
// told only after its file is whole under its name.
class TRecordKeeper {
public:
    // Opens (making it when needed) the record of destination and reads it. Raises
    // ERecordError with the reason.
    static std::unique_ptr<TRecordKeeper> Open(const std::string& destination);
    // Writes what was told and commits it; errors are dropped (use Finish to hear them).
    ~TRecordKeeper();
    TRecordKeeper(const TRecordKeeper&) = delete;
    TRecordKeeper& operator=(const TRecordKeeper&) = delete;

    // The row of path as the record will say once all that was told is written; nullptr when
    // it has none. The hash of a file stored in this job may still be empty.
    const TRecordRow* Find(const std::string& path) const;
    // The file at row.path is whole: a new row, or the row taken over (its first storing kept).
    // With hash, row.sha256 is made from it on the writing thread.
    void Stored(TRecordRow row, std::unique_ptr<TDeferredSha256> hash = nullptr);
    // A job met the file again.
    void Listed(const std::string& path, std::time_t when);
    void SetState(const std::string& path, TRecordState state);
    // The site no longer lists the file (it stays on disk), first missed at since.
    void MarkGone(const std::string& path, std::time_t since);
    // The recorded paths directly in directory dir ("a/b/", relative, with its "/").
    std::vector<std::string> PathsIn(const std::string& dir);
    // The same, committed before it returns: the record says so before the tree changes.
    // Raises ERecordError when it cannot.
    void SetStateCommitted(const std::string& path, TRecordState state);

    // The first error the writing thread met, once; empty when none. After an error the
    // keeper writes nothing more.
    std::string TakeError();
    // Writes and commits all that was told and rewrites the checksum list. Raises ERecordError.
    void Finish();

private:
    explicit TRecordKeeper(std::unique_ptr<TBackupRecord> record);
    // False when the writer failed and takes nothing more.
    bool Post(std::function<void(TBackupRecord&)> change, size_t bytes = 0);
    void Write();
    void Stop();

    std::unique_ptr<TBackupRecord> record_;
    struct Known {
        TRecordRow row;
        bool met = false; // stored or met by this job, so on disk
    };
    std::unordered_map<std::string, Known> rows_;
    // The paths by directory, made when first asked for, then kept up to date.
    std::unordered_map<std::string, std::vector<std::string>> byDir_;
    bool byDirMade_ = false;
    void AddToDirs(const std::string& path);

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable written_; // the writer finished a batch
    uint64_t posted_ = 0, done_ = 0;  // changes told, and written (or dropped on an error)
    bool urgent_ = false;             // someone waits for what was told
    std::deque<std::function<void(TBackupRecord&)>> pending_;
    size_t pendingBytes_ = 0; // of files kept for hashing: the writer is woken past a bound
    bool stopping_ = false;
    bool failed_ = false;
    std::string error_;
    std::thread writer_;
};
