#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A TCP server on 127.0.0.1 for protocol tests. It listens on a free port, and for every
// connection it accepts, one after the other, it runs a script: read a line or a number of
// bytes, send bytes, pause, close or reset. It records everything the client sent. It runs on
// its own thread with plain blocking-style sockets, so the client under test can keep the GUI
// thread and its event loop to itself.
//
//     ScriptedServer server({ScriptedServer::ExpectLine(),
//                            ScriptedServer::Send("250 OK\r\n"),
//                            ScriptedServer::Close()});
//     client.Host = "127.0.0.1";
//     client.Port = server.Port();
//     ... client talks ...
//     EXPECT_EQ(server.Lines(0), std::vector<std::string>{"NOOP\r\n"});
//
// Stop() (and the destructor) ends the steps in progress at once; to check what a client sent,
// wait for it first with WaitReceived or WaitFinished.
//
// Connection n runs script n of the scripts given, the last script serving all further ones.
// When a script ends without closing, the server reads until the client closes and records
// those bytes too (so a test sees everything that was sent). Every step gives up when the
// server is stopped, so a test never hangs in the destructor.
//
// For FTP a connection has a data side as well. In active mode ExpectPort reads a "PORT" line
// and keeps its address (it must be a loopback one) and OpenData connects to it. In passive
// mode ExpectPasv reads the command, listens on a fresh port of 127.0.0.1 and announces it in
// a 227 reply; OpenData then accepts the client's connection there. The listener takes the
// connection whenever the client makes it, so where OpenData stands in the script decides
// only how strict it is: before the ExpectLine of a RETR it demands that the client connect
// before sending the command (a client that waits for the 150 first never gets it), after the
// 150 it accepts either order. Either way SendData and SendDataPattern send on the data
// connection and CloseData closes it; a script that leaves it open has it closed at its end,
// and the passive listener is closed by the next ExpectPasv or ExpectPort or at the end.
//
//     ScriptedServer server({ScriptedServer::ExpectPasv(), ScriptedServer::OpenData(),
//                            ScriptedServer::ExpectLine(), ScriptedServer::Send("150 Here.\r\n"),
//                            ScriptedServer::SendData(listing), ScriptedServer::CloseData(),
//                            ScriptedServer::Send("226 Done.\r\n")});
//     ...
//     EXPECT_EQ(server.DataPeers(0), std::vector<std::string>{"127.0.0.1"});
class ScriptedServer {
public:
    struct Step {
        enum class Kind {
            ExpectLine,
            ExpectUntil,
            ExpectBytes,
            Send,
            SendPattern,
            Stall,
            Close,
            Reset,
            ExpectPort,
            ExpectPasv,
            OpenData,
            SendData,
            SendDataPattern,
            CloseData,
            Silent,
            StrangerData
        };
        Kind kind;
        std::string bytes;
        size_t count = 0;
        int milliseconds = 0;
        std::string named = {}; // the address a 227 reply announces
    };
    using Script = std::vector<Step>;

    // Reads up to and including the next LF (and records it as a line).
    static Step ExpectLine() { return {Step::Kind::ExpectLine, {}, 0, 0}; }
    // Reads up to and including the first occurrence of terminator ("\r\n\r\n" takes a whole
    // HTTP request header) and records it as one entry of Lines().
    static Step ExpectUntil(std::string terminator) {
        return {Step::Kind::ExpectUntil, std::move(terminator), 0, 0};
    }
    // Reads exactly count bytes (fewer if the client closes first).
    static Step ExpectBytes(size_t count) { return {Step::Kind::ExpectBytes, {}, count, 0}; }
    static Step Send(std::string bytes) { return {Step::Kind::Send, std::move(bytes), 0, 0}; }
    // Sends count bytes of Pattern(0, count), without holding them in memory at once.
    static Step SendPattern(size_t count) { return {Step::Kind::SendPattern, {}, count, 0}; }
    // Pauses for milliseconds; a negative time pauses until the server stops.
    static Step Stall(int milliseconds) { return {Step::Kind::Stall, {}, 0, milliseconds}; }
    // Closes in order: the client reads what was sent and then the end.
    static Step Close() { return {Step::Kind::Close, {}, 0, 0}; }
    // Closes with a reset: the client sees the connection reset.
    static Step Reset() { return {Step::Kind::Reset, {}, 0, 0}; }

