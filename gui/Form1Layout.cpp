// Builds the main window's controls at fixed positions: the window cannot be resized, so
// absolute geometry is the simplest faithful layout.
#include "gui/Form1.h"

#include "engine/Sites.h"
#include "ui/JpegImage.h"
#include "ui/PanelPictureData.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStyle>
#include <QTimeEdit>
#include <QTimer>
#include <algorithm>
#include <utility>

namespace {

const QColor kPanelGrey(0xC1, 0xC1, 0xC1);
constexpr int kPanelLeft = 8;
constexpr int kPanelWidth = 465;
constexpr int kButtonLeft = 368;
constexpr int kButtonWidth = 88;
constexpr int kRowHeight = 23;

QLineEdit* MakeEdit(QWidget* parent, const QString& text, const QRect& geometry) {
    auto* edit = new QLineEdit(text, parent);
    edit->setGeometry(geometry);
    return edit;
}

QPushButton* MakeButton(QWidget* parent, const QString& caption, int left, int top) {
    auto* button = new QPushButton(caption, parent);
    button->setGeometry(left, top, kButtonWidth, 25);
    button->setAutoDefault(false);
    return button;
}

QCheckBox* MakeCheckBox(QWidget* parent, const QString& caption, int left, int top) {
    auto* box = new QCheckBox(caption, parent);
    box->move(left, top);
    box->adjustSize();
    return box;
}

QLabel* MakePicture(QWidget* parent) {
    auto* picture = new QLabel(parent);
    picture->setGeometry(8, 8, 44, 44);
    return picture;
}

} // namespace

void TForm1::CreateControls() {
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(482, 640);
    // Small enough that the longer site's URL prefix still fits beside its ID field.
    QFont small = font();
    small.setPixelSize(11);
    setFont(small);

    // Destination.
    QFrame* destination = ui::MakePanel(this, QRect(kPanelLeft, 8, kPanelWidth, 73), kPanelGrey);
    Image1 = MakePicture(destination);
    Label6 = ui::MakeLabel(destination, "Destination Directory", 64, 10);
    ui::MakeBold(Label6);
    Edit1 = MakeEdit(destination, QString(), QRect(64, 32, 290, kRowHeight));
    Edit1->setEnabled(false);
    BitBtn3 = MakeButton(destination, "&Dir", kButtonLeft, 31);
    BitBtn3->setIcon(style()->standardIcon(QStyle::SP_DirOpenIcon));
    BitBtn3->setToolTip("Save Inventory");

    // Pause, start time, clock and proxy.
    QFrame* pause = ui::MakePanel(this, QRect(kPanelLeft, 88, kPanelWidth, 105), kPanelGrey);
    Image2 = MakePicture(pause);
    CheckBox1 = MakeCheckBox(pause, "&Pause between downloads", 64, 10);
    Label8 = ui::MakeLabel(pause, "Seconds to pause", 84, 40);
    SpinEdit1 = new QSpinBox(pause);
    SpinEdit1->setRange(1, 15);
    SpinEdit1->setValue(4);
    SpinEdit1->setGeometry(200, 36, 52, kRowHeight);
    CheckBox2 = MakeCheckBox(pause, "Delayed Start", 64, 72);
    CheckBox2->setEnabled(false);
    Label11 = ui::MakeLabel(pause, "Start Time", 172, 74);
    DateTimePicker1 = new QTimeEdit(pause);
    DateTimePicker1->setDisplayFormat(QLocale::system().timeFormat(QLocale::ShortFormat));
    DateTimePicker1->setGeometry(240, 70, 90, kRowHeight);
    DateTimePicker1->setEnabled(false);
    Label9 = ui::MakeLabel(pause, "Current Time:", 262, 40);
    // The clock takes the whole corner beside and below its caption, clear of the start time
    // picker: some locales' times are three times as wide as "8:15:05 PM", and those wrap onto
    // the lines below instead of being cut.
    Label10 = new QLabel(pause);
    const int clockLeft =
        std::max(Label9->geometry().right() + 5, DateTimePicker1->geometry().right() + 6);
    Label10->setGeometry(clockLeft, 40, kButtonLeft + kButtonWidth - clockLeft, 105 - 4 - 40);
    Label10->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label10->setWordWrap(true);
    Button5 = MakeButton(pause, "Proxy?", kButtonLeft, 8);

    // Source: site choice, the three commands and Cancel.
    QFrame* source = ui::MakePanel(this, QRect(kPanelLeft, 200, kPanelWidth, 185), kPanelGrey);
    Image3 = MakePicture(source);
    Label14 = ui::MakeLabel(source, "Select Host", 64, 8);
    ui::MakeBold(Label14);
    RadioButton1 = new ui::TRadioButton(sites::kSiteADomain, source);
    RadioButton1->move(64, 26);
    RadioButton1->adjustSize();
    RadioButton1->setChecked(true);
    Label13 = ui::MakeLabel(source, "or", 64 + RadioButton1->width() + 10, 29);
    RadioButton2 = new ui::TRadioButton(sites::kSiteBDomain, source);
    RadioButton2->move(Label13->x() + Label13->width() + 10, 26);
    RadioButton2->adjustSize();
    Button1 = MakeButton(source, "&Cancel", kButtonLeft, 8);
    Button1->setEnabled(false);

    Label3 = ui::MakeLabel(source, "Source Directory", 64, 52);
    ui::MakeBold(Label3);
    Label4 = ui::MakeLabel(source, QString(), 8, 74);
    Edit3 = MakeEdit(source, "77154", QRect(300, 71, 60, kRowHeight));
    Button3 = MakeButton(source, "Get by &ID", kButtonLeft, 70);
    Label7 = ui::MakeLabel(source, "OR", 8, 94);
    ui::MakeLargeBoldRed(Label7);
    Label5 = ui::MakeLabel(source, QString(), 8, 118);
    Edit5 = MakeEdit(source, "pelmark", QRect(300, 115, 60, kRowHeight));
    Button4 = MakeButton(source, "Get by &User", kButtonLeft, 114);
    Label19 = ui::MakeLabel(source, "OR", 8, 138);
    ui::MakeLargeBoldRed(Label19);
    Label17 = ui::MakeLabel(source, "Set Instruction Download from", 48, 143);
    ui::MakeBold(Label17);
    Label15 = ui::MakeLabel(source, sites::kInstructionsWebBase, 8, 163);
    Label18 = ui::MakeLabel(source, "Set Number", 300, 142);
    Edit2 = new ui::TEdit("8436", source);
    Edit2->setGeometry(300, 158, 60, kRowHeight);
    Edit2->SetTypingLimit(5);
    Button2 = MakeButton(source, "Get I&nst...", kButtonLeft, 157);
    RadioButton1Click();

    // Login: kept, but hidden from the user.
    CheckBox3 = MakeCheckBox(source, "Login", 8, 8);
    CheckBox3->hide();
    Label16 = ui::MakeLabel(source, "Username", 8, 8);
    Label16->hide();
    Edit4 = MakeEdit(source, QString(), QRect(8, 8, 80, kRowHeight));
    Edit4->hide();
    Label20 = ui::MakeLabel(source, "Password", 8, 8);
    Label20->hide();
    Edit6 = MakeEdit(source, QString(), QRect(8, 8, 80, kRowHeight));
    Edit6->setEchoMode(QLineEdit::Password);
    Edit6->hide();

    // The log and the status line.
    QFrame* log = ui::MakePanel(this, QRect(kPanelLeft, 392, kPanelWidth, 225), kPanelGrey);
    Memo1 = new QPlainTextEdit(log);
    Memo1->setGeometry(6, 6, kPanelWidth - 12, 225 - 12);
    Memo1->setReadOnly(true);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Memo1->setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    Label12 = new QLabel(this);
    // Statuses carry file names and reply lines from servers: show them as they are, never as
    // markup.
    Label12->setTextFormat(Qt::PlainText);
    Label12->setGeometry(kPanelLeft, 620, kPanelWidth, 18);

    Timer1 = new QTimer(this);
    Timer1->setInterval(1000);
    Timer1->start();
    NameControls();
}

