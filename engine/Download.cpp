#include "engine/BackupEngine.h"
#include "engine/DownloadScheduler.h"
#include "engine/PageScopes.h"
#include "engine/StrUtils.h"
#include "net/ServerDates.h"
#include "platform/FileSystem.h"
#include "platform/PartFile.h"
#include "record/BackupRecord.h"
#include "record/RecordKeeper.h"
#include "record/Sha256.h"

#include <ctime>
#include <exception>
#include <optional>

namespace {

// The watchdog watches a download from its existence test to the end of its pause, and the
// client drops back to reporting little afterwards, on every path out.
class DownloadScope {
public:
    DownloadScope(bool& active, TNMHTTP& http) : active_(active), http_(http) { active_ = true; }
    ~DownloadScope() {
        http_.ReportLevel = 1;
        active_ = false;
    }
    DownloadScope(const DownloadScope&) = delete;
    DownloadScope& operator=(const DownloadScope&) = delete;

private:
    bool& active_;
    TNMHTTP& http_;
};

} // namespace

bool TBackupEngine::FetchOverHttp(const std::string& URL, TFileStream& part) {
    NMHTTP1.BodyStream = &part;
    NMHTTP1.ReportLevel = 8;
    struct Detach {
        TNMHTTP& http;
        ~Detach() { http.BodyStream = nullptr; }
    } detach{NMHTTP1};
    TTransferProgress::Scope shown(Transfers, [this] { return HttpBytes(NMHTTP1); });
    NMHTTP1.Get(URL);
    // An error page or a body cut short is a failed download, not a picture.
    return HttpReplyComplete(part.Size());
}

bool TBackupEngine::FetchOverFtp(const std::string& Name, TFileStream& part) {
    struct Watch {
        bool& active;
        explicit Watch(bool& flag) : active(flag) { active = true; }
        ~Watch() { active = false; }
    } watch(ftpTransferActive_);
    TTransferProgress::Scope shown(Transfers, [this] { return FtpBytes(); });
    // Download raises when the server reports an error or sends less than it announced.
    NMFTP1.Download(Name, part.FileName(), &part);
    return true;
}

std::string TBackupEngine::RelativePath(const std::string& LocalDir,
                                        const std::string& Name) const {
    const std::string root = platform::ComparablePath(Host.Destination() + "/");
    std::string path = platform::ComparablePath(LocalDir + Name);
    if (path.starts_with(root))
        path.erase(0, root.size());
    // One "/" between components, none in front: a doubled separator of a page's path names
    // the same folder.
    std::string single;
    single.reserve(path.size());
    for (const char c : path)
        if (c != '/' || (!single.empty() && single.back() != '/'))
            single.push_back(c);
    return single;
}

bool TBackupEngine::NeedsRepair(const std::string& path, int64_t size) const {
    if (!record_)
        return false;
    const TRecordRow* row = record_->Find(path);
    return row != nullptr &&
           (row->state == TRecordState::Damaged || row->state == TRecordState::Missing ||
            size < 0 || static_cast<uint64_t>(size) != row->size);
}

std::string TBackupEngine::AsideFolder(const char* kind) const {
    std::string root = platform::NativePath(Host.Destination());
    if (root.empty() || root.back() != '/')
        root += '/';
    return root + kRecordFolder + "/" + kind + "/" + runDate_;
}

void TBackupEngine::TellFileDone(const std::string& LocalDir, const std::string& Name,
                                 TFileEvent event, std::unique_ptr<TDeferredSha256> hash) {
    event.path = event.outcome == TDownloadOutcome::Skipped ? Name : RelativePath(LocalDir, Name);
    if (report_)
        Report(event);
    RecordFile(LocalDir, Name, event, std::move(hash));
    if (Events.FileDone)
        Events.FileDone(event);
}

void TBackupEngine::Report(const TFileEvent& event) {
    report_->Tally.Count(event);
    switch (event.outcome) {
    case TDownloadOutcome::Fetched:
        // Stored where the record had a row: a copy that was damaged, missing or cut.
        report_->File(record_ && record_->Find(event.path) != nullptr ? "repaired" : "new",
                      event.path);
        break;
    case TDownloadOutcome::Changed:
        report_->File("changed", event.path);
        break;
    case TDownloadOutcome::Failed:
        report_->File("failed", event.path);
        break;
    case TDownloadOutcome::Gone:
        report_->File("gone", event.path);
        break;
    case TDownloadOutcome::Present:
    case TDownloadOutcome::Skipped:
        break;
    }
}

