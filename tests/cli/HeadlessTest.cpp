#include "engine/JobTally.h"
#include "engine/PlainHost.h"
#include "engine/Sites.h"
#include "record/BackupRecord.h"
#include "record/Sha256.h"
#include "tests/cli/HeadlessFixture.h"
#include "tests/support/GalleryModel.h"
#include "tests/support/GalleryScenarios.h"
#include "tests/support/Peers.h"
#include "tests/support/ScriptedServer.h"

#include <QThread>
#include <QTimer>

#include <csignal>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sys/stat.h>
#include <vector>

// Jobs run from the command line without a window, against the fixture gallery site and a real
// FTP server: what they store, what they print, their exit status, Ctrl+C and the settings file.

namespace {

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// The local date as a run names its folders: YYYY-MM-DD.
std::string Today() {
    char today[16] = "";
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (::localtime_r(&now, &local) != nullptr)
        std::strftime(today, sizeof today, "%Y-%m-%d", &local);
    return today;
}

// Every file and directory below root, hidden ones too, relative to it.
std::vector<std::string> Tree(const std::string& root) {
    std::vector<std::string> entries;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
        entries.push_back(std::filesystem::relative(entry.path(), root).string());
    std::sort(entries.begin(), entries.end());
    return entries;
}

std::vector<std::string> PartFiles(const std::string& root) {
    std::vector<std::string> parts;
    for (const std::string& entry : Tree(root))
        if (Contains(entry, ".vantrel-") || Contains(entry, ".part"))
            parts.push_back(entry);
    return parts;
}

} // namespace

TEST_F(HeadlessTest, CopiesAFolderAndASecondRunFetchesNothing) {
    fixture::GalleryModel model;
    fixture::Folder& trip =
        model.AddMember("pelmark").AddFolder("Trip").AddPictures(7, 3000).SetPicturesPerPage(3);
    trip.AddFolder("Day1").AddPictures(2, 5000, "day");
    // Names that must not become file names are refused; the job still counts as complete.
    fixture::AddHostilePictures(trip.AddFolder("Odd"), 700);
    Serve(model);
    const fixture::Mirror expected = fixture::ExpectedMirror(model, trip);
    ASSERT_EQ(expected.size(), 11u);

    const Result first = Run(GalleryOptions("--folder", trip.Id()));
    EXPECT_EQ(first.status, 0) << first.out << first.err;
    EXPECT_EQ(first.err, "");
    EXPECT_EQ(fixture::HashTree(destination), expected);
    EXPECT_EQ(fixture::StrayFiles(destination, expected), std::vector<std::string>{});
    // The log as the window shows it, then the summary.
    EXPECT_EQ(first.out.rfind("**Using Proxy Server " + proxy +
                                  "\n"
                                  "http://www.vantrelpix.com/cgi-bin/gallery.cgi?f=" +
                                  trip.Id() + "\n",
                              0),
              0u)
        << first.out;
    EXPECT_TRUE(Contains(first.out, "\n/gallery/pelmark/Trip/Day1/day001.jpg\n")) << first.out;
    // A control character a server sent never reaches the terminal as it is.
    EXPECT_EQ(first.out.find_first_of(std::string("\0\r\x1b", 3)), std::string::npos);
    EXPECT_EQ(Summary(first),
              "Summary: 11 fetched, 0 skipped because present, 0 failed, 5 refused; " +
                  std::to_string(StoredBytes(expected)) + " bytes");

    // The same folder again, from a list file: everything is there, nothing is fetched.
    site->ClearLog();
    const std::string list = Scratch("list.txt");
    WriteFile(list, "f=" + trip.Id() + "\n");
    const Result second = Run(GalleryOptions("--list", list));
    EXPECT_EQ(second.status, 0) << second.out << second.err;
    EXPECT_EQ(Summary(second),
              "Summary: 0 fetched, 11 skipped because present, 0 failed, 5 refused; 0 bytes");
    EXPECT_EQ(PictureRequests(), 0u);
    EXPECT_EQ(fixture::HashTree(destination), expected);
}

