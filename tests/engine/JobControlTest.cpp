#include "EngineFixture.h"

#include "net/Powersock.h"
#include "platform/FileSystem.h"
#include "tests/support/GalleryScenarios.h"
#include "tests/support/LoopbackListener.h"

#include <QDir>
#include <QDirIterator>
#include <fstream>

namespace {

// An engine that presses Cancel after its n-th download, as a user clicking during a transfer.
class CancellingEngine : public TBackupEngine {
public:
    CancellingEngine(TPlainHost& host, int cancelAfter) : TBackupEngine(host), plain_(host) {
        left_ = cancelAfter;
    }
    void DownloadFile(const std::string& LocalDir, const std::string& URL,
                      const std::string& Name) override {
        TBackupEngine::DownloadFile(LocalDir, URL, Name);
        if (--left_ == 0)
            plain_.cancelled = true;
    }

private:
    TPlainHost& plain_;
    int left_;
};

size_t PageFilesBelow(const std::string& root) {
    size_t count = 0;
    QDirIterator it(QString::fromStdString(root), QDir::Files | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString name = it.next().section('/', -1);
        count += name.endsWith(".html") || name.endsWith(".htm") || name.startsWith(".vantrel-");
    }
    return count;
}

} // namespace

// Cancel during a walk three levels deep stops every level at its next look at the flag, and
// every page file of the walk is gone afterwards.
TEST_F(EngineTest, CancelThreeLevelsDeepStopsEveryLevelAndLeavesNoPageFile) {
    fixture::GalleryModel model;
    fixture::Member& member = model.AddMember("deepcancel");
    fixture::Folder& top = member.AddFolder("Top");
    fixture::Folder& middle = top.AddFolder("Middle");
    middle.AddFolder("Bottom").AddPictures(5, 400);
    middle.AddFolder("MiddleLater").AddPictures(2, 400);
    top.AddFolder("TopLater").AddPictures(2, 400);
    member.AddFolder("MemberLater").AddPictures(2, 400);
    Serve(model);
    host.UseEngine(std::make_unique<CancellingEngine>(host, 2));
    Engine().SiteWord = sites::kSiteAWord;
    Engine().NMHTTP1.Proxy = "127.0.0.1";
    Engine().NMHTTP1.ProxyPort = site->Port();

    EXPECT_TRUE(GetByUser("deepcancel"));
    EXPECT_EQ(OnDisk().size(), 2u);
    // The picture loop, then Middle, Top and the member page each log it once.
    EXPECT_EQ(LogCount("Cancel button pressed, download stopped."), 4u);
    EXPECT_EQ(site->Hits("/gallery/deepcancel/Top/TopLater/"), 0u);
    EXPECT_EQ(PageFilesBelow(destination), 0u);
}

// "f=" and "m=" lines start Get by ID and Get by User in turn; a list saved with LF-only line
// ends, as every editor here saves it, reads line by line.
TEST_F(EngineTest, BatchListRunsEachLineAndReadsLfOnlyLists) {
    fixture::GalleryModel model;
    fixture::Member& alice = model.AddMember("alice");
    alice.AddFolder("A1").AddPictures(2, 300);
    fixture::Member& bob = model.AddMember("bob");
    fixture::Folder& b1 = bob.AddFolder("B1").AddPictures(3, 300);
    bob.AddFolder("B2").AddPictures(1, 300);
    Serve(model);

    const std::string listDir = dir_.path().toStdString() + "/lists";
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(listDir)));
    std::ofstream(listDir + "/list.txt", std::ios::binary)
        << "http://www.vantrelpix.com/cgi-bin/gallery.cgi?f=" << b1.Id() << "\nnoise\nm=alice\n";
    const std::string before = platform::CurrentDir();
    ASSERT_TRUE(platform::SetCurrentDir(listDir));
    Engine().RunBatchList();
    platform::SetCurrentDir(before);

    EXPECT_EQ(host.folderId, b1.Id());
    EXPECT_EQ(host.userId, "alice");
    fixture::Mirror expected = fixture::ExpectedMirror(model, b1);
    const fixture::Mirror ofAlice = fixture::ExpectedMirror(model, alice);
    expected.insert(ofAlice.begin(), ofAlice.end());
    EXPECT_EQ(OnDisk(), expected);
    EXPECT_EQ(Strays(expected), std::vector<std::string>{});
}

// Two thousand listing pages nest one walk per page, and folders nest fifty deep: neither may
// run out of stack or file handles.
TEST_F(EngineTest, DeepSitesAreWalkedToTheirEnd) {
    fixture::GalleryModel model;
    fixture::Member& longList = fixture::AddLongListingMember(model, "longlist", 2000);
    fixture::Folder& deep = fixture::AddDeepFolders(model.AddMember("deep"), "top", 50);
    Serve(model);

    ASSERT_TRUE(GetByUser("longlist"));
    fixture::Mirror expected = fixture::ExpectedMirror(model, longList);
    EXPECT_EQ(expected.size(), 2000u);
    EXPECT_EQ(OnDisk(), expected);

    ASSERT_TRUE(GetById(deep.Id()));
    const fixture::Mirror ofDeep = fixture::ExpectedMirror(model, deep);
    EXPECT_EQ(ofDeep.size(), 50u);
    expected.insert(ofDeep.begin(), ofDeep.end());
    EXPECT_EQ(OnDisk(), expected);
    EXPECT_EQ(Strays(expected), std::vector<std::string>{});
}

