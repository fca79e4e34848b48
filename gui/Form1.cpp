#include "gui/Form1.h"

#include "engine/ConnectionsSetting.h"
#include "engine/Sites.h"
#include "gui/ProgressStrip.h"
#include "platform/EventWait.h"
#include "platform/Exceptions.h"
#include "platform/FileSystem.h"
#include "platform/Installation.h"
#include "settings/Form2.h"
#include "ui/Guard.h"
#include "ui/Text.h"

#include <QAbstractSpinBox>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QSpinBox>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QTime>
#include <QTimeEdit>
#include <QTimer>
#include <utility>

namespace {

const char* const kCaption = "Vantrel Backup              V.0.0.17";
// Marks a line of the log that holds a message (an empty log's only line holds none).
constexpr int kMessageLine = 1;

QString CurrentTimeText() {
    return ui::ClockText(QLocale::system(), QTime::currentTime());
}

// Counts the job handlers on the stack, also when one ends by an exception.
class JobScope {
public:
    explicit JobScope(int& depth) : depth_(depth) { ++depth_; }
    ~JobScope() { --depth_; }
    JobScope(const JobScope&) = delete;
    JobScope& operator=(const JobScope&) = delete;

private:
    int& depth_;
};

} // namespace

TForm1::TForm1(QWidget* parent)
    : QWidget(parent), ChooseDirectory(ui::PlatformDirectoryChooser(this)) {
    engine_ = std::make_unique<TBackupEngine>(*this);
    ConnectClients();
    CreateControls();
    Progress = new TProgressStrip(
        this, Label12, [this]() -> const TTransferProgress& { return engine_->Transfers; });
    Progress->ReportPath = [this] { return engine_->LastReport; };
    ShowPanelPictures();
    ConnectHandlers();
    // The clock shows the time from the start, not only after the first tick.
    Label10->setText(CurrentTimeText());
    // Key preview: the window sees every key press before the focused control does.
    qApp->installEventFilter(this);
    FormCreate();
}

TForm1::~TForm1() {
    FormStorage1.DestroyHook();
}

void TForm1::UseEngine(std::unique_ptr<TBackupEngine> engine) {
    engine_ = std::move(engine);
    ConnectClients();
}

void TForm1::ConnectClients() {
    engine_->NMHTTP1.OnStatus = [this](TComponent* sender, const std::string& status) {
        NMHTTP1Status(sender, status);
    };
    engine_->NMFTP1.OnStatus = [this](TComponent* sender, const std::string& status) {
        NMFTP1Status(sender, status);
    };
    engine_->Events.FileDone = [this](const TFileEvent& file) { Progress->Count(file); };
    engine_->Events.PageGivenUp = [this](const std::string&) { Progress->PageGivenUp(); };
}

void TForm1::NMHTTP1Status(TComponent*, const std::string&) {
    engine_->StallCounter = 0;
}

void TForm1::NMFTP1Status(TComponent*, const std::string& Status) {
    this->Status(Status);
}

void TForm1::ConnectHandlers() {
    auto onClick = [this](QPushButton* button, void (TForm1::*handler)()) {
        connect(button, &QPushButton::clicked, this,
                [this, handler] { ui::Guarded([this, handler] { (this->*handler)(); }); });
    };
    onClick(Button1, &TForm1::Button1Click);
    onClick(Button2, &TForm1::Button2Click);
    onClick(Button3, &TForm1::Button3Click);
    onClick(Button4, &TForm1::Button4Click);
    onClick(Button5, &TForm1::Button5Click);
    onClick(BitBtn3, &TForm1::BitBtn3Click);
    RadioButton1->OnClick = [this] { RadioButton1Click(); };
    RadioButton2->OnClick = [this] { RadioButton2Click(); };
    connect(Timer1, &QTimer::timeout, this, [this] { ui::Guarded([this] { Timer1Timer(); }); });
}

void TForm1::FormCreate() {
    FormStorage1.IniFileName = platform::SettingsFilePath("VantrelBackup.ini");
}

void TForm1::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    // Restoring a minimized window is not a new show.
    if (event->spontaneous())
        return;
    FormStorage1.ShowHook();
    // A proxy stored in an earlier run is in force from the start, not only once the dialog has
    // been opened again: FormShow hands the dialog's fields to the HTTP client.
    if (Form2 != nullptr)
        ui::Guarded([] { Form2->FormStorage1.RestoreStoredProperties(); });
    ui::Guarded([this] { FormShow(); });
}

