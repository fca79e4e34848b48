#include "net/FtpTransfer.h"

#include "net/FtpReply.h"
#include "net/HttpText.h"
#include "platform/EventWait.h"
#include "platform/FileSystem.h"
#include "platform/ThreadTimer.h"

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <utility>

namespace {

// The data connection of one transfer: a plain session that tells its owner of every receive
// step, so that a silent server can be told from a slow one.
class TDataConnection : public TPowersock {
public:
    explicit TDataConnection(std::function<void()> onReceive) {
        SetReceiveHook([onReceive = std::move(onReceive)](TComponent*) { onReceive(); });
    }
};

// A refused PORT, or a 425 to LIST or RETR: the server cannot reach us, and passive mode may
// work where active mode does not. It is an FTPException with the reply line like any other
// refusal, should it end the transfer after all.
class EActiveFailed : public FTPException {
public:
    using FTPException::FTPException;
};

std::string Dotted(uint32_t address) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", (address >> 24) & 255, (address >> 16) & 255,
                  (address >> 8) & 255, address & 255);
    return text;
}

} // namespace

TFtpTransfer::TFtpTransfer(TNMFTP& session)
    : ftp_(session), watch_(std::make_unique<TThreadTimer>()) {
    watch_->SetEnabled(false);
    watch_->SetOnTimer([this](TComponent*) { WatchFired(); });
}

TFtpTransfer::~TFtpTransfer() = default;

void TFtpTransfer::CancelData() {
    if (data_)
        data_->RequestCancel();
}

void TFtpTransfer::Stop() {
    StopWatch();
}

// ---- the frame of a transfer ------------------------------------------------------------

void TFtpTransfer::Run(TCmdType kind, const std::function<void()>& steps) {
    ftp_.ResetCancel();
    ftp_.CheckConnected();
    if (!ftp_.Connected())
        return;
    kind_ = kind;
    for (;;) {
        announced_ = 0;
        data_ = std::make_unique<TDataConnection>([this]() {
            NoteActivity();
            HoldEarlyData();
        });
        data_->AbortWhen = ftp_.AbortWhen;
        try {
            ftp_.DiscardUnread();
            steps();
            break;
        } catch (...) {
            const std::exception_ptr error = std::current_exception();
            const bool again = ActiveCannotWork(error);
            const TWaitEnd why = ftp_.waitEnd_;
            const std::string abortLine =
                why == TWaitEnd::ServerAbort ? ftp_.ServerAbortLine() : std::string();
            data_.reset();
            StopWatch();
            ftp_.Enter(TFtpPhase::Idle);
            if (ftp_.StopWanted()) {
                // The owner cancelled: nothing more is read from this session.
                ftp_.CloseNow();
                std::rethrow_exception(error);
            }
            if (why == TWaitEnd::ServerAbort)
                ftp_.ConsumeAbortReply();
            ftp_.ResetCancel();
            Recover(again);
            if (!again)
                Raise(error, why, abortLine);
            ftp_.passive_ = true;
            if (ftp_.OnPassiveFallback)
                ftp_.OnPassiveFallback(&ftp_);
        }
    }
    data_.reset();
    StopWatch();
    ftp_.Enter(TFtpPhase::Idle);
    if (ftp_.OnSuccess)
        ftp_.OnSuccess(kind);
}

bool TFtpTransfer::MayFallBack() const {
    return ftp_.Mode == TFtpMode::Auto && !ftp_.passive_;
}

bool TFtpTransfer::ActiveCannotWork(const std::exception_ptr& error) const {
    if (!MayFallBack() || ftp_.StopWanted() || !ftp_.Connected())
        return false;
    try {
        std::rethrow_exception(error);
    } catch (const EActiveFailed&) {
        return true;
    } catch (...) {
    }
    // A 425 in place of the data connection, or nothing at all before the data began to flow.
    if (ftp_.waitEnd_ == TWaitEnd::ServerAbort)
        return ftp_.phase_ == TFtpPhase::AwaitingData &&
               ftpreply::NoDataConnection(ftpreply::CodeOf(ftp_.ServerAbortLine()));
    // A server that tries to connect to us before it answers (vsftpd does) keeps silent on both
    // connections until it gives up: whichever limit ends that wait first tells the same.
    const bool silent = ftp_.waitEnd_ == TWaitEnd::Stall || ftp_.waitEnd_ == TWaitEnd::Deadline;
    return silent && (ftp_.phase_ == TFtpPhase::Command || ftp_.phase_ == TFtpPhase::AwaitingData);
}

