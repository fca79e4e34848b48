#pragma once

#include <vector>

// A loopback listener whose accept queue is full: Linux drops further connection requests, so
// a connect to Port() gets no answer and waits until a time-out or Cancel ends it.
class FullBacklog {
public:
    FullBacklog();
    ~FullBacklog();
    FullBacklog(const FullBacklog&) = delete;
    FullBacklog& operator=(const FullBacklog&) = delete;

    int Port() const { return port_; }

private:
    int listener_ = -1;
    int port_ = 0;
    std::vector<int> fillers_;
};
