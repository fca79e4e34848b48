#include "net/HttpRequest.h"
#include "platform/Exceptions.h"

#include <gtest/gtest.h>

namespace {

struct Parsed {
    std::string url, host, path;
    int port = 0;
};

Parsed Parse(std::string url, std::string host = "", int port = 0) {
    Parsed p{std::move(url), std::move(host), "", port};
    http::ParseUrl(p.url, p.host, p.port, p.path);
    return p;
}

} // namespace

TEST(ParseUrl, SplitsSchemeHostAndPath) {
    const Parsed p = Parse("http://www.site.com/cgi-bin/gallery.cgi?f=77154");
    EXPECT_EQ(p.host, "www.site.com");
    EXPECT_EQ(p.port, 80);
    EXPECT_EQ(p.path, "/cgi-bin/gallery.cgi?f=77154");
    EXPECT_EQ(p.url, "http://www.site.com/cgi-bin/gallery.cgi?f=77154");
}

TEST(ParseUrl, TakesThePortFromTheHostPartAndCutsItOffTheHost) {
    const Parsed p = Parse("http://127.0.0.1:8080/a/b.jpg");
    EXPECT_EQ(p.host, "127.0.0.1");
    EXPECT_EQ(p.port, 8080);
    EXPECT_EQ(p.path, "/a/b.jpg");

    const Parsed bare = Parse("localhost:81");
    EXPECT_EQ(bare.host, "localhost");
    EXPECT_EQ(bare.port, 81);
    EXPECT_EQ(bare.path, "/");
}

TEST(ParseUrl, ChoosesThePortByScheme) {
    EXPECT_EQ(Parse("FTP://h/x").port, 21);
    EXPECT_EQ(Parse("gopher://h/x").port, 70);
    EXPECT_EQ(Parse("https://h/x", "", 8080).port, 80); // any other scheme means 80
    EXPECT_EQ(Parse("h/x").port, 80);                   // port 0 means 80
}

TEST(ParseUrl, AppendsTheMissingPathSlashToTheUrl) {
    const Parsed hostOnly = Parse("http://h");
    EXPECT_EQ(hostOnly.path, "/");
    EXPECT_EQ(hostOnly.url, "http://h/");

    // The slash after the host counts as no path, so a second one is appended.
    const Parsed trailing = Parse("http://h/");
    EXPECT_EQ(trailing.path, "/");
    EXPECT_EQ(trailing.url, "http://h//");
}

TEST(ParseUrl, CutsTheRequestPathAt256CharactersButKeepsTheUrl) {
    const std::string path = "/" + std::string(300, 'p');
    const Parsed p = Parse("http://h" + path);
    EXPECT_EQ(p.path, path.substr(0, 256));
    EXPECT_EQ(p.url, "http://h" + path);
}

TEST(ParseUrl, RelativeUrlKeepsThePreviousHostAndPort) {
    const Parsed p = Parse("/next/page.html", "127.0.0.1", 8080);
    EXPECT_EQ(p.host, "127.0.0.1");
    EXPECT_EQ(p.port, 8080);
    EXPECT_EQ(p.path, "/next/page.html");
}

TEST(ParseUrl, RefusesAnEmptyUrlAndABadPort) {
    const auto messageOf = [](const std::string& url) {
        try {
            Parse(url, "old");
        } catch (const EConvertError& e) {
            return "convert: " + e.Message();
        } catch (const Exception& e) {
            return e.Message();
        }
        return std::string("no error");
    };
    EXPECT_EQ(messageOf(""), "Empty URL");
    EXPECT_EQ(messageOf("http://h:8o/x"), "convert: '8o' is not a valid integer value");
    EXPECT_EQ(messageOf("http://h:/x"), "convert: '' is not a valid integer value");
    // Would otherwise wrap into another 16-bit port (99999 is 34463).
    EXPECT_EQ(messageOf("http://h:99999/x"), "convert: '99999' is not a valid port number");
    EXPECT_EQ(messageOf("http://h:-1/x"), "convert: '-1' is not a valid port number");
}
