#include "engine/DownloadScheduler.h"

#include "engine/BackupEngine.h"
#include "engine/StrUtils.h"
#include "net/HttpTransfer.h"
#include "platform/EventWait.h"
#include "platform/FileSystem.h"
#include "platform/PartFile.h"
#include "record/Sha256.h"

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
    while (!waiting_.empty() && !Cancelled() && !pageDue_) {
        const Picture& next = waiting_.front();
        const size_t room = connections_ - (pageHolds_ ? 1 : 0);
        if (flights_.size() >= room || (MultimediaName(next.name) && !flights_.empty()) ||
            OnTheWay(platform::ComparablePath(next.localDir + next.name)))
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
    engine_.Host.Log(picture.logLine);
    if (!engine_.PictureWanted(picture.localDir, picture.url, picture.name))
        return;
    // On the list before its status, so that whoever counts on the status counts it too.
    const auto flight = flights_.insert(
        flights_.end(), Flight{picture.name, picture.localDir,
                               platform::ComparablePath(picture.localDir + picture.name),
                               picture.url, nullptr, nullptr, nullptr, 0, nullptr});
    engine_.Host.Status("Downloading " + picture.name + ". . .");
    if (engine_.Events.FileStarted)
        engine_.Events.FileStarted(picture.name);
    (void)platform::ForceDirectories(picture.localDir);
    try {
        if (engine_.Hashing())
            flight->hash = std::make_unique<TDeferredSha256>();
        flight->part = std::make_unique<platform::TPartFile>(picture.localDir);
        flight->part->Stream().SetObserver(flight->hash.get());
        THttpTransfer::Route route{engine_.NMHTTP1.Proxy, engine_.NMHTTP1.ProxyPort,
                                   engine_.NMHTTP1.HeaderInfo,
                                   engine_.UpdateCondition(picture.localDir, picture.name)};
        flight->transfer =
            std::make_unique<THttpTransfer>(picture.url, flight->part->Stream(), std::move(route),
                                            [this, flight](bool whole) { Ended(flight, whole); });
        // A redirect's cookie stays with the job, as the one client keeps it for every later
        // request.
        flight->transfer->OnRedirectCookie = [this](const std::string& cookie) {
            engine_.NMHTTP1.HeaderInfo.Cookie = cookie;
        };
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
    TFileEvent facts;
    facts.url = flight->url;
    if (flight->part)
        flight->part->Stream().SetObserver(nullptr);
    if (flight->transfer) {
        if (flight->transfer->NotModified())
            engine_.TellNotModified(flight->localDir, flight->name);
        facts.lastModified = flight->transfer->Validators().lastModified;
        facts.etag = flight->transfer->Validators().etag;
        ended_.push_back(std::move(flight->transfer));
    }
    const std::unique_ptr<platform::TPartFile> part = std::move(flight->part);
    std::unique_ptr<TDeferredSha256> hash = std::move(flight->hash);
    const std::string name = flight->name, localDir = flight->localDir;
    flights_.erase(flight);
    (void)engine_.EndPicture(part.get(), localDir, name, whole, false, std::move(facts),
                             std::move(hash));
    Pump();
}

void TDownloadScheduler::Drain() {
    platform::WaitUntil([&] { return (waiting_.empty() && flights_.empty()) || Cancelled(); });
    AbortAll();
    ended_.clear();
}

void TDownloadScheduler::Finish() {
    waiting_.clear();
    pageDue_ = pageHolds_ = false;
    Drain();
}

void TDownloadScheduler::TakePageSlot() {
    pageDue_ = true;
    platform::WaitUntil([&] { return flights_.size() < connections_ || Cancelled(); });
    pageHolds_ = true;
    pageDue_ = false;
}

void TDownloadScheduler::FreePageSlot(bool startWaiting) {
    pageDue_ = pageHolds_ = false;
    if (startWaiting)
        Pump();
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

void TDownloadScheduler::Tick(int32_t limit, bool pageHeard) {
    if (Cancelled()) {
        AbortAll();
        return;
    }
    bool heard = pageHeard;
    for (Flight& flight : flights_) {
        if (flight.transfer && flight.transfer->BytesHeard() != flight.heardAtTick) {
            flight.heardAtTick = flight.transfer->BytesHeard();
            heard = true;
        }
    }
    quietTicks_ = heard ? 0 : quietTicks_ + 1;
    std::vector<THttpTransfer*> silent;
    for (Flight& flight : flights_) {
        if (!flight.transfer || ++flight.transfer->SilentTicks <= limit)
            continue;
        if (flight.transfer->BytesHeard() > 0 || JobSilent(limit))
            silent.push_back(flight.transfer.get());
    }
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
