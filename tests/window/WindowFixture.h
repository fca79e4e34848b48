#pragma once

#include "app/Form1.h"
#include "settings/Form2.h"

#include <QApplication>
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
        proxyDialog = std::make_unique<TForm2>();
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

    // Presses a key where the user's keyboard would deliver it: at the focused control.
    void Press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::ControlModifier) {
        QWidget* target = QApplication::focusWidget();
        QTest::keyClick(target != nullptr ? target : form.get(), key, modifiers);
    }

    void Focus(QWidget* control) {
        control->setFocus(Qt::OtherFocusReason);
        ASSERT_TRUE(control->hasFocus() || control->isAncestorOf(QApplication::focusWidget()));
    }

    bool Running() const {
        return !form->Button3->isEnabled() && !form->Button4->isEnabled() &&
               !form->Button2->isEnabled() && form->Button1->isEnabled();
    }
    bool Idle() const {
        return form->Button3->isEnabled() && form->Button4->isEnabled() &&
               form->Button2->isEnabled() && !form->Button1->isEnabled();
    }

    QTemporaryDir scratch;
    std::string iniFile;
    std::unique_ptr<CountingForm> form;
    std::unique_ptr<TForm2> proxyDialog;
    ScriptedEngine* engine = nullptr;
};
