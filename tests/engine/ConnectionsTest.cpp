#include "engine/DownloadScheduler.h"
#include "tests/engine/EngineFixture.h"
#include "tests/support/GalleryScenarios.h"

#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

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

namespace {

using fixture::Fault;
using fixture::Folder;
using fixture::GallerySite;
using fixture::Member;

// Makes a file look written by a run that ended long ago.
void Age(const std::string& path) {
    const timespec old[2] = {{std::time(nullptr) - 600, 0}, {std::time(nullptr) - 600, 0}};
    ::utimensat(AT_FDCWD, path.c_str(), old, 0);
}

} // namespace

// The faults of side-by-side downloads, each a row: what a member's site does, how the job ends
// and what it must have done. Each runs with one connection and with four; both keep the mirror
// of one connection byte for byte.
TEST_F(EngineTest, SeveralConnectionsLoseNothing) {
    struct Row {
        const char* name;
        std::function<void(fixture::GalleryModel&, Member&)> build;
        std::function<void(GallerySite&)> serve = {};
        bool completes = true;
        // Checked after the job, with the leftovers it must keep added to the mirror.
        std::function<void(fixture::Mirror&)> check = {};
    };
    std::string kept, held; // leftovers of the last row, by path
    const std::string pageFolders = dir_.path().toStdString() + "/pages/";
    std::vector<Row> rows = {
        {"a name listed again while its first copy fails",
         [](fixture::GalleryModel& model, Member& m) {
             Folder& f = m.AddFolder("Dup").AddPicture("d.jpg", 4000).AddPicture("d.jpg", 4000);
             f.AddPicture("e.jpg", 300);
             model.SetFault(f.PicturePath("d.jpg"), Fault::Close(Fault::Kind::CloseInHeader, 1));
         }},
        {"one folder spelled three ways",
         [](fixture::GalleryModel& model, Member& m) {
             Folder& plain = m.AddFolder("Plain").AddPictures(2, 3000);
             m.AddFolder("/Plain").AddPictures(2, 3000); // "/gallery/u//Plain/"
             m.AddFolder("./Plain").AddPictures(2, 3000);
             for (const auto& picture : plain.Pictures())
                 model.SetFault(plain.PicturePath(picture.name), Fault::Slow(600));
         },
         {},
         true,
         [this](fixture::Mirror&) {
             EXPECT_EQ(site->Hits("/gallery/u//Plain/pic001.jpg"), 0u);
             EXPECT_EQ(site->Hits("/gallery/u/./Plain/pic001.jpg"), 0u);
         }},
        {"a site that allows four connections",
         [](fixture::GalleryModel& model, Member& m) {
             Folder& busy = m.AddFolder("Busy").AddPictures(4, 3000);
             for (const auto& picture : busy.Pictures())
                 model.SetFault(busy.PicturePath(picture.name), Fault::Slow(800));
             m.AddFolder("Next").AddPictures(2, 300);
         },
         [](GallerySite& site) { site.SetConnectionLimit(4); }},
        {"a site that serves one connection at a time",
         [](fixture::GalleryModel& model, Member& m) {
             Folder& queue = m.AddFolder("Queue").AddPictures(4, 3000).AddPicture("m.avi", 300);
             for (const auto& picture : queue.Pictures())
                 model.SetFault(queue.PicturePath(picture.name), Fault::Slow(1200));
         },
         [](GallerySite& site) { site.SetOneAtATime(true); }},
        {"a site that stops taking connections",
         [](fixture::GalleryModel& model, Member& m) {
             Folder& going = m.AddFolder("Going").AddPictures(2, 3000);
             for (const auto& picture : going.Pictures())
                 model.SetFault(going.PicturePath(picture.name), Fault::Slow(1500));
             Folder& gone = m.AddFolder("Gone").AddPictures(2, 300);
             model.SetFault(gone.ListingPath(), Fault::Of(Fault::Kind::StopListening));
         },
         {},
         false},
        {"a redirect that sets a cookie",
         [](fixture::GalleryModel& model, Member& m) {
             Folder& c = m.AddFolder("Cookie").AddPictures(3, 300);
             model.SetFault(c.PicturePath("pic001.jpg"), Fault::Of(Fault::Kind::CookieRedirect));
             Folder& later = m.AddFolder("Later").AddPictures(2, 300);
             model.SetFault(later.ListingPath(), Fault::Slow(300));
         },
         {},
         true,
         [this](fixture::Mirror&) {
             for (const fixture::Request& request : site->Requests()) {
                 if (request.path.starts_with("/gallery/u/Later/pic")) {
                     EXPECT_EQ(request.cookie, "seen=1") << request.path;
                 }
             }
         }},
        {"leftovers of a killed run",
         [&](fixture::GalleryModel&, Member& m) {
             m.AddFolder("Killed").AddPictures(2, 300).AddPicture(".vantrel-abcd1234.part", 300);
             const std::string dir = destination + "gallery/u/Killed/";
             std::filesystem::create_directories(dir);
             for (const char* name :
                  {".vantrel-stale000.part", ".vantrel-held0000.part", ".vantrel-fresh000.part"})
                 std::ofstream(dir + name) << "part";
             Age(dir + ".vantrel-stale000.part");
             Age(dir + ".vantrel-held0000.part");
             std::filesystem::create_directories(pageFolders + "vantrel-pages-stale0/x");
             Age(pageFolders + "vantrel-pages-stale0");
             kept = "gallery/u/Killed/.vantrel-fresh000.part";
             held = "gallery/u/Killed/.vantrel-held0000.part";
         },
         {},
         true,
         [&](fixture::Mirror& expected) {
             expected[kept] = expected[held] = fixture::ContentHash("part");
             EXPECT_FALSE(std::filesystem::exists(pageFolders + "vantrel-pages-stale0"));
             EXPECT_EQ(LogCount("** Skipping file .vantrel-abcd1234.part"), 1u);
         }},
    };
    std::filesystem::create_directories(pageFolders);
    qputenv("TMPDIR", QByteArray::fromStdString(pageFolders));
    Engine().StallLimit = 1;
    for (const Row& row : rows) {
        for (const int connections : {1, 4}) {
            SCOPED_TRACE(std::string(row.name) + ", connections " + std::to_string(connections));
            fixture::GalleryModel model;
            Member& member = model.AddMember("u");
            destination = dir_.path().toStdString() + "/" + std::to_string(&row - &rows[0]) + "-" +
                          std::to_string(connections) + "/";
            host.destination = destination;
            row.build(model, member);
            // Held by another process, as far as the sweep can tell: its own lock.
            int heldFd = held.empty() ? -1 : ::open((destination + held).c_str(), O_RDONLY);
            if (heldFd >= 0)
                ::flock(heldFd, LOCK_EX);
            Serve(model);
            if (row.serve)
                row.serve(*site);
            log.clear();
            Engine().MultimediaDisabled = false;
            Engine().NMHTTP1.HeaderInfo.Cookie.clear();
            Engine().Connections = connections;

            bool completed = false;
            try {
                completed = GetByUser("u");
            } catch (const ESockError& error) {
                EXPECT_EQ(error.Message(), "Connection Failed");
            }
            EXPECT_EQ(completed, row.completes);
            fixture::Mirror expected = fixture::ExpectedMirror(model, member);
            if (row.check)
                row.check(expected);
            EXPECT_EQ(OnDisk(), expected);
            if (heldFd >= 0)
                ::close(heldFd);
            kept.clear();
            held.clear();
            site.reset();
        }
    }
    qunsetenv("TMPDIR");
}
