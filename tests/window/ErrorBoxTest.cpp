#include "ui/ErrorBox.h"
#include "WindowFixture.h"
#include "platform/Exceptions.h"
#include "ui/Guard.h"

#include <QCoreApplication>
#include <QEvent>
#include <stdexcept>

TEST(ErrorBox, CaptionIsTheProgramNameUpToItsFirstDotWithTheRestLowered) {
    EXPECT_EQ(ui::ErrorBoxCaption("VantrelBackup"), "Vantrelbackup");
    EXPECT_EQ(ui::ErrorBoxCaption("VantrelBackup.exe"), "Vantrelbackup");
    EXPECT_EQ(ui::ErrorBoxCaption("vANTREL.Backup.bin"), "vantrel");
    EXPECT_EQ(ui::ErrorBoxCaption("X"), "X");
}

TEST(ErrorBox, MessageGetsADotOnlyAfterACharacterAboveTheDot) {
    EXPECT_EQ(ui::ErrorBoxMessage("Stream write error"), "Stream write error.");
    EXPECT_EQ(ui::ErrorBoxMessage("'80 80' is not a valid integer value"),
              "'80 80' is not a valid integer value.");
    EXPECT_EQ(ui::ErrorBoxMessage("Done."), "Done.");
    EXPECT_EQ(ui::ErrorBoxMessage("Failed!"), "Failed!");
    EXPECT_EQ(ui::ErrorBoxMessage("550 /pub/brick/"), "550 /pub/brick/.");
    EXPECT_EQ(ui::ErrorBoxMessage("Timeout -"), "Timeout -");
    EXPECT_EQ(ui::ErrorBoxMessage(""), "");
    EXPECT_EQ(ui::ErrorBoxMessage("Fehler \xc3\xa4"), "Fehler \xc3\xa4.");
}

TEST(ErrorBox, GuardShowsEveryEscapingErrorWithTheProgramCaption) {
    ShownErrors().clear();
    ui::Guarded([] { throw EConvertError("'x' is not a valid integer value"); });
    ui::Guarded([] { throw std::runtime_error("boom"); });
    ui::Guarded([] { throw 42; });
    ASSERT_EQ(ShownErrors().size(), 3u);
    EXPECT_EQ(ShownErrors()[0].message, "'x' is not a valid integer value.");
    EXPECT_EQ(ShownErrors()[1].message, "boom.");
    EXPECT_FALSE(ShownErrors()[2].message.empty());
    const std::string program = QCoreApplication::applicationName().toStdString();
    EXPECT_EQ(ShownErrors()[0].caption, ui::ErrorBoxCaption(program).toStdString());
}

namespace {

class ThrowingObject : public QObject {
public:
    bool event(QEvent*) override { throw Exception("Not Connected"); }
};

} // namespace

// An error that some handler forgot to guard still stops at the application object.
TEST(ErrorBox, ApplicationStopsAnErrorAtEventDispatch) {
    ShownErrors().clear();
    ThrowingObject target;
    QEvent event(QEvent::User);
    EXPECT_FALSE(QCoreApplication::sendEvent(&target, &event));
    ASSERT_EQ(ShownErrors().size(), 1u);
    EXPECT_EQ(ShownErrors()[0].message, "Not Connected.");
}

// Error messages can be a server's reply line, in whatever encoding it used.
TEST(ErrorBox, MessageBytesThatAreNotUtf8ShowOneByOne) {
    ShownErrors().clear();
    ui::Guarded([] { throw Exception("550 R\xe9pertoire introuvable"); });
    ASSERT_EQ(ShownErrors().size(), 1u);
    EXPECT_EQ(ShownErrors()[0].message, "550 R\xc3\xa9pertoire introuvable.");
}

TEST(ErrorBox, APresenterCanBeReplacedAndRestored) {
    int calls = 0;
    ui::ErrorBoxPresenter previous =
        ui::SetErrorBoxPresenter([&](const QString&, const QString&) { ++calls; });
    ui::ShowErrorBox("x");
    ui::SetErrorBoxPresenter(previous);
    EXPECT_EQ(calls, 1);
}
