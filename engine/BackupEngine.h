#pragma once

#include "engine/JobEvents.h"
#include "engine/JobHost.h"
#include "engine/JobSettings.h"
#include "engine/TransferProgress.h"
#include "net/NMFTP.h"
#include "net/NMHTTP.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

class QTemporaryDir;
class TFileStream;
class TBackupRecord;
class TRecordKeeper;
class TRunReport;
class TDeferredSha256;
namespace platform {
class TPartFile;
class TDirLock;
} // namespace platform

// The gallery jobs and the state they share with the window's timer and Cancel. Runs on the
// window's thread, inside the click handler that started the job. The routines live one family
// to a file: the page fetch, the folder crawl, the image page scan, the download, the batch list
// and the login.
class TDownloadScheduler;

// Failures that say the site (or the proxy) cannot be reached at all: the page fetch passes
// them on, since fetching the page again would only fail the same way and the user is better
// served by the error itself. Every other failure is one of its attempts.
bool SiteUnreachable(TFailure kind);

class TBackupEngine {
public:
    explicit TBackupEngine(TJobHost& host);
    virtual ~TBackupEngine();
    TBackupEngine(const TBackupEngine&) = delete;
    TBackupEngine& operator=(const TBackupEngine&) = delete;

    enum class GalleryQuery { Folder, User };

    // Takes the network settings of the jobs to come: the proxy, the connections, the archive.
    void Use(const TJobSettings& settings);

    // Get by ID (Folder, id = folder ID) or Get by User (User, id = user ID), from the status
    // "getting list . . . " to ". . . done getting files". True when the job ran to its end;
    // false when it stopped because its first page could not be fetched.
    bool RunGalleryJob(GalleryQuery query, const std::string& id);

    // Get Inst...: checks the set number, logs in to the instructions archive and stores every
    // scan of the set (NMFTP1Connect runs inside the login). True when the job ran to its end,
    // a refused set number included; an error raised by the session is passed on.
    bool RunScanJob(const std::string& setNumber);
    // The work of Get Inst... once the archive has accepted the login.
    void NMFTP1Connect();
    // "\scans\<bucket>\<set>" for a set number, as the archive files its scans.
    static std::string ScanPath(const std::string& setNumber);

    // Verifies the destination against its backup record, offline, as a job of the window: the
    // findings and the summary go to the log, the summary to the status line; Cancel stops it.
    // False when there is no record.
    bool RunVerifyJob();

    // Runs Get by ID and Get by User for the IDs listed in "list.txt" in the current directory,
    // or in the list file named.
    void RunBatchList(const std::string& listFile = "list.txt");

    // Sends the member's login to gallery site A and installs the cookie it returns; true when
    // a cookie was installed.
    bool LoginToSite();

    // Fetches one listing page into pageFile, retrying a few times; true when a page arrived.
    virtual bool FetchPage(const std::string& url, const std::string& pageFile);
    // Walks a fetched folder or member page and everything below it.
    virtual void CrawlFolder(const std::string& Dir, const std::string& PageName);
    // Fetches the thumbnail pages of one folder and downloads its pictures.
    virtual void ScanImagePage(const std::string& Path);
    // Stores one remote file as LocalDir + Name, unless it is there already.
    virtual void DownloadFile(const std::string& LocalDir, const std::string& URL,
                              const std::string& Name);

    // One tick of the stall watchdog, from the window's one-second timer: counts the seconds of
    // a watched transfer and returns true when that transfer has been silent too long and must
    // be cancelled.
    bool WatchdogTick();
    // True while a page fetch or a file download is waiting on the network.
    bool TransferWatched() const { return DownloadActive || pageFetchActive_; }
    // Ends every transfer in progress and every wait of the FTP session, which then closes
    // without waiting for the server's goodbye (closing the window, Ctrl+C).
    void CancelTransfers();
    // Ends the picture downloads on the way side by side (Cancel with several connections); with
    // one connection the running transfer finishes, as it always has.
    void EndOverlappingDownloads();
    // The picture downloads on the way side by side, with their bytes so far and the sizes
    // announced, for a progress display; 0 when a job runs with one connection.
    size_t DownloadsInFlight(uint64_t& bytes, uint64_t& announced) const;

