#include "engine/BackupEngine.h"
#include "engine/DownloadScheduler.h"
#include "engine/PageScopes.h"
#include "engine/StrUtils.h"
#include "platform/FileSystem.h"

#include <exception>

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

bool TBackupEngine::FetchOverHttp(const std::string& URL, const std::string& tempFile) {
    NMHTTP1.Body = tempFile;
    NMHTTP1.ReportLevel = 8;
    TTransferProgress::Scope shown(Transfers, [this] { return HttpBytes(NMHTTP1); });
    NMHTTP1.Get(URL);
    // An error page or a body cut short is a failed download, not a picture.
    return HttpReplyComplete(tempFile);
}

bool TBackupEngine::FetchOverFtp(const std::string& Name, const std::string& tempFile) {
    struct Watch {
        bool& active;
        explicit Watch(bool& flag) : active(flag) { active = true; }
        ~Watch() { active = false; }
    } watch(ftpTransferActive_);
    TTransferProgress::Scope shown(Transfers, [this] { return FtpBytes(); });
    // Download raises when the server reports an error or sends less than it announced.
    NMFTP1.Download(Name, tempFile);
    return true;
}

void TBackupEngine::DownloadFile(const std::string& LocalDir, const std::string& URL,
                                 const std::string& Name) {
    StallCounter = 0;
    const auto done = [&](TDownloadOutcome outcome, int64_t bytes = 0) {
        if (OnDownloadDone)
            OnDownloadDone(Name, outcome, bytes > 0 ? static_cast<uint64_t>(bytes) : 0);
    };
    if (MultimediaName(Name) && MultimediaDisabled) {
        Host.Log("** Multimedia files have been temporarily disabled.");
        Host.Log("** Skipping file " + Name);
        done(TDownloadOutcome::Skipped);
        return;
    }
    if (!SafeName(Name)) {
        done(TDownloadOutcome::Skipped);
        return;
    }
    DownloadScope active(DownloadActive, NMHTTP1);
    const std::string target = LocalDir + Name;
    // A file already there is never fetched again: a second run over a gallery costs nothing.
    if (platform::FileExists(target)) {
        done(TDownloadOutcome::Present, platform::FileSize(target));
        return;
    }
    Host.Status("Downloading " + Name + ". . .");
    (void)platform::ForceDirectories(LocalDir);

    // The file is written under a name of its own and takes its real name only once it is
    // whole, so a failed, cancelled or killed transfer never leaves a partial file that the
    // test above would keep for ever.
    const bool overFtp = NMFTP1.Connected();
    bool stored = false;
    try {
        TransientFile part(platform::CreateTempFileIn(LocalDir));
        stored =
            (overFtp ? FetchOverFtp(Name, part.FileName()) : FetchOverHttp(URL, part.FileName())) &&
            platform::RenameFile(part.FileName(), target);
        if (stored)
            part.Release();
    } catch (const std::exception& error) {
        // A cancelled job stops here, and a session that could not be opened anew ends it.
        if (overFtp && Host.Cancelled())
            throw;
        if (overFtp && dynamic_cast<const EFTPSessionLost*>(&error) != nullptr) {
            Host.Log("error ftping file");
            done(TDownloadOutcome::Failed);
            throw;
        }
        stored = false;
    }
    if (!stored && overFtp) {
        Host.Log("error ftping file");
    } else if (!stored) {
        Host.Log("** Multimedia files have been temporarily disabled.");
        Host.Log("** Deleting file " + Name);
        MultimediaDisabled = true;
    }
    if (stored)
        done(TDownloadOutcome::Fetched, platform::FileSize(target));
    else
        done(TDownloadOutcome::Failed);

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
