#include "FtpTestSupport.h"

using namespace ftpscript;

using Lines = std::vector<std::string>;

// The USER reply decides: 331 asks for the password, 230 and 332 go on without one, and only a
// code above 400 (up to 599) fails; so does a PASS reply in that range.
TEST_F(FtpTest, LoginRepliesDecideAboutThePasswordAndFailure) {
    struct Row {
        std::string userReply;
        std::string passReply; // empty: no PASS expected
        bool fails;
    };
    const std::vector<Row> rows = {
        {"230 Login successful.\r\n", "", false},
        {"331 Please specify the password.\r\n", "230 Login successful.\r\n", false},
        {"332 Need account for login.\r\n", "", false},
        {"400 Odd but no failure.\r\n", "", false},
        {"401 Not today.\r\n", "", true},
        {"530 Login incorrect.\r\n", "", true},
        {"331 Please specify the password.\r\n", "530 Login incorrect.\r\n", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.userReply + row.passReply);
        Script script = Join({Greeting(), Answer(row.userReply)});
        if (!row.passReply.empty())
            script = Join({script, Answer(row.passReply)});
        if (!row.fails)
            script = Join({script, Answer("200 Switching to Binary mode.\r\n")});
        ScriptedServer server(Join({script, Quit()}));
        TNMFTP client;
        client.UserID = "Anonymous";
        client.Password = "Secret";
        client.ReportLevel = 1;
        client.Host = "127.0.0.1";
        client.Port = server.Port();
        StatusLog statuses;
        statuses.Attach(client);
        int connects = 0, failures = 0;
        client.OnConnect = [&](TComponent* sender) {
            EXPECT_EQ(sender, &client);
            ++connects;
        };
        client.OnConnectionFailed = [&](TComponent*) { ++failures; };

        const std::string error = ErrorOf([&]() { client.Connect(); });
        const std::string failing = row.passReply.empty() ? row.userReply : row.passReply;
        EXPECT_EQ(error, row.fails ? "FTPException: " + failing : "");
        EXPECT_EQ(connects, row.fails ? 0 : 1);
        EXPECT_EQ(failures, row.fails ? 1 : 0);
        if (!row.fails)
            client.Disconnect();
        EXPECT_FALSE(client.Connected());

        Lines sent = {"USER Anonymous"};
        Lines shown = {"220-Vantrel test server\r\n", "220 Ready.\r\n", "USER Anonymous",
                       row.userReply};
        if (!row.passReply.empty()) {
            sent.push_back("PASS Secret");
            shown.insert(shown.end(), {"PASS ", row.passReply});
        }
        if (!row.fails) {
            sent.push_back("TYPE I");
            shown.insert(shown.end(), {"TYPE I", "200 Switching to Binary mode.\r\n"});
        }
        sent.push_back("QUIT");
        shown.insert(shown.end(), {"QUIT", "221 Goodbye.\r\n"});
        if (row.fails)
            shown.push_back("Disconnected");
        ASSERT_TRUE(server.WaitFinished(0, 5000));
        EXPECT_EQ(Commands(server), sent);
        EXPECT_EQ(statuses.texts, shown);
    }
}

