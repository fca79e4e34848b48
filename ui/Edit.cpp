#include "ui/Edit.h"

#include <algorithm>

namespace ui {

void TEdit::SetTypingLimit(int limit) {
    typingLimit_ = limit;
    FitLimitTo(text().size());
    if (!followsEdits_)
        connect(this, &QLineEdit::textEdited, this, [this] { FitLimitTo(text().size()); });
    followsEdits_ = true;
}

void TEdit::setText(const QString& text) {
    FitLimitTo(text.size());
    QLineEdit::setText(text);
}

// Qt's own limit cuts any text set while it is in force, so it is kept no lower than the text.
void TEdit::FitLimitTo(qsizetype length) {
    const int limit = static_cast<int>(std::max<qsizetype>(typingLimit_, length));
    if (limit == maxLength())
        return;
    // Changing the limit puts the cursor at the end; the user's place stays where it was.
    const int cursor = cursorPosition();
    setMaxLength(limit);
    setCursorPosition(cursor);
}

} // namespace ui
