#include "engine/TakeLine.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Cuts the given page with one form of TakeLine the given number of times and records each line
// and what was left of the buffer.
template <typename BufferType> struct Cutter {
    std::vector<std::string> lines;
    std::string rest;

    Cutter(const std::string& page, int calls) {
        BufferType buffer = page;
        std::string line = "stale";
        for (int i = 0; i < calls; ++i) {
            TakeLine(buffer, line);
            lines.push_back(line);
        }
        rest = std::string(buffer);
    }
};

using Forms = ::testing::Types<std::string, std::string_view>;

} // namespace

template <typename BufferType> class TakeLineTest : public ::testing::Test {};
TYPED_TEST_SUITE(TakeLineTest, Forms);

TYPED_TEST(TakeLineTest, CutsAtEachLfAndKeepsCr) {
    const Cutter<TypeParam> cut("one\ntwo\r\n\nthree\nfour", 2);
    EXPECT_EQ(cut.lines, (std::vector<std::string>{"one", "two\r"}));
    EXPECT_EQ(cut.rest, "\nthree\nfour");
}

TYPED_TEST(TakeLineTest, GivesTheRestWhenNoLfIsLeft) {
    const Cutter<TypeParam> cut("a\nlast line", 3);
    EXPECT_EQ(cut.lines, (std::vector<std::string>{"a", "last line", ""}));
    EXPECT_EQ(cut.rest, "");
}

TYPED_TEST(TakeLineTest, LeadingLfGivesAnEmptyLine) {
    const Cutter<TypeParam> cut("\n\nx\n", 3);
    EXPECT_EQ(cut.lines, (std::vector<std::string>{"", "", "x"}));
    EXPECT_EQ(cut.rest, "");
}

TYPED_TEST(TakeLineTest, EmptyBufferKeepsGivingEmptyLines) {
    const Cutter<TypeParam> cut("", 3);
    EXPECT_EQ(cut.lines, (std::vector<std::string>{"", "", ""}));
    EXPECT_EQ(cut.rest, "");
}

TYPED_TEST(TakeLineTest, KeepsEveryOtherByte) {
    const std::string page("a\0b\x1a\r\nc", 7);
    const Cutter<TypeParam> cut(page, 2);
    EXPECT_EQ(cut.lines, (std::vector<std::string>{std::string("a\0b\x1a\r", 5), "c"}));
}
