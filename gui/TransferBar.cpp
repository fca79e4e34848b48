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
    // Every pixel comes from the picture: what lies below need not be painted first.
    setAttribute(Qt::WA_OpaquePaintEvent);
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

QRect TTransferBar::Filled(const QRect& inside) const {
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
    return filled;
}

void TTransferBar::paintEvent(QPaintEvent*) {
    const QRect frame = rect().adjusted(0, 0, -1, -1);
    const QRect inside = frame.adjusted(2, 2, -1, -1);
    const QRect filled = Filled(inside);
    const qreal ratio = devicePixelRatioF();
    if (filled != pictured_ || picture_.size() != size() * ratio) {
        picture_ = QPixmap(size() * ratio);
        picture_.setDevicePixelRatio(ratio);
        picture_.fill(palette().color(QPalette::Window));
        QPainter painter(&picture_);
        painter.setPen(palette().color(QPalette::Mid));
        painter.setBrush(palette().color(QPalette::Base));
        painter.drawRect(frame);
        painter.fillRect(filled, palette().color(QPalette::Highlight));
        pictured_ = filled;
    }
    QPainter(this).drawPixmap(0, 0, picture_);
}
