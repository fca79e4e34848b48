#include "engine/StrUtils.h"

#include <gtest/gtest.h>

#include <random>

using namespace std::string_literals;

TEST(BaseOperations, PosIsOneBasedAndZeroForNothingToFind) {
    EXPECT_EQ(Pos("b", "abcb"), 2);
    EXPECT_EQ(Pos("abcb", "abcb"), 1);
    EXPECT_EQ(Pos("B", "abcb"), 0);
    EXPECT_EQ(Pos("", "abc"), 0);
    EXPECT_EQ(Pos("a", ""), 0);
    EXPECT_EQ(Pos("\0b"s, "a\0b"s), 2);
}

TEST(BaseOperations, CopyClampsTheStartAndTheCount) {
    EXPECT_EQ(Copy("abcdef", 2, 3), "bcd");
    EXPECT_EQ(Copy("abcdef", 0, 2), "ab");
    EXPECT_EQ(Copy("abcdef", -5, 2), "ab");
    EXPECT_EQ(Copy("abcdef", 5, 100), "ef");
    EXPECT_EQ(Copy("abcdef", 7, 1), "");
    EXPECT_EQ(Copy("abcdef", 1, -1), "");
    EXPECT_EQ(Copy("abcdef", 1, 0), "");
    EXPECT_EQ(Copy("", 1, 1), "");
    EXPECT_EQ(Copy("abc", 2, 2147483647), "bc");
}

TEST(BaseOperations, DeleteIgnoresWhatIsOutOfRange) {
    const auto deleted = [](std::string s, int index, int count) {
        Delete(s, index, count);
        return s;
    };
    EXPECT_EQ(deleted("abcdef", 2, 3), "aef");
    EXPECT_EQ(deleted("abcdef", 4, 100), "abc");
    EXPECT_EQ(deleted("abcdef", 0, 2), "abcdef");
    EXPECT_EQ(deleted("abcdef", 7, 1), "abcdef");
    EXPECT_EQ(deleted("abcdef", 1, 0), "abcdef");
    EXPECT_EQ(deleted("abcdef", 1, -3), "abcdef");
    EXPECT_EQ(deleted("", 1, 1), "");
}

TEST(ReplaceAll, TurnsUrlPathsIntoLocalPaths) {
    EXPECT_EQ(ReplaceAll("/gallery/user/folder/", "/", "\\"), "\\gallery\\user\\folder\\");
    EXPECT_EQ(ReplaceAll("gallery", "/", "\\"), "gallery");
    EXPECT_EQ(ReplaceAll("", "/", "\\"), "");
    EXPECT_EQ(ReplaceAll("a/b", "", "\\"), "a/b");
}

TEST(ReplaceAll, SkipsAnOccurrenceRightAfterAReplacedOne) {
    EXPECT_EQ(ReplaceAll("a//b", "/", "\\"), "a\\/b");
    EXPECT_EQ(ReplaceAll("aaa", "a", "b"), "bab");
    EXPECT_EQ(ReplaceAll("abcbc", "bc", "X"), "aXbc");
    EXPECT_EQ(ReplaceAll("abcabc", "bc", "X"), "aXaX");
    // An empty replacement still resumes one character further on.
    EXPECT_EQ(ReplaceAll("a//b", "/", ""), "a/b");
}

TEST(ReplaceAll, EndsWhenTheReplacementContainsWhatItReplaces) {
    EXPECT_EQ(ReplaceAll("aXbX", "X", "XX"), "aXXbXX");
    EXPECT_EQ(ReplaceAll("X", "X", "XXX"), "XXX");
}

TEST(CopyFromAndCopyRange, GiveEmptyOutsideTheText) {
    EXPECT_EQ(CopyFrom("abc", 2), "bc");
    EXPECT_EQ(CopyFrom("abc", 3), "c");
    EXPECT_EQ(CopyFrom("abc", 4), "");
    EXPECT_EQ(CopyFrom("abc", 0), "");
    EXPECT_EQ(CopyRange("abc", 1, 0), "");
    EXPECT_EQ(CopyRange("abc", 2, 10), "bc");
    EXPECT_EQ(CopyRange("abc", 2, 2), "b");
    EXPECT_EQ(CopyRange("abc", 0, 2), "");
    EXPECT_EQ(CopyRange("abc", 4, 5), "");
}

TEST(FindFrom, ReportsPositionsInTheWholeText) {
    EXPECT_EQ(FindFrom("abcabc", "bc", 3), 5);
    EXPECT_EQ(FindFrom("abcabc", "bc", 2), 2);
    EXPECT_EQ(FindFrom("abc", "abc", 2), 0);
    EXPECT_EQ(FindFrom("abc", "c", 3), 3);
    EXPECT_EQ(FindFrom("abc", "c", 4), 0);
    EXPECT_EQ(FindFrom("abc", "c", 100), 0);
    EXPECT_EQ(FindFrom("abc", "", 1), 0);
    // A start before the text searches from its first character and still reports true positions.
    EXPECT_EQ(FindFrom("abc", "a", 0), 1);
    EXPECT_EQ(FindFrom("abc", "b", -3), 2);
}

