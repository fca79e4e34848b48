#pragma once

#include "platform/SocketHandle.h"

#include <QObject>
#include <cstddef>
#include <cstdint>
#include <functional>

class QSocketNotifier;

namespace platform {

// The notifications a socket can raise. Each reaches the handler on the GUI thread, from the
// event loop, with an error number (see SocketErrors.h) that is 0 when all went well.
enum SocketEvent : unsigned {
    EventRead = 1,      // data can be received
    EventWrite = 2,     // once after connecting, and again after a send that could not finish
    EventOutOfBand = 4, // never raised; kept so that masks read like the classic ones
    EventAccept = 8,    // a listening socket has a connection waiting; once until Accept()
    EventConnect = 16,  // a connect finished, with its error
    EventClose = 32,    // the peer closed or reset the connection; raised once
    EventAll = 63,
};

// One non-blocking IPv4 TCP socket whose readiness reaches a handler as events, the way the
// classic asynchronous socket notifications did. The object lives as long as its owner; the
// socket inside it is closed and replaced as connections come and go, and events of a socket
// that was closed in the meantime are dropped.
//
// Readiness is level-triggered underneath; the events are not allowed to spin the loop: a
// write event is wanted only after a connect or after a send that stopped short, a close is
// raised once and ends the read notifications, and an accept waits for Accept().
class AsyncSocket final : public QObject {
public:
    using Handler = std::function<void(SocketEvent event, uint16_t error)>;

    AsyncSocket();
    ~AsyncSocket() override;
    AsyncSocket(const AsyncSocket&) = delete;
    AsyncSocket& operator=(const AsyncSocket&) = delete;

    void SetHandler(Handler handler) { handler_ = std::move(handler); }

    // Opens a fresh unconnected socket in place of the current one (which must be closed).
    // With resetOnClose its close sends a reset instead of the orderly end.
    uint16_t Create(bool resetOnClose);
    // Takes over a connected socket (from Accept), closing the current one without events.
    void Adopt(SocketHandle handle);
    // Closes the socket; no event of it is raised afterwards.
    uint16_t Close();
    bool IsOpen() const { return fd_ != InvalidSocket; }
    // True from the connect event (or adoption) until the socket is closed or replaced.
    bool IsConnected() const { return phase_ == Phase::Connected; }
    // True once a connect was started on this socket; such a socket cannot start another.
    bool ConnectStarted() const { return connectStarted_; }
    // True for a socket made by Create without resetOnClose on which nothing has been done
    // since: closing it and making another would give the very same socket.
    bool Fresh() const { return fd_ != InvalidSocket && fresh_; }
    SocketHandle Handle() const { return fd_; }

    // Chooses which events reach the handler; 0 switches them all off.
    void Select(unsigned eventMask);

    // Starts a connect to an IPv4 address and port (both in host byte order). Returns
    // WouldBlock while it runs on (the connect event tells how it ended), or the error.
    uint16_t Connect(uint32_t address, uint16_t port);
    uint16_t Bind(uint32_t address, uint16_t port);
    uint16_t Listen(int backlog);
    // Takes the waiting connection; InvalidSocket and the error when there is none.
    SocketHandle Accept(uint32_t& peerAddress, uint16_t& peerPort, uint16_t& error);

    // Returns the count received, 0 when the peer has closed, or -1 with the error (WouldBlock
    // when nothing is there yet).
    long Receive(char* buffer, size_t size, uint16_t& error);
    // Returns the count handed to the system (possibly short), or -1 with the error.
    long Send(const char* data, size_t size, uint16_t& error);

    // The local address and port of the socket, host byte order; false when it has none.
    bool LocalName(uint32_t& address, uint16_t& port) const;

private:
    enum class Phase { Idle, Connecting, Connected, Listening };

    void ResetState();
    void AttachNotifiers();
    void UpdateNotifiers();
    void OnReadable();
    void OnWritable();
    void FinishConnect(int soError);
    // True when the connection started has completed already.
    bool Established() const;
    void PeerClosed(uint16_t error);
    // Calls the handler; false when the handler replaced or closed the socket meanwhile.
    bool Deliver(SocketEvent event, uint16_t error);

    Handler handler_;
    SocketHandle fd_ = InvalidSocket;
    uint64_t generation_ = 0;
    unsigned mask_ = 0;
    Phase phase_ = Phase::Idle;
    bool writeWanted_ = false;
    bool acceptPending_ = false;
    bool peerClosed_ = false;
    bool connectStarted_ = false;
    bool fresh_ = false;
    QSocketNotifier* readNotifier_;
    QSocketNotifier* writeNotifier_;
};

} // namespace platform
