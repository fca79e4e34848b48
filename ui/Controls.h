#pragma once

#include <QColor>
#include <QFrame>
#include <QLabel>
#include <QRadioButton>
#include <QRect>
#include <functional>

// The control conventions the windows are written against, over Qt Widgets.
namespace ui {

// A radio button whose click handler runs whenever it becomes the checked one, whether the user
// clicked it or code set it (settings restore, shortcuts). Checking it again while it is already
// checked runs nothing.
class TRadioButton : public QRadioButton {
    Q_OBJECT
    // Stored settings are restored through the property, so it must reach the setter below.
    Q_PROPERTY(bool checked READ isChecked WRITE setChecked USER true)

public:
    TRadioButton(const QString& caption, QWidget* parent);
    std::function<void()> OnClick;

    // Unlike Qt's own, unchecking the checked button of a group works: it leaves the group with
    // none checked, as a stored setting may ask. Checking unchecks the others as usual.
    void setChecked(bool checked);
};

// A raised panel filled with one colour; its children are placed in its own coordinates.
QFrame* MakePanel(QWidget* parent, const QRect& geometry, const QColor& colour);

// A label at a fixed position, sized to its text.
QLabel* MakeLabel(QWidget* parent, const QString& caption, int left, int top);

// Bold (headings) and large bold red (the "OR" separators) label styles.
void MakeBold(QLabel* label);
void MakeLargeBoldRed(QLabel* label);

} // namespace ui
