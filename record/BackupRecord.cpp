#include "record/BackupRecord.h"

#include "platform/FileSystem.h"
#include "platform/PartFile.h"
#include "record/Sha256.h"

#include <sqlite3.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr auto BatchAge = std::chrono::seconds(1);
constexpr int BusyMilliseconds = 10000;

const char* const Schema = R"(
CREATE TABLE IF NOT EXISTS files (
    path          TEXT PRIMARY KEY,   -- relative to the destination, '/' separators
    url           TEXT NOT NULL,      -- where it came from
    size          INTEGER NOT NULL,   -- bytes
    sha256        TEXT NOT NULL,      -- 64 lowercase hex digits
    last_modified TEXT NOT NULL,      -- the server's Last-Modified, as sent; '' when none
    etag          TEXT NOT NULL,      -- the server's ETag, as sent; '' when none
    first_stored  INTEGER NOT NULL,   -- Unix time a job first stored it
    last_listed   INTEGER NOT NULL,   -- Unix time a job last met it
    state         TEXT NOT NULL,      -- whole, missing, damaged, replacing or gone
    gone_since    INTEGER NOT NULL DEFAULT 0 -- Unix time a job first missed it on the site
);
)";

// A record made before files could be gone gets the column.
const char* const Migration = R"(
ALTER TABLE files ADD COLUMN gone_since INTEGER NOT NULL DEFAULT 0;
)";
constexpr int SchemaVersion = 2;

const char* StateName(TRecordState state) {
    switch (state) {
    case TRecordState::Whole:
        return "whole";
    case TRecordState::Missing:
        return "missing";
    case TRecordState::Damaged:
        return "damaged";
    case TRecordState::Replacing:
        return "replacing";
    case TRecordState::Gone:
        return "gone";
    }
    return "whole";
}

TRecordState StateOf(const std::string& name) {
    if (name == "missing")
        return TRecordState::Missing;
    if (name == "damaged")
        return TRecordState::Damaged;
    if (name == "replacing")
        return TRecordState::Replacing;
    if (name == "gone")
        return TRecordState::Gone;
    return TRecordState::Whole;
}

// A prepared statement, finalized on every way out.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) : db_(db) {
        if (sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr) != SQLITE_OK)
            throw ERecordError(sqlite3_errmsg(db));
    }
    ~Statement() { sqlite3_finalize(statement_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // Ready for another run with new values.
    Statement& Reset() {
        sqlite3_reset(statement_);
        sqlite3_clear_bindings(statement_);
        return *this;
    }

    Statement& Bind(int index, const std::string& text) {
        sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()),
                          SQLITE_TRANSIENT);
        return *this;
    }
    Statement& Bind(int index, int64_t number) {
        sqlite3_bind_int64(statement_, index, number);
        return *this;
    }
    // True while a row is there to read.
    bool Step() {
        const int result = sqlite3_step(statement_);
        if (result == SQLITE_ROW)
            return true;
        if (result != SQLITE_DONE)
            throw ERecordError(sqlite3_errmsg(db_));
        return false;
    }
    std::string Text(int column) const {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
        return text == nullptr
                   ? std::string()
                   : std::string(text,
                                 static_cast<size_t>(sqlite3_column_bytes(statement_, column)));
    }
    int64_t Number(int column) const { return sqlite3_column_int64(statement_, column); }

private:
    sqlite3* db_;
    sqlite3_stmt* statement_ = nullptr;
};

TRecordRow RowOf(const Statement& select) {
    TRecordRow row;
    row.path = select.Text(0);
    row.url = select.Text(1);
    row.size = static_cast<uint64_t>(select.Number(2));
    row.sha256 = select.Text(3);
    row.lastModified = select.Text(4);
    row.etag = select.Text(5);
    row.firstStored = select.Number(6);
    row.lastListed = select.Number(7);
    row.state = StateOf(select.Text(8));
    return row;
}

// Opens the database with the given VFS (null: the default) and, for a job, checks that it can
// be locked and written.
sqlite3* OpenWith(const std::string& file, int flags, const char* vfs, bool probe,
                  std::string& error) {
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(file.c_str(), &db, flags, vfs) != SQLITE_OK) {
        error = db != nullptr ? sqlite3_errmsg(db) : "out of memory";
        sqlite3_close(db);
        return nullptr;
    }
    sqlite3_busy_timeout(db, BusyMilliseconds);
    sqlite3_extended_result_codes(db, 1);
    char* message = nullptr;
    // A rollback journal works on every file system, a network one too; the write-ahead log
    // needs shared memory that NFS and SMB do not give.
    const char* check = probe ? "PRAGMA journal_mode=DELETE; BEGIN IMMEDIATE; COMMIT;"
                              : "SELECT count(*) FROM sqlite_master;";
    if (sqlite3_exec(db, check, nullptr, nullptr, &message) != SQLITE_OK) {
        error = message != nullptr ? message : sqlite3_errmsg(db);
        sqlite3_free(message);
        sqlite3_close(db);
        return nullptr;
    }
    return db;
}

} // namespace

