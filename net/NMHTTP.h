#pragma once

#include "net/ExStringList.h"
#include "net/HttpRequest.h"
#include "net/HttpResponse.h"
#include "net/Powersock.h"

#include <functional>
#include <string>

using TResultEvent = std::function<void(CmdType Cmd)>;

// The HTTP/1.0 client. One connection carries one request: connect, send, read the header, take
// the body until the server closes, disconnect; redirects repeat the exchange.
class TNMHTTP : public TPowersock {
public:
    TNMHTTP();

    // With InputFileMode the name of the file that receives the body, else the body text.
    std::string Body = "Default.htm";
    // With OutputFileMode the name of the file that receives the header, else the header text.
    std::string Header = "Head.txt";
    THeaderInfo HeaderInfo;
    bool InputFileMode = false;
    // With InputFileMode, an open file that takes the body instead of the file named by Body
    // (a partial file, written through the descriptor that holds its lock); emptied first.
    TFileStream* BodyStream = nullptr;
    bool OutputFileMode = false;

    TNotifyEvent OnAboutToSend;
    TResultEvent OnSuccess, OnFailure;
    THandlerEvent OnRedirect;
    TNotifyEvent OnAuthenticationNeeded;

    // Returns once the last response of the exchange is stored, whatever its status code.
    void Get(const std::string& URL);
    void Options(const std::string& URL);
    void Head(const std::string& URL);
    void Delete(const std::string& URL);
    // Data is the body text, or with OutputFileMode the name of the file to send. Post sends its
    // text URL-decoded.
    void Post(const std::string& URL, const std::string& Data);
    void Put(const std::string& URL, const std::string& Data);
    void Patch(const std::string& URL, const std::string& Data);
    void Trace(const std::string& URL, const std::string& Data);
    void Raw(const std::string& URL, const std::string& Data);
    void Copy(const std::string& URL, const std::string& Destination);
    void Move(const std::string& URL, const std::string& Destination);
    void Link(const std::string& URL, const std::string& Value);
    void Unlink(const std::string& URL, const std::string& Value);

    // Sent as If-Modified-Since with each request while not empty; a 304 then ends the request
    // as a complete reply (see NotModified).
    std::string IfModifiedSince;
    // The last request asked with IfModifiedSince and was told the file has not changed.
    bool NotModified() const;

    // Ends the current wait; may be called from any handler that runs while a request waits.
    void Cancel() override;

    const std::string& ReceivedCookie() const { return receivedCookie_; }
    // The latest response's Last-Modified and ETag values; empty when it sent none.
    const std::string& LastModified() const { return validators_.lastModified; }
    const std::string& ETag() const { return validators_.etag; }
    const std::string& URL() const { return url_; }
    const std::string& RequestPath() const { return requestPath_; }
    const TExStringList& RequestLines() const { return requestLines_; }

protected:
    virtual void RunRequest();
    virtual void ParseURL();
    virtual void BuildRequest();
    virtual void ReadResponseHeader();
    virtual void SendRequest();

private:
    void StartRequest(CmdType kind, const std::string& url, const std::string& data = {},
                      const std::string& extraHeader = {});
    bool SendsBody() const;
    bool SendsContentLength() const;
    uint64_t ContentLength() const;
    void ReadBody();
    void FinishResponse();

    std::string url_;
    std::string requestPath_;
    std::string receivedCookie_;
    http::TValidators validators_;
    CmdType requestKind_ = CmdType::Get;
    TExStringList requestLines_;
    std::string sendData_;    // body text or, with OutputFileMode, the body file's name
    std::string extraHeader_; // whole line, or empty
};