TEST(NthField, NumbersFieldsFromOne) {
    EXPECT_EQ(NthField("\\a\\b", "\\", 1), "");
    EXPECT_EQ(NthField("\\a\\b", "\\", 2), "a");
    EXPECT_EQ(NthField("\\a\\b", "\\", 3), "b");
    EXPECT_EQ(NthField("\\a\\b", "\\", 0), "");
    EXPECT_EQ(NthField("\\a\\b", "\\", 4), "");
    EXPECT_EQ(NthField("a\\b\\c", "\\", 3), "c");
    EXPECT_EQ(NthField("a\\b\\c", "\\", 4), "");
    EXPECT_EQ(NthField("a", "\\", 1), "a");
    EXPECT_EQ(NthField("a", "\\", -1), "");
}

TEST(NthField, HandlesEmptyTextsTrailingAndLongerSeparators) {
    for (int n = -1; n <= 3; ++n)
        EXPECT_EQ(NthField("", "\\", n), "") << n;
    EXPECT_EQ(NthField("a\\", "\\", 2), "");
    EXPECT_EQ(NthField("a\\", "\\", 3), "");
    EXPECT_EQ(NthField("x::y::z", "::", 2), "y");
    EXPECT_EQ(NthField("x:::y", "::", 2), ":y");
    EXPECT_EQ(NthField("abc", "", 1), "abc");
    EXPECT_EQ(NthField("abc", "", 2), "");
}

TEST(FieldCount, CountsSeparatorsPlusOne) {
    EXPECT_EQ(FieldCount("", "\\"), 0);
    EXPECT_EQ(FieldCount("abc", "\\"), 1);
    EXPECT_EQ(FieldCount("\\a\\b", "\\"), 3);
    EXPECT_EQ(FieldCount("\\a\\b\\", "\\"), 4);
    EXPECT_EQ(FieldCount("a#b#", "#"), 3);
    EXPECT_EQ(FieldCount("abc", ""), 1);
}

TEST(FieldCount, CountsLongerSeparatorsWithOverlaps) {
    EXPECT_EQ(FieldCount("aaa", "aa"), 3);
    EXPECT_EQ(FieldCount("x::y::z", "::"), 3);
    // The marker written over "a" completes another "a#" to its left.
    EXPECT_EQ(FieldCount("aa#", "a#"), 3);
    // A separator that starts with the marker itself must not loop for ever.
    EXPECT_EQ(FieldCount("###", "##"), 3);
    EXPECT_EQ(FieldCount("#a#a", "#a"), 3);
}

// The fast forms above must give what the rules give when spelled out step by step, on texts made
// of the few characters that matter.
namespace {

std::string ReplaceAllByTheRule(std::string T, const std::string& Find, const std::string& Repl) {
    int P = Pos(Find, T);
    while (P != 0) {
        T = CopyRange(T, 1, P - 1) + Repl + CopyFrom(T, P + Length(Find));
        P = FindFrom(T, Find, P + Length(Repl) + 1);
    }
    return T;
}

std::string NthFieldByTheRule(std::string W, const std::string& Sep, int N) {
    std::string Field;
    int I = 1;
    int Continue = Length(W);
    while (N >= I && Continue != 0) {
        Continue = Pos(Sep, W);
        if (Continue != 0) {
            Field = Copy(W, 1, Continue - 1);
            Delete(W, 1, Continue + Length(Sep) - 1);
            ++I;
        } else {
            Field = W;
        }
    }
    return N <= I ? Field : std::string();
}

int FieldCountByTheRule(std::string W, const std::string& Sep) {
    if (W.empty())
        return 0;
    const char Marker = Sep == "#" ? '*' : '#';
    int Count = 0;
    int P = 0;
    do {
        ++Count;
        P = Pos(Sep, W);
        if (P != 0)
            W[P - 1] = Marker;
    } while (P != 0);
    return Count;
}

std::string RandomText(std::mt19937& random, size_t maxLength) {
    static const char alphabet[] = {'a', 'b', '#', '\\'};
    std::string text(std::uniform_int_distribution<size_t>(0, maxLength)(random), ' ');
    for (char& c : text)
        c = alphabet[std::uniform_int_distribution<int>(0, 3)(random)];
    return text;
}

} // namespace

TEST(StringRules, FastFormsAgreeWithTheStepByStepRules) {
    std::mt19937 random(20261208);
    for (int round = 0; round < 20000; ++round) {
        const std::string text = RandomText(random, 12);
        const std::string find = RandomText(random, 3);
        const std::string repl = RandomText(random, 3);
        ASSERT_EQ(ReplaceAll(text, find, repl), ReplaceAllByTheRule(text, find, repl))
            << text << " / " << find << " / " << repl;
        for (int n = -1; n <= 8; ++n)
            ASSERT_EQ(NthField(text, find, n), NthFieldByTheRule(text, find, n))
                << text << " / " << find << " / " << n;
        if (find.size() < 2 || find[0] != '#') {
            ASSERT_EQ(FieldCount(text, find), FieldCountByTheRule(text, find))
                << text << " / " << find;
        }
    }
}
