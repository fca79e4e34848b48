#include "net/NMHTTP.h"

#include "net/HttpResponse.h"
#include "platform/FileSystem.h"

#include <algorithm>
#include <memory>

TNMHTTP::TNMHTTP() {
    // No header line is longer than the whole header may be.
    MaxLineLength = http::MaxHeaderBytes;
    // A server that closes before its header is complete will send nothing more: the reply has
    // failed, and waiting on for a Cancel would only cost time.
    ReadLnEndsAtClose = true;
    LookForEndWithin = http::ShortAnswerBytes;
}

void TNMHTTP::Get(const std::string& URL) {
    StartRequest(CmdType::Get, URL);
}
void TNMHTTP::Options(const std::string& URL) {
    StartRequest(CmdType::Options, URL);
}
void TNMHTTP::Head(const std::string& URL) {
    StartRequest(CmdType::Head, URL);
}
void TNMHTTP::Delete(const std::string& URL) {
    StartRequest(CmdType::Delete, URL);
}

void TNMHTTP::Post(const std::string& URL, const std::string& Data) {
    StartRequest(CmdType::Post, URL, OutputFileMode ? Data : http::UrlDecode(Data));
}
void TNMHTTP::Put(const std::string& URL, const std::string& Data) {
    StartRequest(CmdType::Put, URL, Data);
}
void TNMHTTP::Patch(const std::string& URL, const std::string& Data) {
    StartRequest(CmdType::Patch, URL, Data);
}
void TNMHTTP::Trace(const std::string& URL, const std::string& Data) {
    StartRequest(CmdType::Trace, URL, Data);
}
void TNMHTTP::Raw(const std::string& URL, const std::string& Data) {
    StartRequest(CmdType::Raw, URL, Data);
}
void TNMHTTP::Copy(const std::string& URL, const std::string& Destination) {
    StartRequest(CmdType::Copy, URL, {}, "URI-header: " + Destination);
}
void TNMHTTP::Move(const std::string& URL, const std::string& Destination) {
    StartRequest(CmdType::Move, URL, {}, "URI-header: " + Destination);
}
void TNMHTTP::Link(const std::string& URL, const std::string& Value) {
    StartRequest(CmdType::Link, URL, "Send.dat", "Link: " + Value);
}
void TNMHTTP::Unlink(const std::string& URL, const std::string& Value) {
    StartRequest(CmdType::Unlink, URL, "Send.dat", "Link: " + Value);
}

void TNMHTTP::Cancel() {
    SetAsyncDone(true);
    RequestCancel();
}

void TNMHTTP::StartRequest(CmdType kind, const std::string& url, const std::string& data,
                           const std::string& extraHeader) {
    url_ = url;
    requestKind_ = kind;
    sendData_ = data;
    extraHeader_ = extraHeader;
    RunRequest();
}

void TNMHTTP::RunRequest() {
    for (int redirects = 0;; ++redirects) {
        ParseURL();
        BuildRequest();
        if (OnAboutToSend)
            OnAboutToSend(this);
        Connect();
        try {
            SendRequest();
            ReadResponseHeader();
            ReadBody();
            FinishResponse();
        } catch (...) {
            // The first error is the one to report; a failing close must not replace it.
            try {
                Disconnect();
            } catch (...) {
            }
            throw;
        }
        Disconnect();

        const int code = ReplyCode();
        if (NotModified())
            return;
        if (http::IsRedirect(code)) {
            http::CarryCookie(receivedCookie_, HeaderInfo);
            bool handled = false;
            if (OnRedirect)
                OnRedirect(handled);
            if (handled)
                return;
            url_ = http::MendedLocation(url_, Host, Port);
        }
        if (code == 401 && OnAuthenticationNeeded)
            OnAuthenticationNeeded(this);
        if (!http::RepeatsRequest(code))
            return;
        if (redirects >= http::MaxRedirects)
            throw ESockError("Too many redirects");
    }
}

bool TNMHTTP::NotModified() const {
    return http::NotModified(ReplyCode(), !IfModifiedSince.empty());
}

void TNMHTTP::ParseURL() {
    http::ParseUrl(url_, Host, Port, requestPath_);
}

