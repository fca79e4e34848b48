#include "engine/BackupEngine.h"
#include "engine/DownloadScheduler.h"
#include "engine/PageScopes.h"
#include "engine/StrUtils.h"
#include "engine/TextFile.h"
#include "platform/FileSystem.h"

#include <exception>

namespace {

constexpr int MaxAttempts = 5;

// A page is taken when its first line looks like HTML or like a redirect page; anything else
// (an overloaded server's message, say) is fetched again.
bool PageAccepted(const std::string& firstLine) {
    return Pos("this.location.replace", firstLine) > 0 || Pos("<HTML>", firstLine) > 0 ||
           Pos("<html>", firstLine) > 0;
}

// Arms the watchdog for a page fetch and disarms it on every path. The client reports at the
// download level meanwhile, so a page that keeps arriving is never taken for a stalled one.
class PageFetchWatch {
public:
    PageFetchWatch(TNMHTTP& http, int32_t& stallCounter, bool& active)
        : http_(http), level_(http.ReportLevel), active_(active) {
        stallCounter = 0;
        http_.ReportLevel = 8;
        active_ = true;
    }
    ~PageFetchWatch() {
        active_ = false;
        http_.ReportLevel = level_;
    }
    PageFetchWatch(const PageFetchWatch&) = delete;
    PageFetchWatch& operator=(const PageFetchWatch&) = delete;

private:
    TNMHTTP& http_;
    int level_;
    bool& active_;
};

} // namespace

bool SiteUnreachable(TFailure kind) {
    switch (kind) {
    case TFailure::ConnectFailed:
    case TFailure::LookupFailed:
    case TFailure::NoAddress:
    case TFailure::BadPort:
        return true;
    default:
        return false;
    }
}

TransientFile::~TransientFile() {
    if (!fileName_.empty())
        (void)platform::DeleteFile(fileName_);
}

bool TBackupEngine::FetchPage(const std::string& url, const std::string& pageFile) {
    // A page file is the caller's only once the page was accepted; a fetch that fails or raises
    // leaves none behind.
    TransientFile unaccepted(pageFile);
    // Side by side, the page takes one of the job's connections and keeps it for all its
    // attempts, so that the job never has more requests open than it was allowed.
    struct PageSlot {
        TDownloadScheduler* scheduler;
        explicit PageSlot(TDownloadScheduler* s) : scheduler(s) {
            if (scheduler)
                scheduler->TakePageSlot();
        }
        // A page that raises ends the job: nothing new starts on its way out.
        ~PageSlot() {
            if (scheduler)
                scheduler->FreePageSlot(std::uncaught_exceptions() == 0);
        }
    } slot(scheduler_.get());
    for (int attempts = 0;;) {
        NMHTTP1.Body = pageFile;
        bool arrived = true;
        try {
            PageFetchWatch watch(NMHTTP1, StallCounter, pageFetchActive_);
            TTransferProgress::Scope shown(Transfers, [this] { return HttpBytes(NMHTTP1); });
            NMHTTP1.Get(url);
        } catch (const ESockError& error) {
            // A page that stalled (the watchdog cancelled it) or was cut off is one failed
            // attempt, as a refused page is: one bad page must not cost the rest of a backup.
            // The user's own cancel and a site that cannot be reached still end the job.
            if (Host.Cancelled() || SiteUnreachable(error.Kind()))
                throw;
            arrived = false;
        }
        if (arrived && PageAccepted(ReadFirstLine(pageFile))) {
            unaccepted.Release();
            return true;
        }
        Host.Log("**Got a server error, trying to download again");
        if (++attempts >= MaxAttempts)
            break;
    }
    Host.Log("**Tried 5 times and got errors every time, skipping this folder");
    if (report_)
        report_->Tally.PageGivenUp();
    if (Events.PageGivenUp)
        Events.PageGivenUp(url);
    return false;
}
