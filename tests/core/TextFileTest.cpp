#include "engine/TextFile.h"

#include "platform/Exceptions.h"

#include <QTemporaryDir>
#include <fstream>
#include <gtest/gtest.h>
#include <vector>

namespace {

class TextFileTest : public ::testing::Test {
protected:
    std::string Write(const std::string& bytes) {
        const std::string path = dir_.path().toStdString() + "/file.txt";
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
        return path;
    }
    std::vector<std::string> Lines(const std::string& bytes, bool lfEndsLine) {
        TTextFile file(Write(bytes), lfEndsLine);
        std::vector<std::string> lines;
        while (!file.Eof())
            lines.push_back(file.ReadLine());
        return lines;
    }

private:
    QTemporaryDir dir_;
};

using LineList = std::vector<std::string>;

} // namespace

TEST_F(TextFileTest, FirstLineEndsAtCrOrCtrlZButNotAtLf) {
    const std::string bigLfPage = "<html>\n" + std::string(200000, 'x') + "\nend\r\nafter";
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"<html>\r\nsecond", "<html>"},
        {"one\ntwo\nthree", "one\ntwo\nthree"},
        {"one\ntwo\rthree", "one\ntwo"},
        {"\x1a<html>", ""},
        {"<ht\x1aml>\r\n", "<ht"},
        {bigLfPage, bigLfPage.substr(0, bigLfPage.find('\r'))},
    };
    for (const auto& [bytes, firstLine] : cases)
        EXPECT_EQ(ReadFirstLine(Write(bytes)), firstLine) << bytes.substr(0, 40);
    EXPECT_THROW(ReadFirstLine("/nonexistent/page.html"), EFOpenError);
}

// The page rule: only CR ends a line. The batch list also takes an LF alone, so a list written
// on this system reads line by line; a CR LF pair is still one line end in both.
TEST_F(TextFileTest, ListLinesFollowTheRuleTheyAreReadWith) {
    struct Case {
        std::string bytes;
        LineList pageRule, listRule;
    };
    const Case cases[] = {
        {"", {}, {}},
        {"f=1\r\nm=x\r\n", {"f=1", "m=x"}, {"f=1", "m=x"}},
        {"f=1\rm=x", {"f=1", "m=x"}, {"f=1", "m=x"}},
        {"f=1\nm=x\n", {"f=1\nm=x\n"}, {"f=1", "m=x"}},
        {"f=1\r\n\r\nm=x", {"f=1", "", "m=x"}, {"f=1", "", "m=x"}},
        {"f=1\n\nm=x", {"f=1\n\nm=x"}, {"f=1", "", "m=x"}},
        {"f=1\r\n\x1am=x\r\n", {"f=1"}, {"f=1"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Lines(c.bytes, false), c.pageRule) << c.bytes;
        EXPECT_EQ(Lines(c.bytes, true), c.listRule) << c.bytes;
    }
}
