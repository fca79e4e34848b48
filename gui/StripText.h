#pragma once

#include <QPixmap>
#include <QString>
#include <QWidget>

// A line of text, right-aligned, on the status line's row. Like the bar beside it, it is
// repainted with the status line for every file, so it keeps its picture ready and draws its
// text anew only when the text changes.
class TStripText : public QWidget {
public:
    explicit TStripText(QWidget* parent);

    void SetText(const QString& text);
    const QString& Text() const { return text_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
    QPixmap picture_;
    bool pictured_ = false;
};