struct TBackupRecord::Statements {
    explicit Statements(sqlite3* db)
        : insert(db, "INSERT INTO files (path, url, size, sha256, last_modified, etag, "
                     "first_stored, last_listed, state) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, "
                     "?9) ON CONFLICT(path) DO UPDATE SET url = ?2, size = ?3, sha256 = ?4, "
                     "last_modified = ?5, etag = ?6, last_listed = ?8, state = ?9"),
          // A file the site lists again is no longer gone.
          listed(db, "UPDATE files SET last_listed = ?2, state = CASE state WHEN 'gone' THEN "
                     "'whole' ELSE state END WHERE path = ?1"),
          state(db, "UPDATE files SET state = ?2 WHERE path = ?1"),
          find(db, "SELECT path, url, size, sha256, last_modified, etag, first_stored, "
                   "last_listed, state FROM files WHERE path = ?1") {}
    Statement insert, listed, state, find;
};

namespace {

// The destination as a native directory with its trailing "/".
std::string RootOf(const std::string& destination) {
    std::string root = platform::NativePath(destination);
    if (root.empty() || root.back() != '/')
        root += '/';
    return root;
}

} // namespace

bool TBackupRecord::Exists(const std::string& destination) {
    struct stat info {};
    return ::stat((RootOf(destination) + kRecordFolder + "/record.sqlite").c_str(), &info) == 0;
}

std::unique_ptr<TBackupRecord> TBackupRecord::Open(const std::string& destination, bool create) {
    const std::string root = RootOf(destination);
    const std::string folder = root + kRecordFolder;
    const std::string file = folder + "/record.sqlite";
    if (create && ::mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST)
        throw ERecordError("Cannot make " + folder + ": " + std::strerror(errno));
    if (!create && !Exists(destination))
        throw ERecordError("No backup record in " + destination);
    const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
    std::string error;
    sqlite3* db = OpenWith(file, flags, nullptr, create, error);
    // A file system without locks (ENOLCK): lock files beside the database instead.
    if (db == nullptr)
        db = OpenWith(file, flags, "unix-dotfile", create, error);
    if (db == nullptr)
        throw ERecordError(file + ": " + error);
    std::unique_ptr<TBackupRecord> record(new TBackupRecord(root, db));
    if (create)
        record->Migrate();
    record->statements_ = std::make_unique<Statements>(db);
    return record;
}

TBackupRecord::TBackupRecord(std::string destination, sqlite3* db)
    : destination_(std::move(destination)), db_(db) {}

TBackupRecord::~TBackupRecord() {
    try {
        Commit();
    } catch (...) {
        // What is not committed is lost; the tree is the truth and the next job takes it in.
    }
    statements_.reset();
    sqlite3_close(db_);
}

void TBackupRecord::Migrate() {
    // Under the write lock, so that two jobs starting together change it once.
    Execute("BEGIN IMMEDIATE");
    try {
        Statement version(db_, "PRAGMA user_version");
        const int64_t found = version.Step() ? version.Number(0) : 0;
        version.Reset();
        if (found >= SchemaVersion) {
            Execute("COMMIT");
            return;
        }
        Statement table(db_, "SELECT 1 FROM sqlite_master WHERE name = 'files'");
        const bool old = table.Step();
        table.Reset();
        Execute(old ? Migration : Schema);
        Execute(("PRAGMA user_version = " + std::to_string(SchemaVersion)).c_str());
        Execute("COMMIT");
    } catch (...) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

void TBackupRecord::MarkGone(const std::string& path, std::time_t since) {
    Begin();
    Statement gone(db_, "UPDATE files SET state = 'gone', gone_since = ?2 WHERE path = ?1");
    gone.Bind(1, path).Bind(2, static_cast<int64_t>(since)).Step();
    CommitIfDue();
}

void TBackupRecord::Execute(const char* sql) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        const std::string error = message != nullptr ? message : sqlite3_errmsg(db_);
        sqlite3_free(message);
        throw ERecordError(error);
    }
}

