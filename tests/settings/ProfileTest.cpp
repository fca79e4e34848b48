// The INI file calls under the settings storage: what a read returns, what a write keeps, and
// how the file is replaced.
#include "platform/Exceptions.h"
#include "platform/Installation.h"
#include "platform/PrivateProfile.h"
#include "settings/IniFile.h"
#include "tests/support/OrdinaryUser.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using platform::GetPrivateProfileString;
using platform::WritePrivateProfileString;

namespace {

class ProfileTest : public ::testing::Test {
protected:
    std::string Path(const char* name) const { return dir.filePath(name).toStdString(); }

    static void Put(const std::string& path, const std::string& bytes) {
        QFile file(QString::fromStdString(path));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes.data(), static_cast<qint64>(bytes.size()));
    }
    static std::string Bytes(const std::string& path) {
        QFile file(QString::fromStdString(path));
        return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : "<none>";
    }
    static mode_t Mode(const std::string& path) {
        struct stat info {};
        return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
    }
    // Names in the directory, to see that no temporary file is left behind.
    QStringList Entries() const {
        return QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }
    std::string WriteError(const std::string& path, const std::string& value = "v") {
        try {
            WritePrivateProfileString("S", "K", value, path);
        } catch (const EIniFileException& error) {
            return error.what();
        }
        return "written";
    }

    QTemporaryDir dir;
};

} // namespace

TEST_F(ProfileTest, ReadFindsNamesWithoutCaseAndStripsBlanksAndOnePairOfQuotes) {
    const std::string file = Path("read.ini");
    Put(file, "[Main]\n"
              "; Plain=commented out\n"
              "Plain=value\n"
              "  Blanks  =   padded value   \n"
              "Double=\"quoted\"\n"
              "Single='single'\n"
              "Inner=\"a\" and \"b\"\n"
              "Twice=\"\"twice\"\"\n"
              "Mixed=\"mixed'\n"
              "Lone=\"\n"
              "Empty=\n"
              "Long=" +
                  std::string(3000, 'x') +
                  "\n"
                  "[main]\n"
                  "Plain=a later section of the same name\n"
                  "[Windows]\r\n"
                  "Plain=line ends in CR LF\r\n");
    const struct {
        const char* section;
        const char* key;
        std::string expected;
    } rows[] = {
        {"MAIN", "pLAIN", "value"},
        {"Main", "Blanks", "padded value"},
        {"Main", "Double", "quoted"},
        {"Main", "Single", "single"},
        {"Main", "Inner", "a\" and \"b"},
        {"Main", "Twice", "\"twice\""},
        {"Main", "Mixed", "\"mixed'"},
        {"Main", "Lone", "\""},
        {"Main", "Empty", ""},
        {"Main", "Long", std::string(2047, 'x')},
        {"Main", "Missing", "<default>"},
        {"Nowhere", "Plain", "<default>"},
        {"Windows", "Plain", "line ends in CR LF"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.section) + "." + row.key);
        EXPECT_EQ(GetPrivateProfileString(row.section, row.key, "<default>", file), row.expected);
    }
    EXPECT_EQ(GetPrivateProfileString("Main", "Plain", "<default>", Path("missing.ini")),
              "<default>");
}