// Everything that goes wrong once the connection stands ends the same way: "QUIT", the status
// "Disconnected", and the first error raised again, not one from the farewell.
TEST_F(FtpTest, AFailureAfterTheConnectQuitsAndRaisesTheFirstError) {
    struct Row {
        const char* what;
        Script script;
        std::function<void()> onConnect;
        std::string error;
        Lines sent;
    };
    const std::vector<Row> rows = {
        {"the job inside OnConnect",
         Join({Login(), Quit()}),
         []() { throw Exception("job failed"); },
         "Exception: job failed",
         {"USER Anonymous", "PASS Secret", "TYPE I", "QUIT"}},
        {"TYPE I judged like any command",
         Join({Greeting(), Answer("331 Password.\r\n"), Answer("230 In.\r\n"),
               Answer("504 Command not implemented for that parameter.\r\n"), Quit()}),
         nullptr,
         "FTPException: 504 Command not implemented for that parameter.\r\n",
         {"USER Anonymous", "PASS Secret", "TYPE I", "QUIT"}},
        // The server hangs up after its words: the QUIT cannot be answered and must not hang.
        {"a greeting of 421",
         {Server::Send("421 Too many users.\r\n"), Server::Close()},
         nullptr,
         "FTPException: 421 Too many users.\r\n",
         {}},
        {"a server gone before its USER reply",
         Join({Greeting(), {Server::ExpectLine(), Server::Send("331 Pass"), Server::Close()}}),
         nullptr,
         "ESockError: Connection closed by peer",
         {"USER Anonymous"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        ScriptedServer server(row.script);
        Use(server);
        log.texts.clear();
        bool connected = false;
        ftp.OnConnect = [&](TComponent*) {
            connected = true;
            if (row.onConnect)
                row.onConnect();
        };
        EXPECT_EQ(ErrorOf([&]() { ftp.Connect(); }), row.error);
        EXPECT_EQ(connected, row.onConnect != nullptr);
        EXPECT_FALSE(ftp.Connected());
        ASSERT_FALSE(log.texts.empty());
        EXPECT_EQ(log.texts.back(), "Disconnected");
        ASSERT_TRUE(server.WaitFinished(0, 5000));
        EXPECT_EQ(Commands(server), row.sent);
    }
}

TEST_F(FtpTest, ThroughAProxyTheLoginNamesTheHostButTheStatusDoesNot) {
    ScriptedServer server(Join({Login(), Quit()}));
    ftp.Host = "ftp.instructions.test"; // never looked up: the proxy is
    ftp.Port = 21;
    ftp.Proxy = "127.0.0.1";
    ftp.ProxyPort = server.Port();
    ftp.Connect();
    ftp.Disconnect();
    ASSERT_TRUE(server.WaitFinished(0, 5000));
    EXPECT_EQ(Commands(server)[0], "USER Anonymous@ftp.instructions.test");
    EXPECT_TRUE(log.Contains("USER Anonymous"));
    for (const std::string& text : log.texts)
        EXPECT_EQ(text.find("Secret"), std::string::npos) << text;
}

// A command's reply from 400 to 599 is a failure: OnUnSupportedFunction first for 500 to 502,
// then OnFailure, whose Handled keeps the exception back; any other code is a success.
TEST_F(FtpTest, CommandRepliesAreJudgedByTheFirstLinesCode) {
    struct Row {
        std::string command, reply;
        std::string events; // what the handlers saw
        std::string error;
        bool handle = false;
    };
    const std::vector<Row> rows = {
        {"CWD /pub/brick//scans/08000/8436/", "250 Directory successfully changed.\r\n",
         "success 0", ""},
        {"CWD /pub/none/", "550 Failed to change directory.\r\n", "failure 0",
         "FTPException: 550 Failed to change directory.\r\n"},
        {"CWD x", "400 Odd.\r\n", "failure 0", "FTPException: 400 Odd.\r\n"},
        {"CWD y", "399 Odd.\r\n", "success 0", ""},
        {"MKD d", "257 Created.\r\n", "success 1", ""},
        {"DELE f", "600 Beyond.\r\n", "success 2", ""},
        {"RMD d", "500 Unknown command.\r\n", "unsupported 3 failure 3",
         "FTPException: 500 Unknown command.\r\n"},
        {"PWD", "257 \"/\" is the current directory\r\n", "success 15", ""},
        {"SYST", "502 Not implemented.\r\n", "unsupported 14 failure 14", "", true},
        {"cwd lower", "250 Fine.\r\n", "success 14", ""},
        {"NOOP", "200-First\r\n Second\r\n200-Third\r\n200 End\r\n", "success 14", ""},
        {"STAT", "503 Bad sequence.\r\n", "failure 14", "", true},
    };
    Script script = Login();
    for (const Row& row : rows)
        script = Join({script, Answer(row.reply)});
    ScriptedServer server(Join({script, Quit()}));
    Use(server);
    ftp.Connect();

    std::string events;
    bool handle = false;
    ftp.OnSuccess = [&](TCmdType kind) { events += "success " + std::to_string(kind) + " "; };
    ftp.OnUnSupportedFunction = [&](TCmdType kind) {
        events += "unsupported " + std::to_string(kind) + " ";
    };
    ftp.OnFailure = [&](bool& handled, TCmdType kind) {
        events += "failure " + std::to_string(kind) + " ";
        handled = handle;
    };
    Lines sent = {"USER Anonymous", "PASS Secret", "TYPE I"};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.command);
        events.clear();
        handle = row.handle;
        log.texts.clear();
        EXPECT_EQ(ErrorOf([&]() { ftp.ExecuteCommand(row.command); }), row.error);
        EXPECT_EQ(events, row.events + " ");
        EXPECT_EQ(ftp.LastReply(), row.reply.substr(0, row.reply.find('\n') + 1));
        ASSERT_GE(log.texts.size(), 2u);
        EXPECT_EQ(log.texts[0], row.command);
        sent.push_back(row.command);
    }
    // Every line of the multi-line reply was shown, and the next reply was not taken for one.
    ftp.Disconnect();
    ASSERT_TRUE(server.WaitFinished(0, 5000));
    sent.push_back("QUIT");
    EXPECT_EQ(Commands(server), sent);
}

