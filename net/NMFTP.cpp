#include "net/NMFTP.h"

#include "net/FtpReply.h"
#include "net/FtpTransfer.h"

#include <chrono>
#include <string_view>
#include <utility>

namespace {

// The first line of text, line end included, or all of it when it has none.
std::string FirstLine(std::string_view text) {
    const size_t lineFeed = text.find('\n');
    return std::string(
        text.substr(0, lineFeed == std::string_view::npos ? text.size() : lineFeed + 1));
}

TCmdType CommandKind(const std::string& command) {
    const std::string word = command.substr(0, command.find(' ')) + " ";
    if (word == "CWD ")
        return cmdChangeDir;
    if (word == "DELE ")
        return cmdDelete;
    if (word == "MKD ")
        return cmdMakeDir;
    if (word == "RMD ")
        return cmdRemoveDir;
    if (command == "PWD")
        return cmdCurrentDir;
    return cmdDoCommand;
}

} // namespace

TNMFTP::TNMFTP()
    : replies_(std::make_unique<TFtpReplyReader>(
          *this, MaxReplyLines,
          [this](const std::string& text) { EndWait(TWaitEnd::Deadline, text); },
          [this] { RaiseWaitEnd(); })),
      transfer_(std::make_unique<TFtpTransfer>(*this)) {
    Port = 21;
    MaxLineLength = ftpreply::MaxLineBytes;
    // A server that hangs up mid-dialogue ends the wait for its reply.
    ReadLnEndsAtClose = true;
    SetReceiveHook([this](TComponent*) { CheckServerAbort(); });
}

TNMFTP::~TNMFTP() {
    // The owner's handlers may touch members that are already gone.
    OnStatus = nullptr;
    OnConnect = nullptr;
    OnPacketRecvd = nullptr;
    OnDisconnect = nullptr;
    OnError = nullptr;
    AbortWhen = nullptr;
    SetReceiveHook(nullptr);
    try {
        RequestCancel();
        Cancel();
        transfer_->Stop();
        if (Connected()) {
            // The server hears that we leave; its answer is not waited for, so a silent
            // server cannot hold the program at its end.
            ClearCancelRequest();
            Writeln("QUIT");
        }
    } catch (...) {
        // The connection goes with the base either way.
    }
    try {
        TPowersock::Disconnect();
    } catch (...) {
    }
}

TPowersock* TNMFTP::DataConnection() const {
    return transfer_->Data();
}

uint64_t TNMFTP::AnnouncedBytes() const {
    return transfer_->Announced();
}

uint64_t TNMFTP::ExtractByteCount(const std::string& Line) {
    return ftpreply::ExtractByteCount(Line);
}

// ---- ending waits -----------------------------------------------------------------------

void TNMFTP::EndWait(TWaitEnd why, const std::string& text) {
    if (waitEnd_ == TWaitEnd::None || why == TWaitEnd::ServerAbort) {
        waitEnd_ = why;
        waitEndText_ = text;
    }
    // The owner's cancel ends the data connection's wait alone; the control connection's waits
    // see it through AbortWhen.
    if (why != TWaitEnd::Cancel)
        RequestCancel();
    transfer_->CancelData();
}

void TNMFTP::ResetCancel() {
    ClearCancelRequest();
    waitEnd_ = TWaitEnd::None;
    waitEndText_.clear();
}

void TNMFTP::RaiseWaitEnd() {
    if (waitEnd_ == TWaitEnd::ServerAbort)
        throw FTPException(ServerAbortLine());
    if (waitEnd_ == TWaitEnd::Deadline)
        throw ESockError(waitEndText_);
}

void TNMFTP::CheckServerAbort() {
    transfer_->NoteActivity();
    if (phase_ == TFtpPhase::Draining)
        return;
    const std::string_view pending = ReceivedData();
    if (pending.size() < 4)
        return;
    const bool refused = phase_ == TFtpPhase::AwaitingData && ftpreply::RefusesData(pending);
    if (refused || ftpreply::IsServerAbort(pending))
        EndWait(TWaitEnd::ServerAbort, FirstLine(pending));
}

// The server's abort reply as it stands now: complete by now, as a rule, where the receive step
// that saw it may have had only its first bytes.
std::string TNMFTP::ServerAbortLine() const {
    const std::string_view pending = ReceivedData();
    return pending.substr(0, 3) == std::string_view(waitEndText_).substr(0, 3) ? FirstLine(pending)
                                                                               : waitEndText_;
}

void TNMFTP::ConsumeAbortReply() {
    ClearCancelRequest();
    const bool stillThere =
        ReceivedData().substr(0, 3) == std::string_view(waitEndText_).substr(0, 3);
    ResetCancel();
    if (stillThere)
        DrainOwed(ResyncTimeOut);
}

bool TNMFTP::DrainOwed(int milliseconds) {
    // One deadline for all of them: a server that keeps sending replies must not hold the
    // session.
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    const TFtpPhase before = std::exchange(phase_, TFtpPhase::Draining);
    try {
        while (replies_->Owed() > 0 && Connected()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  end - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0)
                break;
            replies_->Final(static_cast<int>(left), "Timed out waiting for the server's reply");
        }
    } catch (const std::exception&) {
        // Still owed: the caller closes or renews the session.
    }
    Enter(before);
    ResetCancel();
    return replies_->Owed() == 0;
}

// ---- the control dialogue ---------------------------------------------------------------

void TNMFTP::DiscardUnread() {
    while (!ReceivedData().empty())
        Read(0);
}

std::string TNMFTP::Transaction(const std::string& Command) {
    const bool quit =
        Command.compare(0, 4, "QUIT") == 0 && (Command.size() == 4 || Command[4] == ' ');
    return replies_->Exchange(Command, quit ? QuitTimeOut : ReplyTimeOut).first;
}