// A job that ran to its end but did not back up everything, or stopped before it began.
TEST_F(HeadlessTest, AFailedPictureOrAJobThatStoppedEarlyEndsWithStatusOne) {
    fixture::GalleryModel model;
    fixture::Member& member = model.AddMember("pelmark");
    fixture::Folder& broken = member.AddFolder("Broken").AddPictures(3, 1000);
    model.SetFault(broken.PicturePath("pic002.jpg"), fixture::Fault::NotFound());
    fixture::Folder& busy = member.AddFolder("Busy").AddPictures(1, 1000);
    model.SetFault(busy.ListingPath(), fixture::Fault::RejectAlways());
    Serve(model);

    struct Case {
        const char* job;
        std::string id;
        const char* logLine;
        const char* summary;
    };
    const Case cases[] = {
        {"--folder", broken.Id(), "** Deleting file pic002.jpg",
         "2 fetched, 0 skipped because present, 1 failed; 2000 bytes"},
        // The site's "Client Error" page for a folder it does not have: nothing to back up.
        {"--folder", "424242",
         "** ERROR - i can't find this folder ID.  Please check the folder ID.",
         "0 fetched, 0 skipped because present, 0 failed; 0 bytes"},
        {"--user", "nobody",
         "** ERROR - i can't find this user directory.  Please check the USER ID.",
         "0 fetched, 0 skipped because present, 0 failed; 0 bytes"},
        // The first page never came.
        {"--folder", busy.Id(), "**Tried 5 times and got errors every time, skipping this folder",
         "0 fetched, 0 skipped because present, 0 failed, 1 listing page not fetched; 0 bytes"},
    };
    for (const Case& c : cases) {
        const Result result = Run(GalleryOptions(c.job, c.id));
        EXPECT_EQ(result.status, 1) << c.job << " " << c.id << "\n" << result.out << result.err;
        EXPECT_TRUE(Contains(result.out, std::string("\n") + c.logLine + "\n")) << result.out;
        EXPECT_EQ(Summary(result), std::string("Summary: ") + c.summary);
        EXPECT_EQ(result.err, "");
    }
    const fixture::Mirror expected = fixture::ExpectedMirror(model, broken);
    EXPECT_EQ(expected.size(), 2u);
    EXPECT_EQ(fixture::HashTree(destination), expected);
    EXPECT_EQ(fixture::StrayFiles(destination, expected), std::vector<std::string>{});
}

// The scans of a set from a real FTP server, which an environment override puts in place of
// the archive; then sets that are not there or not valid.
TEST_F(HeadlessTest, FetchesTheScansOfASetAndStopsOnAMissingOne) {
    peers::ScratchDir served;
    const std::string scans = served.MakeDir("root/pub/brick/scans/08000/8436");
    std::string first(20000, '\0'), second(30011, '\0');
    for (size_t i = 0; i < first.size(); ++i)
        first[i] = static_cast<char>(i * 7 + i / 251);
    for (size_t i = 0; i < second.size(); ++i)
        second[i] = static_cast<char>(i * 13 + 5);
    WriteFile(scans + "/8436_1.pdf", first);
    WriteFile(scans + "/8436_2.pdf", second);
    WriteFile(scans + "/index.htm", "<html></html>\n");
    for (const char* name : {"8436_1.pdf", "8436_2.pdf", "index.htm"})
        ::chmod((scans + "/" + name).c_str(), 0644);
    peers::VsftpdServer ftp(served.Path() + "/root");
    environment.insert(QStringLiteral("VANTREL_FTP_HOST"), QStringLiteral("127.0.0.1"));
    environment.insert(QStringLiteral("VANTREL_FTP_PORT"), QString::number(ftp.Port()));
    const QString dest = QString::fromStdString(destination);

    const Result found =
        Run({QStringLiteral("--set"), QStringLiteral("8436"), QStringLiteral("--dest"), dest});
    EXPECT_EQ(found.status, 0) << found.out << found.err << ftp.Log();
    EXPECT_EQ(Summary(found),
              "Summary: 2 fetched, 0 skipped because present, 0 failed; 50011 bytes");
    EXPECT_EQ(ReadFile(destination + "scans/08000/8436/8436_1.pdf"), first);
    EXPECT_EQ(ReadFile(destination + "scans/08000/8436/8436_2.pdf"), second);

    const std::pair<const char*, const char*> refused[] = {
        {"9999", "Set does not exist, download stopped."},
        {"0123", "Please remove the leading 0 from the set number and try again, download "
                 "stopped."},
        {"12", "I can't download sets that have less than 3 digits, download stopped."},
    };
    for (const auto& [set, line] : refused) {
        const Result result = Run(
            {QStringLiteral("--set"), QString::fromLatin1(set), QStringLiteral("--dest"), dest});
        EXPECT_EQ(result.status, 1) << set << "\n" << result.out << result.err;
        EXPECT_TRUE(Contains(result.out, std::string(line) + "\n")) << result.out;
        EXPECT_EQ(Summary(result),
                  "Summary: 0 fetched, 0 skipped because present, 0 failed; 0 bytes");
    }
}

