#include "tests/support/Peers.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <fstream>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// One plain HTTP/1.0 exchange over a raw socket, so the fixture is checked without the client
// under test.
std::string RawGet(int port, const std::string& path) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string reply;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        const std::string request = "GET " + path + " HTTP/1.0\r\n\r\n";
        if (::send(fd, request.data(), request.size(), 0) == ssize_t(request.size())) {
            char buffer[4096];
            for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
                reply.append(buffer, size_t(n));
        }
    }
    ::close(fd);
    return reply;
}

// The first reply of each step of an anonymous FTP login, one a line.
std::string FtpLogin(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string replies;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        std::string pending;
        auto readReply = [&] {
            char buffer[512];
            size_t end;
            while ((end = pending.find('\n')) == std::string::npos) {
                const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
                if (n <= 0)
                    return;
                pending.append(buffer, size_t(n));
            }
            replies += pending.substr(0, 3) + "\n";
            pending.erase(0, end + 1);
        };
        readReply();
        for (const std::string command : {"USER anonymous\r\n", "PASS guest@\r\n", "QUIT\r\n"}) {
            ::send(fd, command.data(), command.size(), 0);
            readReply();
        }
    }
    ::close(fd);
    return replies;
}

} // namespace

// The fixtures themselves: a server that lingers after its test, or one that a test believes
// to be up while it is not, would make every real-server result meaningless.

TEST(PeerFixtures, NginxServesItsDirectoryAndIsGoneWhenStopped) {
    peers::ScratchDir dir;
    const std::string www = dir.MakeDir("site/www");
    std::ofstream(www + "/hello.txt") << "hello";
    int port = 0;
    pid_t pid = 0;
    {
        peers::NginxServer nginx(www);
        port = nginx.Port();
        pid = nginx.Pid();
        // The scratch directories are 0700 when made; nginx's worker (nobody) answers 403 then.
        const std::string reply = RawGet(port, "/hello.txt");
        EXPECT_EQ(reply.substr(0, 15), "HTTP/1.1 200 OK") << reply << nginx.ErrorLog();
        EXPECT_EQ(reply.substr(reply.size() - 9), "\r\n\r\nhello");
        EXPECT_EQ(nginx.Url("a/b"), "http://127.0.0.1:" + std::to_string(port) + "/a/b");
    }
    EXPECT_FALSE(peers::PortAccepts(port, 50)) << "nginx still listens on " << port;
    EXPECT_NE(::kill(pid, 0), 0) << "nginx process " << pid << " outlived its fixture";
}

TEST(PeerFixtures, TinyProxyAcceptsAndIsGoneWhenStopped) {
    int port = 0;
    pid_t pid = 0;
    {
        peers::TinyProxyServer proxy;
        port = proxy.Port();
        pid = proxy.Pid();
        EXPECT_TRUE(peers::PortAccepts(port, 1000));
    }
    EXPECT_FALSE(peers::PortAccepts(port, 50));
    EXPECT_NE(::kill(pid, 0), 0);
}

TEST(PeerFixtures, TwoServersGetDifferentPorts) {
    peers::ScratchDir dir;
    peers::NginxServer first(dir.Path());
    peers::NginxServer second(dir.Path());
    EXPECT_NE(first.Port(), second.Port());
}

TEST(PeerFixtures, AMissingProgramIsAnErrorThatNamesIt) {
    try {
        peers::FindProgram("vantrel-no-such-daemon");
        FAIL() << "no error for a missing program";
    } catch (const peers::PeerError& error) {
        EXPECT_NE(std::string(error.what()).find("vantrel-no-such-daemon is not installed"),
                  std::string::npos)
            << error.what();
    }
}

TEST(PeerFixtures, BothFtpServersLetAnAnonymousUserInAndAreGoneWhenStopped) {
    peers::ScratchDir dir;
    const std::string root = dir.MakeDir("pub");
    std::ofstream(root + "/scan.pdf") << "scan";
    int vsftpdPort = 0, pyftpdPort = 0;
    {
        peers::VsftpdServer vsftpd(root);
        peers::PyFtpServer pyftpd(root);
        vsftpdPort = vsftpd.Port();
        pyftpdPort = pyftpd.Port();
        EXPECT_EQ(FtpLogin(vsftpdPort), "220\n331\n230\n221\n") << vsftpd.Log();
        EXPECT_EQ(FtpLogin(pyftpdPort), "220\n331\n230\n221\n") << pyftpd.Log();
    }
    EXPECT_FALSE(peers::PortAccepts(vsftpdPort, 50));
    EXPECT_FALSE(peers::PortAccepts(pyftpdPort, 50));
}