void TBackupRecord::Begin() {
    if (inBatch_)
        return;
    Execute("BEGIN IMMEDIATE");
    inBatch_ = true;
    batchStarted_ = std::chrono::steady_clock::now();
}

void TBackupRecord::Commit() {
    if (!inBatch_)
        return;
    inBatch_ = false;
    Execute("COMMIT");
}

void TBackupRecord::CommitIfDue() {
    if (inBatch_ && std::chrono::steady_clock::now() - batchStarted_ >= BatchAge)
        Commit();
}

void TBackupRecord::Stored(const TRecordRow& row) {
    Begin();
    statements_->insert.Reset()
        .Bind(1, row.path)
        .Bind(2, row.url)
        .Bind(3, static_cast<int64_t>(row.size))
        .Bind(4, row.sha256)
        .Bind(5, row.lastModified)
        .Bind(6, row.etag)
        .Bind(7, static_cast<int64_t>(row.firstStored))
        .Bind(8, static_cast<int64_t>(row.lastListed))
        .Bind(9, std::string(StateName(row.state)))
        .Step();
    CommitIfDue();
}

void TBackupRecord::Listed(const std::string& path, std::time_t when) {
    Begin();
    statements_->listed.Reset().Bind(1, path).Bind(2, static_cast<int64_t>(when)).Step();
    CommitIfDue();
}

void TBackupRecord::SetState(const std::string& path, TRecordState state) {
    Begin();
    statements_->state.Reset().Bind(1, path).Bind(2, std::string(StateName(state))).Step();
    CommitIfDue();
}

std::optional<TRecordRow> TBackupRecord::Find(const std::string& path) {
    Statement& select = statements_->find.Reset().Bind(1, path);
    if (!select.Step())
        return std::nullopt;
    TRecordRow row = RowOf(select);
    select.Reset(); // a statement left open would hold its read on the database
    return row;
}

std::vector<TRecordRow> TBackupRecord::All() {
    std::vector<TRecordRow> rows;
    Statement select(db_, "SELECT path, url, size, sha256, last_modified, etag, first_stored, "
                          "last_listed, state FROM files");
    while (select.Step())
        rows.push_back(RowOf(select));
    std::sort(rows.begin(), rows.end(),
              [](const TRecordRow& a, const TRecordRow& b) { return a.path < b.path; });
    return rows;
}

std::string ChecksumLine(const std::string& sha256, const std::string& path) {
    std::string escaped;
    bool special = false;
    for (const char c : path) {
        if (c == '\\' || c == '\n' || c == '\r') {
            special = true;
            escaped += c == '\\' ? "\\\\" : c == '\n' ? "\\n" : "\\r";
        } else {
            escaped += c;
        }
    }
    return (special ? "\\" : "") + sha256 + "  " + escaped + "\n";
}

void TBackupRecord::WriteChecksumList(const std::function<bool(const std::string&)>& onDisk) {
    Commit();
    std::string list;
    for (const TRecordRow& row : All()) {
        struct stat info {};
        if ((onDisk && onDisk(row.path)) ||
            (::lstat((destination_ + row.path).c_str(), &info) == 0 && S_ISREG(info.st_mode)))
            list += ChecksumLine(row.sha256, row.path);
    }
    const std::string target = destination_ + kRecordFolder + "/SHA256SUMS";
    const std::string temporary = target + ".new";
    {
        TFileStream out(temporary, TFileStream::Mode::Create);
        out.Write(list.data(), list.size());
        if (::fsync(out.Descriptor()) != 0)
            throw ERecordError("Cannot write " + temporary + ": " + std::strerror(errno));
    }
    if (::rename(temporary.c_str(), target.c_str()) != 0)
        throw ERecordError("Cannot write " + target + ": " + std::strerror(errno));
}

namespace {

// The regular files below root (native, with "/"), relative to it, without following links,
// leaving out the record's folder at the root and partial files.
void RegularFiles(const std::string& root, const std::string& relative,
                  std::vector<std::string>& files) {
    DIR* dir = ::opendir((root + relative).c_str());
    if (dir == nullptr)
        return;
    std::vector<std::pair<std::string, unsigned char>> entries;
    while (const dirent* entry = ::readdir(dir))
        entries.emplace_back(entry->d_name, entry->d_type);
    ::closedir(dir);
    for (const auto& [name, type] : entries) {
        if (name == "." || name == ".." || (relative.empty() && name == kRecordFolder))
            continue;
        const std::string path = relative + name;
        // Most file systems say an entry's type in the listing; the others are asked.
        bool directory = type == DT_DIR, regular = type == DT_REG;
        if (type == DT_UNKNOWN) {
            struct stat info {};
            if (::lstat((root + path).c_str(), &info) != 0)
                continue;
            directory = S_ISDIR(info.st_mode);
            regular = S_ISREG(info.st_mode);
        }
        if (directory)
            RegularFiles(root, path + "/", files);
        else if (regular && !platform::IsPartFileName(name))
            files.push_back(path);
    }
}

} // namespace

