#pragma once

#include "net/NMFTP.h"

#include <chrono>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>

class TFileStream;
class TThreadTimer;
struct TFtpReply;

// The listings and downloads of one FTP session, each over a data connection of its own.
//
// A transfer opens its data connection the session's way: in active mode it listens and sends
// "PORT", then the command, then takes the server's connection; in passive mode it sends "PASV",
// connects to the port of the 227 reply on the control connection's peer address (never to the
// address the reply names), then sends the command. Active mode that cannot work (a refused
// PORT, a 425, or no data connection within DataTimeOut) turns the session passive when its Mode
// is Auto, and the transfer is run once more that way.
//
// A watchdog ends a transfer that hears nothing on either connection for DataTimeOut. A transfer
// is whole only when the data connection closed, the closing reply is not an error and the bytes
// announced all came. A failed one leaves the dialogue in step: the replies still owed are read
// within ResyncTimeOut, or the session is renewed.
class TFtpTransfer {
public:
    explicit TFtpTransfer(TNMFTP& session);
    ~TFtpTransfer();
    TFtpTransfer(const TFtpTransfer&) = delete;
    TFtpTransfer& operator=(const TFtpTransfer&) = delete;

    void List();
    void Download(const std::string& RemoteFile, const std::string& LocalFile, TFileStream* Into);

    // The data connection of the transfer in progress; none between transfers.
    TPowersock* Data() const { return data_.get(); }
    uint64_t Announced() const { return announced_; }
    // Ends the data connection's wait, if a transfer runs.
    void CancelData();
    // A byte came on either connection.
    void NoteActivity() { lastActivity_ = std::chrono::steady_clock::now(); }
    // No watchdog runs after this.
    void Stop();

private:
    // The frame of every transfer: a fresh data connection, the steps, and on success the data
    // connection gone and OnSuccess(kind). A failure is settled by Recover and raised, or, where
    // active mode cannot work, the steps run again over a passive connection.
    void Run(TCmdType kind, const std::function<void()>& steps);
    bool ActiveCannotWork(const std::exception_ptr& error) const;
    // After a failed attempt: the data connection gone, the abort reply and the replies still
    // owed read, or the session renewed (closed, for a listing that is not tried again).
    void Recover(bool again);
    // The error a failed attempt ends in: the stall's or the server's abort, else its own.
    [[noreturn]] void Raise(const std::exception_ptr& error, TWaitEnd why,
                            const std::string& abortLine);
    bool MayFallBack() const;

    void Open(TCmdType kind);
    void OpenPassive();
    // Sends LIST or RETR and reads its whole first reply.
    TFtpReply Ask(const std::string& command);
    // The first reply to LIST or RETR: a refusal fails the transfer (or gives up active mode,
    // for a 425); otherwise its announced byte count is kept.
    void Judge(TCmdType kind, const TFtpReply& reply);
    // In active mode, the server's connection to our port.
    void AwaitData();
    // Bounds what a passive data connection holds before the command's reply has come.
    void HoldEarlyData();
    void StartReceiving();
    void PrepareParser();
    void ReadListing();
    void DeliverListingLine(std::string line);
    void CloseDataSocket();
    void FinishTransfer();

    void StartWatch();
    void StopWatch();
    void WatchFired();

    TNMFTP& ftp_;
    std::unique_ptr<TPowersock> data_;
    std::unique_ptr<TThreadTimer> watch_;
    std::chrono::steady_clock::time_point lastActivity_;
    uint64_t announced_ = 0;
    TCmdType kind_ = cmdList;
};
