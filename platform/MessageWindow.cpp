#include "platform/MessageWindow.h"

#include <QCoreApplication>
#include <QEvent>

namespace platform {
namespace {

const QEvent::Type messageEventType = static_cast<QEvent::Type>(QEvent::registerEventType());

class MessageEvent : public QEvent {
public:
    explicit MessageEvent(int message) : QEvent(messageEventType), message(message) {}
    int message;
};

} // namespace

void MessageWindow::Post(int message) {
    QCoreApplication::postEvent(this, new MessageEvent(message));
}

void MessageWindow::customEvent(QEvent* event) {
    if (event->type() == messageEventType && handler_) {
        try {
            handler_(static_cast<MessageEvent*>(event)->message);
        } catch (...) {
            // Nothing may escape into the event loop; the handler records its own failures.
        }
    }
}

} // namespace platform
