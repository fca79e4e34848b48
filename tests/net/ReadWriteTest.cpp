#include "SessionTestSupport.h"
#include "platform/SocketErrors.h"
#include "tests/support/ScriptedServer.h"

#include <QDir>
#include <QTemporaryDir>
#include <cerrno>
#include <fstream>
#include <netdb.h>
#include <sstream>

using Server = ScriptedServer;

namespace {

std::string FileContents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

} // namespace

class ReadWriteTest : public FakeResolverTest {
protected:
    void ConnectTo(const Server& server) {
        sock.Host = "127.0.0.1";
        sock.Port = server.Port();
        sock.Connect();
    }
    std::string TempPath(const std::string& name) const {
        return dir.path().toStdString() + "/" + name;
    }

    QTemporaryDir dir;
    CancellableSock sock;
};

TEST_F(ReadWriteTest, ReadLnKeepsLineEndsAndLeavesTheRest) {
    Server server({Server::Send("220 ready\r\nlone\nrest"), Server::Stall(100),
                   Server::Send(" of it\n"), Server::Stall(-1)});
    ConnectTo(server);
    EXPECT_EQ(sock.ReadLn(), "220 ready\r\n");
    EXPECT_EQ(sock.ReadLn(), "lone\n");
    // "rest" is already here; the line completes only with the second piece.
    EXPECT_EQ(sock.ReadLn(), "rest of it\n");
    EXPECT_TRUE(sock.ReceivedData().empty());
}

TEST_F(ReadWriteTest, ReadLnFindsTheLineFeedBehindANulByte) {
    Server server({Server::Send(std::string("a\0b\nnext\n", 9)), Server::Stall(-1)});
    ConnectTo(server);
    EXPECT_EQ(sock.ReadLn(), std::string("a\0b\n", 4));
    EXPECT_EQ(sock.ReadLn(), "next\n");
}

TEST_F(ReadWriteTest, ReadLnRefusesALineLongerThanTheLimit) {
    Server server({Server::Send("1234567\n12345678"), Server::Stall(50), Server::Send("9\n"),
                   Server::Stall(-1)});
    ConnectTo(server);
    sock.MaxLineLength = 8;
    EXPECT_EQ(sock.ReadLn(), "1234567\n") << "a line of exactly the limit, LF included";
    // The second line is refused once eight bytes without a LF are in, not when it ends.
    EXPECT_EQ(MessageOf([&]() { sock.ReadLn(); }), "Line too long");
    EXPECT_EQ(sock.ReceivedData(), "12345678");
}

TEST_F(ReadWriteTest, ReadTakesCountedBytesOrWhatIsBuffered) {
    Server server(
        {Server::Send("0123456789"), Server::Stall(50), Server::Send("abc"), Server::Stall(-1)});
    ConnectTo(server);
    EXPECT_EQ(sock.Read(4), "0123");
    EXPECT_EQ(sock.Read(8), "456789ab");
    platform::WaitUntil([&]() { return sock.ReceivedData().size() == 1; });
    EXPECT_EQ(sock.Read(0), "c");
    EXPECT_EQ(sock.Read(0), "");
}