TEST_F(HeadlessTest, BadUsageAndErrorsThatEndTheJobGiveStatusTwo) {
    WriteFile(settingsFile, "[TForm2]\nEdit1_Text=127.0.0.1\nEdit2_Text=31x8\n");
    struct Case {
        QStringList arguments;
        std::string err;
    };
    const std::string missing = Scratch("missing-list.txt");
    const Case cases[] = {
        {{"--folder", "77154", "--pause", "99"},
         "VantrelBackup: Bad pause '99': give whole seconds from 0 to 15.\n"
         "Try 'VantrelBackup --help' for more information.\n"},
        {{"--list", QString::fromStdString(missing), "--proxy", "", "--dest",
          QString::fromStdString(destination)},
         "VantrelBackup: Cannot open file " + missing + ": No such file or directory\n"},
        {{"--list", QString::fromStdString(Scratch("copy")), "--proxy", ""},
         "VantrelBackup: Cannot open file " + Scratch("copy") + ": Is a directory\n"},
        // The stored proxy port is no number: the job cannot start as the window would.
        {{"--folder", "77154", "--dest", QString::fromStdString(destination)},
         "VantrelBackup: Proxy port: '31x8' is not a valid integer value.\n"},
    };
    for (const Case& c : cases) {
        const Result result = Run(c.arguments);
        EXPECT_EQ(result.status, 2) << c.arguments.join(' ').toStdString() << "\n" << result.out;
        EXPECT_EQ(result.err, c.err);
    }
}

TEST_F(HeadlessTest, AListThatNamesNoFolderOrMemberEndsWithStatusOne) {
    const std::string list = Scratch("list.txt");
    // What follows a Ctrl+Z is not read.
    WriteFile(list, "f 77154\r\nuser pelmark\n\x1a"
                    "f=77154\n");
    const Result result = Run({"--list", QString::fromStdString(list), "--proxy", ""});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "VantrelBackup: no folder or member IDs in " + list + "\n");
}

// Ctrl+C (SIGINT) and SIGTERM while a picture's transfer hangs: the transfer is cancelled as the
// Cancel button would, nothing of it stays, and the program ends at once with a summary.
TEST_F(HeadlessTest, ASignalDuringAStalledTransferCancelsAtOnceAndKeepsNoPart) {
    fixture::GalleryModel model;
    fixture::Folder& slow = model.AddMember("pelmark").AddFolder("Slow").AddPictures(3, 40000);
    model.SetFault(slow.PicturePath("pic002.jpg"), fixture::Fault::Stall());
    Serve(model);
    const std::string folderDir = destination + "gallery/pelmark/Slow/";

    struct Case {
        int signal;
        int status;
        const char* summary;
        const char* err;
    };
    const Case cases[] = {
        {SIGINT, 130, "Summary: 1 fetched, 0 skipped because present, 0 failed; 40000 bytes",
         "VantrelBackup: cancelled by SIGINT\n"},
        {SIGTERM, 143, "Summary: 0 fetched, 1 skipped because present, 0 failed; 0 bytes",
         "VantrelBackup: cancelled by SIGTERM\n"},
    };
    for (const Case& c : cases) {
        site->ClearLog();
        QProcess process;
        Start(process, GalleryOptions("--folder", slow.Id()));
        // Mid-transfer: the stalled picture was asked for and its part file is open.
        QElapsedTimer waited;
        waited.start();
        while ((site->Hits(slow.PicturePath("pic002.jpg")) == 0 ||
                !std::filesystem::exists(folderDir) || PartFiles(folderDir).empty()) &&
               waited.elapsed() < 20000)
            QThread::msleep(20);
        ASSERT_EQ(PartFiles(folderDir).size(), 1u) << process.readAllStandardOutput().toStdString();
        QThread::msleep(200);

        ::kill(static_cast<pid_t>(process.processId()), c.signal);
        const Result result = Finish(process, 10000);
        EXPECT_LT(result.milliseconds, 1000);
        EXPECT_EQ(result.status, c.status) << result.out << result.err;
        EXPECT_EQ(result.err, c.err);
        EXPECT_EQ(Summary(result), c.summary);
        EXPECT_EQ(PartFiles(destination), std::vector<std::string>{});
        EXPECT_FALSE(std::filesystem::exists(folderDir + "pic002.jpg"));
        // The job ended there: the picture after the stalled one was never asked for.
        EXPECT_EQ(site->Hits(slow.PicturePath("pic003.jpg")), 0u);
    }
}

