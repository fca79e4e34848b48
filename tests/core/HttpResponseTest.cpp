#include "net/HttpResponse.h"
#include "net/Powersock.h"

#include <gtest/gtest.h>

using http::THeaderField;

TEST(StatusReplyCode, TakesThePlainNumberOfTheSecondField) {
    EXPECT_EQ(http::StatusReplyCode("HTTP/1.0 200 OK\r\n"), 200);
    EXPECT_EQ(http::StatusReplyCode("HTTP/1.1 404 Not Found\n"), 404);
    EXPECT_EQ(http::StatusReplyCode("HTTP/1.0 32767 Max\r\n"), 32767);
    EXPECT_EQ(http::StatusReplyCode("HTTP/1.0 000302 Found\r\n"), 302);
}

TEST(StatusReplyCode, GivesZeroWhenTheFieldIsNotAPlainNumber) {
    EXPECT_EQ(http::StatusReplyCode("HTTP/1.0 200\r\n"), 0); // the line end sits in the field
    EXPECT_EQ(http::StatusReplyCode("HTTP/1.0  200 OK\r\n"), 0);
    EXPECT_EQ(http::StatusReplyCode("HTTP/1.0 -1 X\r\n"), 0);
    EXPECT_EQ(http::StatusReplyCode("HTTP/1.0 2x0 X\r\n"), 0);
    EXPECT_EQ(http::StatusReplyCode("garbage\r\n"), 0);
}

TEST(StatusReplyCode, RefusesANumberTooLargeForTheReplyCode) {
    for (const std::string& line :
         {std::string("HTTP/1.0 99999 X\r\n"), std::string("HTTP/1.0 32768 X\r\n"),
          "HTTP/1.0 " + std::string(5000, '9') + " X\r\n"}) {
        try {
            http::StatusReplyCode(line);
            ADD_FAILURE() << "accepted " << line.substr(0, 20);
        } catch (const ESockError& e) {
            EXPECT_NE(std::string(e.what()).find("out of range"), std::string::npos);
            EXPECT_LT(e.Message().size(), 80u);
        }
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
