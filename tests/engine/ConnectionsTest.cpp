#include "engine/DownloadScheduler.h"
#include "tests/engine/EngineFixture.h"
#include "tests/support/GalleryScenarios.h"

#include <set>

// Four connections change when pictures come, never what is kept: over a member full of the
// faults the hardened engine survives (a lost folder, cut pages, pictures lost, short, stalled or
// closed before their header ends, movies after them, hostile names, names that need encoding or
// look like page files, thumbnail pages that loop) the mirror and the log lines, counted as a
// multiset, are those of one connection.
TEST_F(EngineTest, FourConnectionsKeepTheMirrorAndTheLogLinesOfOne) {
    fixture::GalleryModel model;
    fixture::Member& member = model.AddMember("faults");
    member.AddFolder("Before").AddPictures(12, 700);
    fixture::Folder& gone = member.AddFolder("Gone").AddPictures(2, 700);
    fixture::Folder& cut = member.AddFolder("Cut").AddPictures(3, 700);
    cut.AddFolder("Inside").AddPictures(5, 700);
    fixture::Folder& cutThumbs = member.AddFolder("CutThumbs").AddPictures(4, 700);
    fixture::AddHostilePictures(member.AddFolder("Evil"));
    fixture::Folder& broken = member.AddFolder("Broken").AddPictures(6, 900);
    broken.AddPicture("lost.jpg", 900).AddPicture("short.jpg", 5000).AddPicture("slow.jpg", 900);
    broken.AddPicture("clip.avi", 300).AddPicture("CLIP.AVI", 300).AddPicture("still.jpg", 800);
    fixture::Folder& closed = member.AddFolder("Closed").AddPictures(5, 300);
    member.AddFolder("Names").AddPicture("b c&d#e.jpg", 300).AddPicture("100%.jpg", 300);
    member.AddFolder("Scratch")
        .SetPicturesPerPage(1)
        .AddPicture("temp1.htm", 300)
        .AddPicture("temp.htm", 300);
    member.AddFolder("ThumbLoop").AddPictures(3, 300).SetPicturesPerPage(1).quirks.thumbLoop = 1;
    member.AddFolder("Upper").AddPictures(2, 300).quirks.upperCase = true;
    member.AddFolder("After").AddPictures(9, 3000);
    model.SetFault(gone.ListingPath(), fixture::Fault::RejectAlways());
    model.SetFault(cut.ListingPath(), fixture::Fault::Truncate());
    model.SetFault(cutThumbs.ThumbPath(), fixture::Fault::Truncate());
    model.SetFault(broken.PicturePath("lost.jpg"), fixture::Fault::NotFound());
    model.SetFault(broken.PicturePath("short.jpg"), fixture::Fault::ShortBody());
    model.SetFault(broken.PicturePath("slow.jpg"), fixture::Fault::Stall());
    using Kind = fixture::Fault::Kind;
    model.SetFault(closed.PicturePath("pic001.jpg"), fixture::Fault::Close(Kind::CloseAtOnce));
    model.SetFault(closed.PicturePath("pic002.jpg"),
                   fixture::Fault::Close(Kind::CloseAfterNonsense));
    model.SetFault(closed.PicturePath("pic003.jpg"), fixture::Fault::Close(Kind::CloseInHeader));
    Serve(model);
    // The stalled picture is given up after two silent ticks, not thirty.
    Engine().StallLimit = 1;

    // One connection, four, and four with a pause between downloads, which makes them one.
    struct Run {
        int connections;
        bool pause;
        std::vector<std::string> log = {};
        fixture::Mirror mirror = {};
        size_t mostInFlight = 0;
    };
    std::vector<Run> runs = {{1, false}, {4, false}, {4, true}};
    Run* running = nullptr;
    host.onStatus = [&](const std::string&) {
        uint64_t bytes = 0, announced = 0;
        running->mostInFlight =
            std::max(running->mostInFlight, Engine().DownloadsInFlight(bytes, announced));
    };
    for (Run& run : runs) {
        running = &run;
        site->ClearLog();
        log.clear();
        Engine().MultimediaDisabled = false;
        Engine().Connections = run.connections;
        host.pauseEnabled = run.pause;
        destination = dir_.path().toStdString() + "/run" + std::to_string(&run - &runs[0]) + "/";
        ASSERT_TRUE(QDir().mkpath(QString::fromStdString(destination)));
        host.destination = destination;

        ASSERT_TRUE(GetByUser("faults"));
        run.log = log;
        run.mirror = OnDisk();
        EXPECT_EQ(Strays(run.mirror), std::vector<std::string>{});
    }
    const auto multiset = [](const Run& run) {
        return std::multiset<std::string>(run.log.begin(), run.log.end());
    };
    EXPECT_EQ(runs[0].mirror, fixture::ExpectedMirror(model, member));
    EXPECT_EQ(runs[1].mirror, runs[0].mirror);
    EXPECT_EQ(multiset(runs[1]), multiset(runs[0]));
    EXPECT_EQ(runs[2].log, runs[0].log) << "with the pause, one at a time and in order";
    EXPECT_EQ(runs[2].mirror, runs[0].mirror);
    EXPECT_EQ(multiset(runs[0]).count("** Deleting file slow.jpg"), 1u);
    EXPECT_EQ(multiset(runs[0]).count("** Deleting file pic003.jpg"), 1u);
    EXPECT_EQ(multiset(runs[0]).count("** Skipping file clip.avi"), 1u)
        << "the movie saw the failures";
    EXPECT_EQ(runs[0].mostInFlight, 0u);
    EXPECT_EQ(runs[1].mostInFlight, 4u);
    EXPECT_EQ(runs[2].mostInFlight, 0u);
}