// With four connections the window's Cancel and Ctrl+C both end the four transfers in flight at
// once; none leaves a part or a picture, and the pictures still waiting are never asked for.
TEST_F(HeadlessTest, CancelAndCtrlCEndFourTransfersInFlightAndKeepNoPart) {
    fixture::GalleryModel model;
    fixture::Folder& slow = model.AddMember("pelmark").AddFolder("Slow").AddPictures(6, 40000);
    for (const char* name : {"pic001.jpg", "pic002.jpg", "pic003.jpg", "pic004.jpg"})
        model.SetFault(slow.PicturePath(name), fixture::Fault::Stall());
    Serve(model);
    const std::string folderDir = destination + "gallery/pelmark/Slow/";
    const auto nothingKept = [&] {
        EXPECT_EQ(PartFiles(destination), std::vector<std::string>{});
        EXPECT_FALSE(std::filesystem::exists(folderDir + "pic001.jpg"));
        EXPECT_EQ(PictureRequests(), 4u);
    };

    // Cancel, as the window's button sets the flag the job polls.
    TPlainHost host;
    host.destination = destination;
    host.Engine().SiteWord = sites::kSiteAWord;
    host.Engine().NMHTTP1.Proxy = "127.0.0.1";
    host.Engine().NMHTTP1.ProxyPort = site->Port();
    host.Engine().Connections = 4;
    QTimer press;
    QObject::connect(&press, &QTimer::timeout, [&] {
        uint64_t bytes = 0, announced = 0;
        if (host.Engine().DownloadsInFlight(bytes, announced) == 4 && announced == 4 * 40000)
            host.cancelled = true;
    });
    press.start(20);
    QElapsedTimer clock;
    clock.start();
    host.RunGalleryJob(TBackupEngine::GalleryQuery::Folder, slow.Id());
    EXPECT_LT(clock.elapsed(), 5000);
    nothingKept();

    // Ctrl+C, once the four parts are on disk.
    site->ClearLog();
    QProcess process;
    Start(process, GalleryOptions("--folder", slow.Id()) << "--connections"
                                                         << "4");
    clock.restart();
    while (PartFiles(destination).size() < 4 && clock.elapsed() < 20000)
        QThread::msleep(20);
    ASSERT_EQ(PartFiles(destination).size(), 4u) << process.readAllStandardOutput().toStdString();
    ::kill(static_cast<pid_t>(process.processId()), SIGINT);
    const Result result = Finish(process, 10000);
    EXPECT_LT(result.milliseconds, 1000);
    EXPECT_EQ(result.status, 130) << result.out << result.err;
    EXPECT_EQ(Summary(result), "Summary: 0 fetched, 0 skipped because present, 0 failed; 0 bytes");
    nothingKept();
}

// An FTP archive that takes the connection and never greets: the window's Cancel would leave
// the job waiting for the reply, Ctrl+C ends that wait too.
TEST_F(HeadlessTest, ASignalEndsAWaitForAnFtpReply) {
    ScriptedServer silent({ScriptedServer::Stall(-1)});
    environment.insert(QStringLiteral("VANTREL_FTP_HOST"), QStringLiteral("127.0.0.1"));
    environment.insert(QStringLiteral("VANTREL_FTP_PORT"), QString::number(silent.Port()));
    QProcess process;
    Start(process, {QStringLiteral("--set"), QStringLiteral("8436"), QStringLiteral("--dest"),
                    QString::fromStdString(destination)});
    QElapsedTimer waited;
    waited.start();
    while (silent.Connections() == 0 && waited.elapsed() < 20000)
        QThread::msleep(20);
    ASSERT_EQ(silent.Connections(), 1u);
    QThread::msleep(200);

    ::kill(static_cast<pid_t>(process.processId()), SIGINT);
    const Result result = Finish(process, 10000);
    EXPECT_LT(result.milliseconds, 1000);
    EXPECT_EQ(result.status, 130) << result.out << result.err;
    EXPECT_EQ(result.err, "VantrelBackup: cancelled by SIGINT\n");
}

