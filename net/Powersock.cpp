#include "net/Powersock.h"

#include "platform/AsyncSocket.h"
#include "platform/EventWait.h"
#include "platform/FileSystem.h"
#include "platform/HostLookup.h"
#include "platform/MessageWindow.h"
#include "platform/SocketErrors.h"
#include "platform/ThreadTimer.h"

#include <arpa/inet.h>
#include <cstdio>

namespace {

constexpr size_t maxHostNameLength = 127;

} // namespace

TPowersock::TPowersock()
    : window_(
          std::make_unique<platform::MessageWindow>([this](int message) { OnMessage(message); })),
      socket_(std::make_unique<platform::AsyncSocket>()), timer_(std::make_unique<TThreadTimer>()),
      chunk_(std::make_unique<char[]>(ReceiveAreaSize)) {
    Report(8, "Create");
    timer_->SetEnabled(false);
    timer_->SetOnTimer([this](TComponent*) { TimerFired(); });
    socket_->SetHandler(
        [this](platform::SocketEvent event, uint16_t error) { OnSocketEvent(event, error); });
    Report(8, "Initializing Winsock");
    try {
        OpenSocket(true);
    } catch (const ESockError&) {
        throw ESockError("Initializaton of windows sockets failed");
    }
}

TPowersock::~TPowersock() {
    // No handler runs from here on: in C++ the owner's members that a handler would touch may
    // already be gone when a member component is destroyed.
    destroying_ = true;
    try {
        Report(8, "Destroy");
        Cancel();
        RequestCancel();
        lookup_.reset();
        CloseSocket();
    } catch (...) {
        // A destructor has nobody to tell; the socket is released by its owner below.
    }
}

// The first socket of a component closes with a reset; the fresh ones that follow a close end
// their connections in order.
void TPowersock::OpenSocket(bool resetOnClose) {
    const uint16_t error = socket_->Create(resetOnClose);
    if (error != 0)
        CheckSocketError(error, platform::SocketError::WouldBlock);
    socket_->Select(platform::EventAll);
}

void TPowersock::AdoptSocket(platform::SocketHandle handle) {
    acceptReply_ = false;
    DropStaged();
    socket_->Adopt(handle);
    socket_->Select(platform::EventAll);
    connected_ = true;
    closeError_ = 0;
}

// ---- notifications ----------------------------------------------------------------------

void TPowersock::OnSocketEvent(unsigned event, uint16_t error) {
    if (event == platform::EventAccept && acceptReply_) {
        OnAcceptReady(error);
        return;
    }
    lastEventOk_ = error == 0;
    switch (event) {
    case platform::EventRead:
        ReadSteps();
        break;
    case platform::EventWrite:
        WriteSteps();
        break;
    case platform::EventAccept:
        connected_ = true;
        break;
    case platform::EventConnect:
        if (error == 0) {
            connected_ = true;
            if (OnConnect)
                OnConnect(this);
        }
        break;
    case platform::EventClose:
        closeError_ = error;
        DrainOnClose();
        break;
    default:
        break;
    }
}

void TPowersock::OnAcceptReady(uint16_t error) {
    asyncDone_ = true;
    lastEventOk_ = error == 0;
    connected_ = true;
    if (!destroying_ && OnDisconnect)
        OnDisconnect(this);
}

void TPowersock::OnLookupReply(uint16_t error, uint32_t address) {
    asyncDone_ = true;
    lastEventOk_ = error == 0;
    lookedUpAddress_ = error == 0 ? address : 0;
}

void TPowersock::OnMessage(int message) {
    if (message == ReadMoreMessage) {
        readMorePending_ = false;
        // A request posted for a connection that has closed since finds nothing to read.
        if (socket_->IsConnected())
            ReadSteps();
    } else if (message == SendMoreMessage) {
        sendMorePending_ = false;
        WriteSteps();
    }
}

// A step that filled a whole chunk would post a read-more request; the next few such requests
// are served here at once, and only the last one is posted.
void TPowersock::ReadSteps() {
    const long chunk = static_cast<long>(ChunkSize);
    int step = 0;
    long taken = 0;
    while ((taken = ReadToStream()) == chunk && !cancelRequested_ && ++step < StepsPerEvent) {
    }
    bool readMore = step == StepsPerEvent;
    if (taken > 0 && taken < chunk && LookForEndWithin != 0 && bytesHeard_ <= LookForEndWithin &&
        !cancelRequested_ && socket_->IsConnected())
        readMore = ReadToStream() == chunk;
    FlushCapture();
    if (readMore)
        PostReadMore();
}

void TPowersock::WriteSteps() {
    for (int step = 0; step < StepsPerEvent; ++step) {
        if (!WriteFromStream() || cancelRequested_)
            return;
    }
    PostSendMore();
}

// A request already on its way does the same work; a second one would only find nothing.
void TPowersock::PostReadMore() {
    if (!readMorePending_) {
        readMorePending_ = true;
        window_->Post(ReadMoreMessage);
    }
}

void TPowersock::PostSendMore() {
    if (!sendMorePending_) {
        sendMorePending_ = true;
        window_->Post(SendMoreMessage);
    }
}

