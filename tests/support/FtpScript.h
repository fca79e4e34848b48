#pragma once

#include "tests/support/ScriptedServer.h"

#include <initializer_list>
#include <string>

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

// PASV answered as vsftpd does, announcing named (a 127.x.x.x address) and a fresh port.
inline Script Pasv(const std::string& named = "127.0.0.1") {
    return {Server::ExpectPasv(named)};
}

// A RETR or LIST answered with preliminary, then the data sent and closed, then closing. The
// data connection is the one the PORT or PASV before it set up; after a PASV the client may
// connect before or after the command.
inline Script Transfer(const std::string& preliminary, const std::string& data,
                       const std::string& closing = "226 Transfer complete.\r\n") {
    return {Server::ExpectLine(),   Server::Send(preliminary), Server::OpenData(),
            Server::SendData(data), Server::CloseData(),       Server::Send(closing)};
}

inline Script Cwd(const std::string& reply = "250 Directory successfully changed.\r\n") {
    return Answer(reply);
}

// A file's line in a Unix listing.
inline std::string ListingLine(const std::string& name, size_t size) {
    return "-rw-r--r--    1 ftp      ftp      " + std::to_string(size) + " Dec 08 14:08 " + name +
           "\r\n";
}

inline std::string OpeningFor(const std::string& name, size_t size) {
    return "150 Opening BINARY mode data connection for " + name + " (" + std::to_string(size) +
           " bytes).\r\n";
}

// PORT and RETR of a whole file, as vsftpd answers them.
inline Script Retr(const std::string& name, const std::string& bytes) {
    return Join({Port(), Transfer(OpeningFor(name, bytes.size()), bytes)});
}

// PASV and RETR of a whole file, as vsftpd answers them.
inline Script RetrPassive(const std::string& name, const std::string& bytes) {
    return Join({Pasv(), Transfer(OpeningFor(name, bytes.size()), bytes)});
}

} // namespace ftpscript
