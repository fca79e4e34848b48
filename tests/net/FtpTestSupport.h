#pragma once

#include "SessionTestSupport.h"
#include "net/NMFTP.h"
#include "tests/support/ScriptedServer.h"

#include <QTemporaryDir>
#include <fstream>
#include <initializer_list>
#include <regex>
#include <sstream>

// Script pieces of an FTP server, in the words vsftpd uses.
namespace ftpscript {

using Server = ScriptedServer;
using Script = Server::Script;

inline Script Join(std::initializer_list<Script> parts) {
    Script script;
    for (const Script& part : parts)
        script.insert(script.end(), part.begin(), part.end());
    return script;
}

// Reads a command and answers it with reply (whole lines, line ends included).
inline Script Answer(const std::string& reply) {
    return {Server::ExpectLine(), Server::Send(reply)};
}

inline Script Greeting() {
    return {Server::Send("220-Vantrel test server\r\n220 Ready.\r\n")};
}

// USER, PASS and TYPE I as an anonymous login goes.
inline Script Login() {
    return Join({Greeting(), Answer("331 Please specify the password.\r\n"),
                 Answer("230 Login successful.\r\n"), Answer("200 Switching to Binary mode.\r\n")});
}

inline Script Quit() {
    return Join({Answer("221 Goodbye.\r\n"), {Server::Close()}});
}

inline Script Port(const std::string& reply = "200 PORT command successful.\r\n") {
    return {Server::ExpectPort(), Server::Send(reply)};
}

// A RETR or LIST answered with preliminary, then the data sent and closed, then closing.
inline Script Transfer(const std::string& preliminary, const std::string& data,
                       const std::string& closing = "226 Transfer complete.\r\n") {
    return {Server::ExpectLine(),   Server::Send(preliminary), Server::OpenData(),
            Server::SendData(data), Server::CloseData(),       Server::Send(closing)};
}

} // namespace ftpscript

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