// Every write keeps the bytes of every other line: comments, blank lines, other sections, their
// line breaks and their spelling.
TEST_F(ProfileTest, WriteChangesOnlyItsOwnLine) {
    const std::string file = Path("write.ini");
    const std::string start = "; kept\r\n"
                              "[TForm1]\r\n"
                              "Edit1_Text=old\r\n"
                              "  odd line without equals\r\n"
                              "\r\n"
                              "[TForm2]\r\n"
                              "Edit1_Text = proxy \r\n";
    Put(file, start);
    WritePrivateProfileString("tform1", "EDIT1_TEXT", "new", file);
    WritePrivateProfileString("TForm1", "Edit3_Text", "added", file);
    WritePrivateProfileString("TForm2", "Edit2_Text", "8080", file);
    WritePrivateProfileString("Third", "Key", "line\r\n[TForm2]\r\nEdit1_Text=injected", file);
    EXPECT_EQ(Bytes(file), "; kept\r\n"
                           "[TForm1]\r\n"
                           "EDIT1_TEXT=new\r\n"
                           "  odd line without equals\r\n"
                           "Edit3_Text=added\r\n"
                           "\r\n"
                           "[TForm2]\r\n"
                           "Edit1_Text = proxy \r\n"
                           "Edit2_Text=8080\r\n"
                           "[Third]\r\n"
                           "Key=line\r\n");
    EXPECT_EQ(GetPrivateProfileString("TForm2", "Edit1_Text", "", file), "proxy");

    // A file without a final line break gets one before the next line.
    const std::string unterminated = Path("unterminated.ini");
    Put(unterminated, "[S]\nA=1");
    WritePrivateProfileString("S", "B", "2", unterminated);
    WritePrivateProfileString("T", "C", "3", unterminated);
    EXPECT_EQ(Bytes(unterminated), "[S]\nA=1\nB=2\n[T]\nC=3\n");
}

TEST_F(ProfileTest, ANewFileIsPrivateAndAnExistingOneKeepsItsPermissions) {
    const mode_t oldMask = ::umask(0);
    const std::string created = Path("config/VantrelBackup/VantrelBackup.ini");
    WritePrivateProfileString("TForm1", "Edit6_Text", "secret", created);
    ::umask(oldMask);
    EXPECT_EQ(Bytes(created), "[TForm1]\nEdit6_Text=secret\n");
    EXPECT_EQ(Mode(created), 0600u);
    EXPECT_EQ(Mode(Path("config/VantrelBackup")), 0700u);

    const std::string shared = Path("shared.ini");
    Put(shared, "[S]\nK=1\n");
    ASSERT_EQ(::chmod(shared.c_str(), 0640), 0);
    // Root writing a user's file leaves it the user's.
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(shared.c_str(), 65534, 65534), 0);
    }
    WritePrivateProfileString("S", "K", "2", shared);
    EXPECT_EQ(Mode(shared), 0640u);
    struct stat owner {};
    ASSERT_EQ(::stat(shared.c_str(), &owner), 0);
    EXPECT_EQ(owner.st_uid, root ? 65534u : ::geteuid());

    // A link stays a link; the file it names gets the value.
    const std::string link = Path("link.ini");
    ASSERT_EQ(::symlink(shared.c_str(), link.c_str()), 0);
    WritePrivateProfileString("S", "K", "3", link);
    struct stat info {};
    ASSERT_EQ(::lstat(link.c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    EXPECT_EQ(Bytes(shared), "[S]\nK=3\n");
    EXPECT_EQ(Entries(), QStringList({"config", "link.ini", "shared.ini"}));
}

// A save that stops half way must leave the file as it was: the old file stays whole until the
// new one is complete, and a reader holding the old one never sees it change.
TEST_F(ProfileTest, AWriteReplacesTheFileWholeOrNotAtAll) {
    const std::string file = Path("VantrelBackup.ini");
    const std::string start = "[TForm1]\nEdit3_Text=77154\n[TForm2]\nEdit1_Text=proxy\n";
    Put(file, start);
    const int reader = ::open(file.c_str(), O_RDONLY);
    ASSERT_GE(reader, 0);
    WritePrivateProfileString("TForm1", "Edit3_Text", "1", file);
    char old[256] = {};
    EXPECT_EQ(::pread(reader, old, sizeof old, 0), static_cast<ssize_t>(start.size()));
    EXPECT_EQ(std::string(old), start);
    ::close(reader);

    // The disk fills up in the middle of the new file.
    const std::string before = Bytes(file);
    const auto previousSignal = std::signal(SIGXFSZ, SIG_IGN);
    rlimit previous{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &previous), 0);
    rlimit small = previous;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const std::string error = WriteError(file, std::string(100000, 'x'));
    ::setrlimit(RLIMIT_FSIZE, &previous);
    std::signal(SIGXFSZ, previousSignal);
    EXPECT_EQ(error, "Unable to write to " + file);
    EXPECT_EQ(Bytes(file), before);
    EXPECT_EQ(Entries(), QStringList({"VantrelBackup.ini"}));
}

