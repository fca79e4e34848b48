#pragma once

#include "SessionTestSupport.h"
#include "net/NMFTP.h"
#include "tests/support/FtpScript.h"

#include <QTemporaryDir>
#include <fstream>
#include <initializer_list>
#include <regex>
#include <sstream>

// The client as the program sets it up (anonymous login, status level 1) against one scripted
// server.
class FtpTest : public FakeResolverTest {
protected:
    void SetUp() override {
        FakeResolverTest::SetUp();
        ASSERT_TRUE(dir.isValid());
        ftp.UserID = "Anonymous";
        ftp.Password = "Secret";
        ftp.ReportLevel = 1;
        log.Attach(ftp);
    }

    void Use(const ScriptedServer& server) {
        ftp.Host = "127.0.0.1";
        ftp.Port = server.Port();
    }

    std::string Path(const std::string& name) const {
        return dir.path().toStdString() + "/" + name;
    }

    // What action raised, as "<class>: <message>", or "" when it returned.
    static std::string ErrorOf(const std::function<void()>& action) {
        try {
            action();
        } catch (const FTPException& e) {
            return std::string("FTPException: ") + e.what();
        } catch (const EAbortError& e) {
            return std::string("EAbortError: ") + e.what();
        } catch (const ESockError& e) {
            return std::string("ESockError: ") + e.what();
        } catch (const Exception& e) {
            return std::string("Exception: ") + e.what();
        }
        return "";
    }

    // The command lines the client sent on connection n, line ends removed, with the port
    // numbers of "PORT" lines (which the system picks) shown as "p".
    static std::vector<std::string> Commands(const ScriptedServer& server, size_t n = 0) {
        static const std::regex port(R"(^(PORT 127,0,0,1),\d+,\d+$)");
        std::vector<std::string> lines;
        std::istringstream in(server.Received(n));
        for (std::string line; std::getline(in, line);) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            lines.push_back(std::regex_replace(line, port, "$1,p,p"));
        }
        return lines;
    }

    static std::string FileText(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    QTemporaryDir dir;
    TNMFTP ftp;
    StatusLog log;
};
