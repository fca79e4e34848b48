#include "engine/RunReport.h"
#include "record/BackupRecord.h"
#include "record/RecordKeeper.h"
#include "record/Sha256.h"

#include <QTemporaryDir>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace {

void Write(const std::string& path, const std::string& bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

} // namespace

// A record over a small tree: what it keeps, the checksum list sha256sum checks, and what verify
// finds once the tree is damaged, with the findings marked in the record.
TEST(BackupRecord, KeepsTheFilesListsTheirSumsAndVerifiesTheTree) {
    QTemporaryDir temp;
    const std::string dest = temp.path().toStdString() + "/";
    EXPECT_THROW(TBackupRecord::Open(dest, false), ERecordError) << "no record yet";
    const std::vector<std::pair<std::string, std::string>> files = {
        {"gallery/u/f/a.jpg", "aaa"},
        {"gallery/u/f/b c.jpg", "bb"},
        {"gallery/u/f/back\\slash.jpg", "c"},
        {"gallery/u/f/gone.jpg", "dddd"},
        {"scans/08000/8436/p1.jpg", "eeeee"}};
    {
        auto record = TBackupRecord::Open(dest, true);
        for (const auto& [path, bytes] : files) {
            Write(dest + path, bytes);
            record->Stored({path, "http://x/" + path, bytes.size(), TSha256::Of(bytes), "", "", 100,
                            100, TRecordState::Whole});
        }
        record->WriteChecksumList();
    }
    const std::string check = "cd '" + dest + "' && sha256sum --quiet -c .vantrel/SHA256SUMS";
    EXPECT_EQ(std::system(check.c_str()), 0);

    std::filesystem::remove(dest + "gallery/u/f/gone.jpg");
    Write(dest + "gallery/u/f/a.jpg", "aab");   // same size, another hash
    Write(dest + "gallery/u/f/b c.jpg", "bbb"); // another size
    Write(dest + "gallery/u/f/new.jpg", "new");
    Write(dest + "gallery/u/f/.vantrel-abcd1234.part", "part");
    std::filesystem::create_symlink(dest + "gallery/u/f/a.jpg", dest + "gallery/link.jpg");
    auto record = TBackupRecord::Open(dest, false);
    const TVerifyResult result = Verify(*record);

    std::vector<std::string> findings;
    for (const TVerifyFinding& finding : result.findings)
        findings.push_back(std::to_string(int(finding.kind)) + " " + finding.path);
    EXPECT_EQ(findings,
              (std::vector<std::string>{"1 gallery/u/f/a.jpg", "1 gallery/u/f/b c.jpg",
                                        "0 gallery/u/f/gone.jpg", "2 gallery/u/f/new.jpg"}));
    EXPECT_EQ(result.recorded, 5u);
    EXPECT_EQ(result.whole, 2u);
    EXPECT_EQ(result.unrecorded, 1u);
    EXPECT_EQ(result.updateError, "");
    EXPECT_EQ(record->Find("gallery/u/f/gone.jpg")->state, TRecordState::Missing);
    EXPECT_EQ(record->Find("gallery/u/f/a.jpg")->state, TRecordState::Damaged);
    EXPECT_EQ(record->Find("scans/08000/8436/p1.jpg")->state, TRecordState::Whole);
}

TEST(BackupRecord, ChecksumLinesEscapeAsSha256sumDoes) {
    const std::string hash(64, 'f');
    EXPECT_EQ(ChecksumLine(hash, "a/b.jpg"), hash + "  a/b.jpg\n");
    EXPECT_EQ(ChecksumLine(hash, "a\\b\nc\rd"), "\\" + hash + "  a\\\\b\\nc\\rd\n");
}

