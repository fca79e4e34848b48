#include "net/FTPDirectoryList.h"
#include "net/FtpReply.h"
#include "net/NMFTP.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

namespace {

std::vector<std::string> ColumnsOf(const TFTPDirectoryList& list) {
    return {list.Columns.begin(), list.Columns.begin() + list.ColumnCount};
}

} // namespace

TEST(FtpColumns, OnlyTheSpaceSeparatesAndARunOfThemIsOne) {
    struct Row {
        std::string line;
        std::vector<std::string> columns;
    };
    const std::vector<Row> rows = {
        {"a  b   c", {"a", "b", "c"}},
        {"  lead", {"", "lead"}},
        {"trail ", {"trail", ""}},
        {"trail   ", {"trail", ""}},
        {"", {""}},
        {" ", {"", ""}},
        {"tab\there x", {"tab\there", "x"}},
        {"cr\r", {"cr\r"}},
        {"\r\n", {"\r\n"}},
    };
    for (const Row& row : rows) {
        TFTPDirectoryList list;
        list.ParseLine(row.line);
        EXPECT_EQ(ColumnsOf(list), row.columns) << "line \"" << row.line << "\"";
    }
}

TEST(FtpColumns, AColumnKeeps255CharactersAndALineAtMost25Columns) {
    TFTPDirectoryList list;
    list.ParseLine(std::string(300, 'n') + " next");
    ASSERT_EQ(list.ColumnCount, 2);
    EXPECT_EQ(list.Columns[0], std::string(255, 'n'));
    EXPECT_EQ(list.Columns[1], "next");

    std::string many;
    for (int i = 1; i <= 40; ++i)
        many += "c" + std::to_string(i) + " ";
    list.ParseLine(many);
    EXPECT_EQ(list.ColumnCount, TFTPDirectoryList::MaxColumns);
    EXPECT_EQ(list.Columns[24], "c25");

    // A shorter line after a longer one leaves nothing of the earlier columns in its own.
    list.ParseLine("x");
    EXPECT_EQ(ColumnsOf(list), std::vector<std::string>{"x"});
}

// The rule counts from the end: name last, date the three before it, size the fourth from the
// end, attributes first.
TEST(FtpUnixList, ReadsTheLinesOfRealServersFromTheEnd) {
    struct Row {
        std::string line;
        bool accepted;
        std::string name, size, date, attributes;
    };
    const std::vector<Row> rows = {
        // vsftpd (hide_ids): recent files show the time, older ones the year.
        {"-rw-r--r--    1 ftp      ftp        300000 Dec 08 14:08 8436_1.pdf", true, "8436_1.pdf",
         "300000", "Dec 08 14:08", "-rw-r--r--"},
        {"-rw-r--r--    1 ftp      ftp             0 Mar 04  2019 old.jpg", true, "old.jpg", "0",
         "Mar 04 2019", "-rw-r--r--"},
        {"drwxr-xr-x    2 ftp      ftp          4096 Dec 08 21:03 sub", true, "sub", "4096",
         "Dec 08 21:03", "drwxr-xr-x"},
        // pyftpdlib: three blanks after the permissions.
        {"-rw-r--r--   1 root     root            3 Dec 08 21:03 a.pdf", true, "a.pdf", "3",
         "Dec 08 21:03", "-rw-r--r--"},
        // The link's target is the last word; a name with a blank loses its first part.
        {"lrwxrwxrwx   1 root     root            5 Dec 08 21:03 link -> a.pdf", true, "a.pdf",
         "08", "21:03 link ->", "lrwxrwxrwx"},
        {"-rw-r--r--    1 ftp      ftp             1 Dec 08 21:03 with blank.txt", true,
         "blank.txt", "Dec", "08 21:03 with", "-rw-r--r--"},
        // Without the group column: eight columns, read just as well.
        {"-rw-r--r-- 1 ftp 34567 Jan 5 12:00 page01.jpg", true, "page01.jpg", "34567",
         "Jan 5 12:00", "-rw-r--r--"},
        // A leading blank empties the attributes only; a trailing one empties the name.
        {" -rw-r--r-- 1 ftp ftp 34567 Jan 5 12:00 page01.jpg", true, "page01.jpg", "34567",
         "Jan 5 12:00", ""},
        {"-rw-r--r-- 1 ftp ftp 34567 Jan 5 12:00 page01.jpg ", true, "", "Jan",
         "5 12:00 page01.jpg", "-rw-r--r--"},
        {"drwxr-xr-x 2 ftp ftp 4096 Jan 5 12:00 ..", true, "..", "4096", "Jan 5 12:00",
         "drwxr-xr-x"},
        {"total 12", false, "", "", "", ""},
        {"a b c d e f g", false, "", "", "", ""},
        {"\r\n", false, "", "", "", ""},
    };
    for (const Row& row : rows) {
        TFTPUnixList list;
        list.ParseLine(row.line);
        SCOPED_TRACE("line \"" + row.line + "\"");
        if (!row.accepted) {
            EXPECT_TRUE(list.NameList.empty() && list.SizeList.empty() && list.DateList.empty() &&
                        list.AttributeList.empty());
            continue;
        }
        EXPECT_EQ(list.NameList, std::vector<std::string>{row.name});
        EXPECT_EQ(list.SizeList, std::vector<std::string>{row.size});
        EXPECT_EQ(list.DateList, std::vector<std::string>{row.date});
        EXPECT_EQ(list.AttributeList, std::vector<std::string>{row.attributes});
    }
}

