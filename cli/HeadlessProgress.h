#pragma once

#include <QElapsedTimer>
#include <QTimer>

#include <string>

class TBackupEngine;

namespace cli {

// The one-line progress display of a job without a window, on standard error when that is a
// terminal: the file being fetched, its bytes so far and the rate, or the job's status between
// files. It is redrawn by a timer, so at most ten times a second however fast files come, and
// erased before anything else is printed.
class TProgressLine {
public:
    // A line that is not enabled prints nothing at all. Without an engine (the offline verify)
    // the line shows the last status alone.
    TProgressLine(const TBackupEngine* engine, bool enabled);

    // Every status of the job.
    void Status(const std::string& text);
    // A file's transfer begins (told right after the status that names it).
    void FileStarted(const std::string& name);
    // The file started last has been stored, found present or given up.
    void FileDone();
    // Erases the line, if it is shown, so that a log line can take its place.
    void Clear();

private:
    void Draw();
    uint64_t BytesSoFar(uint64_t& announced) const;

    const TBackupEngine* engine_;
    bool enabled_;
    QTimer timer_;
    std::string file_;   // empty between files
    std::string status_; // the last status that did not start a file
    std::string statusBefore_;
    QElapsedTimer fileClock_;
    // The clients' counters still hold the previous transfer's numbers when a file starts;
    // they count for this file once they have moved away from them.
    uint64_t staleBytes_ = 0;
    bool counting_ = false;
    std::string shown_; // the text on the line; empty when none is shown
};

} // namespace cli