void TFtpTransfer::Recover(bool again) {
    // A failed download is followed by the next file, and a failed active attempt by its
    // passive repeat: they need the session in step. A listing that failed ends the job.
    const bool goesOn = kind_ == cmdDownload || again;
    if (ftp_.DrainOwed(goesOn ? ftp_.ResyncTimeOut : 0) || !ftp_.Connected())
        return;
    if (goesOn)
        ftp_.Renew();
    else
        ftp_.CloseNow();
}

void TFtpTransfer::Raise(const std::exception_ptr& error, TWaitEnd why,
                         const std::string& abortLine) {
    if (why == TWaitEnd::Stall)
        throw ESockError("Transfer timed out");
    if (why == TWaitEnd::ServerAbort)
        throw FTPException(abortLine);
    std::rethrow_exception(error);
}

// ---- the data connection ----------------------------------------------------------------

void TFtpTransfer::Open(TCmdType kind) {
    TPowersock& data = *data_;
    data.TimeOut = ftp_.TimeOut;
    StartWatch();
    ftp_.Enter(TFtpPhase::Command);
    if (ftp_.passive_) {
        OpenPassive();
        return;
    }
    data.Port = 0;
    // Only the server may supply the data: the port is open on the address the server reaches
    // us at, and a connection from anywhere else is closed.
    data.AcceptOnlyFrom = ftp_.RemoteAddress();
    data.Listen(true, ftp_.LocalAddress());
    const std::string argument = ftp_.LocalAddressCommas() + data.LocalPortCommas();
    ftp_.ReportStatus(1, "PORT " + argument);
    const std::string reply = ftp_.Transaction("PORT " + argument);
    if (ftpreply::StepRefused(ftp_.ReplyCode())) {
        if (MayFallBack() && ftpreply::ActiveRefused(ftp_.ReplyCode()))
            throw EActiveFailed(reply);
        ftp_.Fail(kind, reply);
    }
}

void TFtpTransfer::OpenPassive() {
    ftp_.ReportStatus(1, "PASV");
    const std::string reply = ftp_.Transaction("PASV");
    if (ftpreply::StepRefused(ftp_.ReplyCode()))
        throw FTPException(reply);
    const uint16_t port = ftpreply::PassivePort(reply);
    if (port == 0)
        throw ESockError("Bad passive reply: " + http::WithoutLineEnd(reply));
    TPowersock& data = *data_;
    // The server's own address: a reply that names another host could send our connection
    // anywhere.
    data.Host = Dotted(ftp_.RemoteAddress());
    data.Port = port;
    ftp_.Enter(TFtpPhase::AwaitingData);
    try {
        data.Connect();
    } catch (const ESockError& error) {
        if (error.Kind() == TFailure::ConnectFailed)
            throw ESockError("Error creating Data Connection");
        throw;
    }
    NoteActivity();
}

TFtpReply TFtpTransfer::Ask(const std::string& command) {
    ftp_.ReportStatus(1, command);
    ftp_.Enter(TFtpPhase::Command);
    return ftp_.replies_->Exchange(command, ftp_.ReplyTimeOut);
}

void TFtpTransfer::Judge(TCmdType kind, const TFtpReply& reply) {
    if (ftpreply::StepRefused(reply.code)) {
        if (MayFallBack() && ftpreply::NoDataConnection(reply.code))
            throw EActiveFailed(reply.first);
        if (kind == cmdList && ftp_.OnUnSupportedFunction && ftpreply::Unsupported(reply.code))
            ftp_.OnUnSupportedFunction(cmdList);
        ftp_.Fail(kind, reply.first);
    }
    announced_ = ftpreply::AnnouncedBytes(reply.lines);
    ftp_.SetBytesExpected(static_cast<uint32_t>(announced_));
}

