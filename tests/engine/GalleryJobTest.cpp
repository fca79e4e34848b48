#include "EngineFixture.h"

#include "platform/Exceptions.h"
#include "tests/support/GalleryScenarios.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <fstream>

namespace {

const std::string kRetry = "**Got a server error, trying to download again";
const std::string kGaveUp = "**Tried 5 times and got errors every time, skipping this folder";
const std::string kCancelled = "Cancel button pressed, download stopped.";

// Page files and temporary downloads: none may outlive the job that made them.
std::vector<std::string> TransientFilesBelow(const std::string& root) {
    std::vector<std::string> found;
    QDirIterator it(QString::fromStdString(root), QDir::Files | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString name = it.next().section('/', -1);
        if (name.endsWith(".html") || name.endsWith(".htm") || name.startsWith(".vantrel-"))
            found.push_back(it.filePath().toStdString());
    }
    return found;
}

size_t CountUnder(const fixture::Mirror& mirror, const std::string& prefix) {
    return static_cast<size_t>(std::count_if(mirror.begin(), mirror.end(), [&](const auto& entry) {
        return entry.first.rfind(prefix, 0) == 0;
    }));
}

} // namespace

// A member with every kind of page the crawl meets: listing next pages, sub-folders three
// levels deep, thumbnail next pages, a redirect page and a page refused twice before it comes.
TEST_F(EngineTest, MirrorsMemberAndFolderTreesFileByFileAndASecondRunFetchesNothing) {
    fixture::GalleryModel model;
    fixture::Member& member = model.AddMember("pelmark").SetFoldersPerPage(1);
    fixture::Folder& trip = member.AddFolder("Trip").AddPictures(12, 3000).SetPicturesPerPage(5);
    fixture::Folder& day = trip.AddFolder("Day1").AddPictures(3, 2000);
    day.AddFolder("Night").AddPictures(2, 1000);
    trip.AddFolder("Day2").AddPictures(4, 1500).SetPicturesPerPage(3);
    member.AddFolder("Party").AddPictures(3, 500).SetRedirect();
    model.SetFault(trip.ListingPath(), fixture::Fault::RejectTimes(2));
    Serve(model);

    ASSERT_TRUE(GetByUser("pelmark"));
    const fixture::Mirror expected = fixture::ExpectedMirror(model, member);
    EXPECT_EQ(expected.size(), 24u);
    EXPECT_EQ(OnDisk(), expected);
    EXPECT_EQ(Strays(expected), std::vector<std::string>{});
    EXPECT_EQ(LogCount(kRetry), 2u);
    EXPECT_EQ(statuses.back(), ". . . done getting files");
    EXPECT_EQ(log.back(),
              "/gallery/pelmark/Party/" +
                  model.FindFolder(member.Entries().back()->Id())->Pictures().back().name)
        << "the crawl's lines come last";

    site->ClearLog();
    log.clear();
    ASSERT_TRUE(GetByUser("pelmark"));
    EXPECT_EQ(PictureRequests(), 0u);
    EXPECT_EQ(OnDisk(), expected);
    EXPECT_EQ(Strays(expected), std::vector<std::string>{});

    destination = dir_.path().toStdString() + "/by-id/";
    host.destination = destination;
    ASSERT_TRUE(GetById(day.Id()));
    EXPECT_EQ(OnDisk(), fixture::ExpectedMirror(model, day));
    EXPECT_EQ(TransientFilesBelow(destination), std::vector<std::string>{});
}

