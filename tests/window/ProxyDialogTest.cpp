// The proxy dialog as "Proxy?" shows it, and the proxy it hands to the HTTP client.
#include "WindowFixture.h"

#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <functional>

namespace {

enum class CloseBy { Ok, CloseBox };

} // namespace

class ProxyDialogTest : public WindowTest {
protected:
    // Presses "Proxy?"; once the dialog is up, types the two fields and closes it.
    void UseProxyDialog(const std::string& host, const std::string& port, CloseBy closeBy,
                        const std::function<void(TForm2&)>& onShow = {}) {
        bool shown = false;
        QTimer::singleShot(0, proxyDialog.get(), [&] {
            shown = proxyDialog->isVisible();
            if (onShow)
                onShow(*proxyDialog);
            proxyDialog->Edit1->setText(QString::fromStdString(host));
            proxyDialog->Edit2->setText(QString::fromStdString(port));
            if (closeBy == CloseBy::Ok)
                proxyDialog->BitBtn1->click();
            else
                proxyDialog->close();
        });
        form->Button5->click();
        EXPECT_TRUE(shown);
        EXPECT_FALSE(proxyDialog->isVisible());
    }

    const TNMHTTP& Http() { return form->Engine().NMHTTP1; }
};

TEST_F(ProxyDialogTest, IsDrawnAsDesignedAndWaitsHidden) {
    ShowActive();
    TForm2& dialog = *proxyDialog;
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.windowTitle(), "Form2");
    EXPECT_EQ(dialog.size(), QSize(331, 203));
    EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize());
    EXPECT_EQ(dialog.pos(), QPoint(390, 130));
    EXPECT_TRUE(dialog.windowFlags() & Qt::WindowCloseButtonHint);
    const struct {
        QWidget* control;
        const char* caption;
        QPoint at;
    } controls[] = {
        {dialog.Label3,
         "If you are behind a Proxy server\nyou should fill in these fields, \n"
         "otherwise they should be left empty.",
         {8, 8}},
        {dialog.Label1, "Proxy", {32, 56}},
        {dialog.Label4, "(should be the name of the Proxy server)", {64, 56}},
        {dialog.Edit1, "", {32, 72}},
        {dialog.Label2, "Proxy Port", {32, 112}},
        {dialog.Label5, "(should be the port number on the proxy server)", {88, 112}},
        {dialog.Edit2, "", {32, 128}},
        {dialog.BitBtn1, "OK", {56, 168}},
    };
    for (const auto& c : controls) {
        SCOPED_TRACE(c.caption);
        const QString text = qobject_cast<QLabel*>(c.control) != nullptr
                                 ? qobject_cast<QLabel*>(c.control)->text()
                             : qobject_cast<QLineEdit*>(c.control) != nullptr
                                 ? qobject_cast<QLineEdit*>(c.control)->text()
                                 : qobject_cast<QPushButton*>(c.control)->text();
        EXPECT_EQ(text.toStdString(), c.caption);
        EXPECT_EQ(c.control->pos(), c.at);
    }
    EXPECT_EQ(dialog.Edit1->size(), QSize(121, 21));
    EXPECT_EQ(dialog.Edit2->size(), QSize(121, 21));
    EXPECT_EQ(dialog.BitBtn1->size(), QSize(75, 25));
    EXPECT_EQ(dialog.Label4->palette().color(QPalette::WindowText), QColor(0, 0, 0x80));
    // The port hint ends inside the dialog, on one line, its whole text a tooltip away.
    EXPECT_LT(dialog.Label5->geometry().right(), dialog.width());
    EXPECT_LT(dialog.Label5->height(), 2 * dialog.Label5->fontMetrics().height());
    EXPECT_EQ(dialog.Label5->toolTip(), "(should be the port number on the proxy server)");
    // One button, the default one: Enter is OK, and there is nothing to cancel with.
    EXPECT_EQ(dialog.findChildren<QPushButton*>().size(), 1);
    EXPECT_TRUE(dialog.BitBtn1->isDefault());
    const auto nextTabStop = [](QWidget* from) {
        QWidget* next = from->nextInFocusChain();
        while (!(next->focusPolicy() & Qt::TabFocus))
            next = next->nextInFocusChain();
        return next;
    };
    EXPECT_EQ(nextTabStop(dialog.Edit1), dialog.Edit2);
    EXPECT_EQ(nextTabStop(dialog.Edit2), dialog.BitBtn1);
    EXPECT_EQ(nextTabStop(dialog.BitBtn1), dialog.Edit1);
}