void TFtpTransfer::HoldEarlyData() {
    // A cancelled connection stops reading, and the server's sending stops with it.
    if (ftp_.phase_ != TFtpPhase::Receiving &&
        data_->ReceivedData().size() > ftp_.MaxEarlyDataBytes)
        data_->RequestCancel();
}

void TFtpTransfer::StartReceiving() {
    ftp_.Enter(TFtpPhase::Receiving);
    if (data_->ReceivedData().size() > ftp_.MaxEarlyDataBytes)
        throw ESockError("More than " + std::to_string(ftp_.MaxEarlyDataBytes) +
                         " bytes of data before the server's reply");
}

void TFtpTransfer::AwaitData() {
    if (ftp_.passive_)
        return;
    TPowersock& data = *data_;
    ftp_.Enter(TFtpPhase::AwaitingData);
    // An error reply may have come with the preliminary one.
    ftp_.CheckServerAbort();
    data.AdoptSocket(data.Accept());
    NoteActivity();
}

// A data connection that the server closed has been closed on this side already; closing it
// again would only make and drop one more socket per transfer.
void TFtpTransfer::CloseDataSocket() {
    if (data_->Connected())
        data_->CloseSocket();
}

// The closing reply tells whether the server sent everything: an error there (426, 451, ...)
// fails the transfer. A transfer whose wait was cut short by a server abort, the watchdog or a
// cancel of the session has no closing reply to read and is failed the same way.
void TFtpTransfer::FinishTransfer() {
    ftp_.Enter(TFtpPhase::AwaitingClose);
    if (ftp_.CancelRequested() || ftp_.TimedOut()) {
        if (ftp_.waitEnd_ == TWaitEnd::ServerAbort)
            throw FTPException(ftp_.ServerAbortLine());
        if (ftp_.waitEnd_ == TWaitEnd::Stall)
            throw ESockError("Transfer timed out");
        throw EAbortError("Transfer Canceled");
    }
    // A server that answered the command with its final reply owes none.
    if (ftp_.replies_->Owed() == 0)
        return;
    const TFtpReply reply =
        ftp_.replies_->Final(ftp_.ReplyTimeOut, "Timed out waiting for the server's reply");
    if (ftpreply::ClosingFailed(reply.code))
        throw FTPException(reply.first);
}

// ---- listings ---------------------------------------------------------------------------

void TFtpTransfer::PrepareParser() {
    if (!ftp_.directoryList_) {
        if (ftp_.Vendor == VendorAuto) {
            try {
                ftp_.ExecuteCommand("SYST");
            } catch (const std::exception&) {
                // Without an answer the kind falls back to VendorOther; a session closed on
                // the way cannot list at all.
                if (!ftp_.Connected())
                    throw;
            }
            ftp_.Vendor = VendorFromSystReply(ftp_.LastReply());
        }
        ftp_.directoryList_ = MakeDirectoryList(ftp_.Vendor);
    }
    ftp_.directoryList_->Clear();
}

void TFtpTransfer::DeliverListingLine(std::string line) {
    if (ftp_.ParseList && ftp_.directoryList_)
        ftp_.directoryList_->ParseLine(line);
    if (ftp_.OnListItem)
        ftp_.OnListItem(line);
}

