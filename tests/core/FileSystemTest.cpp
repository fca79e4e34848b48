#include "platform/FileSystem.h"
#include "platform/PartFile.h"
#include "record/Sha256.h"

#include "platform/Exceptions.h"

#include <QTemporaryDir>
#include <fstream>
#include <gtest/gtest.h>

TEST(NativePath, TurnsBackslashesIntoSlashesAndFoldsRuns) {
    EXPECT_EQ(platform::NativePath("D\\\\gallery\\user\\"), "D/gallery/user/");
    EXPECT_EQ(platform::NativePath("/tmp/dest/\\x\\\\y"), "/tmp/dest/x/y");
    EXPECT_EQ(platform::NativePath(""), "");
}

TEST(NativePath, FoldsLeadingAndMixedRuns) {
    EXPECT_EQ(platform::NativePath("\\\\x"), "/x");
    EXPECT_EQ(platform::NativePath("\\/\\"), "/");
    EXPECT_EQ(platform::NativePath("a\\b.jpg"), "a/b.jpg");
}

TEST(TFileStream, ReportsTheNameAsGivenWhenItCannotCreateOrOpen) {
    QTemporaryDir temp;
    const std::string missing = temp.path().toStdString() + "\\no such dir\\a.html";
    try {
        TFileStream stream(missing, TFileStream::Mode::Create);
        FAIL() << "created a file in a missing directory";
    } catch (const EFCreateError& error) {
        EXPECT_STREQ(error.what(), ("Cannot create file " + missing).c_str());
    }
    try {
        TFileStream stream(missing, TFileStream::Mode::OpenRead);
        FAIL() << "opened a missing file";
    } catch (const EFOpenError& error) {
        EXPECT_STREQ(error.what(), ("Cannot open file " + missing).c_str());
    }
}

TEST(TFileStream, CreateTruncatesAndReadsBack) {
    QTemporaryDir temp;
    const std::string name = temp.path().toStdString() + "\\page.html";
    {
        TFileStream stream(name, TFileStream::Mode::Create);
        stream.Write("a long first content", 20);
    }
    {
        TFileStream stream(name, TFileStream::Mode::Create);
        stream.Write("new", 3);
    }
    TFileStream stream(name, TFileStream::Mode::OpenRead);
    EXPECT_EQ(stream.Size(), 3u);
    char data[16] = {};
    EXPECT_EQ(stream.ReadAt(data, sizeof data, 1), 2u);
    EXPECT_EQ(std::string(data, 2), "ew");
    EXPECT_EQ(stream.Read(data, sizeof data), 3u);
    EXPECT_EQ(std::string(data, 3), "new");
    EXPECT_EQ(stream.Read(data, sizeof data), 0u);
    EXPECT_TRUE(platform::FileExists(name));
    EXPECT_FALSE(platform::DirectoryExists(name));
}

// Every name and path a server hands us passes this guard before it touches the disk: anything
// that could climb out of the destination, or that the file system would refuse, is turned away.
TEST(ServerNameGuard, RefusesWhatWouldLandOutsideTheDestination) {
    const std::string longName(256, 'a');
    struct Case {
        std::string text;
        bool safeName, safePath;
    };
    const Case cases[] = {
        {"a.jpg", true, true},
        {"..a.jpg", true, true},
        {std::string(255, 'b'), true, true},
        {"", false, true},
        {".", false, true},
        {"..", false, false},
        {"../evil.jpg", false, false},
        {"/etc/passwd", false, true}, // joined below the destination: harmless as a path
        {"a\\b.jpg", false, true},
        {"\\gallery\\..\\..\\x", false, false},
        {"/gallery/user/..", false, false},
        {std::string("a\0b.jpg", 7), false, false},
        {longName, false, false},
        {"\\gallery\\" + longName + "\\", false, false},
        {std::string(4000, '/'), false, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(platform::IsSafeFileName(c.text), c.safeName) << c.text;
        EXPECT_EQ(platform::IsSafeRelativePath(c.text), c.safePath) << c.text;
    }
    // The program's own folder at the destination's root is never a server's to write into.
    const std::pair<std::string, bool> own[] = {
        {"\\.vantrel\\", true},           {"/./.VanTrel/x/", true}, {".vantrel", true},
        {"\\gallery\\.vantrel\\", false}, {"\\.vantrel2\\", false}, {"", false},
    };
    for (const auto& [path, refused] : own)
        EXPECT_EQ(platform::IsOwnFolderPath(path), refused) << path;
}

TEST(TempFiles, AreNewHiddenAndNeverAFinishedName) {
    QTemporaryDir temp;
    const std::string dir = temp.path().toStdString() + "\\";
    const std::string first = platform::CreateTempFileIn(dir);
    const std::string second = platform::CreateTempFileIn(dir);
    EXPECT_NE(first, second);
    for (const std::string& path : {first, second}) {
        const std::string name = path.substr(dir.size());
        EXPECT_EQ(name.rfind(".vantrel-", 0), 0u) << name;
        EXPECT_EQ(name.substr(name.size() - 5), ".part") << name;
        EXPECT_EQ(platform::FileSize(path), 0);
    }
    EXPECT_THROW(platform::CreateTempFileIn(dir + "missing\\"), EFCreateError);
}

// A commit gives a whole file its name but never takes the name of a file already there.
TEST(TempFiles, ACommitNeverReplacesAFile) {
    QTemporaryDir temp;
    const std::string dir = temp.path().toStdString() + "/";
    std::ofstream(dir + "taken.jpg") << "first";
    for (const char* target : {"taken.jpg", "free.jpg"}) {
        platform::TPartFile part(dir);
        part.Stream().Write("second", 6);
        const bool free = std::string(target) == "free.jpg";
        EXPECT_EQ(part.Commit(dir + target),
                  free ? platform::TCommit::Committed : platform::TCommit::TargetExists);
        EXPECT_FALSE(platform::FileExists(part.Path()));
        EXPECT_EQ(platform::FileSize(dir + target), free ? 6 : 5);
    }
}

// The hash of a file is made from its writes as they happen; emptying the file starts it again.
TEST(TempFiles, AHashSeesEveryWriteOfThePartialFile) {
    QTemporaryDir temp;
    TSha256 hash;
    platform::TPartFile part(temp.path().toStdString() + "/");
    part.Stream().SetObserver(&hash);
    part.Stream().Write("redirect page", 13);
    part.Stream().Truncate();
    part.Stream().Write("a", 1);
    part.Stream().Write("bc", 2);
    EXPECT_EQ(hash.Hex(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(hash.Hex(), TSha256::Of("abc"));
}
