#include "tests/support/Peers.h"
#include "tests/support/ScriptedServer.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#include <utility>
#include <vector>

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

// A connection to host:port, or -1 when refused. Reads give up after five seconds, so a fixture
// that stays silent fails its test instead of hanging it.
int Connect(const char* host, int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, host, &address.sin_addr);
    const timeval timeout{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void SendText(int fd, const std::string& text) {
    ::send(fd, text.data(), text.size(), MSG_NOSIGNAL);
}

// The next line of fd, line end included (what came before the end when there is no more).
std::string ReadLine(int fd, std::string& pending) {
    char buffer[512];
    size_t end;
    while ((end = pending.find('\n')) == std::string::npos) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            return std::exchange(pending, {});
        pending.append(buffer, size_t(n));
    }
    const std::string line = pending.substr(0, end + 1);
    pending.erase(0, end + 1);
    return line;
}

// The reply codes of an FTP server to its greeting and then to each command, one a line.
std::string FtpReplies(int port, const std::vector<std::string>& commands) {
    const int fd = Connect("127.0.0.1", port);
    std::string replies, pending;
    if (fd >= 0) {
        replies += ReadLine(fd, pending).substr(0, 3) + "\n";
        for (const std::string& command : commands) {
            SendText(fd, command);
            replies += ReadLine(fd, pending).substr(0, 3) + "\n";
        }
        ::close(fd);
    }
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
        const std::vector<std::string> session = {"USER anonymous\r\n", "PASS guest@\r\n",
                                                  "QUIT\r\n"};
        EXPECT_EQ(FtpReplies(vsftpdPort, session), "220\n331\n230\n221\n") << vsftpd.Log();
        EXPECT_EQ(FtpReplies(pyftpdPort, session), "220\n331\n230\n221\n") << pyftpd.Log();
    }
    EXPECT_FALSE(peers::PortAccepts(vsftpdPort, 50));
    EXPECT_FALSE(peers::PortAccepts(pyftpdPort, 50));
}

TEST(PeerFixtures, VsftpdWithActiveModeRefusedStillOffersPassive) {
    peers::ScratchDir dir;
    const std::string root = dir.MakeDir("pub");
    peers::VsftpdServer vsftpd(root, peers::VsftpdServer::Active::Refused);
    EXPECT_EQ(FtpReplies(vsftpd.Port(), {"USER anonymous\r\n", "PASS guest@\r\n",
                                         "PORT 127,0,0,1,4,1\r\n", "PASV\r\n", "QUIT\r\n"}),
              "220\n331\n230\n550\n227\n221\n")
        << vsftpd.Log();
}

// The scripted server's passive side, driven by hand: the 227 names the address it was told
// to, but the data port listens on 127.0.0.1 alone, and a connection made before the command
// waits there until the script accepts it.
TEST(ScriptedFixtures, PassiveDataPortIsAnnouncedAndListensOnlyWhereTheControlPeerIs) {
    using S = ScriptedServer;
    ScriptedServer server({S::ExpectPasv("127.0.0.2"), S::OpenData(), S::ExpectLine(),
                           S::Send("150 Here comes the directory listing.\r\n"),
                           S::SendData("listing"), S::CloseData(),
                           S::Send("226 Directory send OK.\r\n")});
    const int control = Connect("127.0.0.1", server.Port());
    ASSERT_GE(control, 0);
    std::string pending;
    SendText(control, "PASV\r\n");
    const std::string reply = ReadLine(control, pending);
    unsigned h1 = 0, h2 = 0, h3 = 0, h4 = 0, p1 = 0, p2 = 0;
    ASSERT_EQ(std::sscanf(reply.c_str(), "227 Entering Passive Mode (%u,%u,%u,%u,%u,%u).\r\n", &h1,
                          &h2, &h3, &h4, &p1, &p2),
              6)
        << reply;
    EXPECT_EQ(std::vector<unsigned>({h1, h2, h3, h4}), std::vector<unsigned>({127, 0, 0, 2}));
    const int port = int(p1 * 256 + p2);

    const int misled = Connect("127.0.0.2", port);
    EXPECT_LT(misled, 0) << "the data port answers on the announced 127.0.0.2";
    if (misled >= 0)
        ::close(misled);
    const int data = Connect("127.0.0.1", port);
    ASSERT_GE(data, 0);
    SendText(control, "LIST\r\n");
    EXPECT_EQ(ReadLine(control, pending), "150 Here comes the directory listing.\r\n");
    std::string dataPending;
    EXPECT_EQ(ReadLine(data, dataPending), "listing");
    EXPECT_EQ(ReadLine(control, pending), "226 Directory send OK.\r\n");
    EXPECT_EQ(server.Lines(0), (std::vector<std::string>{"PASV\r\n", "LIST\r\n"}));
    EXPECT_EQ(server.DataPeers(0), std::vector<std::string>{"127.0.0.1"});
    ::close(data);
    ::close(control);
}
