#include "engine/BackupEngine.h"

#include "engine/ConnectionsSetting.h"
#include "engine/DownloadScheduler.h"
#include "engine/PageScopes.h"
#include "engine/Sites.h"
#include "net/HttpResponse.h"
#include "platform/Exceptions.h"
#include "platform/FileSystem.h"

#include <QDir>
#include <QTemporaryDir>
#include <algorithm>

// Gives a job its folder of page files for as long as it runs. A folder that is there already
// (made by a walk run on its own) is used and left to the engine.
class TBackupEngine::ScratchScope {
public:
    explicit ScratchScope(TBackupEngine& engine) : engine_(engine), owner_(!engine.scratch_) {
        if (owner_)
            engine_.ScratchDir();
    }
    ~ScratchScope() {
        if (owner_)
            engine_.scratch_.reset();
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
    InstructionsFtpHost = sites::kInstructionsFtpHost;
}

TBackupEngine::~TBackupEngine() = default;

std::string TBackupEngine::ScratchDir() {
    if (!scratch_) {
        const QString pattern = QDir::tempPath() + "/vantrel-pages-XXXXXX";
        auto made = std::make_unique<QTemporaryDir>(pattern);
        if (!made->isValid())
            throw EFCreateError("Cannot create file " + pattern.toStdString());
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
    Host.Status("getting list . . . ");
    const std::string destination = Host.Destination();
    // Only Get by ID makes a missing destination; a failure shows later, when a file is written.
    if (query == GalleryQuery::Folder && !platform::DirectoryExists(destination))
        platform::CreateDir(destination);
    Host.ClearLog();
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

    ScratchScope scratch(*this);
    const std::string url = GalleryUrl(SiteWord, query, id);
    const std::string pageDir = ScratchDir();
    const std::string pageName = ScratchName();
    if (!FetchPage(url, pageDir + pageName + ".html"))
        return false;
    Host.Log(url);
    {
        OpenPageScope open(*this, url);
        CrawlFolder(pageDir, pageName);
    }
    // The job ends with its last download.
    if (scheduler_)
        scheduler_->Drain();
    Host.Status(". . . done getting files");
    return true;
}

bool TBackupEngine::WatchdogTick() {
    if (scheduler_)
        scheduler_->Tick(StallLimit);
    if (pausing_)
        return false;
    if (TransferWatched())
        ++StallCounter;
    // Only a transfer in progress is cancelled: a count left over from a long FTP transfer must
    // not abort the next job's first page the moment it starts.
    return TransferWatched() && !ftpTransferActive_ && StallCounter > StallLimit;
}

bool TBackupEngine::PageOpen(const std::string& url) const {
    for (const std::string& open : openPages_)
        if (open == url)
            return true;
    return false;
}

bool TBackupEngine::SafeName(const std::string& name) {
    if (platform::IsSafeFileName(name))
        return true;
    Host.Log("** Skipping file " + name);
    return false;
}

bool TBackupEngine::SafePlace(const std::string& relativeDir, const std::string& name) {
    if (platform::IsSafeRelativePath(relativeDir) && platform::IsSafeFileName(name))
        return true;
    const bool joined = !relativeDir.empty() && relativeDir.back() == '\\';
    Host.Log("** Skipping file " + relativeDir + (joined ? "" : "\\") + name);
    return false;
}

bool TBackupEngine::HttpReplyComplete(const std::string& bodyFile) const {
    const int64_t size = platform::FileSize(bodyFile);
    return http::ReplyComplete(NMHTTP1.ReplyCode(), NMHTTP1.BytesExpected(),
                               size > 0 ? static_cast<uint64_t>(size) : 0);
}
