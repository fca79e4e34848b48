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

// A name the download refuses once an HTTP download has failed (a movie, by its extension).
bool MultimediaName(const std::string& name);

// Several picture downloads of one gallery job on the way at once, each on a connection of its
// own, all driven by the window's event loop: the job walks its listing pages one at a time as
// ever while the pictures it found come in behind it, so a slow site's delay before each answer
// is paid once per connection rather than once per file. Nothing here blocks but the waits for
// room in the queue and for the job's last download, which dispatch events as every wait does.
//
// What one connection guarantees still holds: a file is whole or absent, a name already present
// or on its way is not fetched again, a failure logs its lines when it happens, and a movie
// starts only once every earlier download has ended, so it sees the same failures.
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
    // Forgets the pictures not started and ends every download on the way as failed, deleting
    // what it had written.
    void AbortAll();
    // One tick of the watchdog for each transfer: the one silent for more than limit ticks is
    // ended. A cancelled job ends them all.
    void Tick(int32_t limit);

    size_t InFlight() const { return flights_.size(); }
    // The bytes of the downloads on the way, and the sizes their servers announced.
    uint64_t BytesInFlight(uint64_t& announced) const;

private:
    struct Picture {
        std::string logLine, localDir, url, name;
    };
    struct Flight {
        std::string name, target, partFile;
        std::unique_ptr<THttpTransfer> transfer;
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
    std::deque<Picture> waiting_;
    std::list<Flight> flights_;
    bool pumping_ = false;
    // A transfer that ended is freed later, from the job's own stack, never from inside the
    // socket event that ended it.
    std::vector<std::unique_ptr<THttpTransfer>> ended_;
};
