#pragma once

#include <QApplication>

namespace ui {

// The application object. Its notify() is the last line of defence: an exception that some
// event handler let through is shown in the error box and goes no further into Qt's dispatch.
class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);
    ~TApplication() override;
    bool notify(QObject* receiver, QEvent* event) override;
};

} // namespace ui
