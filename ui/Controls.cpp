#include "ui/Controls.h"

#include "ui/Guard.h"

#include <QPalette>

namespace ui {

TRadioButton::TRadioButton(const QString& caption, QWidget* parent)
    : QRadioButton(caption, parent) {
    connect(this, &QRadioButton::toggled, this, [this](bool checked) {
        if (checked && OnClick)
            Guarded(OnClick);
    });
}

void TRadioButton::setChecked(bool checked) {
    if (!checked && isChecked() && autoExclusive()) {
        setAutoExclusive(false);
        QRadioButton::setChecked(false);
        setAutoExclusive(true);
        return;
    }
    QRadioButton::setChecked(checked);
}

QFrame* MakePanel(QWidget* parent, const QRect& geometry, const QColor& colour) {
    auto* panel = new QFrame(parent);
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panel->setLineWidth(1);
    panel->setGeometry(geometry);
    QPalette palette = panel->palette();
    palette.setColor(QPalette::Window, colour);
    // Disabled captions must stay readable on the grey.
    palette.setColor(QPalette::Disabled, QPalette::WindowText, colour.darker(160));
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, colour.darker(160));
    panel->setPalette(palette);
    panel->setAutoFillBackground(true);
    return panel;
}

QLabel* MakeLabel(QWidget* parent, const QString& caption, int left, int top) {
    auto* label = new QLabel(caption, parent);
    label->move(left, top);
    label->adjustSize();
    return label;
}

void MakeBold(QLabel* label) {
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    label->adjustSize();
}

void MakeLargeBoldRed(QLabel* label) {
    QFont font = label->font();
    font.setBold(true);
    if (font.pixelSize() > 0)
        font.setPixelSize(font.pixelSize() * 3 / 2);
    else
        font.setPointSizeF(font.pointSizeF() * 1.5);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Qt::red);
    label->setPalette(palette);
    label->adjustSize();
}

} // namespace ui
