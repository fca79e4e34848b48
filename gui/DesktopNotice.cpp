#include "gui/DesktopNotice.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

namespace {

const char* const kService = "org.freedesktop.Notifications";
const char* const kPath = "/org/freedesktop/Notifications";
const char* const kInterface = "org.freedesktop.Notifications";
// The installed icon's and desktop entry's name, so the desktop shows the notice as ours.
const char* const kDesktopName = "example.vantrel.VantrelBackup";

QDBusConnection Bus(const QString& address) {
    if (address.isEmpty())
        return QDBusConnection::sessionBus();
    return QDBusConnection::connectToBus(address, QStringLiteral("vantrel-notice ") + address);
}

} // namespace

bool TDesktopNotice::Send(const QString& summary, const QString& body) const {
    const QDBusConnection bus = Bus(BusAddress);
    if (!bus.isConnected())
        return false;
    QDBusMessage notify =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    notify << QStringLiteral("Vantrel Backup") << 0u << QString::fromLatin1(kDesktopName) << summary
           << body << QStringList()
           << QVariantMap{{QStringLiteral("desktop-entry"), QString::fromLatin1(kDesktopName)}}
           << -1;
    return bus.send(notify);
}
