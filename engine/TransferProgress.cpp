#include "engine/TransferProgress.h"

#include <algorithm>

TTransferProgress::Scope::Scope(TTransferProgress& progress, Reader reader)
    : progress_(progress), id_(progress.nextId_++) {
    progress_.running_.push_back({id_, std::move(reader)});
}

TTransferProgress::Scope::~Scope() {
    auto& running = progress_.running_;
    running.erase(std::remove_if(running.begin(), running.end(),
                                 [this](const Entry& entry) { return entry.id == id_; }),
                  running.end());
}

TTransferProgress::Sum TTransferProgress::Total() const {
    Sum sum;
    for (const Entry& entry : running_) {
        const TTransferBytes bytes = entry.reader();
        ++sum.running;
        sum.received += bytes.received;
        sum.announced += bytes.announced;
        // A body longer than announced has no meaningful fraction either.
        if (bytes.announced == 0 || bytes.received > bytes.announced)
            sum.sizeUnknown = true;
    }
    return sum;
}