TEST_F(ProfileTest, AFileOrDirectoryThatMayNotBeWrittenIsRefused) {
    const std::string file = Path("readonly.ini");
    Put(file, "[S]\nK=old\n");
    ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
    const QByteArray dirPath = dir.path().toLocal8Bit();
    ASSERT_EQ(::chmod(dirPath.constData(), 0555), 0);
    const std::string blocked = Path("readonly.ini/below.ini");
    {
        AsOrdinaryUser user;
        EXPECT_EQ(WriteError(file), "Unable to write to " + file);
        EXPECT_EQ(GetPrivateProfileString("S", "K", "", file), "old");
        // The directory is not the user's either: no new file there.
        EXPECT_EQ(WriteError(Path("new.ini")), "Unable to write to " + Path("new.ini"));
    }
    EXPECT_EQ(WriteError(blocked), "Unable to write to " + blocked);
    EXPECT_EQ(Bytes(file), "[S]\nK=old\n");
    EXPECT_EQ(Entries(), QStringList({"readonly.ini"}));
    ::chmod(dirPath.constData(), 0700);
}

TEST_F(ProfileTest, TheSettingsFileLivesBesideTheProgramOnlyWhenItIsNotInstalled) {
    const std::string programDir = dir.path().toStdString();
    const std::string unwritable = Path("readonly.ini") + "/"; // below a file: never writable
    Put(Path("readonly.ini"), "");
    const struct {
        std::string programDir;
        const char* xdg;
        const char* home;
        std::string expected;
    } rows[] = {
        {programDir, "/cfg", "/home/u", programDir + "/VantrelBackup.ini"},
        {programDir + "/", nullptr, nullptr, programDir + "/VantrelBackup.ini"},
        {unwritable, "/cfg", "/home/u", "/cfg/VantrelBackup/VantrelBackup.ini"},
        {unwritable, "", "/home/u", "/home/u/.config/VantrelBackup/VantrelBackup.ini"},
        {unwritable, "relative", "/home/u", "/home/u/.config/VantrelBackup/VantrelBackup.ini"},
        {unwritable, nullptr, nullptr, unwritable + "VantrelBackup.ini"},
        // The system's program folders are an install even for root, who may write them.
        {"/usr/bin", "/cfg", "/root", "/cfg/VantrelBackup/VantrelBackup.ini"},
        {"/usr/local/bin/", nullptr, "/root", "/root/.config/VantrelBackup/VantrelBackup.ini"},
        {"/bin/", "", "/home/u/", "/home/u/.config/VantrelBackup/VantrelBackup.ini"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.programDir + " " + (row.xdg ? row.xdg : "-"));
        EXPECT_EQ(
            platform::SettingsFilePath("VantrelBackup.ini", row.programDir, row.xdg, row.home),
            row.expected);
    }
}