// "SYST" goes once per connection, before the first parsed listing; a PORT reply of 300 is no
// failure; each line loses its line end unless it is only one; a last line without a line feed
// counts all the same.
TEST_F(FtpTest, ParsedListingsAskTheServerKindOncePerConnection) {
    const std::string first =
        "total 8\r\n"
        "-rw-r--r--    1 ftp      ftp        300000 Dec 08 14:08 8436_1.pdf\r\n"
        "drwxr-xr-x    2 ftp      ftp          4096 Dec 08 14:08 sub\n"
        "\r\n"
        "-rw-r--r--   1 root     root            3 Dec 08 21:03 last.jpg";
    const std::string second = "-rw-r--r-- 1 ftp ftp 9 Jan 5 12:00 only.jpg\r\n";
    const std::string listing = "150 Here comes the directory listing.\r\n";
    ScriptedServer server(
        {Join({Login(), Answer("215 UNIX Type: L8\r\n"), Port("300 Odd but fine.\r\n"),
               Transfer(listing, first), Port(), Transfer(listing, second), Quit()}),
         Join({Login(), Answer("215 UNIX Type: L8\r\n"), Port(), Transfer(listing, second),
               Quit()})});
    Use(server);
    ftp.ParseList = true;
    Lines items;
    ftp.OnListItem = [&](const std::string& line) { items.push_back(line); };

    ftp.Connect();
    ftp.List();
    EXPECT_EQ(items, (Lines{"total 8",
                            "-rw-r--r--    1 ftp      ftp        300000 Dec 08 14:08 8436_1.pdf",
                            "drwxr-xr-x    2 ftp      ftp          4096 Dec 08 14:08 sub", "\r\n",
                            "-rw-r--r--   1 root     root            3 Dec 08 21:03 last.jpg"}));
    ASSERT_NE(ftp.DirectoryList(), nullptr);
    EXPECT_EQ(ftp.DirectoryList()->NameList, (Lines{"8436_1.pdf", "sub", "last.jpg"}));
    EXPECT_EQ(ftp.Vendor, VendorUnix);
    EXPECT_EQ(ftp.BytesExpected(), first.size());
    EXPECT_TRUE(log.Contains("Received " + std::to_string(first.size()) + " Bytes"));
    EXPECT_EQ(ftp.DataConnection(), nullptr);

    ftp.List();
    EXPECT_EQ(ftp.DirectoryList()->NameList, Lines{"only.jpg"});
    ftp.Disconnect();
    EXPECT_EQ(ftp.DirectoryList(), nullptr);
    EXPECT_EQ(ftp.Vendor, VendorAuto);

    ftp.Connect();
    ftp.List();
    EXPECT_EQ(ftp.DirectoryList()->NameList, Lines{"only.jpg"});
    ftp.Disconnect();

    ASSERT_TRUE(server.WaitFinished(1, 5000));
    const Lines login = {"USER Anonymous", "PASS Secret", "TYPE I"};
    Lines firstSession = login;
    firstSession.insert(firstSession.end(), {"SYST", "PORT 127,0,0,1,p,p", "LIST",
                                             "PORT 127,0,0,1,p,p", "LIST", "QUIT"});
    EXPECT_EQ(Commands(server, 0), firstSession);
    Lines secondSession = login;
    secondSession.insert(secondSession.end(), {"SYST", "PORT 127,0,0,1,p,p", "LIST", "QUIT"});
    EXPECT_EQ(Commands(server, 1), secondSession);
}

TEST_F(FtpTest, AnUnparsedListingOnlyReachesTheListItemEvent) {
    ScriptedServer server(
        Join({Login(), Port(), Transfer("150 Listing.\r\n", "total 0\r\nname\n"), Quit()}));
    Use(server);
    Lines items;
    ftp.OnListItem = [&](const std::string& line) { items.push_back(line); };
    ftp.Connect();
    ftp.List();
    ftp.Disconnect();
    EXPECT_EQ(items, (Lines{"total 0", "name"}));
    EXPECT_EQ(ftp.DirectoryList(), nullptr);
    EXPECT_EQ(ftp.Vendor, VendorAuto);
    ASSERT_TRUE(server.WaitFinished(0, 5000));
    EXPECT_EQ(Commands(server), (Lines{"USER Anonymous", "PASS Secret", "TYPE I",
                                       "PORT 127,0,0,1,p,p", "LIST", "QUIT"}));
}

// A failed "SYST" leaves the server kind unknown, and the listing is parsed all the same; a PORT
// failure that OnFailure takes goes on with "LIST" as if the reply had been good.
TEST_F(FtpTest, AFailedSystAndAHandledPortFailureStillList) {
    ScriptedServer server(
        Join({Login(), Answer("500 Unknown command.\r\n"), Port("501 Illegal PORT command.\r\n"),
              Transfer("150 Listing.\r\n", "-rw-r--r-- 1 ftp ftp 3 Jan 5 2020 a\r\n"), Quit()}));
    Use(server);
    ftp.Mode = TFtpMode::Active; // in Auto a refused PORT turns passive instead
    ftp.ParseList = true;
    std::vector<int> failures;
    ftp.OnFailure = [&](bool& handled, TCmdType kind) {
        failures.push_back(kind);
        handled = kind == cmdList;
    };
    ftp.Connect();
    ftp.List();
    EXPECT_EQ(failures, (std::vector<int>{cmdDoCommand, cmdList}));
    EXPECT_EQ(ftp.Vendor, VendorOther);
    EXPECT_EQ(ftp.DirectoryList()->NameList, Lines{"a"});
    ftp.Disconnect();
    ASSERT_TRUE(server.WaitFinished(0, 5000));
    EXPECT_EQ(Commands(server), (Lines{"USER Anonymous", "PASS Secret", "TYPE I", "SYST",
                                       "PORT 127,0,0,1,p,p", "LIST", "QUIT"}));
}
