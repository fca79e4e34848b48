#include "HttpTestSupport.h"
#include "net/HttpTransfer.h"
#include "platform/FileSystem.h"

#include <optional>

namespace {

struct Row {
    const char* name;
    ScriptedServer::Script answer;
    bool whole;
    std::string body; // what the file holds afterwards
};

ScriptedServer::Script After(ScriptedServer::Script answer) {
    answer.insert(answer.begin(), ScriptedServer::ExpectUntil("\r\n\r\n"));
    return answer;
}

} // namespace

// How the side-by-side transfer reads an answer however its bytes arrive: a header that came
// with its body in one piece, a header cut inside its lines, one that outgrows the limit in
// lines or in one endless line (refused at once, nothing stored).
TEST_F(HttpTest, TheSideBySideTransferTakesTheHeaderHoweverItArrives) {
    const std::string hello = "HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello";
    std::string lines;
    while (lines.size() <= 1024 * 1024)
        lines += "X-Filler: " + std::string(100, 'f') + "\r\n";
    const std::vector<Row> rows = {
        {"in one piece", After({ScriptedServer::Send(hello), ScriptedServer::Close()}), true,
         "hello"},
        {"cut inside its lines",
         After({ScriptedServer::Send("HTTP/1.0 200 OK\r\nContent-Le"), ScriptedServer::Stall(30),
                ScriptedServer::Send("ngth: 5\r"), ScriptedServer::Stall(30),
                ScriptedServer::Send("\n\r\nhel"), ScriptedServer::Stall(30),
                ScriptedServer::Send("lo"), ScriptedServer::Close()}),
         true, "hello"},
        {"too long in lines",
         After({ScriptedServer::Send("HTTP/1.0 200 OK\r\n" + lines + "\r\nbody"),
                ScriptedServer::Close()}),
         false, ""},
        {"one endless line",
         After({ScriptedServer::Send("HTTP/1.0 200 OK\r\nX-Filler: "),
                ScriptedServer::Send(std::string(1024 * 1024 + 1, 'f')),
                ScriptedServer::Stall(-1)}),
         false, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        ScriptedServer server(row.answer);
        std::optional<bool> whole;
        {
            TFileStream body(BodyPath(), TFileStream::Mode::Create);
            THttpTransfer transfer("http://" + AddressOf(server) + "/p.jpg", body, {},
                                   [&](bool ended) { whole = ended; });
            transfer.Start();
            platform::WaitUntil([&]() { return whole.has_value(); });
        }
        EXPECT_EQ(*whole, row.whole);
        EXPECT_EQ(ReadWholeFile(BodyPath()), row.body);
    }
}