void TNMFTP::Fail(TCmdType kind, const std::string& line) {
    if (!OnFailure)
        throw FTPException(line);
    bool handled = false;
    OnFailure(handled, kind);
    if (!handled)
        throw FTPException(line);
}

void TNMFTP::CheckLoginReply() {
    if (ftpreply::LoginRefused(ReplyCode())) {
        if (OnConnectionFailed)
            OnConnectionFailed(this);
        throw FTPException(LastReply());
    }
}

bool TNMFTP::StopWanted() {
    return abandoned_ || (AbortWhen && AbortWhen());
}

// The greeting, the login and the binary type on a connection just made.
void TNMFTP::Login() {
    // A "120 ready in a while" comes before the greeting proper; both are read.
    replies_->Owe(1);
    replies_->Final(ReplyTimeOut, "Timed out waiting for the server's greeting");
    if ((UserID.empty() || Password.empty()) && OnAuthenticationNeeded) {
        bool handled = false;
        OnAuthenticationNeeded(handled);
    }
    ReportStatus(1, "USER " + UserID);
    Transaction(Proxy.empty() ? "USER " + UserID : "USER " + UserID + "@" + Host);
    CheckLoginReply();
    if (ReplyCode() == 331) {
        ReportStatus(1, "PASS ");
        Transaction("PASS " + Password);
        CheckLoginReply();
    }
    // RFC 959's default type is ASCII, in which a server may rewrite the line ends inside a
    // binary file.
    ExecuteCommand("TYPE I");
}

void TNMFTP::Connect() {
    abandoned_ = false;
    ResetCancel();
    if (Connected())
        return;
    directory_.clear();
    // Each connection tries the data connections its mode asks for first.
    passive_ = Mode == TFtpMode::Passive;
    // A listing parsed on a session that ended without Disconnect belongs to that session.
    directoryList_.reset();
    TPowersock::Connect();
    try {
        Login();
        if (OnConnect)
            OnConnect(this);
    } catch (...) {
        // The error that ended the login (or the job run inside it) is the one to report; a
        // failing "QUIT" to a server that is gone must not replace it.
        try {
            Disconnect();
        } catch (...) {
        }
        ReportStatus(1, "Disconnected");
        throw;
    }
}

void TNMFTP::CloseNow() {
    replies_->Owe(0);
    if (!Connected())
        return;
    ClearCancelRequest();
    // The owner's cancel must not stop the goodbye itself.
    const std::function<bool()> abortWhen = std::exchange(AbortWhen, nullptr);
    try {
        Writeln("QUIT");
    } catch (...) {
        // Leaving either way.
    }
    AbortWhen = abortWhen;
    TPowersock::Disconnect();
}

void TNMFTP::Renew() {
    CloseNow();
    try {
        TPowersock::Connect();
        Login();
        if (!directory_.empty())
            ExecuteCommand("CWD " + directory_);
    } catch (const std::exception& error) {
        CloseNow();
        throw EFTPSessionLost(error.what());
    }
}

void TNMFTP::Disconnect() {
    ResetCancel();
    if (!Connected())
        return;
    ReportStatus(1, "QUIT");
    directoryList_.reset();
    Vendor = VendorAuto;
    // A session out of step, cancelled or abandoned has no reply worth waiting for.
    if (replies_->Owed() > 0 || StopWanted()) {
        CloseNow();
        return;
    }
    try {
        DiscardUnread();
        const std::string reply = Transaction("QUIT");
        if (ftpreply::StepRefused(ReplyCode()))
            throw FTPException(reply);
    } catch (...) {
        const bool silent = waitEnd_ == TWaitEnd::Deadline;
        replies_->Owe(0);
        TPowersock::Disconnect();
        // Everything asked for is done: a goodbye that never comes is no error.
        if (silent)
            return;
        throw;
    }
    TPowersock::Disconnect();
}

void TNMFTP::Cancel() {
    EndWait(TWaitEnd::Cancel);
}

void TNMFTP::Abandon() {
    abandoned_ = true;
    Cancel();
    RequestCancel();
}

void TNMFTP::ExecuteCommand(const std::string& Command) {
    const TCmdType kind = CommandKind(Command);
    ResetCancel();
    CheckConnected();
    if (!Connected())
        return;
    ReportStatus(1, Command);
    DiscardUnread();
    std::string reply;
    Enter(TFtpPhase::Command);
    try {
        reply = Transaction(Command);
    } catch (...) {
        Enter(TFtpPhase::Idle);
        if (waitEnd_ == TWaitEnd::ServerAbort)
            ConsumeAbortReply();
        // A reply still owed would be read as the answer to the next command.
        if (replies_->Owed() > 0)
            CloseNow();
        throw;
    }
    Enter(TFtpPhase::Idle);
    const int code = ReplyCode();
    if (ftpreply::CommandFailed(code)) {
        if (OnUnSupportedFunction && ftpreply::Unsupported(code))
            OnUnSupportedFunction(kind);
        Fail(kind, reply);
        return;
    }
    if (kind == cmdChangeDir)
        directory_ = Command.substr(4);
    if (OnSuccess)
        OnSuccess(kind);
}

void TNMFTP::ChangeDirectory(const std::string& Directory) {
    ExecuteCommand("CWD " + Directory);
}

void TNMFTP::List() {
    transfer_->List();
}

void TNMFTP::Download(const std::string& RemoteFile, const std::string& LocalFile,
                      TFileStream* Into) {
    transfer_->Download(RemoteFile, LocalFile, Into);
}
