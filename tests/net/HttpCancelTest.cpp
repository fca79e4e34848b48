#include "HttpTestSupport.h"
#include "tests/support/FullBacklog.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Server = ScriptedServer;

// Cancel arrives from a timer while Get waits, as the stall watchdog sends it. The body file of
// an earlier download is there beforehand, to show what each phase does to it.
class HttpCancel : public HttpTest {
protected:
    void SetUp() override {
        HttpTest::SetUp();
        std::ofstream(BodyPath()) << "previous";
    }

    std::string GetCancelledAfter(int milliseconds, const std::string& url) {
        Later(milliseconds, [this] { http.Cancel(); });
        return GetError(url);
    }

    // Cancels once the client has reached the given state; checked from a timer while Get
    // waits, so the test does not depend on how fast the server's bytes arrive.
    std::string GetCancelledWhen(std::function<bool()> reached, const std::string& url) {
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (reached()) {
                poll.stop();
                http.Cancel();
            }
        });
        poll.start(5);
        return GetError(url);
    }
};

// A script that reads the request, sends the given bytes and then holds the connection open.
Server::Script SendAndHold(const std::string& bytes) {
    Server::Script script(PlainRequestLines, Server::ExpectLine());
    script.push_back(Server::Send(bytes));
    return script;
}

} // namespace

TEST_F(HttpCancel, DuringTheNameLookup) {
    EXPECT_EQ(GetCancelledAfter(100, "http://silent.test/a.jpg"),
              "ESockError: Host Lookup Canceled");
    EXPECT_EQ(ReadWholeFile(BodyPath()), "previous");
}

TEST_F(HttpCancel, DuringTheConnect) {
    FullBacklog listener;

    EXPECT_EQ(GetCancelledAfter(200, "http://127.0.0.1:" + std::to_string(listener.Port()) + "/"),
              "ESockError: Connection Canceled");
    EXPECT_EQ(ReadWholeFile(BodyPath()), "previous");

    // The connect left hanging does not spoil the next request.
    Server server(Answer("HTTP/1.0 200 OK\r\n\r\nnext"));
    EXPECT_EQ(GetError("http://" + AddressOf(server) + "/"), "");
    EXPECT_EQ(ReadWholeFile(BodyPath()), "next");
}

TEST_F(HttpCancel, WhileTheRequestIsSent) {
    // Cancel from a send step while Write waits for the request to leave.
    Server server(Server::Script{Server::Stall(-1)});
    http.ReportLevel = 8;
    bool sending = false;
    bool cancelled = false;
    http.OnStatus = [&](TComponent*, const std::string& text) {
        sending = sending || text == "Sending Buffer";
        if (sending && text == "WriteFromStream" && !cancelled) {
            cancelled = true;
            http.Cancel();
        }
    };
    EXPECT_EQ(GetError("http://" + AddressOf(server) + "/a.jpg"),
              "EAbortError: Socket send aborted");
    EXPECT_FALSE(http.Connected());
    EXPECT_EQ(ReadWholeFile(BodyPath()), "previous");
}

TEST_F(HttpCancel, BeforeTheRequestIsSent) {
    // A cancel that lands before Write begins sends nothing; the header read then gives up.
    Server server(Server::Script{Server::Stall(-1)});
    http.ReportLevel = 8;
    http.OnStatus = [&](TComponent*, const std::string& text) {
        if (text == "Write")
            http.Cancel();
    };
    EXPECT_EQ(GetError("http://" + AddressOf(server) + "/a.jpg"),
              "EAbortError: Socket readln aborted");
    EXPECT_FALSE(http.Connected());
}

TEST_F(HttpCancel, WhileTheHeaderIsReadLeavesTheBodyFileUntouched) {
    Server server(SendAndHold("HTTP/1.0 200 OK\r\nSet-Cookie: half=1\r\n"));

    const auto headerBegun = [this] {
        return http.Header == "HTTP/1.0 200 OK\r\nSet-Cookie: half=1\r\n";
    };
    EXPECT_EQ(GetCancelledWhen(headerBegun, "http://" + AddressOf(server) + "/a.jpg"),
              "EAbortError: Socket readln aborted");
    EXPECT_EQ(http.Header, "HTTP/1.0 200 OK\r\nSet-Cookie: half=1\r\n");
    EXPECT_EQ(http.ReceivedCookie(), "half=1");
    EXPECT_EQ(ReadWholeFile(BodyPath()), "previous");
    EXPECT_FALSE(http.Connected());
}

TEST_F(HttpCancel, WhileTheBodyArrivesKeepsTheBytesSoFar) {
    Server::Script script = SendAndHold("HTTP/1.0 200 OK\r\n\r\nfirst ");
    script.insert(script.end(), {Server::Stall(50), Server::Send("second")});
    Server server(script);

    const auto bodyBegun = [this] { return http.BytesReceived() >= 12; };
    EXPECT_EQ(GetCancelledWhen(bodyBegun, "http://" + AddressOf(server) + "/a.jpg"),
              "EAbortError: Socket send aborted");
    EXPECT_EQ(ReadWholeFile(BodyPath()), "first second");
    EXPECT_FALSE(http.Connected());
}

TEST_F(HttpCancel, IsNotNeededWhenTheServerClosesBeforeTheBlankLine) {
    Server::Script script = SendAndHold("HTTP/1.0 200 OK\r\nX: 1\r\n");
    script.push_back(Server::Close());
    Server server(script);

    // The reply can no longer be completed: Get fails at once instead of waiting for a Cancel.
    EXPECT_EQ(GetError("http://" + AddressOf(server) + "/"),
              "ESockError: Connection closed by peer");
    EXPECT_EQ(ReadWholeFile(BodyPath()), "previous");
}

TEST_F(HttpCancel, EarlierCancelDoesNotAffectTheNextGet) {
    http.Cancel();
    Server server(Answer("HTTP/1.0 200 OK\r\n\r\nfresh"));
    http.Get("http://" + AddressOf(server) + "/");
    EXPECT_EQ(ReadWholeFile(BodyPath()), "fresh");
}
