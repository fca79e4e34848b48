#include "net/HttpTransfer.h"

#include "net/HttpResponse.h"
#include "platform/AsyncSocket.h"
#include "platform/FileSystem.h"
#include "platform/HostLookup.h"
#include "platform/SocketErrors.h"

#include <arpa/inet.h>

#include <cstring>
#include <exception>
#include <memory>

namespace {

// At most this much is received per read event before the loop gets its turn again, so one
// fast stream does not starve the others; a body that came in one piece leaves in one write.
constexpr size_t ReceiveAreaSize = 128 * 1024;

// One area for every transfer: all run on the window's thread, and each is done with what it
// received before it returns to the loop.
char* ReceiveArea() {
    thread_local const std::unique_ptr<char[]> area(new char[ReceiveAreaSize]);
    return area.get();
}

} // namespace

THttpTransfer::THttpTransfer(std::string url, TFileStream& body, Route route, Ended ended)
    : url_(std::move(url)), body_(body), route_(std::move(route)), ended_(std::move(ended)),
      socket_(std::make_unique<platform::AsyncSocket>()) {
    socket_->SetHandler(
        [this](platform::SocketEvent event, uint16_t error) { OnSocketEvent(event, error); });
}

THttpTransfer::~THttpTransfer() = default;

void THttpTransfer::Start() {
    http::ParseUrl(url_, host_, port_, requestPath_);
    http::TRequestParts parts;
    parts.Kind = CmdType::Get;
    parts.RequestPath = requestPath_;
    parts.URL = url_;
    parts.ViaProxy = !route_.proxy.empty();
    parts.Host = host_;
    parts.IfModifiedSince = route_.ifModifiedSince;
    TExStringList lines;
    http::BuildRequestLines(lines, parts, route_.header);
    request_.clear();
    for (const std::string& line : lines.Lines())
        request_ += line + "\r\n";
    sent_ = 0;
    headerLine_.clear();
    headerBytes_ = 0;
    statusSeen_ = headerDone_ = false;
    replyCode_ = 0;
    receivedCookie_.clear();
    validators_ = {};
    bytesExpected_ = 0;
    bodyBytes_ = 0;
    closeError_ = 0;
    body_.Truncate();
    running_ = true;

    const std::string& name = route_.proxy.empty() ? host_ : route_.proxy;
    if (uint32_t address = 0; platform::ParseDottedAddress(name, address)) {
        Connect(address);
        return;
    }
    lookup_ =
        std::make_unique<platform::HostLookup>(name, [this](uint16_t error, uint32_t address) {
            SilentTicks = 0;
            if (error != 0 || address == 0)
                Finish(false);
            else
                Connect(address);
        });
}

void THttpTransfer::Connect(uint32_t address) {
    const int port = route_.proxy.empty() ? port_ : route_.proxyPort;
    if (port < 0 || port > 65535 || socket_->Create(false) != 0) {
        Finish(false);
        return;
    }
    socket_->Select(platform::EventRead | platform::EventWrite | platform::EventConnect |
                    platform::EventClose);
    const uint16_t error = socket_->Connect(address, static_cast<uint16_t>(port));
    if (error != 0 && error != platform::SocketError::WouldBlock)
        Finish(false);
}

void THttpTransfer::OnSocketEvent(unsigned event, uint16_t error) {
    if (!running_)
        return;
    SilentTicks = 0;
    try {
        switch (event) {
        case platform::EventConnect:
            if (error != 0)
                Finish(false);
            break;
        case platform::EventWrite:
            SendSome();
            break;
        case platform::EventRead:
            ReceiveBurst();
            break;
        case platform::EventClose:
            // The close names the first way the stream ended; bytes that came before it are
            // still waiting to be read.
            closeError_ = error;
            while (running_ && ReceiveSome() == static_cast<long>(ReceiveAreaSize)) {
            }
            if (running_)
                ServerClosed();
            break;
        default:
            break;
        }
    } catch (const std::exception&) {
        // A disk that refuses the body or a status line beyond reason ends this one transfer.
        Finish(false);
    }
}