    // "http://www." + site word + ".com/cgi-bin/gallery.cgi?f=" (or "?m=") + id.
    static std::string GalleryUrl(const std::string& siteWord, GalleryQuery query,
                                  const std::string& id);
    // Job state shared with the window: the timer counts stalled seconds while a download is
    // active, the crawl keeps the last local sub-path, a failed download disables movies.
    std::string LastFolderName;
    int32_t StallCounter = 0;
    // The silent ticks the watchdog allows a transfer; the tick after them cancels it. Tests
    // shorten it.
    int32_t StallLimit = 30;
    bool DownloadActive = false;
    bool MultimediaDisabled = false;
    std::string SiteWord;
    // Picture downloads a gallery job may have on the way at once, 1 to 4; a pause between
    // downloads makes it one, as the pause is there to spare the site.
    int Connections = 1;
    // A gallery job asks for each present file again: with If-Modified-Since and the recorded
    // Last-Modified when there is one. A changed file replaces the old copy, which goes to
    // ".vantrel/replaced/"; the instruction scans leave present files alone.
    bool Update = false;
    // The report the last run wrote (".vantrel/reports/..."); empty when it wrote none.
    std::string LastReport;

    // What happened in the job, as values (each file's end before the pause after it).
    TJobEvents Events;

    // The page fetches and downloads running now, for a progress display to read.
    TTransferProgress Transfers;

    // The HTTP client of every web access, set up as the window's design has it; the window
    // hands it the proxy and listens to its statuses.
    TNMHTTP NMHTTP1;
    // The FTP client of the instruction scans; a file is fetched over it while it is connected.
    TNMFTP NMFTP1;
    // Where the instructions archive is reached; the tests point it at a loopback server.
    std::string InstructionsFtpHost;

protected:
    // "http://www." + site word + ".com" + path.
    std::string SiteUrl(const std::string& path) const;
    // Logs "** Skipping file " + name and returns false when a name or path that came from a
    // server would land outside the destination.
    bool SafeName(const std::string& name);
    // The same for a file name in a directory below the destination (relativeDir).
    bool SafePlace(const std::string& relativeDir, const std::string& name);
    // True when a file fetched over HTTP arrived whole: a success status, and no fewer bytes
    // than the server announced.
    bool HttpReplyComplete(uint64_t bodyBytes) const;

    // The one way a picture (or scan) goes, with one connection as with several. Before its
    // transfer: movies after a failure, the name guard and a file already there, each with its
    // log lines; false when the picture goes no further (its end told). Sweeps the folder's
    // leftovers before the job's first file there.
    bool PictureWanted(const std::string& LocalDir, const std::string& URL,
                       const std::string& Name);
    // After its transfer: a whole file is committed under its name (or, when a file of that
    // name came first, dropped as present); anything else is a failure with its log lines,
    // movies turned off after an HTTP one. part is null when no partial file could be made;
    // facts holds what the transfer learnt (its URL, the server's dates). True when the picture
    // is there afterwards; hash saw the partial file's writes and goes to the record with it.
    bool EndPicture(platform::TPartFile* part, const std::string& LocalDir, const std::string& Name,
                    bool whole, bool overFtp, TFileEvent facts,
                    std::unique_ptr<TDeferredSha256> hash);
    // A whole file keeps the server's date for it (an FTP listing's, or an HTTP Last-Modified),
    // when the server gave one that can be read.
    static void KeepServerDate(platform::TPartFile& part, bool overFtp, const TFileEvent& facts);
    // An update of a present file: the date to ask If-Modified-Since with (empty: ask
    // unconditionally), and the server's word that it has not changed.
    std::string UpdateCondition(const std::string& LocalDir, const std::string& Name) const;
    void TellNotModified(const std::string& LocalDir, const std::string& Name);
    // An update's end: unchanged (304, or the same bytes) counts present; a changed file
    // replaces the old copy, which goes to ".vantrel/replaced/"; a failure keeps the old copy.
    // True when a file was stored.
    bool EndUpdate(platform::TPartFile* part, const std::string& LocalDir, const std::string& Name,
                   bool whole, bool notModified, TFileEvent facts,
                   std::unique_ptr<TDeferredSha256> hash);
    // LocalDir + Name relative to the destination, "/" separators, no leading "/".
    std::string RelativePath(const std::string& LocalDir, const std::string& Name) const;
    // Whether a present file (size bytes) is not what the record says was stored at path.
    bool NeedsRepair(const std::string& path, int64_t size) const;
    // ".vantrel/" + kind + "/" + the run's date at the destination: where a replaced copy goes.
    std::string AsideFolder(const char* kind) const;
    // Tells a file's end: its path relative to the destination is worked out here. A stored
    // file's hash goes with it to the record.
    void TellFileDone(const std::string& LocalDir, const std::string& Name, TFileEvent event,
                      std::unique_ptr<TDeferredSha256> hash = nullptr);
    // Tells why the job stops before its end.
    void TellStoppedEarly(TStopReason reason);
    // The destination's backup record for as long as a job runs: opened (and made) at its
    // start, its checksum list rewritten at its end. A record that cannot be had is said once
    // in the log, and the job runs without it.
    class RecordScope;
    class ReportScope;
    std::unique_ptr<TRunReport> report_;
    int reportDepth_ = 0;
    void OpenRecord();
    // The listing of the folder at LocalDir was read whole: each recorded file there that it did
    // not name (listed holds RelativePath of each name it did) is marked gone and told.
    void MarkGone(const std::string& LocalDir, const std::set<std::string>& listed);
    // Puts a file's end into the run's report: its line, and its count.
    void Report(const TFileEvent& event);
    // Whether a stored file is hashed: for the record (one is open, or comes with the first
    // file), or to tell an update's new body from the copy it would replace.
    bool Hashing() const { return record_ != nullptr || recordPending_ || updating_; }
    // Keeps a file's end in the record: a stored file, or a present one (taken in, hashed, the
    // first time a job meets it).
    void RecordFile(const std::string& LocalDir, const std::string& Name, const TFileEvent& file,
                    std::unique_ptr<TDeferredSha256> hash);

