#include "net/NMFTP.h"

#include "platform/EventWait.h"
#include "platform/FileSystem.h"
#include "platform/ThreadTimer.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <string_view>

namespace {

// A reply or listing line longer than this is hostile: without a bound it would fill memory
// while the wait still sees the connection as alive.
constexpr size_t MaxLineBytes = 1 << 20;

// How long a transfer that the server aborted waits for the rest of its words.
constexpr uint32_t DrainMilliseconds = 950;

// The data connection of one transfer: a plain session that tells its owner of every receive
// step, so that a silent server can be told from a slow one.
class TDataConnection : public TPowersock {
public:
    explicit TDataConnection(std::function<void()> onReceive) {
        SetReceiveHook([onReceive = std::move(onReceive)](TComponent*) { onReceive(); });
    }
};

bool IsContinued(const std::string& line) {
    return (!line.empty() && line[0] == ' ') || (line.size() >= 4 && line[3] == '-');
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

TNMFTP::TNMFTP() : watch_(std::make_unique<TThreadTimer>()) {
    Port = 21;
    MaxLineLength = MaxLineBytes;
    // A server that hangs up mid-dialogue ends the wait for its reply.
    ReadLnEndsAtClose = true;
    SetReceiveHook([this](TComponent*) { CheckServerAbort(); });
    watch_->SetEnabled(false);
    watch_->SetOnTimer([this](TComponent*) { WatchFired(); });
}

TNMFTP::~TNMFTP() {
    // The owner's handlers may touch members that are already gone.
    OnStatus = nullptr;
    OnConnect = nullptr;
    OnPacketRecvd = nullptr;
    OnDisconnect = nullptr;
    OnError = nullptr;
    SetReceiveHook(nullptr);
    try {
        RequestCancel();
        Cancel();
        StopWatch();
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

std::string TNMFTP::ReadReplyLine() {
    try {
        return ReadLn();
    } catch (const EAbortError&) {
        if (serverAbort_)
            throw FTPException(ServerAbortLine());
        throw;
    }
}

std::string TNMFTP::ExchangeFirstLine(const std::string& Command) {
    try {
        return TPowersock::Transaction(Command);
    } catch (const EAbortError&) {
        if (serverAbort_)
            throw FTPException(ServerAbortLine());
        throw;
    }
}

void TNMFTP::ReadContinuationLines(std::string& Line) {
    while (IsContinued(Line)) {
        Line = ReadReplyLine();
        ReportStatus(1, Line);
    }
}

std::string TNMFTP::Transaction(const std::string& Command) {
    const std::string first = ExchangeFirstLine(Command);
    std::string line = first;
    ReadContinuationLines(line);
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

void TNMFTP::Connect() {
    abandoned_ = false;
    ResetCancel();
    if (Connected())
        return;
    TPowersock::Connect();
    try {
        std::string greeting = " ";
        ReadContinuationLines(greeting);
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
        // RFC 959's default type is ASCII, in which a server may rewrite the line ends inside
        // a binary file.
        ExecuteCommand("TYPE I");
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

void TNMFTP::Disconnect() {
    ResetCancel();
    if (!Connected())
        return;
    if (abandoned_) {
        ReportStatus(1, "QUIT");
        directoryList_.reset();
        Vendor = VendorAuto;
        try {
            Writeln("QUIT");
        } catch (...) {
            // Leaving either way.
        }
        TPowersock::Disconnect();
        return;
    }
    ReportStatus(1, "QUIT");
    directoryList_.reset();
    Vendor = VendorAuto;
    try {
        DiscardUnread();
        const std::string reply = Transaction("QUIT");
        if (ReplyCode() > 300 && ReplyCode() < 600)
            throw FTPException(reply);
    } catch (...) {
        TPowersock::Disconnect();
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
    const std::string reply = Transaction(Command);
    const int code = ReplyCode();
    if (code >= 400 && code <= 599) {
        if (OnUnSupportedFunction && code >= 500 && code <= 502)
            OnUnSupportedFunction(kind);
        Fail(kind, reply);
        return;
    }
    if (OnSuccess)
        OnSuccess(kind);
}

void TNMFTP::ChangeDirectory(const std::string& Directory) {
    ExecuteCommand("CWD " + Directory);
}

// ---- server aborts ----------------------------------------------------------------------

void TNMFTP::CheckServerAbort() {
    NoteActivity();
    const std::string_view pending = ReceivedData();
    if (pending.size() < 4 || !IsServerAbort(pending))
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
    return IsServerAbort(pending) ? FirstLine(pending) : serverAbortLine_;
}

std::string TNMFTP::DrainAfterAbort() {
    ClearCancelRequest();
    bool expired = false;
    TThreadTimer deadline;
    deadline.SetInterval(DrainMilliseconds);
    deadline.SetOnTimer([&](TComponent*) { expired = true; });
    platform::WaitUntil(
        [&]() { return !ReceivedData().empty() || !Connected() || CancelRequested() || expired; });
    std::string text;
    while (!ReceivedData().empty())
        text += Read(0);
    ReportStatus(1, text);
    ResetCancel();
    return text;
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
    data.Listen(true);
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
    data.AdoptSocket(data.Accept());
    NoteActivity();
}

void TNMFTP::PrepareParser() {
    if (!directoryList_) {
        if (Vendor == VendorAuto) {
            try {
                ExecuteCommand("SYST");
            } catch (const std::exception&) {
                // Without an answer the kind falls back to VendorOther.
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
    if (!CancelRequested() && !TimedOut()) {
        for (;;) {
            size_t searched = 0;
            size_t lineFeed = std::string_view::npos;
            platform::WaitUntil([&]() {
                if (data.CancelRequested())
                    return true;
                const std::string_view pending = data.ReceivedData();
                lineFeed = pending.find('\n', std::min(searched, pending.size()));
                searched = pending.size();
                return lineFeed != std::string_view::npos || !data.Connected() ||
                       searched >= MaxLineBytes;
            });
            if (data.CancelRequested())
                throw EAbortError("Socket readln aborted");
            if (lineFeed != std::string_view::npos) {
                std::string line = data.ReadLn();
                received += line.size();
                // A line of one or two characters (a bare CR LF) is passed on as it came.
                if (line.size() > 2)
                    line.resize(line.size() - (line[line.size() - 2] == '\r' ? 2 : 1));
                DeliverListingLine(std::move(line));
                continue;
            }
            if (data.Connected())
                throw ESockError("Line too long");
            // The server closed after a last line without a line feed: it is a line all the
            // same, and has no line end to strip.
            std::string fragment;
            while (!data.ReceivedData().empty())
                fragment += data.Read(0);
            if (!fragment.empty()) {
                received += fragment.size();
                DeliverListingLine(std::move(fragment));
            }
            break;
        }
    }
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
    if (CancelRequested() || TimedOut()) {
        if (serverAbort_)
            throw FTPException(ServerAbortLine());
        if (stalled_)
            throw ESockError("Transfer timed out");
        throw EAbortError("Transfer Canceled");
    }
    std::string line = ReadReplyLine();
    ReportStatus(1, line);
    const std::string first = line;
    ReadContinuationLines(line);
    const int64_t code = LeadingCode(first);
    if (code >= 400 && code <= 599)
        throw FTPException(first);
}

void TNMFTP::RaiseTransferError(std::exception_ptr error) {
    const bool stalled = stalled_;
    const std::string abortLine = serverAbort_ ? ServerAbortLine() : std::string();
    dataConnection_.reset();
    StopWatch();
    if (CancelRequested())
        DrainAfterAbort();
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
    dataConnection_ = std::make_unique<TDataConnection>([this]() { NoteActivity(); });
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
        SetBytesExpected(static_cast<uint32_t>(ExtractByteCount(reply)));
        if (OnTransactionStart)
            OnTransactionStart(this);
        AcceptDataConnection();
        ReadListing();
        FinishTransfer();
    });
}

void TNMFTP::Download(const std::string& RemoteFile, const std::string& LocalFile) {
    RunTransfer(cmdDownload, [this, &RemoteFile, &LocalFile] {
        OpenDataConnection(cmdDownload);
        TPowersock& data = *dataConnection_;
        if (OnPacketRecvd)
            data.OnPacketRecvd = OnPacketRecvd;

        ReportStatus(1, "RETR " + RemoteFile);
        SetBytesExpected(0);
        std::string line = ExchangeFirstLine("RETR " + RemoteFile);
        const int code = ReplyCode();
        const bool failed = code > 300 && code < 600;
        if (failed)
            Fail(cmdDownload, line);
        uint64_t announced = ExtractByteCount(line);
        SetBytesExpected(static_cast<uint32_t>(announced));
        while (IsContinued(line)) {
            line = ReadReplyLine();
            ReportStatus(1, line);
            if (announced == 0) {
                announced = ExtractByteCount(line);
                SetBytesExpected(static_cast<uint32_t>(announced));
            }
            if (failed) {
                if (OnUnSupportedFunction && code >= 500 && code <= 502)
                    OnUnSupportedFunction(cmdDownload);
                Fail(cmdDownload, line);
            }
        }

        AcceptDataConnection();
        if (OnTransactionStart)
            OnTransactionStart(this);
        const std::string target = LocalFile.empty() ? RemoteFile : LocalFile;
        if (!CancelRequested() && !TimedOut())
            data.CaptureFile(target);
        if (OnTransactionStop)
            OnTransactionStop(this);
        CloseDataSocket();
        SetBytesExpected(data.BytesReceived());
        ReportStatus(1, "Received " + std::to_string(BytesExpected()) + " Bytes");
        FinishTransfer();
        if (announced > 0) {
            // The 32-bit count wraps at 4 GB; beyond that the file's own size tells.
            const uint64_t stored = announced <= UINT32_MAX
                                        ? data.BytesReceived()
                                        : TFileStream(target, TFileStream::Mode::OpenRead).Size();
            if (stored < announced)
                throw ESockError("Transfer incomplete: received " + std::to_string(stored) +
                                 " of " + std::to_string(announced) + " bytes");
        }
    });
}

uint64_t TNMFTP::ExtractByteCount(const std::string& Line) {
    std::string upper = Line;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const size_t byteWord = upper.find("BYTE");
    if (byteWord == std::string::npos)
        return 0;
    const auto isDigit = [&](size_t i) {
        return std::isdigit(static_cast<unsigned char>(Line[i]));
    };
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