void THttpTransfer::SendSome() {
    while (sent_ < request_.size()) {
        uint16_t error = 0;
        const long count = socket_->Send(request_.data() + sent_, request_.size() - sent_, error);
        if (count < 0) {
            if (error != platform::SocketError::WouldBlock)
                Finish(false);
            return;
        }
        sent_ += static_cast<size_t>(count);
    }
}

void THttpTransfer::ReceiveBurst() {
    // A full area leaves the rest to the next read event.
    const long taken = ReceiveSome();
    if (taken > 0 && taken < static_cast<long>(ReceiveAreaSize) &&
        heard_ <= http::ShortAnswerBytes && running_)
        ReceiveSome();
}

// What the receive took (the whole area: more may be waiting), 0 or -1.
long THttpTransfer::ReceiveSome() {
    char* const chunk = ReceiveArea();
    uint16_t error = 0;
    const long count = socket_->Receive(chunk, ReceiveAreaSize, error);
    if (count <= 0)
        return count;
    const size_t size = static_cast<size_t>(count);
    heard_ += size;
    if (headerDone_) {
        body_.Write(chunk, size);
        bodyBytes_ += size;
    } else {
        TakeHeaderBytes(chunk, size);
    }
    return count;
}

// Takes the header a line at a time, as much of a line as came; what follows its end is body.
void THttpTransfer::TakeHeaderBytes(const char* data, size_t size) {
    size_t at = 0;
    while (at < size && !headerDone_) {
        const void* lineFeed = std::memchr(data + at, '\n', size - at);
        const size_t end =
            lineFeed != nullptr ? static_cast<size_t>(static_cast<const char*>(lineFeed) - data) + 1
                                : size;
        // Bytes beyond the limit are never kept: the header fails as soon as it outgrows it.
        const size_t room = http::MaxHeaderBytes - headerBytes_;
        if (end - at > room) {
            Finish(false);
            return;
        }
        headerLine_.append(data + at, end - at);
        headerBytes_ += end - at;
        at = end;
        if (lineFeed != nullptr) {
            TakeHeaderLine(headerLine_);
            headerLine_.clear();
        }
    }
    if (at < size && running_) {
        body_.Write(data + at, size - at);
        bodyBytes_ += size - at;
    }
}

void THttpTransfer::TakeHeaderLine(const std::string& line) {
    if (!statusSeen_) {
        statusSeen_ = true;
        replyCode_ = http::StatusReplyCode(line);
        return;
    }
    http::TakeHeaderField(line, receivedCookie_, url_, bytesExpected_, &validators_);
    headerDone_ = http::IsHeaderEnd(line);
}

void THttpTransfer::ServerClosed() {
    // A reply cut off inside its header can never be completed, and one cut by a reset is a
    // fragment whatever its status says.
    if (!headerDone_ ||
        (closeError_ != 0 && !http::ResetLeavesBodyWhole(bytesExpected_, bodyBytes_))) {
        Finish(false);
        return;
    }
    socket_->Close();
    if (NotModified()) {
        Finish(false);
        return;
    }
    if (http::RepeatsRequest(replyCode_)) {
        if (http::IsRedirect(replyCode_)) {
            http::CarryCookie(receivedCookie_, route_.header);
            if (!receivedCookie_.empty() && OnRedirectCookie)
                OnRedirectCookie(receivedCookie_);
            url_ = http::MendedLocation(url_, host_, port_);
        }
        if (++redirects_ > http::MaxRedirects) {
            Finish(false);
            return;
        }
        Start();
        return;
    }
    Finish(http::ReplyComplete(replyCode_, bytesExpected_, bodyBytes_));
}

void THttpTransfer::Abort() {
    Finish(false);
}

void THttpTransfer::Finish(bool whole) {
    if (!running_)
        return;
    running_ = false;
    lookup_.reset();
    socket_->Close();
    if (ended_)
        ended_(whole);
}
