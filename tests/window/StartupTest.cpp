#include "WindowFixture.h"
#include "app/engine/Sites.h"
#include "platform/FileSystem.h"

#include <QCheckBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTime>
#include <QTimeEdit>
#include <cstdlib>

TEST_F(WindowTest, StartsWithTheDesignDefaultsWhenNothingWasStored) {
    ShowActive();
    EXPECT_EQ(form->Edit1->text().toStdString(), platform::ProgramDir());
    EXPECT_EQ(form->Edit1->text().back(), '/');
    EXPECT_EQ(form->Edit3->text(), "77154");
    EXPECT_EQ(form->Edit5->text(), "pelmark");
    EXPECT_EQ(form->Edit2->text(), "8436");
    EXPECT_FALSE(form->CheckBox1->isChecked());
    EXPECT_EQ(form->SpinEdit1->value(), 4);
    EXPECT_EQ(form->SpinEdit1->minimum(), 1);
    EXPECT_EQ(form->SpinEdit1->maximum(), 15);
    EXPECT_TRUE(form->RadioButton1->isChecked());
    EXPECT_FALSE(form->RadioButton2->isChecked());
    EXPECT_EQ(form->Engine().SiteWord, "vantrelpix");
    EXPECT_TRUE(form->Memo1->toPlainText().isEmpty());
    EXPECT_TRUE(form->Label12->text().isEmpty());
    EXPECT_TRUE(Idle());
    EXPECT_FALSE(form->Engine().MultimediaDisabled);
    EXPECT_EQ(form->IniFileName, platform::ProgramDir() + "VantrelBackup.ini");
}

TEST_F(WindowTest, CaptionHasFourteenBlanksBetweenTitleAndVersion) {
    ShowActive();
    EXPECT_EQ(form->windowTitle(), "Vantrel Backup" + QString(14, ' ') + "V.0.0.17");
}

TEST_F(WindowTest, ShowClearsTheLoginSwitchAndKeepsAStoredDestination) {
    form->CheckBox3->setChecked(true);
    form->Edit1->setText("/srv/pictures");
    form->Engine().MultimediaDisabled = true;
    ShowActive();
    EXPECT_FALSE(form->CheckBox3->isChecked());
    EXPECT_EQ(form->Edit1->text(), "/srv/pictures");
    EXPECT_FALSE(form->Engine().MultimediaDisabled);
    // The start time picker shows the time of the show.
    EXPECT_LE(std::abs(form->DateTimePicker1->time().secsTo(QTime::currentTime())), 60);
}

TEST_F(WindowTest, SiteBCheckedBeforeShowSelectsItsPrefixesAndWord) {
    form->RadioButton2->setChecked(true);
    ShowActive();
    EXPECT_FALSE(form->RadioButton1->isChecked());
    EXPECT_EQ(form->Label4->text(), "http://www.vantrelshots.com/cgi-bin/gallery.cgi?f=");
    EXPECT_EQ(form->Label5->text(), "http://www.vantrelshots.com/cgi-bin/gallery.cgi?m=");
    EXPECT_EQ(form->Engine().SiteWord, "vantrelshots");
}

TEST_F(WindowTest, ControlsHaveTheirCaptionsAndStates) {
    ShowActive();
    EXPECT_EQ(form->size(), QSize(482, 640));
    EXPECT_EQ(form->minimumSize(), form->maximumSize());
    EXPECT_FALSE(form->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(form->Edit1->isEnabled());
    EXPECT_EQ(form->Edit2->maxLength(), 5);
    EXPECT_FALSE(form->CheckBox2->isEnabled());
    EXPECT_FALSE(form->DateTimePicker1->isEnabled());
    EXPECT_EQ(form->RadioButton1->text(), sites::kSiteADomain);
    EXPECT_EQ(form->RadioButton2->text(), sites::kSiteBDomain);
    EXPECT_EQ(form->Label15->text(), "http://www.vantrelbricks.com/brickfactory");
    EXPECT_EQ(form->Label7->text(), "OR");
    EXPECT_TRUE(form->Label7->font().bold());
    EXPECT_GT(form->Label7->font().pixelSize(), form->Label3->font().pixelSize());
    EXPECT_TRUE(form->Label6->font().bold());
    EXPECT_EQ(form->BitBtn3->toolTip(), "Save Inventory");
    for (QWidget* hidden :
         {static_cast<QWidget*>(form->CheckBox3), static_cast<QWidget*>(form->Edit4),
          static_cast<QWidget*>(form->Edit6), static_cast<QWidget*>(form->Label16),
          static_cast<QWidget*>(form->Label20)})
        EXPECT_FALSE(hidden->isVisible());
}

namespace {

// Visible controls of a panel that overlap one another or stick out of it.
std::vector<std::string> LayoutFaults(const QWidget* panel) {
    std::vector<std::string> faults;
    const QList<QWidget*> controls = panel->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (int i = 0; i < controls.size(); ++i) {
        const QWidget* a = controls[i];
        if (!a->isVisible())
            continue;
        const std::string name =
            a->metaObject()->className() + (" " + a->objectName().toStdString());
        if (!panel->rect().contains(a->geometry()))
            faults.push_back(name + " leaves its panel");
        for (int j = i + 1; j < controls.size(); ++j) {
            const QWidget* b = controls[j];
            if (b->isVisible() && a->geometry().intersects(b->geometry()))
                faults.push_back(name + " overlaps " + b->metaObject()->className());
        }
    }
    return faults;
}

} // namespace

// Text sizes depend on the font, so the layout is checked for both sites' longer prefixes.
TEST_F(WindowTest, EveryVisibleControlFitsItsPanelWithoutOverlap) {
    ShowActive();
    for (bool siteB : {false, true}) {
        (siteB ? form->RadioButton2 : form->RadioButton1)->setChecked(true);
        for (const QFrame* panel : form->findChildren<QFrame*>(Qt::FindDirectChildrenOnly)) {
            const std::vector<std::string> faults = LayoutFaults(panel);
            EXPECT_TRUE(faults.empty()) << faults.front();
        }
    }
    EXPECT_TRUE(form->rect().contains(form->Label12->geometry()));
}
