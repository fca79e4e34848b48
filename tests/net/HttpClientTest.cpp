#include "HttpTestSupport.h"

#include "platform/FileSystem.h"

namespace {

const std::string Accepts =
    "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff\r\n"
    "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript\r\n";
const std::string Agent = "User-Agent: ie 6.0.2800.1106IC\r\n";
const std::string ContentType = "Content-type: application/x-www-form-urlencoded\r\n";

class HttpClient : public HttpTest {
protected:
    void SetUp() override {
        HttpTest::SetUp();
        http.OnStatus = [this](TComponent*, const std::string& text) { statuses.push_back(text); };
    }
    std::vector<std::string> statuses;
};

} // namespace

TEST_F(HttpClient, SendsTheExactDirectRequestAndStoresHeaderAndBody) {
    ScriptedServer server(Answer("HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n<html>x"));
    const std::string url = "http://" + AddressOf(server) + "/cgi-bin/gallery.cgi?f=77154";

    EXPECT_EQ(GetError(url), "");

    ASSERT_EQ(server.Connections(), 1u);
    // UserId alone sends no Authorization line.
    EXPECT_EQ(server.Received(0), "GET /cgi-bin/gallery.cgi?f=77154 HTTP/1.0\r\n"
                                  "Host: 127.0.0.1\r\n" +
                                      Accepts + Agent + ContentType + "\r\n");
    EXPECT_EQ(http.ReplyCode(), 200);
    EXPECT_EQ(http.Header, "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n");
    EXPECT_EQ(ReadWholeFile(BodyPath()), "<html>x");
    EXPECT_FALSE(http.Connected());
}

TEST_F(HttpClient, SendsTheCookieAndTheProxyForm) {
    ScriptedServer server(Answer("HTTP/1.0 200 OK\r\n\r\n", PlainRequestLines + 2));
    http.Proxy = "127.0.0.1";
    http.ProxyPort = server.Port();
    http.HeaderInfo.Cookie = "sid=42";

    // The gallery host is never resolved: only the proxy is contacted.
    EXPECT_EQ(GetError("http://www.gallery-a.test/pics/a.jpg"), "");

    ASSERT_EQ(server.Connections(), 1u);
    EXPECT_EQ(server.Received(0), "GET http://www.gallery-a.test/pics/a.jpg HTTP/1.0\r\n"
                                  "Proxy-Connection: Keep-Alive\r\n"
                                  "Host: www.gallery-a.test\r\n" +
                                      Accepts + Agent + "Cookie: sid=42\r\n" + ContentType +
                                      "\r\n");
}

TEST_F(HttpClient, StatusLineWithoutReasonPhraseIsReadByItsCode) {
    ScriptedServer server(Answer("HTTP/1.0 404\r\n\r\n<html>gone</html>"));
    std::vector<CmdType> successes, failures;
    http.OnSuccess = [&](CmdType cmd) { successes.push_back(cmd); };
    http.OnFailure = [&](CmdType cmd) { failures.push_back(cmd); };
    http.ReportLevel = 2;

    EXPECT_EQ(GetError("http://" + AddressOf(server) + "/"), "");

    EXPECT_EQ(http.ReplyCode(), 404);
    EXPECT_TRUE(successes.empty());
    EXPECT_EQ(failures, std::vector<CmdType>{CmdType::Get});
    EXPECT_TRUE(statuses.empty());
}

TEST_F(HttpClient, StatusLineWithoutACodeFailsBeforeTheBody) {
    ScriptedServer server(Answer("HTTP/1.0 OK\r\n\r\nnot a picture"));

    EXPECT_EQ(GetError("http://" + AddressOf(server) + "/"), "ESockError: Invalid status line");

    EXPECT_EQ(http.ReplyCode(), 0);
    EXPECT_FALSE(platform::FileExists(BodyPath()));
    EXPECT_FALSE(http.Connected());
}

