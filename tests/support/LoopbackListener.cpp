#include "tests/support/LoopbackListener.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace loopback {

uint16_t Listen(int& listenFd, int wakeFds[2], uint16_t port, int backlog,
                const std::string& owner) {
    listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    ::setsockopt(listenFd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    socklen_t length = sizeof address;
    if (::bind(listenFd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listenFd, backlog) != 0 ||
        ::getsockname(listenFd, reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        ::pipe2(wakeFds, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::runtime_error(owner + ": cannot listen on 127.0.0.1 port " +
                                 std::to_string(port) + ": " + std::strerror(errno));
    return ntohs(address.sin_port);
}

void Wake(const int wakeFds[2]) {
    const char byte = 0;
    [[maybe_unused]] const ssize_t ignored = ::write(wakeFds[1], &byte, 1);
}

void Close(int& listenFd, int wakeFds[2]) {
    for (int* fd : {&listenFd, &wakeFds[0], &wakeFds[1]}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

} // namespace loopback
