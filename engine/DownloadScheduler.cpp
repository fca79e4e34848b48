#include "engine/DownloadScheduler.h"

#include "engine/BackupEngine.h"
#include "net/HttpTransfer.h"
#include "engine/StrUtils.h"
#include "platform/EventWait.h"
#include "platform/FileSystem.h"

#include <exception>

bool MultimediaName(const std::string& name) {
    return Pos(".mov", name) > 0 || Pos(".avi", name) > 0 || Pos(".mpg", name) > 0;
}

TDownloadScheduler::TDownloadScheduler(TBackupEngine& engine, int connections)
    : engine_(engine), connections_(static_cast<size_t>(connections)) {}

TDownloadScheduler::~TDownloadScheduler() {
    try {
        AbortAll();
    } catch (...) {
        // A log that cannot be written must not end the program on the way out of a job.
    }
}

bool TDownloadScheduler::Cancelled() const {
    return engine_.Host.Cancelled();
}

bool TDownloadScheduler::OnTheWay(const std::string& target) const {
    for (const Flight& flight : flights_)
        if (flight.target == target)
            return true;
    return false;
}

bool TDownloadScheduler::Enqueue(std::string logLine, std::string localDir, std::string url,
                                 std::string name) {
    ended_.clear();
    // The scan runs ahead of the downloads by this much at most, so the next pages are at hand
    // when connections come free, and a cancel drops little.
    constexpr size_t MaxWaiting = 32;
    platform::WaitUntil([&] { return waiting_.size() < MaxWaiting || Cancelled(); });
    ended_.clear();
    if (Cancelled()) {
        AbortAll();
        return false;
    }
    waiting_.push_back({std::move(logLine), std::move(localDir), std::move(url), std::move(name)});
    Pump();
    return true;
}

void TDownloadScheduler::Pump() {
    if (pumping_)
        return;
    pumping_ = true;
    while (!waiting_.empty() && !Cancelled()) {
        const bool movie = MultimediaName(waiting_.front().name);
        if (flights_.size() >= connections_ || (movie && !flights_.empty()))
            break;
        const Picture picture = std::move(waiting_.front());
        waiting_.pop_front();
        try {
            Start(picture);
        } catch (...) {
            // Pumped from socket events too, where nothing may escape; a log or status that
            // fails costs this one picture, not the job.
        }
    }
    pumping_ = false;
}

void TDownloadScheduler::Start(const Picture& picture) {
    const std::string& name = picture.name;
    engine_.Host.Log(picture.logLine);
    const auto done = [&](TDownloadOutcome outcome, int64_t bytes = 0) {
        if (engine_.OnDownloadDone)
            engine_.OnDownloadDone(name, outcome, bytes > 0 ? static_cast<uint64_t>(bytes) : 0);
    };
    if (MultimediaName(name) && engine_.MultimediaDisabled) {
        engine_.Host.Log("** Multimedia files have been temporarily disabled.");
        engine_.Host.Log("** Skipping file " + name);
        done(TDownloadOutcome::Skipped);
        return;
    }
    if (!engine_.SafeName(name)) {
        done(TDownloadOutcome::Skipped);
        return;
    }
    const std::string target = picture.localDir + name;
    if (platform::FileExists(target)) {
        done(TDownloadOutcome::Present, platform::FileSize(target));
        return;
    }
    // With one connection the second request for a name would find the file the first stored.
    if (OnTheWay(target)) {
        done(TDownloadOutcome::Present);
        return;
    }
    // On the list before its status, so that whoever counts on the status counts it too.
    const auto flight = flights_.insert(flights_.end(), Flight{name, target, {}, nullptr, nullptr});
    engine_.Host.Status("Downloading " + name + ". . .");
    (void)platform::ForceDirectories(picture.localDir);
    try {
        flight->partFile = platform::CreateTempFileIn(picture.localDir);
        THttpTransfer::Route route{engine_.NMHTTP1.Proxy, engine_.NMHTTP1.ProxyPort,
                                      engine_.NMHTTP1.HeaderInfo};
        flight->transfer = std::make_unique<THttpTransfer>(
            picture.url, flight->partFile, std::move(route),
            [this, flight](bool whole) { Ended(flight, whole); });
        flight->shown = std::make_unique<TTransferProgress::Scope>(
            engine_.Transfers, [transfer = flight->transfer.get()] {
                return TTransferBytes{transfer->BytesReceived(), transfer->BytesExpected()};
            });
    } catch (const std::exception&) {
        Ended(flight, false);
        return;
    }
    try {
        flight->transfer->Start();
    } catch (const std::exception&) {
        // Start raises only before anything went out, so the transfer has not ended yet.
        Ended(flight, false);
    }
}

void TDownloadScheduler::Ended(std::list<Flight>::iterator flight, bool whole) {
    const Flight ending{flight->name, flight->target, flight->partFile, nullptr, nullptr};
    if (flight->transfer)
        ended_.push_back(std::move(flight->transfer));
    flights_.erase(flight);

    const bool stored = whole && platform::RenameFile(ending.partFile, ending.target);
    if (!stored) {
        if (!ending.partFile.empty())
            (void)platform::DeleteFile(ending.partFile);
        engine_.Host.Log("** Multimedia files have been temporarily disabled.");
        engine_.Host.Log("** Deleting file " + ending.name);
        engine_.MultimediaDisabled = true;
    }
    if (engine_.OnDownloadDone)
        engine_.OnDownloadDone(
            ending.name, stored ? TDownloadOutcome::Fetched : TDownloadOutcome::Failed,
            stored ? static_cast<uint64_t>(platform::FileSize(ending.target)) : 0);
    Pump();
}

void TDownloadScheduler::Drain() {
    platform::WaitUntil([&] { return (waiting_.empty() && flights_.empty()) || Cancelled(); });
    AbortAll();
    ended_.clear();
}

void TDownloadScheduler::AbortAll() {
    // First, or each abort would start the next picture in its place.
    waiting_.clear();
    // Each abort takes its flight off the list.
    while (!flights_.empty()) {
        const auto flight = flights_.begin();
        if (flight->transfer && flight->transfer->Running())
            flight->transfer->Abort();
        else
            Ended(flight, false);
    }
}

void TDownloadScheduler::Tick(int32_t limit) {
    if (Cancelled()) {
        AbortAll();
        return;
    }
    std::vector<THttpTransfer*> silent;
    for (Flight& flight : flights_)
        if (flight.transfer && ++flight.transfer->SilentTicks > limit)
            silent.push_back(flight.transfer.get());
    for (THttpTransfer* transfer : silent)
        transfer->Abort();
}

uint64_t TDownloadScheduler::BytesInFlight(uint64_t& announced) const {
    uint64_t bytes = 0;
    announced = 0;
    for (const Flight& flight : flights_) {
        if (!flight.transfer)
            continue;
        bytes += flight.transfer->BytesReceived();
        announced += flight.transfer->BytesExpected();
    }
    return bytes;
}