// A reset ends a body early unless all the bytes the server announced had come.
TEST_F(HttpClient, ABodyCutByAResetFailsUnlessItsAnnouncedLengthCame) {
    const std::string half(15000, 'h');
    struct Row {
        std::string header, body, error;
    };
    const Row rows[] = {
        {"HTTP/1.0 200 OK\r\n\r\n", half, "ESockError: 10054:Connection reset by peer"},
        {"HTTP/1.0 200 OK\r\nContent-Length: 30000\r\n\r\n", half,
         "ESockError: 10054:Connection reset by peer"},
        {"HTTP/1.0 200 OK\r\nContent-Length: 30000\r\n\r\n", half + half, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.header + std::to_string(row.body.size()));
        ScriptedServer::Script script(PlainRequestLines, ScriptedServer::ExpectLine());
        script.push_back(ScriptedServer::Send(row.header + row.body));
        script.push_back(ScriptedServer::Reset());
        ScriptedServer server(script);

        EXPECT_EQ(GetError("http://" + AddressOf(server) + "/p.jpg"), row.error);

        EXPECT_FALSE(http.Connected());
        if (row.error.empty()) {
            EXPECT_EQ(ReadWholeFile(BodyPath()), row.body);
        }
    }
}

TEST_F(HttpClient, KeepsOnlyTheLastCookieOfTheLatestResponse) {
    ScriptedServer server(
        std::vector<ScriptedServer::Script>{Answer("HTTP/1.0 200 OK\r\nSet-Cookie: a=1\r\n"
                                                   "SET-COOKIE: b=2; path=/\r\n\r\n"),
                                            Answer("HTTP/1.0 200 OK\r\n\r\n")});
    const std::string url = "http://" + AddressOf(server) + "/";

    EXPECT_EQ(GetError(url), "");
    EXPECT_EQ(http.ReceivedCookie(), "b=2; path=/");
    EXPECT_EQ(GetError(url), "");
    EXPECT_EQ(http.ReceivedCookie(), "");
    EXPECT_EQ(http.HeaderInfo.Cookie, ""); // only a redirect copies it
}

TEST_F(HttpClient, FollowsARelativeRedirectToTheSameServerWithItsCookie) {
    ScriptedServer server(std::vector<ScriptedServer::Script>{
        Answer("HTTP/1.0 302 Found\r\nSet-Cookie: sid=9\r\n"
               "Location: /next/page.html\r\n\r\nmoved"),
        Answer("HTTP/1.0 200 OK\r\n\r\nfinal", PlainRequestLines + 1)});
    std::vector<CmdType> successes;
    http.OnSuccess = [&](CmdType cmd) { successes.push_back(cmd); };

    EXPECT_EQ(GetError("http://" + AddressOf(server) + "/start"), "");

    ASSERT_EQ(server.Connections(), 2u);
    EXPECT_EQ(server.Received(1), "GET /next/page.html HTTP/1.0\r\nHost: 127.0.0.1\r\n" + Accepts +
                                      Agent + "Cookie: sid=9\r\n" + ContentType + "\r\n");
    EXPECT_EQ(http.HeaderInfo.Cookie, "sid=9");
    EXPECT_EQ(http.URL(), "/next/page.html");
    EXPECT_EQ(ReadWholeFile(BodyPath()), "final");
    EXPECT_EQ(successes.size(), 1u); // the 302 is neither success nor failure
}

TEST_F(HttpClient, SlashLessLocationIsTakenFromTheServerRoot) {
    // Through a proxy the rebuilt URL is visible in the request line.
    ScriptedServer proxy(std::vector<ScriptedServer::Script>{
        Answer("HTTP/1.0 301 Moved\r\nLocation: other.html\r\n\r\n", PlainRequestLines + 1),
        Answer("HTTP/1.0 200 OK\r\n\r\n", PlainRequestLines + 1)});
    http.Proxy = "127.0.0.1";
    http.ProxyPort = proxy.Port();
    EXPECT_EQ(GetError("http://www.gallery-a.test/dir/page.html"), "");
    ASSERT_EQ(proxy.Connections(), 2u);
    EXPECT_EQ(proxy.Received(1).substr(0, proxy.Received(1).find("\r\n")),
              "GET http://www.gallery-a.test/other.html HTTP/1.0");

    // Directly, on a port other than 80, the next request still goes to the same server.
    ScriptedServer direct(std::vector<ScriptedServer::Script>{
        Answer("HTTP/1.0 302 Found\r\nLocation: other.html\r\n\r\n"),
        Answer("HTTP/1.0 200 OK\r\n\r\nthere")});
    http.Proxy.clear();
    EXPECT_EQ(GetError("http://" + AddressOf(direct) + "/dir/page.html"), "");
    EXPECT_EQ(http.URL(), "http://127.0.0.1:" + std::to_string(direct.Port()) + "/other.html");
    EXPECT_EQ(ReadWholeFile(BodyPath()), "there");
}