void TPowersock::Wait(const std::function<bool()>& done) {
    platform::WaitUntil([&]() {
        PollAbort();
        return done();
    });
}

bool TPowersock::PollAbort() {
    if (!cancelRequested_ && AbortWhen && AbortWhen())
        RequestCancel();
    return cancelRequested_;
}

// ---- connect and close ------------------------------------------------------------------

void TPowersock::ResolveHost() {
    Report(8, "Resolve Host");
    const std::string& name = Proxy.empty() ? Host : Proxy;
    // The name would be cut to 127 characters on its way to the resolver and could then name
    // another host; it is refused instead.
    if (name.size() > maxHostNameLength)
        throw ESockError("Host name too long (more than 127 characters): " + name.substr(0, 40) +
                         "...");
    if (platform::ParseDottedAddress(name, remoteAddress_))
        return;
    remoteAddress_ = 0;
    StartTimer();
    asyncDone_ = false;
    lookedUpAddress_ = 0;
    lookup_ = std::make_unique<platform::HostLookup>(
        name, [this](uint16_t error, uint32_t address) { OnLookupReply(error, address); });
    Wait([this]() { return asyncDone_ || timedOut_ || cancelRequested_; });
    lookup_.reset(); // an answer that comes later is dropped
    StopTimer();
    if (timedOut_)
        throw ESockError("Host Lookup Timed Out", TFailure::LookupTimedOut);
    if (cancelRequested_)
        throw ESockError("Host Lookup Canceled", TFailure::Cancelled);
    if (!lastEventOk_)
        throw ESockError("Host Lookup Failed", TFailure::LookupFailed);
    remoteAddress_ = lookedUpAddress_;
    if (OnHostResolved)
        OnHostResolved(this);
}

void TPowersock::Connect() {
    Report(8, "Connecting");
    cancelRequested_ = false;
    if (connected_)
        throw ESockError("Already connected");
    // Bytes of an earlier connection mean nothing to this one, nor how it ended.
    receiveStream_.Clear();
    DropStaged();
    closeError_ = 0;
    bytesHeard_ = 0;
    sendStream_.Clear();

    for (int retry = 0;; ++retry) {
        try {
            ResolveHost();
        } catch (const ESockError& error) {
            if (error.Kind() != TFailure::LookupFailed)
                throw;
        }
        if (remoteAddress_ != 0)
            break;
        if (retry > 0 || !OnInvalidHost)
            throw ESockError("Null Remote Address", TFailure::NoAddress);
        bool handled = false;
        OnInvalidHost(handled);
        if (!handled)
            throw ESockError("Null Remote Address", TFailure::NoAddress);
    }

    const int port = Proxy.empty() ? Port : ProxyPort;
    if (port < 0 || port > 65535)
        throw ESockError("Invalid port number " + std::to_string(port), TFailure::BadPort);
    remotePort_ = static_cast<uint16_t>(port);

    asyncDone_ = false;
    lastEventOk_ = true;
    // A socket whose earlier connect failed, timed out or was cancelled cannot connect again;
    // a fresh one takes its place, so one refused connection does not spoil all later ones.
    if (!socket_->IsOpen() || socket_->ConnectStarted())
        OpenSocket(false);
    const uint16_t error = socket_->Connect(remoteAddress_, remotePort_);
    if (error != 0)
        CheckSocketError(error, platform::SocketError::WouldBlock);
    StartTimer();
    Wait([this]() { return connected_ || timedOut_ || cancelRequested_ || !lastEventOk_; });
    StopTimer();
    if (!timedOut_ && !cancelRequested_ && lastEventOk_)
        return;
    if (OnConnectionFailed)
        OnConnectionFailed(this);
    if (timedOut_)
        throw ESockError("Connection Timed out", TFailure::ConnectTimedOut);
    if (cancelRequested_)
        throw ESockError("Connection Canceled", TFailure::Cancelled);
    throw ESockError("Connection Failed", TFailure::ConnectFailed);
}

void TPowersock::Disconnect() {
    Report(8, "Disconnecting");
    CloseSocket();
}

void TPowersock::CloseSocket() {
    Report(4, "Request Close Socket");
    connected_ = false;
    acceptReply_ = false;
    // What was queued for this connection cannot go anywhere else, and what it brought but no
    // step took stays unread, as if still in the system's buffer.
    sendStream_.Clear();
    DropStaged();
    if (socket_->IsOpen()) {
        // The socket the peer's close left in place has not been used: it stays, rather than
        // being closed and made again (a disconnect after the peer's close, once per request).
        if (!socket_->Fresh() || destroying_) {
            const uint16_t error = socket_->Close();
            if (error != 0) {
                CheckSocketError(error, platform::SocketError::WouldBlock);
                return;
            }
        }
        if (!destroying_ && OnDisconnect)
            OnDisconnect(this);
    }
    if (!destroying_ && !socket_->IsOpen())
        OpenSocket(false);
}

void TPowersock::CheckConnected() {
    if (connected_)
        return;
    if (OnConnectionRequired) {
        bool handled = false;
        OnConnectionRequired(handled);
        if (handled && connected_)
            return;
    }
    throw Exception("Not Connected");
}

