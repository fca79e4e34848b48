#pragma once

#include <cstdint>
#include <functional>
#include <vector>

// Bytes of one transfer: received so far, and the size the peer announced (0 when it did not).
struct TTransferBytes {
    uint64_t received = 0;
    uint64_t announced = 0;
};

// The transfers running right now, each able to tell its own bytes. Nothing is pushed while
// bytes arrive: whoever shows progress reads the sum when it redraws, so a transfer costs a
// registration at its start and nothing more. Several transfers may run at once; each
// registers for as long as it runs.
class TTransferProgress {
public:
    using Reader = std::function<TTransferBytes()>;

    // Registers one transfer for the scope's lifetime, on every path out.
    class Scope {
    public:
        Scope(TTransferProgress& progress, Reader reader);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        TTransferProgress& progress_;
        uint64_t id_;
    };

    // The transfers running now, summed.
    struct Sum {
        int running = 0;
        uint64_t received = 0;
        uint64_t announced = 0;
        // True when a running transfer's size is not known yet, so no fraction can be told.
        bool sizeUnknown = false;
    };
    Sum Total() const;

    // Counts every transfer ever started; a reader that sees it change knows that a transfer
    // ran since it last looked, however short.
    uint64_t Started() const { return nextId_; }

private:
    struct Entry {
        uint64_t id;
        Reader reader;
    };
    std::vector<Entry> running_;
    uint64_t nextId_ = 0;
};
