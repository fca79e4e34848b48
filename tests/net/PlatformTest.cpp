#include "SessionTestSupport.h"
#include "platform/EventWait.h"
#include "platform/Exceptions.h"
#include "platform/HostLookup.h"
#include "platform/ThreadTimer.h"
#include "platform/UnhandledException.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QMetaObject>
#include <QTimer>
#include <gtest/gtest.h>
#include <optional>
#include <thread>
#include <utility>

// A posted event that meets the condition must end the wait at once, not when some later
// socket or timer event happens to wake the loop.
TEST(EventWaitTest, PostedEventThatMeetsTheConditionEndsTheWaitAtOnce) {
    bool done = false;
    QTimer lateWake; // only a failure would need it
    lateWake.setSingleShot(true);
    QObject::connect(&lateWake, &QTimer::timeout, []() {});
    lateWake.start(3000);
    QElapsedTimer clock;
    clock.start();
    // A request posted by a handler of another posted event, as a read-more request is.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [&]() {
            QMetaObject::invokeMethod(
                QCoreApplication::instance(), [&]() { done = true; }, Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
    platform::WaitUntil([&]() { return done; });
    EXPECT_LT(clock.elapsed(), 1000);
}

// The loop asks the condition before it blocks; the wait must not ask again and lose what a
// condition that moves on as it looks (a line search) found.
TEST(EventWaitTest, AConditionFoundMetIsNotAskedAgain) {
    bool ready = false;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [&]() { ready = true; });
    guard.start(3000);
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [&]() { ready = true; }, Qt::QueuedConnection);
    QElapsedTimer clock;
    clock.start();
    platform::WaitUntil([&]() { return std::exchange(ready, false); });
    EXPECT_LT(clock.elapsed(), 1000);
}

TEST(EventWaitTest, IdleWaitCostsNoCpu) {
    bool cancelled = false;
    QTimer::singleShot(1000, [&]() { cancelled = true; });
    const double before = ProcessCpuSeconds();
    QElapsedTimer clock;
    clock.start();
    platform::WaitUntil([&]() { return cancelled; });
    const double cpu = ProcessCpuSeconds() - before;
    EXPECT_GE(clock.elapsed(), 990);
    EXPECT_LT(cpu / (clock.elapsed() / 1000.0), 0.05) << "cpu seconds " << cpu;
}

TEST(EventWaitTest, WaitsNest) {
    bool inner = false, outer = false;
    QTimer::singleShot(10, [&]() {
        QTimer::singleShot(10, [&]() { outer = true; });
        QTimer::singleShot(30, [&]() { inner = true; });
        platform::WaitUntil([&]() { return inner; });
    });
    platform::WaitUntil([&]() { return outer; });
    EXPECT_TRUE(inner);
}

// Calls owed by a handler run once it has returned, in the order owed: within a wait before it
// dispatches again, and from a bare event loop before it blocks. A call whose owner has gone
// never runs.
TEST(EventWaitTest, OwedCallsRunAfterTheHandlerInOrderOnlyWhileTheirOwnerLives) {
    int owner = 0;
    int gone = 0;
    std::vector<std::string> order;
    bool done = false;
    Later(0, [&]() {
        platform::OweCall(&owner, [&]() { order.push_back("first"); });
        platform::OweCall(&gone, [&]() { order.push_back("forgotten"); });
        platform::OweCall(&owner, [&]() {
            order.push_back("second");
            done = true;
        });
        platform::ForgetCalls(&gone);
        order.push_back("handler");
    });
    QTimer guard; // ends the wait if the calls never run, which the order then shows
    QObject::connect(&guard, &QTimer::timeout, [&]() { done = true; });
    guard.start(3000);
    platform::WaitUntil([&]() { return done; });
    EXPECT_EQ(order, (std::vector<std::string>{"handler", "first", "second"}));

    // No wait in progress: the application's own loop runs the call before it would block.
    QEventLoop loop;
    Later(0, [&]() { platform::OweCall(&owner, [&]() { loop.quit(); }); });
    QTimer::singleShot(3000, &loop, [&]() { loop.exit(1); });
    EXPECT_EQ(loop.exec(), 0);
}

TEST(ThreadTimerTest, TicksRestartAndStop) {
    TThreadTimer timer;
    int ticks = 0;
    timer.SetInterval(10);
    timer.SetOnTimer([&](TComponent*) {
        if (++ticks == 3)
            timer.SetEnabled(false);
    });
    platform::WaitUntil([&]() { return ticks >= 3; });
    bool later = false;
    QTimer::singleShot(60, [&]() { later = true; });
    platform::WaitUntil([&]() { return later; });
    EXPECT_EQ(ticks, 3);

    // Disabled, or with interval 0, nothing runs.
    timer.SetInterval(0);
    timer.SetEnabled(true);
    later = false;
    QTimer::singleShot(40, [&]() { later = true; });
    platform::WaitUntil([&]() { return later; });
    EXPECT_EQ(ticks, 3);
}

TEST(ThreadTimerTest, IntervalBeyondWhatTheSystemTakesIsRefused) {
    TThreadTimer timer;
    timer.SetOnTimer([](TComponent*) {});
    try {
        timer.SetInterval(0xFFFFFFFFu);
        FAIL() << "no error for an impossible interval";
    } catch (const Exception& error) {
        EXPECT_EQ(error.Message(), "No Timer");
    }
}

TEST(ThreadTimerTest, EscapingExceptionGoesToTheHandler) {
    std::string reported;
    platform::SetUnhandledExceptionHandler([&](std::exception_ptr error) {
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& caught) {
            reported = caught.what();
        }
    });
    TThreadTimer timer;
    timer.SetInterval(5);
    timer.SetOnTimer([&](TComponent*) {
        timer.SetEnabled(false);
        throw Exception("from the timer");
    });
    platform::WaitUntil([&]() { return !reported.empty(); });
    platform::SetUnhandledExceptionHandler(nullptr);
    EXPECT_EQ(reported, "from the timer");
}

TEST(HostLookupTest, AnswerAfterTheLookupWasGivenUpIsDropped) {
    platform::LookupReply saved = [] {
        std::optional<platform::LookupReply> kept;
        platform::SetResolver(
            [&](const std::string&, platform::LookupReply reply) { kept.emplace(reply); });
        platform::HostLookup lookup("late.test", [](uint16_t, uint32_t) { ADD_FAILURE(); });
        platform::SetResolver(nullptr);
        return *kept;
    }();
    bool flushed = false;
    saved(0, 0x7F000001); // from a worker thread in real life; the receiver is gone
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [&]() { flushed = true; }, Qt::QueuedConnection);
    platform::WaitUntil([&]() { return flushed; });
}

TEST(HostLookupTest, AnswerFromAnotherThreadArrivesOnTheGuiThread) {
    platform::SetResolver([](const std::string&, platform::LookupReply reply) {
        std::thread([reply]() { reply(0, 0x0A000005); }).detach();
    });
    bool done = false;
    uint32_t address = 0;
    std::thread::id thread;
    platform::HostLookup lookup("any.test", [&](uint16_t error, uint32_t found) {
        EXPECT_EQ(error, 0);
        address = found;
        thread = std::this_thread::get_id();
        done = true;
    });
    platform::WaitUntil([&]() { return done; });
    platform::SetResolver([](const std::string&, platform::LookupReply reply) { reply(11001, 0); });
    EXPECT_EQ(address, 0x0A000005u);
    EXPECT_EQ(thread, std::this_thread::get_id());
}