void TForm1::FormShow() {
    CheckBox3->setChecked(false);
    if (Edit1->text().isEmpty())
        Edit1->setText(QString::fromStdString(platform::DefaultDestination()));
    setWindowTitle(QString::fromLatin1(kCaption));
    DateTimePicker1->setTime(QTime::currentTime());
    engine_->MultimediaDisabled = false;
    engine_->SiteWord = RadioButton1->isChecked() ? sites::kSiteAWord : sites::kSiteBWord;
    const TJobSettings settings = JobSettings();
    engine_->InstructionsFtpHost = settings.archiveHost;
    engine_->NMFTP1.Port = settings.archivePort;
    WireStartUpProxy();
}

// Copies the proxy dialog's fields into the HTTP client. A port text that is not a number
// raises the conversion error after the host has been copied; the port keeps its value.
void TForm1::WireProxy() {
    const TJobSettings settings = JobSettings();
    engine_->NMHTTP1.Proxy = settings.proxyHost;
    if (!settings.proxyPortError.empty())
        throw EConvertError(settings.proxyPortError);
    engine_->NMHTTP1.ProxyPort = settings.proxyPort;
}

// The job settings as the window's controls give them: the proxy dialog's fields, the stored
// connections, the login switch.
TJobSettings TForm1::JobSettings() const {
    TJobSettingsSource source;
    source.proxyHost = ProxyHostText();
    source.proxyPortText = ProxyPortText();
    source.keptProxyPort = engine_->NMHTTP1.ProxyPort;
    source.settingsFile = FormStorage1.IniFileName;
    source.login = LoginEnabled();
    return ReadJobSettings(source);
}

void TForm1::closeEvent(QCloseEvent* event) {
    ui::Guarded([this] {
        // A job still on the stack stops instead of running on in a window nobody sees; the
        // program ends as soon as it has unwound, and a job waiting for it never starts.
        if (JobRunning()) {
            closing_ = true;
            JobCancelled = true;
            waitingCommand_ = nullptr;
            CancelTransfers();
        }
    });
    FormStorage1.CloseQueryHook(true);
    event->accept();
}

// A control that loses its enabled state while it has the focus hands it on to the next control
// in tab order, usually an edit field, where the shortcuts do nothing. So the focus is moved
// first: from the job button to Cancel when a job starts, and from Cancel back to the job button
// when it ends. A focus the user put anywhere else stays where it is.
void TForm1::SetJobButtonsRunning(bool running) {
    QWidget* focused = focusWidget();
    if (running) {
        Button1->setEnabled(true);
        for (QPushButton* jobButton : {Button2, Button3, Button4}) {
            if (focused == jobButton) {
                focusAfterJob_ = jobButton;
                Button1->setFocus(Qt::OtherFocusReason);
            }
        }
        Button2->setEnabled(false);
        Button3->setEnabled(false);
        Button4->setEnabled(false);
    } else {
        Button2->setEnabled(true);
        Button3->setEnabled(true);
        Button4->setEnabled(true);
        if (focused == Button1)
            (focusAfterJob_ != nullptr ? focusAfterJob_ : Button3)->setFocus(Qt::OtherFocusReason);
        Button1->setEnabled(false);
    }
}

void TForm1::Button1Click() {
    SetJobButtonsRunning(false);
    JobCancelled = true;
    // Downloads side by side end at once; a single one finishes, as it always has.
    engine_->EndOverlappingDownloads();
    // Cancel also takes back a job that was waiting for a cancelled one to unwind.
    waitingCommand_ = nullptr;
}

void TForm1::Button3Click() {
    RunGalleryCommand(TBackupEngine::GalleryQuery::Folder, "Get by ID ", Edit3->text());
}

void TForm1::Button4Click() {
    RunGalleryCommand(TBackupEngine::GalleryQuery::User, "Get by User ", Edit5->text());
}

void TForm1::RunGalleryCommand(TBackupEngine::GalleryQuery query, const QString& name,
                               const QString& id) {
    RunJob(
        [this, query, typedId = id.toStdString()] {
            const TJobSettings settings = JobSettings();
            engine_->Connections = settings.connections;
            engine_->Update = settings.update;
            return engine_->RunGalleryJob(query, typedId);
        },
        name + id);
}