void TBackupEngine::MarkGone(const std::string& LocalDir, const std::set<std::string>& listed) {
    // A record not opened yet has no rows: the destination was not there when the job began.
    if (!record_)
        return;
    const std::string dir = RelativePath(LocalDir, "");
    const std::time_t now = std::time(nullptr);
    for (const std::string& path : record_->PathsIn(dir)) {
        const std::string name = path.substr(dir.size());
        const TRecordRow* row = record_->Find(path);
        // Only the run that first misses a file says so.
        if (row == nullptr || row->state == TRecordState::Gone ||
            listed.count(RelativePath(LocalDir, name)) > 0)
            continue;
        TFileEvent event;
        event.url = row->url;
        event.outcome = TDownloadOutcome::Gone;
        event.bytes = row->size;
        record_->MarkGone(path, now);
        TellFileDone(LocalDir, name, std::move(event));
    }
}

void TBackupEngine::OpenRecord() {
    recordPending_ = false;
    try {
        record_ = TRecordKeeper::Open(Host.Destination());
    } catch (const ERecordError& error) {
        Host.Log("**No backup record: " + error.Message());
    }
}

void TBackupEngine::RecordFile(const std::string& LocalDir, const std::string& Name,
                               const TFileEvent& file, std::unique_ptr<TDeferredSha256> hash) {
    if (file.outcome != TDownloadOutcome::Fetched && file.outcome != TDownloadOutcome::Present &&
        file.outcome != TDownloadOutcome::Changed)
        return;
    if (!record_ && recordPending_)
        OpenRecord();
    if (!record_)
        return;
    // The record's own thread writes it; an error it met is said once and the copy goes on
    // without its record.
    if (const std::string error = record_->TakeError(); !error.empty()) {
        Host.Log("**No backup record: " + error);
        record_.reset();
        return;
    }
    const std::time_t now = std::time(nullptr);
    if (file.outcome == TDownloadOutcome::Present && record_->Find(file.path) != nullptr) {
        record_->Listed(file.path, now);
        return;
    }
    // A file stored now, or one the record has not met (from before the record, or copied in):
    // the record takes it with its hash.
    TRecordRow row;
    row.path = file.path;
    row.url = file.url;
    row.size = file.bytes;
    row.lastModified = file.lastModified;
    row.etag = file.etag;
    row.firstStored = row.lastListed = now;
    // A stored file's hash is made from its writes on the record's thread.
    if (file.outcome != TDownloadOutcome::Present && hash) {
        record_->Stored(std::move(row), std::move(hash));
        return;
    }
    row.sha256 = TSha256::OfFile(platform::NativePath(LocalDir + Name));
    if (!row.sha256.empty())
        record_->Stored(std::move(row));
}

void TBackupEngine::TellStoppedEarly(TStopReason reason) {
    if (Events.StoppedEarly)
        Events.StoppedEarly(reason);
}

namespace {

TFileEvent Outcome(TDownloadOutcome outcome, const std::string& url, int64_t bytes = 0) {
    TFileEvent event;
    event.url = url;
    event.outcome = outcome;
    event.bytes = bytes > 0 ? static_cast<uint64_t>(bytes) : 0;
    return event;
}

} // namespace

bool TBackupEngine::PictureWanted(const std::string& LocalDir, const std::string& URL,
                                  const std::string& Name) {
    if (MultimediaName(Name) && MultimediaDisabled) {
        Host.Log("** Multimedia files have been temporarily disabled.");
        Host.Log("** Skipping file " + Name);
        TellFileDone(LocalDir, Name, Outcome(TDownloadOutcome::Skipped, URL));
        return false;
    }
    if (!SafeName(Name)) {
        TellFileDone(LocalDir, Name, Outcome(TDownloadOutcome::Skipped, URL));
        return false;
    }
    // A file already there is never fetched again: a second run over a gallery costs nothing.
    // Unless the record knows it is not the file it stored (verify found it damaged or missing,
    // or its size changed): then it is fetched again, and set aside once the new copy is whole.
    const std::string target = LocalDir + Name;
    if (platform::FileExists(target)) {
        const int64_t size = platform::FileSize(target);
        const std::string path = RelativePath(LocalDir, Name);
        if (NeedsRepair(path, size)) {
            repairs_.insert(platform::ComparablePath(target));
        } else if (updating_) {
            // An update asks for it again, only if changed when the record has its date.
            const TRecordRow* row = record_ ? record_->Find(path) : nullptr;
            updates_[platform::ComparablePath(target)] = {row ? row->lastModified : "", false};
        } else {
            TellFileDone(LocalDir, Name, Outcome(TDownloadOutcome::Present, URL, size));
            return false;
        }
    }
    // What a killed run left in this folder goes before the job stores its first file there.
    if (sweptDirs_.insert(platform::ComparablePath(LocalDir)).second)
        platform::SweepPartFiles(LocalDir);
    return true;
}

