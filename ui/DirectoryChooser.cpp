#include "ui/DirectoryChooser.h"

#include <QFileDialog>
#include <QPointer>

namespace ui {

std::string WithoutTrailingSeparator(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

DirectoryChooser PlatformDirectoryChooser(QWidget* parent) {
    QPointer<QWidget> owner(parent);
    return [owner](const std::string& start) -> std::optional<std::string> {
        const QString chosen =
            QFileDialog::getExistingDirectory(owner, QString(), QString::fromStdString(start));
        if (chosen.isEmpty())
            return std::nullopt;
        return WithoutTrailingSeparator(chosen.toStdString());
    };
}

} // namespace ui
