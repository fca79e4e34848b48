#pragma once

#include "net/FTPDirectoryList.h"
#include "net/FtpMode.h"
#include "net/Powersock.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class TThreadTimer;

// An error reply of an FTP server. The message is the reply line exactly as received, line end
// included.
class FTPException : public Exception {
public:
    explicit FTPException(std::string message, TFailure kind = TFailure::FtpReply)
        : Exception(std::move(message), kind) {}
};

// The session had to be opened anew after a transfer left it out of step, and that failed: the
// message is the error of the new login. Nothing more can be fetched over this session.
class EFTPSessionLost : public ESockError {
public:
    explicit EFTPSessionLost(std::string message, TFailure kind = TFailure::FtpSessionLost)
        : ESockError(std::move(message), kind) {}
};

// What an FTP operation was, as its success and failure events tell it.
enum TCmdType : int {
    cmdChangeDir = 0,  // a command whose first word is "CWD"
    cmdMakeDir = 1,    // "MKD"
    cmdDelete = 2,     // "DELE"
    cmdRemoveDir = 3,  // "RMD"
    cmdList = 4,       // List, its "PORT" step included
    cmdDownload = 8,   // Download, its "PORT" step included
    cmdDoCommand = 14, // any other command, such as "SYST" or "TYPE I"
    cmdCurrentDir = 15 // exactly "PWD"
};

using TSuccessEvent = std::function<void(TCmdType Trans_Type)>;
using TFailureEvent = std::function<void(bool& Handled, TCmdType Trans_Type)>;
using TUnsupportedEvent = std::function<void(TCmdType Trans_Type)>;
using TNMListItem = std::function<void(const std::string& Listing)>;

// Where the session is: what a byte on the control connection means depends on it.
enum class TFtpPhase {
    Idle,          // between operations
    Command,       // a command's reply is awaited (a transfer's PORT, PASV, LIST, RETR too)
    AwaitingData,  // the data connection is being opened
    Receiving,     // the data comes
    AwaitingClose, // the transfer's closing reply is awaited
    Draining,      // a failed transfer's late replies are read and dropped
};

// Why a wait of a transfer or a reply was ended before its time.
enum class TWaitEnd {
    None,
    ServerAbort, // the server said 421 or 426, or refused the data connection meanwhile
    Stall,       // neither connection brought anything for DataTimeOut
    Deadline,    // a reply did not come within its time
    Cancel,      // the owner cancelled the transfer
};

class TFtpTransfer;
class TFtpReplyReader;

// The FTP client: the control dialogue of RFC 959 on this session's connection. Data connections
// are opened in active mode ("PORT", the server connects to a port we listen on) and, where
// active mode cannot work and Mode allows it, in passive mode ("PASV", we connect to the
// server's control address). Every operation blocks its caller while the event loop goes on.
//
// A caller runs Connect, which logs in, switches to binary transfers ("TYPE I") and then runs
// OnConnect; the job (ChangeDirectory, List, Download) runs inside that handler; after Connect
// has returned, Disconnect. Cancel ends the transfer in progress. Each transfer is bounded:
// when neither connection brings anything for DataTimeOut, it fails with "Transfer timed out".
//
// The dialogue is never read out of step: the client counts the replies the server still owes.
// A transfer that fails while one is owed waits ResyncTimeOut for it and drops it; when it does
// not come, the session is closed and opened anew (login, "TYPE I" and the last directory
// changed to), so the next transfer starts in step. Any other operation that fails with a reply
// owed closes the session. Every reply must be whole within ReplyTimeOut of its command.
//
// The session lives in this file's class; net/FtpReply reads and judges replies, and
// net/FtpTransfer runs the listings and downloads over a data connection.
class TNMFTP : public TPowersock {
public:
    TNMFTP();
    ~TNMFTP() override;

    // Published.
    std::string UserID;
    std::string Password;
    int Vendor = VendorAuto;
    bool ParseList = false;
    // How long a transfer may go without a byte on either connection (or without the server
    // opening the data connection), in milliseconds; 0 = no limit.
    int DataTimeOut = 31000;
    // The deadline of every reply, from its command (from the connect for the greeting), and of
    // the closing reply of a transfer, from the transfer's end; 0 = no limit.
    int ReplyTimeOut = 31000;
    // The deadline of the reply to "QUIT"; a server that keeps silent is left without it.
    int QuitTimeOut = 3000;
    // How long a failed transfer waits for the closing reply the server still owes.
    int ResyncTimeOut = 5000;
    // Bounds on what a hostile server can make the client hold.
    size_t MaxReplyLines = 1000;
    size_t MaxListingLines = 100000;
    uint64_t MaxListingBytes = uint64_t{64} << 20;
    // A passive data connection opens before the command is answered; what a server sends on it
    // before its reply is held in memory, up to this many bytes.
    size_t MaxEarlyDataBytes = size_t{16} << 20;

