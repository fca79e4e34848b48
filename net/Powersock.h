#pragma once

#include "net/ByteQueue.h"
#include "platform/Component.h"
#include "platform/Exceptions.h"
#include "platform/SocketHandle.h"

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

class TFileStream;
class TThreadTimer;
namespace platform {
class AsyncSocket;
class HostLookup;
class MessageWindow;
} // namespace platform

class ESockError : public Exception {
public:
    explicit ESockError(std::string message, TFailure kind = TFailure::Socket)
        : Exception(std::move(message), kind) {}
};

// A blocking operation ended by Cancel.
class EAbortError : public ESockError {
public:
    explicit EAbortError(std::string message, TFailure kind = TFailure::Cancelled)
        : ESockError(std::move(message), kind) {}
};

using TOnHostResolved = std::function<void(TComponent* Sender)>;
using TOnStatus = std::function<void(TComponent* Sender, const std::string& Status)>;
using TOnErrorEvent =
    std::function<void(TComponent* Sender, uint16_t Errno, const std::string& Errmsg)>;

// A socket session: one TCP connection whose blocking operations (connect, write, read a line,
// capture into a file, accept) wait on the GUI thread while the event loop goes on, so the
// window stays responsive and a Cancel from a timer or a button ends the wait. Statuses are
// raised through OnStatus when their level is not above ReportLevel.
//
// CancelRequested is set only by RequestCancel. Connect clears it first thing. SendBuffer/Write,
// Read, CaptureFile, CaptureString, SendFile and a late cancel in Accept clear it when they
// raise for it; it stays set after "Socket readln aborted", "Accepting Canceled" and the lookup
// and connect failures. While it is set, a write sends nothing and raises nothing, and ReadLn
// raises at once.
class TPowersock : public TComponent {
public:
    TPowersock();
    ~TPowersock() override;

    // Published.
    std::string Host;
    int Port = 0;
    int TimeOut = 0; // milliseconds, for the name lookup and the connect; 0 = no limit
    int ReportLevel = 0;
    // The longest line ReadLn waits for, in bytes; 0 = no limit. A peer that sends bytes without
    // ever ending the line would otherwise fill memory while the wait still sees it as alive.
    size_t MaxLineLength = 0;
    // When set, ReadLn raises ESockError "Connection closed by peer" once the peer has closed
    // and no line end is buffered, instead of waiting on until Cancel: a reply that can no
    // longer come must not hold the program. The fragment stays in ReceivedData.
    bool ReadLnEndsAtClose = false;
    // When nonzero, the peer ends the connection as soon as its answer is sent (HTTP/1.0). A
    // receive step that took less than a whole chunk, while no more than this many bytes have
    // come on the connection, is followed at once by one more: the end of a short answer has
    // usually come with it, and finding it now saves a trip through the event loop. A long body
    // arriving in pieces is left alone, where a look that finds nothing would only cost a call.
    size_t LookForEndWithin = 0;
    // Tested in every wait of this session: once it returns true the wait ends as a Cancel
    // would end it. The owner's Cancel button reaches a wait this way without a call of its own.
    std::function<bool()> AbortWhen;
    // Accept takes a connection only from this address (host byte order) and closes any other,
    // waiting on for the right one; 0 takes anyone.
    uint32_t AcceptOnlyFrom = 0;
    TNotifyEvent OnConnect;
    TNotifyEvent OnDisconnect;
    TNotifyEvent OnConnectionFailed;
    THandlerEvent OnInvalidHost;
    TOnHostResolved OnHostResolved;
    TOnStatus OnStatus;

    // Published by descendants.
    std::string Proxy;
    int ProxyPort = 0;
    TOnErrorEvent OnError;
    THandlerEvent OnConnectionRequired;
    TNotifyEvent OnPacketRecvd;
    TNotifyEvent OnPacketSent;

