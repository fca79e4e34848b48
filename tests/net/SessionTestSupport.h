#pragma once

#include "net/Powersock.h"
#include "platform/EventWait.h"
#include "platform/HostLookup.h"

#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <vector>

// A session whose Cancel ends the current wait, as the HTTP client's does.
class CancellableSock : public TPowersock {
public:
    void Cancel() override {
        SetAsyncDone(true);
        RequestCancel();
    }
};

// Every status the session raises, in order.
struct StatusLog {
    std::vector<std::string> texts;
    void Attach(TPowersock& sock) {
        sock.OnStatus = [this](TComponent*, const std::string& text) { texts.push_back(text); };
    }
    bool Contains(const std::string& text) const {
        return std::find(texts.begin(), texts.end(), text) != texts.end();
    }
};

// Runs action from the event loop after milliseconds, as a button or timer handler would.
// User and system CPU time this process has used so far, in seconds.
inline double ProcessCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The message of what action raised, or "(nothing raised)".
inline std::string MessageOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const Exception& error) {
        return error.Message();
    }
    return "(nothing raised)";
}

inline void Later(int milliseconds, std::function<void()> action) {
    QTimer::singleShot(milliseconds, std::move(action));
}

// Names the tests may look up: "localhost" and "gallery.test" are 127.0.0.1, "silent.test"
// never answers, every other name is unknown. No test asks the real resolver.
class FakeResolverTest : public ::testing::Test {
protected:
    void SetUp() override {
        // A wait that never ends would stall the whole run; fail loudly instead.
        hangGuard_ = std::make_unique<QTimer>();
        hangGuard_->setSingleShot(true);
        QObject::connect(hangGuard_.get(), &QTimer::timeout, []() {
            std::fprintf(stderr, "test hung: %s\n",
                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
            std::abort();
        });
        hangGuard_->start(20000);
        platform::SetResolver([](const std::string& name, platform::LookupReply reply) {
            if (name == "localhost" || name == "gallery.test")
                reply(0, 0x7F000001);
            else if (name != "silent.test")
                reply(11001, 0);
        });
    }
    void TearDown() override {
        platform::SetResolver(
            [](const std::string&, platform::LookupReply reply) { reply(11001, 0); });
        hangGuard_.reset();
    }

private:
    std::unique_ptr<QTimer> hangGuard_;
};
