#include "gui/ProgressStrip.h"
#include "WindowFixture.h"
#include "gui/JobCounts.h"
#include "gui/StripText.h"
#include "gui/TransferBar.h"
#include "tests/support/GalleryMirror.h"
#include "tests/support/GalleryModel.h"
#include "tests/support/GallerySite.h"

#include <QLabel>
#include <QTemporaryDir>
#include <QTimer>
#include <map>
#include <set>

namespace {

// Where every control of the window is, by name; the counts grow with their text.
std::map<QString, QRect> Geometries(const QWidget& window) {
    std::map<QString, QRect> places;
    for (const QWidget* child : window.findChildren<QWidget*>())
        if (!child->objectName().isEmpty() && child->objectName() != "JobCounts")
            places[child->objectName()] = child->geometry();
    return places;
}

// The controls Tab walks through, in order.
std::vector<QString> TabOrder(QWidget& window) {
    std::vector<QString> order;
    for (QWidget* w = window.nextInFocusChain(); w != &window; w = w->nextInFocusChain())
        if (w->focusPolicy() & Qt::TabFocus)
            order.push_back(w->objectName());
    return order;
}

} // namespace

// A folder with a picture that trickles in: while it comes the bar shows its bytes and moves;
// afterwards the counts tell what the mirror holds, the status line keeps its text whole, no
// control has moved, the tab order is the same, and the bar is gone again.
TEST_F(WindowTest, ProgressShowsTheTransferAndCountsTheMirror) {
    fixture::GalleryModel model;
    fixture::Folder& folder = model.AddMember("pelmark").AddFolder("Trip").AddPictures(4, 900);
    folder.AddPicture("slow.jpg", 30000).AddPicture("gone.jpg", 500);
    model.SetFault(folder.PicturePath("slow.jpg"), fixture::Fault::Slow(1500));
    model.SetFault(folder.PicturePath("gone.jpg"), fixture::Fault::NotFound());
    fixture::GallerySite site(model);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // One picture is there already.
    const std::string present = folder.LocalPath(folder.Pictures().front().name);
    ASSERT_TRUE(QDir(dir.path()).mkpath(QString::fromStdString(folder.LocalPath(""))));
    QFile old(dir.filePath(QString::fromStdString(present)));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write(folder.Pictures().front().Content().c_str(), 900);
    old.close();

    form->UseEngine(std::make_unique<TBackupEngine>(*form));
    ShowActive();
    const auto places = Geometries(*form);
    const auto tabs = TabOrder(*form);
    TProgressStrip& strip = *form->Progress;
    EXPECT_FALSE(strip.Bar->isVisible());
    EXPECT_EQ(strip.Bar->focusPolicy(), Qt::NoFocus);
    EXPECT_EQ(strip.Counts->focusPolicy(), Qt::NoFocus);
    EXPECT_FALSE(strip.Bar->accessibleName().isEmpty());
    EXPECT_FALSE(strip.Bar->accessibleDescription().isEmpty());
    EXPECT_FALSE(strip.Counts->accessibleName().isEmpty());

    form->Engine().NMHTTP1.Proxy = "127.0.0.1";
    form->Engine().NMHTTP1.ProxyPort = site.Port();
    form->Edit1->setText(dir.path() + "/");
    form->Edit3->setText(QString::fromStdString(folder.Id()));
    std::set<int> fractions; // of the bar while it showed a known size
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (strip.Bar->isVisible() && strip.Bar->maximum() > 0)
            fractions.insert(strip.Bar->value());
    });
    watch.start(20);
    Focus(form->Button3);
    Press(Qt::Key_I);
    watch.stop();

    // The bar moved through the slow picture, part way more than once.
    const auto partWay = std::count_if(fractions.begin(), fractions.end(), [](int value) {
        return value > 0 && value < TTransferBar::kScale;
    });
    EXPECT_GE(partWay, 3);
    const fixture::Mirror expected = fixture::ExpectedMirror(model, folder);
    ASSERT_EQ(fixture::HashTree(dir.path().toStdString()), expected);
    uint64_t stored = 0;
    for (const auto& picture : folder.Pictures())
        if (expected.count(folder.LocalPath(picture.name)) &&
            picture.name != folder.Pictures().front().name)
            stored += picture.Content().size();
    EXPECT_EQ(
        strip.Counts->Text(),
        QString::fromUtf8("%1 new \u00B7 1 present \u00B7 1 failed").arg(expected.size() - 1));
    EXPECT_TRUE(strip.Counts->toolTip().startsWith(jobcounts::Grouped(stored) + " bytes stored"))
        << strip.Counts->toolTip().toStdString();
    // The run's report is named on a line of its own, and is there.
    const QString report = strip.Counts->toolTip().section(QStringLiteral("\nReport: "), 1);
    EXPECT_TRUE(report.startsWith(dir.path() + "/.vantrel/reports/")) << report.toStdString();
    EXPECT_TRUE(QFileInfo::exists(report)) << report.toStdString();
    EXPECT_EQ(form->Label12->text(), ". . . done getting files");
    EXPECT_TRUE(Idle());
    EXPECT_FALSE(strip.Bar->isVisible());
    EXPECT_TRUE(strip.Counts->isVisible());
    EXPECT_EQ(Geometries(*form), places);
    EXPECT_EQ(TabOrder(*form), tabs);
    EXPECT_TRUE(ShownErrors().empty());
}
