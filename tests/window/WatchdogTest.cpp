#include "WindowFixture.h"
#include "ui/Text.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QLabel>
#include <QLocale>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTime>
#include <QTimer>

TEST_F(WindowTest, WatchdogCountsOnlyWhileADownloadIsActive) {
    TBackupEngine& job = form->Engine();
    for (int tick = 0; tick < 40; ++tick)
        form->Timer1Timer();
    EXPECT_EQ(job.StallCounter, 0);
    EXPECT_EQ(form->cancelTransfers, 0);

    job.DownloadActive = true;
    for (int tick = 0; tick < 30; ++tick)
        form->Timer1Timer();
    EXPECT_EQ(job.StallCounter, 30);
    EXPECT_EQ(form->cancelTransfers, 0) << "30 silent seconds are still allowed";
    form->Timer1Timer();
    EXPECT_EQ(form->cancelTransfers, 1);
    // Without a status event to reset the count, every further tick cancels again.
    form->Timer1Timer();
    EXPECT_EQ(form->cancelTransfers, 2);
}

// A count left high by a long FTP transfer must not cancel anything once no download is active.
TEST_F(WindowTest, WatchdogLeavesTransfersAloneWhenNoDownloadIsActive) {
    TBackupEngine& job = form->Engine();
    job.StallCounter = 45;
    job.DownloadActive = false;
    form->Timer1Timer();
    EXPECT_EQ(job.StallCounter, 45);
    EXPECT_EQ(form->cancelTransfers, 0);
}

TEST_F(WindowTest, ClockShowsTheTimeFromTheStartAndTicksEverySecond) {
    EXPECT_FALSE(form->Label10->text().isEmpty());
    form->Label10->clear();
    ShowActive();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !form->Label10->text().isEmpty(); }, 2500));
    const QTime now = QTime::currentTime();
    const QString shown = form->Label10->text();
    EXPECT_TRUE(shown == ui::ClockText(QLocale::system(), now) ||
                shown == ui::ClockText(QLocale::system(), now.addSecs(-1)))
        << shown.toStdString();
}

// The clock shows the locale's long time without a time-zone name (which the long format of the
// framework adds, in front, behind, in brackets or after a comma).
TEST(ClockTextTest, LongTimeWithoutTheZone) {
    const QTime evening(20, 15, 5);
    const std::pair<const char*, const char*> texts[] = {
        {"en_US", "8:15:05 PM"},
        {"de_DE", "20:15:05"},
        {"nds_DE", "Klock 20.15:05"},
        {"nn_NO", "kl. 20:15:05"},
        {"bg_BG", "20:15:05 \u0447."},
        {"eu_ES", "20:15:05"},
        {"be_BY", "20:15:05"},
        {"yue_HK", "\u4e0b\u53488:15:05"},
        {"my_MM", "\u1042\u1040:\u1041\u1045:\u1040\u1045"},
    };
    for (const auto& [name, text] : texts)
        EXPECT_EQ(ui::ClockText(QLocale(QString::fromLatin1(name)), evening),
                  QString::fromUtf8(text))
            << name;

    // Whatever the zone is called here, no locale shows it.
    const QString zone = QLocale::c().toString(evening, "t");
    ASSERT_FALSE(zone.isEmpty());
    for (const QLocale& locale : QLocale::matchingLocales(QLocale::AnyLanguage, QLocale::AnyScript,
                                                          QLocale::AnyTerritory)) {
        const QString text = ui::ClockText(locale, evening);
        EXPECT_FALSE(text.contains(zone)) << locale.name().toStdString();
        EXPECT_EQ(text, text.trimmed()) << locale.name().toStdString();
    }
}

// Every locale's clock text fits the clock label, which keeps clear of its neighbours.
TEST_F(WindowTest, ClockLabelHoldsEveryLocalesTime) {
    ShowActive();
    QLabel* clock = form->Label10;
    QWidget* panel = clock->parentWidget();
    EXPECT_TRUE(panel->contentsRect().contains(clock->geometry()));
    for (QObject* child : panel->children()) {
        auto* sibling = qobject_cast<QWidget*>(child);
        if (sibling != nullptr && sibling != clock && sibling->isVisible()) {
            EXPECT_FALSE(sibling->geometry().intersects(clock->geometry()))
                << sibling->objectName().toStdString();
        }
    }
    const QFontMetrics metrics(clock->font());
    const QRect room = clock->contentsRect();
    for (const QLocale& locale : QLocale::matchingLocales(QLocale::AnyLanguage, QLocale::AnyScript,
                                                          QLocale::AnyTerritory)) {
        for (int hour : {0, 10, 12, 22, 23}) {
            const QString text = ui::ClockText(locale, QTime(hour, 58, 58));
            const QRect needed =
                metrics.boundingRect(room, Qt::TextWordWrap | clock->alignment(), text);
            EXPECT_TRUE(room.contains(needed))
                << locale.name().toStdString() << " " << text.toStdString() << " needs "
                << needed.width() << "x" << needed.height();
        }
    }
}

// The pause after a file keeps the window alive: the clock runs, the watchdog has nothing to
// count, and Cancel ends the pause at once instead of after its 15 seconds.
TEST_F(WindowTest, PauseKeepsTheClockRunningAndCancelEndsIt) {
    ShowActive();
    QTemporaryDir pictures;
    form->CheckBox1->setChecked(true);
    form->SpinEdit1->setValue(15);
    QString clockAtStart, clockInPause, statusInPause;
    int stallInPause = -1;
    QElapsedTimer pause, sinceCancel;
    engine->duringFetch = [&] {
        clockAtStart = form->Label10->text();
        QTimer::singleShot(1500, form.get(), [&] {
            clockInPause = form->Label10->text();
            statusInPause = form->Label12->text();
            stallInPause = form->Engine().StallCounter;
            sinceCancel.start();
            form->Button1->click();
        });
        pause.start();
        // Nothing listens there: the download fails at once and the pause follows.
        form->Engine().DownloadFile(pictures.path().toStdString() + "/", "http://127.0.0.1:1/a.jpg",
                                    "a.jpg");
        EXPECT_TRUE(sinceCancel.isValid() && sinceCancel.elapsed() < 1000);
        EXPECT_LT(pause.elapsed(), 5000);
        return false;
    };
    form->Button3->click();
    EXPECT_EQ(statusInPause, "Sleeping for 15 seconds . . .");
    EXPECT_NE(clockInPause, clockAtStart);
    EXPECT_EQ(stallInPause, 0);
}