// A job's record: what it is told shows at once, and reaches the database from the writing
// thread with each stored file's hash made from the bytes it kept, large files included.
TEST(BackupRecord, AJobsKeeperWritesWhatItIsToldWithTheHashesOfTheWrites) {
    QTemporaryDir temp;
    const std::string dest = temp.path().toStdString() + "/";
    const std::string large((1 << 20) + 5, 'L');
    const std::vector<std::pair<std::string, std::string>> files = {
        {"a.jpg", "small"}, {"dir/large.bin", large}, {"empty.jpg", ""}};
    {
        auto keeper = TRecordKeeper::Open(dest);
        for (const auto& [path, bytes] : files) {
            Write(dest + path, bytes);
            auto hash = std::make_unique<TDeferredSha256>();
            hash->Written("a redirect's body", 17);
            hash->Restarted();
            for (size_t at = 0; at < bytes.size(); at += 4096)
                hash->Written(bytes.data() + at, std::min<size_t>(4096, bytes.size() - at));
            keeper->Stored(
                {path, "http://x/" + path, bytes.size(), "", "", "", 100, 100, TRecordState::Whole},
                std::move(hash));
        }
        keeper->Stored({"a.jpg", "http://y/a.jpg", 5, TSha256::Of("small"), "", "", 200, 200,
                        TRecordState::Whole});
        ASSERT_NE(keeper->Find("a.jpg"), nullptr);
        EXPECT_EQ(keeper->Find("a.jpg")->firstStored, 100) << "the first storing is kept";
        EXPECT_EQ(keeper->Find("b.jpg"), nullptr);
        keeper->Finish();
    }
    auto record = TBackupRecord::Open(dest, false);
    for (const auto& [path, bytes] : files) {
        const auto row = record->Find(path);
        ASSERT_TRUE(row) << path;
        EXPECT_EQ(row->sha256, TSha256::Of(bytes)) << path;
    }
    EXPECT_EQ(record->Find("a.jpg")->url, "http://y/a.jpg");
    EXPECT_EQ(record->Find("a.jpg")->firstStored, 100);
    EXPECT_EQ(
        std::system(("cd '" + dest + "' && sha256sum --quiet -c .vantrel/SHA256SUMS").c_str()), 0);
}

// A run's report: its lines sorted by path under a first line naming the job, the summary last;
// runs started in the same second get "-2", "-3" ...; the newest hundred are kept, and a file
// of another name in the folder is never deleted.
TEST(RunReport, NamesEachRunAndKeepsTheNewestHundred) {
    QTemporaryDir temp;
    const std::string dest = temp.path().toStdString() + "/";
    Write(dest + ".vantrel/reports/notes.txt", "mine");
    TRunReport report("Get by ID 7000", "vantrelpix");
    report.File("failed", "gallery/u/f/b.jpg");
    report.File("new", "gallery/u/f/a.jpg");
    TFileEvent fetched;
    fetched.outcome = TDownloadOutcome::Fetched;
    fetched.bytes = 5;
    report.Tally.Count(fetched);
    std::vector<std::string> paths;
    for (int i = 0; i < 102; ++i)
        paths.push_back(report.Write(dest));
    ASSERT_FALSE(paths[0].empty());
    EXPECT_EQ(paths[1], paths[0].substr(0, paths[0].size() - 4) + "-2.txt");
    std::ifstream in(paths[101]);
    ASSERT_TRUE(in) << paths[101];
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0].rfind("Get by ID 7000, vantrelpix, ", 0), 0u) << lines[0];
    EXPECT_EQ(lines[0].size(), std::string("Get by ID 7000, vantrelpix, ").size() + 42);
    EXPECT_EQ(lines[1], "new gallery/u/f/a.jpg");
    EXPECT_EQ(lines[2], "failed gallery/u/f/b.jpg");
    EXPECT_EQ(lines[3].rfind("Summary: 1 fetched, 0 skipped because present, 0 failed; 5 bytes "
                             "(5 B) in ",
                             0),
              0u)
        << lines[3];
    EXPECT_FALSE(std::filesystem::exists(paths[0]));
    EXPECT_FALSE(std::filesystem::exists(paths[1]));
    EXPECT_TRUE(std::filesystem::exists(paths[2]));
    EXPECT_TRUE(std::filesystem::exists(dest + ".vantrel/reports/notes.txt"));
}