TEST_F(ProfileTest, IniFileReadsIntegersAsTheStorageWritesAndHandEditsThem) {
    TIniFile ini(Path("numbers.ini"));
    ini.WriteInteger("S", "Negative", -5);
    ini.WriteBool("S", "Yes", true);
    ini.WriteBool("S", "No", false);
    EXPECT_EQ(Bytes(ini.FileName()), "[S]\nNegative=-5\nYes=1\nNo=0\n");
    const struct {
        const char* stored;
        int expected;
    } rows[] = {
        {"-5", -5},
        {" 12 ", 12},
        {"0x0A", 10},
        {"0X1f", 31},
        {"$10", 16},
        {"x10", 16},
        {"-$10", -16},
        {"0x", 99},
        {"abc", 99},
        {"12 a", 99},
        {"", 99},
        {"2147483648", 99},
        {"-2147483648", INT32_MIN},
        {"$7FFFFFFF", INT32_MAX},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.stored);
        ini.WriteString("S", "N", row.stored);
        EXPECT_EQ(ini.ReadInteger("S", "N", 99), row.expected);
    }
    EXPECT_EQ(ini.ReadInteger("S", "Missing", 7), 7);
    EXPECT_EQ(ini.ReadInteger("Missing", "N", 7), 7);
}

// A settings file that is not a regular file, or a link to one: only a regular file is replaced,
// a character device is written where it is, anything else is refused, nothing blocks, and the
// link stays as it was.
TEST_F(ProfileTest, ALinkedOrSpecialSettingsFileIsNeverReplacedAndNeverBlocks) {
    const std::string fifo = Path("fifo"), device = Path("null"), sub = Path("sub");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_TRUE(QDir().mkdir(QString::fromStdString(sub)));
    // A null device of our own; only root may make one.
    const bool haveDevice = ::mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    const struct {
        std::string target; // what the link names, or the file itself when not linked
        bool linked, written;
    } rows[] = {
        {fifo, true, false},
        {fifo, false, false},
        {sub, true, false},
        {device, true, true},
        {device, false, true},
        {Path("later.ini"), true, true},
        {"sub/relative.ini", true, true},
    };
    for (const auto& row : rows) {
        if (row.target == device && !haveDevice)
            continue;
        SCOPED_TRACE(row.target + (row.linked ? " linked" : ""));
        const std::string file = row.linked ? Path("link.ini") : row.target;
        ASSERT_TRUE(!row.linked || ::symlink(row.target.c_str(), file.c_str()) == 0);
        EXPECT_EQ(WriteError(file), row.written ? "written" : "Unable to write to " + file);
        EXPECT_EQ(GetPrivateProfileString("S", "K", "none", file),
                  row.written && row.target != device ? "v" : "none");
        struct stat info {};
        EXPECT_TRUE(!row.linked || (::lstat(file.c_str(), &info) == 0 && S_ISLNK(info.st_mode)));
        ::unlink(Path("link.ini").c_str());
    }
    struct stat info {};
    EXPECT_TRUE(::stat(fifo.c_str(), &info) == 0 && S_ISFIFO(info.st_mode));
    EXPECT_TRUE(!haveDevice || (::stat(device.c_str(), &info) == 0 && S_ISCHR(info.st_mode)));
    // A dangling link's file is made where it says.
    EXPECT_EQ(Bytes(Path("sub/relative.ini")), "[S]\nK=v\n");
}

// An editor's byte-order mark before the first section: the section is read, a write updates it
// in place and the mark stays.
TEST_F(ProfileTest, AByteOrderMarkFirstHidesNothingAndIsKept) {
    const std::string file = Path("bom.ini");
    Put(file, "\xEF\xBB\xBF[TForm1]\r\nEdit3_Text=4242\r\n");
    EXPECT_EQ(GetPrivateProfileString("tform1", "Edit3_Text", "", file), "4242");
    WritePrivateProfileString("TForm1", "Edit3_Text", "77154", file);
    WritePrivateProfileString("TForm1", "Edit5_Text", "pelmark", file);
    EXPECT_EQ(Bytes(file), "\xEF\xBB\xBF[TForm1]\r\nEdit3_Text=77154\r\nEdit5_Text=pelmark\r\n");
    Put(file, "\xEF\xBB\xBF");
    WritePrivateProfileString("TForm2", "Edit2_Text", "8080", file);
    EXPECT_EQ(Bytes(file), "\xEF\xBB\xBF[TForm2]\nEdit2_Text=8080\n");
}