TEST_F(ReadWriteTest, TransactionSetsReplyCodeAndReportsTheReplyAtLevelOne) {
    Server server({Server::ExpectLine(), Server::Send("250 OK\r\n"), Server::ExpectLine(),
                   Server::Send("Welcome\r\n"), Server::ExpectLine(), Server::Send("99999 big\r\n"),
                   Server::Stall(-1)});
    ConnectTo(server);
    StatusLog log;
    log.Attach(sock);
    sock.ReportLevel = 1;
    EXPECT_EQ(sock.Transaction("NOOP"), "250 OK\r\n");
    EXPECT_EQ(sock.ReplyCode(), 250);
    EXPECT_EQ(sock.LastReply(), "250 OK\r\n");
    EXPECT_EQ(log.texts, std::vector<std::string>{"250 OK\r\n"});

    EXPECT_EQ(sock.Transaction("HELP"), "Welcome\r\n");
    EXPECT_EQ(sock.ReplyCode(), 0);

    // 99999 does not fit the reply code; it must not come out as some other number.
    try {
        sock.Transaction("BIG");
        FAIL() << "no error for a reply number out of range";
    } catch (const ESockError& error) {
        EXPECT_EQ(std::string(error.what()), "Reply code out of range: 99999");
    }
    EXPECT_EQ(sock.ReplyCode(), 0);
    EXPECT_EQ(sock.LastReply(), "99999 big\r\n");
    ASSERT_TRUE(server.WaitReceived(0, 16, 5000));
    EXPECT_EQ(server.Lines(0), (std::vector<std::string>{"NOOP\r\n", "HELP\r\n", "BIG\r\n"}));
}

TEST_F(ReadWriteTest, LongWritesArriveWhole) {
    // Longer than a 16385-character write buffer and than one 16383-byte chunk.
    const std::string text = Server::Pattern(0, 70000);
    std::string printable = text;
    for (char& c : printable)
        c = static_cast<char>('a' + static_cast<unsigned char>(c) % 26);
    Server server({Server::ExpectBytes(16384), Server::ExpectBytes(printable.size() - 16384 + 2),
                   Server::Stall(-1)});
    ConnectTo(server);
    sock.Write(printable.substr(0, 16384));
    sock.Writeln(printable.substr(16384));
    ASSERT_TRUE(server.WaitReceived(0, printable.size() + 2, 5000));
    EXPECT_TRUE(server.Received(0) == printable + "\r\n");
    EXPECT_EQ(sock.BytesSent(), printable.size() + 2);
}

TEST_F(ReadWriteTest, EmptyWriteReturnsAtOnceAndTextEndsAtANul) {
    Server server({Server::ExpectLine(), Server::Stall(-1)});
    ConnectTo(server);
    sock.Write("");
    sock.SendBuffer("\0ignored", 0);
    sock.Write(std::string("sent\n\0not sent", 15));
    ASSERT_TRUE(server.WaitReceived(0, 5, 5000));
    EXPECT_EQ(sock.BytesSent(), 5u);
    EXPECT_EQ(server.Received(0), "sent\n");
}

TEST_F(ReadWriteTest, CaptureFileKeepsBufferedBytesAndEverythingUntilTheClose) {
    const size_t bodySize = 3 * 1024 * 1024 + 17;
    Server server({Server::Send("HTTP/1.0 200 OK\r\n\r\n"), Server::Send(Server::Pattern(0, 100)),
                   Server::SendPattern(bodySize), Server::Close()});
    ConnectTo(server);
    EXPECT_EQ(sock.ReadLn(), "HTTP/1.0 200 OK\r\n");
    EXPECT_EQ(sock.ReadLn(), "\r\n");
    int packets = 0;
    sock.OnPacketRecvd = [&](TComponent*) { ++packets; };
    const std::string path = TempPath("body.bin");
    sock.CaptureFile(path);
    EXPECT_FALSE(sock.Connected());
    EXPECT_TRUE(FileContents(path) == Server::Pattern(0, 100) + Server::Pattern(0, bodySize));
    EXPECT_EQ(sock.BytesReceived(), 100 + bodySize);
    EXPECT_GT(packets, 0);
    EXPECT_TRUE(sock.ReceivedData().empty());
}

TEST_F(ReadWriteTest, CaptureFileIntoAMissingDirectoryRaisesBeforeReading) {
    Server server({Server::Send("data"), Server::Stall(-1)});
    ConnectTo(server);
    const std::string path = TempPath("missing/body.bin");
    try {
        sock.CaptureFile(path);
        FAIL() << "no error for an uncreatable file";
    } catch (const EFCreateError& error) {
        EXPECT_EQ(std::string(error.what()), "Cannot create file " + path);
    }
    EXPECT_TRUE(sock.Connected());
    platform::WaitUntil([&]() { return sock.ReceivedData() == "data"; });
}

