#pragma once

#include "app/Form1.h"

#include <QApplication>
#include <QPushButton>
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

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ShownErrors().clear();
        form = std::make_unique<CountingForm>();
        auto scripted = std::make_unique<ScriptedEngine>(*form);
        engine = scripted.get();
        form->UseEngine(std::move(scripted));
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

    std::unique_ptr<CountingForm> form;
    ScriptedEngine* engine = nullptr;
};