    // Waits for the connection that Listen(true) announced and takes it. The caller adopts the
    // returned socket with AdoptSocket (usually on this same component, replacing the listening
    // socket) or closes it.
    virtual platform::SocketHandle Accept();
    // Host (or Proxy) names longer than 127 characters and ports outside 0..65535 raise
    // ESockError ("Host name too long ...", "Invalid port number <n>") instead of being cut.
    virtual void Connect();
    virtual void Disconnect();
    // Writeln, then ReadLn; ReplyCode from the reply's leading digits. A number too large for
    // the 16-bit ReplyCode raises ESockError "Reply code out of range: <digits>".
    virtual std::string Transaction(const std::string& Command);
    virtual void Cancel();

    void RequestCancel();
    void CheckConnected();
    // Sends the whole text (up to a NUL character, if it holds one) and waits until the socket
    // has taken it; a broken connection raises ESockError with the error text.
    void Write(const std::string& Text);
    void Writeln(const std::string& Text);
    void SendBuffer(const char* Data, uint16_t Count);
    // Waits for a line feed, however long the line; the result keeps its line end. It also
    // waits on after the peer has closed, until Cancel (see ReceivedData), unless
    // ReadLnEndsAtClose is set.
    std::string ReadLn();
    std::string Read(uint16_t Count);
    void SendFile(const std::string& FileName);
    void CaptureFile(const std::string& FileName);
    // CaptureFile into a file already open (a partial file whose descriptor holds its lock),
    // emptied first.
    void CaptureInto(TFileStream& File);
    void CaptureString(std::string& Text, int Count);
    // Listens on Address (host byte order; 0 = every local address) and Port.
    void Listen(bool UseAcceptReply, uint32_t Address = 0);
    // Sets CancelRequested when AbortWhen asks for it; returns CancelRequested.
    bool PollAbort();
    std::string LocalAddressCommas();
    std::string LocalPortCommas();
    std::string ErrorText(uint16_t Code);
    // ESockError with ErrorText(Code), of the kind the code names.
    ESockError SocketFailure(uint16_t Code);
    void CloseSocket();
    void ReportStatus(uint8_t Level, const std::string& Text);

    // Replaces this component's socket (a listening one, say) by a connected one from Accept,
    // closing the old socket without events, and directs all six notifications to this one.
    void AdoptSocket(platform::SocketHandle handle);

    // The received bytes not yet consumed by ReadLn, Read or a capture. A line reader can tell
    // from it (and Connected) when a last fragment without a line feed will not be completed;
    // Read(0) takes such a fragment.
    std::string_view ReceivedData() const { return receiveStream_.View(); }

    bool Connected() const;
    // The addresses of the connection, host byte order; 0 when not known.
    uint32_t LocalAddress() const;
    uint32_t RemoteAddress() const { return remoteAddress_; }
    bool CancelRequested() const;
    bool TimedOut() const { return timedOut_; }
    int16_t ReplyCode() const;
    const std::string& LastReply() const;
    const std::string& StatusText() const;
    uint16_t LastError() const;
    // The error that ended the latest connection from the server's side (a reset, say); 0 when
    // the server closed it in order or it has not ended. A body that ends in an error was cut
    // off, whatever the close itself looks like.
    uint16_t CloseError() const { return closeError_; }
    // Every byte received on the latest connection, whatever it was read as.
    uint64_t BytesHeard() const { return bytesHeard_; }
    uint32_t BytesSent() const;
    uint32_t BytesReceived() const;
    uint32_t BytesExpected() const;
    // True while CaptureFile writes what arrives to its file; BytesReceived then counts it.
    bool Capturing() const { return captureFile_ != nullptr; }

protected:
    void SetReplyCode(int16_t code);
    void SetBytesExpected(uint32_t count);
    void SetAsyncDone(bool done);
    // A protocol that starts a new exchange forgets a cancel meant for the one before.
    void ClearCancelRequest() { cancelRequested_ = false; }
    // Called after every receive step that did not fail, with this component as Sender.
    void SetReceiveHook(TNotifyEvent hook) { receiveHook_ = std::move(hook); }

private:
    // Data moves in chunks of at most this many bytes per receive and per send.
    static constexpr size_t ChunkSize = 16383;
    // Steps run back to back for one event before the rest is left to a posted request, so a
    // fast stream costs few trips through the event loop yet never keeps the loop waiting
    // longer than a few chunks.
    static constexpr int StepsPerEvent = 8;
    static constexpr size_t ReceiveAreaSize = StepsPerEvent * ChunkSize;
    // Requests the component posts to itself.
    enum Message { ReadMoreMessage = 1, SendMoreMessage = 2 };