TEST_F(ReadWriteTest, CaptureStringUntilCloseOrCount) {
    Server server({Server::Send("abc"), Server::Stall(30), Server::Send("defgh"), Server::Close()});
    ConnectTo(server);
    std::string text = "old";
    sock.CaptureString(text, 4);
    EXPECT_GE(text.size(), 4u);
    EXPECT_EQ(text, std::string("abcdefgh").substr(0, text.size()));
    std::string rest;
    sock.CaptureString(rest, -1);
    EXPECT_EQ(text + rest, "abcdefgh");
    EXPECT_FALSE(sock.Connected());
}

TEST_F(ReadWriteTest, SendFileSendsTheWholeFile) {
    const std::string content = Server::Pattern(7, 100000);
    const std::string path = TempPath("upload.bin");
    std::ofstream(path, std::ios::binary) << content;
    Server server({Server::ExpectBytes(content.size()), Server::Stall(-1)});
    ConnectTo(server);
    sock.SendFile(path);
    EXPECT_EQ(sock.BytesSent(), content.size());
    EXPECT_EQ(sock.BytesExpected(), content.size());
    ASSERT_TRUE(server.WaitReceived(0, content.size(), 5000));
    EXPECT_TRUE(server.Received(0) == content);

    EXPECT_THROW(sock.SendFile(TempPath("absent.bin")), EFOpenError);
}

// More than the socket buffers hold, to a peer that reads only after a pause: the sends come
// up short and would block, and the session must resume each where it stopped, losing nothing.
TEST_F(ReadWriteTest, BulkSendsToAPeerThatReadsLateArriveWhole) {
    const size_t size = size_t{8} << 20;
    // A written text ends at its first NUL; the file goes byte for byte.
    std::string text = Server::Pattern(0, size);
    for (char& c : text)
        c = static_cast<char>('a' + static_cast<unsigned char>(c) % 26);
    const std::string file = Server::Pattern(size, size);
    const std::string path = TempPath("bulk.bin");
    std::ofstream(path, std::ios::binary) << file;
    Server server({Server::Stall(300), Server::ExpectBytes(2 * size), Server::Stall(-1)});
    ConnectTo(server);
    sock.Write(text);
    EXPECT_EQ(sock.BytesSent(), size);
    sock.SendFile(path);
    EXPECT_EQ(sock.BytesSent(), size);
    ASSERT_TRUE(server.WaitReceived(0, 2 * size, 10000));
    const std::string received = server.Received(0);
    EXPECT_EQ(received.size(), 2 * size);
    EXPECT_TRUE(received == text + file)
        << "the bytes differ from offset "
        << std::mismatch(received.begin(), received.end(), (text + file).begin()).first -
               received.begin();
}

TEST_F(ReadWriteTest, SendingOnAClosedConnectionRaisesInsteadOfWaitingForever) {
    Server server({Server::Close()});
    ConnectTo(server);
    platform::WaitUntil([&]() { return !sock.Connected(); });
    try {
        sock.Writeln("anyone?");
        FAIL() << "a write on a closed session succeeded";
    } catch (const ESockError& error) {
        EXPECT_EQ(std::string(error.what()), "10057:Socket is not connected");
    }
}

TEST_F(ReadWriteTest, ReportLevelFourShowsOnlyLowLevelTexts) {
    Server server({Server::ExpectLine(), Server::Send("200 fine\r\n"), Server::Close()});
    StatusLog log;
    log.Attach(sock);
    sock.ReportLevel = 4;
    ConnectTo(server);
    sock.Transaction("STAT");
    platform::WaitUntil([&]() { return !sock.Connected(); });
    sock.Disconnect();
    EXPECT_EQ(log.texts,
              (std::vector<std::string>{"Sending Buffer", "200 fine\r\n", "Request Close Socket",
                                        "Request Close Socket"}));
    EXPECT_EQ(sock.StatusText(), "Request Close Socket");
}

