#pragma once

#include <functional>
#include <string>

// The common base of the program's non-visual components. Events are plain function objects
// that a component calls only when they are assigned.
class TComponent {
public:
    TComponent() = default;
    virtual ~TComponent() = default;
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;
};

using TNotifyEvent = std::function<void(TComponent* Sender)>;
using THandlerEvent = std::function<void(bool& Handled)>;
