#include "EngineFixture.h"

#include <chrono>
#include <filesystem>
#include <fstream>

using fixture::Fault;
using fixture::Folder;
using Clock = std::chrono::steady_clock;

namespace {
const std::string kRetry = "**Got a server error, trying to download again";
const std::string kGaveUp = "**Tried 5 times and got errors every time, skipping this folder";
} // namespace

// A member whose top folders each play one trick of a sloppy or hostile site. Each trick costs
// at most its own folder, the destination gets nothing but pictures, and no folder waits for the
// watchdog once the server has plainly failed. Each row: the folder, the retry and give-up lines
// of its part of the log, and the part's time bound.
TEST_F(EngineTest, HostileSiteCostsOnlyWhatItBreaks) {
    fixture::GalleryModel model;
    fixture::Member& m = model.AddMember("hostile");
    const auto close = [&](const std::string& path, Fault::Kind kind) {
        model.SetFault(path, Fault::Close(kind));
    };
    Folder& refused = m.AddFolder("Refused").AddPictures(1, 300).SetFoldersPerPage(2);
    refused.LinkTo(refused).AddFolder("Nowhere", "../34");
    refused.AddFolder("Later").AddPictures(2, 300);
    Folder& scratch = m.AddFolder("Scratch").AddPicture("temp1.htm", 300).SetPicturesPerPage(1);
    scratch.AddPicture("temp2.htm", 300).AddPicture("a.jpg", 300);
    Folder& names = m.AddFolder("Names").AddPicture("b c&d#e.jpg", 300).AddPicture("x?y.jpg", 300);
    names.AddPicture("caf\xC3\xA9\t1.jpg", 300).AddPicture("100%.jpg", 300);
    Folder& cut = m.AddFolder("Cut").AddPictures(4, 300);
    close(cut.PicturePath("pic001.jpg"), Fault::Kind::CloseAtOnce);
    close(cut.PicturePath("pic002.jpg"), Fault::Kind::CloseAfterNonsense);
    close(cut.PicturePath("pic003.jpg"), Fault::Kind::CloseInHeader);
    Folder& stalls = m.AddFolder("Stalls");
    model.SetFault(stalls.AddFolder("Once").AddPictures(2, 300).ListingPath(), Fault::Stall(1));
    Folder& never = stalls.AddFolder("Never").AddPictures(2, 300);
    close(never.ListingPath(), Fault::Kind::CloseAtOnce);
    stalls.AddFolder("After").AddPictures(2, 300);
    Folder& first = m.AddFolder("First").AddPictures(1, 300);
    close(first.ListingPath(), Fault::Kind::CloseInHeader);
    Folder& listLoop = m.AddFolder("ListLoop").AddPictures(1, 300).SetFoldersPerPage(1);
    listLoop.AddFolder("L1").AddPictures(1, 300);
    listLoop.AddFolder("L2").AddPictures(1, 300);
    listLoop.quirks.listingLoop = 0;
    Folder& thumbLoop = m.AddFolder("ThumbLoop").AddPictures(3, 300).SetPicturesPerPage(1);
    thumbLoop.quirks.thumbLoop = 1;
    Folder& upload = m.AddFolder("Linked").AddPictures(1, 300);
    upload.quirks.upload = &model.AddMember("other").AddFolder("Hidden").AddPictures(2, 300);
    Folder& upper = m.AddFolder("Upper").AddPictures(2, 300);
    upper.AddFolder("Inner").AddPictures(1, 300).quirks.upperCase = true;
    upper.quirks.upperCase = true;
    Folder& noThumb = m.AddFolder("NoThumb").AddPictures(1, 300);
    noThumb.quirks.noThumbDir = true;
    // Bodies cut by a reset (kept only when all the announced bytes came first) and status
    // lines without a reason phrase (read by their code, so a 404 is no picture).
    Folder& reset = m.AddFolder("Reset").AddPictures(5, 3000);
    close(reset.PicturePath("pic001.jpg"), Fault::Kind::ResetInBody);
    close(reset.PicturePath("pic002.jpg"), Fault::Kind::ResetWithoutLength);
    close(reset.PicturePath("pic003.jpg"), Fault::Kind::ResetAfterBody);
    model.SetFault(reset.PicturePath("pic004.jpg"), Fault::NoReason(404));
    model.SetFault(reset.PicturePath("pic005.jpg"), Fault::NoReason(200));
    Folder& resetPage = reset.AddFolder("Page").AddPictures(1, 300);
    model.SetFault(resetPage.ListingPath(), Fault::Close(Fault::Kind::ResetWithoutLength, 1));
    model.SetFault("/", Fault::RejectAlways()); // the site's root, which that line asks for

    struct Row {
        Folder* folder;
        long retries, gaveUp;
        double seconds = 1.5;
    };
    const std::vector<Row> rows = {
        {&refused, 0, 0},     {&scratch, 0, 0}, {&names, 0, 0},    {&cut, 0, 0},
        {&stalls, 6, 1, 4.0}, {&first, 5, 1},   {&listLoop, 0, 0}, {&thumbLoop, 0, 0},
        {&upload, 0, 0},      {&upper, 0, 0},   {&noThumb, 5, 1},  {&reset, 1, 0},
    };
    Serve(model);
    Engine().StallLimit = 1;
    std::vector<Clock::time_point> logTimes;
    host.onLog = [&](const std::string& line) {
        log.push_back(line);
        logTimes.push_back(Clock::now());
    };
    const std::string pages = dir_.path().toStdString() + "/pages";
    std::filesystem::create_directory(pages);
    qputenv("TMPDIR", QByteArray::fromStdString(pages));
    const std::string own = "gallery/hostile/Scratch/temp.htm";
    // One connection, and four, which change only when pictures come.
    for (const int connections : {1, 4}) {
        SCOPED_TRACE(connections);
        destination = dir_.path().toStdString() + "/run" + std::to_string(connections) + "/";
        host.destination = destination;
        std::filesystem::create_directories(destination + "gallery/hostile/Scratch");
        std::ofstream(destination + own) << "the user's own";
        site->ClearLog();
        log.clear();
        logTimes.clear();
        Engine().MultimediaDisabled = false;
        Engine().Connections = connections;

        long refusedEvents = 0;
        Engine().Events.FileDone = [&](const TFileEvent& file) {
            refusedEvents += file.outcome == TDownloadOutcome::Skipped;
        };
        ASSERT_TRUE(GetByUser("hostile"));
        Engine().Events.FileDone = nullptr;
        logTimes.push_back(Clock::now());
        // Each name or place the guard turns away is logged once and counted as refused once.
        EXPECT_EQ(refusedEvents, std::count_if(log.begin(), log.end(), [](const std::string& l) {
                      return l.starts_with("** Skipping file ");
                  }));
        EXPECT_GT(refusedEvents, 0);
        fixture::Mirror expected = fixture::ExpectedMirror(model, m);
        expected[own] = fixture::ContentHash("the user's own");
        EXPECT_EQ(OnDisk(), expected);
        EXPECT_TRUE(expected.count("gallery/hostile/Reset/pic003.jpg"));
        EXPECT_TRUE(expected.count("gallery/hostile/Reset/pic005.jpg"));
        EXPECT_TRUE(std::filesystem::is_empty(pages)) << "the page files' folder is gone";
        const auto start = [&](size_t row) {
            if (row == rows.size())
                return log.size();
            const std::string url = TBackupEngine::GalleryUrl(
                sites::kSiteAWord, TBackupEngine::GalleryQuery::Folder, rows[row].folder->Id());
            return size_t(std::find(log.begin(), log.end(), url) - log.begin());
        };
        for (size_t i = 0; i < rows.size(); ++i) {
            SCOPED_TRACE(rows[i].folder->Name());
            const size_t from = start(i), to = start(i + 1);
            ASSERT_LT(from, to);
            const auto part = [&](const std::string& line) {
                return std::count(log.begin() + long(from), log.begin() + long(to), line);
            };
            EXPECT_EQ(part(kRetry), rows[i].retries);
            EXPECT_EQ(part(kGaveUp), rows[i].gaveUp);
            EXPECT_LT(std::chrono::duration<double>(logTimes[to] - logTimes[from]).count(),
                      rows[i].seconds);
        }
    }

    // The first page gets its five attempts too, and then the job stops early.
    log.clear();
    EXPECT_FALSE(GetById(first.Id()));
    std::vector<std::string> firstPageLog(5, kRetry);
    firstPageLog.push_back(kGaveUp);
    EXPECT_EQ(log, firstPageLog);
    EXPECT_TRUE(std::filesystem::is_empty(pages));
    qunsetenv("TMPDIR");
}
