#include "platform/AsyncSocket.h"

#include "platform/EventWait.h"
#include "platform/SocketErrors.h"

#include <QSocketNotifier>
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {
namespace {

sockaddr_in MakeAddress(uint32_t address, uint16_t port) {
    sockaddr_in result{};
    result.sin_family = AF_INET;
    result.sin_port = htons(port);
    result.sin_addr.s_addr = htonl(address);
    return result;
}

} // namespace

AsyncSocket::AsyncSocket()
    : readNotifier_(new QSocketNotifier(QSocketNotifier::Read, this)),
      writeNotifier_(new QSocketNotifier(QSocketNotifier::Write, this)) {
    readNotifier_->setEnabled(false);
    writeNotifier_->setEnabled(false);
    connect(readNotifier_, &QSocketNotifier::activated, this, [this]() { OnReadable(); });
    connect(writeNotifier_, &QSocketNotifier::activated, this, [this]() { OnWritable(); });
}

AsyncSocket::~AsyncSocket() {
    ForgetCalls(this);
    Close();
}

void AsyncSocket::ResetState() {
    ++generation_;
    phase_ = Phase::Idle;
    writeWanted_ = false;
    acceptPending_ = false;
    peerClosed_ = false;
    connectStarted_ = false;
}

void AsyncSocket::AttachNotifiers() {
    readNotifier_->setEnabled(false);
    writeNotifier_->setEnabled(false);
    readNotifier_->setSocket(fd_);
    writeNotifier_->setSocket(fd_);
    UpdateNotifiers();
}

uint16_t AsyncSocket::Create(bool resetOnClose) {
    Close();
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0)
        return SocketErrorFromErrno(errno);
    if (resetOnClose) {
        const linger option{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &option, sizeof option);
    }
    fd_ = fd;
    ResetState();
    fresh_ = !resetOnClose;
    AttachNotifiers();
    return SocketError::None;
}

void AsyncSocket::Adopt(SocketHandle handle) {
    Close();
    fd_ = handle;
    ResetState();
    fresh_ = false;
    phase_ = Phase::Connected;
    writeWanted_ = true; // a taken-over connection announces once that it can send
    AttachNotifiers();
}

uint16_t AsyncSocket::Close() {
    if (fd_ == InvalidSocket)
        return SocketError::None;
    readNotifier_->setEnabled(false);
    writeNotifier_->setEnabled(false);
    readNotifier_->setSocket(InvalidSocket);
    writeNotifier_->setSocket(InvalidSocket);
    const int result = ::close(fd_);
    const int savedErrno = errno;
    fd_ = InvalidSocket;
    ResetState();
    // Even a failed close() releases the descriptor on Linux; report the error all the same.
    return result == 0 || savedErrno == EINTR ? SocketError::None
                                              : SocketErrorFromErrno(savedErrno);
}

void AsyncSocket::Select(unsigned eventMask) {
    mask_ = eventMask;
    UpdateNotifiers();
}

void AsyncSocket::UpdateNotifiers() {
    if (fd_ == InvalidSocket)
        return;
    bool wantRead = false;
    if (phase_ == Phase::Listening)
        wantRead = (mask_ & EventAccept) != 0 && !acceptPending_;
    else if (phase_ == Phase::Connected)
        wantRead = (mask_ & (EventRead | EventClose)) != 0 && !peerClosed_;
    bool wantWrite = false;
    if (phase_ == Phase::Connecting)
        wantWrite = (mask_ & (EventConnect | EventWrite)) != 0;
    else if (phase_ == Phase::Connected)
        wantWrite = (mask_ & EventWrite) != 0 && writeWanted_;
    if (readNotifier_->isEnabled() != wantRead)
        readNotifier_->setEnabled(wantRead);
    if (writeNotifier_->isEnabled() != wantWrite)
        writeNotifier_->setEnabled(wantWrite);
}

bool AsyncSocket::Deliver(SocketEvent event, uint16_t error) {
    const uint64_t generation = generation_;
    if ((mask_ & event) != 0 && handler_) {
        try {
            handler_(event, error);
        } catch (...) {
            // A notification handler has no caller to report to; the owner records errors.
        }
    }
    return generation == generation_;
}

void AsyncSocket::OnReadable() {
    if (phase_ == Phase::Listening) {
        acceptPending_ = true;
        UpdateNotifiers();
        Deliver(EventAccept, SocketError::None);
    } else if (phase_ == Phase::Connected && !peerClosed_) {
        Deliver(EventRead, SocketError::None);
    }
}

void AsyncSocket::OnWritable() {
    if (phase_ == Phase::Connecting) {
        int soError = 0;
        socklen_t length = sizeof soError;
        if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &soError, &length) != 0)
            soError = errno;
        FinishConnect(soError);
        return;
    }
    writeWanted_ = false;
    UpdateNotifiers();
    Deliver(EventWrite, SocketError::None);
}

void AsyncSocket::FinishConnect(int soError) {
    if (soError != 0) {
        phase_ = Phase::Idle;
        UpdateNotifiers();
        Deliver(EventConnect, SocketErrorFromErrno(soError));
        return;
    }
    phase_ = Phase::Connected;
    UpdateNotifiers();
    if (Deliver(EventConnect, SocketError::None))
        Deliver(EventWrite, SocketError::None);
}