// ---- cancel and time-out ----------------------------------------------------------------

void TPowersock::Cancel() {}

void TPowersock::RequestCancel() {
    Report(8, "Canceling");
    cancelRequested_ = true;
}

void TPowersock::StartTimer() {
    Report(8, "Timer On");
    timedOut_ = false;
    timer_->SetInterval(TimeOut > 0 ? static_cast<uint32_t>(TimeOut) : 0);
    timer_->SetEnabled(true);
}

void TPowersock::StopTimer() {
    Report(8, "Timer Off");
    timer_->SetEnabled(false);
}

void TPowersock::TimerFired() {
    Report(8, "Timer Triggered");
    StopTimer();
    timedOut_ = true;
    Cancel();
}

// ---- listen and accept ------------------------------------------------------------------

void TPowersock::Listen(bool UseAcceptReply, uint32_t Address) {
    Report(8, "Listening");
    asyncDone_ = false;
    if (Port < 0 || Port > 65535)
        throw ESockError("Invalid port number " + std::to_string(Port), TFailure::BadPort);
    // Bind and listen are not checked: a failed listen shows as an accept that never comes,
    // which Cancel ends.
    socket_->Bind(Address, static_cast<uint16_t>(Port));
    acceptReply_ = UseAcceptReply;
    socket_->Select(platform::EventAccept);
    socket_->Listen(1);
}

platform::SocketHandle TPowersock::Accept() {
    for (;;) {
        Wait([this]() { return asyncDone_ || cancelRequested_; });
        if (cancelRequested_)
            throw ESockError("Accepting Canceled", TFailure::Cancelled);
        if (!lastEventOk_)
            throw ESockError("Error creating Data Connection");
        Report(4, "Accepting");
        uint32_t peerAddress = 0;
        uint16_t peerPort = 0;
        uint16_t error = 0;
        const platform::SocketHandle handle = socket_->Accept(peerAddress, peerPort, error);
        if (handle == platform::InvalidSocket)
            throw ESockError("Error creating Data Connection");
        const bool stranger = AcceptOnlyFrom != 0 && peerAddress != AcceptOnlyFrom;
        if (stranger || cancelRequested_) {
            platform::AsyncSocket discard;
            discard.Adopt(handle); // closed with it
        }
        if (stranger) {
            // Whoever else reaches the port first must not supply the data; the next
            // connection is announced again.
            asyncDone_ = false;
            continue;
        }
        remoteAddress_ = peerAddress;
        remotePort_ = peerPort;
        if (cancelRequested_) {
            cancelRequested_ = false;
            throw EAbortError("Socket send aborted");
        }
        return handle;
    }
}

uint32_t TPowersock::LocalAddress() const {
    uint32_t address = 0;
    uint16_t port = 0;
    return socket_->LocalName(address, port) ? address : 0;
}

std::string TPowersock::LocalAddressCommas() {
    uint32_t address = 0;
    uint16_t port = 0;
    socket_->LocalName(address, port);
    char text[32];
    std::snprintf(text, sizeof text, "%u,%u,%u,%u", (address >> 24) & 255, (address >> 16) & 255,
                  (address >> 8) & 255, address & 255);
    return text;
}

std::string TPowersock::LocalPortCommas() {
    uint32_t address = 0;
    uint16_t port = 0;
    socket_->LocalName(address, port);
    char text[32];
    std::snprintf(text, sizeof text, ",%d,%d", port / 256, port % 256);
    return text;
}

// ---- errors, status and properties ------------------------------------------------------

void TPowersock::CheckSocketError(uint16_t error, uint16_t tolerated) {
    Report(16, "Checking Error In Error Manager");
    lastError_ = error;
    if (error == tolerated)
        return;
    ESockError failure = SocketFailure(error);
    if (OnError)
        OnError(this, error, failure.Message());
    throw failure;
}

void TPowersock::ReportStatus(uint8_t Level, const std::string& Text) {
    if (Level > ReportLevel)
        return;
    statusText_ = Text;
    if (!destroying_ && OnStatus)
        OnStatus(this, Text);
}

bool TPowersock::Connected() const {
    return connected_;
}
bool TPowersock::CancelRequested() const {
    return cancelRequested_;
}
int16_t TPowersock::ReplyCode() const {
    return replyCode_;
}
const std::string& TPowersock::LastReply() const {
    return lastReply_;
}
const std::string& TPowersock::StatusText() const {
    return statusText_;
}
uint16_t TPowersock::LastError() const {
    return lastError_;
}
uint32_t TPowersock::BytesSent() const {
    return bytesSent_;
}
uint32_t TPowersock::BytesReceived() const {
    return bytesReceived_;
}
uint32_t TPowersock::BytesExpected() const {
    return bytesExpected_;
}
void TPowersock::SetReplyCode(int16_t code) {
    replyCode_ = code;
}
void TPowersock::SetBytesExpected(uint32_t count) {
    bytesExpected_ = count;
}
void TPowersock::SetAsyncDone(bool done) {
    asyncDone_ = done;
}
