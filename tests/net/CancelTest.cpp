#include "SessionTestSupport.h"
#include "platform/AsyncSocket.h"
#include "tests/support/ScriptedServer.h"

#include <QTemporaryDir>
#include <fstream>
#include <sstream>

using Server = ScriptedServer;

// Each blocking operation ends on Cancel with its own error, and leaves CancelRequested as the
// next operation expects it: cleared by the ones that raise EAbortError for it (except ReadLn),
// still set after ReadLn and the waits of Connect and Accept.
class CancelTest : public FakeResolverTest {
protected:
    void ConnectTo(const Server& server) {
        sock.Host = "127.0.0.1";
        sock.Port = server.Port();
        sock.Connect();
    }
    template <typename Error> std::string Raised(const std::function<void()>& action) {
        try {
            action();
        } catch (const Error& error) {
            return error.Message();
        } catch (const Exception& other) {
            return "wrong kind: " + other.Message();
        }
        return "(nothing raised)";
    }

    CancellableSock sock;
};

TEST_F(CancelTest, ReadLnRaisesAndLeavesTheFlagSet) {
    Server server({Server::Send("no line end"), Server::Stall(-1)});
    ConnectTo(server);
    Later(30, [&]() { sock.Cancel(); });
    EXPECT_EQ(Raised<EAbortError>([&]() { sock.ReadLn(); }), "Socket readln aborted");
    EXPECT_TRUE(sock.CancelRequested());
    // While the flag is set, a send does nothing and raises nothing.
    sock.Writeln("ignored");
    EXPECT_TRUE(sock.CancelRequested());
    EXPECT_EQ(sock.BytesSent(), 0u);
}

TEST_F(CancelTest, ReadAndCaptureRaiseAndClearTheFlag) {
    Server server({Server::Send("12"), Server::Stall(-1)});
    ConnectTo(server);
    Later(30, [&]() { sock.Cancel(); });
    EXPECT_EQ(Raised<EAbortError>([&]() { sock.Read(5); }), "Socket send aborted");
    EXPECT_FALSE(sock.CancelRequested());

    std::string text;
    Later(30, [&]() { sock.Cancel(); });
    EXPECT_EQ(Raised<EAbortError>([&]() { sock.CaptureString(text, -1); }),
              "Socket capture aborted");
    EXPECT_FALSE(sock.CancelRequested());
    EXPECT_EQ(text, "12");
}

TEST_F(CancelTest, CaptureFileKeepsWhatArrivedAndTheConnection) {
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString() + "/partial.bin";
    Server server(
        {Server::Send("head\n"), Server::Stall(50), Server::SendPattern(50000), Server::Stall(-1)});
    ConnectTo(server);
    EXPECT_EQ(sock.ReadLn(), "head\n");
    sock.OnPacketRecvd = [&](TComponent*) {
        if (sock.BytesReceived() >= 50000)
            sock.Cancel();
    };
    EXPECT_EQ(Raised<EAbortError>([&]() { sock.CaptureFile(path); }), "Socket send aborted");
    EXPECT_FALSE(sock.CancelRequested());
    EXPECT_TRUE(sock.Connected());
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    EXPECT_TRUE(content.str() == Server::Pattern(0, 50000)) << content.str().size();
}

TEST_F(CancelTest, SendBufferRaisesWhenThePeerDoesNotRead) {
    Server server({Server::Stall(-1)});
    ConnectTo(server);
    // More than the socket buffers hold while nobody reads on the other side.
    const std::string block(65535, 'x');
    Later(200, [&]() { sock.Cancel(); });
    const std::string message = Raised<EAbortError>([&]() {
        for (int i = 0; i < 2000; ++i)
            sock.SendBuffer(block.data(), 65535);
    });
    EXPECT_EQ(message, "Socket send aborted");
    EXPECT_FALSE(sock.CancelRequested());
}

TEST_F(CancelTest, ConnectClearsAStaleCancel) {
    Server server({Server::Send("hi\n"), Server::Stall(-1)});
    sock.RequestCancel();
    ConnectTo(server);
    EXPECT_FALSE(sock.CancelRequested());
    EXPECT_EQ(sock.ReadLn(), "hi\n");
}

TEST_F(CancelTest, ListenAcceptAndAdoptAnIncomingConnection) {
    CancellableSock listener;
    listener.Port = 0;
    listener.ReportLevel = 4;
    StatusLog log;
    log.Attach(listener);
    listener.Listen(true);
    unsigned high = 0, low = 0;
    ASSERT_EQ(std::sscanf(listener.LocalPortCommas().c_str(), ",%u,%u", &high, &low), 2);

    // The client connects from inside the accept wait, as a server would.
    CancellableSock client;
    client.Host = "127.0.0.1";
    client.Port = static_cast<int>(high * 256 + low);
    Later(10, [&]() { client.Connect(); });
    const platform::SocketHandle handle = listener.Accept();
    ASSERT_NE(handle, platform::InvalidSocket);
    EXPECT_TRUE(listener.Connected());
    EXPECT_EQ(log.texts, std::vector<std::string>{"Accepting"});
    listener.AdoptSocket(handle);

    platform::WaitUntil([&]() { return client.Connected(); });
    client.Writeln("over the data connection");
    EXPECT_EQ(listener.ReadLn(), "over the data connection\r\n");
    listener.Writeln("and back");
    EXPECT_EQ(client.ReadLn(), "and back\r\n");
}

TEST_F(CancelTest, AcceptRaisesOnCancelAndKeepsTheFlag) {
    CancellableSock listener;
    listener.Listen(true);
    Later(30, [&]() { listener.RequestCancel(); });
    EXPECT_EQ(Raised<ESockError>([&]() { listener.Accept(); }), "Accepting Canceled");
    EXPECT_TRUE(listener.CancelRequested());
}

TEST_F(CancelTest, AcceptCancelledWhileTakingTheConnectionClearsTheFlag) {
    CancellableSock listener;
    listener.Listen(true);
    unsigned high = 0, low = 0;
    std::sscanf(listener.LocalPortCommas().c_str(), ",%u,%u", &high, &low);
    listener.ReportLevel = 4;
    // The "Accepting" status handler is the last moment a cancel can come in.
    listener.OnStatus = [&](TComponent*, const std::string& text) {
        if (text == "Accepting")
            listener.RequestCancel();
    };
    CancellableSock client;
    client.Host = "127.0.0.1";
    client.Port = static_cast<int>(high * 256 + low);
    client.Connect();
    EXPECT_EQ(Raised<EAbortError>([&]() { listener.Accept(); }), "Socket send aborted");
    EXPECT_FALSE(listener.CancelRequested());
}

// A connected socket can always send and a closed one is readable for ever; neither may keep
// a wait busy.
TEST_F(CancelTest, WaitingOnASilentOrClosedConnectionCostsNoCpu) {
    Server silent({Server::Send("no line end"), Server::Stall(-1)});
    Server closing({Server::Send("no line end"), Server::Close()});
    for (const Server* server : {&silent, &closing}) {
        CancellableSock session;
        session.Host = "127.0.0.1";
        session.Port = server->Port();
        session.Connect();
        const double before = ProcessCpuSeconds();
        Later(400, [&]() { session.Cancel(); });
        EXPECT_THROW(session.ReadLn(), EAbortError);
        EXPECT_LT(ProcessCpuSeconds() - before, 0.4 * 0.05);
    }
}
