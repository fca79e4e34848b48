#pragma once

#include "engine/TransferProgress.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <list>
#include <memory>
#include <string>
#include <vector>

class TBackupEngine;
class THttpTransfer;
class TDeferredSha256;
namespace platform {
class TPartFile;
}

// A name the download refuses once an HTTP download has failed (a movie, by its extension).
bool MultimediaName(const std::string& name);

// Several picture downloads of one gallery job on the way at once, each on a connection of its
// own, all driven by the window's event loop: the job walks its listing pages one at a time as
// ever while the pictures it found come in behind it, so a slow site's delay before each answer
// is paid once per connection rather than once per file. Nothing here blocks but the waits for
// room in the queue and for the job's last download, which dispatch events as every wait does.
//
// What one connection guarantees still holds, since a picture's checks and its ending are the
// engine's own (PictureWanted, EndPicture): a file is whole or absent, a name already present is
// not fetched again, a failure logs its lines when it happens. A picture whose file is on its
// way already (under any spelling of its path) waits, and every picture behind it, until that
// download has ended, and so does a movie until every earlier download has ended: each then
// sees what one connection would have seen. The listing pages count toward the connections:
// at most N requests are open at once.
class TDownloadScheduler {
public:
    TDownloadScheduler(TBackupEngine& engine, int connections);
    // Ends whatever is still on the way, keeping nothing of it.
    ~TDownloadScheduler();
    TDownloadScheduler(const TDownloadScheduler&) = delete;
    TDownloadScheduler& operator=(const TDownloadScheduler&) = delete;

    // Takes a picture found by the scan: its log line is written and its download started, as
    // DownloadFile would, once a connection is free and every picture before it has started (a
    // movie waits until every earlier download has ended). Waits only while many are waiting
    // already; false when the job was cancelled, which ends what was on the way.
    bool Enqueue(std::string logLine, std::string localDir, std::string url, std::string name);
    // Waits until every download has ended; a cancelled job ends them instead.
    void Drain();
    // The job ends with an error: no waiting picture starts, the ones on the way finish (under
    // the watchdog) and keep what arrives whole; a cancel ends them at once.
    void Finish();
    // A listing page is due: no picture starts until the page has a connection of its own,
    // which it keeps (for all its attempts) until FreePageSlot.
    void TakePageSlot();
    void FreePageSlot(bool startWaiting = true);
    // Forgets the pictures not started and ends every download on the way as failed, deleting
    // what it had written.
    void AbortAll();
    // One tick of the watchdog for each transfer: the one silent for more than limit ticks is
    // ended. A transfer that has heard nothing yet may only be waiting its turn at a server
    // that serves one connection at a time, so its silence counts only once the whole job has
    // heard nothing (pageHeard: the page fetch received something since the last tick) for
    // more than limit ticks. A cancelled job ends them all.
    void Tick(int32_t limit, bool pageHeard);
    // True when no transfer of the job has received anything for more than limit ticks.
    bool JobSilent(int32_t limit) const { return quietTicks_ > limit; }

    size_t InFlight() const { return flights_.size(); }
    // The bytes of the downloads on the way, and the sizes their servers announced.
    uint64_t BytesInFlight(uint64_t& announced) const;

private:
    struct Picture {
        std::string logLine, localDir, url, name;
    };
    struct Flight {
        std::string name, localDir, target; // target: comparable
        std::string url;
        std::unique_ptr<TDeferredSha256> hash; // sees the partial file's writes
        std::unique_ptr<platform::TPartFile> part;
        std::unique_ptr<THttpTransfer> transfer;
        uint64_t heardAtTick = 0;
        // Its bytes in the engine's running transfers, which the window's bar sums.
        std::unique_ptr<TTransferProgress::Scope> shown;
    };
    // Starts the waiting pictures that may start now.
    void Pump();
    void Start(const Picture& picture);
    void Ended(std::list<Flight>::iterator flight, bool whole);
    bool OnTheWay(const std::string& target) const;
    bool Cancelled() const;

    TBackupEngine& engine_;
    size_t connections_;
    bool pageDue_ = false, pageHolds_ = false;
    int32_t quietTicks_ = 0;
    std::deque<Picture> waiting_;
    std::list<Flight> flights_;
    bool pumping_ = false;
    // A transfer that ended is freed later, from the job's own stack, never from inside the
    // socket event that ended it.
    std::vector<std::unique_ptr<THttpTransfer>> ended_;
};
