#include "EngineFixture.h"

#include <QElapsedTimer>
#include <chrono>
#include <filesystem>
#include <fstream>

namespace {

const std::string kRetry = "**Got a server error, trying to download again";
const std::string kGaveUp = "**Tried 5 times and got errors every time, skipping this folder";

using fixture::Fault;
using fixture::Folder;

// One top folder of the member, with the quirk it plays, and what its part of the log holds.
struct Row {
    const char* name;
    std::function<Folder&(fixture::Member&, fixture::GalleryModel&)> build;
    size_t retries = 0, gaveUp = 0;
    std::vector<std::string> logged = {};
    double seconds = 1.5; // the bound of its part of the job
};

} // namespace

// A member whose folders each play one trick of a sloppy or hostile site. Each costs at most its
// own folder: the rest of the backup is made, nothing but pictures lands in the destination and
// no folder waits for the watchdog when the server has plainly failed.
TEST_F(EngineTest, HostileSiteCostsOnlyWhatItBreaks) {
    fixture::GalleryModel model;
    fixture::Member& member = model.AddMember("hostile");
    Folder& hidden = model.AddMember("elsewhere").AddFolder("Hidden").AddPictures(2, 300);
    const std::string mine = "the user's own notes";
    const std::vector<Row> rows = {
        {"a skipped cycle line and a refused ID, then Next",
         [](auto& m, auto&) -> Folder& {
             Folder& f = m.AddFolder("Refused").AddPictures(1, 300).SetFoldersPerPage(2);
             f.LinkTo(f).AddFolder("Nowhere", "../34");
             f.AddFolder("Later").AddPictures(2, 300);
             return f;
         },
         0,
         0,
         {"** Skipping file \\gallery\\hostile\\Refused\\Nowhere\\../34.html"}},
        {"pictures named like page files, beside a file of the user's",
         [](auto& m, auto&) -> Folder& {
             Folder& f = m.AddFolder("Scratch").SetPicturesPerPage(1);
             return f.AddPicture("temp1.htm", 300)
                 .AddPicture("temp2.htm", 300)
                 .AddPicture("a.jpg", 300);
         }},
        {"names that need encoding",
         [](auto& m, auto&) -> Folder& {
             Folder& f = m.AddFolder("Names").AddPicture("b c&d#e.jpg", 300);
             f.AddPicture("x?y.jpg", 300).AddPicture("caf\xC3\xA9\t1.jpg", 300);
             return f.AddPicture("100%.jpg", 300);
         }},
        {"replies cut off before their header ends",
         [](auto& m, auto& model) -> Folder& {
             Folder& f = m.AddFolder("Cut").AddPictures(4, 300);
             model.SetFault(f.PicturePath("pic001.jpg"), Fault::Close(Fault::Kind::CloseAtOnce));
             model.SetFault(f.PicturePath("pic002.jpg"),
                            Fault::Close(Fault::Kind::CloseAfterNonsense));
             model.SetFault(f.PicturePath("pic003.jpg"), Fault::Close(Fault::Kind::CloseInHeader));
             return f;
         },
         0,
         0,
         {"** Deleting file pic001.jpg", "** Deleting file pic002.jpg",
          "** Deleting file pic003.jpg"}},
        {"a listing page that stalls once, one never complete, and a sibling after them",
         [](auto& m, auto& model) -> Folder& {
             Folder& f = m.AddFolder("Stalls");
             model.SetFault(f.AddFolder("Once").AddPictures(2, 300).ListingPath(), Fault::Stall(1));
             model.SetFault(f.AddFolder("Never").AddPictures(2, 300).ListingPath(),
                            Fault::Close(Fault::Kind::CloseAtOnce));
             f.AddFolder("After").AddPictures(2, 300);
             return f;
         },
         6,
         1,
         {},
         4.0},
        {"a first page that never comes",
         [](auto& m, auto& model) -> Folder& {
             Folder& f = m.AddFolder("First").AddPictures(1, 300);
             model.SetFault(f.ListingPath(), Fault::Close(Fault::Kind::CloseInHeader));
             return f;
         },
         5, 1},
        {"a listing whose Next leads back",
         [](auto& m, auto&) -> Folder& {
             Folder& f = m.AddFolder("ListLoop").AddPictures(1, 300).SetFoldersPerPage(1);
             f.AddFolder("L1").AddPictures(1, 300);
             f.AddFolder("L2").AddPictures(1, 300);
             return f.LoopListingTo(0);
         }},
        {"thumbnail pages whose Next leads back",
         [](auto& m, auto&) -> Folder& {
             return m.AddFolder("ThumbLoop")
                 .AddPictures(3, 300)
                 .SetPicturesPerPage(1)
                 .LoopThumbsTo(1);
         }},
        {"an Upload line",
         [&](auto& m, auto&) -> Folder& {
             return m.AddFolder("Linked").AddPictures(1, 300).UploadLinkTo(hidden);
         }},
        {"upper case HTML",
         [](auto& m, auto&) -> Folder& {
             Folder& f = m.AddFolder("Upper").AddPictures(2, 300).SetUpperCaseHtml();
             f.AddFolder("Inner").AddPictures(1, 300).SetUpperCaseHtml();
             return f;
         }},
        {"a picture line without a thumbnail path asks for the site's root",
         [](auto& m, auto& model) -> Folder& {
             model.SetFault("/", Fault::RejectAlways());
             return m.AddFolder("NoThumb").AddPictures(1, 300).SetPictureLineWithoutThumb();
         },
         5, 1},
    };
    std::vector<Folder*> folders;
    for (const Row& row : rows)
        folders.push_back(&row.build(member, model));
    Serve(model);
    Engine().StallLimit = 1;
    std::vector<std::chrono::steady_clock::time_point> logTimes;
    host.onLog = [&](const std::string& line) {
        log.push_back(line);
        logTimes.push_back(std::chrono::steady_clock::now());
    };
    const std::string scratchRoot = dir_.path().toStdString() + "/tmp";
    std::filesystem::create_directory(scratchRoot);
    qputenv("TMPDIR", QByteArray::fromStdString(scratchRoot));
    const std::string ownFile = "gallery/hostile/Scratch/temp.htm";
    std::filesystem::create_directories(destination + "gallery/hostile/Scratch");
    std::ofstream(destination + ownFile) << mine;

    ASSERT_TRUE(GetByUser("hostile"));
    const auto end = std::chrono::steady_clock::now();
    fixture::Mirror expected = fixture::ExpectedMirror(model, member);
    expected[ownFile] = fixture::ContentHash(mine);
    EXPECT_EQ(OnDisk(), expected);
    EXPECT_TRUE(std::filesystem::is_empty(scratchRoot)) << "the page files' folder is gone";
    const auto urlLine = [&](size_t i) {
        const std::string url = TBackupEngine::GalleryUrl(
            sites::kSiteAWord, TBackupEngine::GalleryQuery::Folder, folders[i]->Id());
        return size_t(std::find(log.begin(), log.end(), url) - log.begin());
    };
    for (size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(rows[i].name);
        const auto from = urlLine(i), to = i + 1 < rows.size() ? urlLine(i + 1) : log.size();
        ASSERT_LT(from, to);
        const std::vector<std::string> part(log.begin() + from, log.begin() + to);
        EXPECT_EQ(size_t(std::count(part.begin(), part.end(), kRetry)), rows[i].retries);
        EXPECT_EQ(size_t(std::count(part.begin(), part.end(), kGaveUp)), rows[i].gaveUp);
        for (const std::string& line : rows[i].logged)
            EXPECT_EQ(std::count(part.begin(), part.end(), line), 1) << line;
        const std::chrono::duration<double> took =
            (to < log.size() ? logTimes[to] : end) - logTimes[from];
        EXPECT_LT(took.count(), rows[i].seconds);
    }

    // The first page gets its five attempts too, and then the job stops early.
    log.clear();
    EXPECT_FALSE(GetById(folders[5]->Id()));
    std::vector<std::string> firstPageLog(5, kRetry);
    firstPageLog.push_back(kGaveUp);
    EXPECT_EQ(log, firstPageLog);
    EXPECT_TRUE(std::filesystem::is_empty(scratchRoot));
    qunsetenv("TMPDIR");
}
