#pragma once

#include "net/HttpRequest.h"
#include "net/HttpResponse.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class TFileStream;
namespace platform {
class AsyncSocket;
class HostLookup;
} // namespace platform

// One file fetched over a connection of its own without ever blocking: the request goes out as
// the HTTP client sends it (the same lines, the proxy form) and the answer is read by the same
// rules (the redirects, the limits, when a body is whole), with the body going to a file as it
// arrives, all from socket events on the window's thread. So several pictures can be on the way
// at once while the job itself goes on with its listing pages.
class THttpTransfer {
public:
    struct Route {
        std::string proxy; // empty: straight to the picture's host
        int proxyPort = 0;
        THeaderInfo header;
        std::string ifModifiedSince; // asked with If-Modified-Since when not empty
    };
    // Told once how the transfer ended: whole means a body the HTTP client would have stored
    // without raising and its caller would have kept (a status below 400, at least the bytes the
    // server announced, no reset before them).
    using Ended = std::function<void(bool whole)>;

    // The body goes into body, emptied at the start of each answer; it stays open, and the
    // owner's, after the end.
    THttpTransfer(std::string url, TFileStream& body, Route route, Ended ended);
    ~THttpTransfer();
    THttpTransfer(const THttpTransfer&) = delete;
    THttpTransfer& operator=(const THttpTransfer&) = delete;

    // Told the cookie a redirect set, as it goes into this transfer's next request, so that the
    // owner's later requests carry it too.
    std::function<void(const std::string& cookie)> OnRedirectCookie;

    // Sends the request on its way; raises for a URL or a body file that cannot be used, before
    // anything was sent.
    void Start();
    // Ends the transfer now, as failed; nothing happens when it has ended already.
    void Abort();

    bool Running() const { return running_; }
    uint64_t BytesReceived() const { return bodyBytes_; }
    uint32_t BytesExpected() const { return bytesExpected_; }
    // Asked with If-Modified-Since, it was told the file has not changed (ended as not whole).
    bool NotModified() const {
        return http::NotModified(replyCode_, !route_.ifModifiedSince.empty());
    }
    // The last answer's Last-Modified and ETag values.
    const http::TValidators& Validators() const { return validators_; }
    // Every byte the server sent over all its answers, headers included.
    uint64_t BytesHeard() const { return heard_; }
    // Ticks of the watchdog since the last sign of life from the server.
    int SilentTicks = 0;

private:
    void Connect(uint32_t address);
    void OnSocketEvent(unsigned event, uint16_t error);
    void SendSome();
    // The receives of one read event: one, and after a short one of a short answer one more
    // look for the server's close.
    void ReceiveBurst();
    long ReceiveSome();
    void TakeHeaderBytes(const char* data, size_t size);
    void TakeHeaderLine(const std::string& line);
    void ServerClosed();
    void Finish(bool whole);

    std::string url_, host_, requestPath_;
    TFileStream& body_;
    int port_ = 80;
    Route route_;
    Ended ended_;
    std::unique_ptr<platform::AsyncSocket> socket_;
    std::unique_ptr<platform::HostLookup> lookup_;
    std::string request_;
    size_t sent_ = 0;
    std::string headerLine_;
    size_t headerBytes_ = 0;
    bool statusSeen_ = false, headerDone_ = false, running_ = false;
    uint64_t heard_ = 0;
    uint16_t closeError_ = 0; // the error the server's side ended the connection with, if any
    int replyCode_ = 0;
    int redirects_ = 0;
    std::string receivedCookie_;
    http::TValidators validators_;
    uint32_t bytesExpected_ = 0;
    uint64_t bodyBytes_ = 0;
};
