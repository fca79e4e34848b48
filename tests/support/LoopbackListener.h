#pragma once

#include <cstdint>
#include <string>

// What the test servers share: a listening socket on 127.0.0.1 and a non-blocking pipe whose
// read end every poll of the server's threads also watches, so that one byte written to it at
// stop wakes them all.
namespace loopback {

// Listens on 127.0.0.1:port (0: a free port) and makes the wake pipe; returns the port
// listened on. Raises std::runtime_error naming owner when either fails.
uint16_t Listen(int& listenFd, int wakeFds[2], uint16_t port, int backlog,
                const std::string& owner);
// Wakes every poll on wakeFds[0], for good.
void Wake(const int wakeFds[2]);
void Close(int& listenFd, int wakeFds[2]);

} // namespace loopback