TEST_F(HeadlessTest, TakesItsDefaultsFromTheSettingsFileAndNeverWritesIt) {
    // The two sites have different folders of one ID, so a copy shows which site was asked.
    fixture::GalleryModel siteA, siteB;
    fixture::Folder& other =
        siteA.AddMember("pelmark").AddFolder("Other", "5150").AddPictures(1, 900);
    fixture::Folder& shots =
        siteB.AddMember("pelmark").AddFolder("Shots", "5150").AddPictures(2, 2000);
    Serve(siteA, siteB);
    const fixture::Mirror expected = fixture::ExpectedMirror(siteB, shots);
    // Stored as the window's directory chooser gives it: without a trailing separator.
    const std::string stored = Scratch("stored");
    const std::string port = std::to_string(site->Port());
    WriteFile(settingsFile, "[TForm1]\n"
                            "Edit1_Text=" +
                                stored +
                                "\n"
                                "CheckBox1_Checked=True\n"
                                "SpinEdit1_Value=1\n"
                                "RadioButton1_Checked=False\n"
                                "RadioButton2_Checked=True\n"
                                "[TForm2]\n"
                                "Edit1_Text=127.0.0.1\n"
                                "Edit2_Text=" +
                                port + "\n");
    const std::string settings = ReadFile(settingsFile);
    struct stat before {};
    ASSERT_EQ(::stat(settingsFile.c_str(), &before), 0);
    const std::vector<std::string> bin = Tree(Scratch("bin")), home = Tree(Scratch("home")),
                                   config = Tree(Scratch("config"));

    const Result defaults = Run({QStringLiteral("--folder"), QString::fromStdString(shots.Id())});
    EXPECT_EQ(defaults.status, 0) << defaults.out << defaults.err;
    EXPECT_EQ(defaults.out.rfind("**Using Proxy Server 127.0.0.1:" + port + "\n", 0), 0u)
        << defaults.out;
    EXPECT_EQ(fixture::HashTree(stored), expected);
    EXPECT_EQ(fixture::StrayFiles(stored, expected), std::vector<std::string>{});
    EXPECT_FALSE(site->Requests().empty());
    for (const fixture::Request& request : site->Requests())
        EXPECT_EQ(request.site, 'B') << request.url;
    // The stored pause of one second after each of the two pictures.
    EXPECT_GE(defaults.milliseconds, 2000);

    // Options take over for this run only: another place, another site, another proxy.
    fixture::GallerySite otherProxy(siteA, siteB);
    const Result overridden =
        Run({QStringLiteral("--folder"), QStringLiteral("5150"), QStringLiteral("--dest"),
             QString::fromStdString(destination), QStringLiteral("--pause"), QStringLiteral("0"),
             QStringLiteral("--site"), QStringLiteral("vantrelpix.com"), QStringLiteral("--proxy"),
             QStringLiteral("127.0.0.1:%1").arg(otherProxy.Port())});
    EXPECT_EQ(overridden.status, 0) << overridden.out << overridden.err;
    EXPECT_EQ(fixture::HashTree(destination), fixture::ExpectedMirror(siteA, other));
    EXPECT_FALSE(otherProxy.Requests().empty());
    for (const fixture::Request& request : otherProxy.Requests())
        EXPECT_EQ(request.site, 'A') << request.url;

    EXPECT_EQ(ReadFile(settingsFile), settings);
    struct stat after {};
    ASSERT_EQ(::stat(settingsFile.c_str(), &after), 0);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(Tree(Scratch("bin")), bin);
    EXPECT_EQ(Tree(Scratch("home")), home);
    EXPECT_EQ(Tree(Scratch("config")), config);
}

// The counts and the exit status come from the job's events alone: a tally fed by nothing but
// the events of the same job over a fault-laden member gives the summary the program prints.
TEST_F(HeadlessTest, TheJobsEventsAloneGiveTheSummaryAndTheExitStatus) {
    fixture::GalleryModel model;
    fixture::Member& member = model.AddMember("faults");
    member.AddFolder("Good").AddPictures(3, 700);
    model.SetFault(member.AddFolder("Gone").AddPictures(2, 700).ListingPath(),
                   fixture::Fault::RejectAlways());
    fixture::Folder& broken = member.AddFolder("Broken").AddPicture("lost.jpg", 900);
    broken.AddPicture("short.jpg", 5000).AddPicture("clip.avi", 300).AddPicture("ok.jpg", 800);
    model.SetFault(broken.PicturePath("lost.jpg"), fixture::Fault::NotFound());
    model.SetFault(broken.PicturePath("short.jpg"), fixture::Fault::ShortBody());
    fixture::AddHostilePictures(member.AddFolder("Evil"));
    Serve(model);
    const Result printed = Run(GalleryOptions("--user", "faults"));

    TPlainHost host;
    host.destination = destination + "events/";
    host.Engine().SiteWord = sites::kSiteAWord;
    host.Engine().NMHTTP1.Proxy = "127.0.0.1";
    host.Engine().NMHTTP1.ProxyPort = site->Port();
    TJobTally tally;
    bool stoppedEarly = false;
    std::vector<std::string> fetched;
    host.Engine().Events.FileDone = [&](const TFileEvent& file) {
        tally.Count(file);
        if (file.outcome == TDownloadOutcome::Fetched)
            fetched.push_back(file.path);
    };
    host.Engine().Events.PageGivenUp = [&](const std::string&) { tally.PageGivenUp(); };
    host.Engine().Events.StoppedEarly = [&](TStopReason) { stoppedEarly = true; };
    EXPECT_TRUE(host.RunGalleryJob(TBackupEngine::GalleryQuery::User, "faults"));

    EXPECT_EQ(Summary(printed),
              "Summary: " + std::to_string(tally.fetched) + " fetched, " +
                  std::to_string(tally.present) + " skipped because present, " +
                  std::to_string(tally.failed) + " failed, " + std::to_string(tally.refused) +
                  " refused, " + std::to_string(tally.foldersGivenUp) +
                  " listing page not fetched; " + std::to_string(tally.bytes) + " bytes");
    EXPECT_EQ(printed.status, tally.failed > 0 || tally.foldersGivenUp > 0 || stoppedEarly);
    EXPECT_EQ(tally.fetched, 6);
    EXPECT_EQ(tally.failed, 2);
    // The record's thread hashed each stored file from its writes, hostile names included.
    const auto record = TBackupRecord::Open(host.destination, false);
    for (const std::string& path : fetched) {
        const auto row = record->Find(path);
        ASSERT_TRUE(row) << path;
        EXPECT_EQ(row->sha256, TSha256::Of(ReadFile(host.destination + path))) << path;
    }
}

