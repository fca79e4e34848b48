#include "settings/Form2.h"

#include "platform/Installation.h"

#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>
#include <algorithm>
#include <utility>

TForm2* Form2 = nullptr;

namespace {

QLabel* MakeLabel(QWidget* parent, const QString& caption, int left, int top) {
    auto* label = new QLabel(caption, parent);
    label->setTextFormat(Qt::PlainText);
    label->move(left, top);
    label->adjustSize();
    return label;
}

void MakeNavyHint(QLabel* label, int pixelSize) {
    QFont font = label->font();
    font.setPixelSize(pixelSize);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, QColor(0x00, 0x00, 0x80));
    label->setPalette(palette);
    label->adjustSize();
}

// Keeps a one-line label inside the dialog's right edge without moving it: a smaller font
// first, down to a size still easily read, then the text elided; the whole text is always its
// tooltip.
void FitOnOneLine(QLabel* label, int rightEdge) {
    constexpr int kSmallestPixelSize = 9;
    const QString text = label->text();
    const int room = rightEdge - label->x();
    label->setToolTip(text);
    QFont font = label->font();
    while (QFontMetrics(font).horizontalAdvance(text) > room &&
           font.pixelSize() > kSmallestPixelSize) {
        font.setPixelSize(font.pixelSize() - 1);
        label->setFont(font);
    }
    label->setText(QFontMetrics(font).elidedText(text, Qt::ElideRight, room));
    label->adjustSize();
    label->resize(std::min(label->width(), room), label->height());
}

} // namespace

TForm2::TForm2(QWidget* parent) : QDialog(parent) {
    CreateControls();
    FormCreate();
}

TForm2::~TForm2() {
    FormStorage1.DestroyHook();
    if (Form2 == this)
        Form2 = nullptr;
}

void TForm2::FormCreate() {
    FormStorage1.IniFileName = platform::SettingsFilePath("VantrelBackup.ini");
}

void TForm2::CreateControls() {
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setWindowTitle("Form2");
    setFixedSize(331, 203);
    move(390, 130);
    QFont font("MS Sans Serif");
    font.setPixelSize(11);
    setFont(font);

    Label3 = MakeLabel(this,
                       "If you are behind a Proxy server\n"
                       "you should fill in these fields, \n"
                       "otherwise they should be left empty.",
                       8, 8);
    Label3->resize(std::max(168, Label3->width()), std::max(39, Label3->height()));
    Label1 = MakeLabel(this, "Proxy", 32, 56);
    Label4 = MakeLabel(this, "(should be the name of the Proxy server)", 64, 56);
    MakeNavyHint(Label4, 7);
    Edit1 = new QLineEdit(this);
    Edit1->setGeometry(32, 72, 121, 21);
    Label2 = MakeLabel(this, "Proxy Port", 32, 112);
    Label5 = MakeLabel(this, "(should be the port number on the proxy server)", 88, 112);
    MakeNavyHint(Label5, 11);
    FitOnOneLine(Label5, width() - 4);
    Edit2 = new QLineEdit(this);
    Edit2->setGeometry(32, 128, 121, 21);
    BitBtn1 = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton), "OK", this);
    BitBtn1->setGeometry(56, 168, 75, 25);
    BitBtn1->setDefault(true);
    connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
    setTabOrder(Edit1, Edit2);
    setTabOrder(Edit2, BitBtn1);

    setObjectName("Form2");
    const std::pair<QObject*, const char*> named[] = {
        {Label1, "Label1"}, {Label2, "Label2"}, {Label3, "Label3"}, {Label4, "Label4"},
        {Label5, "Label5"}, {Edit1, "Edit1"},   {Edit2, "Edit2"},   {BitBtn1, "BitBtn1"},
    };
    for (const auto& [control, name] : named)
        control->setObjectName(QString::fromLatin1(name));
}

int TForm2::ShowModal() {
    return exec();
}

void TForm2::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormStorage1.ShowHook();
}

void TForm2::done(int result) {
    FormStorage1.CloseQueryHook(true);
    QDialog::done(result);
}