TEST_F(ReadWriteTest, StatusesOfAnExchangeAtLevelEight) {
    Server server({Server::ExpectUntil("x\r\n"), Server::Send("line\n"), Server::Stall(-1)});
    ConnectTo(server);
    StatusLog log;
    log.Attach(sock);
    sock.ReportLevel = 8;
    sock.Writeln("x");
    EXPECT_EQ(sock.ReadLn(), "line\n");
    ASSERT_GE(log.texts.size(), 5u);
    EXPECT_EQ(std::vector<std::string>(log.texts.begin(), log.texts.begin() + 4),
              (std::vector<std::string>{"Writeln", "Write", "Sending Buffer", "WriteFromStream"}));
    EXPECT_TRUE(log.Contains("ReadLn"));
    EXPECT_TRUE(log.Contains("ReadToStream"));
    EXPECT_FALSE(log.Contains("Checking Error In Error Manager"));
}

TEST_F(ReadWriteTest, LocalAddressAndPortInCommaForm) {
    Server server({Server::Stall(-1)});
    ConnectTo(server);
    EXPECT_EQ(sock.LocalAddressCommas(), "127,0,0,1");
    const std::string port = sock.LocalPortCommas();
    unsigned high = 0, low = 0;
    ASSERT_EQ(std::sscanf(port.c_str(), ",%u,%u", &high, &low), 2) << port;
    EXPECT_LT(low, 256u);
    EXPECT_NE(high * 256 + low, 0u);

    CancellableSock listener;
    listener.Port = 0;
    listener.Listen(true);
    const std::string listenPort = listener.LocalPortCommas();
    ASSERT_EQ(std::sscanf(listenPort.c_str(), ",%u,%u", &high, &low), 2);
    EXPECT_EQ(listener.LocalAddressCommas(), "0,0,0,0");
}

TEST(ErrorTextTest, KnownUnknownAndNone) {
    TPowersock sock;
    EXPECT_EQ(sock.ErrorText(10061), "10061:Connection refused");
    EXPECT_EQ(sock.ErrorText(10004), "10004:Interrupted system call");
    EXPECT_EQ(sock.ErrorText(11004), "11004:Valid name, no data record of requested type");
    EXPECT_EQ(sock.ErrorText(12345), "Unknown Error No. 12345");
    EXPECT_EQ(sock.ErrorText(0), "");
}

// What the user reads for a failed socket or lookup call: a condition the table names reads as
// its row; any other reads as an unknown error with its own number, never as a row that happens
// to share the number, and never as "would block", which the session would silently wait out.
TEST(ErrorTextTest, SystemErrorsReadAsTheirRowOrAsUnknown) {
    TPowersock sock;
    const auto fromErrno = [&](int error) {
        return sock.ErrorText(platform::SocketErrorFromErrno(error));
    };
    const std::pair<int, std::string> errnoTexts[] = {
        {ECONNREFUSED, "10061:Connection refused"},
        {EAGAIN, "10035:Operation would block"},
        {ECONNRESET, "10054:Connection reset by peer"},
        {ETIMEDOUT, "10060:Connection timed out"},
        {EREMOTE, "10071:Too many levels of remote in path"},
        {EPROTO, "Unknown Error No. " + std::to_string(EPROTO)},
        {EDEADLK, "Unknown Error No. " + std::to_string(EDEADLK)},
        {ENOENT, "Unknown Error No. " + std::to_string(ENOENT)},
        {EIO, "Unknown Error No. " + std::to_string(EIO)},
    };
    for (const auto& [error, text] : errnoTexts)
        EXPECT_EQ(fromErrno(error), text) << "errno " << error;
    for (int error = 1; error < 4096; ++error) {
        const uint16_t code = platform::SocketErrorFromErrno(error);
        if (error != EAGAIN && error != EWOULDBLOCK) {
            EXPECT_NE(code, platform::SocketError::WouldBlock) << "errno " << error;
        }
        if (fromErrno(error).starts_with("Unknown Error No. ")) {
            EXPECT_EQ(code, error) << "an unknown errno keeps its own number";
        }
    }

    EXPECT_EQ(sock.ErrorText(platform::SocketErrorFromLookup(EAI_NONAME)), "11001:Host not found");
    EXPECT_EQ(sock.ErrorText(platform::SocketErrorFromLookup(EAI_AGAIN)),
              "11002:Non-Authoritative Host not found");
    errno = EPROTO;
    EXPECT_EQ(sock.ErrorText(platform::SocketErrorFromLookup(EAI_SYSTEM)),
              "Unknown Error No. " + std::to_string(EPROTO));
    EXPECT_EQ(sock.ErrorText(platform::SocketErrorFromLookup(EAI_SERVICE)),
              "Unknown Error No. " + std::to_string(-EAI_SERVICE));
}

