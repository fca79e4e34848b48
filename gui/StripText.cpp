#include "gui/StripText.h"

#include <QPainter>

TStripText::TStripText(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TStripText::SetText(const QString& text) {
    if (text == text_)
        return;
    text_ = text;
    pictured_ = false;
    update();
}

void TStripText::paintEvent(QPaintEvent*) {
    const qreal ratio = devicePixelRatioF();
    if (!pictured_ || picture_.size() != size() * ratio) {
        picture_ = QPixmap(size() * ratio);
        picture_.setDevicePixelRatio(ratio);
        picture_.fill(palette().color(QPalette::Window));
        QPainter painter(&picture_);
        painter.setFont(font());
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(rect(), Qt::AlignRight | Qt::AlignVCenter | Qt::TextSingleLine, text_);
        pictured_ = true;
    }
    QPainter(this).drawPixmap(0, 0, picture_);
}
