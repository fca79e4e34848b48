#pragma once

// CONTRACT DRAFT: the public and protected surface that TNMHTTP (and later TNMFTP) build on.
// The socket-session implementer fills in the private part and the .cpp; the names and
// signatures below stay as they are.

#include "platform/Component.h"
#include "platform/Exceptions.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class ESockError : public Exception {
public:
    using Exception::Exception;
};

// A blocking operation ended by Cancel.
class EAbortError : public ESockError {
public:
    using ESockError::ESockError;
};

using TOnHostResolved = std::function<void(TComponent* Sender)>;
using TOnStatus = std::function<void(TComponent* Sender, const std::string& Status)>;
using TOnErrorEvent =
    std::function<void(TComponent* Sender, uint16_t Errno, const std::string& Errmsg)>;

class TPowersock : public TComponent {
public:
    TPowersock();
    ~TPowersock() override;

    // Published.
    std::string Host;
    int Port = 0;
    int TimeOut = 0; // milliseconds, for the name lookup and the connect; 0 = no limit
    int ReportLevel = 0;
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

    virtual void Connect();
    virtual void Disconnect();
    virtual std::string Transaction(const std::string& Command);
    virtual void Cancel();

    void RequestCancel();
    void CheckConnected();
    void Write(const std::string& Text);
    void Writeln(const std::string& Text);
    void SendBuffer(const char* Data, uint16_t Count);
    std::string ReadLn();
    std::string Read(uint16_t Count);
    void SendFile(const std::string& FileName);
    void CaptureFile(const std::string& FileName);
    void CaptureString(std::string& Text, int Count);
    void Listen(bool UseAcceptReply);
    std::string LocalAddressCommas();
    std::string LocalPortCommas();
    std::string ErrorText(uint16_t Code);
    void CloseSocket();
    void ReportStatus(uint8_t Level, const std::string& Text);

    bool Connected() const;
    bool CancelRequested() const;
    int16_t ReplyCode() const;
    const std::string& LastReply() const;
    const std::string& StatusText() const;
    uint16_t LastError() const;
    uint32_t BytesSent() const;
    uint32_t BytesReceived() const;
    uint32_t BytesExpected() const;

protected:
    void SetReplyCode(int16_t code);
    void SetBytesExpected(uint32_t count);
    void SetAsyncDone(bool done);
};