TEST(FtpUnixList, ListsStayAlignedUntilClearedAndTheDateIsCutTo255) {
    TFTPUnixList list;
    list.ParseLine("total 8");
    list.ParseLine("-rw-r--r-- 1 ftp ftp 10 Jan 5 12:00 one");
    list.ParseLine("-rw-r--r-- 1 ftp ftp 20 " + std::string(200, 'M') + " " +
                   std::string(200, 'D') + " 12:00 two");
    ASSERT_EQ(list.NameList, (std::vector<std::string>{"one", "two"}));
    EXPECT_EQ(list.SizeList, (std::vector<std::string>{"10", "20"}));
    ASSERT_EQ(list.DateList.size(), 2u);
    EXPECT_EQ(list.DateList[1], std::string(200, 'M') + " " + std::string(54, 'D'));

    list.Clear();
    EXPECT_TRUE(list.NameList.empty() && list.SizeList.empty() && list.DateList.empty() &&
                list.AttributeList.empty());
    EXPECT_EQ(list.ColumnCount, 9) << "Clear leaves the last line's columns";
}

TEST(FtpVendor, TheFirstKeywordInTableOrderDecides) {
    const std::vector<std::pair<std::string, int>> rows = {
        {"215 UNIX Type: L8\r\n", VendorUnix},
        {"215 NETWARE system type.\r\n", VendorNetware},
        {"215 MS-DOS\r\n", VendorDos},
        {"215 VMS system\r\n", VendorVms},
        {"215 MVS is the operating system of this server.\r\n", VendorMvs},
        {"215 VM/ESA\r\n", VendorVm},
        {"215 MACOS Peter's Server\r\n", VendorMacOs},
        {"215 OS/400 is the remote operating system.\r\n", VendorOs400},
        {"215 Windows_NT\r\n", VendorOther},
        {"215 unix type: l8\r\n", VendorOther},
        // Both "UNIX" and "VMS": UNIX comes first in the table.
        {"215 VMS with UNIX emulation\r\n", VendorUnix},
        {"", VendorOther},
    };
    for (const auto& [reply, vendor] : rows)
        EXPECT_EQ(VendorFromSystReply(reply), vendor) << reply;
    EXPECT_NE(dynamic_cast<TFTPUnixList*>(MakeDirectoryList(VendorVms).get()), nullptr);
    EXPECT_NE(dynamic_cast<TFTPUnixList*>(MakeDirectoryList(12345).get()), nullptr);
}

