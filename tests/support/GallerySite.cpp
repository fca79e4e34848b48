#include "tests/support/GallerySite.h"

#include "tests/support/LoopbackListener.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <stdexcept>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace fixture {

namespace {

constexpr size_t kHeaderLimit = 64 * 1024;
constexpr size_t kStallBytes = 6; // of the body, before the silence

const char* Reason(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 304:
        return "Not Modified";
    case 400:
        return "Bad Request";
    case 404:
        return "Not Found";
    default:
        return "Not Implemented";
    }
}

std::string Lower(std::string text) {
    for (char& c : text)
        c = char(tolower(static_cast<unsigned char>(c)));
    return text;
}

// The value of a header field (case-insensitive name), or empty.
std::string HeaderValue(const std::string& header, const std::string& name) {
    size_t start = header.find('\n');
    while (start != std::string::npos && start + 1 < header.size()) {
        const size_t lineStart = start + 1;
        const size_t end = header.find('\n', lineStart);
        std::string line = header.substr(lineStart, end - lineStart);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.size() > name.size() && line[name.size()] == ':' &&
            strncasecmp(line.data(), name.data(), name.size()) == 0) {
            const size_t value = line.find_first_not_of(' ', name.size() + 1);
            return value == std::string::npos ? std::string() : line.substr(value);
        }
        start = end;
    }
    return {};
}

std::string WithoutPort(const std::string& host) {
    return Lower(host.substr(0, host.find(':')));
}

} // namespace

GallerySite::GallerySite(const GalleryModel& siteA, const GalleryModel& siteB, uint16_t port)
    : siteA_(siteA), siteB_(siteB) {
    port_ = loopback::Listen(listenFd_, wakeFds_, port, SOMAXCONN, "GallerySite");
    acceptThread_ = std::thread([this]() { AcceptLoop(); });
}

GallerySite::~GallerySite() {
    Stop();
    loopback::Close(listenFd_, wakeFds_);
}

void GallerySite::Stop() {
    if (!stopping_.exchange(true))
        loopback::Wake(wakeFds_);
    if (acceptThread_.joinable())
        acceptThread_.join();
    for (Connection& connection : connections_)
        if (connection.thread.joinable())
            connection.thread.join();
    connections_.clear();
}

std::vector<Request> GallerySite::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::vector<std::string> GallerySite::Urls() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> urls;
    for (const Request& request : requests_)
        urls.push_back(request.url);
    return urls;
}

size_t GallerySite::Hits(const std::string& urlOrPath) const {
    std::lock_guard lock(mutex_);
    const bool full = urlOrPath.compare(0, 7, "http://") == 0;
    size_t count = 0;
    for (const Request& request : requests_)
        count += (full ? request.url : request.path) == urlOrPath ? 1 : 0;
    return count;
}

size_t GallerySite::PictureRequests() const {
    size_t count = 0;
    for (const Request& request : Requests())
        if (request.path.rfind("/gallery/", 0) == 0 && request.path.back() != '/')
            ++count;
    return count;
}

void GallerySite::ClearLog() {
    std::lock_guard lock(mutex_);
    requests_.clear();
    hits_.clear();
}

bool GallerySite::WaitForRequests(size_t count, int milliseconds) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                             [&]() { return requests_.size() >= count; });
}

bool GallerySite::Ready(int fd, short events, int milliseconds) const {
    pollfd fds[2] = {{fd, events, 0}, {wakeFds_[0], POLLIN, 0}};
    for (;;) {
        if (stopping_)
            return false;
        const int result = ::poll(fds, 2, milliseconds);
        if (result < 0 && errno == EINTR)
            continue;
        return !stopping_ && result > 0 && fds[0].revents != 0;
    }
}

void GallerySite::AcceptLoop() {
    while (Ready(listenFd_, POLLIN, -1)) {
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0 && errno == EINVAL)
            return; // the StopListening fault shut the listener down
        if (fd < 0)
            continue;
        ++openConnections_;
        if (oneAtATime_) {
            Serve(fd);
            continue;
        }
        // Threads of answered connections are joined here, so a long run holds only the live
        // ones.
        for (auto it = connections_.begin(); it != connections_.end();) {
            if (*it->done) {
                it->thread.join();
                it = connections_.erase(it);
            } else {
                ++it;
            }
        }
        auto done = std::make_shared<std::atomic<bool>>(false);
        connections_.push_back({std::thread([this, fd, done]() {
                                    Serve(fd);
                                    *done = true;
                                }),
                                done});
    }
}

