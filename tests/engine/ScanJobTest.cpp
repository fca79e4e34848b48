#include "EngineFixture.h"

#include "platform/HostLookup.h"
#include "tests/support/FtpScript.h"
#include "tests/support/Peers.h"

#include <QElapsedTimer>
#include <QTimer>
#include <fstream>
#include <map>

// Get Inst... against a real vsftpd in active mode. The archive's fixed host name is looked up
// through a resolver that knows it as loopback, as a private name service would; only the port
// differs from the archive's.

namespace {

std::string Bytes(size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 131 + seed * 7 + (i >> 7)) & 0xFF);
    return bytes;
}

struct Set {
    std::string number, directory; // directory below scans/
    std::map<std::string, std::string> scans;
};

class ScanJobTest : public EngineTest {
protected:
    void SetUp() override {
        EngineTest::SetUp();
        platform::SetResolver([](const std::string& name, platform::LookupReply reply) {
            if (name == sites::kInstructionsFtpHost)
                reply(0, 0x7F000001);
            else
                reply(11001, 0);
        });
    }
    void TearDown() override { platform::SetResolver(platform::SystemResolver); }

    // Serves the sets under /pub/brick/scans/, each with an index page beside its scans.
    void ServeArchive(const std::vector<Set>& sets,
                      peers::VsftpdServer::Active active = peers::VsftpdServer::Active::Allowed) {
        archive_.MakeDir("root/pub/brick");
        for (const Set& set : sets) {
            const std::string dir = archive_.MakeDir("root/pub/brick/scans/" + set.directory);
            for (const auto& [name, bytes] : set.scans)
                std::ofstream(dir + "/" + name, std::ios::binary) << bytes;
            std::ofstream(dir + "/index.htm") << "<html></html>\n";
            std::ofstream(dir + "/index.html") << "<html></html>\n";
        }
        ftp_ = std::make_unique<peers::VsftpdServer>(archive_.Path() + "/root", active);
        Engine().NMFTP1.Port = ftp_->Port();
    }

    bool GetInst(const std::string& number) {
        host.setNumber = number;
        return host.RunScanJob();
    }

    size_t Retrievals() const {
        const std::string log = ftp_->Log();
        size_t count = 0;
        for (size_t at = log.find("\"RETR "); at != std::string::npos;
             at = log.find("\"RETR ", at + 1))
            ++count;
        return count;
    }

    peers::ScratchDir archive_;
    std::unique_ptr<peers::VsftpdServer> ftp_;
};

} // namespace

TEST_F(ScanJobTest, MirrorsEverySetByteForByteSkipsIndexPagesAndFetchesNothingTwice) {
    const std::vector<Set> sets = {
        {"836", "00000/0836", {{"836_1.jpg", Bytes(70000, 1)}, {"836_2.jpg", Bytes(1, 2)}}},
        {"8436",
         "08000/8436",
         {{"8436_1.pdf", Bytes(300000, 3)},
          {"lines.txt", std::string("LF\nCR LF\r\nCR\rNUL\0.", 18)},
          {"empty.jpg", ""}}},
        {"10179", "10000/10179", {{"10179.pdf", Bytes(5000, 4)}}},
    };
    ServeArchive(sets);

    for (const Set& set : sets) {
        log.clear();
        ASSERT_TRUE(GetInst(set.number)) << set.number;
        EXPECT_EQ(log.front(),
                  "http://www.vantrelbricks.com/brickfactory/scans/" + set.directory + "/");
        // The session is closed after the final status, so its own statuses come last.
        EXPECT_NE(std::find(statuses.begin(), statuses.end(), ". . . done getting files"),
                  statuses.end());
        EXPECT_FALSE(Engine().NMFTP1.Connected());
        EXPECT_EQ(LogCount("error ftping file"), 0u);
    }
    fixture::Mirror expected;
    for (const Set& set : sets)
        for (const auto& [name, bytes] : set.scans)
            expected["scans/" + set.directory + "/" + name] = fixture::ContentHash(bytes);
    EXPECT_EQ(OnDisk(), expected) << "byte for byte, and no index page";
    EXPECT_EQ(Retrievals(), 6u);

    log.clear();
    ASSERT_TRUE(GetInst("8436"));
    EXPECT_EQ(Retrievals(), 6u) << "a second run fetches nothing";
    EXPECT_EQ(LogCount("\\scans\\08000\\8436\\8436_1.pdf"), 1u);
    EXPECT_EQ(OnDisk(), expected);
}

