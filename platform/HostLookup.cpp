#include "platform/HostLookup.h"

#include "platform/SocketErrors.h"

#include <QCoreApplication>
#include <arpa/inet.h>
#include <atomic>
#include <netdb.h>
#include <thread>
#include <unordered_map>

namespace platform {

bool ParseDottedAddress(const std::string& name, uint32_t& address) {
    in_addr parsed{};
    if (::inet_pton(AF_INET, name.c_str(), &parsed) != 1)
        return false;
    address = ntohl(parsed.s_addr);
    return true;
}

struct LookupReply::State {
    uint64_t id = 0;
    std::atomic<bool> answered{false};
};

namespace {

// Lookups in progress by id; touched on the GUI thread only.
std::unordered_map<uint64_t, HostLookup::Done>& PendingLookups() {
    static std::unordered_map<uint64_t, HostLookup::Done> pending;
    return pending;
}

uint64_t nextLookupId = 1;

Resolver& InstalledResolver() {
    static Resolver resolver;
    return resolver;
}

} // namespace

void LookupReply::operator()(uint16_t error, uint32_t address) const {
    if (!state_ || state_->answered.exchange(true))
        return;
    QCoreApplication* application = QCoreApplication::instance();
    if (application == nullptr)
        return;
    const uint64_t id = state_->id;
    QMetaObject::invokeMethod(
        application,
        [id, error, address]() {
            auto& pending = PendingLookups();
            const auto found = pending.find(id);
            if (found == pending.end())
                return;
            HostLookup::Done done = std::move(found->second);
            pending.erase(found);
            try {
                done(error, address);
            } catch (...) {
                // The event loop is no place for an exception; the receiver records failures.
            }
        },
        Qt::QueuedConnection);
}

void SetResolver(Resolver resolver) {
    InstalledResolver() = std::move(resolver);
}

void SystemResolver(const std::string& name, LookupReply reply) {
    std::thread([name, reply]() {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* found = nullptr;
        const int result = ::getaddrinfo(name.c_str(), nullptr, &hints, &found);
        uint32_t address = 0;
        uint16_t error = SocketErrorFromLookup(result);
        if (result == 0) {
            error = SocketError::NoData;
            for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
                if (entry->ai_family == AF_INET) {
                    address = ntohl(
                        reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr.s_addr);
                    error = SocketError::None;
                    break;
                }
            }
            ::freeaddrinfo(found);
        }
        reply(error, address);
    }).detach();
}

HostLookup::HostLookup(const std::string& name, Done onDone) : id_(nextLookupId++) {
    PendingLookups().emplace(id_, std::move(onDone));
    auto state = std::make_shared<LookupReply::State>();
    state->id = id_;
    const Resolver& resolver = InstalledResolver();
    if (resolver)
        resolver(name, LookupReply(state));
    else
        SystemResolver(name, LookupReply(state));
}

HostLookup::~HostLookup() {
    PendingLookups().erase(id_);
}

} // namespace platform
