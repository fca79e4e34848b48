#include "WindowFixture.h"
#include "gui/ProgressStrip.h"

#include <QDBusConnection>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>

namespace {

// The desktop's notification service as far as the program sees it: it keeps what it is told.
class FakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QStringList received; // summary + "|" + body

public slots:
    uint Notify(const QString&, uint, const QString&, const QString& summary, const QString& body,
                const QStringList&, const QVariantMap&, int) {
        received << summary + "|" + body;
        return uint(received.size());
    }
};

// A session bus of the test's own, stopped by its PID.
class PrivateBus {
public:
    PrivateBus() {
        daemon_.start("dbus-daemon", {"--session", "--nofork", "--print-address=1",
                                      "--address=unix:path=" + dir_.filePath("bus")});
        if (daemon_.waitForStarted(5000) && daemon_.waitForReadyRead(5000))
            address = QString::fromUtf8(daemon_.readLine()).trimmed();
    }
    ~PrivateBus() {
        if (daemon_.processId() > 0)
            ::kill(pid_t(daemon_.processId()), SIGTERM);
        daemon_.waitForFinished(5000);
    }
    QString address;

private:
    QTemporaryDir dir_;
    QProcess daemon_;
};

} // namespace

// A job that ends while the window is in the background is told to the desktop once, failures
// first; a batch list is one job; nothing is told while the window is in front, and without a
// service or without a bus the job ends as always.
TEST_F(WindowTest, ALongJobEndingUnseenIsToldToTheDesktop) {
    PrivateBus bus;
    ASSERT_FALSE(bus.address.isEmpty()) << "dbus-daemon did not start";
    QDBusConnection service = QDBusConnection::connectToBus(bus.address, "fake service");
    FakeNotifications fake;
    ASSERT_TRUE(service.registerObject("/org/freedesktop/Notifications", &fake,
                                       QDBusConnection::ExportAllSlots));
    const auto serve = [&] { return service.registerService("org.freedesktop.Notifications"); };
    ASSERT_TRUE(serve());

    ShowActive();
    engine->duringFetch = [] { return true; };
    TProgressStrip& strip = *form->Progress;
    strip.NoticeAfterMilliseconds = -1; // every job counts as long
    strip.Notice.BusAddress = bus.address;
    QWidget other;
    const auto runInBackground = [&](bool inFront, const std::function<void()>& job) {
        if (inFront)
            form->activateWindow();
        else
            other.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(inFront ? form.get() : &other));
        job();
        ASSERT_TRUE(Idle());
    };
    other.show();
    QTemporaryDir listDir;
    ASSERT_TRUE(listDir.isValid());
    QFile list(listDir.filePath("list.txt"));
    ASSERT_TRUE(list.open(QIODevice::WriteOnly));
    list.write("f=77154\r\nm=pelmark\r\n");
    list.close();
    const QString cwd = QDir::currentPath();
    QDir::setCurrent(listDir.path());

    runInBackground(true, [&] { form->Button3Click(); });
    runInBackground(false, [&] { form->Button3Click(); });
    runInBackground(false, [&] { form->RunBatchList(); });
    // The bus keeps one sender's messages in order: what came before the last notice is all.
    EXPECT_TRUE(QTest::qWaitFor([&] { return fake.received.size() >= 2; }, 5000));
    EXPECT_EQ(fake.received, QStringList({"Get by ID 77154 finished|0 failed \u00B7 0 new \u00B7 "
                                          "0 present\n0 bytes stored (0 bytes), 0:00 elapsed",
                                          "Batch list finished|0 failed \u00B7 0 new \u00B7 "
                                          "0 present\n0 bytes stored (0 bytes), 0:00 elapsed"}));

    // No service on the bus, then no bus at all.
    ASSERT_TRUE(service.unregisterService("org.freedesktop.Notifications"));
    runInBackground(false, [&] { form->Button4Click(); });
    strip.Notice.BusAddress = "unix:path=" + listDir.filePath("no-bus");
    runInBackground(false, [&] { form->Button4Click(); });
    strip.Notice.BusAddress = bus.address;
    ASSERT_TRUE(serve());
    runInBackground(false, [&] { form->Button4Click(); });
    EXPECT_TRUE(QTest::qWaitFor([&] { return fake.received.size() >= 3; }, 5000));
    EXPECT_EQ(fake.received.size(), 3);
    EXPECT_TRUE(fake.received.last().startsWith("Get by User pelmark finished|0 failed"));
    EXPECT_TRUE(ShownErrors().empty());
    QDir::setCurrent(cwd);
}

#include "DesktopNoticeTest.moc"
