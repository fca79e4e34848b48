#include "engine/CutRules.h"

#include <gtest/gtest.h>

TEST(CutRules, DropThroughRemovesTheMarkerAndWhatPrecedesIt) {
    EXPECT_EQ(DropThrough("cgi-bin/gallery.cgi?f=12345", "="), "12345");
    EXPECT_EQ(DropThrough("SRC=/x", "SRC="), "/x");
    EXPECT_EQ(DropThrough("ab=", "="), "");
    // Without the marker its length less one is still removed from the front.
    EXPECT_EQ(DropThrough("abcdef", "SRC="), "def");
    EXPECT_EQ(DropThrough("abcdef", "="), "abcdef");
    EXPECT_EQ(DropThrough("ab", "SRC="), "");
}

TEST(CutRules, DropThroughPlusOneAlsoRemovesTheNextCharacter) {
    EXPECT_EQ(DropThroughPlusOne("<A HREF=\"/cgi-bin/x\">", "<A HREF=\""), "cgi-bin/x\">");
    EXPECT_EQ(DropThroughPlusOne("f=1&n=2\">", "&n"), "2\">");
    EXPECT_EQ(DropThroughPlusOne("abc&n", "&n"), "");
    EXPECT_EQ(DropThroughPlusOne("abcdef", "&n"), "cdef");
    EXPECT_EQ(DropThroughPlusOne("abcdef", ""), "abcdef");
}

TEST(CutRules, KeepBeforeGivesNothingWithoutTheMarker) {
    EXPECT_EQ(KeepBefore("cgi-bin/gallery.cgi?f=1\"><B>", "\"><"), "cgi-bin/gallery.cgi?f=1");
    EXPECT_EQ(KeepBefore("\"><", "\"><"), "");
    EXPECT_EQ(KeepBefore("abc", "\"><"), "");
    EXPECT_EQ(KeepBefore("abc", ""), "");
}

TEST(CutRules, KeepThroughSlashOfKeepsTheMarkersSlash) {
    EXPECT_EQ(KeepThroughSlashOf("/gallery/user/folder/thumb/a.jpg", "/thumb/"),
              "/gallery/user/folder/");
    EXPECT_EQ(KeepThroughSlashOf("/thumb/a.jpg", "/thumb/"), "/");
    EXPECT_EQ(KeepThroughSlashOf("/gallery/user/a.jpg", "/thumb/"), "");
}

TEST(CutRules, ChainAsTheThumbnailParserUsesThem) {
    const std::string line = "<TD><IMG SRC=/gallery/user/folder/thumb/a_thumb.jpg><BR>";
    const std::string upToTag = KeepBefore(DropThrough(line, "SRC="), "><");
    EXPECT_EQ(KeepBefore(upToTag, "/thumb/"), "/gallery/user/folder");
    EXPECT_EQ(KeepThroughSlashOf(upToTag, "/thumb/"), "/gallery/user/folder/");
    const std::string noThumb = KeepBefore(DropThrough("<TD>plain</TD>", "SRC="), "><");
    EXPECT_EQ(KeepBefore(noThumb, "/thumb/"), "");
}
