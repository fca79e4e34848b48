#pragma once

#include "platform/Exceptions.h"

#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

// A record that cannot be made, opened, read or written; the message says why.
class ERecordError : public Exception {
public:
    using Exception::Exception;
};

enum class TRecordState {
    Whole,     // the file was whole under its name when it was recorded
    Missing,   // verify found no file
    Damaged,   // verify found another size or another hash
    Replacing, // a newer copy is being put in its place
    Gone,      // the site no longer lists it; the copy stays
};

// One stored file, as the record keeps it.
struct TRecordRow {
    std::string path; // relative to the destination, "/" separators, no leading "/"
    std::string url;
    uint64_t size = 0;
    std::string sha256; // 64 lowercase hex digits
    std::string lastModified, etag;
    std::time_t firstStored = 0; // when a job first stored it
    std::time_t lastListed = 0;  // when a job last met it
    TRecordState state = TRecordState::Whole;
};

// The backup record of one destination: ".vantrel/record.sqlite" at its root, an SQLite 3
// database with one row per file a job stored there (see the README for the schema).
//
// The record may lag the tree, never lead it: a file is recorded only once it is whole under
// its name, and rows are committed in batches (about once a second, and when the record is
// closed), so a kill loses at most the last second's rows, never the tree's truth. The journal
// is a rollback journal on every file system, so that a destination on NFS or SMB works; a
// second job on the same destination waits up to 10 s for the lock, and a file system without
// locks gets SQLite's dot-file locking.
class TBackupRecord {
public:
    // Opens the record of destination (a native directory), making ".vantrel/" and the
    // database when create is set. Raises ERecordError with the reason.
    static std::unique_ptr<TBackupRecord> Open(const std::string& destination, bool create);
    // Whether destination has a record file (which may still be unreadable).
    static bool Exists(const std::string& destination);
    // Commits what is pending.
    ~TBackupRecord();
    TBackupRecord(const TBackupRecord&) = delete;
    TBackupRecord& operator=(const TBackupRecord&) = delete;

    // The file at row.path is whole: a new row, or the row taken over (its first storing kept).
    void Stored(const TRecordRow& row);
    // A job met the file again.
    void Listed(const std::string& path, std::time_t when);
    void SetState(const std::string& path, TRecordState state);
    // The site no longer lists the file, first missed at since.
    void MarkGone(const std::string& path, std::time_t since);
    std::optional<TRecordRow> Find(const std::string& path);
    // Every row, sorted by the bytes of their paths.
    std::vector<TRecordRow> All();

    // Commits the batch when it is about a second old.
    void CommitIfDue();
    void Commit();

    // Rewrites ".vantrel/SHA256SUMS" atomically in sha256sum's format: a line per recorded file
    // that is on disk, sorted by path bytes, so that "sha256sum -c .vantrel/SHA256SUMS" run in
    // the destination checks the copy without this program. A file onDisk says is there (one
    // the job has just stored or met) is not looked for again.
    void WriteChecksumList(const std::function<bool(const std::string& path)>& onDisk = {});

    const std::string& Destination() const { return destination_; }

private:
    TBackupRecord(std::string destination, sqlite3* db);
    void Execute(const char* sql);
    // Makes the table, or brings an older one up to date.
    void Migrate();
    void Begin();

    std::string destination_; // native, with a trailing "/"
    sqlite3* db_;
    // The statements a job runs once per file, prepared once.
    struct Statements;
    std::unique_ptr<Statements> statements_;
    bool inBatch_ = false;
    std::chrono::steady_clock::time_point batchStarted_;
};

// The folder at the destination's root that holds the record.
inline constexpr const char* kRecordFolder = ".vantrel";

// One line of sha256sum's output for a file: a name holding a backslash, a newline or a
// carriage return has them escaped and the line starts with a backslash.
std::string ChecksumLine(const std::string& sha256, const std::string& path);

// What verify found, sorted by path bytes.
struct TVerifyFinding {
    enum class Kind { Missing, Damaged, Unrecorded } kind;
    std::string path;
};
struct TVerifyResult {
    std::vector<TVerifyFinding> findings;
    size_t recorded = 0, whole = 0, missing = 0, damaged = 0, unrecorded = 0;
    // Why the findings could not be marked in the record (a destination that cannot be
    // written); empty when they were.
    std::string updateError;
};

// Checks a destination against its record, offline: every recorded file is hashed (a missing
// one and one of another size or hash are marked so in the record, as far as it can be
// written), and every regular file
// below the destination outside ".vantrel/" that the record does not know is listed (links are
// not followed, partial files are not listed). progress, when given, is told each file's path.
TVerifyResult Verify(TBackupRecord& record,
                     const std::function<void(const std::string&)>& progress = {});

// What verify says, line by line: one per finding ("missing ", "damaged " or "unrecorded " and
// the path), then "Verify: N recorded, N whole, N missing, N damaged, N unrecorded".
std::vector<std::string> VerifyLines(const TVerifyResult& result);
