#pragma once

#include <QLineEdit>

namespace ui {

// A single-line edit whose length limit holds for typing only: a longer text set from code (a
// stored setting) is kept whole, typing cannot make it longer, and once it has been shortened to
// the limit the limit holds again.
class TEdit : public QLineEdit {
    Q_OBJECT
    // Stored settings are restored through the property, so it must reach the setter below.
    Q_PROPERTY(QString text READ text WRITE setText USER true)

public:
    using QLineEdit::QLineEdit;

    void SetTypingLimit(int limit);
    int TypingLimit() const { return typingLimit_; }

    // Hides QLineEdit::setText, which would cut the text to the typing limit.
    void setText(const QString& text);

private:
    void FitLimitTo(qsizetype length);

    int typingLimit_ = 32767;
    bool followsEdits_ = false;
};

} // namespace ui
