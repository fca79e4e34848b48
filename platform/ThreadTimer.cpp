#include "platform/ThreadTimer.h"

#include "platform/Exceptions.h"
#include "platform/UnhandledException.h"

#include <QTimer>
#include <climits>

TThreadTimer::TThreadTimer() : timer_(std::make_unique<QTimer>()) {
    timer_->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer_.get(), &QTimer::timeout, [this]() { Fire(); });
}

TThreadTimer::~TThreadTimer() = default;

void TThreadTimer::SetEnabled(bool enabled) {
    if (enabled == enabled_)
        return;
    enabled_ = enabled;
    Restart();
}

void TThreadTimer::SetInterval(uint32_t milliseconds) {
    if (milliseconds == interval_)
        return;
    interval_ = milliseconds;
    Restart();
}

void TThreadTimer::SetOnTimer(TNotifyEvent handler) {
    onTimer_ = std::move(handler);
    Restart();
}

void TThreadTimer::Restart() {
    timer_->stop();
    if (interval_ == 0 || !enabled_ || !onTimer_)
        return;
    // QTimer takes an int; an interval beyond it is refused like a timer the system refuses.
    if (interval_ > static_cast<uint32_t>(INT_MAX))
        throw Exception("No Timer");
    timer_->start(static_cast<int>(interval_));
}

void TThreadTimer::Fire() {
    if (!onTimer_)
        return;
    try {
        // A copy, as the handler may replace itself.
        const TNotifyEvent handler = onTimer_;
        handler(this);
    } catch (...) {
        platform::ReportUnhandledException(std::current_exception());
    }
}
