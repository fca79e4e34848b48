#pragma once

#include "engine/JobTally.h"
#include "engine/TransferProgress.h"
#include "gui/DesktopNotice.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <array>
#include <functional>

class QLabel;
class TStripText;
class TTransferBar;

// The right end of the status line: a small bar for the transfers in progress and the running
// counts of the job beside it, and the word to the desktop when a long job ends unseen.
//
// Everything is redrawn from a timer, at most ten times a second, however fast files come: the
// transfers are read, never pushed. The status line keeps its text whole; only its painting is
// cut short where it would run under the counts or the bar. The bar shows only while a transfer
// runs; the counts stay after the job until the next one starts. A batch list is one job.
class TProgressStrip : public QObject {
public:
    // statusLine is the window's status label; transfers gives the engine's running transfers
    // (the window may change engines).
    TProgressStrip(QWidget* window, QLabel* statusLine,
                   std::function<const TTransferProgress&()> transfers);

    // A job begins and ends; one begun inside another (the jobs of a batch list) counts with it.
    void JobStarted(const QString& name);
    void JobEnded(bool completed);
    // Ends a job on every path out of it; completed stays false unless set.
    class JobScope {
    public:
        JobScope(TProgressStrip& strip, const QString& name) : strip_(strip) {
            strip_.JobStarted(name);
        }
        ~JobScope() { strip_.JobEnded(completed); }
        JobScope(const JobScope&) = delete;
        JobScope& operator=(const JobScope&) = delete;
        bool completed = false;

    private:
        TProgressStrip& strip_;
    };

    // The engine's word on each download, and on each listing page given up.
    void Count(const TFileEvent& file);
    void PageGivenUp();

    const TJobTally& Tally() const { return tally_; }
    // Where the run that just ended wrote its report (empty: none); the counts' tooltip names
    // it.
    std::function<std::string()> ReportPath;

    TTransferBar* Bar = nullptr;
    TStripText* Counts = nullptr;
    // A job that ran longer than this and ends while the window is not the active one is told
    // to the desktop.
    int NoticeAfterMilliseconds = 30000;
    // How often the strip is redrawn while a job runs (the benchmark compares it with almost
    // never).
    int RedrawMilliseconds = 100;
    TDesktopNotice Notice;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Redraw();
    void ShowCounts();
    void ShowBar(bool shown);
    void TellDesktop(bool completed);
    // Where the status line's painting must stop: the left end of what is shown at its right.
    int StripLeft() const;
    bool PaintStatusLineCut();

    QWidget* window_;
    QLabel* statusLine_;
    std::function<const TTransferProgress&()> transfers_;
    QTimer redraw_;
    QElapsedTimer clock_;
    int64_t elapsed_ = 0;
    int depth_ = 0;
    bool allCompleted_ = true;
    QString jobName_;
    QString report_; // the last run's report, once it ended
    TJobTally tally_;
    bool countsChanged_ = false;
    uint64_t transfersSeen_ = 0;
    int64_t shownSecond_ = -1;
    // The status line is repainted for every file: what its text needs is worked out once per
    // text and room.
    QString cutFor_;
    int cutRoom_ = -1;
    QString cutText_; // empty when the text fits
    // Widths of the ASCII characters in the status line's font: a text that plainly fits is
    // told without shaping it (which costs more than the rest of the label's painting).
    std::array<int, 128> asciiWidths_{};
    bool widthsKnown_ = false;
    bool PlainlyFits(const QString& text, int room);
};
