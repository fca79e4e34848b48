#pragma once

#include "gui/Form1.h"
#include "platform/PrivateProfile.h"
#include "settings/Form2.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <utility>
#include <vector>

struct ShownError {
    std::string caption;
    std::string message;
};
// Every error box shown in this test process, oldest first.
std::vector<ShownError>& ShownErrors();

// An engine whose network steps are scripted: it records what it was asked to fetch and crawl,
// and runs the test's own code in place of the fetch (to press keys or close the window while
// the job is on the stack).
class ScriptedEngine : public TBackupEngine {
public:
    using TBackupEngine::TBackupEngine;

    bool FetchPage(const std::string& url, const std::string& pageFile) override {
        fetches.emplace_back(url, pageFile);
        return duringFetch ? duringFetch() : false;
    }
    void CrawlFolder(const std::string& directory, const std::string& pageName) override {
        crawls.emplace_back(directory, pageName);
    }

    std::function<bool()> duringFetch;
    std::vector<std::pair<std::string, std::string>> fetches;
    std::vector<std::pair<std::string, std::string>> crawls;
};

// The window with its transfer cancels counted on their way to the HTTP client.
class CountingForm : public TForm1 {
public:
    void CancelTransfers() override {
        ++cancelTransfers;
        TForm1::CancelTransfers();
    }
    int cancelTransfers = 0;
};

// The main window and the hidden proxy dialog, created as the program creates them, both with
// their settings in a scratch file of their own, never in the one beside the test program.
class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ShownErrors().clear();
        ASSERT_TRUE(scratch.isValid());
        iniFile = scratch.filePath("VantrelBackup.ini").toStdString();
        CreateWindows();
    }

    void TearDown() override { DestroyWindows(); }

    void CreateWindows() {
        form = std::make_unique<CountingForm>();
        auto scripted = std::make_unique<ScriptedEngine>(*form);
        engine = scripted.get();
        form->UseEngine(std::move(scripted));
        form->FormStorage1.IniFileName = iniFile;
        proxyDialog = std::make_unique<TForm2>(form.get());
        proxyDialog->FormStorage1.IniFileName = iniFile;
        Form2 = proxyDialog.get();
    }

    // In the program's order: the main window closes, then both windows are destroyed, the
    // dialog first.
    void DestroyWindows() {
        proxyDialog.reset();
        form.reset();
        engine = nullptr;
    }

    // Closes the program and starts it again on the same settings file.
    void Restart() {
        if (form->isVisible())
            form->close();
        DestroyWindows();
        CreateWindows();
        ShowActive();
    }

    void ShowActive() {
        form->show();
        form->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    }

    // Closes the program and starts it again without a settings file.
    void StartWithoutSettings() {
        if (form->isVisible())
            form->close();
        DestroyWindows();
        QFile::remove(QString::fromStdString(iniFile));
        CreateWindows();
        ShowActive();
    }

    // The settings file as the program reads and writes it.
    std::string Stored(const std::string& section, const std::string& key) const {
        return platform::GetPrivateProfileString(section, key, "<missing>", iniFile);
    }
    void Store(const std::string& section, const std::string& key, const std::string& value) {
        platform::WritePrivateProfileString(section, key, value, iniFile);
    }
    std::string IniBytes() const {
        QFile file(QString::fromStdString(iniFile));
        return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
    }
    void WriteIni(const std::string& bytes) {
        QFile file(QString::fromStdString(iniFile));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(bytes.data(), static_cast<qint64>(bytes.size()));
    }
    // The keys of one section in file order, as written.
    std::vector<std::string> StoredKeys(const std::string& section) const {
        std::vector<std::string> keys;
        bool inSection = false;
        const QStringList lines = QString::fromStdString(IniBytes()).split('\n');
        for (const QString& line : lines) {
            if (line.startsWith('['))
                inSection = line == QString::fromStdString("[" + section + "]");
            else if (inSection && line.contains('='))
                keys.push_back(line.section('=', 0, 0).toStdString());
        }
        return keys;
    }

    // Presses a key where the user's keyboard would deliver it: at the focused control.
    void Press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::ControlModifier) {
        QWidget* target = QApplication::focusWidget();
        QTest::keyClick(target != nullptr ? target : form.get(), key, modifiers);
    }

    void Focus(QWidget* control) {
        control->setFocus(Qt::OtherFocusReason);
        ASSERT_TRUE(control->hasFocus() || control->isAncestorOf(QApplication::focusWidget()));
    }

    // The name of the control with the keyboard focus.
    static std::string Focused() {
        QWidget* focused = QApplication::focusWidget();
        return focused != nullptr ? focused->objectName().toStdString() : "(none)";
    }

    bool Running() const {
        return !form->Button3->isEnabled() && !form->Button4->isEnabled() &&
               !form->Button2->isEnabled() && form->Button1->isEnabled();
    }
    bool Idle() const {
        return form->Button3->isEnabled() && form->Button4->isEnabled() &&
               form->Button2->isEnabled() && !form->Button1->isEnabled();
    }

    // In memory where the system has it: every settings write is synced to its disk.
    QTemporaryDir scratch{QFileInfo("/dev/shm").isWritable()
                              ? "/dev/shm/vantrel-window-XXXXXX"
                              : QDir::tempPath() + "/vantrel-window-XXXXXX"};
    std::string iniFile;
    std::unique_ptr<CountingForm> form;
    std::unique_ptr<TForm2> proxyDialog;
    ScriptedEngine* engine = nullptr;
};
