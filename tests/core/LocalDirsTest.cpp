#include "engine/LocalDirs.h"

#include <QDirIterator>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <vector>

namespace {

class LocalDirsTest : public ::testing::Test {
protected:
    QTemporaryDir temp;
    std::string root = temp.path().toStdString();

    // Every directory and file below the root, relative and sorted.
    std::vector<std::string> Entries() const {
        std::vector<std::string> entries;
        QDirIterator it(temp.path(), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                        QDirIterator::Subdirectories);
        while (it.hasNext())
            entries.push_back(it.next().mid(temp.path().size() + 1).toStdString());
        std::sort(entries.begin(), entries.end());
        return entries;
    }
};

using Names = std::vector<std::string>;

} // namespace

TEST_F(LocalDirsTest, CreatesEachLevelWithOrWithoutTrailingSeparator) {
    ASSERT_TRUE(temp.isValid());
    MakeLocalDirs(root, "\\x\\y");
    EXPECT_EQ(Entries(), (Names{"x", "x/y"}));
    MakeLocalDirs(root + "/", "\\gallery\\user\\folder");
    MakeLocalDirs(root + "\\", "\\other");
    EXPECT_EQ(Entries(),
              (Names{"gallery", "gallery/user", "gallery/user/folder", "other", "x", "x/y"}));
}

TEST_F(LocalDirsTest, RepeatingCreatesNothingNew) {
    MakeLocalDirs(root, "\\x\\y");
    const Names before = Entries();
    MakeLocalDirs(root, "\\x\\y");
    MakeLocalDirs(root, "\\x");
    EXPECT_EQ(Entries(), before);
}

TEST_F(LocalDirsTest, CreatesAMissingDestinationFirst) {
    MakeLocalDirs(root + "/dest", "");
    EXPECT_EQ(Entries(), (Names{"dest"}));
    MakeLocalDirs(root + "/new", "\\a");
    EXPECT_EQ(Entries(), (Names{"dest", "new", "new/a"}));
}

TEST_F(LocalDirsTest, PathsEndingInABackslashOrWithoutALeadingOne) {
    MakeLocalDirs(root, "\\scans\\6000\\");
    MakeLocalDirs(root, "plain\\sub");
    EXPECT_EQ(Entries(), (Names{"plain", "plain/sub", "scans", "scans/6000"}));
}

TEST_F(LocalDirsTest, GoesOnPastALevelItCannotCreate) {
    std::ofstream(root + "/file") << "not a directory";
    MakeLocalDirs(root, "\\file\\below");
    MakeLocalDirs(root + "/missing/parent", "\\x");
    EXPECT_EQ(Entries(), (Names{"file"}));
}
