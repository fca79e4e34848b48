#include "cli/HeadlessProgress.h"

#include "cli/HeadlessText.h"
#include "engine/BackupEngine.h"

#include <QString>

#include <cstdio>
#include <sys/ioctl.h>
#include <unistd.h>

namespace cli {
namespace {

constexpr int kRedrawMilliseconds = 100;

int TerminalColumns() {
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

// The text cut to fit columns characters (a wide character may still take two, which only
// costs a wrapped line).
std::string Fitted(const std::string& text, int columns) {
    QString line = QString::fromStdString(text);
    if (line.size() > columns)
        line = line.left(columns > 3 ? columns - 3 : 0) + QStringLiteral("...");
    return line.toStdString();
}

void WriteErr(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

} // namespace

TProgressLine::TProgressLine(const TBackupEngine* engine, bool enabled)
    : engine_(engine), enabled_(enabled) {
    if (!enabled_)
        return;
    timer_.setInterval(kRedrawMilliseconds);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Draw(); });
    timer_.start();
}

void TProgressLine::Status(const std::string& text) {
    statusBefore_ = std::move(status_);
    status_ = text;
}

void TProgressLine::FileStarted(const std::string& name) {
    // The status that names the file came just before: the line shows the file itself, and
    // the status the job had before it.
    status_ = std::move(statusBefore_);
    file_ = name;
    fileClock_.start();
    uint64_t announced = 0;
    staleBytes_ = BytesSoFar(announced);
    counting_ = false;
}

void TProgressLine::FileDone() {
    // Downloads side by side end in any order; the line stays while any is on its way.
    uint64_t bytes = 0, announced = 0;
    if (engine_ == nullptr || engine_->DownloadsInFlight(bytes, announced) == 0)
        file_.clear();
}

uint64_t TProgressLine::BytesSoFar(uint64_t& announced) const {
    // A scan comes over the FTP session's data connection, a picture over the HTTP client.
    if (engine_ == nullptr)
        return 0;
    if (engine_->NMFTP1.Connected()) {
        const TPowersock* data = engine_->NMFTP1.DataConnection();
        announced = engine_->NMFTP1.BytesExpected();
        return data != nullptr ? data->BytesReceived() : 0;
    }
    announced = engine_->NMHTTP1.BytesExpected();
    return engine_->NMHTTP1.BytesReceived();
}

void TProgressLine::Draw() {
    std::string text;
    uint64_t flightBytes = 0, flightAnnounced = 0;
    if (const size_t inFlight =
            engine_ != nullptr ? engine_->DownloadsInFlight(flightBytes, flightAnnounced) : 0;
        inFlight > 0) {
        // Side by side: the file started last, how many more are on the way, and their bytes
        // together against the sizes announced so far.
        text = ConsoleLines(file_);
        if (inFlight > 1)
            text += " and " + std::to_string(inFlight - 1) + " more";
        text += "  " + HumanBytes(flightBytes);
        if (flightAnnounced >= flightBytes && flightAnnounced > 0)
            text += " of " + HumanBytes(flightAnnounced);
    } else if (!file_.empty()) {
        uint64_t announced = 0;
        uint64_t bytes = BytesSoFar(announced);
        counting_ = counting_ || bytes != staleBytes_;
        if (!counting_)
            bytes = announced = 0;
        const double seconds = static_cast<double>(fileClock_.elapsed()) / 1000.0;
        text = ConsoleLines(file_) + "  " + HumanBytes(bytes);
        if (announced >= bytes && announced > 0)
            text += " of " + HumanBytes(announced);
        if (seconds > 0.2)
            text += "  " + HumanBytes(static_cast<uint64_t>(bytes / seconds)) + "/s";
    } else {
        text = ConsoleLines(status_);
    }
    for (char& c : text)
        if (c == '\n')
            c = ' ';
    text = Fitted(text, TerminalColumns() - 1);
    if (text == shown_)
        return;
    WriteErr("\r" + text + "\x1b[K");
    shown_ = text;
}

void TProgressLine::Clear() {
    if (shown_.empty())
        return;
    WriteErr("\r\x1b[K");
    shown_.clear();
}

} // namespace cli
