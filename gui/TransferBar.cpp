#include "gui/TransferBar.h"

#include <QPainter>
#include <algorithm>

namespace {

// Positions of the busy block, there and back.
constexpr int kBusySteps = 10;

} // namespace

TTransferBar::TTransferBar(QWidget* parent) : QProgressBar(parent) {
    setFocusPolicy(Qt::NoFocus);
    setTextVisible(false);
    setRange(0, kScale);
}

void TTransferBar::ShowFraction(uint64_t received, uint64_t announced) {
    if (maximum() != kScale)
        setRange(0, kScale);
    const uint64_t part = std::min(received, announced) * kScale / announced;
    setValue(static_cast<int>(part));
}

void TTransferBar::ShowBusy() {
    if (maximum() != 0)
        setRange(0, 0);
    busyStep_ = (busyStep_ + 1) % (2 * kBusySteps);
    update();
}

void TTransferBar::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect frame = rect().adjusted(0, 0, -1, -1);
    painter.setPen(palette().color(QPalette::Mid));
    painter.setBrush(palette().color(QPalette::Base));
    painter.drawRect(frame);
    const QRect inside = frame.adjusted(2, 2, -1, -1);
    QRect filled = inside;
    if (maximum() == 0) {
        const int block = inside.width() / 4;
        const int step = busyStep_ < kBusySteps ? busyStep_ : 2 * kBusySteps - busyStep_;
        filled.setLeft(inside.left() + (inside.width() - block) * step / kBusySteps);
        filled.setWidth(block);
    } else {
        filled.setWidth(inside.width() * std::max(0, value() - minimum()) /
                        std::max(1, maximum() - minimum()));
    }
    painter.fillRect(filled, palette().color(QPalette::Highlight));
}