bool TForm1::WaitForCancelledJob(std::function<void()> command) {
    if (!JobRunning())
        return false;
    // Cancel enables the job buttons while the cancelled job still finishes its transfer. A
    // second job must not run inside it (they would share the network clients), but the user's
    // click must not be lost either: the command waits, shown as a started job, until the
    // cancelled job has unwound. One waits at most; while a job runs uncancelled, or another
    // already waits, the job buttons are disabled and a command does nothing, as a click would.
    if (JobCancelled && !waitingCommand_ && !closing_) {
        waitingCommand_ = std::move(command);
        SetJobButtonsRunning(true);
    }
    return true;
}

void TForm1::RunJob(std::function<bool()> job, const QString& name) {
    // Nothing new starts in a window that is closing (a batch would go on with its next line).
    if (closing_ || WaitForCancelledJob([this, job, name] { RunJob(job, name); }))
        return;
    try {
        TProgressStrip::JobScope shown(*Progress, name);
        shown.completed = RunJobBody(job);
    } catch (...) {
        if (!waitingCommand_)
            throw;
        // The error ends the cancelled job: the box shows it now, before the job the user asked
        // for since, not once that one is over.
        ui::Guarded([] { throw; });
    }
    // The job has unwound: start the one that waited for it.
    if (waitingCommand_ && !closing_)
        std::exchange(waitingCommand_, nullptr)();
}

bool TForm1::RunJobBody(const std::function<bool()>& job) {
    SetJobButtonsRunning(true);
    CreateDefaultDestination();
    JobCancelled = false;
    JobScope scope(jobDepth_);
    bool completed = false;
    try {
        completed = job();
    } catch (...) {
        // The transfer aborted because the window closed is not an error worth a box.
        if (closing_)
            return false;
        throw;
    }
    // A job that stopped early keeps the running state until the user cancels; after one that
    // was cancelled, a job waiting for it takes over the running state.
    if (completed && !waitingCommand_)
        Button1Click();
    return completed;
}

void TForm1::Button2Click() {
    const std::string setNumber = Edit2->text().toStdString();
    RunJob(
        [this, setNumber] {
            // Read at each job, so that an edited settings file needs no restart.
            engine_->NMFTP1.Mode = JobSettings().ftpMode;
            return engine_->RunScanJob(setNumber);
        },
        "Get Inst... " + Edit2->text());
}

// The dialog's fields are handed over whichever way it was closed.
void TForm1::Button5Click() {
    if (Form2 != nullptr)
        Form2->ShowModal();
    WireProxy();
}

void TForm1::RunBatchList() {
    // Its jobs count together and end in one notice.
    TProgressStrip::JobScope shown(*Progress, "Batch list");
    engine_->RunBatchList();
    shown.completed = true;
}

void TForm1::StartGetById(const std::string& folderId) {
    Edit3->setText(ui::TextFromBytes(folderId));
    Button3Click();
}

void TForm1::StartGetByUser(const std::string& userId) {
    Edit5->setText(ui::TextFromBytes(userId));
    Button4Click();
}

void TForm1::CancelTransfers() {
    // The watchdog aborts an HTTP transfer only; closing the window ends everything.
    if (closing_)
        engine_->CancelTransfers();
    else
        engine_->NMHTTP1.Cancel();
}

void TForm1::BitBtn3Click() {
    const std::optional<std::string> chosen = ChooseDirectory(Edit1->text().toStdString());
    if (!chosen)
        return;
    Edit1->setText(QString::fromStdString(*chosen));
    // "list.txt" is read from the current directory, which follows the chosen destination.
    platform::SetCurrentDir(*chosen);
}

void TForm1::SelectSite(const char* siteWord) {
    const QString prefix =
        QStringLiteral("http://www.") + QLatin1String(siteWord) + ".com/cgi-bin/gallery.cgi";
    Label4->setText(prefix + "?f=");
    Label5->setText(prefix + "?m=");
    Label4->adjustSize();
    Label5->adjustSize();
    engine_->SiteWord = siteWord;
}

void TForm1::RadioButton1Click() {
    SelectSite(sites::kSiteAWord);
}

void TForm1::RadioButton2Click() {
    SelectSite(sites::kSiteBWord);
}

void TForm1::Timer1Timer() {
    Label10->setText(CurrentTimeText());
    if (engine_->WatchdogTick())
        CancelTransfers();
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
        return false;
    auto* widget = static_cast<QWidget*>(watched);
    if (widget->window() != this)
        return false;
    // A key press unhandled by the focused control travels on to its parents; only its first
    // delivery counts.
    QWidget* focused = focusWidget();
    if (widget != (focused != nullptr ? focused : this))
        return false;
    const auto* key = static_cast<QKeyEvent*>(event);
    ui::Guarded([this, key] { FormKeyDown(key->key(), key->modifiers()); });
    return false;
}

