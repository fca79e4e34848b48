#include "platform/Exceptions.h"

#include <gtest/gtest.h>

TEST(StrToInt, AcceptsBlanksSignsAndTheWholeRange) {
    EXPECT_EQ(StrToInt("42"), 42);
    EXPECT_EQ(StrToInt("  7"), 7);
    EXPECT_EQ(StrToInt("-15"), -15);
    EXPECT_EQ(StrToInt("+15"), 15);
    EXPECT_EQ(StrToInt("007"), 7);
    EXPECT_EQ(StrToInt("2147483647"), 2147483647);
    EXPECT_EQ(StrToInt("-2147483648"), -2147483647 - 1);
    EXPECT_EQ(StrToInt(" $1F90"), 8080);
    EXPECT_EQ(StrToInt("x1f90"), 8080);
    EXPECT_EQ(StrToInt("-0X10"), -16);
    EXPECT_EQ(StrToInt("$7FFFFFFF"), 2147483647);
}

TEST(StrToInt, RejectsAnythingElseWithTheUsersText) {
    const auto message = [](const std::string& text) -> std::string {
        try {
            StrToInt(text);
        } catch (const EConvertError& error) {
            return error.what();
        }
        return "converted";
    };
    EXPECT_EQ(message("abc"), "'abc' is not a valid integer value");
    EXPECT_EQ(message(""), "'' is not a valid integer value");
    EXPECT_EQ(message("12a"), "'12a' is not a valid integer value");
    EXPECT_EQ(message("-"), "'-' is not a valid integer value");
    EXPECT_EQ(message("$"), "'$' is not a valid integer value");
    EXPECT_EQ(message("0xG"), "'0xG' is not a valid integer value");
    EXPECT_EQ(message("12AB"), "'12AB' is not a valid integer value");
    EXPECT_EQ(message("$80000000"), "'$80000000' is not a valid integer value");
    EXPECT_EQ(message("1 2"), "'1 2' is not a valid integer value");
    EXPECT_EQ(message("2147483648"), "'2147483648' is not a valid integer value");
    EXPECT_EQ(message("-2147483649"), "'-2147483649' is not a valid integer value");
    EXPECT_EQ(message("99999999999999999999"),
              "'99999999999999999999' is not a valid integer value");
}
