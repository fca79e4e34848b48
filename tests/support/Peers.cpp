#include "tests/support/Peers.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <netinet/in.h>
#include <spawn.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace peers {

namespace {

using Clock = std::chrono::steady_clock;

std::string ErrnoText(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

void WriteTextFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out)
        throw PeerError("cannot write " + path);
}

std::string Tail(const std::string& text, size_t maxBytes = 2000) {
    return text.size() <= maxBytes ? text : "..." + text.substr(text.size() - maxBytes);
}

sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// Starts the daemon that writeConfigAndArgs describes for a port, and returns once that port
// accepts. A daemon that exits at once most likely lost its port to another process between our
// check and its bind: try another one, and give up with its log after a few attempts.
std::unique_ptr<ChildProcess>
StartOnFreePort(const std::string& name, const std::string& logFile, int stopSignal,
                const std::function<std::vector<std::string>(int port)>& writeConfigAndArgs,
                const std::function<std::string()>& readDiagnostics, int& port) {
    std::string lastFailure;
    for (int attempt = 0; attempt < 4; ++attempt) {
        port = FreeLoopbackPort();
        auto process =
            std::make_unique<ChildProcess>(writeConfigAndArgs(port), logFile, stopSignal);
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        while (Clock::now() < deadline && process->Running()) {
            if (PortAccepts(port, 20))
                return process;
        }
        const bool exited = !process->Running();
        process->Stop();
        lastFailure = name + (exited ? " exited at start-up" : " never accepted on its port") +
                      " (port " + std::to_string(port) + "). Its log:\n" +
                      Tail(ReadTextFile(logFile) + readDiagnostics());
        if (!exited)
            break;
    }
    throw PeerError(lastFailure);
}

} // namespace

ScratchDir::ScratchDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/vantrel-peer-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr)
        throw PeerError(ErrnoText("mkdtemp " + pattern));
    path_ = pattern;
    ::chmod(path_.c_str(), 0755);
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string ScratchDir::File(const std::string& name) const {
    return path_ + "/" + name;
}

std::string ScratchDir::MakeDir(const std::string& name) const {
    std::string path = path_;
    std::stringstream parts(name);
    for (std::string part; std::getline(parts, part, '/');) {
        if (part.empty())
            continue;
        path += "/" + part;
        if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST)
            throw PeerError(ErrnoText("mkdir " + path));
        ::chmod(path.c_str(), 0755);
    }
    return path;
}

std::string FindProgram(const std::string& name) {
    const char* pathVariable = std::getenv("PATH");
    std::string searched = std::string(pathVariable ? pathVariable : "") + ":/usr/sbin:/sbin";
    std::stringstream dirs(searched);
    for (std::string dir; std::getline(dirs, dir, ':');) {
        if (dir.empty())
            continue;
        const std::string candidate = dir + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    throw PeerError(name + " is not installed (searched " + searched +
                    "); the real-server tests need it: run scripts/setup.sh");
}

int FreeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw PeerError(ErrnoText("socket"));
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        const std::string failure = ErrnoText("bind 127.0.0.1:0");
        ::close(fd);
        throw PeerError(failure);
    }
    ::close(fd);
    return ntohs(address.sin_port);
}

bool PortAccepts(int port, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return false;
        const sockaddr_in address = Loopback(port);
        const bool accepted =
            ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
        if (accepted)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    } while (Clock::now() < deadline);
    return false;
}

std::string ReadTextFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& logFile,
                           int stopSignal)
    : stopSignal_(stopSignal) {
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);

    // posix_spawn rather than fork: the test process has Qt's threads, and the child must start
    // the daemon directly, without a shell whose exit could leave it orphaned.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, logFile.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    const int result = ::posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (result != 0) {
        pid_ = -1;
        throw PeerError("cannot start " + argv[0] + ": " + std::strerror(result));
    }
}

ChildProcess::~ChildProcess() {
    Stop();
}

bool ChildProcess::Running() {
    if (pid_ <= 0)
        return false;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
    }
    return true;
}

