#pragma once

#include <QPoint>
#include <QSize>

class QWidget;

// A window's placement in the terms the settings file records: flags, show command, the
// minimized and maximized positions and the normal rectangle as left, top, right and bottom.
// Qt knows only the normal rectangle and the show state; the flags and the two positions have no
// meaning here, so they are kept with the window and handed back as they were set.
struct TWindowPlacement {
    enum ShowCommand { Hide = 0, Normal = 1, Minimized = 2, Maximized = 3 };

    int flags = 0;
    int showCmd = Normal;
    QPoint minPosition{-1, -1};
    QPoint maxPosition{-1, -1};
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
};

// The placement as the window has it now; the show command follows its state (normal,
// minimized or maximized), visible or not.
TWindowPlacement GetWindowPlacement(const QWidget& window);

// Moves the window to the normal rectangle's top left corner (both windows of this program have
// a fixed size) and keeps the flags and the two positions; the show state is not touched.
void SetWindowPlacement(QWidget& window, const TWindowPlacement& placement);

// Changes the maximized position alone.
void SetMaximizedPosition(QWidget& window, QPoint position);

// The window's side and bottom frame widths as the window system draws them (0 before it
// has been shown, or without a window manager).
QPoint FrameBorder(const QWidget& window);

// Of the screen the window is on: its size in pixels and its logical pixels per inch.
QSize ScreenSize(const QWidget& window);
int ScreenPixelsPerInch(const QWidget& window);
