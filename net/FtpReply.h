#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class TPowersock;
class TThreadTimer;

// One whole reply of an FTP server: the code of its first line, that line as received (line end
// included) and every line, the first among them.
struct TFtpReply {
    int code = 0;
    std::string first;
    std::vector<std::string> lines;

    // "1yz": the command's own reply is still to come.
    bool Preliminary() const { return code >= 100 && code <= 199; }
};

// How a reply is judged, by the code of its first line. The bounds differ on purpose, and each
// is the one servers and callers have relied on; they are kept apart so that no caller borrows
// another's.
namespace ftpreply {

// A reply or listing line longer than this is hostile: without a bound it would fill memory
// while the wait still sees the connection as alive.
inline constexpr size_t MaxLineBytes = 1 << 20;

// The code of a reply line: its leading digits, 0 when it has none.
int CodeOf(std::string_view line);

// USER and PASS: 401 to 599. A bare 400 has always passed the login; 3yz (331, 332) asks for
// the next login step.
bool LoginRefused(int code);
// A command of ExecuteCommand: 400 to 599, the negative replies. A 3yz is an intermediate
// answer the caller may go on from.
bool CommandFailed(int code);
// The steps of a transfer (PORT, PASV, LIST, RETR) and QUIT: 301 to 599. A transfer step
// answered 3yz wants more than the client has to give; a bare 300 has always been let through.
bool StepRefused(int code);
// The closing reply of a transfer: 400 to 599. Any negative reply there means the server did not
// send everything (426, 451, ...), whatever the data connection showed.
bool ClosingFailed(int code);
// 500 to 502: the server does not know the command, or its arguments.
bool Unsupported(int code);
// A PORT refused (any 4yz or 5yz): active mode cannot work with this server.
bool ActiveRefused(int code);
// 425: the server could not open (or take) the data connection.
bool NoDataConnection(int code);
// 421 and 426 at the start of what the control connection received: the server gives up the
// session or the transfer, whatever was asked.
bool IsServerAbort(std::string_view received);
// While the data connection is awaited, any 4yz or 5yz reply means it will not come.
bool RefusesData(std::string_view received);

// The byte count a transfer reply announces: the last "(N bytes)" of any of its lines, in any
// case; without one, the first count ExtractByteCount finds, line by line; otherwise 0.
uint64_t AnnouncedBytes(const std::vector<std::string>& lines);
// The count of one line: its last "(N bytes)" in any case, else the number nearest before the
// word "bytes" in any case unless that is the reply code, else 0.
uint64_t ExtractByteCount(const std::string& line);
// The data port of a 227 reply: the first six comma-separated decimals after the code, each 0
// to 255, in parentheses or not; the last two make the port. 0 when the reply is not a 227 or
// has no such numbers, or names port 0. The address the first four name is not returned: the
// data connection goes to the server's control address whatever the reply names.
uint16_t PassivePort(std::string_view reply);

} // namespace ftpreply

// Reads whole replies off a session's control connection. Each read runs under a deadline; a
// reply of several lines ("xyz-" up to the first line beginning "xyz ") is read to its end and
// every line is reported at level 1. It counts the replies the server still owes, so that a late
// reply is never read as the answer to the next command.
class TFtpReplyReader {
public:
    // maxLines is the session's bound on the lines of one reply, read at each reply. expire
    // runs when a deadline passes, with the text of the error the wait should end in; it cancels
    // the wait. aborted runs when a read was cancelled; it may raise the error the cancel stands
    // for, else the cancel's own error goes on.
    TFtpReplyReader(TPowersock& control, const size_t& maxLines,
                    std::function<void(const std::string&)> expire, std::function<void()> aborted);
    ~TFtpReplyReader();
    TFtpReplyReader(const TFtpReplyReader&) = delete;
    TFtpReplyReader& operator=(const TFtpReplyReader&) = delete;

    // Sends command and reads its reply; owed until a reply other than a preliminary one has
    // come. Its first line is reported by the send itself; the deadline's text is "Timed out
    // waiting for the reply to " + the command's first word. onLine sees each line after the
    // first.
    TFtpReply Exchange(const std::string& command, int milliseconds,
                       const std::function<void(const std::string&)>& onLine = nullptr);
    // Reads replies until one that is not preliminary has come (one owed, or the greeting) and
    // returns that one; one deadline, whose error is text, bounds them all.
    TFtpReply Final(int milliseconds, const std::string& text);

    int Owed() const { return owed_; }
    void Owe(int count) { owed_ = count; }

private:
    class Deadline;
    std::string ReadLine();
    TFtpReply ReadReply();
    void ReadRest(TFtpReply& reply, const std::function<void(const std::string&)>& onLine);

    TPowersock& control_;
    const size_t& maxLines_;
    std::function<void(const std::string&)> expire_;
    std::function<void()> aborted_;
    std::unique_ptr<TThreadTimer> timer_;
    int owed_ = 0;
};
