#include "settings/WindowPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QVariant>
#include <QWidget>
#include <cmath>

namespace {

// Where the window carries the parts of its placement that Qt does not keep.
const char* const kFlags = "vantrelPlacementFlags";
const char* const kMinPosition = "vantrelPlacementMinPosition";
const char* const kMaxPosition = "vantrelPlacementMaxPosition";

QScreen* ScreenOf(const QWidget& window) {
    QScreen* screen = window.screen();
    return screen != nullptr ? screen : QGuiApplication::primaryScreen();
}

} // namespace

TWindowPlacement GetWindowPlacement(const QWidget& window) {
    TWindowPlacement placement;
    if (const QVariant flags = window.property(kFlags); flags.isValid())
        placement.flags = flags.toInt();
    if (const QVariant min = window.property(kMinPosition); min.isValid())
        placement.minPosition = min.toPoint();
    if (const QVariant max = window.property(kMaxPosition); max.isValid())
        placement.maxPosition = max.toPoint();

    const Qt::WindowStates state = window.windowState();
    if (state & Qt::WindowMinimized)
        placement.showCmd = TWindowPlacement::Minimized;
    else if (state & Qt::WindowMaximized)
        placement.showCmd = TWindowPlacement::Maximized;

    // The frame's corner is what a move places; a minimized or maximized window reports the
    // rectangle it returns to.
    const QRect frame = window.frameGeometry();
    QRect normal = frame;
    if ((state & (Qt::WindowMinimized | Qt::WindowMaximized)) && window.normalGeometry().isValid())
        normal = window.normalGeometry().marginsAdded(
            QMargins(window.geometry().left() - frame.left(), window.geometry().top() - frame.top(),
                     frame.right() - window.geometry().right(),
                     frame.bottom() - window.geometry().bottom()));
    placement.left = normal.left();
    placement.top = normal.top();
    placement.right = normal.left() + normal.width();
    placement.bottom = normal.top() + normal.height();
    return placement;
}

void SetWindowPlacement(QWidget& window, const TWindowPlacement& placement) {
    window.setProperty(kFlags, placement.flags);
    window.setProperty(kMinPosition, placement.minPosition);
    window.setProperty(kMaxPosition, placement.maxPosition);
    window.move(placement.left, placement.top);
}

void SetMaximizedPosition(QWidget& window, QPoint position) {
    window.setProperty(kMaxPosition, position);
}

QPoint FrameBorder(const QWidget& window) {
    const QRect frame = window.frameGeometry();
    const QRect client = window.geometry();
    return {client.left() - frame.left(), frame.bottom() - client.bottom()};
}

QSize ScreenSize(const QWidget& window) {
    return ScreenOf(window)->geometry().size();
}

int ScreenPixelsPerInch(const QWidget& window) {
    return static_cast<int>(std::lround(ScreenOf(window)->logicalDotsPerInch()));
}