TEST_F(HttpClient, RedirectHandledByTheCallerStops) {
    ScriptedServer server(Answer("HTTP/1.0 302 Found\r\nSet-Cookie: c=1\r\n"
                                 "Location: /elsewhere\r\n\r\n"));
    int redirects = 0;
    http.OnRedirect = [&](bool& handled) {
        ++redirects;
        handled = true;
    };

    EXPECT_EQ(GetError("http://" + AddressOf(server) + "/"), "");

    EXPECT_EQ(redirects, 1);
    EXPECT_EQ(server.Connections(), 1u);
    EXPECT_EQ(http.URL(), "/elsewhere");
    EXPECT_EQ(http.HeaderInfo.Cookie, "c=1");
}

TEST_F(HttpClient, AnEndlessRedirectChainEndsWithAnError) {
    // One script serves every connection.
    ScriptedServer server(Answer("HTTP/1.0 302 Found\r\nLocation: /again\r\n\r\n"));

    EXPECT_EQ(GetError("http://" + AddressOf(server) + "/"), "ESockError: Too many redirects");
    EXPECT_EQ(server.Connections(), 21u); // the first request and twenty redirects
    EXPECT_FALSE(http.Connected());
}

TEST_F(HttpClient, ErrorStatusStoresTheErrorPageAndRaisesNothing) {
    ScriptedServer server(Answer("HTTP/1.0 404 Not Found\r\n\r\n<html>gone</html>"));
    std::vector<CmdType> failures;
    http.OnFailure = [&](CmdType cmd) { failures.push_back(cmd); };
    http.ReportLevel = 2;

    EXPECT_EQ(GetError("http://" + AddressOf(server) + "/missing.jpg"), "");

    EXPECT_EQ(http.ReplyCode(), 404);
    EXPECT_EQ(ReadWholeFile(BodyPath()), "<html>gone</html>");
    EXPECT_EQ(failures, std::vector<CmdType>{CmdType::Get});
    EXPECT_TRUE(statuses.empty());
}

