#include "gui/Form1.h"

#include "platform/Exceptions.h"
#include "platform/FileSystem.h"
#include "platform/Installation.h"
#include "settings/Form2.h"
#include "ui/ErrorBox.h"
#include "ui/Guard.h"

#include <QLineEdit>
#include <QTimer>

// The stored proxy is handed to the HTTP client at start. A port the dialog stored that is no
// number must not greet every start with a bare conversion error before any window: the window
// starts without a proxy, then the box comes up over it saying which setting is wrong, and the
// settings file stays as it is (the dialog shows the stored text again when it is opened, to be
// mended there).
void TForm1::WireStartUpProxy() {
    try {
        WireProxy();
    } catch (const EConvertError& error) {
        engine_->NMHTTP1.Proxy.clear();
        engine_->NMHTTP1.ProxyPort = 0;
        // The dialog's fields decide whether a job logs a proxy; none is in use.
        if (Form2 != nullptr) {
            Form2->Edit1->clear();
            Form2->Edit2->clear();
        }
        QTimer::singleShot(0, this, [message = "Proxy port: " + error.Message()] {
            ui::Guarded([&message] { ui::ShowErrorBox(message); });
        });
    }
}

// An installed program's default destination is a folder in the user's pictures folder that may
// not be there yet, and the user never chose it: every job makes all of it first, so that the
// first page file has a place to go. (A copy's default is its own folder, which is there.)
void TForm1::CreateDefaultDestination() {
    const std::string destination = Destination();
    if (destination == platform::DefaultDestination())
        (void)platform::ForceDirectories(destination);
}
