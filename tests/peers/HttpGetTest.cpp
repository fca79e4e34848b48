#include "net/NMHTTP.h"
#include "tests/peers/WebPeers.h"

#include <QTimer>
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

// The HTTP client against a real nginx, directly and through a real tinyproxy: what it stores must
// be the served file byte for byte, whatever its size relative to the client's chunks.

namespace {

enum class Route { Direct, Proxy };

// A Get that hangs would be killed at ctest's time-out of a minute, saying nothing of where it
// stood: cancel it before that, which turns the hang into an exception the case reports.
class HangGuard {
public:
    explicit HangGuard(TNMHTTP& http, int seconds = 45) {
        timer_.setSingleShot(true);
        QObject::connect(&timer_, &QTimer::timeout, [&http] { http.Cancel(); });
        timer_.start(seconds * 1000);
    }

private:
    QTimer timer_;
};

// Something left by an earlier attempt, longer than most served files: a Get must replace it.
void PutStaleFile(const std::string& path) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << std::string(100000, 'x');
}

class RealWebPeers : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        startError_.clear();
        try {
            WebPeers::Get();
        } catch (const std::exception& error) {
            startError_ = error.what();
        }
    }

    void SetUp() override {
        // A peer that is not there is a failure, never a skip: the command that runs the tests
        // installs them.
        if (!startError_.empty())
            FAIL() << "cannot start the web peers: " << startError_;
    }

    static WebPeers& Peers() { return WebPeers::Get(); }

    void UseRoute(TNMHTTP& http, Route route) {
        http.Proxy = route == Route::Proxy ? "127.0.0.1" : "";
        http.ProxyPort = route == Route::Proxy ? Peers().Proxy().Port() : 0;
    }

    static std::string startError_;
};

std::string RealWebPeers::startError_;

std::string RouteName(Route route) {
    return route == Route::Direct ? "Direct" : "ViaTinyproxy";
}

class HttpFileTransfer : public RealWebPeers,
                         public ::testing::WithParamInterface<std::tuple<Route, uint64_t>> {};

TEST_P(HttpFileTransfer, StoresTheServedFileByteForByte) {
    const auto [route, size] = GetParam();
    const std::string output =
        Peers().OutputPath(RouteName(route) + "-" + WebPeers::FileName(size));
    PutStaleFile(output);

    TNMHTTP http;
    http.InputFileMode = true;
    http.Body = output;
    UseRoute(http, route);
    HangGuard guard(http);
    ASSERT_NO_THROW(http.Get(Peers().Url(size)));

    EXPECT_EQ(http.ReplyCode(), 200);
    EXPECT_EQ(FileDifference(Peers().ServedPath(size), output), "");
    if (route == Route::Proxy) {
        // The request must really have gone through the proxy, in its absolute-URL form.
        EXPECT_NE(Peers().Proxy().Log().find("GET " + Peers().Url(size)), std::string::npos)
            << Peers().Proxy().Log();
    }
}

INSTANTIATE_TEST_SUITE_P(NginxFiles, HttpFileTransfer,
                         ::testing::Combine(::testing::Values(Route::Direct, Route::Proxy),
                                            ::testing::ValuesIn(WebPeers::FileSizes())),
                         [](const ::testing::TestParamInfo<std::tuple<Route, uint64_t>>& info) {
                             return RouteName(std::get<0>(info.param)) + "_" +
                                    std::to_string(std::get<1>(info.param)) + "_bytes";
                         });

using HttpRealPeers = RealWebPeers;

// The main window keeps one client for a whole job and switches the proxy between jobs: nothing of
// one response (buffered bytes, the cancel flag, the host) may leak into the next.
TEST_F(HttpRealPeers, OneClientFetchesEverySizeInTurnWithAndWithoutProxy) {
    TNMHTTP http;
    http.InputFileMode = true;
    HangGuard guard(http);
    std::vector<uint64_t> sizes = WebPeers::FileSizes();
    // Large after small and small after large, on both routes.
    std::vector<uint64_t> order(sizes.rbegin(), sizes.rend());
    order.insert(order.end(), sizes.begin(), sizes.end());
    int step = 0;
    for (const uint64_t size : order) {
        const Route route = step % 2 ? Route::Proxy : Route::Direct;
        const std::string output = Peers().OutputPath("reused-" + std::to_string(step++));
        http.Body = output;
        UseRoute(http, route);
        ASSERT_NO_THROW(http.Get(Peers().Url(size))) << RouteName(route) << " " << size;
        EXPECT_EQ(http.ReplyCode(), 200) << RouteName(route) << " " << size;
        EXPECT_EQ(FileDifference(Peers().ServedPath(size), output), "")
            << RouteName(route) << " " << size;
    }
}

// A missing file is an answer, not an error: the page the server sent lands in the body file and
// the status tells the caller, with or without the proxy in between.
TEST_F(HttpRealPeers, MissingFileGives404AndKeepsTheErrorPage) {
    for (const Route route : {Route::Direct, Route::Proxy}) {
        TNMHTTP http;
        http.InputFileMode = true;
        http.Body = Peers().OutputPath("missing-" + RouteName(route));
        http.ReportLevel = 8;
        std::vector<std::string> statuses;
        http.OnStatus = [&](TComponent*, const std::string& text) { statuses.push_back(text); };
        UseRoute(http, route);
        HangGuard guard(http);
        ASSERT_NO_THROW(http.Get(Peers().Nginx().Url("no/such/file.bin"))) << RouteName(route);

        EXPECT_EQ(http.ReplyCode(), 404) << RouteName(route);
        EXPECT_NE(peers::ReadTextFile(http.Body).find("404 Not Found"), std::string::npos)
            << RouteName(route);
        EXPECT_EQ(std::count(statuses.begin(), statuses.end(), "Transaction Completed"), 0)
            << RouteName(route);
    }
}

// tinyproxy answers for an origin it cannot reach; that answer, not a socket error, is what the
// caller gets.
TEST_F(HttpRealPeers, ProxyReportsAnUnreachableOriginAsAServerError) {
    TNMHTTP http;
    http.InputFileMode = true;
    http.Body = Peers().OutputPath("unreachable");
    UseRoute(http, Route::Proxy);
    HangGuard guard(http);
    const std::string closedPort = std::to_string(peers::FreeLoopbackPort());
    ASSERT_NO_THROW(http.Get("http://127.0.0.1:" + closedPort + "/file.bin"));
    EXPECT_EQ(http.ReplyCode(), 500);
}

// The main window's stall watchdog counts status events as signs of life: a large download must
// raise them all along, one per received chunk of at most 16383 bytes, and close with one
// "Transaction Completed".
TEST_F(HttpRealPeers, LargeDownloadReportsEveryChunk) {
    TNMHTTP http;
    http.InputFileMode = true;
    http.Body = Peers().OutputPath("watched");
    http.ReportLevel = 8;
    std::vector<std::string> statuses;
    http.OnStatus = [&](TComponent*, const std::string& text) { statuses.push_back(text); };
    HangGuard guard(http);
    ASSERT_NO_THROW(http.Get(Peers().Url(WebPeers::LargeSize)));

    const auto chunks = std::count(statuses.begin(), statuses.end(), "ReadToStream");
    EXPECT_GE(uint64_t(chunks), (WebPeers::LargeSize + 16382) / 16383);
    EXPECT_EQ(std::count(statuses.begin(), statuses.end(), "Transaction Completed"), 1);
    ASSERT_FALSE(statuses.empty());
    EXPECT_EQ(statuses.front(), "Connecting");
}

} // namespace