// The settings storage finds the stored controls by these names, as written in its property list.
void TForm1::NameControls() {
    setObjectName("Form1");
    const std::pair<QObject*, const char*> named[] = {
        {Label3, "Label3"},
        {Label4, "Label4"},
        {Label5, "Label5"},
        {Label6, "Label6"},
        {Label7, "Label7"},
        {Label8, "Label8"},
        {Label9, "Label9"},
        {Label10, "Label10"},
        {Label11, "Label11"},
        {Label12, "Label12"},
        {Label13, "Label13"},
        {Label14, "Label14"},
        {Label15, "Label15"},
        {Label16, "Label16"},
        {Label17, "Label17"},
        {Label18, "Label18"},
        {Label19, "Label19"},
        {Label20, "Label20"},
        {Edit1, "Edit1"},
        {Edit2, "Edit2"},
        {Edit3, "Edit3"},
        {Edit4, "Edit4"},
        {Edit5, "Edit5"},
        {Edit6, "Edit6"},
        {BitBtn3, "BitBtn3"},
        {Button1, "Button1"},
        {Button2, "Button2"},
        {Button3, "Button3"},
        {Button4, "Button4"},
        {Button5, "Button5"},
        {CheckBox1, "CheckBox1"},
        {CheckBox2, "CheckBox2"},
        {CheckBox3, "CheckBox3"},
        {SpinEdit1, "SpinEdit1"},
        {DateTimePicker1, "DateTimePicker1"},
        {RadioButton1, "RadioButton1"},
        {RadioButton2, "RadioButton2"},
        {Memo1, "Memo1"},
        {Image1, "Image1"},
        {Image2, "Image2"},
        {Image3, "Image3"},
        {Timer1, "Timer1"},
    };
    for (const auto& [control, name] : named)
        control->setObjectName(QString::fromLatin1(name));
}

void TForm1::ShowPanelPictures() {
    const struct {
        QLabel* target;
        const unsigned char* data;
        std::size_t size;
    } pictures[] = {{Image1, ui::kPanelPicture1, ui::kPanelPicture1Size},
                    {Image2, ui::kPanelPicture2, ui::kPanelPicture2Size},
                    {Image3, ui::kPanelPicture3, ui::kPanelPicture3Size}};
    for (const auto& picture : pictures)
        picture.target->setPixmap(QPixmap::fromImage(ui::DecodeJpeg(picture.data, picture.size)));
}