    // Statuses are filtered before their text is made, as some come once per chunk.
    void Report(uint8_t level, const char* text) {
        if (level <= ReportLevel)
            ReportStatus(level, text);
    }

    void OpenSocket(bool resetOnClose);
    void OnSocketEvent(unsigned event, uint16_t error);
    void OnMessage(int message);
    void OnAcceptReady(uint16_t error);
    void OnLookupReply(uint16_t error, uint32_t address);
    // One receive step; what it took (a whole chunk: more may be waiting), 0 or -1.
    long ReadToStream();
    // One send step; true when it sent a whole chunk and more is queued.
    bool WriteFromStream();
    void ReadSteps();
    void WriteSteps();
    void DrainOnClose();
    long ReceiveChunk(uint16_t& error);
    void FlushCapture();
    void StageAtStart();
    void DropStaged();
    void CaptureTo(TFileStream& file);
    void PostReadMore();
    void PostSendMore();
    void SendBytes(const char* data, size_t count);
    void StartSending();
    void ResolveHost();
    void StartTimer();
    void StopTimer();
    void TimerFired();
    void CheckSocketError(uint16_t error, uint16_t tolerated);
    void Wait(const std::function<bool()>& done);

    std::unique_ptr<platform::MessageWindow> window_;
    std::unique_ptr<platform::AsyncSocket> socket_;
    std::unique_ptr<TThreadTimer> timer_;
    std::unique_ptr<platform::HostLookup> lookup_;
    std::unique_ptr<char[]> chunk_;

    uint32_t remoteAddress_ = 0; // host byte order; 0 = not known
    uint16_t remotePort_ = 0;
    uint32_t lookedUpAddress_ = 0;

    bool connected_ = false;
    bool cancelRequested_ = false;
    bool timedOut_ = false;
    bool asyncDone_ = false;
    bool lastEventOk_ = false;
    bool sendComplete_ = false;
    bool sendFailed_ = false;
    bool counting_ = false;
    bool fileSend_ = false;
    bool busy_ = false;
    bool destroying_ = false;
    bool acceptReply_ = false;
    bool readMorePending_ = false;
    bool sendMorePending_ = false;

    ByteQueue receiveStream_;
    ByteQueue sendStream_;
    TFileStream* captureFile_ = nullptr; // while a capture runs
    std::exception_ptr captureError_;
    size_t captureFill_ = 0; // received bytes in chunk_ not yet written to the capture file
    size_t stagedAt_ = 0;    // where in chunk_ the bytes received but not yet taken start
    size_t staged_ = 0;      // how many there are
    std::unique_ptr<char[]> sendChunk_; // a file being sent passes through it
    std::unique_ptr<TFileStream> sendFile_;
    uint64_t sendFileSize_ = 0;
    uint64_t sendFilePosition_ = 0;

    uint32_t bytesSent_ = 0;
    uint32_t bytesReceived_ = 0;
    uint32_t bytesExpected_ = 0;
    uint16_t lastError_ = 0;
    uint16_t closeError_ = 0;
    uint64_t bytesHeard_ = 0;
    int16_t replyCode_ = 0;
    std::string lastReply_;
    std::string statusText_;
    TNotifyEvent receiveHook_;
};