TEST_F(ReadWriteTest, CaptureFileThatCannotBeWrittenRaisesInsteadOfDroppingBytes) {
    Server server({Server::SendPattern(100000), Server::Stall(-1)});
    ConnectTo(server);
    // Every write to this device fails as on a full disk.
    EXPECT_THROW(sock.CaptureFile("/dev/full"), EFileError);
    EXPECT_TRUE(sock.Connected());
}

// The main window's stall watchdog counts these statuses as signs of life during a download.
// The system may hold much more than a chunk when a receive asks (all of a small answer, a
// burst of a fast one): it is still stepped a chunk at a time, each step reported and counted,
// and every byte reaches the file in order, also when the capture starts behind a line already
// read and with the rest of the answer waiting.
TEST_F(ReadWriteTest, EveryReceiveStepOfACaptureIsReportedAndAtMostOneChunk) {
    const size_t size = 1000000;
    for (const bool waitingBeforeTheCapture : {false, true}) {
        SCOPED_TRACE(waitingBeforeTheCapture ? "answer waiting" : "answer arriving");
        Server server({Server::Send("head\n"), Server::SendPattern(size), Server::Close()});
        size_t steps = 0;
        sock.ReportLevel = 8;
        sock.OnStatus = [&](TComponent*, const std::string& text) {
            steps += text == "ReadToStream";
        };
        uint32_t last = 0;
        size_t largest = 0;
        sock.OnPacketRecvd = [&](TComponent*) {
            largest = std::max<size_t>(largest, sock.BytesReceived() - last);
            last = sock.BytesReceived();
        };
        ConnectTo(server);
        EXPECT_EQ(sock.ReadLn(), "head\n");
        if (waitingBeforeTheCapture)
            platform::WaitFor(200, [] { return false; });
        const std::string path = TempPath("steps.bin");
        sock.CaptureFile(path);
        EXPECT_EQ(sock.BytesReceived(), size);
        EXPECT_LE(largest, 16383u);
        EXPECT_GE(steps, size / 16383 / 2); // chunks drained with the close are not steps
        EXPECT_TRUE(FileContents(path) == Server::Pattern(0, size));
        sock.Disconnect();
        sock.OnStatus = nullptr; // their counters end with this round
        sock.OnPacketRecvd = nullptr;
    }
}

// How a line reader gets the last fragment of a stream that ends without a line feed: ReadLn
// would wait for one until Cancel, so the reader takes the rest once the peer has closed.
TEST_F(ReadWriteTest, FragmentLeftAfterTheCloseIsTakenWithReadZero) {
    Server server({Server::Send("first\nlast without end"), Server::Close()});
    ConnectTo(server);
    EXPECT_EQ(sock.ReadLn(), "first\n");
    platform::WaitUntil([&]() { return !sock.Connected(); });
    EXPECT_EQ(sock.ReceivedData(), "last without end");
    EXPECT_EQ(sock.Read(0), "last without end");
    EXPECT_TRUE(sock.ReceivedData().empty());
}
