#include "net/HttpResponse.h"
#include "net/HttpRequest.h"
#include "net/Powersock.h"

#include <gtest/gtest.h>

using http::THeaderField;

TEST(StatusReplyCode, TakesThePlainNumberOfTheSecondFieldWithoutItsLineEnd) {
    EXPECT_EQ(http::StatusReplyCode("HTTP/1.0 200 OK\r\n"), 200);
    EXPECT_EQ(http::StatusReplyCode("HTTP/1.1 404 Not Found\n"), 404);
    EXPECT_EQ(http::StatusReplyCode("HTTP/1.0 32767 Max\r\n"), 32767);
    EXPECT_EQ(http::StatusReplyCode("HTTP/1.0 000302 Found\r\n"), 302);
    EXPECT_EQ(http::StatusReplyCode("HTTP/1.0 404\r\n"), 404);
    EXPECT_EQ(http::StatusReplyCode("HTTP/1.0 200\n"), 200);
}

// A line that carries no status code, or one the 16-bit reply code cannot hold, fails the reply
// instead of turning into a success (0) or into another code.
TEST(StatusReplyCode, RefusesALineWithoutAPlainCodeOrWithOneTooLarge) {
    const std::string huge = "HTTP/1.0 " + std::string(5000, '9') + " X\r\n";
    for (const std::string& line :
         {std::string("HTTP/1.0  200 OK\r\n"), std::string("HTTP/1.0 -1 X\r\n"),
          std::string("HTTP/1.0 2x0 X\r\n"), std::string("HTTP/1.0 200\r\r\n"),
          std::string("HTTP/1.0\r\n"), std::string("garbage\r\n"),
          std::string("HTTP/1.0 99999 X\r\n"), std::string("HTTP/1.0 32768 X\r\n"), huge}) {
        SCOPED_TRACE(line.substr(0, 20));
        EXPECT_THROW(http::StatusReplyCode(line), ESockError);
        try {
            http::StatusReplyCode(line);
        } catch (const ESockError& e) {
            EXPECT_LT(e.Message().size(), 80u);
        }
    }
}

// Where an answer sends the exchange, and whether its body is kept, by status class.
TEST(ResponseRules, StatusDecidesRepeatRedirectAndCompleteness) {
    struct Row {
        int code;
        bool repeats, redirects, complete;
    };
    const Row rows[] = {
        {199, false, false, true}, {200, false, false, true},  {299, true, false, true},
        {300, true, true, true},   {304, true, true, true},    {398, true, true, true},
        {399, true, false, true},  {400, false, false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.code);
        EXPECT_EQ(http::RepeatsRequest(row.code), row.repeats);
        EXPECT_EQ(http::IsRedirect(row.code), row.redirects);
        EXPECT_EQ(http::ReplyComplete(row.code, 10, 10), row.complete);
        EXPECT_FALSE(http::ReplyComplete(row.code, 10, 9)) << "fewer bytes than announced";
        EXPECT_EQ(http::ReplyComplete(row.code, 0, 0), row.complete) << "nothing announced";
    }
}

TEST(HeaderLines, AreRecognisedByTheirUpperCasedFirstField) {
    EXPECT_EQ(http::ClassifyHeaderLine("Set-Cookie: a=b\r\n"), THeaderField::SetCookie);
    EXPECT_EQ(http::ClassifyHeaderLine("SET-COOKIE: a\n"), THeaderField::SetCookie);
    EXPECT_EQ(http::ClassifyHeaderLine("location: /x\r\n"), THeaderField::Location);
    EXPECT_EQ(http::ClassifyHeaderLine("Content-Length: 12\r\n"), THeaderField::ContentLength);
    // Without the blank after the colon the name is not recognised.
    EXPECT_EQ(http::ClassifyHeaderLine("Set-Cookie:a=b\r\n"), THeaderField::Other);
    EXPECT_EQ(http::ClassifyHeaderLine("X-Location: /x\r\n"), THeaderField::Other);
    EXPECT_EQ(http::ClassifyHeaderLine("\r\n"), THeaderField::Other);
}

TEST(HeaderLines, ValueDropsTheLineEndAndStopsAt256Characters) {
    EXPECT_EQ(http::HeaderValue("Set-Cookie: sid=1; path=/\r\n", THeaderField::SetCookie),
              "sid=1; path=/");
    EXPECT_EQ(http::HeaderValue("Location: /a\n", THeaderField::Location), "/a");
    EXPECT_EQ(http::HeaderValue("Location: \r\n", THeaderField::Location), "");
    const std::string longValue(300, 'v');
    EXPECT_EQ(http::HeaderValue("Location: " + longValue + "\r\n", THeaderField::Location),
              longValue.substr(0, 256));
}

TEST(HeaderLines, ContentLengthIsTheLeadingNumberClampedTo32Bits) {
    EXPECT_EQ(http::ContentLengthValue("Content-Length: 1234\r\n"), 1234u);
    EXPECT_EQ(http::ContentLengthValue("Content-Length: abc\r\n"), 0u);
    EXPECT_EQ(http::ContentLengthValue("Content-Length: 99999999999\r\n"), 0xFFFFFFFFu);
}

TEST(HeaderLines, OnlyABareLineEndEndsTheHeader) {
    EXPECT_TRUE(http::IsHeaderEnd("\r\n"));
    EXPECT_TRUE(http::IsHeaderEnd("\n"));
    EXPECT_FALSE(http::IsHeaderEnd(" \r\n"));
    EXPECT_FALSE(http::IsHeaderEnd("\r"));
}