void TBackupEngine::KeepServerDate(platform::TPartFile& part, bool overFtp,
                                   const TFileEvent& facts) {
    const std::time_t now = std::time(nullptr);
    const std::optional<std::time_t> date = overFtp
                                                ? serverdates::ListingDate(facts.listingDate, now)
                                                : serverdates::HttpDate(facts.lastModified, now);
    if (date)
        (void)part.SetModified(*date);
}

std::string TBackupEngine::UpdateCondition(const std::string& LocalDir,
                                           const std::string& Name) const {
    const auto found = updates_.find(platform::ComparablePath(LocalDir + Name));
    return found != updates_.end() ? found->second.lastModified : std::string();
}

void TBackupEngine::TellNotModified(const std::string& LocalDir, const std::string& Name) {
    const auto found = updates_.find(platform::ComparablePath(LocalDir + Name));
    if (found != updates_.end())
        found->second.notModified = true;
}

bool TBackupEngine::EndUpdate(platform::TPartFile* part, const std::string& LocalDir,
                              const std::string& Name, bool whole, bool notModified,
                              TFileEvent facts, std::unique_ptr<TDeferredSha256> hash) {
    const std::string target = LocalDir + Name;
    const std::string path = RelativePath(LocalDir, Name);
    // Not changed: the server says so, or sends the bytes the record (or the file) holds.
    bool same = notModified;
    if (!same && whole && part != nullptr && hash) {
        const TRecordRow* row = record_ ? record_->Find(path) : nullptr;
        const std::string recorded = row != nullptr && !row->sha256.empty()
                                         ? row->sha256
                                         : TSha256::OfFile(platform::NativePath(target));
        same = hash->Hex() == recorded;
    }
    if (same) {
        if (part != nullptr)
            part->Discard();
        facts.outcome = TDownloadOutcome::Present;
        facts.bytes = static_cast<uint64_t>(std::max<int64_t>(platform::FileSize(target), 0));
        TellFileDone(LocalDir, Name, std::move(facts));
        return false;
    }
    // A changed file: the new copy is whole as a partial file; the record says replacing
    // before the old copy moves to replaced/, and whole again only once the new one has its
    // name. A kill at any step leaves both copies on disk.
    std::string aside;
    if (whole && part != nullptr) {
        KeepServerDate(*part, false, facts);
        try {
            if (record_ && record_->Find(path) != nullptr)
                record_->SetStateCommitted(path, TRecordState::Replacing);
        } catch (const ERecordError& error) {
            Host.Log("**No backup record: " + error.Message());
            record_.reset();
        }
        aside = platform::SetAside(platform::NativePath(target), AsideFolder("replaced"), path);
    }
    const platform::TCommit commit =
        !aside.empty() ? part->Commit(target) : platform::TCommit::Failed;
    if (commit == platform::TCommit::Committed) {
        facts.outcome = TDownloadOutcome::Changed;
        facts.bytes = static_cast<uint64_t>(std::max<int64_t>(platform::FileSize(target), 0));
        TellFileDone(LocalDir, Name, std::move(facts), std::move(hash));
        return true;
    }
    if (!aside.empty())
        (void)platform::CommitFile(aside, platform::NativePath(target));
    if (part != nullptr)
        part->Discard();
    Host.Log("**Update failed, keeping " + Name);
    MultimediaDisabled = true;
    facts.outcome = TDownloadOutcome::Failed;
    facts.bytes = 0;
    TellFileDone(LocalDir, Name, std::move(facts));
    return false;
}

