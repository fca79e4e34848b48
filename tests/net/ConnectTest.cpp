#include "SessionTestSupport.h"
#include "tests/support/FullBacklog.h"
#include "tests/support/ScriptedServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using Server = ScriptedServer;

namespace {

// A loopback port that nobody listens on: bound and closed again.
int ClosedPort() {
    ScriptedServer probe(ScriptedServer::Script{});
    const int port = probe.Port();
    probe.Stop();
    return port;
}

// The socket says once that it can send as soon as it is connected; that send step may come
// inside the connect wait.
std::vector<std::string> WithoutSendSteps(std::vector<std::string> texts) {
    texts.erase(std::remove(texts.begin(), texts.end(), "WriteFromStream"), texts.end());
    return texts;
}

} // namespace

class ConnectTest : public FakeResolverTest {};

TEST_F(ConnectTest, DottedAddressConnectsWithoutALookup) {
    Server server({Server::Stall(-1)});
    CancellableSock sock;
    StatusLog log;
    sock.ReportLevel = 8;
    log.Attach(sock);
    bool connectFired = false;
    sock.OnConnect = [&](TComponent*) { connectFired = true; };
    sock.Host = "127.0.0.1";
    sock.Port = server.Port();
    sock.Connect();
    EXPECT_TRUE(sock.Connected());
    EXPECT_TRUE(connectFired);
    // One timer pair only: around the connect, none around a lookup.
    EXPECT_EQ(WithoutSendSteps(log.texts),
              (std::vector<std::string>{"Connecting", "Resolve Host", "Timer On", "Timer Off"}));
    server.Stop();
}

TEST_F(ConnectTest, HostNameIsLookedUpWithItsOwnTimerPair) {
    Server server({Server::Stall(-1)});
    CancellableSock sock;
    StatusLog log;
    sock.ReportLevel = 8;
    log.Attach(sock);
    bool resolved = false;
    sock.OnHostResolved = [&](TComponent*) { resolved = true; };
    sock.Host = "gallery.test";
    sock.Port = server.Port();
    sock.Connect();
    EXPECT_TRUE(sock.Connected());
    EXPECT_TRUE(resolved);
    EXPECT_EQ(WithoutSendSteps(log.texts),
              (std::vector<std::string>{"Connecting", "Resolve Host", "Timer On", "Timer Off",
                                        "Timer On", "Timer Off"}));
}

TEST_F(ConnectTest, ProxyIsUsedInsteadOfHost) {
    Server proxy({Server::Send("proxy here\n"), Server::Stall(-1)});
    CancellableSock sock;
    sock.Host = "unknown.invalid";
    sock.Port = 1;
    sock.Proxy = "localhost";
    sock.ProxyPort = proxy.Port();
    sock.Connect();
    EXPECT_TRUE(sock.Connected());
    EXPECT_EQ(sock.ReadLn(), "proxy here\n");
}

TEST_F(ConnectTest, UnknownHostIsNullRemoteAddressUnlessTheHandlerFixesIt) {
    CancellableSock sock;
    sock.Host = "nowhere.test";
    sock.Port = 80;
    EXPECT_EQ(MessageOf([&]() { sock.Connect(); }), "Null Remote Address");
    EXPECT_FALSE(sock.Connected());

    // The handler gets one chance; declining gives the same error.
    int asked = 0;
    sock.OnInvalidHost = [&](bool&) { ++asked; };
    EXPECT_EQ(MessageOf([&]() { sock.Connect(); }), "Null Remote Address");
    EXPECT_EQ(asked, 1);

    Server server({Server::Stall(-1)});
    sock.Port = server.Port();
    sock.OnInvalidHost = [&](bool& handled) {
        ++asked;
        sock.Host = "localhost";
        handled = true;
    };
    sock.Connect();
    EXPECT_TRUE(sock.Connected());
    EXPECT_EQ(asked, 2);
}

TEST_F(ConnectTest, LookupThatNeverAnswersEndsOnCancelOrTimeOut) {
    CancellableSock sock;
    sock.Host = "silent.test";
    sock.Port = 80;
    Later(50, [&]() { sock.Cancel(); });
    EXPECT_EQ(MessageOf([&]() { sock.Connect(); }), "Host Lookup Canceled");
    EXPECT_TRUE(sock.CancelRequested());

    // The next Connect clears the cancel; this time the timer ends the lookup.
    StatusLog log;
    sock.ReportLevel = 8;
    log.Attach(sock);
    sock.TimeOut = 60;
    EXPECT_EQ(MessageOf([&]() { sock.Connect(); }), "Host Lookup Timed Out");
    EXPECT_TRUE(log.Contains("Timer Triggered"));
    EXPECT_TRUE(sock.TimedOut());
}

TEST_F(ConnectTest, RefusedConnectionFailsAndFiresOnConnectionFailed) {
    CancellableSock sock;
    bool failedFired = false;
    sock.OnConnectionFailed = [&](TComponent*) { failedFired = true; };
    sock.Host = "127.0.0.1";
    sock.Port = ClosedPort();
    // Linux reports a refused loopback connect through the connect event, not at once.
    EXPECT_EQ(MessageOf([&]() { sock.Connect(); }), "Connection Failed");
    EXPECT_TRUE(failedFired);
    EXPECT_FALSE(sock.Connected());

    // The same component connects fine afterwards.
    Server server({Server::Stall(-1)});
    sock.Port = server.Port();
    sock.Connect();
    EXPECT_TRUE(sock.Connected());
}

