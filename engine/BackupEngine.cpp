#include "engine/BackupEngine.h"

#include "engine/ConnectionsSetting.h"
#include "engine/DownloadScheduler.h"
#include "engine/PageScopes.h"
#include "engine/Sites.h"
#include "net/HttpResponse.h"
#include "net/HttpText.h"
#include "platform/Exceptions.h"
#include "platform/FileSystem.h"
#include "platform/PartFile.h"

#include <QDir>
#include <QTemporaryDir>
#include <algorithm>
#include <utility>

// Gives a job its folder of page files for as long as it runs. A folder that is there already
// (made by a walk run on its own) is used and left to the engine.
class TBackupEngine::ScratchScope {
public:
    explicit ScratchScope(TBackupEngine& engine) : engine_(engine), owner_(!engine.scratch_) {
        if (owner_)
            engine_.ScratchDir();
    }
    ~ScratchScope() {
        if (owner_) {
            engine_.scratch_.reset();
            engine_.scratchLock_.reset();
        }
    }
    ScratchScope(const ScratchScope&) = delete;
    ScratchScope& operator=(const ScratchScope&) = delete;

private:
    TBackupEngine& engine_;
    bool owner_;
};

TBackupEngine::TBackupEngine(TJobHost& host) : Host(host) {
    NMHTTP1.Port = 0;
    NMHTTP1.ReportLevel = 0;
    NMHTTP1.Body = "Default.htm";
    NMHTTP1.Header = "Head.txt";
    NMHTTP1.HeaderInfo.LocalMailAddress = "ie 6.0.2800.1106IC";
    NMHTTP1.HeaderInfo.UserId = "Internet Explorer";
    NMHTTP1.InputFileMode = true;
    NMHTTP1.OutputFileMode = false;
    NMHTTP1.ProxyPort = 0;

    NMFTP1.Port = 21;
    NMFTP1.ReportLevel = 4;
    NMFTP1.UserID = "Anonymous";
    NMFTP1.Password = "Anonymous";
    NMFTP1.Vendor = 2411;
    NMFTP1.ParseList = false;
    NMFTP1.ProxyPort = 0;
    NMFTP1.OnConnect = [this](TComponent*) { NMFTP1Connect(); };
    // The Cancel button ends a wait for the archive at once, not only between files.
    NMFTP1.AbortWhen = [this] { return Host.Cancelled(); };
    NMFTP1.OnStatus = [this](TComponent*, const std::string& status) { Host.Status(status); };
    // The session may fall back on a later connect of the same job too (a renewed session); the
    // user needs to hear it once, and the job goes on over passive connections.
    NMFTP1.OnPassiveFallback = [this](TComponent*) {
        if (std::exchange(passiveFallbackLogged_, true))
            return;
        Host.Log("**Active mode failed, using passive mode");
    };
    InstructionsFtpHost = sites::kInstructionsFtpHost;
}

TBackupEngine::~TBackupEngine() = default;

void TBackupEngine::Use(const TJobSettings& settings) {
    NMHTTP1.Proxy = settings.proxyHost;
    NMHTTP1.ProxyPort = settings.proxyPort;
    Connections = settings.connections;
    Update = settings.update;
    InstructionsFtpHost = settings.archiveHost;
    NMFTP1.Port = settings.archivePort;
    NMFTP1.Mode = settings.ftpMode;
}

std::string TBackupEngine::ScratchDir() {
    if (!scratch_) {
        const QString pattern = QDir::tempPath() + "/vantrel-pages-XXXXXX";
        auto made = std::make_unique<QTemporaryDir>(pattern);
        if (!made->isValid())
            throw EFCreateError("Cannot create file " + pattern.toStdString());
        scratchLock_ = std::make_unique<platform::TDirLock>(made->path().toStdString());
        scratch_ = std::move(made);
    }
    return scratch_->path().toStdString() + "/";
}

void TBackupEngine::CancelTransfers() {
    EndOverlappingDownloads();
    NMHTTP1.Cancel();
    NMFTP1.Abandon();
}

void TBackupEngine::EndOverlappingDownloads() {
    if (scheduler_)
        scheduler_->AbortAll();
}

size_t TBackupEngine::DownloadsInFlight(uint64_t& bytes, uint64_t& announced) const {
    bytes = announced = 0;
    if (!scheduler_)
        return 0;
    bytes = scheduler_->BytesInFlight(announced);
    return scheduler_->InFlight();
}

std::string TBackupEngine::GalleryUrl(const std::string& siteWord, GalleryQuery query,
                                      const std::string& id) {
    const char* parameter = query == GalleryQuery::Folder ? "?f=" : "?m=";
    return "http://www." + siteWord + ".com/cgi-bin/gallery.cgi" + parameter + id;
}

std::string TBackupEngine::SiteUrl(const std::string& path) const {
    return "http://www." + SiteWord + ".com" + path;
}