// Each row is one use of "Proxy?" in the same run; the port a row expects follows from the
// rows before it.
TEST_F(ProxyDialogTest, HostAndPortReachTheHttpClientAsTyped) {
    ShowActive();
    struct Row {
        const char* host;
        const char* port;
        CloseBy closeBy;
        const char* proxy;
        int proxyPort;
        const char* error;
        const char* storedHost;
        const char* storedPort;
    };
    const Row rows[] = {
        {"", "8080", CloseBy::Ok, "", 8080, nullptr, "", "8080"},
        {" proxy.local ", " 3128", CloseBy::CloseBox, " proxy.local ", 3128, nullptr, "proxy.local",
         "3128"},
        {"proxy.local", "8080 ", CloseBy::Ok, "proxy.local", 3128,
         "'8080 ' is not a valid integer value.", "proxy.local", "8080"},
        {"proxy.local", "", CloseBy::CloseBox, "proxy.local", 3128, nullptr, "proxy.local", ""},
        {"proxy.local", "$1F90", CloseBy::Ok, "proxy.local", 8080, nullptr, "proxy.local", "$1F90"},
        {"proxy.local", "http", CloseBy::CloseBox, "proxy.local", 8080,
         "'http' is not a valid integer value.", "proxy.local", "http"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.host) + "|" + row.port);
        ShownErrors().clear();
        UseProxyDialog(row.host, row.port, row.closeBy);
        EXPECT_EQ(Http().Proxy, row.proxy);
        EXPECT_EQ(Http().ProxyPort, row.proxyPort);
        if (row.error != nullptr) {
            ASSERT_EQ(ShownErrors().size(), 1u);
            EXPECT_EQ(ShownErrors()[0].message, row.error);
        } else {
            EXPECT_TRUE(ShownErrors().empty());
        }
        // Saved at every close, whichever way, without the surrounding blanks.
        EXPECT_EQ(Stored("TForm2", "Edit1_Text"), row.storedHost);
        EXPECT_EQ(Stored("TForm2", "Edit2_Text"), row.storedPort);
    }
}

TEST_F(ProxyDialogTest, AStoredProxyIsInForceFromTheStart) {
    ShowActive();
    UseProxyDialog("127.0.0.1", "3128", CloseBy::Ok);
    Restart();
    EXPECT_EQ(Http().Proxy, "127.0.0.1");
    EXPECT_EQ(Http().ProxyPort, 3128);
    form->Button3->click();
    EXPECT_EQ(form->Memo1->toPlainText().section('\n', 0, 0),
              "**Using Proxy Server 127.0.0.1:3128");

    // A run that leaves the dialog closed leaves its section as it was.
    const auto dialogSection = [this] {
        const std::string bytes = IniBytes();
        const size_t begin = bytes.find("[TForm2]");
        return bytes.substr(begin, bytes.find('[', begin + 1) - begin);
    };
    const std::string before = dialogSection();
    EXPECT_NE(before.find("Edit2_Text=3128\n"), std::string::npos);
    form->Button1->click();
    form->close();
    EXPECT_EQ(dialogSection(), before);

    // Opened again, the dialog shows what was stored.
    Restart();
    std::string shownHost;
    UseProxyDialog("127.0.0.1", "3128", CloseBy::CloseBox,
                   [&](TForm2& dialog) { shownHost = dialog.Edit1->text().toStdString(); });
    EXPECT_EQ(shownHost, "127.0.0.1");
}

// A stored port that is no number: at start the box names the setting and the window starts
// without a proxy, the file as it was; the dialog's own conversion error keeps its words.
TEST_F(ProxyDialogTest, AStoredPortThatIsNoNumberStartsTheWindowWithoutAProxy) {
    WriteIni("[TForm2]\nEdit1_Text=127.0.0.1\nEdit2_Text=80a\n");
    ShowActive();
    // The box comes up once the window is there.
    QCoreApplication::processEvents();
    ASSERT_EQ(ShownErrors().size(), 1u);
    EXPECT_EQ(ShownErrors()[0].message, "Proxy port: '80a' is not a valid integer value.");
    EXPECT_EQ(Http().Proxy, "");
    EXPECT_EQ(Http().ProxyPort, 0);
    form->Button3->click();
    EXPECT_FALSE(form->Memo1->toPlainText().startsWith("**Using Proxy Server"));
    form->Button1->click();
    EXPECT_EQ(IniBytes(), "[TForm2]\nEdit1_Text=127.0.0.1\nEdit2_Text=80a\n");

    UseProxyDialog("127.0.0.1", "80a", CloseBy::Ok);
    ASSERT_EQ(ShownErrors().size(), 2u);
    EXPECT_EQ(ShownErrors()[1].message, "'80a' is not a valid integer value.");
}
