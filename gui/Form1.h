#pragma once

#include "engine/BackupEngine.h"
#include "engine/JobHost.h"
#include "settings/FormStorage.h"
#include "ui/Controls.h"
#include "ui/DirectoryChooser.h"
#include "ui/Edit.h"

#include <QWidget>
#include <functional>
#include <memory>
#include <string>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QSpinBox;
class QTimeEdit;
class QTimer;
class TProgressStrip;

// The main window: the settings fields, the job commands, Cancel, the log, the status line and
// the clock. It owns the job engine and lends it the log, the status line, the destination, the
// cancel flag and the message pump.
class TForm1 : public QWidget, public TJobHost {
public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // Handlers, one per control event.
    void FormCreate();
    void FormShow();
    void FormKeyDown(int key, Qt::KeyboardModifiers shift);
    void Button1Click();
    void Button2Click();
    void Button3Click();
    void Button4Click();
    void Button5Click();
    void BitBtn3Click();
    void RadioButton1Click();
    void RadioButton2Click();
    void Timer1Timer();
    void RunBatchList();

    // Any status event of the HTTP client is a sign of life for the watchdog.
    void NMHTTP1Status(TComponent* Sender, const std::string& Status);
    // The FTP client's statuses are shown on the status line as they are.
    void NMFTP1Status(TComponent* Sender, const std::string& Status);

    // Aborts the network transfer a job is waiting on; the watchdog and closing the window call
    // it. Virtual so that the tests can watch it.
    virtual void CancelTransfers();

    // True while a job handler is running (possibly waiting inside the message pump).
    bool JobRunning() const { return jobDepth_ > 0; }

    TBackupEngine& Engine() { return *engine_; }
    // Replaces the engine before the window is shown (tests use a scripted engine).
    void UseEngine(std::unique_ptr<TBackupEngine> engine);

    // TJobHost
    void Log(const std::string& message) override;
    void ClearLog() override;
    void Status(const std::string& text) override;
    std::string Destination() const override;
    std::string ProxyPortText() const override;
    std::string ProxyHostText() const;
    bool Cancelled() const override { return JobCancelled; }
    void ProcessMessages() override;
    bool PauseEnabled() const override;
    int PauseSeconds() const override;
    // The window keeps painting, ticking and taking input during the pause; Cancel ends it.
    void PauseBetweenFiles(int milliseconds) override;
    bool LoginEnabled() const override;
    std::string LoginUser() const override;
    std::string LoginPassword() const override;
    std::string SetNumberText() const override;
    void StartGetById(const std::string& folderId) override;
    void StartGetByUser(const std::string& userId) override;

    // Controls.
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* Label7 = nullptr;
    QLabel* Label8 = nullptr;
    QLabel* Label9 = nullptr;
    QLabel* Label10 = nullptr;
    QLabel* Label11 = nullptr;
    QLabel* Label12 = nullptr;
    QLabel* Label13 = nullptr;
    QLabel* Label14 = nullptr;
    QLabel* Label15 = nullptr;
    QLabel* Label16 = nullptr;
    QLabel* Label17 = nullptr;
    QLabel* Label18 = nullptr;
    QLabel* Label19 = nullptr;
    QLabel* Label20 = nullptr;
    QLineEdit* Edit1 = nullptr;
    ui::TEdit* Edit2 = nullptr;
    QLineEdit* Edit3 = nullptr;
    QLineEdit* Edit4 = nullptr;
    QLineEdit* Edit5 = nullptr;
    QLineEdit* Edit6 = nullptr;
    QPushButton* BitBtn3 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* Button3 = nullptr;
    QPushButton* Button4 = nullptr;
    QPushButton* Button5 = nullptr;
    QCheckBox* CheckBox1 = nullptr;
    QCheckBox* CheckBox2 = nullptr;
    QCheckBox* CheckBox3 = nullptr;
    QSpinBox* SpinEdit1 = nullptr;
    QTimeEdit* DateTimePicker1 = nullptr;
    ui::TRadioButton* RadioButton1 = nullptr;
    ui::TRadioButton* RadioButton2 = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QLabel* Image1 = nullptr;
    QLabel* Image2 = nullptr;
    QLabel* Image3 = nullptr;
    QTimer* Timer1 = nullptr;

    // Restores the stored fields at show, before FormShow, and saves them at close.
    TFormStorage FormStorage1{*this,
                              "TForm1",
                              {"Edit1.Text", "Edit3.Text", "Edit5.Text", "CheckBox1.Checked",
                               "SpinEdit1.Value", "RadioButton1.Checked", "RadioButton2.Checked",
                               "Edit2.Text", "CheckBox3.Checked", "Edit6.Text", "Edit4.Text"},
                              true};
    // The cancel flag the jobs poll; set by Cancel and at the end of every job.
    bool JobCancelled = false;
    // The destination chooser; tests put a scripted one here.
    ui::DirectoryChooser ChooseDirectory;
    // The transfer bar and the job's counts at the right end of the status line.
    TProgressStrip* Progress = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateControls();
    void NameControls();
    void ConnectHandlers();
    void ConnectClients();
    void ShowPanelPictures();
    void SetJobButtonsRunning(bool running);
    void RunGalleryCommand(TBackupEngine::GalleryQuery query, const QString& name,
                           const QString& id);
    // Runs one job between the running and idle button states; the job returns true when it
    // ran to its end. Asked for while a cancelled job still unwinds, the job waits and runs
    // after it, once the caller has returned: it must own what it uses (capture by value).
    // The name tells the job in a desktop notice.
    void RunJob(std::function<bool()> job, const QString& name);
    bool RunJobBody(const std::function<bool()>& job);
    // True when a job is on the stack; then command waits to run after it (if it was cancelled
    // and nothing waits yet) or is dropped.
    bool WaitForCancelledJob(std::function<void()> command);
    void SelectSite(const char* siteWord);
    void WireProxy();
    TJobSettings JobSettings() const;
    // Start-up's own proxy wiring and the default destination's folders (Form1StartUp.cpp).
    void WireStartUpProxy();
    void CreateDefaultDestination();
    bool FocusBlocksShortcuts() const;

    std::unique_ptr<TBackupEngine> engine_;
    int jobDepth_ = 0;
    bool closing_ = false;
    // The job command that waits for a cancelled job to unwind.
    std::function<void()> waitingCommand_;
    // The job button the focus goes back to when a job ends.
    QPushButton* focusAfterJob_ = nullptr;
};