// Behind a router that lets nothing in, the archive refuses PORT: the set arrives whole over
// passive connections, and the job says once that it went passive.
TEST_F(ScanJobTest, WithActiveModeRefusedTheSetArrivesOverPassiveConnections) {
    const Set set = {"8436", "08000/8436", {{"8436_1.pdf", Bytes(300000, 5)}, {"b.jpg", "B"}}};
    ServeArchive({set}, peers::VsftpdServer::Active::Refused);
    ASSERT_TRUE(GetInst(set.number));
    EXPECT_EQ(LogCount("**Active mode failed, using passive mode"), 1u);
    EXPECT_EQ(LogCount("error ftping file"), 0u);
    fixture::Mirror expected;
    for (const auto& [name, bytes] : set.scans)
        expected["scans/08000/8436/" + name] = fixture::ContentHash(bytes);
    EXPECT_EQ(OnDisk(), expected);
    EXPECT_EQ(Retrievals(), 2u);
}

TEST_F(ScanJobTest, RefusedNumbersAndAMissingSet) {
    ServeArchive({});
    const std::pair<std::string, std::string> refused[] = {
        {"0836",
         "Please remove the leading 0 from the set number and try again, download stopped."},
        {"83", "I can't download sets that have less than 3 digits, download stopped."},
        {"", "I can't download sets that have less than 3 digits, download stopped."},
    };
    for (const auto& [number, message] : refused) {
        log.clear();
        EXPECT_TRUE(GetInst(number));
        EXPECT_EQ(log, std::vector<std::string>{message}) << number;
    }
    // The server's own start-up probe may show as a CONNECT; a job would have logged in.
    EXPECT_EQ(ftp_->Log().find("\"USER "), std::string::npos) << "no session for them";

    log.clear();
    ASSERT_TRUE(GetInst("9999"));
    EXPECT_EQ(log, (std::vector<std::string>{"http://www.vantrelbricks.com/brickfactory/scans/"
                                             "09000/9999/",
                                             "Set does not exist, download stopped."}));
    EXPECT_EQ(statuses.back(), ". . . done getting files");
    EXPECT_FALSE(Engine().NMFTP1.Connected());
}

// However often the session falls back to passive mode, each job says so once.
TEST_F(ScanJobTest, TellsTheFallBackToPassiveOncePerJob) {
    ServeArchive({});
    host.onStatus = [this](const std::string& status) {
        if (status == "Changing Directory . . .")
            for (int fallBack = 0; fallBack < 2; ++fallBack)
                Engine().NMFTP1.OnPassiveFallback(nullptr);
    };
    for (size_t job = 1; job <= 2; ++job) {
        ASSERT_TRUE(GetInst("9999"));
        EXPECT_EQ(LogCount("**Active mode failed, using passive mode"), job);
    }
}

