#pragma once

#include <QObject>
#include <functional>

// A private mailbox on the GUI thread: messages posted to it are handed to its handler from the
// event loop, in order, after what is already queued. A component posts to itself to finish
// work later (read on, send on) without recursing. Messages still queued when the mailbox is
// destroyed are dropped.
namespace platform {

class MessageWindow final : public QObject {
public:
    using Handler = std::function<void(int message)>;

    explicit MessageWindow(Handler handler) : handler_(std::move(handler)) {}
    void Post(int message);

protected:
    void customEvent(QEvent* event) override;

private:
    Handler handler_;
};

} // namespace platform