TVerifyResult Verify(TBackupRecord& record,
                     const std::function<void(const std::string&)>& progress) {
    TVerifyResult result;
    const std::string& root = record.Destination();
    const std::vector<TRecordRow> rows = record.All();
    std::vector<TRecordState> states(rows.size(), TRecordState::Whole);
    // The files are hashed on every core: reading and hashing dominate, and each file is its
    // own. The calling thread takes its share too, telling progress (and so taking a cancel)
    // as it goes; the helpers stop when it stops.
    std::atomic<size_t> next{0};
    std::atomic<bool> stop{false};
    const auto check = [&](size_t i) {
        // A link is not followed: a file replaced by a link is not the file recorded.
        const int fd =
            ::open((root + rows[i].path).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        struct stat info {};
        if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
            states[i] = TRecordState::Missing;
        else if (static_cast<uint64_t>(info.st_size) != rows[i].size ||
                 TSha256::OfDescriptor(fd, info.st_size) != rows[i].sha256)
            states[i] = TRecordState::Damaged;
        if (fd >= 0)
            ::close(fd);
    };
    std::vector<std::thread> helpers;
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    for (unsigned n = 1; n < cores && n < rows.size(); ++n)
        helpers.emplace_back([&] {
            for (size_t i; !stop && (i = next++) < rows.size();)
                check(i);
        });
    try {
        for (size_t i; (i = next++) < rows.size();) {
            if (progress)
                progress(rows[i].path);
            check(i);
        }
    } catch (...) {
        stop = true;
        for (std::thread& helper : helpers)
            helper.join();
        throw;
    }
    for (std::thread& helper : helpers)
        helper.join();

    std::set<std::string> known;
    for (size_t i = 0; i < rows.size(); ++i) {
        const TRecordRow& row = rows[i];
        const TRecordState state = states[i];
        known.insert(row.path);
        ++result.recorded;
        if (state == TRecordState::Missing) {
            ++result.missing;
            result.findings.push_back({TVerifyFinding::Kind::Missing, row.path});
        } else if (state == TRecordState::Damaged) {
            ++result.damaged;
            result.findings.push_back({TVerifyFinding::Kind::Damaged, row.path});
        } else {
            ++result.whole;
        }
        // A whole file keeps the marks of an update under way and of a file the site dropped.
        if (state != row.state &&
            (state != TRecordState::Whole ||
             (row.state != TRecordState::Replacing && row.state != TRecordState::Gone))) {
            try {
                record.SetState(row.path, state);
            } catch (const ERecordError& error) {
                if (result.updateError.empty())
                    result.updateError = error.Message();
            }
        }
    }
    std::vector<std::string> files;
    RegularFiles(root, "", files);
    for (const std::string& path : files) {
        if (known.count(path))
            continue;
        ++result.unrecorded;
        result.findings.push_back({TVerifyFinding::Kind::Unrecorded, path});
    }
    std::sort(result.findings.begin(), result.findings.end(),
              [](const TVerifyFinding& a, const TVerifyFinding& b) { return a.path < b.path; });
    try {
        record.Commit();
    } catch (const ERecordError& error) {
        if (result.updateError.empty())
            result.updateError = error.Message();
    }
    return result;
}

std::vector<std::string> VerifyLines(const TVerifyResult& result) {
    std::vector<std::string> lines;
    for (const TVerifyFinding& finding : result.findings) {
        const char* word = finding.kind == TVerifyFinding::Kind::Missing   ? "missing "
                           : finding.kind == TVerifyFinding::Kind::Damaged ? "damaged "
                                                                           : "unrecorded ";
        lines.push_back(word + finding.path);
    }
    lines.push_back("Verify: " + std::to_string(result.recorded) + " recorded, " +
                    std::to_string(result.whole) + " whole, " + std::to_string(result.missing) +
                    " missing, " + std::to_string(result.damaged) + " damaged, " +
                    std::to_string(result.unrecorded) + " unrecorded");
    return lines;
}