TEST_F(ConnectTest, SecondConnectIsRefusedWithoutTouchingTheConnection) {
    Server server({Server::ExpectLine(), Server::Send("still here\n"), Server::Stall(-1)});
    CancellableSock sock;
    sock.Host = "127.0.0.1";
    sock.Port = server.Port();
    sock.Connect();
    EXPECT_EQ(MessageOf([&]() { sock.Connect(); }), "Already connected");
    EXPECT_TRUE(sock.Connected());
    sock.Writeln("ping");
    EXPECT_EQ(sock.ReadLn(), "still here\n");
    EXPECT_EQ(server.Connections(), 1u);
}

TEST_F(ConnectTest, OverlongNamesAndPortsAreRefusedNotCut) {
    CancellableSock sock;
    sock.Port = 80;
    // Cut to 127 characters this would be a different, resolvable name.
    sock.Host = "localhost" + std::string(119, 'x');
    const std::string message = MessageOf([&]() { sock.Connect(); });
    EXPECT_EQ(message.rfind("Host name too long", 0), 0u) << message;

    sock.Host = "127.0.0.1";
    sock.Proxy = std::string(128, 'p');
    sock.ProxyPort = 8080;
    EXPECT_EQ(MessageOf([&]() { sock.Connect(); }).rfind("Host name too long", 0), 0u);

    sock.Proxy.clear();
    sock.Port = 65536 + 80;
    EXPECT_EQ(MessageOf([&]() { sock.Connect(); }), "Invalid port number 65616");
    EXPECT_FALSE(sock.Connected());
}

TEST_F(ConnectTest, PeerCloseClearsConnectedAndFiresOnDisconnect) {
    Server server({Server::Send("bye\r\n"), Server::Close()});
    CancellableSock sock;
    int disconnects = 0;
    sock.OnDisconnect = [&](TComponent*) { ++disconnects; };
    sock.Host = "127.0.0.1";
    sock.Port = server.Port();
    sock.Connect();
    // The line arrives with the close; it stays readable after the session closed.
    EXPECT_EQ(sock.ReadLn(), "bye\r\n");
    platform::WaitUntil([&]() { return !sock.Connected(); });
    EXPECT_EQ(disconnects, 1);
    // A fresh socket is ready for the next connection.
    Server next({Server::Stall(-1)});
    sock.Port = next.Port();
    sock.Connect();
    EXPECT_TRUE(sock.Connected());
}

TEST_F(ConnectTest, ResetByPeerIsReportedOnceAndCloses) {
    Server server({Server::ExpectLine(), Server::Reset()});
    CancellableSock sock;
    std::vector<uint16_t> errors;
    sock.OnError = [&](TComponent*, uint16_t code, const std::string&) { errors.push_back(code); };
    sock.Host = "127.0.0.1";
    sock.Port = server.Port();
    sock.Connect();
    sock.Writeln("hello");
    platform::WaitUntil([&]() { return !sock.Connected(); });
    EXPECT_EQ(errors, std::vector<uint16_t>{10054});
    EXPECT_EQ(sock.LastError(), 10054);
}

TEST_F(ConnectTest, UnansweredConnectEndsOnTimeOutOrCancel) {
    FullBacklog silent;
    CancellableSock sock;
    int failures = 0;
    sock.OnConnectionFailed = [&](TComponent*) { ++failures; };
    sock.Host = "127.0.0.1";
    sock.Port = silent.Port();
    sock.TimeOut = 80;
    EXPECT_EQ(MessageOf([&]() { sock.Connect(); }), "Connection Timed out");
    EXPECT_TRUE(sock.TimedOut());

    sock.TimeOut = 0;
    Later(50, [&]() { sock.Cancel(); });
    EXPECT_EQ(MessageOf([&]() { sock.Connect(); }), "Connection Canceled");
    EXPECT_TRUE(sock.CancelRequested());
    EXPECT_EQ(failures, 2);

    // The abandoned attempt does not spoil the next connection.
    Server server({Server::Send("fresh\n"), Server::Stall(-1)});
    sock.Port = server.Port();
    sock.Connect();
    EXPECT_EQ(sock.ReadLn(), "fresh\n");
}

TEST_F(ConnectTest, CheckConnectedAsksOnceThenRaises) {
    CancellableSock sock;
    EXPECT_EQ(MessageOf([&]() { sock.CheckConnected(); }), "Not Connected");

    Server server({Server::Stall(-1)});
    int asked = 0;
    sock.OnConnectionRequired = [&](bool& handled) {
        ++asked;
        sock.Host = "127.0.0.1";
        sock.Port = server.Port();
        sock.Connect();
        handled = true;
    };
    sock.CheckConnected();
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(sock.Connected());

    CancellableSock declined;
    declined.OnConnectionRequired = [&](bool& handled) {
        ++asked;
        handled = true; // says so, but connects nothing
    };
    EXPECT_EQ(MessageOf([&]() { declined.CheckConnected(); }), "Not Connected");
    EXPECT_EQ(asked, 2);
}

TEST_F(ConnectTest, DestructionRaisesNoEvents) {
    Server server({Server::Stall(-1)});
    int events = 0;
    {
        CancellableSock sock;
        sock.Host = "127.0.0.1";
        sock.Port = server.Port();
        sock.Connect();
        sock.ReportLevel = 16;
        sock.OnStatus = [&](TComponent*, const std::string&) { ++events; };
        sock.OnDisconnect = [&](TComponent*) { ++events; };
    }
    EXPECT_EQ(events, 0);
}
