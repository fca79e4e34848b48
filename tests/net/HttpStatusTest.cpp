#include "HttpTestSupport.h"

#include <QCoreApplication>
#include <QEvent>

namespace {

const char* const Response = "HTTP/1.0 200 OK\r\nServer: t\r\n\r\nbody";

class HttpStatus : public HttpTest {
protected:
    // The statuses of one Get at a report level. The pump steps are kept apart, since their
    // number depends on how the bytes happen to arrive.
    std::vector<std::string> StatusesOfOneGet(int level, const std::string& host, int port) {
        http.ReportLevel = level;
        std::vector<std::string> statuses;
        http.OnStatus = [&](TComponent*, const std::string& text) {
            if (text == "WriteFromStream" || text == "ReadToStream")
                pumpSteps.push_back(text);
            else
                statuses.push_back(text);
        };
        http.Get("http://" + host + ":" + std::to_string(port) + "/p");
        return statuses;
    }

    std::vector<std::string> pumpSteps;
};

bool Has(const std::vector<std::string>& texts, const std::string& text) {
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

} // namespace

TEST_F(HttpStatus, LevelEightReportsEveryStepOfOneGetInOrder) {
    ScriptedServer server(Answer(Response));

    // A dotted address needs no lookup: no timer pair between "Resolve Host" and the connect's.
    EXPECT_EQ(StatusesOfOneGet(8, "127.0.0.1", server.Port()),
              (std::vector<std::string>{
                  "Connecting", "Resolve Host", "Timer On", "Timer Off", "Write", "Sending Buffer",
                  "ReadLn", "ReadLn", "ReadLn", "CaptureFile", "Request Close Socket",
                  "Transaction Completed", "Disconnecting", "Request Close Socket"}));
    EXPECT_TRUE(Has(pumpSteps, "WriteFromStream"));
    EXPECT_TRUE(Has(pumpSteps, "ReadToStream"));
}

// Every event the client posted to itself would cost the loop a wake-up: a page or a small
// picture needs none, from the connect to the close.
TEST_F(HttpStatus, ASmallAnswerIsFetchedWithoutPostingAnything) {
    class PostedEvents : public QObject {
    public:
        int count = 0;
        bool eventFilter(QObject*, QEvent* event) override {
            if (event->type() >= QEvent::User || event->type() == QEvent::MetaCall)
                ++count;
            return false;
        }
    } posted;
    ScriptedServer server(Answer(std::string(Response) + std::string(40000, 'x')));
    QCoreApplication::instance()->installEventFilter(&posted);
    StatusesOfOneGet(8, "127.0.0.1", server.Port());
    QCoreApplication::instance()->removeEventFilter(&posted);
    EXPECT_EQ(ReadWholeFile(BodyPath()), "body" + std::string(40000, 'x'));
    EXPECT_EQ(posted.count, 0);
}

TEST_F(HttpStatus, LevelEightShowsTheLookupTimerPairForAHostName) {
    ScriptedServer server(Answer(Response));

    const auto statuses = StatusesOfOneGet(8, "gallery.test", server.Port());

    ASSERT_GE(statuses.size(), 6u);
    EXPECT_EQ(std::vector<std::string>(statuses.begin(), statuses.begin() + 6),
              (std::vector<std::string>{"Connecting", "Resolve Host", "Timer On", "Timer Off",
                                        "Timer On", "Timer Off"}));
}

TEST_F(HttpStatus, LowerLevelsReportOnlyTheCompletionOrNothing) {
    ScriptedServer server(Answer(Response));
    EXPECT_EQ(StatusesOfOneGet(2, "127.0.0.1", server.Port()),
              std::vector<std::string>{"Transaction Completed"});
    EXPECT_EQ(StatusesOfOneGet(1, "127.0.0.1", server.Port()), std::vector<std::string>{});
}

TEST_F(HttpStatus, TimeOutDuringTheLookupFiresTheTimerAndCancels) {
    http.TimeOut = 60;
    std::vector<std::string> statuses;
    http.ReportLevel = 8;
    http.OnStatus = [&](TComponent*, const std::string& text) { statuses.push_back(text); };

    EXPECT_EQ(GetError("http://silent.test/p"), "ESockError: Host Lookup Timed Out");

    // The timer stops itself, then the lookup's own stop follows the cancel it caused.
    EXPECT_EQ(statuses,
              (std::vector<std::string>{"Connecting", "Resolve Host", "Timer On", "Timer Triggered",
                                        "Timer Off", "Canceling", "Timer Off"}));
    EXPECT_TRUE(http.TimedOut());
    EXPECT_TRUE(http.CancelRequested());
    EXPECT_EQ(http.StatusText(), "Timer Off");
}