void TNMHTTP::BuildRequest() {
    http::TRequestParts parts;
    parts.Kind = requestKind_;
    parts.RequestPath = requestPath_;
    parts.URL = url_;
    parts.ViaProxy = !Proxy.empty();
    parts.Host = Host;
    parts.ExtraHeader = extraHeader_;
    parts.IfModifiedSince = IfModifiedSince;
    if (SendsContentLength())
        parts.ContentLength = ContentLength();
    http::BuildRequestLines(requestLines_, parts, HeaderInfo);
}

bool TNMHTTP::SendsBody() const {
    switch (requestKind_) {
    case CmdType::Post:
    case CmdType::Put:
    case CmdType::Patch:
    case CmdType::Trace:
    case CmdType::Raw:
        return true;
    default:
        return false;
    }
}

bool TNMHTTP::SendsContentLength() const {
    return SendsBody() || requestKind_ == CmdType::Link || requestKind_ == CmdType::Unlink;
}

uint64_t TNMHTTP::ContentLength() const {
    if (OutputFileMode)
        return TFileStream(sendData_, TFileStream::Mode::OpenRead).Size();
    return sendData_.size();
}

void TNMHTTP::SendRequest() {
    std::string request;
    size_t size = 0;
    for (const std::string& line : requestLines_.Lines())
        size += line.size() + 2;
    request.reserve(size);
    for (const std::string& line : requestLines_.Lines()) {
        request += line;
        request += "\r\n";
    }
    Write(request);
    if (SendsBody()) {
        if (OutputFileMode) {
            SendFile(sendData_);
        } else {
            // SendBuffer with a count, unlike Write, keeps NUL bytes of the data.
            for (size_t offset = 0; offset < sendData_.size(); offset += 65535) {
                const size_t count = std::min<size_t>(65535, sendData_.size() - offset);
                SendBuffer(sendData_.data() + offset, static_cast<uint16_t>(count));
            }
        }
    }
    requestKind_ = CmdType::Get;
}

void TNMHTTP::ReadResponseHeader() {
    SetBytesExpected(0);
    receivedCookie_.clear();
    validators_ = {};
    std::unique_ptr<TFileStream> headerFile;
    if (OutputFileMode)
        headerFile = std::make_unique<TFileStream>(Header, TFileStream::Mode::Create);
    else
        Header.clear();
    size_t headerBytes = 0;
    const auto keep = [&](const std::string& line) {
        headerBytes += line.size();
        if (headerFile)
            headerFile->Write(line.data(), line.size());
        else
            Header += line;
    };

    std::string line = ReadLn();
    keep(line);
    SetReplyCode(0);
    // A line without a status code fails the reply as one cut off before its header ends:
    // taking it as 0, a success, would store an error page under the picture's name.
    SetReplyCode(http::StatusReplyCode(line));

    do {
        line = ReadLn();
        uint32_t bytesExpected = BytesExpected();
        http::TakeHeaderField(line, receivedCookie_, url_, bytesExpected, &validators_);
        SetBytesExpected(bytesExpected);
        keep(line);
        if (headerBytes > http::MaxHeaderBytes)
            throw ESockError("Response header too long");
    } while (!http::IsHeaderEnd(line));
}

void TNMHTTP::ReadBody() {
    // The body ends where the server closes the connection; an announced length plays no part,
    // except that it tells whether a body that ended in a reset had all come by then.
    uint64_t received = 0;
    if (InputFileMode) {
        if (BodyStream != nullptr)
            CaptureInto(*BodyStream);
        else
            CaptureFile(Body);
        received = BytesReceived();
    } else {
        CaptureString(Body, -1);
        received = Body.size();
    }
    if (CloseError() != 0 && !http::ResetLeavesBodyWhole(BytesExpected(), received))
        throw SocketFailure(CloseError());
}

void TNMHTTP::FinishResponse() {
    const int code = ReplyCode();
    if (code < 299) {
        if (OnSuccess)
            OnSuccess(requestKind_);
        ReportStatus(2, "Transaction Completed");
    } else if (code > 399) {
        if (OnFailure)
            OnFailure(requestKind_);
    }
}