bool TForm1::FocusBlocksShortcuts() const {
    QWidget* focused = focusWidget();
    // A spin box types into a line edit of its own, yet it does not block.
    for (QWidget* w = focused; w != nullptr && w != this; w = w->parentWidget())
        if (qobject_cast<QAbstractSpinBox*>(w) != nullptr)
            return false;
    for (QWidget* w = focused; w != nullptr && w != this; w = w->parentWidget())
        if (qobject_cast<QLineEdit*>(w) != nullptr || qobject_cast<QPlainTextEdit*>(w) != nullptr ||
            qobject_cast<QTextEdit*>(w) != nullptr)
            return true;
    return false;
}

void TForm1::FormKeyDown(int key, Qt::KeyboardModifiers shift) {
    if (FocusBlocksShortcuts())
        return;
    const auto held = shift & (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier);
    // Ctrl+Shift+V checks the copy against its record; not while a job runs.
    if (held == (Qt::ControlModifier | Qt::ShiftModifier) && key == Qt::Key_V && !JobRunning())
        RunJob([this] { return engine_->RunVerifyJob(); }, QStringLiteral("Verify"));
    if (held != Qt::ControlModifier)
        return;
    // A second job inside a running one would share its network clients; after Cancel, a job
    // command waits for the cancelled job to unwind (see RunJob).
    const bool jobsAllowed = !JobRunning() || JobCancelled;
    if (key == Qt::Key_L && jobsAllowed && !WaitForCancelledJob([this] { RunBatchList(); }))
        RunBatchList();
    if (key == Qt::Key_D)
        BitBtn3Click();
    if (key == Qt::Key_B)
        RadioButton1->setChecked(true);
    if (key == Qt::Key_M)
        RadioButton2->setChecked(true);
    if (key == Qt::Key_I && jobsAllowed)
        Button3Click();
    if (key == Qt::Key_U && jobsAllowed)
        Button4Click();
    if (key == Qt::Key_N && jobsAllowed)
        Button2Click();
    if (key == Qt::Key_P)
        CheckBox1->toggle();
    if (key == Qt::Key_C)
        Button1Click();
}

void TForm1::Log(const std::string& message) {
    const QString lines = ui::LogLinesFromBytes(message);
    QTextDocument* log = Memo1->document();
    // An empty log still holds one empty line, which appending fills instead of adding a line
    // below it. That suits the first message, but after an empty first message the log looks
    // just as empty: a mark on the first line tells the two apart, so every message gets its
    // own line.
    if (log->isEmpty() && log->firstBlock().userState() == kMessageLine) {
        QTextCursor end(log);
        end.movePosition(QTextCursor::End);
        end.insertBlock();
        end.insertText(lines);
    } else {
        Memo1->appendPlainText(lines);
    }
    log->firstBlock().setUserState(kMessageLine);
}

void TForm1::ClearLog() {
    Memo1->clear();
}

void TForm1::Status(const std::string& text) {
    Label12->setText(ui::TextFromBytes(text));
}

std::string TForm1::Destination() const {
    return Edit1->text().toStdString();
}

// The proxy dialog's host and port fields, as typed; without the dialog, no proxy.
std::string TForm1::ProxyHostText() const {
    return Form2 != nullptr ? Form2->Edit1->text().toStdString() : std::string();
}

std::string TForm1::ProxyPortText() const {
    return Form2 != nullptr ? Form2->Edit2->text().toStdString() : std::string();
}

bool TForm1::PauseEnabled() const {
    return CheckBox1->isChecked();
}

int TForm1::PauseSeconds() const {
    return SpinEdit1->value();
}

void TForm1::PauseBetweenFiles(int milliseconds) {
    platform::WaitFor(milliseconds, [this] { return JobCancelled; });
}

bool TForm1::LoginEnabled() const {
    return CheckBox3->isChecked();
}

std::string TForm1::SetNumberText() const {
    return Edit2->text().toStdString();
}

std::string TForm1::LoginUser() const {
    return Edit4->text().toStdString();
}

std::string TForm1::LoginPassword() const {
    return Edit6->text().toStdString();
}

void TForm1::ProcessMessages() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}
