#pragma once

#include <QString>
#include <functional>
#include <string>

// The application's standard error box: what the user sees when an error leaves a handler.
namespace ui {

// The program file's name up to its first ".", the first letter as it is and the rest in lower
// case: "VantrelBackup" gives "Vantrelbackup".
QString ErrorBoxCaption(const std::string& programFileName);

// The message with a "." added when its last character's code is above that of ".", so
// "Stream write error" gets one and "Done." or "Failed!" do not.
std::string ErrorBoxMessage(std::string message);

// Shows the box: critical icon, one OK button, modal. Tests replace it.
using ErrorBoxPresenter = std::function<void(const QString& caption, const QString& message)>;

// Installs a presenter (an empty one restores the message box) and returns the previous one.
ErrorBoxPresenter SetErrorBoxPresenter(ErrorBoxPresenter presenter);

// Shows an error message with this program's caption, through the current presenter.
void ShowErrorBox(const std::string& message);

} // namespace ui