// A copy keeps its record: the server's dates, a checksum list sha256sum checks, and verify,
// which finds three damaged files and one it does not know, and marks them.
TEST_F(HeadlessTest, AJobKeepsItsRecordAndVerifyFindsTheDamage) {
    fixture::GalleryModel model;
    fixture::Folder& folder = model.AddMember("pelmark").AddFolder("Harbour").AddPictures(5, 900);
    Serve(model);
    ASSERT_EQ(Run(GalleryOptions("--folder", folder.Id())).status, 0);
    const std::string dir = destination + "gallery/pelmark/Harbour/";
    struct stat info {};
    ASSERT_EQ(::stat((dir + "pic001.jpg").c_str(), &info), 0);
    EXPECT_EQ(info.st_mtime, fixture::kPictureTime);
    const std::string check =
        "cd '" + destination + "' && sha256sum --quiet -c .vantrel/SHA256SUMS";
    EXPECT_EQ(std::system(check.c_str()), 0);

    std::filesystem::remove(dir + "pic001.jpg");
    WriteFile(dir + "pic002.jpg", std::string(900, 'x'));
    WriteFile(dir + "pic003.jpg", ReadFile(dir + "pic003.jpg") + "tail");
    WriteFile(destination + "notes.txt", "mine");
    const QStringList verify = {"--verify", "--dest", QString::fromStdString(destination)};
    const Result found = Run(verify);
    EXPECT_EQ(found.status, 1) << found.err;
    EXPECT_EQ(found.out, "missing gallery/pelmark/Harbour/pic001.jpg\n"
                         "damaged gallery/pelmark/Harbour/pic002.jpg\n"
                         "damaged gallery/pelmark/Harbour/pic003.jpg\n"
                         "unrecorded notes.txt\n"
                         "Verify: 5 recorded, 2 whole, 1 missing, 2 damaged, 1 unrecorded\n");
    EXPECT_EQ(Run(verify).out, found.out) << "the marks change no finding";

    // The next job fetches again what verify marked and what changed size since, sets each old
    // copy aside once its new one is whole, and keeps a copy whose fetch fails where it is.
    WriteFile(dir + "pic004.jpg", ReadFile(dir + "pic004.jpg") + "grown");
    WriteFile(dir + "pic005.jpg", std::string(900, 'y'));
    ASSERT_EQ(Run(verify).status, 1);
    model.SetFault(folder.PicturePath("pic005.jpg"), fixture::Fault::NotFound());
    const std::string before2 = ReadFile(dir + "pic002.jpg"),
                      before3 = ReadFile(dir + "pic003.jpg");
    const std::string before4 = ReadFile(dir + "pic004.jpg");
    EXPECT_EQ(Run(GalleryOptions("--folder", folder.Id())).status, 1);
    const std::string aside =
        destination + ".vantrel/damaged/" + Today() + "/gallery/pelmark/Harbour/";
    EXPECT_EQ(ReadFile(aside + "pic002.jpg"), before2);
    EXPECT_EQ(ReadFile(aside + "pic003.jpg"), before3);
    EXPECT_EQ(ReadFile(aside + "pic004.jpg"), before4);
    EXPECT_FALSE(std::filesystem::exists(aside + "pic005.jpg"));
    EXPECT_EQ(ReadFile(dir + "pic005.jpg"), std::string(900, 'y'));
    EXPECT_EQ(Run(verify).out, "damaged gallery/pelmark/Harbour/pic005.jpg\n"
                               "unrecorded notes.txt\n"
                               "Verify: 5 recorded, 4 whole, 0 missing, 1 damaged, 1 unrecorded\n");

    const Result none = Run({"--verify", "--dest", QString::fromStdString(destination + "none")});
    EXPECT_EQ(none.status, 2);
    EXPECT_EQ(none.err, "VantrelBackup: No backup record in " + destination + "none\n");
    const Result misused = Run({"--verify", "--proxy", "h:1"});
    EXPECT_EQ(misused.status, 2);
    EXPECT_TRUE(Contains(misused.err, "Option '--proxy' does not apply to '--verify'."));
}

