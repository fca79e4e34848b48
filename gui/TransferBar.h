#pragma once

#include <QProgressBar>

// The small bar at the right end of the status line. It paints itself, plainly, and only when
// told: a style's own progress bar may animate on a timer of its own, and this one must cost
// the transfer nothing. A busy bar (size unknown) moves one step per redraw.
class TTransferBar : public QProgressBar {
public:
    static constexpr int kScale = 1000;

    explicit TTransferBar(QWidget* parent);

    // received of announced bytes, announced > 0.
    void ShowFraction(uint64_t received, uint64_t announced);
    // A transfer runs whose size is not known.
    void ShowBusy();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int busyStep_ = 0;
};
