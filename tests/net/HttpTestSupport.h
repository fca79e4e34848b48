#pragma once

#include "SessionTestSupport.h"
#include "net/NMHTTP.h"
#include "tests/support/ScriptedServer.h"

#include <QTemporaryDir>
#include <fstream>
#include <sstream>

// A request of the client as the main window configures it has this many lines, the blank one
// included; a cookie or the proxy form adds one each.
constexpr int PlainRequestLines = 7;

// Reads a request of requestLines lines, answers with response and closes.
inline ScriptedServer::Script Answer(const std::string& response,
                                     int requestLines = PlainRequestLines) {
    ScriptedServer::Script script(static_cast<size_t>(requestLines), ScriptedServer::ExpectLine());
    script.push_back(ScriptedServer::Send(response));
    script.push_back(ScriptedServer::Close());
    return script;
}

inline std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

inline std::string AddressOf(const ScriptedServer& server) {
    return "127.0.0.1:" + std::to_string(server.Port());
}

// The client as the main window configures it: body to a file, the window's header values.
class HttpTest : public FakeResolverTest {
protected:
    void SetUp() override {
        FakeResolverTest::SetUp();
        ASSERT_TRUE(dir.isValid());
        http.InputFileMode = true;
        http.Body = BodyPath();
        http.HeaderInfo.LocalMailAddress = "ie 6.0.2800.1106IC";
        http.HeaderInfo.UserId = "Internet Explorer";
    }

    std::string BodyPath() const { return dir.path().toStdString() + "/body.html"; }

    // What Get raised, as "<class>: <message>", or "" when it returned.
    std::string GetError(const std::string& url) {
        try {
            http.Get(url);
        } catch (const EAbortError& e) {
            return std::string("EAbortError: ") + e.what();
        } catch (const ESockError& e) {
            return std::string("ESockError: ") + e.what();
        } catch (const EFileError& e) {
            return std::string("EFileError: ") + e.what();
        } catch (const Exception& e) {
            return std::string("Exception: ") + e.what();
        }
        return "";
    }

    QTemporaryDir dir;
    TNMHTTP http;
};