// A job killed at any moment leaves a record that opens and never says whole of a file that is
// not: each run goes on in the same destination and is killed at another point.
TEST_F(HeadlessTest, AKilledJobLeavesARecordThatAgreesWithTheTree) {
    fixture::GalleryModel model;
    fixture::Folder& folder = model.AddMember("pelmark").AddFolder("Many").AddPictures(120, 20000);
    Serve(model);
    site->SetLatency(40); // about 1.5 s a run, with a batch committed about once a second
    size_t fewest = 120, most = 0;
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    for (int run = 0; run < 6; ++run) {
        QProcess process;
        Start(process, GalleryOptions("--folder", folder.Id()) << "--connections"
                                                               << "4");
        // The first run is killed well before its end; the later ones anywhere.
        QThread::msleep(static_cast<unsigned long>(300 + std::rand() % (run == 0 ? 600 : 1500)));
        process.kill();
        process.waitForFinished(10000);

        if (!std::filesystem::exists(destination + ".vantrel/record.sqlite"))
            continue;
        std::unique_ptr<TBackupRecord> record;
        ASSERT_NO_THROW(record = TBackupRecord::Open(destination, false)) << "run " << run;
        const std::vector<TRecordRow> rows = record->All();
        fewest = std::min(fewest, rows.size());
        most = std::max(most, rows.size());
        for (const TRecordRow& row : rows) {
            ASSERT_EQ(row.state, TRecordState::Whole);
            const std::string file = destination + row.path;
            EXPECT_EQ(std::filesystem::file_size(file), row.size) << row.path;
            EXPECT_EQ(TSha256::OfFile(file), row.sha256) << row.path;
        }
    }
    EXPECT_LT(fewest, 120u) << "no run was killed half way";
    EXPECT_GT(most, 0u) << "no row was ever committed";
}

// An update asks for each present picture again with its recorded date: an unchanged one is
// answered 304 and stays, a new upload replaces the copy (the old one kept in replaced/), and
// one whose request fails stays as it was; a picture the site dropped is said gone once and
// kept. With one connection and with four, over two thumbnail pages.
TEST_F(HeadlessTest, AnUpdateReplacesOnlyWhatChangedAndKeepsTheOldCopies) {
    const std::string root = destination;
    for (const char* connections : {"1", "4"}) {
        SCOPED_TRACE(connections);
        fixture::GalleryModel model;
        fixture::Folder& folder =
            model.AddMember("pelmark").AddFolder("Harbour").AddPictures(4, 900).SetPicturesPerPage(
                2);
        Serve(model);
        destination = root + "c" + connections + "/";
        QStringList options = GalleryOptions("--folder", folder.Id())
                              << "--connections" << connections;
        ASSERT_EQ(Run(options).status, 0);
        const std::string dir = destination + "gallery/pelmark/Harbour/";
        const std::string old2 = ReadFile(dir + "pic002.jpg"), old4 = ReadFile(dir + "pic004.jpg");
        const std::string newDate = "Mon, 07 Nov 1994 08:49:37 GMT";
        folder.ChangePicture("pic002.jpg", "a new upload", newDate);
        model.SetFault(folder.PicturePath("pic004.jpg"), fixture::Fault::NotFound());
        const std::string old3 = ReadFile(dir + "pic003.jpg");
        folder.RemovePicture("pic003.jpg");

        site->ClearLog();
        EXPECT_EQ(Summary(Run(options)),
                  "Summary: 0 fetched, 3 skipped because present, 0 failed, 1 gone; 0 bytes");
        EXPECT_EQ(PictureRequests(), 0u) << "without --update nothing is asked again";
        EXPECT_EQ(ReadFile(dir + "pic003.jpg"), old3) << "a gone file stays";

        site->ClearLog();
        const Result updated = Run(options << "--update");
        EXPECT_EQ(updated.status, 1);
        EXPECT_EQ(Summary(updated),
                  "Summary: 0 fetched, 1 skipped because present, 1 failed, 1 changed; 12 bytes");
        EXPECT_TRUE(Contains(updated.out, "\n**Update failed, keeping pic004.jpg\n"));
        EXPECT_EQ(PictureRequests(), 3u);
        for (const fixture::Request& request : site->Requests())
            if (Contains(request.path, ".jpg"))
                EXPECT_EQ(request.ifModifiedSince, fixture::kPictureDate) << request.path;
        EXPECT_EQ(ReadFile(dir + "pic002.jpg"), "a new upload");
        EXPECT_EQ(ReadFile(dir + "pic004.jpg"), old4);
        EXPECT_EQ(ReadFile(destination + ".vantrel/replaced/" + Today() +
                           "/gallery/pelmark/Harbour/pic002.jpg"),
                  old2);
        struct stat info {};
        ASSERT_EQ(::stat((dir + "pic002.jpg").c_str(), &info), 0);
        EXPECT_EQ(info.st_mtime, fixture::kPictureTime + 86400);
        EXPECT_EQ(Run({"--verify", "--dest", QString::fromStdString(destination)}).out,
                  "Verify: 4 recorded, 4 whole, 0 missing, 0 damaged, 0 unrecorded\n");

        // Each run wrote its report; the update's names what it changed and what failed.
        std::vector<std::string> reports;
        for (const auto& entry :
             std::filesystem::directory_iterator(destination + ".vantrel/reports"))
            reports.push_back(ReadFile(entry.path().string()));
        EXPECT_EQ(reports.size(), 3u);
        EXPECT_EQ(std::count_if(reports.begin(), reports.end(),
                                [](const auto& text) {
                                    return Contains(text,
                                                    "\ngone gallery/pelmark/Harbour/pic003.jpg\n");
                                }),
                  1);
        const auto update = std::find_if(reports.begin(), reports.end(), [](const auto& text) {
            return Contains(text, "\nchanged ");
        });
        ASSERT_NE(update, reports.end());
        const std::string firstLine = "Get by ID " + folder.Id() + ", vantrelpix, ";
        EXPECT_EQ(update->rfind(firstLine, 0), 0u) << *update;
        EXPECT_TRUE(Contains(*update, " to " + Today() + " ")) << *update;
        EXPECT_TRUE(Contains(*update, "\nchanged gallery/pelmark/Harbour/pic002.jpg\n"
                                      "failed gallery/pelmark/Harbour/pic004.jpg\n" +
                                          Summary(updated) + " (12 B) in "))
            << *update;
    }
}

