#include "gui/ProgressStrip.h"

#include "gui/JobCounts.h"
#include "gui/StripText.h"
#include "gui/TransferBar.h"

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QPainter>
#include <QStyle>

namespace {

constexpr int kBarWidth = 90;
constexpr int kBarHeight = 12;
constexpr int kGap = 6;

} // namespace

TProgressStrip::TProgressStrip(QWidget* window, QLabel* statusLine,
                               std::function<const TTransferProgress&()> transfers)
    : QObject(window), window_(window), statusLine_(statusLine), transfers_(std::move(transfers)) {
    const QRect line = statusLine_->geometry();
    Bar = new TTransferBar(window);
    Bar->setObjectName(QStringLiteral("TransferBar"));
    Bar->setGeometry(line.right() + 1 - kBarWidth, line.top() + (line.height() - kBarHeight) / 2,
                     kBarWidth, kBarHeight);
    Bar->setAccessibleName(QStringLiteral("Transfer progress"));
    Bar->setAccessibleDescription(QStringLiteral("Bytes of the file or page being fetched"));
    Bar->hide();

    Counts = new TStripText(window);
    Counts->setObjectName(QStringLiteral("JobCounts"));
    Counts->setAccessibleName(QStringLiteral("Job counts"));
    Counts->setGeometry(Bar->x() - kGap, line.top(), 0, line.height());
    Counts->hide();

    statusLine_->installEventFilter(this);
    connect(&redraw_, &QTimer::timeout, this, [this] { Redraw(); });
}

void TProgressStrip::JobStarted(const QString& name) {
    if (depth_++ > 0)
        return;
    jobName_ = name;
    report_.clear();
    allCompleted_ = true;
    tally_ = TJobTally{};
    countsChanged_ = true;
    shownSecond_ = -1;
    transfersSeen_ = transfers_().Started();
    clock_.start();
    redraw_.start(RedrawMilliseconds);
    Redraw();
}

void TProgressStrip::JobEnded(bool completed) {
    allCompleted_ = allCompleted_ && completed;
    if (depth_ == 0 || --depth_ > 0)
        return;
    redraw_.stop();
    report_ = ReportPath ? QString::fromStdString(ReportPath()) : QString();
    countsChanged_ = true;
    Redraw();
    ShowBar(false);
    TellDesktop(allCompleted_);
}

void TProgressStrip::Count(const TFileEvent& file) {
    tally_.Count(file);
    countsChanged_ = true;
}

void TProgressStrip::PageGivenUp() {
    if (depth_ > 0) {
        tally_.PageGivenUp();
        countsChanged_ = true;
    }
}

void TProgressStrip::Redraw() {
    if (depth_ > 0)
        elapsed_ = clock_.elapsed();
    const TTransferProgress& transfers = transfers_();
    const TTransferProgress::Sum sum = transfers.Total();
    // A transfer that began and ended between two redraws still shows, as done, so that a
    // stream of small files shows a steady bar rather than a flicker.
    const bool ranMeanwhile = transfers.Started() != transfersSeen_;
    transfersSeen_ = transfers.Started();
    if (depth_ > 0 && sum.running > 0) {
        if (sum.sizeUnknown)
            Bar->ShowBusy();
        else
            Bar->ShowFraction(sum.received, sum.announced);
        ShowBar(true);
    } else if (depth_ > 0 && ranMeanwhile) {
        Bar->ShowFraction(1, 1);
        ShowBar(true);
    } else {
        ShowBar(false);
    }
    if (countsChanged_ || elapsed_ / 1000 != shownSecond_)
        ShowCounts();
}

void TProgressStrip::ShowCounts() {
    countsChanged_ = false;
    shownSecond_ = elapsed_ / 1000;
    const QString text = jobcounts::CountsText(tally_);
    QString stored = jobcounts::StoredText(tally_.bytes, elapsed_);
    if (!report_.isEmpty())
        stored += QStringLiteral("\nReport: ") + report_;
    if (Counts->Text() != text) {
        Counts->SetText(text);
        const int width = Counts->fontMetrics().horizontalAdvance(text) + 2;
        const int right = Bar->x() - kGap;
        Counts->setGeometry(right - width, Counts->y(), width, Counts->height());
        Counts->show();
        statusLine_->update();
    }
    if (Counts->toolTip() != stored) {
        Counts->setToolTip(stored);
        Counts->setAccessibleDescription(text + ". " + stored);
    }
}

void TProgressStrip::ShowBar(bool shown) {
    if (Bar->isVisible() == shown)
        return;
    Bar->setVisible(shown);
    statusLine_->update();
}

int TProgressStrip::StripLeft() const {
    if (Counts->isVisible())
        return Counts->x();
    if (Bar->isVisible())
        return Bar->x();
    return statusLine_->geometry().right() + 1 + kGap;
}

bool TProgressStrip::eventFilter(QObject* watched, QEvent* event) {
    if (watched == statusLine_ && event->type() == QEvent::Paint)
        return PaintStatusLineCut();
    return false;
}

// Paints the status line's text cut short with an ellipsis where the strip begins; false (the
// label paints itself) when the text fits anyway.
bool TProgressStrip::PaintStatusLineCut() {
    const QRect area = statusLine_->contentsRect();
    const int room = StripLeft() - kGap - statusLine_->x() - area.left();
    if (room >= area.width())
        return false;
    const QString text = statusLine_->text();
    if (PlainlyFits(text, room))
        return false;
    if (text != cutFor_ || room != cutRoom_) {
        cutFor_ = text;
        cutRoom_ = room;
        const QFontMetrics metrics = statusLine_->fontMetrics();
        QString line = text;
        line.replace(QLatin1Char('\n'), QLatin1Char(' '));
        cutText_ = metrics.horizontalAdvance(line) <= room
                       ? QString()
                       : metrics.elidedText(line, Qt::ElideRight, std::max(0, room));
    }
    if (cutText_.isNull())
        return false;
    QPainter painter(statusLine_);
    QRect shown = area;
    shown.setWidth(std::max(0, room));
    statusLine_->style()->drawItemText(&painter, shown, int(statusLine_->alignment()),
                                       statusLine_->palette(), statusLine_->isEnabled(), cutText_,
                                       statusLine_->foregroundRole());
    return true;
}

bool TProgressStrip::PlainlyFits(const QString& text, int room) {
    if (!widthsKnown_) {
        const QFontMetrics metrics = statusLine_->fontMetrics();
        for (int c = 32; c < 127; ++c)
            asciiWidths_[size_t(c)] = metrics.horizontalAdvance(QChar(c));
        widthsKnown_ = true;
    }
    int width = 0;
    for (const QChar c : text) {
        if (c.unicode() < 32 || c.unicode() > 126)
            return false;
        width += asciiWidths_[c.unicode()];
    }
    // Kerning may take a little off or add a little: a tenth to spare is plenty.
    return width + width / 10 + 2 <= room;
}

// A job the user may have stopped watching: the desktop is told how it went, failures first,
// and the window asks for attention in the task bar. A window that is closing says nothing.
void TProgressStrip::TellDesktop(bool completed) {
    if (elapsed_ <= NoticeAfterMilliseconds || !window_->isVisible() || window_->isActiveWindow())
        return;
    const QString summary = jobName_ + (completed ? " finished" : " stopped");
    Notice.Send(summary, jobcounts::FailuresFirstText(tally_) + "\n" +
                             jobcounts::StoredText(tally_.bytes, elapsed_));
    QApplication::alert(window_);
}