    // Reads a line like ExpectLine; when it is "PORT h1,h2,h3,h4,p1,p2" with a 127.x.x.x
    // address, that address is where OpenData connects.
    static Step ExpectPort() { return {Step::Kind::ExpectPort, {}, 0, 0}; }
    // Reads a line like ExpectLine, listens on a free port of 127.0.0.1 and sends reply with
    // "{h}" replaced by named written with commas ("127,0,0,2") and "{p}" by the port as
    // "p1,p2". The listener is on 127.0.0.1 only whatever named says, so a client that trusts
    // an announced 127.0.0.2 rather than the control connection's peer is refused. named must
    // be a 127.x.x.x address: a client under test may well connect to it.
    static Step ExpectPasv(std::string named = "127.0.0.1",
                           std::string reply = "227 Entering Passive Mode ({h},{p}).\r\n");
    // After ExpectPasv: accepts one connection on the passive listener, waiting for it as long
    // as the server runs. Otherwise: connects the data side to the last PORT address (nothing
    // happens without one).
    static Step OpenData() { return {Step::Kind::OpenData, {}, 0, 0}; }
    static Step SendData(std::string bytes) {
        return {Step::Kind::SendData, std::move(bytes), 0, 0};
    }
    static Step SendDataPattern(size_t count) {
        return {Step::Kind::SendDataPattern, {}, count, 0};
    }
    static Step CloseData() { return {Step::Kind::CloseData, {}, 0, 0}; }
    // Says nothing more until the client closes (what it sends meanwhile is recorded).
    static Step Silent() { return {Step::Kind::Silent, {}, 0, 0}; }
    // A third party (active mode): connects to the last PORT address from 127.0.0.2 and sends
    // bytes there, leaving its connection open until the script ends.
    static Step StrangerData(std::string bytes) {
        return {Step::Kind::StrangerData, std::move(bytes), 0, 0};
    }

    // Deterministic test bytes: byte i of the stream is Pattern(i, 1).
    static std::string Pattern(size_t offset, size_t count);

    explicit ScriptedServer(Script script)
        : ScriptedServer(std::vector<Script>{std::move(script)}) {}
    explicit ScriptedServer(std::vector<Script> scripts);
    ~ScriptedServer();
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    uint16_t Port() const { return port_; }
    // Ends every step in progress and the thread; called by the destructor.
    void Stop();

    // Connections accepted so far.
    size_t Connections() const;
    // Everything the client sent on connection n, as far as the server has read it.
    std::string Received(size_t connection) const;
    // The lines read by ExpectLine (and ExpectUntil) steps on connection n, line ends included.
    std::vector<std::string> Lines(size_t connection) const;
    // The local address of every passive data connection accepted on connection n, in order
    // ("127.0.0.1"): how many there were and where the client connected.
    std::vector<std::string> DataPeers(size_t connection) const;
    // Blocks until the client has sent at least count bytes on connection n and the server has
    // read them; false when that takes longer than milliseconds. Used before Stop(), which
    // ends every step at once, so that a test sees everything the client sent. (The step that
    // read them may record its line a moment later: Lines() is safe once the server has
    // answered it, or after WaitFinished.)
    bool WaitReceived(size_t connection, size_t count, int milliseconds) const;
    // Blocks until connection n has run its script to the end (and the client closed, where
    // the script left that to the client); false when that takes longer than milliseconds.
    bool WaitFinished(size_t connection, int milliseconds) const;

private:
    struct Record {
        std::string received;
        std::vector<std::string> lines;
        std::vector<std::string> dataPeers;
        bool finished = false;
    };

    void Run();
    void Serve(int fd, const Script& script, size_t index);
    // Waits until fd is ready for the given poll events or the server stops; false on stop.
    bool Ready(int fd, short events, int milliseconds) const;
    // Reads more into the pending buffer of a connection; false at the end or on stop.
    bool ReadMore(int fd, std::string& pending, size_t index);
    bool SendAll(int fd, const char* data, size_t size);
    bool SendPattern(int fd, size_t count);

    std::vector<Script> scripts_;
    int listenFd_ = -1;
    int wakeFds_[2] = {-1, -1};
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<Record> records_;
    std::thread thread_;
};