// An update killed at any moment loses no copy: each picture's old bytes stay under its name or
// in replaced/, and no row that says whole names a file that is not.
TEST_F(HeadlessTest, AKilledUpdateLosesNoCopy) {
    fixture::GalleryModel model;
    fixture::Folder& folder = model.AddMember("pelmark").AddFolder("Many").AddPictures(60, 20000);
    Serve(model);
    ASSERT_EQ(Run(GalleryOptions("--folder", folder.Id())).status, 0);
    const std::string dir = destination + "gallery/pelmark/Many/";
    std::map<std::string, std::string> old;
    for (const fixture::Picture& picture : folder.Pictures()) {
        old[picture.name] = picture.Content();
        folder.ChangePicture(picture.name, fixture::GeneratedBytes(picture.seed + 1, 20000),
                             "Mon, 07 Nov 1994 08:49:37 GMT");
    }
    site->SetLatency(40);
    std::srand(static_cast<unsigned>(std::time(nullptr)));
    for (int run = 0; run < 4; ++run) {
        QProcess process;
        Start(process, GalleryOptions("--folder", folder.Id()) << "--update"
                                                               << "--connections"
                                                               << "4");
        QThread::msleep(static_cast<unsigned long>(200 + std::rand() % 900));
        process.kill();
        process.waitForFinished(10000);

        std::string kept;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(destination))
            if (entry.is_regular_file())
                kept += ReadFile(entry.path().string()) + "\n";
        for (const auto& [name, bytes] : old)
            EXPECT_TRUE(Contains(kept, bytes + "\n")) << "run " << run << ": " << name;
        std::unique_ptr<TBackupRecord> record;
        ASSERT_NO_THROW(record = TBackupRecord::Open(destination, false)) << "run " << run;
        for (const TRecordRow& row : record->All())
            if (row.state == TRecordState::Whole)
                EXPECT_EQ(TSha256::OfFile(destination + row.path), row.sha256) << row.path;
    }
}

// Without a record (its folder cannot be made) an update still tells an unchanged picture by
// its bytes: asked unconditionally, the same body leaves the copy alone.
TEST_F(HeadlessTest, AnUpdateWithoutARecordKeepsWhatDidNotChange) {
    fixture::GalleryModel model;
    fixture::Folder& folder = model.AddMember("pelmark").AddFolder("Harbour").AddPictures(3, 900);
    Serve(model);
    std::filesystem::create_directories(destination);
    WriteFile(destination + ".vantrel", "in the way");
    ASSERT_EQ(Run(GalleryOptions("--folder", folder.Id())).status, 0);
    site->ClearLog();
    const Result updated = Run(GalleryOptions("--folder", folder.Id()) << "--update");
    EXPECT_EQ(updated.status, 0) << updated.out;
    EXPECT_EQ(Summary(updated), "Summary: 0 fetched, 3 skipped because present, 0 failed; 0 bytes");
    EXPECT_EQ(PictureRequests(), 3u);
    for (const fixture::Request& request : site->Requests())
        EXPECT_EQ(request.ifModifiedSince, "") << request.path;
}
