#include "net/FtpReply.h"

#include "net/Powersock.h"
#include "platform/ThreadTimer.h"

#include <algorithm>
#include <cctype>

namespace {

bool IsDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

// The number formed by the leading digits (at most 10), 0 when there are none.
int LeadingCode(std::string_view line) {
    int64_t code = 0;
    for (size_t i = 0; i < line.size() && i < 10 && IsDigit(line[i]); ++i)
        code = code * 10 + (line[i] - '0');
    return code > INT32_MAX ? 0 : static_cast<int>(code);
}

// "xyz-": the first line of a multi-line reply.
bool OpensMultiLine(const std::string& line) {
    return line.size() >= 4 && IsDigit(line[0]) && IsDigit(line[1]) && IsDigit(line[2]) &&
           line[3] == '-';
}

// The last "(N bytes)" of a line, in any case.
bool ParenthesizedCount(const std::string& line, uint64_t& count) {
    bool found = false;
    for (size_t open = line.find('('); open != std::string::npos; open = line.find('(', open + 1)) {
        size_t end = open + 1;
        uint64_t value = 0;
        bool overflow = false;
        while (end < line.size() && IsDigit(line[end])) {
            const uint64_t digit = static_cast<uint64_t>(line[end] - '0');
            overflow = overflow || value > (UINT64_MAX - digit) / 10;
            value = value * 10 + digit;
            ++end;
        }
        std::string word = line.substr(end, 7);
        for (char& c : word)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (end > open + 1 && word == " bytes)") {
            count = overflow ? 0 : value;
            found = true;
        }
    }
    return found;
}

// Six comma-separated decimals of 0 to 255 from at; false when they are not there.
bool SixNumbers(std::string_view text, size_t at, unsigned (&numbers)[6]) {
    for (unsigned& number : numbers) {
        if (&number != numbers) {
            if (at >= text.size() || text[at] != ',')
                return false;
            ++at;
        }
        const size_t start = at;
        number = 0;
        while (at < text.size() && IsDigit(text[at]) && at - start < 3)
            number = number * 10 + static_cast<unsigned>(text[at++] - '0');
        if (at == start || number > 255 || (at < text.size() && IsDigit(text[at])))
            return false;
    }
    return true;
}

} // namespace

namespace ftpreply {

int CodeOf(std::string_view line) {
    return LeadingCode(line);
}

bool LoginRefused(int code) {
    return code > 400 && code < 600;
}

bool CommandFailed(int code) {
    return code >= 400 && code <= 599;
}

bool StepRefused(int code) {
    return code > 300 && code < 600;
}

bool ClosingFailed(int code) {
    return code >= 400 && code <= 599;
}

bool Unsupported(int code) {
    return code >= 500 && code <= 502;
}

bool ActiveRefused(int code) {
    return code >= 400 && code <= 599;
}

bool NoDataConnection(int code) {
    return code == 425;
}

bool IsServerAbort(std::string_view received) {
    return received.substr(0, 3) == "421" || received.substr(0, 3) == "426";
}

bool RefusesData(std::string_view received) {
    return !received.empty() && (received[0] == '4' || received[0] == '5');
}

uint64_t ExtractByteCount(const std::string& line) {
    uint64_t parenthesized = 0;
    if (ParenthesizedCount(line, parenthesized))
        return parenthesized;
    std::string upper = line;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const size_t byteWord = upper.find("BYTE");
    if (byteWord == std::string::npos)
        return 0;
    size_t end = byteWord;
    while (end > 0 && !IsDigit(line[end - 1]))
        --end;
    if (end == 0)
        return 0;
    size_t start = end;
    while (start > 0 && IsDigit(line[start - 1]))
        --start;
    // Digits at the very start are the reply code ("150 bytes follow"): taken as a count, they
    // would fail a short file as incomplete.
    if (start == 0)
        return 0;
    end = std::min(end, start + 255);
    uint64_t count = 0;
    for (size_t i = start; i < end; ++i) {
        const uint64_t digit = static_cast<uint64_t>(line[i] - '0');
        // A number too large to hold does not convert.
        if (count > (UINT64_MAX - digit) / 10)
            return 0;
        count = count * 10 + digit;
    }
    return count;
}

uint64_t AnnouncedBytes(const std::vector<std::string>& lines) {
    uint64_t count = 0;
    bool parenthesized = false;
    for (const std::string& line : lines)
        parenthesized = ParenthesizedCount(line, count) || parenthesized;
    if (parenthesized)
        return count;
    // A number in a file name ("99999bytes.jpg") only counts where no line has the usual form.
    for (const std::string& line : lines)
        if ((count = ExtractByteCount(line)) != 0)
            return count;
    return 0;
}

uint16_t PassivePort(std::string_view reply) {
    if (LeadingCode(reply) != 227 || reply.size() < 4 || IsDigit(reply[3]))
        return 0;
    unsigned numbers[6];
    for (size_t at = 3; at < reply.size(); ++at) {
        if (IsDigit(reply[at]) && !IsDigit(reply[at - 1]) && SixNumbers(reply, at, numbers))
            return static_cast<uint16_t>(numbers[4] * 256 + numbers[5]);
    }
    return 0;
}

} // namespace ftpreply

