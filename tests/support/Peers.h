#pragma once

// Real servers for the tests: each one runs as a direct child of the test process on a free
// loopback port, keeps its configuration and logs in its own temporary directory, and is
// stopped by its PID when the object goes away.
//
//     peers::NginxServer nginx(wwwDir);
//     http.Get(nginx.Url("file.bin"));
//
// A server that cannot be started (its program is not installed, it exits, its port never
// accepts) raises peers::PeerError with a message that says which and why: the tests report it
// as a failure, never as a skip.

#include <memory>
#include <stdexcept>
#include <string>
#include <sys/types.h>
#include <vector>

namespace peers {

class PeerError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A fresh directory under the system's temporary directory, removed with its content at
// destruction. It is world-readable (0755): nginx's worker runs as nobody and must reach the
// files below it.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& Path() const { return path_; }
    // Path() + "/" + name.
    std::string File(const std::string& name) const;
    // Creates a world-readable sub-directory (and any missing parents) and returns its path.
    std::string MakeDir(const std::string& name) const;

private:
    std::string path_;
};

// Searches PATH, then /usr/sbin and /sbin (daemons live there and root's PATH may lack them).
// Raises PeerError naming the program and the package script when it is not installed.
std::string FindProgram(const std::string& name);

// A loopback port that nothing listens on at the moment of the call.
int FreeLoopbackPort();

// True once 127.0.0.1:port accepts a TCP connection, false after timeoutMs.
bool PortAccepts(int port, int timeoutMs);

// Reads a whole (small) file; empty when it does not exist.
std::string ReadTextFile(const std::string& path);

// A program started as a direct child of this process (no shell in between), with its output
// in a log file. Stop() sends stopSignal, waits for the child with waitpid and kills it after a
// grace period, so nothing outlives the test.
class ChildProcess {
public:
    ChildProcess(const std::vector<std::string>& argv, const std::string& logFile, int stopSignal);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t Pid() const { return pid_; }
    // False once the child has exited (it is then reaped).
    bool Running();
    void Stop();

private:
    pid_t pid_ = -1;
    int stopSignal_;
};

// What every server fixture has: its own scratch directory, its process and its port. The
// process is declared after the directory, so it is stopped before the directory goes.
class PeerServer {
public:
    PeerServer(const PeerServer&) = delete;
    PeerServer& operator=(const PeerServer&) = delete;

    int Port() const { return port_; }
    pid_t Pid() const { return process_->Pid(); }

protected:
    PeerServer() = default;
    ~PeerServer() = default;

    ScratchDir dir_;
    std::unique_ptr<ChildProcess> process_;
    int port_ = 0;
};

// nginx serving the files of wwwDir (an absolute path whose every directory is world-readable).
class NginxServer : public PeerServer {
public:
    explicit NginxServer(const std::string& wwwDir);
    // "http://127.0.0.1:<port>/" + path.
    std::string Url(const std::string& path) const;
    std::string AccessLog() const;
    std::string ErrorLog() const;
};

// tinyproxy accepting proxy requests from 127.0.0.1.
class TinyProxyServer : public PeerServer {
public:
    TinyProxyServer();
    std::string Log() const;
};

// vsftpd serving rootDir to anonymous users, read-only. Passive mode (PASV) always works;
// active mode (PORT) unless the server is made with Active::Refused, when it answers PORT with
// "550 Permission denied." as a site behind a firewall may. Every file below rootDir must be
// world-readable: the sessions run as the user ftp. Each session is a process of its own that
// lives until its client disconnects.
class VsftpdServer : public PeerServer {
public:
    enum class Active { Allowed, Refused };
    explicit VsftpdServer(const std::string& rootDir, Active active = Active::Allowed);
    // The protocol log: every command and reply of every session.
    std::string Log() const;
};

// pyftpdlib serving rootDir to anonymous users, read-only: a second FTP server whose replies
// differ from vsftpd's (it connects the data channel at PORT time and answers 125, not 150).
class PyFtpServer : public PeerServer {
public:
    explicit PyFtpServer(const std::string& rootDir);
    std::string Log() const;
};

} // namespace peers
