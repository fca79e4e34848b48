#include "ui/ErrorBox.h"

#include "platform/FileSystem.h"
#include "ui/Text.h"

#include <QApplication>
#include <QMessageBox>
#include <utility>

namespace ui {
namespace {

void ShowMessageBox(const QString& caption, const QString& message) {
    QMessageBox box(QMessageBox::Critical, caption, message, QMessageBox::Ok,
                    QApplication::activeWindow());
    // Messages carry server reply lines; markup in them is text, not formatting.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

ErrorBoxPresenter& Presenter() {
    static ErrorBoxPresenter presenter = ShowMessageBox;
    return presenter;
}

} // namespace

QString ErrorBoxCaption(const std::string& programFileName) {
    const std::string stem = programFileName.substr(0, programFileName.find('.'));
    const QString name = QString::fromStdString(stem);
    if (name.isEmpty())
        return name;
    return name.left(1) + name.mid(1).toLower();
}

std::string ErrorBoxMessage(std::string message) {
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.')
        message.push_back('.');
    return message;
}

ErrorBoxPresenter SetErrorBoxPresenter(ErrorBoxPresenter presenter) {
    if (!presenter)
        presenter = ShowMessageBox;
    return std::exchange(Presenter(), std::move(presenter));
}

void ShowErrorBox(const std::string& message) {
    Presenter()(ErrorBoxCaption(platform::ProgramFileName()),
                TextFromBytes(ErrorBoxMessage(message)));
}

} // namespace ui
