#include "platform/FileSystem.h"

#include "platform/Exceptions.h"

#include <QTemporaryDir>
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