void ChildProcess::Stop() {
    if (pid_ <= 0)
        return;
    ::kill(pid_, stopSignal_);
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    int status = 0;
    while (Clock::now() < deadline) {
        const pid_t reaped = ::waitpid(pid_, &status, WNOHANG);
        if (reaped == pid_ || (reaped < 0 && errno == ECHILD)) {
            pid_ = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
}

NginxServer::NginxServer(const std::string& wwwDir) {
    const std::string program = FindProgram("nginx");
    dir_.MakeDir("logs");
    dir_.MakeDir("tmp");
    const std::string errorLog = dir_.File("logs/error.log");
    // SIGTERM is nginx's fast shutdown: it does not wait for a client that still holds a
    // connection, as a cancelled test may.
    process_ = StartOnFreePort(
        "nginx", dir_.File("nginx.out"), SIGTERM,
        [&](int port) {
            WriteTextFile(dir_.File("nginx.conf"),
                          "daemon off;\n"
                          "worker_processes 1;\n"
                          "pid nginx.pid;\n"
                          "error_log logs/error.log info;\n"
                          "events { worker_connections 64; }\n"
                          "http {\n"
                          "    access_log logs/access.log;\n"
                          "    client_body_temp_path tmp/client; proxy_temp_path tmp/proxy;\n"
                          "    fastcgi_temp_path tmp/fastcgi; uwsgi_temp_path tmp/uwsgi;\n"
                          "    scgi_temp_path tmp/scgi;\n"
                          "    include /etc/nginx/mime.types;\n"
                          "    default_type application/octet-stream;\n"
                          "    sendfile on;\n"
                          "    server { listen 127.0.0.1:" +
                              std::to_string(port) + "; root " + wwwDir +
                              "; }\n"
                              "}\n");
            return std::vector<std::string>{program,      "-p", dir_.Path() + "/", "-c",
                                            "nginx.conf", "-e", "logs/error.log"};
        },
        [&] { return ReadTextFile(errorLog); }, port_);
}

std::string NginxServer::Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/" + path;
}

std::string NginxServer::AccessLog() const {
    return ReadTextFile(dir_.File("logs/access.log"));
}

std::string NginxServer::ErrorLog() const {
    return ReadTextFile(dir_.File("logs/error.log"));
}

TinyProxyServer::TinyProxyServer() {
    const std::string program = FindProgram("tinyproxy");
    const std::string log = dir_.File("tinyproxy.log");
    // No "User" line: as nobody it could not write its log in a directory owned by root.
    process_ = StartOnFreePort(
        "tinyproxy", dir_.File("tinyproxy.out"), SIGTERM,
        [&](int port) {
            WriteTextFile(dir_.File("tinyproxy.conf"), "Port " + std::to_string(port) +
                                                           "\n"
                                                           "Listen 127.0.0.1\n"
                                                           "Timeout 60\n"
                                                           "MaxClients 20\n"
                                                           "LogFile \"" +
                                                           log +
                                                           "\"\n"
                                                           "LogLevel Info\n"
                                                           "PidFile \"" +
                                                           dir_.File("tinyproxy.pid") +
                                                           "\"\n"
                                                           "Allow 127.0.0.1\n");
            return std::vector<std::string>{program, "-d", "-c", dir_.File("tinyproxy.conf")};
        },
        [&] { return ReadTextFile(log); }, port_);
}

std::string TinyProxyServer::Log() const {
    return ReadTextFile(dir_.File("tinyproxy.log"));
}

VsftpdServer::VsftpdServer(const std::string& rootDir, Active active) {
    const std::string program = FindProgram("vsftpd");
    // vsftpd refuses to start without an empty, root-owned directory to lock its sessions in.
    const std::string emptyDir = dir_.MakeDir("empty");
    const std::string log = dir_.File("vsftpd.log");
    process_ = StartOnFreePort(
        "vsftpd", dir_.File("vsftpd.out"), SIGTERM,
        [&](int port) {
            // seccomp_sandbox=NO: with the sandbox every LIST or RETR kills the session here.
            WriteTextFile(dir_.File("vsftpd.conf"), "listen=YES\n"
                                                    "listen_ipv6=NO\n"
                                                    "listen_address=127.0.0.1\n"
                                                    "listen_port=" +
                                                        std::to_string(port) +
                                                        "\n"
                                                        "background=NO\n"
                                                        "anonymous_enable=YES\n"
                                                        "local_enable=NO\n"
                                                        "write_enable=NO\n"
                                                        "anon_root=" +
                                                        rootDir +
                                                        "\n"
                                                        "secure_chroot_dir=" +
                                                        emptyDir +
                                                        "\n"
                                                        "port_enable=" +
                                                        (active == Active::Allowed ? "YES" : "NO") +
                                                        "\n"
                                                        "connect_from_port_20=NO\n"
                                                        "seccomp_sandbox=NO\n"
                                                        "hide_ids=YES\n"
                                                        "use_localtime=NO\n"
                                                        "xferlog_enable=YES\n"
                                                        "vsftpd_log_file=" +
                                                        log +
                                                        "\n"
                                                        "log_ftp_protocol=YES\n");
            return std::vector<std::string>{program, dir_.File("vsftpd.conf")};
        },
        [&] { return ReadTextFile(log); }, port_);
}

std::string VsftpdServer::Log() const {
    return ReadTextFile(dir_.File("vsftpd.log"));
}

PyFtpServer::PyFtpServer(const std::string& rootDir) {
    // Debian's interpreter: another python3 earlier on PATH may lack the module.
    const std::string program = "/usr/bin/python3";
    if (::access(program.c_str(), X_OK) != 0)
        throw PeerError(program + " is not installed; the FTP tests need it with pyftpdlib: run "
                                  "scripts/setup.sh");
    const std::string log = dir_.File("pyftpdlib.log");
    process_ = StartOnFreePort(
        "pyftpdlib", log, SIGTERM,
        [&](int port) {
            return std::vector<std::string>{program,     "-m", "pyftpdlib",          "-i",
                                            "127.0.0.1", "-p", std::to_string(port), "-d",
                                            rootDir};
        },
        [] { return std::string(); }, port_);
}

std::string PyFtpServer::Log() const {
    return ReadTextFile(dir_.File("pyftpdlib.log"));
}

} // namespace peers