TEST_F(HttpClient, ReadsTheBodyUntilTheServerClosesWhateverTheAnnouncedLength) {
    std::string body(3 * 1024 * 1024 + 7, '\0');
    for (size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<char>(i * 131 % 251);
    ScriptedServer server(Answer("HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\n" + body));

    EXPECT_EQ(GetError("http://" + AddressOf(server) + "/big.jpg"), "");

    EXPECT_TRUE(ReadWholeFile(BodyPath()) == body);
}

TEST_F(HttpClient, ReadsAHeaderSplitAcrossSegments) {
    ScriptedServer::Script script(PlainRequestLines, ScriptedServer::ExpectLine());
    for (const char* part :
         {"HTTP/1.0 20", "0 OK\r\nSet-Coo", "kie: k=v\r", "\n\r", "\nbo", "dy"}) {
        script.push_back(ScriptedServer::Send(part));
        script.push_back(ScriptedServer::Stall(30));
    }
    script.push_back(ScriptedServer::Close());
    ScriptedServer server(script);

    EXPECT_EQ(GetError("http://" + AddressOf(server) + "/"), "");

    EXPECT_EQ(http.ReplyCode(), 200);
    EXPECT_EQ(http.ReceivedCookie(), "k=v");
    EXPECT_EQ(http.Header, "HTTP/1.0 200 OK\r\nSet-Cookie: k=v\r\n\r\n");
    EXPECT_EQ(ReadWholeFile(BodyPath()), "body");
}

TEST_F(HttpClient, RefusesAReplyCodeTooLargeForSixteenBits) {
    ScriptedServer server(Answer("HTTP/1.0 99999 X\r\n\r\nbody"));

    const std::string error = GetError("http://" + AddressOf(server) + "/");

    EXPECT_EQ(error, "ESockError: Reply code out of range: 99999");
    EXPECT_EQ(http.ReplyCode(), 0);
    EXPECT_FALSE(platform::FileExists(BodyPath()));
    EXPECT_FALSE(http.Connected());
}

TEST_F(HttpClient, KeepsTheHeaderAndBodyInTextWhenFileModesAreOff) {
    ScriptedServer server(Answer("HTTP/1.0 200 OK\r\nX: 1\r\n\r\nin memory"));
    http.InputFileMode = false;

    EXPECT_EQ(GetError("http://" + AddressOf(server) + "/"), "");

    EXPECT_EQ(http.Body, "in memory");
    EXPECT_EQ(http.Header, "HTTP/1.0 200 OK\r\nX: 1\r\n\r\n");
}

TEST_F(HttpClient, WritesTheHeaderToItsFileInOutputFileMode) {
    ScriptedServer server(Answer("HTTP/1.0 200 OK\r\nX: 1\r\n\r\nb"));
    http.OutputFileMode = true;
    http.Header = dir.path().toStdString() + "/head.txt";

    EXPECT_EQ(GetError("http://" + AddressOf(server) + "/"), "");

    EXPECT_EQ(ReadWholeFile(http.Header), "HTTP/1.0 200 OK\r\nX: 1\r\n\r\n");
}

TEST_F(HttpClient, BodyFileThatCannotBeCreatedFailsAfterTheHeader) {
    ScriptedServer server(Answer("HTTP/1.0 200 OK\r\nSet-Cookie: s=1\r\n\r\nbody"));
    http.Body = dir.path().toStdString() + "/missing/body.html";

    EXPECT_EQ(GetError("http://" + AddressOf(server) + "/"),
              "EFileError: Cannot create file " + http.Body);

    EXPECT_EQ(http.ReceivedCookie(), "s=1");
    EXPECT_FALSE(http.Connected());
}

TEST_F(HttpClient, GivesUpOnAHeaderThatNeverEnds) {
    std::string lines;
    while (lines.size() <= 1024 * 1024)
        lines += "X-Filler: " + std::string(100, 'f') + "\r\n";
    ScriptedServer server(Answer("HTTP/1.0 200 OK\r\n" + lines));

    EXPECT_EQ(GetError("http://" + AddressOf(server) + "/"),
              "ESockError: Response header too long");
    EXPECT_FALSE(http.Connected());
    EXPECT_FALSE(platform::FileExists(BodyPath()));

    // One endless line is refused as soon as it outgrows the limit, not when memory runs out.
    ScriptedServer endless({ScriptedServer::ExpectUntil("\r\n\r\n"),
                            ScriptedServer::Send("HTTP/1.0 200 OK\r\nX-Filler: "),
                            ScriptedServer::Send(std::string(1024 * 1024 + 1, 'f')),
                            ScriptedServer::Stall(-1)});
    EXPECT_EQ(GetError("http://" + AddressOf(endless) + "/"), "ESockError: Line too long");
    EXPECT_FALSE(http.Connected());
}

TEST_F(HttpClient, PostSendsItsDecodedDataAndARedirectRepeatsAsGet) {
    ScriptedServer::Script post(PlainRequestLines + 1, ScriptedServer::ExpectLine());
    post.insert(post.end(), {ScriptedServer::ExpectBytes(5),
                             ScriptedServer::Send("HTTP/1.0 302 Found\r\nLocation: /done\r\n\r\n"),
                             ScriptedServer::Close()});
    ScriptedServer server(
        std::vector<ScriptedServer::Script>{post, Answer("HTTP/1.0 200 OK\r\n\r\nok")});

    EXPECT_NO_THROW(http.Post("http://" + AddressOf(server) + "/form", "a%3Db+c"));

    ASSERT_EQ(server.Connections(), 2u);
    EXPECT_EQ(server.Received(0), "POST /form HTTP/1.0\r\nHost: 127.0.0.1\r\n" + Accepts + Agent +
                                      ContentType + "Content-Length: 5\r\n\r\na=b c");
    EXPECT_EQ(server.Received(1).substr(0, 20), "GET /done HTTP/1.0\r\n");
}

TEST_F(HttpClient, CutsALongPathDirectlyButSendsTheWholeUrlToAProxy) {
    const std::string path = "/" + std::string(20000, 'p');
    ScriptedServer server(std::vector<ScriptedServer::Script>{
        Answer("HTTP/1.0 200 OK\r\n\r\n"),
        Answer("HTTP/1.0 200 OK\r\n\r\n", PlainRequestLines + 1)});

    EXPECT_EQ(GetError("http://" + AddressOf(server) + path), "");
    http.Proxy = "127.0.0.1";
    http.ProxyPort = server.Port();
    EXPECT_EQ(GetError("http://www.gallery-a.test" + path), "");

    ASSERT_EQ(server.Connections(), 2u);
    EXPECT_EQ(server.Lines(0).front(), "GET " + path.substr(0, 256) + " HTTP/1.0\r\n");
    EXPECT_EQ(server.Lines(1).front(), "GET http://www.gallery-a.test" + path + " HTTP/1.0\r\n");
}

TEST_F(HttpClient, StatusClassesDecideEventsCookieCopyAndRepeats) {
    // 299 and 399 repeat the exchange but are no redirect: their cookies are not copied and
    // OnRedirect is not asked. 398 is the last redirect code. 401 ends it as a failure.
    ScriptedServer server(std::vector<ScriptedServer::Script>{
        Answer("HTTP/1.0 299 Odd\r\nSet-Cookie: a=1\r\n\r\n"),
        Answer("HTTP/1.0 399 Odd\r\nSet-Cookie: b=2\r\nLocation: /next\r\n\r\n"),
        Answer("HTTP/1.0 398 Odd\r\nSet-Cookie: c=3\r\nLocation: /last\r\n\r\n"),
        Answer("HTTP/1.0 401 Unauthorized\r\n\r\ndenied", PlainRequestLines + 1)});
    std::vector<std::string> events;
    http.ReportLevel = 2;
    http.OnSuccess = [&](CmdType) { events.push_back("success"); };
    http.OnFailure = [&](CmdType) {
        events.push_back("failure " + std::to_string(http.ReplyCode()));
    };
    http.OnRedirect = [&](bool&) {
        events.push_back("redirect " + std::to_string(http.ReplyCode()) + " " +
                         http.HeaderInfo.Cookie);
    };
    http.OnAuthenticationNeeded = [&](TComponent*) { events.push_back("authentication"); };

    EXPECT_EQ(GetError("http://" + AddressOf(server) + "/first"), "");

    ASSERT_EQ(server.Connections(), 4u);
    const auto requestLine = [&](size_t n) {
        return server.Received(n).substr(0, server.Received(n).find("\r\n"));
    };
    EXPECT_EQ(requestLine(0), "GET /first HTTP/1.0");
    EXPECT_EQ(requestLine(1), "GET /first HTTP/1.0");
    EXPECT_EQ(server.Received(1).find("Cookie:"), std::string::npos);
    EXPECT_EQ(requestLine(2), "GET /next HTTP/1.0");
    EXPECT_EQ(server.Received(2).find("Cookie:"), std::string::npos);
    EXPECT_EQ(requestLine(3), "GET /last HTTP/1.0");
    EXPECT_NE(server.Received(3).find("\r\nCookie: c=3\r\n"), std::string::npos);
    EXPECT_EQ(events,
              (std::vector<std::string>{"redirect 398 c=3", "failure 401", "authentication"}));
    EXPECT_TRUE(statuses.empty());
    EXPECT_EQ(ReadWholeFile(BodyPath()), "denied");

    // 298 is still a success.
    ScriptedServer last(Answer("HTTP/1.0 298 Fine\r\n\r\n", PlainRequestLines + 1));
    events.clear();
    EXPECT_EQ(GetError("http://" + AddressOf(last) + "/"), "");
    EXPECT_EQ(events, std::vector<std::string>{"success"});
    EXPECT_EQ(statuses, std::vector<std::string>{"Transaction Completed"});
}
