#pragma once

#include <QString>

// A notice through the desktop's notification service (org.freedesktop.Notifications on the
// session bus). Fire and forget: the reply is never waited for, so a missing or hung service
// costs the window nothing, and without a bus nothing is sent at all.
class TDesktopNotice {
public:
    // The bus to use; empty for the session bus. The tests point it at a private bus.
    QString BusAddress;

    // True when the notice was handed to a bus (whether a service shows it is not known).
    bool Send(const QString& summary, const QString& body) const;
};