// Each fault ends only what it breaks: the rest of the member is still backed up, nothing lands
// outside the destination, no broken file is kept and no walk goes on for ever.
TEST_F(EngineTest, FaultsEndOnlyWhatTheyBreak) {
    fixture::GalleryModel model;
    fixture::Member& member = model.AddMember("faults");
    member.AddFolder("Before").AddPictures(2, 700);
    fixture::Folder& gone = member.AddFolder("Gone").AddPictures(2, 700);
    fixture::Folder& cut = member.AddFolder("Cut").AddPictures(3, 700);
    cut.AddFolder("Inside").AddPictures(2, 700);
    fixture::Folder& cutThumbs = member.AddFolder("CutThumbs").AddPictures(4, 700);
    fixture::Folder& loop = member.AddFolder("Loop").AddPictures(1, 700);
    loop.AddFolder("Back").AddPictures(1, 700).LinkTo(loop);
    fixture::AddHostilePictures(member.AddFolder("Evil"));
    fixture::Folder& broken = member.AddFolder("Broken");
    broken.AddPicture("lost.jpg", 900).AddPicture("short.jpg", 5000);
    broken.AddPicture("clip.avi", 300).AddPicture("CLIP.AVI", 300).AddPicture("a.mpg.jpg", 300);
    broken.AddPicture("still.jpg", 800);
    member.AddFolder("After").AddPictures(2, 700);
    member.AddFolder("Empty");
    model.SetFault(gone.ListingPath(), fixture::Fault::RejectAlways());
    model.SetFault(cut.ListingPath(), fixture::Fault::Truncate());
    model.SetFault(cutThumbs.ThumbPath(), fixture::Fault::Truncate());
    model.SetFault(broken.PicturePath("lost.jpg"), fixture::Fault::NotFound());
    model.SetFault(broken.PicturePath("short.jpg"), fixture::Fault::ShortBody());
    Serve(model);

    ASSERT_TRUE(GetByUser("faults"));
    const fixture::Mirror expected = fixture::ExpectedMirror(model, member);
    EXPECT_EQ(OnDisk(), expected);
    EXPECT_EQ(Strays(expected), std::vector<std::string>{});
    EXPECT_EQ(CountUnder(expected, "gallery/faults/After/"), 2u) << "siblings after a lost folder";
    EXPECT_TRUE(expected.count("gallery/faults/Broken/CLIP.AVI")) << "the guard is case-sensitive";
    EXPECT_FALSE(expected.count("gallery/faults/Broken/clip.avi"));
    EXPECT_EQ(QDir(dir_.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList{"backup"});
    EXPECT_TRUE(QFileInfo(QString::fromStdString(destination + "gallery/faults/Empty")).isDir())
        << "a folder without pictures is mirrored too";

    EXPECT_EQ(LogCount(kRetry), 5u);
    EXPECT_EQ(LogCount(kGaveUp), 1u);
    EXPECT_EQ(LogCount("** Skipping file ../evil.jpg"), 1u);
    EXPECT_EQ(LogCount("** Skipping file /etc/x.jpg"), 1u);
    EXPECT_EQ(LogCount("** Skipping file a\\b.jpg"), 1u);
    EXPECT_EQ(LogCount("** Deleting file lost.jpg"), 1u);
    EXPECT_EQ(LogCount("** Deleting file short.jpg"), 1u);
    const auto clip = std::find(log.begin(), log.end(), "** Skipping file clip.avi");
    ASSERT_NE(clip, log.end());
    EXPECT_EQ(*(clip - 1), "** Multimedia files have been temporarily disabled.");
    EXPECT_EQ(LogCount("** Skipping file a.mpg.jpg"), 1u);
    EXPECT_TRUE(Engine().MultimediaDisabled);
}

TEST_F(EngineTest, MissingFolderMissingMemberAndARefusedFirstPage) {
    fixture::GalleryModel model;
    fixture::Folder& refused = model.AddMember("someone").AddFolder("Refused").AddPictures(1, 10);
    model.SetFault(refused.ListingPath(), fixture::Fault::RejectAlways());
    Serve(model);

    EXPECT_TRUE(GetById("424242"));
    // Once for each "Client Error" line above the first gallery line (the title and the heading).
    EXPECT_EQ(LogCount("** ERROR - i can't find this folder ID.  Please check the folder ID."), 2u);
    EXPECT_TRUE(GetByUser("nobody"));
    EXPECT_EQ(LogCount("** ERROR - i can't find this user directory.  Please check the USER ID."),
              1u);

    log.clear();
    EXPECT_FALSE(GetById(refused.Id()));
    std::vector<std::string> expectedLog(5, kRetry);
    expectedLog.push_back(kGaveUp);
    EXPECT_EQ(log, expectedLog);
    EXPECT_NE(statuses.back(), ". . . done getting files");
    EXPECT_EQ(TransientFilesBelow(dir_.path().toStdString()), std::vector<std::string>{});
}