// A reply's time limit: while it runs, a wait that outlives it ends through expire.
class TFtpReplyReader::Deadline {
public:
    Deadline(TFtpReplyReader& reader, int milliseconds, std::string text) : timer_(*reader.timer_) {
        if (milliseconds <= 0)
            return;
        timer_.SetOnTimer([&timer = timer_, &reader, text = std::move(text)](TComponent*) {
            timer.SetEnabled(false);
            reader.expire_(text);
        });
        timer_.SetInterval(static_cast<uint32_t>(milliseconds));
        timer_.SetEnabled(true);
    }
    ~Deadline() { timer_.SetEnabled(false); }
    Deadline(const Deadline&) = delete;
    Deadline& operator=(const Deadline&) = delete;

private:
    TThreadTimer& timer_;
};

TFtpReplyReader::TFtpReplyReader(TPowersock& control, const size_t& maxLines,
                                 std::function<void(const std::string&)> expire,
                                 std::function<void()> aborted)
    : control_(control), maxLines_(maxLines), expire_(std::move(expire)),
      aborted_(std::move(aborted)), timer_(std::make_unique<TThreadTimer>()) {
    timer_->SetEnabled(false);
}

TFtpReplyReader::~TFtpReplyReader() = default;

std::string TFtpReplyReader::ReadLine() {
    try {
        return control_.ReadLn();
    } catch (const EAbortError&) {
        aborted_();
        throw;
    }
}

void TFtpReplyReader::ReadRest(TFtpReply& reply,
                               const std::function<void(const std::string&)>& onLine) {
    if (OpensMultiLine(reply.first)) {
        // The lines between may hold any text; only "xyz " ends the reply.
        const std::string last = reply.first.substr(0, 3) + " ";
        for (;;) {
            if (reply.lines.size() >= maxLines_)
                throw ESockError("Reply too long: more than " + std::to_string(maxLines_) +
                                 " lines");
            reply.lines.push_back(ReadLine());
            const std::string& line = reply.lines.back();
            control_.ReportStatus(1, line);
            if (onLine)
                onLine(line);
            if (line.compare(0, 4, last) == 0)
                break;
        }
    }
    if (!reply.Preliminary())
        --owed_;
}

TFtpReply TFtpReplyReader::Exchange(const std::string& command, int milliseconds,
                                    const std::function<void(const std::string&)>& onLine) {
    const std::string word = command.substr(0, command.find(' '));
    Deadline deadline(*this, milliseconds, "Timed out waiting for the reply to " + word);
    ++owed_;
    TFtpReply reply;
    try {
        reply.first = control_.TPowersock::Transaction(command);
    } catch (const EAbortError&) {
        aborted_();
        throw;
    }
    reply.code = control_.ReplyCode();
    reply.lines.push_back(reply.first);
    ReadRest(reply, onLine);
    return reply;
}

TFtpReply TFtpReplyReader::ReadReply() {
    TFtpReply reply;
    reply.first = ReadLine();
    control_.ReportStatus(1, reply.first);
    reply.code = LeadingCode(reply.first);
    reply.lines.push_back(reply.first);
    ReadRest(reply, nullptr);
    return reply;
}

TFtpReply TFtpReplyReader::Final(int milliseconds, const std::string& text) {
    Deadline deadline(*this, milliseconds, text);
    for (;;) {
        TFtpReply reply = ReadReply();
        if (!reply.Preliminary())
            return reply;
    }
}