    TNotifyEvent OnTransactionStart;
    TNotifyEvent OnTransactionStop;
    TSuccessEvent OnSuccess;
    TFailureEvent OnFailure;
    THandlerEvent OnAuthenticationNeeded;
    THandlerEvent OnAuthenticationFailed; // kept for the published interface; never raised
    TNMListItem OnListItem;
    // Login completed. This replaces the session's own connect event for users of this class.
    TNotifyEvent OnConnect;
    TUnsupportedEvent OnUnSupportedFunction;
    // How data connections are opened; see TFtpMode. Each Connect starts over from it.
    TFtpMode Mode = TFtpMode::Auto;
    // Active mode could not work and the session has gone passive for the rest of the
    // connection (renewed sessions included): raised once per Connect, before the transfer is
    // repeated over a passive data connection.
    TNotifyEvent OnPassiveFallback;

    // The data connection of the transfer in progress; none between transfers.
    TPowersock* DataConnection() const;
    // The parsed listing, once a List with ParseList has run on this connection.
    TFTPDirectoryList* DirectoryList() const { return directoryList_.get(); }

    // Connects, reads the greeting, logs in and runs OnConnect inside. Any failure after the
    // connection stands (OnConnect's included) sends "QUIT", reports "Disconnected" and is
    // raised again.
    void Connect() override;
    // "QUIT" and close, when connected; forgets the parsed listing and the server kind.
    void Disconnect() override;
    // The session's exchange plus the continuation lines of a multi-line reply, which are
    // reported and dropped; returns the first line.
    std::string Transaction(const std::string& Command) override;
    // Ends the wait of the data connection, if a transfer runs; nothing else.
    void Cancel() override;
    // Ends every wait of the session at once, the control connection's too, and makes the next
    // Disconnect close without waiting for the server's goodbye: the program is ending, and a
    // server that has gone silent must not hold it. The next Connect starts afresh.
    void Abandon();

    // Sends Command, reads its reply and judges it (ftpreply::CommandFailed).
    void ExecuteCommand(const std::string& Command);
    void ChangeDirectory(const std::string& Directory);
    // "LIST" of the current directory; each line goes to DirectoryList (with ParseList) and to
    // OnListItem.
    void List();
    // "RETR " + RemoteFile into LocalFile (RemoteFile when LocalFile is empty). Raises when the
    // server reports an error, also in its closing reply, and when fewer bytes came than the
    // server announced; the local file then holds what came.
    // With Into the file goes into that open file (emptied first) instead of LocalFile.
    void Download(const std::string& RemoteFile, const std::string& LocalFile,
                  TFileStream* Into = nullptr);

    // The byte count a transfer reply announces ("... (34567 bytes)."): the nearest number
    // before the word "bytes" in any case, unless that is the reply code; otherwise 0.
    // The last "(N bytes)" in any case wins, so a number in a file name is never taken.
    static uint64_t ExtractByteCount(const std::string& Line);
    // The size the server announced for the transfer in progress (or the last one); 0 when it
    // announced none.
    uint64_t AnnouncedBytes() const;
    // The session has gone passive (Mode Passive, or active mode failed on this connection).
    bool Passive() const { return passive_; }

private:
    friend class TFtpTransfer;

    void ResetCancel();
    void DiscardUnread();
    // The phase changes here only.
    void Enter(TFtpPhase phase) { phase_ = phase; }
    // Ends the waits in progress, the data connection's and the control connection's, for why;
    // a server abort outranks any other reason, else the first reason stands.
    void EndWait(TWaitEnd why, const std::string& text = {});
    // Raises the error a cut-short wait stands for: the server's abort or a deadline's; returns
    // for any other reason.
    void RaiseWaitEnd();
    std::string ServerAbortLine() const;
    void CheckServerAbort();
    // The server's abort line is the reply the command was owed: it is read, so the next
    // command reads its own.
    void ConsumeAbortReply();
    // Reads and drops the replies still owed, for at most milliseconds; false when they did not
    // all come.
    bool DrainOwed(int milliseconds);
    void CheckLoginReply();
    void Login();
    // Closes without waiting for the server: "QUIT" is sent, its reply not read.
    void CloseNow();
    // Closes and opens the session anew, back in the last directory changed to; a failure closes
    // it and raises EFTPSessionLost.
    void Renew();
    bool StopWanted();
    // The OnFailure / FTPException rule: returns when a handler took the failure.
    void Fail(TCmdType kind, const std::string& line);

    std::unique_ptr<TFtpReplyReader> replies_;
    std::unique_ptr<TFtpTransfer> transfer_;
    std::unique_ptr<TFTPDirectoryList> directoryList_;
    TFtpPhase phase_ = TFtpPhase::Idle;
    TWaitEnd waitEnd_ = TWaitEnd::None;
    std::string waitEndText_; // the server's abort line, or the deadline's error
    bool abandoned_ = false;
    bool passive_ = false;  // this connection has gone passive
    std::string directory_; // the last directory changed to, for a new session
};