bool TBackupEngine::RunGalleryJob(GalleryQuery query, const std::string& id) {
    ReportScope report(*this, (query == GalleryQuery::Folder ? "Get by ID " : "Get by User ") + id);
    Host.Status("getting list . . . ");
    const std::string destination = Host.Destination();
    // Only Get by ID makes a missing destination; a failure shows later, when a file is written.
    if (query == GalleryQuery::Folder && !platform::DirectoryExists(destination))
        platform::CreateDir(destination);
    Host.ClearLog();
    RecordScope record(*this, Update);
    LoginToSite();
    if (!Host.ProxyPortText().empty())
        Host.Log("**Using Proxy Server " + NMHTTP1.Proxy + ":" + std::to_string(NMHTTP1.ProxyPort));
    LastFolderName.clear();
    const int connections = Host.PauseEnabled() ? 1 : std::clamp(Connections, 1, kMaxConnections);
    if (connections > 1)
        scheduler_ = std::make_unique<TDownloadScheduler>(*this, connections);
    // Whichever way the job ends, nothing it started is left on the way.
    struct SchedulerScope {
        std::unique_ptr<TDownloadScheduler>& scheduler;
        ~SchedulerScope() { scheduler.reset(); }
    } schedulerScope{scheduler_};

    // The page folders of jobs that were killed go first; a running job's is locked.
    platform::SweepStaleDirs(QDir::tempPath().toStdString(), "vantrel-pages-");
    sweptDirs_.clear();
    ScratchScope scratch(*this);
    const std::string url = GalleryUrl(SiteWord, query, id);
    const std::string pageDir = ScratchDir();
    const std::string pageName = ScratchName();
    try {
        if (!FetchPage(url, pageDir + pageName + ".html")) {
            TellStoppedEarly(TStopReason::FirstPageMissing);
            return false;
        }
        Host.Log(url);
        OpenPageScope open(*this, url);
        CrawlFolder(pageDir, pageName);
    } catch (...) {
        // An error ends the job, but the pictures already on their way were fetched in good
        // faith: they finish (or stall) first and what arrives whole is kept. A cancel ends
        // them at once instead.
        if (scheduler_)
            scheduler_->Finish();
        if (!Host.Cancelled())
            TellStoppedEarly(TStopReason::Error);
        throw;
    }
    // The job ends with its last download.
    if (scheduler_)
        scheduler_->Drain();
    Host.Status(". . . done getting files");
    return true;
}

bool TBackupEngine::RunVerifyJob() {
    Host.ClearLog();
    Host.Status("Verifying . . .");
    const std::string destination = Host.Destination();
    if (!TBackupRecord::Exists(destination)) {
        Host.Log("No backup record in " + destination);
        Host.Status("No backup record in " + destination);
        return false;
    }
    struct Stopped {};
    try {
        std::unique_ptr<TBackupRecord> record = TBackupRecord::Open(destination, false);
        const TVerifyResult result = Verify(*record, [this](const std::string&) {
            Host.ProcessMessages();
            if (Host.Cancelled())
                throw Stopped{};
        });
        const std::vector<std::string> lines = VerifyLines(result);
        for (const std::string& line : lines)
            Host.Log(line);
        if (!result.updateError.empty())
            Host.Log("Cannot update backup record: " + result.updateError);
        Host.Status(lines.back());
    } catch (const Stopped&) {
        Host.Log("Cancel button pressed, verify stopped.");
        return false;
    } catch (const ERecordError& error) {
        Host.Log("Cannot read backup record " + error.Message());
        return false;
    }
    return true;
}

bool TBackupEngine::WatchdogTick() {
    bool pageHeard = false;
    if (scheduler_) {
        pageHeard = pageFetchActive_ && NMHTTP1.BytesHeard() != pageBytesHeard_;
        pageBytesHeard_ = NMHTTP1.BytesHeard();
        scheduler_->Tick(StallLimit, pageHeard);
    }
    if (pausing_)
        return false;
    if (TransferWatched())
        ++StallCounter;
    // Only a transfer in progress is cancelled: a count left over from a long FTP transfer must
    // not abort the next job's first page the moment it starts. Side by side, a page that has
    // heard nothing yet may be waiting its turn behind the pictures, as they may.
    const bool waitingItsTurn =
        scheduler_ && NMHTTP1.BytesHeard() == 0 && !scheduler_->JobSilent(StallLimit);
    return TransferWatched() && !ftpTransferActive_ && StallCounter > StallLimit && !waitingItsTurn;
}

bool TBackupEngine::PageOpen(const std::string& url) const {
    for (const std::string& open : openPages_)
        if (open == url)
            return true;
    return false;
}

// A name shaped like a partial file is refused too: a sweep would delete it as a leftover.
bool TBackupEngine::SafeName(const std::string& name) {
    if (platform::IsSafeFileName(name) && !platform::IsPartFileName(name))
        return true;
    Host.Log("** Skipping file " + name);
    return false;
}

bool TBackupEngine::SafePlace(const std::string& relativeDir, const std::string& name) {
    if (platform::IsSafeRelativePath(relativeDir) && !platform::IsOwnFolderPath(relativeDir) &&
        platform::IsSafeFileName(name) && !platform::IsPartFileName(name))
        return true;
    const bool joined = !relativeDir.empty() && relativeDir.back() == '\\';
    const std::string place = relativeDir + (joined ? "" : "\\") + name;
    Host.Log("** Skipping file " + place);
    // What the place would have held is left out on purpose: it counts as refused.
    TFileEvent refused;
    refused.outcome = TDownloadOutcome::Skipped;
    TellFileDone({}, place, refused);
    return false;
}

bool TBackupEngine::HttpReplyComplete(uint64_t bodyBytes) const {
    return http::ReplyComplete(NMHTTP1.ReplyCode(), NMHTTP1.BytesExpected(), bodyBytes);
}
