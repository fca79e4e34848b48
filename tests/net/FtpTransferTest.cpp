#include "FtpTestSupport.h"

#include <QDir>

using namespace ftpscript;

using Lines = std::vector<std::string>;

namespace {

const std::string Opening = "150 Opening BINARY mode data connection for scan.pdf (";

} // namespace

// Every byte value comes through unchanged; the announced size is BytesExpected while the bytes
// come and the received count afterwards; a count on a continuation line is found; an empty
// local name stores under the remote one.
TEST_F(FtpTest, DownloadsStoreExactlyTheBytesSent) {
    const size_t size = 100000; // several chunks, every byte value, CR LF and NUL among them
    ScriptedServer server(Join({
        Login(),
        Port(),
        {Server::ExpectLine(), Server::Send(Opening + std::to_string(size) + " bytes).\r\n"),
         Server::OpenData(), Server::SendDataPattern(size), Server::CloseData(),
         Server::Send("226 Transfer complete.\r\n")},
        Port(),
        Transfer("150-Opening data connection.\r\n (5 bytes to come)\r\n150 Go.\r\n", "a\r\nb\n"),
        Port(),
        Transfer("150 Opening BINARY mode data connection for empty.txt (0 bytes).\r\n", ""),
        Quit(),
    }));
    Use(server);
    ftp.Connect();

    uint32_t expectedAtStart = 0;
    int packets = 0;
    ftp.OnTransactionStart = [&](TComponent*) { expectedAtStart = ftp.BytesExpected(); };
    ftp.OnPacketRecvd = [&](TComponent* sender) {
        EXPECT_EQ(sender, ftp.DataConnection());
        ++packets;
    };
    ftp.Download("scan.pdf", Path("scan.pdf"));
    EXPECT_EQ(expectedAtStart, size);
    EXPECT_EQ(ftp.BytesExpected(), size);
    EXPECT_GT(packets, 0);
    EXPECT_TRUE(FileText(Path("scan.pdf")) == Server::Pattern(0, size));
    EXPECT_TRUE(log.Contains("Received 100000 Bytes"));
    EXPECT_EQ(ftp.DataConnection(), nullptr);

    ftp.Download("five.txt", Path("five.txt"));
    EXPECT_EQ(expectedAtStart, 5u);
    EXPECT_EQ(FileText(Path("five.txt")), "a\r\nb\n");

    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    log.texts.clear();
    ftp.Download("empty.txt", "");
    QDir::setCurrent(before);
    EXPECT_TRUE(QFile::exists(dir.path() + "/empty.txt"));
    EXPECT_EQ(FileText(Path("empty.txt")), "");
    EXPECT_TRUE(log.Contains("Received 0 Bytes"));
    ftp.Disconnect();

    ASSERT_TRUE(server.WaitFinished(0, 5000));
    EXPECT_EQ(Commands(server),
              (Lines{"USER Anonymous", "PASS Secret", "TYPE I", "PORT 127,0,0,1,p,p",
                     "RETR scan.pdf", "PORT 127,0,0,1,p,p", "RETR five.txt", "PORT 127,0,0,1,p,p",
                     "RETR empty.txt", "QUIT"}));
}