bool GallerySite::ReadHeader(int fd, std::string& header) {
    char buffer[4096];
    while (header.find("\r\n\r\n") == std::string::npos &&
           header.find("\n\n") == std::string::npos) {
        if (header.size() > kHeaderLimit || !Ready(fd, POLLIN, -1))
            return false;
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (got <= 0)
            return false;
        header.append(buffer, size_t(got));
    }
    return true;
}

bool GallerySite::SendAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
        if (sent < 0 && (errno == EINTR || errno == EAGAIN)) {
            if (!Ready(fd, POLLOUT, -1))
                return false;
            continue;
        }
        if (sent < 0)
            return false;
        data += sent;
        size -= size_t(sent);
    }
    return true;
}

void GallerySite::SendSlowly(int fd, const std::string& response, int milliseconds) {
    constexpr size_t kPieces = 20;
    const size_t piece = response.size() / kPieces + 1;
    for (size_t at = 0; at < response.size() && !stopping_; at += piece) {
        if (!SendAll(fd, response.data() + at, std::min(piece, response.size() - at)))
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds / kPieces));
    }
}

void GallerySite::WaitUntilClosed(int fd, int milliseconds) {
    char buffer[4096];
    while (Ready(fd, POLLIN, milliseconds)) {
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN))
            return;
    }
}

void GallerySite::OnRequest(std::function<void(const Request&)> callback) {
    std::lock_guard lock(mutex_);
    callback_ = std::move(callback);
}

void GallerySite::Log(const Request& request) {
    std::function<void(const Request&)> callback;
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
        callback = callback_;
    }
    changed_.notify_all();
    if (callback)
        callback(request);
}