    TJobHost& Host;

private:
    // The job's private folder of page files (with its trailing separator), outside the
    // destination, so that no page ever meets a picture or a file of the user's. It is made when
    // the job starts (or at the first page of a walk run on its own) and removed when it ends.
    std::string ScratchDir();
    // A page name not used before in the job: page files of walks still open never collide.
    std::string ScratchName() { return std::to_string(++scratchPages_); }
    class ScratchScope;

    // True while the walk of the listing page at url is open.
    bool PageOpen(const std::string& url) const;
    struct PageWalk;
    class WalkStack;
    bool OpenWalk(WalkStack& walks, const std::string& Dir, const std::string& PageName,
                  const std::string& url);

    // Stores one file over the open FTP session; true when it arrived whole.
    bool FetchOverFtp(const std::string& Name, TFileStream& part);
    bool FetchOverHttp(const std::string& URL, TFileStream& part);
    // The body bytes of a client's transfer in progress; nothing until its body begins, as the
    // clients' counters still hold the previous transfer's numbers before that. Each transfer
    // registers a reader of its own client with Transfers, so that several can run at once.
    static TTransferBytes HttpBytes(const TNMHTTP& client);
    TTransferBytes FtpBytes() const;

    bool pageFetchActive_ = false;
    // The listing date of the scan being fetched.
    std::string listingDate_;
    // The fall back to passive mode has been logged in this Get Inst... job.
    bool passiveFallbackLogged_ = false;
    // The page fetch's bytes at the watchdog's last tick.
    uint64_t pageBytesHeard_ = 0;
    // The pause after a file: no transfer runs, so the watchdog has nothing to count.
    bool pausing_ = false;
    std::unique_ptr<QTemporaryDir> scratch_;
    // Held on the page folder while it lives, so that another job's sweep leaves it alone.
    std::unique_ptr<platform::TDirLock> scratchLock_;
    std::unique_ptr<TRecordKeeper> record_;
    bool recordPending_ = false; // a job runs that has not opened its record yet
    // The folders whose leftovers this job has swept already (comparable paths).
    std::set<std::string> sweptDirs_;
    std::set<std::string> repairs_; // present files being fetched again (comparable paths)
    struct TUpdate {
        std::string lastModified; // as recorded; empty: asked unconditionally
        bool notModified = false;
    };
    std::map<std::string, TUpdate> updates_; // present files asked again (comparable paths)
    bool updating_ = false;                  // Update, in a gallery job
    std::string runDate_;                    // YYYY-MM-DD, local time, when the job started
    unsigned scratchPages_ = 0;
    // An FTP transfer is not the HTTP watchdog's to cancel: it has a time limit of its own.
    bool ftpTransferActive_ = false;
    // The listing pages whose walk is still open, outermost first: a link back to one of them
    // would walk it again and again.
    std::vector<std::string> openPages_;
    // Set while a gallery job runs with more than one connection.
    std::unique_ptr<TDownloadScheduler> scheduler_;
    friend class TDownloadScheduler;
    friend class OpenPageScope;
    friend class WalkStack;
};
