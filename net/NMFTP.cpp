#include "net/NMFTP.h"

#include "platform/EventWait.h"
#include "platform/FileSystem.h"
#include "platform/ThreadTimer.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <string_view>
#include <utility>

namespace {

// A reply or listing line longer than this is hostile: without a bound it would fill memory
// while the wait still sees the connection as alive.
constexpr size_t MaxLineBytes = 1 << 20;

// The data connection of one transfer: a plain session that tells its owner of every receive
// step, so that a silent server can be told from a slow one.
class TDataConnection : public TPowersock {
public:
    explicit TDataConnection(std::function<void()> onReceive) {
        SetReceiveHook([onReceive = std::move(onReceive)](TComponent*) { onReceive(); });
    }
};

bool IsDigit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

// "xyz-": the first line of a multi-line reply.
bool OpensMultiLine(const std::string& line) {
    return line.size() >= 4 && IsDigit(line[0]) && IsDigit(line[1]) && IsDigit(line[2]) &&
           line[3] == '-';
}

bool IsPreliminary(const std::string& line) {
    return !line.empty() && line[0] == '1';
}

// The command word of a command line, for the time-out's error.
std::string CommandWord(const std::string& command) {
    return command.substr(0, command.find(' '));
}

// The last "(N bytes)" of a line, in any case.
bool ParenthesizedCount(const std::string& line, uint64_t& count) {
    bool found = false;
    for (size_t open = line.find('('); open != std::string::npos; open = line.find('(', open + 1)) {
        size_t end = open + 1;
        uint64_t value = 0;
        bool overflow = false;
        while (end < line.size() && IsDigit(line[end])) {
            const uint64_t digit = static_cast<uint64_t>(line[end] - '0');
            overflow = overflow || value > (UINT64_MAX - digit) / 10;
            value = value * 10 + digit;
            ++end;
        }
        std::string word = line.substr(end, 7);
        for (char& c : word)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (end > open + 1 && word == " bytes)") {
            count = overflow ? 0 : value;
            found = true;
        }
    }
    return found;
}

// The number formed by the leading digits (at most 10), 0 when there are none.
int64_t LeadingCode(std::string_view line) {
    int64_t code = 0;
    for (size_t i = 0;
         i < line.size() && i < 10 && std::isdigit(static_cast<unsigned char>(line[i])); ++i)
        code = code * 10 + (line[i] - '0');
    return code;
}

bool IsServerAbort(std::string_view text) {
    return text.substr(0, 3) == "421" || text.substr(0, 3) == "426";
}

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

// A reply's time limit: while it runs, a wait of the session that outlives it ends as a Cancel
// would, and the wait's error is the text given.
class TNMFTP::Deadline {
public:
    Deadline(TNMFTP& ftp, int milliseconds, std::string text) : ftp_(ftp) {
        ftp_.expiredText_.clear();
        if (milliseconds <= 0)
            return;
        ftp_.replyTimer_->SetOnTimer([&ftp = ftp_, text = std::move(text)](TComponent*) {
            ftp.replyTimer_->SetEnabled(false);
            ftp.expiredText_ = text;
            ftp.RequestCancel();
        });
        ftp_.replyTimer_->SetInterval(static_cast<uint32_t>(milliseconds));
        ftp_.replyTimer_->SetEnabled(true);
    }
    ~Deadline() { ftp_.replyTimer_->SetEnabled(false); }
    Deadline(const Deadline&) = delete;
    Deadline& operator=(const Deadline&) = delete;

private:
    TNMFTP& ftp_;
};

TNMFTP::TNMFTP()
    : watch_(std::make_unique<TThreadTimer>()), replyTimer_(std::make_unique<TThreadTimer>()) {
    Port = 21;
    MaxLineLength = MaxLineBytes;
    // A server that hangs up mid-dialogue ends the wait for its reply.
    ReadLnEndsAtClose = true;
    SetReceiveHook([this](TComponent*) { CheckServerAbort(); });
    watch_->SetEnabled(false);
    watch_->SetOnTimer([this](TComponent*) { WatchFired(); });
    replyTimer_->SetEnabled(false);
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
        StopWatch();
        replyTimer_->SetEnabled(false);
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

// ---- the control dialogue ---------------------------------------------------------------

void TNMFTP::ResetCancel() {
    ClearCancelRequest();
    serverAbort_ = false;
    serverAbortLine_.clear();
}

void TNMFTP::DiscardUnread() {
    while (!ReceivedData().empty())
        Read(0);
}

// The error of a wait that was cut short: the server's abort, a reply's deadline, or a cancel.
void TNMFTP::RaiseAbort() {
    if (serverAbort_)
        throw FTPException(ServerAbortLine());
    if (!expiredText_.empty())
        throw ESockError(expiredText_);
    throw;
}

std::string TNMFTP::ReadReplyLine() {
    try {
        return ReadLn();
    } catch (const EAbortError&) {
        RaiseAbort();
    }
}

std::string TNMFTP::ExchangeFirstLine(const std::string& Command) {
    try {
        return TPowersock::Transaction(Command);
    } catch (const EAbortError&) {
        RaiseAbort();
    }
}

void TNMFTP::ReadContinuationLines(const std::string& First,
                                   const std::function<void(const std::string&)>& onLine) {
    if (!OpensMultiLine(First))
        return;
    // The lines between may hold any text; only "xyz " ends the reply.
    const std::string last = First.substr(0, 3) + " ";
    for (size_t lines = 1;; ++lines) {
        if (lines >= MaxReplyLines)
            throw ESockError("Reply too long: more than " + std::to_string(MaxReplyLines) +
                             " lines");
        const std::string line = ReadReplyLine();
        ReportStatus(1, line);
        if (onLine)
            onLine(line);
        if (line.compare(0, 4, last) == 0)
            return;
    }
}

std::string TNMFTP::Transaction(const std::string& Command) {
    const std::string word = CommandWord(Command);
    Deadline deadline(*this, word == "QUIT" ? QuitTimeOut : ReplyTimeOut,
                      "Timed out waiting for the reply to " + word);
    ++owed_;
    const std::string first = ExchangeFirstLine(Command);
    ReadContinuationLines(first);
    // A preliminary reply leaves the command's own reply owed.
    if (!IsPreliminary(first))
        --owed_;
    return first;
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
    if (ReplyCode() > 400 && ReplyCode() < 600) {
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
    owed_ = 1;
    {
        Deadline deadline(*this, ReplyTimeOut, "Timed out waiting for the server's greeting");
        const std::string greeting = ReadReplyLine();
        ReportStatus(1, greeting);
        ReadContinuationLines(greeting);
        owed_ = 0;
    }
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
    owed_ = 0;
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

void TNMFTP::Disconnect() {
    ResetCancel();
    if (!Connected())
        return;
    ReportStatus(1, "QUIT");
    directoryList_.reset();
    Vendor = VendorAuto;
    // A session out of step, cancelled or abandoned has no reply worth waiting for.
    if (owed_ > 0 || StopWanted()) {
        CloseNow();
        return;
    }
    try {
        DiscardUnread();
        const std::string reply = Transaction("QUIT");
        if (ReplyCode() > 300 && ReplyCode() < 600)
            throw FTPException(reply);
    } catch (...) {
        const bool silent = !expiredText_.empty();
        owed_ = 0;
        TPowersock::Disconnect();
        // Everything asked for is done: a goodbye that never comes is no error.
        if (silent)
            return;
        throw;
    }
    TPowersock::Disconnect();
}

void TNMFTP::Cancel() {
    if (dataConnection_)
        dataConnection_->RequestCancel();
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
    try {
        reply = Transaction(Command);
    } catch (...) {
        if (serverAbort_)
            ConsumeAbortReply();
        // A reply still owed would be read as the answer to the next command.
        if (owed_ > 0)
            CloseNow();
        throw;
    }
    const int code = ReplyCode();
    if (code >= 400 && code <= 599) {
        if (OnUnSupportedFunction && code >= 500 && code <= 502)
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

// ---- server aborts ----------------------------------------------------------------------

void TNMFTP::CheckServerAbort() {
    NoteActivity();
    if (draining_)
        return;
    const std::string_view pending = ReceivedData();
    if (pending.size() < 4)
        return;
    // While the data connection is awaited, any error reply means it will not come.
    const bool refused = awaitingData_ && (pending[0] == '4' || pending[0] == '5');
    if (!refused && !IsServerAbort(pending))
        return;
    serverAbort_ = true;
    serverAbortLine_ = FirstLine(pending);
    RequestCancel();
    // A transfer the server has given up on cannot complete: its data wait ends too.
    Cancel();
}

// The server's abort reply as it stands now: complete by now, as a rule, where the receive step
// that saw it may have had only its first bytes.
std::string TNMFTP::ServerAbortLine() const {
    const std::string_view pending = ReceivedData();
    return pending.substr(0, 3) == std::string_view(serverAbortLine_).substr(0, 3)
               ? FirstLine(pending)
               : serverAbortLine_;
}

// The server's abort line is the reply the command was owed: it is taken, so the next command
// reads its own reply.
void TNMFTP::ConsumeAbortReply() {
    ClearCancelRequest();
    const bool stillThere =
        ReceivedData().substr(0, 3) == std::string_view(serverAbortLine_).substr(0, 3);
    ResetCancel();
    if (!stillThere || owed_ == 0)
        return;
    Deadline deadline(*this, ResyncTimeOut, "Timed out waiting for the server's reply");
    draining_ = true;
    try {
        const std::string line = ReadReplyLine();
        ReportStatus(1, line);
        ReadContinuationLines(line);
        --owed_;
    } catch (const std::exception&) {
        // Still owed: the caller closes or renews the session.
    }
    draining_ = false;
    ResetCancel();
}

// ---- the transfer watchdog --------------------------------------------------------------

void TNMFTP::StartWatch() {
    stalled_ = false;
    watching_ = true;
    NoteActivity();
    watch_->SetEnabled(false);
    if (DataTimeOut > 0) {
        watch_->SetInterval(static_cast<uint32_t>(DataTimeOut));
        watch_->SetEnabled(true);
    }
}

void TNMFTP::StopWatch() {
    watching_ = false;
    watch_->SetEnabled(false);
}

// Bytes note their time only; the timer looks at it when it fires and, while the transfer is
// alive, sets itself for the rest of the quiet time allowed.
void TNMFTP::WatchFired() {
    if (!watching_) {
        watch_->SetEnabled(false);
        return;
    }
    const auto quiet = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - lastActivity_)
                           .count();
    if (quiet < DataTimeOut) {
        watch_->SetInterval(static_cast<uint32_t>(DataTimeOut - quiet));
        return;
    }
    StopWatch();
    stalled_ = true;
    Cancel();
    RequestCancel();
}

// ---- transfers --------------------------------------------------------------------------

void TNMFTP::OpenDataConnection(TCmdType kind) {
    TPowersock& data = *dataConnection_;
    data.TimeOut = TimeOut;
    data.Port = 0;
    // Only the server may supply the data: the port is open on the address the server reaches
    // us at, and a connection from anywhere else is closed.
    data.AcceptOnlyFrom = RemoteAddress();
    data.Listen(true, LocalAddress());
    StartWatch();
    const std::string argument = LocalAddressCommas() + data.LocalPortCommas();
    ReportStatus(1, "PORT " + argument);
    const std::string reply = Transaction("PORT " + argument);
    if (ReplyCode() > 300 && ReplyCode() < 600)
        Fail(kind, reply);
}

// A data connection that the server closed has been closed on this side already; closing it
// again would only make and drop one more socket per transfer.
void TNMFTP::CloseDataSocket() {
    if (dataConnection_->Connected())
        dataConnection_->CloseSocket();
}

void TNMFTP::AcceptDataConnection() {
    TPowersock& data = *dataConnection_;
    // An error reply may have come with the preliminary one.
    awaitingData_ = true;
    CheckServerAbort();
    data.AdoptSocket(data.Accept());
    NoteActivity();
}

void TNMFTP::PrepareParser() {
    if (!directoryList_) {
        if (Vendor == VendorAuto) {
            try {
                ExecuteCommand("SYST");
            } catch (const std::exception&) {
                // Without an answer the kind falls back to VendorOther; a session closed on
                // the way cannot list at all.
                if (!Connected())
                    throw;
            }
            Vendor = VendorFromSystReply(LastReply());
        }
        directoryList_ = MakeDirectoryList(Vendor);
    }
    directoryList_->Clear();
}

void TNMFTP::DeliverListingLine(std::string line) {
    if (ParseList && directoryList_)
        directoryList_->ParseLine(line);
    if (OnListItem)
        OnListItem(line);
}

void TNMFTP::ReadListing() {
    TPowersock& data = *dataConnection_;
    uint64_t received = 0;
    size_t lines = 0;
    const auto count = [&](const std::string& line) {
        received += line.size();
        if (++lines > MaxListingLines)
            throw ESockError("Listing too long: more than " + std::to_string(MaxListingLines) +
                             " lines");
    };
    const auto checkBytes = [&](uint64_t pending) {
        if (received + pending > MaxListingBytes)
            throw ESockError("Listing too long: more than " +
                             std::to_string(MaxListingBytes >> 20) + " MB");
    };
    if (!CancelRequested() && !TimedOut()) {
        for (;;) {
            size_t searched = 0;
            size_t lineFeed = std::string_view::npos;
            platform::WaitUntil([&]() {
                if (data.PollAbort())
                    return true;
                const std::string_view pending = data.ReceivedData();
                lineFeed = pending.find('\n', std::min(searched, pending.size()));
                searched = pending.size();
                return lineFeed != std::string_view::npos || !data.Connected() ||
                       searched >= MaxLineBytes || received + searched > MaxListingBytes;
            });
            if (data.CancelRequested())
                throw EAbortError("Socket readln aborted");
            checkBytes(lineFeed != std::string_view::npos ? lineFeed + 1 : searched);
            if (lineFeed != std::string_view::npos) {
                std::string line = data.ReadLn();
                count(line);
                // A line of one or two characters (a bare CR LF) is passed on as it came.
                if (line.size() > 2)
                    line.resize(line.size() - (line[line.size() - 2] == '\r' ? 2 : 1));
                DeliverListingLine(std::move(line));
                continue;
            }
            if (data.Connected())
                throw ESockError("Line too long", TFailure::LineTooLong);
            // The server closed after a last line without a line feed: it is a line all the
            // same, and has no line end to strip.
            std::string fragment;
            while (!data.ReceivedData().empty())
                fragment += data.Read(0);
            if (!fragment.empty()) {
                count(fragment);
                DeliverListingLine(std::move(fragment));
            }
            break;
        }
    }
    awaitingData_ = false;
    if (OnTransactionStop)
        OnTransactionStop(this);
    CloseDataSocket();
    SetBytesExpected(static_cast<uint32_t>(received));
    ReportStatus(1, "Received " + std::to_string(received) + " Bytes");
}

// The closing reply tells whether the server sent everything: an error there (426, 451, ...)
// fails the transfer. A transfer whose wait was cut short by a server abort, the watchdog or a
// cancel of the session has no closing reply to read and is failed the same way.
void TNMFTP::FinishTransfer() {
    awaitingData_ = false;
    if (CancelRequested() || TimedOut()) {
        if (serverAbort_)
            throw FTPException(ServerAbortLine());
        if (stalled_)
            throw ESockError("Transfer timed out");
        throw EAbortError("Transfer Canceled");
    }
    // A server that answered the command with its final reply owes none.
    if (owed_ == 0)
        return;
    Deadline deadline(*this, ReplyTimeOut, "Timed out waiting for the server's reply");
    const std::string first = ReadReplyLine();
    ReportStatus(1, first);
    ReadContinuationLines(first);
    --owed_;
    const int64_t code = LeadingCode(first);
    if (code >= 400 && code <= 599)
        throw FTPException(first);
}

void TNMFTP::Resynchronise(TCmdType kind) {
    if (owed_ > 0 && Connected() && kind == cmdDownload) {
        Deadline deadline(*this, ResyncTimeOut, "Timed out waiting for the server's reply");
        draining_ = true;
        try {
            while (owed_ > 0) {
                const std::string line = ReadReplyLine();
                ReportStatus(1, line);
                ReadContinuationLines(line);
                if (!IsPreliminary(line))
                    --owed_;
            }
        } catch (const std::exception&) {
            // Not in time: the session is renewed below.
        }
        draining_ = false;
        ResetCancel();
    }
    if (owed_ == 0 || !Connected())
        return;
    CloseNow();
    // A listing that failed ends the job anyway; a download goes on with the next file.
    if (kind != cmdDownload)
        return;
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

void TNMFTP::RaiseTransferError(std::exception_ptr error) {
    const bool stalled = stalled_;
    const std::string abortLine = serverAbort_ ? ServerAbortLine() : std::string();
    awaitingData_ = false;
    dataConnection_.reset();
    StopWatch();
    if (StopWanted()) {
        // The owner cancelled: nothing more is read from this session.
        CloseNow();
        std::rethrow_exception(error);
    }
    if (!abortLine.empty())
        ConsumeAbortReply();
    ResetCancel();
    Resynchronise(kind_);
    if (stalled)
        throw ESockError("Transfer timed out");
    if (!abortLine.empty())
        throw FTPException(abortLine);
    std::rethrow_exception(error);
}

void TNMFTP::RunTransfer(TCmdType kind, const std::function<void()>& transfer) {
    ResetCancel();
    CheckConnected();
    if (!Connected())
        return;
    kind_ = kind;
    announced_ = 0;
    dataConnection_ = std::make_unique<TDataConnection>([this]() { NoteActivity(); });
    dataConnection_->AbortWhen = AbortWhen;
    try {
        DiscardUnread();
        transfer();
    } catch (...) {
        RaiseTransferError(std::current_exception());
    }
    dataConnection_.reset();
    StopWatch();
    if (OnSuccess)
        OnSuccess(kind);
}

void TNMFTP::List() {
    RunTransfer(cmdList, [this] {
        if (ParseList)
            PrepareParser();
        OpenDataConnection(cmdList);
        ReportStatus(1, "LIST");
        const std::string reply = Transaction("LIST");
        const int code = ReplyCode();
        if (code > 300 && code < 600) {
            if (OnUnSupportedFunction && code >= 500 && code <= 502)
                OnUnSupportedFunction(cmdList);
            Fail(cmdList, reply);
        }
        announced_ = ExtractByteCount(reply);
        SetBytesExpected(static_cast<uint32_t>(announced_));
        if (OnTransactionStart)
            OnTransactionStart(this);
        AcceptDataConnection();
        ReadListing();
        FinishTransfer();
    });
}

void TNMFTP::Download(const std::string& RemoteFile, const std::string& LocalFile,
                      TFileStream* Into) {
    RunTransfer(cmdDownload, [this, &RemoteFile, &LocalFile, Into] {
        OpenDataConnection(cmdDownload);
        TPowersock& data = *dataConnection_;
        if (OnPacketRecvd)
            data.OnPacketRecvd = OnPacketRecvd;

        ReportStatus(1, "RETR " + RemoteFile);
        SetBytesExpected(0);
        const std::string command = "RETR " + RemoteFile;
        std::string first;
        {
            Deadline deadline(*this, ReplyTimeOut, "Timed out waiting for the reply to RETR");
            ++owed_;
            first = ExchangeFirstLine(command);
        }
        const int code = ReplyCode();
        const bool failed = code > 300 && code < 600;
        if (failed) {
            // The reply is judged by its first line; the rest is read so the next command
            // reads its own.
            try {
                ReadContinuationLines(first);
                --owed_;
            } catch (const std::exception&) {
            }
            Fail(cmdDownload, first);
        }
        // The count of the last "(N bytes)" among the reply's lines; without one, the number
        // before the first "bytes" of the first line that has one.
        bool parenthesized = ParenthesizedCount(first, announced_);
        if (!parenthesized)
            announced_ = ExtractByteCount(first);
        SetBytesExpected(static_cast<uint32_t>(announced_));
        if (!failed) {
            Deadline deadline(*this, ReplyTimeOut, "Timed out waiting for the reply to RETR");
            ReadContinuationLines(first, [&](const std::string& line) {
                uint64_t count = 0;
                if (ParenthesizedCount(line, count)) {
                    parenthesized = true;
                    announced_ = count;
                } else if (!parenthesized && announced_ == 0) {
                    announced_ = ExtractByteCount(line);
                }
                SetBytesExpected(static_cast<uint32_t>(announced_));
            });
        }
        if (!failed && !IsPreliminary(first))
            --owed_;

        AcceptDataConnection();
        if (OnTransactionStart)
            OnTransactionStart(this);
        const std::string target = LocalFile.empty() ? RemoteFile : LocalFile;
        if (!CancelRequested() && !TimedOut()) {
            if (Into != nullptr)
                data.CaptureInto(*Into);
            else
                data.CaptureFile(target);
        }
        if (OnTransactionStop)
            OnTransactionStop(this);
        CloseDataSocket();
        SetBytesExpected(data.BytesReceived());
        ReportStatus(1, "Received " + std::to_string(BytesExpected()) + " Bytes");
        FinishTransfer();
        if (announced_ > 0) {
            // The 32-bit count wraps at 4 GB; beyond that the file's own size tells.
            const uint64_t stored = announced_ <= UINT32_MAX ? data.BytesReceived()
                                    : Into != nullptr
                                        ? Into->Size()
                                        : TFileStream(target, TFileStream::Mode::OpenRead).Size();
            if (stored < announced_)
                throw ESockError("Transfer incomplete: received " + std::to_string(stored) +
                                 " of " + std::to_string(announced_) + " bytes");
        }
    });
}

uint64_t TNMFTP::ExtractByteCount(const std::string& Line) {
    uint64_t parenthesized = 0;
    if (ParenthesizedCount(Line, parenthesized))
        return parenthesized;
    std::string upper = Line;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const size_t byteWord = upper.find("BYTE");
    if (byteWord == std::string::npos)
        return 0;
    const auto isDigit = [&](size_t i) { return IsDigit(Line[i]); };
    size_t end = byteWord;
    while (end > 0 && !isDigit(end - 1))
        --end;
    if (end == 0)
        return 0;
    size_t start = end;
    while (start > 0 && isDigit(start - 1))
        --start;
    // Digits at the very start are the reply code ("150 bytes follow"): taken as a count, they
    // would fail a short file as incomplete.
    if (start == 0)
        return 0;
    end = std::min(end, start + 255);
    uint64_t count = 0;
    for (size_t i = start; i < end; ++i) {
        const uint64_t digit = static_cast<uint64_t>(Line[i] - '0');
        // A number too large to hold does not convert.
        if (count > (UINT64_MAX - digit) / 10)
            return 0;
        count = count * 10 + digit;
    }
    return count;
}