void GallerySite::Serve(int fd) {
    const int yes = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    std::string header;
    // Counted open from its accept until its answer has been sent.
    struct Open {
        std::atomic<int>& count;
        bool open = true;
        void Done() {
            if (std::exchange(open, false))
                --count;
        }
        ~Open() { Done(); }
    } open{openConnections_};
    if (!ReadHeader(fd, header)) {
        ::close(fd);
        return;
    }
    const std::string requestLine = header.substr(0, header.find_first_of("\r\n"));
    const size_t firstSpace = requestLine.find(' ');
    const size_t lastSpace = requestLine.rfind(' ');
    const std::string method = requestLine.substr(0, firstSpace);

    Request request;
    request.target = firstSpace < lastSpace
                         ? requestLine.substr(firstSpace + 1, lastSpace - firstSpace - 1)
                         : std::string();
    request.cookie = HeaderValue(header, "Cookie");
    request.ifModifiedSince = HeaderValue(header, "If-Modified-Since");
    if (request.target.compare(0, 7, "http://") == 0) {
        const size_t slash = request.target.find('/', 7);
        request.host = WithoutPort(request.target.substr(7, slash - 7));
        request.path = slash == std::string::npos ? "/" : request.target.substr(slash);
    } else {
        request.host = WithoutPort(HeaderValue(header, "Host"));
        request.path = request.target;
    }
    request.url = "http://" + request.host + request.path;
    request.site = request.host == kHostB ? 'B' : 'A';

    // Bytes that cannot stand in a request line make it a bad request, as on a real server.
    const bool rawBytes = std::any_of(request.target.begin(), request.target.end(), [](char c) {
        return (unsigned char)c <= 0x20 || (unsigned char)c >= 0x7F || c == '#';
    });
    Answer answer;
    if (request.path.empty() || request.path[0] != '/' || rawBytes) {
        answer.status = 400;
        answer.body = "<html>\n<body>Bad request</body>\n</html>\n";
    } else if (connectionLimit_ > 0 && openConnections_ > connectionLimit_) {
        answer.status = 503;
        answer.body = "Too many connections\r\n";
    } else if (method != "GET" && method != "HEAD") {
        answer.status = 501;
        answer.body = "<html>\n<body>Only GET</body>\n</html>\n";
    } else {
        size_t previousHits = 0;
        {
            std::lock_guard lock(mutex_);
            previousHits = hits_[request.url]++;
        }
        answer = (request.site == 'B' ? siteB_ : siteA_).AnswerFor(request.path, previousHits);
        // A file not changed since the date the request names (the same date, as web servers
        // compare by default) is answered 304 without a body.
        if (answer.status == 200 && !request.ifModifiedSince.empty() &&
            answer.headers.find("Last-Modified: " + request.ifModifiedSince + "\r\n") !=
                std::string::npos) {
            answer.status = 304;
            answer.body.clear();
        }
    }
    request.status = answer.status;
    if (answer.stopListening)
        ::shutdown(listenFd_, SHUT_RD); // new connections are refused from here on
    Log(request);
    if (const int latency = latencyMs_; latency > 0)
        Ready(wakeFds_[0], POLLIN, latency); // ends early only when the server stops

    const std::string length =
        answer.delivery == Fault::Kind::ResetWithoutLength
            ? std::string()
            : "Content-Length: " + std::to_string(answer.body.size()) + "\r\n";
    std::string response = "HTTP/1.0 " + std::to_string(answer.status) +
                           (answer.reasonPhrase ? " " + std::string(Reason(answer.status)) : "") +
                           "\r\nContent-Type: " + answer.contentType + "\r\n" + length +
                           "Connection: close\r\n" + answer.headers + "\r\n";
    // A reply cut off before its header is complete.
    const size_t headerEnd = response.size();
    switch (answer.delivery) {
    case Fault::Kind::CloseAtOnce:
        response.clear();
        break;
    case Fault::Kind::CloseAfterNonsense:
        response = "Server busy, come back later\r\n";
        break;
    case Fault::Kind::CloseInHeader:
        response.resize(headerEnd / 2);
        break;
    default:
        break;
    }
    if (method != "HEAD" && response.size() == headerEnd) {
        switch (answer.delivery) {
        case Fault::Kind::ShortBody:
        case Fault::Kind::ResetInBody:
        case Fault::Kind::ResetWithoutLength:
            response.append(answer.body, 0, answer.body.size() / 2);
            break;
        case Fault::Kind::Stall:
            response.append(answer.body, 0, std::min(kStallBytes, answer.body.size()));
            break;
        default:
            response += answer.body;
        }
    }
    if (answer.delivery == Fault::Kind::Slow)
        SendSlowly(fd, response, answer.slowMilliseconds);
    else if (SendAll(fd, response.data(), response.size()) && answer.delivery == Fault::Kind::Stall)
        WaitUntilClosed(fd, -1); // silence until the client gives up or the server stops
    open.Done();
    if (answer.delivery == Fault::Kind::ResetInBody ||
        answer.delivery == Fault::Kind::ResetWithoutLength ||
        answer.delivery == Fault::Kind::ResetAfterBody) {
        const linger reset{1, 0}; // a close that sends RST instead of FIN
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
        ::close(fd);
        return;
    }
    // Half-close and let the client read to the end before the socket goes: closing with
    // unread input would reset the connection and could cost the client the answer's tail.
    ::shutdown(fd, SHUT_WR);
    WaitUntilClosed(fd, 2000);
    ::close(fd);
}

Fetched FetchFrom(uint16_t port, const std::string& url, int milliseconds) {
    Fetched fetched;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return fetched;
    }
    const bool proxyForm = url.compare(0, 7, "http://") == 0;
    const std::string host = proxyForm ? url.substr(7, url.find('/', 7) - 7) : kHostA;
    const std::string request = "GET " + url + " HTTP/1.0\r\nHost: " + host + "\r\n\r\n";
    [[maybe_unused]] const ssize_t sent = ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);

    std::string received;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    char buffer[65536];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd watched{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&watched, 1, int(left.count())) <= 0)
            break;
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0) {
            fetched.complete = got == 0;
            break;
        }
        received.append(buffer, size_t(got));
    }
    ::close(fd);
    const size_t end = received.find("\r\n\r\n");
    fetched.header = received.substr(0, end == std::string::npos ? received.size() : end + 4);
    fetched.body = end == std::string::npos ? std::string() : received.substr(end + 4);
    if (received.compare(0, 9, "HTTP/1.0 ") == 0)
        fetched.status = std::atoi(received.c_str() + 9);
    return fetched;
}

} // namespace fixture
