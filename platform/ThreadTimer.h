#pragma once

#include "platform/Component.h"

#include <cstdint>
#include <memory>

class QTimer;

// A timer whose ticks call OnTimer on the GUI thread, from the event loop. Changing Enabled,
// Interval or OnTimer stops it and starts it afresh when it is enabled, has an interval and a
// handler. An exception escaping OnTimer goes to the unhandled-exception handler.
class TThreadTimer : public TComponent {
public:
    TThreadTimer();
    ~TThreadTimer() override;

    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);
    uint32_t Interval() const { return interval_; }
    void SetInterval(uint32_t milliseconds);
    const TNotifyEvent& OnTimer() const { return onTimer_; }
    void SetOnTimer(TNotifyEvent handler);

private:
    void Restart();
    void Fire();

    bool enabled_ = true;
    uint32_t interval_ = 1000;
    TNotifyEvent onTimer_;
    std::unique_ptr<QTimer> timer_;
};
