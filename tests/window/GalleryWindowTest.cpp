#include "WindowFixture.h"
#include "tests/support/GalleryMirror.h"
#include "tests/support/GalleryModel.h"
#include "tests/support/GallerySite.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTemporaryDir>

// The real engine behind the real window: Ctrl+I backs up a folder of the fixture site, reached
// through the proxy, and the window ends idle with the crawl's lines last in its log.
TEST_F(WindowTest, CtrlIBacksUpAFolderThroughTheWindow) {
    fixture::GalleryModel model;
    fixture::Folder& folder = model.AddMember("pelmark").AddFolder("Trip").AddPictures(4, 900);
    folder.AddFolder("Day").AddPictures(2, 700);
    fixture::GallerySite site(model);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());

    form->UseEngine(std::make_unique<TBackupEngine>(*form));
    ShowActive();
    form->Engine().NMHTTP1.Proxy = "127.0.0.1";
    form->Engine().NMHTTP1.ProxyPort = site.Port();
    form->Edit1->setText(dir.path() + "/");
    form->Edit3->setText(QString::fromStdString(folder.Id()));
    Focus(form->Button3);
    Press(Qt::Key_I);

    EXPECT_EQ(form->Label12->text(), ". . . done getting files");
    EXPECT_TRUE(Idle());
    const fixture::Mirror expected = fixture::ExpectedMirror(model, folder);
    EXPECT_EQ(fixture::HashTree(dir.path().toStdString()), expected);
    const QStringList lines = form->Memo1->toPlainText().split('\n');
    EXPECT_EQ(lines.first().toStdString(),
              "http://www.vantrelpix.com/cgi-bin/gallery.cgi?f=" + folder.Id());
    EXPECT_EQ(lines.last().toStdString(), folder.SitePath() + folder.Pictures().back().name);
    EXPECT_TRUE(ShownErrors().empty());
}