// A transfer that does not end as it should is an error, never a stored file: an error reply
// first or last, a server abort in the middle, fewer bytes than announced, a data connection
// that never opens or goes silent, a server that hangs up, a Cancel.
TEST_F(FtpTest, ATransferThatDoesNotCompleteFails) {
    const Script retrAnswered = {Server::ExpectLine(), Server::Send(Opening + "10 bytes).\r\n")};
    const Script dataOpen = Join({retrAnswered, {Server::OpenData(), Server::SendData("part")}});
    struct Row {
        const char* what;
        Script transfer; // after PORT
        std::string error;
        bool cancel = false;
        bool usableAfter = false; // the control connection still answers
    };
    const std::vector<Row> rows = {
        {"RETR refused", Answer("550 Failed to open file.\r\n"),
         "FTPException: 550 Failed to open file.\r\n", false, true},
        {"426 closing reply",
         Transfer(Opening + "10 bytes).\r\n", "0123456789",
                  "426 Failure writing network stream.\r\n"),
         "FTPException: 426 Failure writing network stream.\r\n", false, true},
        {"451 closing reply",
         Transfer(Opening + "10 bytes).\r\n", "0123456789", "451 Local error.\r\n"),
         "FTPException: 451 Local error.\r\n", false, true},
        {"fewer bytes than announced", Transfer(Opening + "10 bytes).\r\n", "01234"),
         "ESockError: Transfer incomplete: received 5 of 10 bytes", false, true},
        {"421 while the data connection stays open",
         Join({dataOpen,
               {Server::Send("421 Service not available, closing control connection.\r\n"),
                Server::Silent()}}),
         "FTPException: 421 Service not available, closing control connection.\r\n"},
        {"data connection never opens", Join({retrAnswered, {Server::Silent()}}),
         "ESockError: Transfer timed out"},
        {"data connection goes silent", Join({dataOpen, {Server::Silent()}}),
         "ESockError: Transfer timed out"},
        {"no closing reply", Join({dataOpen, {Server::CloseData(), Server::Silent()}}),
         "ESockError: Transfer timed out"},
        {"server hangs up", Join({dataOpen, {Server::CloseData(), Server::Close()}}),
         "ESockError: Connection closed by peer"},
        {"Cancel before the data connection opens", Join({retrAnswered, {Server::Silent()}}),
         "ESockError: Accepting Canceled", true},
        {"Cancel while the bytes come", Join({dataOpen, {Server::Silent()}}),
         "EAbortError: Socket send aborted", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Script script = Join({Login(), Port(), row.transfer});
        if (row.usableAfter)
            script = Join({script, Answer("250 Still here.\r\n"), Quit()});
        ScriptedServer server(script);
        TNMFTP client;
        client.Host = "127.0.0.1";
        client.Port = server.Port();
        client.UserID = client.Password = "Anonymous";
        client.DataTimeOut = 300;
        client.ResyncTimeOut = 200;
        client.Mode = TFtpMode::Active;
        client.Connect();
        if (row.cancel)
            Later(100, [&]() { client.Cancel(); });
        const std::string target = Path(std::string("file-") + std::to_string(&row - &rows[0]));
        EXPECT_EQ(ErrorOf([&]() { client.Download("scan.pdf", target); }), row.error);
        EXPECT_EQ(client.DataConnection(), nullptr);
        EXPECT_FALSE(client.CancelRequested());
        if (row.usableAfter) {
            // The next command gets its own reply, not a late one of the transfer.
            client.ChangeDirectory("/pub/");
            EXPECT_EQ(client.LastReply(), "250 Still here.\r\n");
            client.Disconnect();
        }
        if (row.error.find(" 550 ") != std::string::npos) {
            EXPECT_FALSE(QFile::exists(QString::fromStdString(target)))
                << "a refused RETR created the local file";
        }
    }
}

// The watchdog looks for silence, not for a slow transfer: bytes that keep coming, each within
// the time allowed, make a good download however long it takes in all.
TEST_F(FtpTest, ASlowButSteadyTransferIsNotTimedOut) {
    Script trickle = {Server::ExpectLine(), Server::Send(Opening + "8 bytes).\r\n"),
                      Server::OpenData()};
    for (int i = 0; i < 8; ++i)
        trickle =
            Join({trickle, {Server::SendData(std::string(1, char('0' + i))), Server::Stall(60)}});
    ScriptedServer server(Join({Login(),
                                Port(),
                                trickle,
                                {Server::CloseData(), Server::Send("226 Transfer complete.\r\n")},
                                Quit()}));
    Use(server);
    ftp.DataTimeOut = 250;
    ftp.Connect();
    ftp.Download("scan.pdf", Path("slow.pdf"));
    EXPECT_EQ(FileText(Path("slow.pdf")), "01234567");
    ftp.Disconnect();
}

// Auto mode: a refused PORT turns the session passive, with the data connection opened before
// the RETR; it stays passive for the rest of the connection, and the next connection tries
// active mode first again.
TEST_F(FtpTest, ARefusedPortGoesPassiveUntilTheNextConnection) {
    ScriptedServer server({
        Join({Login(),
              Port("500 Illegal PORT command.\r\n"),
              Pasv("127.0.0.3"),
              {Server::OpenData(), Server::ExpectLine(), Server::Send(OpeningFor("a.pdf", 3)),
               Server::SendData("abc"), Server::CloseData(),
               Server::Send("226 Transfer complete.\r\n")},
              RetrPassive("b.pdf", "xy"),
              Quit()}),
        Join({Login(), Retr("c.pdf", "C"), Quit()}),
    });
    Use(server);
    int fallbacks = 0;
    ftp.OnPassiveFallback = [&](TComponent*) { ++fallbacks; };
    ftp.Connect();
    ftp.Download("a.pdf", Path("a.pdf"));
    ftp.Download("b.pdf", Path("b.pdf"));
    EXPECT_TRUE(ftp.Passive());
    ftp.Disconnect();
    ftp.Connect();
    EXPECT_FALSE(ftp.Passive());
    ftp.Download("c.pdf", Path("c.pdf"));
    ftp.Disconnect();

    EXPECT_EQ(fallbacks, 1);
    EXPECT_EQ(FileText(Path("a.pdf")) + FileText(Path("b.pdf")) + FileText(Path("c.pdf")),
              "abcxyC");
    ASSERT_TRUE(server.WaitFinished(1, 5000));
    EXPECT_EQ(server.DataPeers(0), (Lines{"127.0.0.1", "127.0.0.1"}));
    EXPECT_EQ(Commands(server, 0),
              (Lines{"USER Anonymous", "PASS Secret", "TYPE I", "PORT 127,0,0,1,p,p", "PASV",
                     "RETR a.pdf", "PASV", "RETR b.pdf", "QUIT"}));
    EXPECT_EQ(Commands(server, 1)[3], "PORT 127,0,0,1,p,p");
    EXPECT_TRUE(log.Contains("PASV"));
}

// In passive mode a refusal ends the transfer as it is (there is no other way left to try), and
// a server that sends before it has answered is held to a bound.
TEST_F(FtpTest, PassiveTransfersEndCleanly) {
    const std::vector<std::pair<Script, std::string>> rows = {
        {Answer("425 Can't open data connection.\r\n"),
         "FTPException: 425 Can't open data connection.\r\n"},
        {{Server::OpenData(), Server::SendData(std::string(3000, 'x')), Server::ExpectLine(),
          Server::Send(OpeningFor("scan.pdf", 3000)), Server::CloseData(),
          Server::Send("226 Transfer complete.\r\n")},
         "ESockError: More than 1000 bytes of data before the server's reply"},
    };
    for (const auto& [answer, error] : rows) {
        SCOPED_TRACE(error);
        ScriptedServer server(
            Join({Login(), Pasv(), answer, Answer("250 Still here.\r\n"), Quit()}));
        Use(server);
        ftp.Mode = TFtpMode::Passive;
        ftp.MaxEarlyDataBytes = 1000;
        ftp.ResyncTimeOut = 300;
        ftp.Connect();
        EXPECT_EQ(ErrorOf([&] { ftp.Download("scan.pdf", Path("scan.pdf")); }), error);
        EXPECT_FALSE(QFile::exists(QString::fromStdString(Path("scan.pdf"))));
        ftp.ChangeDirectory("/pub/");
        EXPECT_EQ(ftp.LastReply(), "250 Still here.\r\n");
        ftp.Disconnect();
    }
}
