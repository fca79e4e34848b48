// A peer's bytes through the socket session's line reader: they arrive over a socket pair in
// chunks whose size the first input byte picks, lines are taken as soon as they are complete,
// and a final LF lets the last line end. Every line must be given back whole and in order.

#include "FuzzCheck.h"
#include "net/Powersock.h"
#include "platform/EventWait.h"

#include <QCoreApplication>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <unistd.h>

namespace {

bool HasLineFeed(std::string_view text) {
    return text.find('\n') != std::string_view::npos;
}

void SendAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t sent = ::write(fd, data, size);
        FUZZ_CHECK(sent > 0);
        data += sent;
        size -= static_cast<size_t>(sent);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    // The session waits in the application's event loop.
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const size_t chunk = 1 + data[0] % 97;
    std::string sent(reinterpret_cast<const char*>(data) + 1, size - 1);
    sent += '\n';

    int pair[2];
    FUZZ_CHECK(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) == 0);
    const int peer = pair[1];
    TPowersock session;
    session.AdoptSocket(pair[0]);

    std::string received;
    const auto takeLine = [&]() {
        const std::string line = session.ReadLn();
        FUZZ_CHECK(!line.empty() && line.back() == '\n');
        FUZZ_CHECK(line.find('\n') == line.size() - 1);
        received += line;
    };
    for (size_t at = 0; at < sent.size(); at += chunk) {
        SendAll(peer, sent.data() + at, std::min(chunk, sent.size() - at));
        platform::DispatchPending();
        while (HasLineFeed(session.ReceivedData()))
            takeLine();
    }
    ::close(peer);
    while (received.size() < sent.size())
        takeLine();
    FUZZ_CHECK(received == sent);
    FUZZ_CHECK(session.ReceivedData().empty());
    return 0;
}