// A socket has a peer only once its connection is established (a failed or a running connect
// has none); asking for it is the lightest way to tell.
bool AsyncSocket::Established() const {
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    return ::getpeername(fd_, reinterpret_cast<sockaddr*>(&peer), &length) == 0;
}

void AsyncSocket::PeerClosed(uint16_t error) {
    if (peerClosed_)
        return;
    peerClosed_ = true;
    UpdateNotifiers();
    // The close is raised from the event loop, not from inside the receive that noticed it, so
    // that the receiving handler finishes before the close handler runs.
    if ((mask_ & EventClose) != 0) {
        OweCall(this, [this, generation = generation_, error]() {
            if (generation == generation_)
                Deliver(EventClose, error);
        });
    }
}

uint16_t AsyncSocket::Connect(uint32_t address, uint16_t port) {
    const sockaddr_in target = MakeAddress(address, port);
    connectStarted_ = true;
    fresh_ = false;
    int result;
    do {
        result = ::connect(fd_, reinterpret_cast<const sockaddr*>(&target), sizeof target);
    } while (result != 0 && errno == EINTR);
    if (result != 0 && errno != EINPROGRESS)
        return SocketErrorFromErrno(errno);
    // Even an instant success is announced by the connect event, as the caller waits for it.
    phase_ = Phase::Connecting;
    if (result == 0 || Established()) {
        // The system often completes the connection inside connect (always to an address of
        // this host): it is announced from the loop at once, without first waiting for the poll
        // that would only say so.
        OweCall(this, [this, generation = generation_]() {
            if (generation == generation_ && phase_ == Phase::Connecting)
                FinishConnect(0);
        });
        return SocketError::WouldBlock;
    }
    UpdateNotifiers();
    return SocketError::WouldBlock;
}

uint16_t AsyncSocket::Bind(uint32_t address, uint16_t port) {
    fresh_ = false;
    const sockaddr_in local = MakeAddress(address, port);
    if (::bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)
        return SocketErrorFromErrno(errno);
    return SocketError::None;
}

uint16_t AsyncSocket::Listen(int backlog) {
    fresh_ = false;
    if (::listen(fd_, backlog) != 0)
        return SocketErrorFromErrno(errno);
    phase_ = Phase::Listening;
    acceptPending_ = false;
    UpdateNotifiers();
    return SocketError::None;
}

SocketHandle AsyncSocket::Accept(uint32_t& peerAddress, uint16_t& peerPort, uint16_t& error) {
    sockaddr_in peer{};
    socklen_t length = sizeof peer;
    int fd;
    do {
        fd = ::accept4(fd_, reinterpret_cast<sockaddr*>(&peer), &length,
                       SOCK_NONBLOCK | SOCK_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    error = fd < 0 ? SocketErrorFromErrno(errno) : SocketError::None;
    // The next waiting connection is announced again, as after the classic accept.
    acceptPending_ = false;
    UpdateNotifiers();
    peerAddress = fd < 0 ? 0 : ntohl(peer.sin_addr.s_addr);
    peerPort = fd < 0 ? 0 : ntohs(peer.sin_port);
    return fd < 0 ? InvalidSocket : fd;
}

long AsyncSocket::Receive(char* buffer, size_t size, uint16_t& error) {
    // Once a receive has found the end of the stream (or its error) nothing more can come: the
    // close handler's own receives end at once, without asking the system again.
    if (peerClosed_) {
        error = SocketError::None;
        return 0;
    }
    ssize_t count;
    do {
        count = ::recv(fd_, buffer, size, 0);
    } while (count < 0 && errno == EINTR);
    if (count > 0) {
        error = SocketError::None;
        return static_cast<long>(count);
    }
    if (count == 0) {
        error = SocketError::None;
        if (phase_ == Phase::Connected)
            PeerClosed(SocketError::None);
        return 0;
    }
    error = SocketErrorFromErrno(errno);
    if (error != SocketError::WouldBlock && phase_ == Phase::Connected)
        PeerClosed(error);
    return -1;
}

long AsyncSocket::Send(const char* data, size_t size, uint16_t& error) {
    ssize_t count;
    do {
        count = ::send(fd_, data, size, MSG_NOSIGNAL);
    } while (count < 0 && errno == EINTR);
    error = count < 0 ? SocketErrorFromErrno(errno) : SocketError::None;
    // Linux says "broken pipe" for a socket that never was connected, too.
    if (count < 0 && errno == EPIPE && phase_ != Phase::Connected)
        error = SocketError::NotConnected;
    if ((count >= 0 && static_cast<size_t>(count) < size) || error == SocketError::WouldBlock) {
        writeWanted_ = true;
        UpdateNotifiers();
    }
    return count < 0 ? -1 : static_cast<long>(count);
}

bool AsyncSocket::LocalName(uint32_t& address, uint16_t& port) const {
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (fd_ == InvalidSocket ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        address = 0;
        port = 0;
        return false;
    }
    address = ntohl(local.sin_addr.s_addr);
    port = ntohs(local.sin_port);
    return true;
}

} // namespace platform
