#pragma once

#include <QPixmap>
#include <QProgressBar>

// The small bar at the right end of the status line. It paints itself, plainly: a style's own
// progress bar may animate on a timer of its own, and this one must cost the transfer nothing.
// The status line above which it sits is repainted for every file, and the bar with it, so it
// keeps its picture ready and only copies it then; it draws anew only when its fill moves. A
// busy bar (size unknown) moves one step per redraw.
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
    // The filled part, in pixels from the left of the inside.
    QRect Filled(const QRect& inside) const;

    int busyStep_ = 0;
    QPixmap picture_;
    QRect pictured_; // the filled part the picture shows
};