TEST(FtpReplies, ByteCountIsTheNumberBeforeTheWordBytes) {
    const std::vector<std::pair<std::string, uint64_t>> rows = {
        {"150 Opening BINARY mode data connection for 8436_1.pdf (300000 bytes).\r\n", 300000},
        {"150 Opening data connection (34567 Bytes)\r\n", 34567},
        {"150 12 files, 999BYTES\r\n", 999},
        {"125 Data connection already open. Transfer starting.\r\n", 0},
        {"150 Here comes the directory listing.\r\n", 0},
        // The reply code at the start of the line is no count.
        {"150 bytes follow\r\n", 0},
        {"12345 bytes\r\n", 0},
        {" 12345 bytes\r\n", 12345},
        // The nearest digits before the word, whatever lies between.
        {"150 file 7 (size: 12) bytes\r\n", 12},
        {"150 (99999999999999999999999 bytes)\r\n", 0},
        {"150 (18446744073709551615 bytes)\r\n", 18446744073709551615ull},
        {"150 (5000000000 bytes)\r\n", 5000000000ull},
    };
    for (const auto& [line, count] : rows)
        EXPECT_EQ(TNMFTP::ExtractByteCount(line), count) << line;
}

// Each rule judges a reply by its code within its own bounds; the codes sit on and around them.
TEST(FtpReplies, EachRuleHasItsOwnBounds) {
    const int codes[] = {0, 150, 226, 300, 301, 331, 400, 401, 425, 426, 500, 502, 503, 599, 600};
    // What each rule says for the codes above, in order: X where it holds.
    const std::vector<std::tuple<const char*, bool (*)(int), std::string>> rules = {
        {"login refused", ftpreply::LoginRefused, ".......XXXXXXX."},
        {"command failed", ftpreply::CommandFailed, "......XXXXXXXX."},
        {"transfer step refused", ftpreply::StepRefused, "....XXXXXXXXXX."},
        {"closing reply failed", ftpreply::ClosingFailed, "......XXXXXXXX."},
        {"unsupported", ftpreply::Unsupported, "..........XX..."},
        {"active mode refused", ftpreply::ActiveRefused, "......XXXXXXXX."},
        {"no data connection", ftpreply::NoDataConnection, "........X......"},
    };
    for (const auto& [name, rule, expected] : rules) {
        std::string seen;
        for (const int code : codes)
            seen += rule(code) ? 'X' : '.';
        EXPECT_EQ(seen, expected) << name;
    }
}

// The port of a 227 reply; 0 for anything that is not one that can be used.
TEST(FtpReplies, PassivePortIsReadFromTheFirstSixNumbers) {
    const std::vector<std::pair<std::string, uint16_t>> rows = {
        {"227 Entering Passive Mode (127,0,0,1,39,16).\r\n", 39 * 256 + 16},
        {"227 Entering Passive Mode 10,1,2,3,0,21\r\n", 21},
        {"227 =127,0,0,2,255,255\r\n", 65535},
        {"227 Mode 2 (127,0,0,1,0,21)\r\n", 21}, // a lone number before them is no address
        {"227 (127,0,0,1,0,0).\r\n", 0},         // port 0
        {"227 (127,0,0,1,256,1).\r\n", 0},
        {"227 (127,0,0,1,1).\r\n", 0},
        {"227 (127,0,0,1,0021,1).\r\n", 0},
        {"227 (127, 0,0,1,4,1).\r\n", 0},
        {"200 (127,0,0,1,4,1).\r\n", 0},
        {"2270 (127,0,0,1,4,1).\r\n", 0},
        {"227\r\n", 0},
        {"", 0},
    };
    for (const auto& [reply, port] : rows)
        EXPECT_EQ(ftpreply::PassivePort(reply), port) << reply;
}