bool TBackupEngine::EndPicture(platform::TPartFile* part, const std::string& LocalDir,
                               const std::string& Name, bool whole, bool overFtp, TFileEvent facts,
                               std::unique_ptr<TDeferredSha256> hash) {
    const std::string target = LocalDir + Name;
    if (auto update = updates_.extract(platform::ComparablePath(target)))
        return EndUpdate(part, LocalDir, Name, whole, update.mapped().notModified, std::move(facts),
                         std::move(hash));
    // The file keeps the server's date for it, when the server gave one that can be read.
    if (whole && part != nullptr)
        KeepServerDate(*part, overFtp, facts);
    // A copy being repaired goes aside only now that its new copy is whole, and comes back
    // if the new one cannot take its name: nothing of the user's is ever deleted.
    const bool repair = repairs_.erase(platform::ComparablePath(target)) > 0;
    std::string aside;
    if (whole && part != nullptr && repair) {
        aside = platform::SetAside(platform::NativePath(target), AsideFolder("damaged"),
                                   RelativePath(LocalDir, Name));
        whole = !aside.empty();
    }
    const platform::TCommit commit =
        whole && part != nullptr ? part->Commit(target) : platform::TCommit::Failed;
    if (!aside.empty() && commit != platform::TCommit::Committed)
        (void)platform::CommitFile(aside, platform::NativePath(target));
    // Another spelling of the same name (or, on a destination that ignores case, another
    // name) came first: its file stays, and this copy was the same picture fetched twice.
    if (commit == platform::TCommit::Committed || commit == platform::TCommit::TargetExists) {
        facts.outcome = commit == platform::TCommit::Committed ? TDownloadOutcome::Fetched
                                                               : TDownloadOutcome::Present;
        // The file there is the copy that came first, which this hash need not describe.
        if (commit == platform::TCommit::TargetExists)
            hash.reset();
        const int64_t size = platform::FileSize(target);
        facts.bytes = size > 0 ? static_cast<uint64_t>(size) : 0;
        TellFileDone(LocalDir, Name, std::move(facts), std::move(hash));
        return true;
    }
    if (part != nullptr)
        part->Discard();
    if (overFtp) {
        Host.Log("error ftping file");
    } else {
        Host.Log("** Multimedia files have been temporarily disabled.");
        Host.Log("** Deleting file " + Name);
        MultimediaDisabled = true;
    }
    facts.outcome = TDownloadOutcome::Failed;
    facts.bytes = 0;
    TellFileDone(LocalDir, Name, std::move(facts));
    return false;
}

void TBackupEngine::DownloadFile(const std::string& LocalDir, const std::string& URL,
                                 const std::string& Name) {
    StallCounter = 0;
    DownloadScope active(DownloadActive, NMHTTP1);
    if (!PictureWanted(LocalDir, URL, Name))
        return;
    Host.Status("Downloading " + Name + ". . .");
    if (Events.FileStarted)
        Events.FileStarted(Name);
    (void)platform::ForceDirectories(LocalDir);

    // The file is written under a name of its own and takes its real name only once it is
    // whole, so a failed, cancelled or killed transfer never leaves a partial file that the
    // test above would keep for ever.
    const bool overFtp = NMFTP1.Connected();
    bool whole = false;
    // Sees every write of the partial file, for the record; a job without one hashes nothing.
    std::unique_ptr<TDeferredSha256> hash =
        Hashing() ? std::make_unique<TDeferredSha256>() : nullptr;
    std::unique_ptr<platform::TPartFile> part;
    try {
        part = std::make_unique<platform::TPartFile>(LocalDir);
        part->Stream().SetObserver(hash.get());
        if (overFtp) {
            whole = FetchOverFtp(Name, part->Stream());
        } else {
            NMHTTP1.IfModifiedSince = UpdateCondition(LocalDir, Name);
            struct Unconditional {
                TNMHTTP& http;
                ~Unconditional() { http.IfModifiedSince.clear(); }
            } unconditional{NMHTTP1};
            whole = FetchOverHttp(URL, part->Stream());
            if (NMHTTP1.NotModified())
                TellNotModified(LocalDir, Name);
        }
    } catch (const std::exception& error) {
        // A cancelled job stops here, and a session that could not be opened anew ends it.
        if (overFtp && Host.Cancelled())
            throw;
        if (overFtp && dynamic_cast<const EFTPSessionLost*>(&error) != nullptr) {
            Host.Log("error ftping file");
            TellFileDone(LocalDir, Name, Outcome(TDownloadOutcome::Failed, URL));
            throw;
        }
        whole = false;
    }
    TFileEvent facts = Outcome(TDownloadOutcome::Failed, URL);
    if (overFtp) {
        facts.listingDate = listingDate_;
    } else {
        facts.lastModified = NMHTTP1.LastModified();
        facts.etag = NMHTTP1.ETag();
    }
    if (part)
        part->Stream().SetObserver(nullptr);
    const bool update = updates_.count(platform::ComparablePath(LocalDir + Name)) > 0;
    const bool stored =
        EndPicture(part.get(), LocalDir, Name, whole, overFtp, std::move(facts), std::move(hash));
    // An update that found the file unchanged stored nothing, so it does not pause.
    if (update && !stored)
        return;

    if (Host.PauseEnabled()) {
        const int seconds = Host.PauseSeconds();
        Host.Status("Sleeping for " + std::to_string(seconds) + " seconds . . .");
        Host.ProcessMessages();
        struct Pausing {
            bool& flag;
            explicit Pausing(bool& f) : flag(f) { flag = true; }
            ~Pausing() { flag = false; }
        } pausing(pausing_);
        Host.PauseBetweenFiles(seconds * 1000);
    }
}