// Names from a listing that would land outside the set's directory are not fetched; a transfer
// that the server aborts, or whose data connection goes silent, fails that file alone and
// leaves nothing under its name; the job goes on to its end.
TEST_F(EngineTest, HostileListingNamesAndFailedTransfersFailOneFileEach) {
    using namespace ftpscript;
    const std::string listing = ListingLine("..", 4) + ListingLine("../up.pdf", 4) +
                                ListingLine("/etc/x.pdf", 4) + ListingLine("good.pdf", 4) +
                                ListingLine("broken.pdf", 9) + ListingLine("after.pdf", 5) +
                                ListingLine("silent.pdf", 9);
    ScriptedServer server(Join({
        Login(),
        Answer("250 Directory successfully changed.\r\n"),
        Answer("215 UNIX Type: L8\r\n"),
        Port(),
        Transfer("150 Here comes the directory listing.\r\n", listing),
        Port(),
        Transfer("150 Opening BINARY mode data connection for good.pdf (4 bytes).\r\n", "GOOD"),
        Port(),
        Transfer("150 Opening BINARY mode data connection for broken.pdf (9 bytes).\r\n", "brok",
                 "426 Failure writing network stream.\r\n"),
        Port(),
        Transfer("150 Opening BINARY mode data connection for after.pdf (5 bytes).\r\n", "AFTER"),
        Port(),
        {ScriptedServer::ExpectLine(),
         ScriptedServer::Send("150 Opening BINARY mode data connection for silent.pdf (9 "
                              "bytes).\r\n"),
         ScriptedServer::OpenData(), ScriptedServer::SendData("sil"), ScriptedServer::Stall(1500)},
        Quit(),
    }));
    TBackupEngine& engine = Engine();
    engine.InstructionsFtpHost = "127.0.0.1";
    engine.NMFTP1.Port = server.Port();
    engine.NMFTP1.DataTimeOut = 400;
    engine.NMFTP1.ResyncTimeOut = 400;
    host.setNumber = "8436";

    ASSERT_TRUE(host.RunScanJob());
    EXPECT_EQ(LogCount("** Skipping file .."), 1u);
    EXPECT_EQ(LogCount("** Skipping file ../up.pdf"), 1u);
    EXPECT_EQ(LogCount("** Skipping file /etc/x.pdf"), 1u);
    EXPECT_EQ(LogCount("error ftping file"), 2u);
    EXPECT_EQ(OnDisk(), (fixture::Mirror{
                            {"scans/08000/8436/good.pdf", fixture::ContentHash("GOOD")},
                            {"scans/08000/8436/after.pdf", fixture::ContentHash("AFTER")},
                        }));
    EXPECT_EQ(Strays(OnDisk()), std::vector<std::string>{});
    EXPECT_EQ(QDir(dir_.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList{"backup"});
}

// Broken and hostile archives. Each script runs the whole job: the files stored byte for byte,
// the job's end (normal, or the error it ends with) and its time bound are checked.
TEST_F(EngineTest, BrokenAndHostileArchivesStoreOnlyWholeFilesAndNeverHang) {
    using namespace ftpscript;
    using S = ScriptedServer;
    const std::string a = S::Pattern(0, 5000), page2 = S::Pattern(9, 5000), c = "CCCC";
    const auto listing = [](const std::vector<std::string>& names) {
        std::string lines;
        for (const std::string& name : names)
            lines += ListingLine(name, 4);
        return Transfer("150 Here comes the directory listing.\r\n", lines);
    };
    // The login, the set's directory, SYST and the way the listing's data connection opens.
    const auto login = [](const Script& open, const Script& greeting = Greeting()) {
        return Join({greeting, Answer("331 Please specify the password.\r\n"),
                     Answer("230 Login successful.\r\n"), Answer("200 Binary mode.\r\n"), Cwd(),
                     Answer("215 UNIX Type: L8\r\n"), open});
    };
    const auto head = [&](std::vector<std::string> names, const Script& greeting = Greeting()) {
        return Join({login(Port(), greeting), listing(names)});
    };
    const Script three = head({"a.jpg", "page2.jpg", "c.jpg"});
    const Script retrPage2 =
        Join({Port(), {S::ExpectLine(), S::Send(OpeningFor("page2.jpg", 5000))}});
    const Script stalled = Join({retrPage2, {S::OpenData(), S::SendData(page2.substr(0, 2500))}});
    const Script stranger = Join({retrPage2,
                                  {S::StrangerData("EVIL"), S::OpenData(), S::SendData(page2),
                                   S::CloseData(), S::Send("226 Transfer complete.\r\n")}});
    const Script refused = {S::Send("425 Failed to establish connection.\r\n")};
    const Script silent = {S::ExpectLine(), S::Silent()};
    using Files = std::map<std::string, std::string>;
    const Files all = {{"a.jpg", a}, {"page2.jpg", page2}, {"c.jpg", c}},
                ac = {{"a.jpg", a}, {"c.jpg", c}};
    // Passive mode: the listing and every file over connections the client opens.
    const Script passiveList = Join({Pasv(), listing({"a.jpg", "page2.jpg", "c.jpg"})});
    const Script passiveFiles = Join({RetrPassive("a.jpg", a), RetrPassive("page2.jpg", page2),
                                      RetrPassive("c.jpg", c), Quit()});
    const auto passiveReply = [&](const std::string& reply) {
        return Join({login(Answer(reply)), {S::Silent()}});
    };
    constexpr auto Active = TFtpMode::Active, Auto = TFtpMode::Auto, Passive = TFtpMode::Passive;
    struct Row {
        const char* fault;
        std::vector<Script> scripts;
        Files stored;
        std::string error;
        int bound, cancelAt = 0, dataTimeOut = 400;
        TFtpMode mode = TFtpMode::Active;
        bool fellBack = false; // "**Active mode failed, using passive mode" is logged, once
    };
    // clang-format off
    const Row rows[] = {
        {"late closing reply", {Join({three, Retr("a.jpg", a), stalled, {S::Stall(1500),
          S::CloseData(), S::Send("451 Transfer aborted.\r\n")}, Retr("c.jpg", c), Quit()})},
         ac, "", 2500},
        {"closing reply never comes", {Join({three, Retr("a.jpg", a), stalled, {S::Silent()}}),
          Join({Login(), Cwd(), Retr("c.jpg", c), Quit()})}, ac, "", 3500},
        {"stranger on the data port",
         {Join({three, Retr("a.jpg", a), stranger, Retr("c.jpg", c), Quit()})}, all, "", 1500},
        {"silent greeting", {{S::Silent()}}, {}, "Timed out waiting for the server's greeting", 2500},
        {"silent CWD", {Join({Login(), silent})}, {}, "Timed out waiting for the reply to CWD", 2500},
        {"cancel in a silent CWD", {Join({Login(), silent})}, {}, "", 1000, 200},
        {"silent QUIT", {Join({three, Retr("a.jpg", a), Retr("page2.jpg", page2),
          Retr("c.jpg", c), silent})}, all, "", 1000},
        {"free-text middle lines", {Join({head({"a.jpg", "c.jpg"}, {S::Send("220-Archive\r\n"
          "free text\r\n220-more\r\n 220 indented\r\n220 Ready.\r\n")}), Retr("a.jpg", a),
          Retr("c.jpg", c), Quit()})}, ac, "", 1500},
        {"byte count in a file name", {Join({head({"99999bytes.jpg"}),
          Retr("99999bytes.jpg", "TEN BYTES!"), Quit()})}, {{"99999bytes.jpg", "TEN BYTES!"}}, "",
         1500},
        {"error reply instead of the data connection", {Join({three, Retr("a.jpg", a), retrPage2,
          refused, Retr("c.jpg", c), Quit()})}, ac, "", 1500, 0, 20000},
        {"error reply instead of the listing", {Join({Login(), Cwd(),
          Answer("215 UNIX Type: L8\r\n"), Port(), {S::ExpectLine(),
          S::Send("150 Here comes the directory listing.\r\n")}, refused, Quit()})}, {},
         "425 Failed to establish connection.\r\n", 1500, 0, 20000},
        {"listing too long", {head({"1", "2", "3", "4", "5", "6"})}, {},
         "Listing too long: more than 5 lines", 1500},
        {"listing too large", {head(std::vector<std::string>(5, std::string(230000, 'x')))}, {},
         "Listing too long: more than 1 MB", 1500},
        // Where active mode cannot work, Auto repeats the step over a passive connection and
        // stays passive; in Active mode the same server fails the transfer.
        {"PORT refused", {Join({login(Port("500 Illegal PORT command.\r\n")), passiveList,
          passiveFiles})}, all, "", 1500, 0, 400, Auto, true},
        {"PORT refused, active only", {Join({login(Port("550 Permission denied.\r\n")),
          Quit()})}, {}, "550 Permission denied.\r\n", 1500, 0, 400, Active},
        {"425 for LIST", {Join({login(Port()), Answer("425 Use PASV first.\r\n"), passiveList,
          passiveFiles})}, all, "", 1500, 0, 400, Auto, true},
        {"425 for RETR after its 150", {Join({three, Retr("a.jpg", a), retrPage2, refused,
          Pasv(), Transfer(OpeningFor("page2.jpg", 5000), page2), RetrPassive("c.jpg", c),
          Quit()})}, all, "", 1500, 0, 20000, Auto, true},
        {"no data connection for LIST", {Join({login(Port()), {S::ExpectLine(),
          S::Send("150 Here comes the directory listing.\r\n"), S::Silent()}}),
          Join({Login(), Cwd(), passiveList, passiveFiles})}, all, "", 4000, 0, 400, Auto, true},
        {"no reply to LIST in time", {Join({login(Port()), silent}), Join({Login(), Cwd(),
          passiveList, passiveFiles})}, all, "", 5500, 0, 20000, Auto, true},
        {"227 naming another address", {Join({login(Pasv("127.0.0.2")),
          listing({"a.jpg", "page2.jpg", "c.jpg"}), passiveFiles})}, all, "", 1500, 0, 400,
         Passive},
        {"silent PASV", {login(silent)}, {}, "Transfer timed out", 1500, 0, 400, Passive},
        {"PASV refused", {passiveReply("502 Command not implemented.\r\n")}, {},
         "502 Command not implemented.\r\n", 1500, 0, 400, Passive},
        {"unreadable 227", {passiveReply("227 Entering Passive Mode (127,0,0,1,0,0).\r\n")}, {},
         "Bad passive reply: 227 Entering Passive Mode (127,0,0,1,0,0).", 1500, 0, 400, Passive},
        {"nothing at the passive port", {passiveReply("227 Entering Passive Mode "
          "(127,0,0,1,0,1).\r\n")}, {}, "Error creating Data Connection", 1500, 0, 400, Passive},
        {"passive: late closing reply", {Join({login(Pasv()), listing({"a.jpg", "page2.jpg",
          "c.jpg"}), RetrPassive("a.jpg", a), Pasv(), {S::ExpectLine(),
          S::Send(OpeningFor("page2.jpg", 5000)), S::OpenData(), S::SendData(page2.substr(0, 2500)),
          S::Stall(1500), S::CloseData(), S::Send("451 Transfer aborted.\r\n")},
          RetrPassive("c.jpg", c), Quit()})}, ac, "", 2500, 0, 400, Passive},
        {"passive: listing too long", {Join({login(Pasv()), listing({"1", "2", "3", "4", "5",
          "6"})})}, {}, "Listing too long: more than 5 lines", 1500, 0, 400, Passive},
    };
    // clang-format on
    TBackupEngine& engine = Engine();
    engine.InstructionsFtpHost = "127.0.0.1";
    engine.NMFTP1.ReplyTimeOut = 1500;
    engine.NMFTP1.QuitTimeOut = 300;
    engine.NMFTP1.ResyncTimeOut = 2000;
    engine.NMFTP1.MaxListingLines = 5;
    engine.NMFTP1.MaxListingBytes = 1 << 20;
    host.setNumber = "8436";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.fault);
        QDir(QString::fromStdString(destination)).removeRecursively();
        log.clear();
        ScriptedServer server(row.scripts);
        engine.NMFTP1.Port = server.Port();
        engine.NMFTP1.DataTimeOut = row.dataTimeOut;
        engine.NMFTP1.Mode = row.mode;
        // The cancel of the row, and a guard that ends a job that would hang.
        QTimer cancel, guard;
        QObject::connect(&cancel, &QTimer::timeout, [&] { host.cancelled = true; });
        QObject::connect(&guard, &QTimer::timeout, [&] { engine.CancelTransfers(); });
        if (row.cancelAt > 0)
            cancel.start(row.cancelAt);
        guard.start(row.bound + 3000);
        QElapsedTimer clock;
        clock.start();
        std::string error;
        try {
            EXPECT_TRUE(host.RunScanJob());
        } catch (const std::exception& e) {
            error = e.what();
        }
        EXPECT_LT(clock.elapsed(), row.bound);
        EXPECT_EQ(error, row.error);
        EXPECT_EQ(LogCount("Cancel button pressed, download stopped."), row.cancelAt > 0 ? 1u : 0u);
        EXPECT_EQ(LogCount("**Active mode failed, using passive mode"), row.fellBack ? 1u : 0u);
        EXPECT_FALSE(engine.NMFTP1.Connected());
        fixture::Mirror expected;
        for (const auto& [name, bytes] : row.stored)
            expected["scans/08000/8436/" + name] = fixture::ContentHash(bytes);
        EXPECT_EQ(OnDisk(), expected);
        if (server.Connections() > 1) {
            EXPECT_NE(server.Received(1).find("TYPE I\r\nCWD /pub/brick//scans/08000/8436/\r\n"),
                      std::string::npos);
        }
    }
}
