#pragma once

#include "settings/FormStorage.h"

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

// The proxy dialog: a proxy host and port, both optional and taken as typed. Created hidden at
// start-up, shown modally by the main window's "Proxy?" button, which then hands the two fields
// to the HTTP client. Its fields are kept in section "TForm2" of the settings file.
class TForm2 : public QDialog {
public:
    explicit TForm2(QWidget* parent = nullptr);
    ~TForm2() override;

    void FormCreate();
    // Shows the dialog until the user closes it, by OK or by the title bar's close box.
    int ShowModal();

    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QLineEdit* Edit2 = nullptr;
    QPushButton* BitBtn1 = nullptr;
    TFormStorage FormStorage1{*this, "TForm2", {"Edit1.Text", "Edit2.Text"}, false};

protected:
    void showEvent(QShowEvent* event) override;
    // Every way of closing ends here: OK, the close box, Escape.
    void done(int result) override;

private:
    void CreateControls();
};

// The proxy dialog of this run, as the main window finds it; null until it is created.
extern TForm2* Form2;
