#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

// Asynchronous host name lookup. A lookup runs off the GUI thread and its answer comes back to
// the GUI thread through the event loop, where a wait sees it. The resolver is a hook, so that
// tests answer from a table (or never) instead of asking the network.
namespace platform {

// The answer channel handed to a resolver. Call it once, from any thread, with an error number
// (SocketErrors.h; 0 on success) and the first IPv4 address found (host byte order). Later calls
// and calls for a lookup that was given up in the meantime are ignored.
class LookupReply {
public:
    void operator()(uint16_t error, uint32_t address) const;

private:
    friend class HostLookup;
    struct State;
    explicit LookupReply(std::shared_ptr<State> state) : state_(std::move(state)) {}
    std::shared_ptr<State> state_;
};

// Only a plain dotted quad is taken as an address (host byte order); anything else is a name to
// look up.
bool ParseDottedAddress(const std::string& name, uint32_t& address);

// Starts the lookup of name and answers through reply, now or later, on any thread.
using Resolver = std::function<void(const std::string& name, LookupReply reply)>;

// Installs the resolver used by every later lookup; an empty one restores the system's.
void SetResolver(Resolver resolver);
// The system's resolver: getaddrinfo() for IPv4 on a short-lived thread of its own.
void SystemResolver(const std::string& name, LookupReply reply);

// One lookup started on the GUI thread. Its answer reaches onDone on the GUI thread, from the
// event loop, unless the lookup is destroyed first; then the answer is dropped.
class HostLookup {
public:
    using Done = std::function<void(uint16_t error, uint32_t address)>;
    HostLookup(const std::string& name, Done onDone);
    ~HostLookup();
    HostLookup(const HostLookup&) = delete;
    HostLookup& operator=(const HostLookup&) = delete;

private:
    uint64_t id_;
};

} // namespace platform
