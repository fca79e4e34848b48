#include "tests/support/ScriptedServer.h"

#include "tests/support/LoopbackListener.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

std::string ScriptedServer::Pattern(size_t offset, size_t count) {
    std::string bytes(count, '\0');
    for (size_t i = 0; i < count; ++i) {
        const size_t at = offset + i;
        bytes[i] = static_cast<char>((at * 31 + at / 251) & 0xFF);
    }
    return bytes;
}

ScriptedServer::Step ScriptedServer::ExpectPasv(std::string named, std::string reply) {
    in_addr address{};
    if (::inet_pton(AF_INET, named.c_str(), &address) != 1 || (ntohl(address.s_addr) >> 24) != 127)
        throw std::invalid_argument("ExpectPasv: " + named + " is not a 127.x.x.x address");
    Step step{Step::Kind::ExpectPasv, std::move(reply), 0, 0};
    step.named = std::move(named);
    return step;
}

ScriptedServer::ScriptedServer(std::vector<Script> scripts) : scripts_(std::move(scripts)) {
    if (scripts_.empty())
        scripts_.emplace_back();
    port_ = loopback::Listen(listenFd_, wakeFds_, 0, 16, "ScriptedServer");
    thread_ = std::thread([this]() { Run(); });
}

ScriptedServer::~ScriptedServer() {
    Stop();
    loopback::Close(listenFd_, wakeFds_);
}

void ScriptedServer::Stop() {
    if (!stopping_.exchange(true))
        loopback::Wake(wakeFds_);
    if (thread_.joinable())
        thread_.join();
}

size_t ScriptedServer::Connections() const {
    std::lock_guard lock(mutex_);
    return records_.size();
}

std::string ScriptedServer::Received(size_t connection) const {
    std::lock_guard lock(mutex_);
    return connection < records_.size() ? records_[connection].received : std::string();
}

std::vector<std::string> ScriptedServer::Lines(size_t connection) const {
    std::lock_guard lock(mutex_);
    return connection < records_.size() ? records_[connection].lines : std::vector<std::string>();
}

std::vector<std::string> ScriptedServer::DataPeers(size_t connection) const {
    std::lock_guard lock(mutex_);
    return connection < records_.size() ? records_[connection].dataPeers
                                        : std::vector<std::string>();
}

bool ScriptedServer::WaitReceived(size_t connection, size_t count, int milliseconds) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(milliseconds), [&]() {
        return connection < records_.size() && records_[connection].received.size() >= count;
    });
}

bool ScriptedServer::WaitFinished(size_t connection, int milliseconds) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(milliseconds), [&]() {
        return connection < records_.size() && records_[connection].finished;
    });
}

bool ScriptedServer::Ready(int fd, short events, int milliseconds) const {
    pollfd fds[2] = {{fd, events, 0}, {wakeFds_[0], POLLIN, 0}};
    const int count = fd >= 0 ? 2 : 1;
    pollfd* watched = fd >= 0 ? fds : fds + 1;
    for (;;) {
        if (stopping_)
            return false;
        const int result = ::poll(watched, count, milliseconds);
        if (result < 0 && errno == EINTR)
            continue;
        if (stopping_ || result < 0)
            return false;
        return result > 0 && fd >= 0 && fds[0].revents != 0;
    }
}

void ScriptedServer::Run() {
    for (size_t index = 0; Ready(listenFd_, POLLIN, -1); ++index) {
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0)
            continue;
        {
            std::lock_guard lock(mutex_);
            records_.emplace_back();
        }
        Serve(fd, scripts_[std::min(index, scripts_.size() - 1)], index);
        {
            std::lock_guard lock(mutex_);
            records_[index].finished = true;
        }
        changed_.notify_all();
    }
}

bool ScriptedServer::ReadMore(int fd, std::string& pending, size_t index) {
    char buffer[65536];
    for (;;) {
        if (!Ready(fd, POLLIN, -1))
            return false;
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (got <= 0)
            return false;
        pending.append(buffer, static_cast<size_t>(got));
        {
            std::lock_guard lock(mutex_);
            records_[index].received.append(buffer, static_cast<size_t>(got));
        }
        changed_.notify_all();
        return true;
    }
}

bool ScriptedServer::SendAll(int fd, const char* data, size_t size) {
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
        size -= static_cast<size_t>(sent);
    }
    return true;
}

bool ScriptedServer::SendPattern(int fd, size_t count) {
    for (size_t done = 0; done < count;) {
        const size_t piece = std::min<size_t>(count - done, 1 << 20);
        const std::string bytes = Pattern(done, piece);
        if (!SendAll(fd, bytes.data(), bytes.size()))
            return false;
        done += piece;
    }
    return true;
}

namespace {

// The address of "PORT h1,h2,h3,h4,p1,p2" when it is a loopback one: the tests never connect
// anywhere else, whatever a client under test sends.
bool LoopbackPortAddress(const std::string& line, sockaddr_in& address) {
    unsigned h1, h2, h3, h4, p1, p2;
    if (std::sscanf(line.c_str(), "PORT %u,%u,%u,%u,%u,%u", &h1, &h2, &h3, &h4, &p1, &p2) != 6 ||
        h1 != 127 || h2 > 255 || h3 > 255 || h4 > 255 || p1 > 255 || p2 > 255)
        return false;
    address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(h1 << 24 | h2 << 16 | h3 << 8 | h4);
    address.sin_port = htons(static_cast<uint16_t>(p1 * 256 + p2));
    return true;
}

int ConnectTo(const sockaddr_in& address, uint32_t from = 0) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(from);
    if ((from != 0 && ::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) ||
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    return fd;
}

// A passive data listener on a free port of 127.0.0.1; -1 when none can be made.
int ListenPassive(uint16_t& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 4) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    port = ntohs(address.sin_port);
    return fd;
}

void ReplaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
}

// reply with "{h}" and "{p}" filled in for the address named and the port.
std::string PasvReply(std::string reply, std::string named, uint16_t port) {
    ReplaceAll(named, ".", ",");
    ReplaceAll(reply, "{h}", named);
    ReplaceAll(reply, "{p}", std::to_string(port / 256) + "," + std::to_string(port % 256));
    return reply;
}

std::string LocalAddress(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    char text[INET_ADDRSTRLEN] = "";
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return text;
}

} // namespace

void ScriptedServer::Serve(int fd, const Script& script, size_t index) {
    std::string pending; // read from the client but not yet taken by a step
    bool open = true;
    sockaddr_in dataAddress{};
    bool havePort = false;
    int dataFd = -1;
    int pasvFd = -1;
    std::vector<int> strangers;
    for (const Step& step : script) {
        if (!open || stopping_)
            break;
        switch (step.kind) {
        case Step::Kind::ExpectLine:
        case Step::Kind::ExpectPort:
        case Step::Kind::ExpectPasv:
        case Step::Kind::ExpectUntil: {
            const std::string terminator =
                step.kind == Step::Kind::ExpectUntil ? step.bytes : std::string("\n");
            size_t end;
            while ((end = pending.find(terminator)) == std::string::npos &&
                   ReadMore(fd, pending, index)) {
            }
            const size_t take = end == std::string::npos ? pending.size() : end + terminator.size();
            const std::string line = pending.substr(0, take);
            {
                std::lock_guard lock(mutex_);
                records_[index].lines.push_back(line);
            }
            pending.erase(0, take);
            if (step.kind == Step::Kind::ExpectPort || step.kind == Step::Kind::ExpectPasv) {
                // A new PORT or PASV replaces the data address of the one before.
                if (pasvFd >= 0)
                    ::close(pasvFd);
                pasvFd = -1;
                havePort = false;
            }
            if (step.kind == Step::Kind::ExpectPort)
                havePort = LoopbackPortAddress(line, dataAddress);
            if (step.kind == Step::Kind::ExpectPasv) {
                uint16_t pasvPort = 0;
                pasvFd = ListenPassive(pasvPort);
                const std::string reply = PasvReply(step.bytes, step.named, pasvPort);
                open = SendAll(fd, reply.data(), reply.size());
            }
            break;
        }
        case Step::Kind::OpenData:
            if (dataFd >= 0)
                break;
            if (pasvFd >= 0) {
                if (Ready(pasvFd, POLLIN, -1))
                    dataFd = ::accept4(pasvFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
                if (dataFd >= 0) {
                    std::lock_guard lock(mutex_);
                    records_[index].dataPeers.push_back(LocalAddress(dataFd));
                }
            } else if (havePort) {
                dataFd = ConnectTo(dataAddress);
            }
            break;
        case Step::Kind::SendData:
            if (dataFd >= 0)
                SendAll(dataFd, step.bytes.data(), step.bytes.size());
            break;
        case Step::Kind::SendDataPattern:
            if (dataFd >= 0)
                SendPattern(dataFd, step.count);
            break;
        case Step::Kind::CloseData:
            if (dataFd >= 0)
                ::close(dataFd);
            dataFd = -1;
            break;
        case Step::Kind::Silent:
            while (ReadMore(fd, pending, index)) {
            }
            break;
        case Step::Kind::StrangerData: {
            const int stranger = havePort ? ConnectTo(dataAddress, 0x7F000002) : -1;
            if (stranger >= 0) {
                strangers.push_back(stranger);
                SendAll(stranger, step.bytes.data(), step.bytes.size());
            }
            break;
        }
        case Step::Kind::ExpectBytes:
            while (pending.size() < step.count && ReadMore(fd, pending, index)) {
            }
            pending.erase(0, std::min(step.count, pending.size()));
            break;
        case Step::Kind::Send:
            open = SendAll(fd, step.bytes.data(), step.bytes.size());
            break;
        case Step::Kind::SendPattern:
            open = SendPattern(fd, step.count);
            break;
        case Step::Kind::Stall:
            Ready(-1, 0, step.milliseconds < 0 ? -1 : step.milliseconds);
            break;
        case Step::Kind::Close:
            ::close(fd);
            open = false;
            break;
        case Step::Kind::Reset: {
            const linger option{1, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &option, sizeof option);
            ::close(fd);
            open = false;
            break;
        }
        }
    }
    if (dataFd >= 0)
        ::close(dataFd);
    if (pasvFd >= 0)
        ::close(pasvFd);
    for (const int stranger : strangers)
        ::close(stranger);
    if (open) {
        while (ReadMore(fd, pending, index)) {
        }
        ::close(fd);
    }
}
