#pragma once

#include <functional>
#include <optional>
#include <string>

class QWidget;

namespace ui {

// Asks the user for a directory, starting at startDirectory. Returns the chosen directory
// without a trailing separator (except the root "/"), or nothing when the user cancelled.
using DirectoryChooser = std::function<std::optional<std::string>(const std::string& start)>;

// The platform's modal chooser, owned by parent.
DirectoryChooser PlatformDirectoryChooser(QWidget* parent);

// Removes trailing separators, keeping a lone "/".
std::string WithoutTrailingSeparator(std::string path);

} // namespace ui