// The pause follows each fetched file, never a skipped one; the login's cookie goes with every
// later request, and its reply never lands on the file the client wrote last.
TEST_F(EngineTest, PauseAfterFetchedFilesAndLoginCookie) {
    fixture::GalleryModel model;
    fixture::Folder& folder = model.AddMember("me").AddFolder("F").AddPictures(3, 600);
    model.SetLogin("me", "secret", "session=42");
    Serve(model);
    const std::string present = destination + "gallery/me/F/" + folder.Pictures()[1].name;
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(destination + "gallery/me/F")));
    std::ofstream(present, std::ios::binary) << "kept as it is";

    host.pauseEnabled = true;
    host.pauseSeconds = 4;
    host.loginEnabled = true;
    host.loginUser = "me";
    host.loginPassword = "secret";
    Engine().NMHTTP1.Body = present;
    ASSERT_TRUE(GetById(folder.Id()));

    EXPECT_EQ(blocks, (std::vector<int>{4000, 4000}));
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), "Sleeping for 4 seconds . . ."), 2);
    EXPECT_EQ(fixture::HashTree(destination).at("gallery/me/F/" + folder.Pictures()[1].name),
              fixture::ContentHash("kept as it is"));
    EXPECT_EQ(LogCount("Cookie:\r\nsession=42"), 1u);
    const std::vector<fixture::Request> requests = site->Requests();
    ASSERT_GE(requests.size(), 3u);
    EXPECT_EQ(requests.front().path, "/cgi-bin/gallery.cgi?m=me&pwd=secret");
    for (size_t i = 1; i < requests.size(); ++i)
        EXPECT_EQ(requests[i].cookie, "session=42") << requests[i].url;

    site->ClearLog();
    host.loginEnabled = false;
    ASSERT_TRUE(GetById(folder.Id()));
    for (const fixture::Request& request : site->Requests())
        EXPECT_EQ(request.cookie, "") << "the login switch off clears the cookie";
}

// The slow cases: the real one-second watchdog against a server that stalls after its header.
// A stalled download fails that file after 31 silent seconds and the job goes on; a stalled
// page fetch is cancelled the same way, five times, and only its folder is given up.
TEST_F(EngineTest, SlowWatchdogCancelsStalledDownloadsAndPageFetches) {
    fixture::GalleryModel model;
    fixture::Folder& folder = model.AddMember("stall").AddFolder("F");
    folder.AddPicture("a.jpg", 500).AddPicture("stuck.jpg", 5000).AddPicture("b.jpg", 500);
    fixture::Folder& stuckPage = model.AddMember("stallpage").AddFolder("G").AddPictures(2, 500);
    model.SetFault(folder.PicturePath("stuck.jpg"), fixture::Fault::Stall());
    model.SetFault(stuckPage.ThumbPath(), fixture::Fault::Stall());
    Serve(model);

    ASSERT_TRUE(GetById(folder.Id()));
    EXPECT_EQ(LogCount("** Deleting file stuck.jpg"), 1u);
    const fixture::Mirror onDisk = OnDisk();
    EXPECT_TRUE(onDisk.count("gallery/stall/F/b.jpg")) << "the job goes on after the stall";
    EXPECT_FALSE(onDisk.count("gallery/stall/F/stuck.jpg"));

    // A stalled page is one failed attempt; five of them give the folder up, not the job.
    Engine().StallLimit = 1;
    EXPECT_TRUE(GetById(stuckPage.Id()));
    EXPECT_EQ(LogCount("**Tried 5 times and got errors every time, skipping this folder"), 1u);
    EXPECT_EQ(PageFilesBelow(destination), 0u);
    EXPECT_FALSE(Engine().TransferWatched());
}

// A proxy that refuses every connection is no bad page: the error ends the job at once, with no
// retry lines, while a page that stalls or is cut off is fetched again.
TEST_F(EngineTest, AProxyThatRefusesEndsTheJobWithItsError) {
    int listenFd = -1, wakeFds[2] = {-1, -1};
    const uint16_t closedPort = loopback::Listen(listenFd, wakeFds, 0, 1, "closed port");
    loopback::Close(listenFd, wakeFds);
    Engine().NMHTTP1.Proxy = "127.0.0.1";
    Engine().NMHTTP1.ProxyPort = closedPort;

    try {
        GetById("77154");
        ADD_FAILURE() << "the job ended without an error";
    } catch (const ESockError& error) {
        EXPECT_EQ(error.Message(), "Connection Failed");
    }
    EXPECT_EQ(LogCount("**Got a server error, trying to download again"), 0u);
}

// What the page fetch does with each kind of failure: a site it cannot reach at all ends the
// job with the error, anything else is one of its five attempts.
TEST(PageFetchFailures, OnlyAnUnreachableSitePassesTheErrorOn) {
    const std::pair<TFailure, bool> rows[] = {
        {TFailure::LookupFailed, true},    {TFailure::NoAddress, true},
        {TFailure::BadPort, true},         {TFailure::ConnectFailed, true},
        {TFailure::LookupTimedOut, false}, {TFailure::ConnectTimedOut, false},
        {TFailure::Cancelled, false},      {TFailure::ClosedByPeer, false},
        {TFailure::Reset, false},          {TFailure::LineTooLong, false},
        {TFailure::Socket, false},         {TFailure::Other, false},
    };
    for (const auto& [kind, passedOn] : rows)
        EXPECT_EQ(SiteUnreachable(kind), passedOn) << static_cast<int>(kind);
}