void TFtpTransfer::ReadListing() {
    TPowersock& data = *data_;
    StartReceiving();
    uint64_t received = 0;
    size_t lines = 0;
    const auto count = [&](const std::string& line) {
        received += line.size();
        if (++lines > ftp_.MaxListingLines)
            throw ESockError("Listing too long: more than " + std::to_string(ftp_.MaxListingLines) +
                             " lines");
    };
    const auto checkBytes = [&](uint64_t pending) {
        if (received + pending > ftp_.MaxListingBytes)
            throw ESockError("Listing too long: more than " +
                             std::to_string(ftp_.MaxListingBytes >> 20) + " MB");
    };
    while (!ftp_.CancelRequested() && !ftp_.TimedOut()) {
        size_t searched = 0;
        size_t lineFeed = std::string_view::npos;
        platform::WaitUntil([&]() {
            if (data.PollAbort())
                return true;
            const std::string_view pending = data.ReceivedData();
            lineFeed = pending.find('\n', std::min(searched, pending.size()));
            if (lineFeed == std::string_view::npos)
                searched = pending.size();
            return lineFeed != std::string_view::npos || !data.Connected() ||
                   searched >= ftpreply::MaxLineBytes || received + searched > ftp_.MaxListingBytes;
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
        // The server closed after a last line without a line feed: it is a line all the same,
        // and has no line end to strip.
        std::string fragment;
        while (!data.ReceivedData().empty())
            fragment += data.Read(0);
        if (!fragment.empty()) {
            count(fragment);
            DeliverListingLine(std::move(fragment));
        }
        break;
    }
    if (ftp_.OnTransactionStop)
        ftp_.OnTransactionStop(&ftp_);
    CloseDataSocket();
    ftp_.SetBytesExpected(static_cast<uint32_t>(received));
    ftp_.ReportStatus(1, "Received " + std::to_string(received) + " Bytes");
}

void TFtpTransfer::List() {
    Run(cmdList, [this] {
        if (ftp_.ParseList)
            PrepareParser();
        Open(cmdList);
        Judge(cmdList, Ask("LIST"));
        if (ftp_.OnTransactionStart)
            ftp_.OnTransactionStart(&ftp_);
        AwaitData();
        ReadListing();
        FinishTransfer();
    });
}

// ---- downloads --------------------------------------------------------------------------

void TFtpTransfer::Download(const std::string& RemoteFile, const std::string& LocalFile,
                            TFileStream* Into) {
    Run(cmdDownload, [this, &RemoteFile, &LocalFile, Into] {
        Open(cmdDownload);
        TPowersock& data = *data_;
        if (ftp_.OnPacketRecvd)
            data.OnPacketRecvd = ftp_.OnPacketRecvd;
        ftp_.SetBytesExpected(0);
        Judge(cmdDownload, Ask("RETR " + RemoteFile));
        AwaitData();
        if (ftp_.OnTransactionStart)
            ftp_.OnTransactionStart(&ftp_);
        const std::string target = LocalFile.empty() ? RemoteFile : LocalFile;
        StartReceiving();
        if (!ftp_.CancelRequested() && !ftp_.TimedOut()) {
            if (Into != nullptr)
                data.CaptureInto(*Into);
            else
                data.CaptureFile(target);
        }
        if (ftp_.OnTransactionStop)
            ftp_.OnTransactionStop(&ftp_);
        CloseDataSocket();
        ftp_.SetBytesExpected(data.BytesReceived());
        ftp_.ReportStatus(1, "Received " + std::to_string(ftp_.BytesExpected()) + " Bytes");
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

// ---- the watchdog -----------------------------------------------------------------------

void TFtpTransfer::StartWatch() {
    NoteActivity();
    watch_->SetEnabled(false);
    if (ftp_.DataTimeOut > 0) {
        watch_->SetInterval(static_cast<uint32_t>(ftp_.DataTimeOut));
        watch_->SetEnabled(true);
    }
}

void TFtpTransfer::StopWatch() {
    watch_->SetEnabled(false);
}

// Bytes note their time only; the timer looks at it when it fires and, while the transfer is
// alive, sets itself for the rest of the quiet time allowed.
void TFtpTransfer::WatchFired() {
    if (!data_) {
        StopWatch();
        return;
    }
    const auto quiet = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - lastActivity_)
                           .count();
    if (quiet < ftp_.DataTimeOut) {
        watch_->SetInterval(static_cast<uint32_t>(ftp_.DataTimeOut - quiet));
        return;
    }
    StopWatch();
    ftp_.EndWait(TWaitEnd::Stall);
}
