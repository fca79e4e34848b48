#include "EngineFixture.h"

#include "platform/HostLookup.h"
#include "tests/support/FtpScript.h"
#include "tests/support/Peers.h"

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
    void ServeArchive(const std::vector<Set>& sets) {
        archive_.MakeDir("root/pub/brick");
        for (const Set& set : sets) {
            const std::string dir = archive_.MakeDir("root/pub/brick/scans/" + set.directory);
            for (const auto& [name, bytes] : set.scans)
                std::ofstream(dir + "/" + name, std::ios::binary) << bytes;
            std::ofstream(dir + "/index.htm") << "<html></html>\n";
            std::ofstream(dir + "/index.html") << "<html></html>\n";
        }
        ftp_ = std::make_unique<peers::VsftpdServer>(archive_.Path() + "/root");
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
    EXPECT_EQ(ftp_->Log().find("CONNECT"), std::string::npos) << "no connection for them";

    log.clear();
    ASSERT_TRUE(GetInst("9999"));
    EXPECT_EQ(log, (std::vector<std::string>{"http://www.vantrelbricks.com/brickfactory/scans/"
                                             "09000/9999/",
                                             "Set does not exist, download stopped."}));
    EXPECT_EQ(statuses.back(), ". . . done getting files");
    EXPECT_FALSE(Engine().NMFTP1.Connected());
}

namespace {

std::string ListingLine(const std::string& name, size_t size) {
    return "-rw-r--r--    1 ftp      ftp      " + std::to_string(size) + " Dec 08 14:08 " + name +
           "\r\n";
}

} // namespace

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
