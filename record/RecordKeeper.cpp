#include "record/RecordKeeper.h"

#include <chrono>
#include <utility>

std::unique_ptr<TRecordKeeper> TRecordKeeper::Open(const std::string& destination) {
    return std::unique_ptr<TRecordKeeper>(
        new TRecordKeeper(TBackupRecord::Open(destination, true)));
}

TRecordKeeper::TRecordKeeper(std::unique_ptr<TBackupRecord> record) : record_(std::move(record)) {
    for (TRecordRow& row : record_->All()) {
        std::string path = row.path;
        rows_.emplace(std::move(path), Known{std::move(row)});
    }
    writer_ = std::thread([this] { Write(); });
}

TRecordKeeper::~TRecordKeeper() {
    Stop();
}

const TRecordRow* TRecordKeeper::Find(const std::string& path) const {
    const auto found = rows_.find(path);
    return found != rows_.end() ? &found->second.row : nullptr;
}

namespace {
constexpr size_t WakeAtBytes = 32 << 20;
}

void TRecordKeeper::Stored(TRecordRow row, std::unique_ptr<TDeferredSha256> hash) {
    auto [at, added] = rows_.try_emplace(row.path, Known{row, true});
    if (added)
        AddToDirs(row.path);
    if (!added) {
        row.firstStored = at->second.row.firstStored;
        at->second = Known{row, true};
    }
    const size_t bytes = hash ? row.size : 0;
    std::shared_ptr<TDeferredSha256> body(std::move(hash));
    Post(
        [row = std::move(row), body](TBackupRecord& record) mutable {
            if (body)
                row.sha256 = body->Hex();
            record.Stored(row);
        },
        bytes);
}

void TRecordKeeper::Listed(const std::string& path, std::time_t when) {
    if (const auto found = rows_.find(path); found != rows_.end()) {
        found->second.row.lastListed = when;
        found->second.met = true;
        if (found->second.row.state == TRecordState::Gone)
            found->second.row.state = TRecordState::Whole;
    }
    Post([path, when](TBackupRecord& record) { record.Listed(path, when); });
}

void TRecordKeeper::MarkGone(const std::string& path, std::time_t since) {
    if (const auto found = rows_.find(path); found != rows_.end())
        found->second.row.state = TRecordState::Gone;
    Post([path, since](TBackupRecord& record) { record.MarkGone(path, since); });
}

namespace {
std::string DirOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}
} // namespace

void TRecordKeeper::AddToDirs(const std::string& path) {
    if (byDirMade_)
        byDir_[DirOf(path)].push_back(path);
}

std::vector<std::string> TRecordKeeper::PathsIn(const std::string& dir) {
    if (!byDirMade_) {
        byDirMade_ = true;
        for (const auto& [path, known] : rows_)
            AddToDirs(path);
    }
    const auto found = byDir_.find(dir);
    return found != byDir_.end() ? found->second : std::vector<std::string>{};
}

void TRecordKeeper::SetState(const std::string& path, TRecordState state) {
    if (const auto found = rows_.find(path); found != rows_.end())
        found->second.row.state = state;
    Post([path, state](TBackupRecord& record) { record.SetState(path, state); });
}

bool TRecordKeeper::Post(std::function<void(TBackupRecord&)> change, size_t bytes) {
    bool wake = false;
    {
        const std::lock_guard lock(mutex_);
        if (failed_)
            return false;
        pending_.push_back(std::move(change));
        ++posted_;
        pendingBytes_ += bytes;
        wake = pendingBytes_ >= WakeAtBytes;
    }
    // The writer is not woken for each change: it takes them in batches on its own clock, so
    // the job's thread and the writer do not trade places between every two files. Only the
    // bytes kept for hashing may wake it sooner, to bound the memory they take.
    if (wake)
        wake_.notify_one();
    return true;
}

void TRecordKeeper::SetStateCommitted(const std::string& path, TRecordState state) {
    SetState(path, state);
    std::unique_lock lock(mutex_);
    if (!failed_) {
        pending_.push_back([](TBackupRecord& record) { record.Commit(); });
        const uint64_t mine = ++posted_;
        urgent_ = true;
        wake_.notify_one();
        written_.wait(lock, [&] { return done_ >= mine || failed_; });
    }
    if (failed_)
        throw ERecordError(error_.empty() ? "the record could not be written" : error_);
}

// The writing thread: the changes in the order they were told, a commit about once a second
// (also when no change comes), the rest at the end.
void TRecordKeeper::Write() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait_for(lock, std::chrono::milliseconds(100),
                       [this] { return stopping_ || urgent_ || pendingBytes_ >= WakeAtBytes; });
        std::deque<std::function<void(TBackupRecord&)>> batch;
        batch.swap(pending_);
        pendingBytes_ = 0;
        urgent_ = false;
        const uint64_t upTo = posted_;
        const bool last = stopping_;
        lock.unlock();
        std::string error;
        try {
            for (const auto& change : batch)
                change(*record_);
            record_->CommitIfDue();
        } catch (const ERecordError& failure) {
            error = failure.Message();
        } catch (const std::exception& failure) {
            error = failure.what();
        }
        lock.lock();
        if (!error.empty() && !failed_) {
            failed_ = true;
            error_ = error;
            pending_.clear();
        }
        done_ = upTo;
        written_.notify_all();
        if (last && pending_.empty())
            return;
    }
}

void TRecordKeeper::Stop() {
    if (!writer_.joinable())
        return;
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    writer_.join();
}

std::string TRecordKeeper::TakeError() {
    const std::lock_guard lock(mutex_);
    return std::exchange(error_, {});
}

void TRecordKeeper::Finish() {
    Stop();
    if (failed_)
        throw ERecordError(error_.empty() ? "the record could not be written" : error_);
    record_->Commit();
    record_->WriteChecksumList([this](const std::string& path) {
        const auto found = rows_.find(path);
        return found != rows_.end() && found->second.met;
    });
}
