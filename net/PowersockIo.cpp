#include "net/Powersock.h"

#include "platform/AsyncSocket.h"
#include "platform/FileSystem.h"
#include "platform/SocketErrors.h"

#include <algorithm>
#include <cstring>

namespace {

// Clears a flag on every way out of a scope.
class FlagScope {
public:
    explicit FlagScope(bool& flag) : flag_(flag) { flag_ = true; }
    ~FlagScope() { flag_ = false; }
    FlagScope(const FlagScope&) = delete;
    FlagScope& operator=(const FlagScope&) = delete;

private:
    bool& flag_;
};

} // namespace

// ---- the pump steps ---------------------------------------------------------------------

// Takes one chunk of at most ChunkSize bytes. The system is asked for as much as the receive
// area holds (at its start, or during a capture behind the bytes not yet written) only when the
// bytes it gave last time have all been taken: a small answer that came in one piece costs one
// call, and the chunks of one event reach the capture file in one write. Every chunk is still a
// step of its own, with its status, its count and its packet event.
long TPowersock::ReceiveChunk(uint16_t& error) {
    if (staged_ == 0) {
        const size_t at = captureFile_ != nullptr ? captureFill_ : 0;
        const long count = socket_->Receive(chunk_.get() + at, ReceiveAreaSize - at, error);
        if (count <= 0)
            return count;
        stagedAt_ = at;
        staged_ = static_cast<size_t>(count);
    }
    error = 0;
    const size_t received = std::min(staged_, ChunkSize);
    const char* const data = chunk_.get() + stagedAt_;
    stagedAt_ += received;
    staged_ -= received;
    bytesHeard_ += received;
    if (captureFile_ != nullptr) {
        captureFill_ += received; // the chunk lies right behind the bytes not yet written
        if (captureFill_ + ChunkSize > ReceiveAreaSize)
            FlushCapture();
    } else {
        receiveStream_.Append(data, received);
    }
    if (counting_) {
        bytesReceived_ += static_cast<uint32_t>(received);
        if (OnPacketRecvd)
            OnPacketRecvd(this);
    }
    return static_cast<long>(received);
}

// Runs before control goes back to the event loop, so whoever looks at the file from there
// finds every byte received so far.
void TPowersock::FlushCapture() {
    if (captureFill_ == 0)
        return;
    const size_t count = captureFill_;
    captureFill_ = 0;
    if (captureFile_ != nullptr && !captureError_) {
        try {
            captureFile_->Write(chunk_.get(), count);
        } catch (...) {
            // Ends the capture, which raises it: a download must not lose bytes silently.
            captureError_ = std::current_exception();
        }
    }
    StageAtStart();
}

// Bytes received but not yet taken move to the start of the area, where a capture's next chunk
// belongs.
void TPowersock::StageAtStart() {
    if (staged_ > 0 && stagedAt_ > 0)
        std::memmove(chunk_.get(), chunk_.get() + stagedAt_, staged_);
    stagedAt_ = 0;
}

// A new connection starts with nothing received.
void TPowersock::DropStaged() {
    staged_ = 0;
    stagedAt_ = 0;
}

long TPowersock::ReadToStream() {
    if (cancelRequested_)
        socket_->Select(0);
    if (busy_)
        return 0;
    bool failed = false;
    long count = 0;
    {
        FlagScope busy(busy_);
        Report(8, "ReadToStream");
        uint16_t error = 0;
        count = ReceiveChunk(error);
        if (count < 0 && error != platform::SocketError::WouldBlock) {
            // Nothing is raised here: the close event that follows a broken connection ends
            // the waits that depend on it.
            failed = true;
            lastError_ = error;
            if (OnError)
                OnError(this, error, ErrorText(error));
        }
    }
    if (!failed && receiveHook_)
        receiveHook_(this);
    return count;
}

void TPowersock::DrainOnClose() {
    bool drained = false;
    while (!cancelRequested_) {
        uint16_t error = 0;
        if (ReceiveChunk(error) <= 0)
            break;
        drained = true;
    }
    FlushCapture();
    connected_ = false;
    CloseSocket();
    // A line that came with the close (an FTP 421, say) is seen like any other.
    if (drained && receiveHook_)
        receiveHook_(this);
}

bool TPowersock::WriteFromStream() {
    if (busy_)
        return false;
    FlagScope busy(busy_);
    Report(8, "WriteFromStream");
    const size_t pending =
        fileSend_
            ? static_cast<size_t>(std::min<uint64_t>(sendFileSize_ - sendFilePosition_, ChunkSize))
            : std::min(sendStream_.Size(), ChunkSize);
    if (pending == 0 || cancelRequested_)
        return false;
    const char* data = sendStream_.Data();
    size_t taken = pending;
    if (fileSend_) {
        try {
            taken = sendFile_->ReadAt(sendChunk_.get(), pending, sendFilePosition_);
        } catch (const EFileError&) {
            taken = 0;
        }
        if (taken == 0) { // the file shrank or cannot be read: nothing more will come
            sendFailed_ = true;
            lastError_ = platform::SocketError::Fault;
            return false;
        }
        data = sendChunk_.get();
    }
    uint16_t error = 0;
    const long sent = socket_->Send(data, taken, error);
    if (sent < 0) {
        // Unsent bytes stay where they are; the next write event resumes. A hard error ends the
        // wait of the sender instead of leaving it to wait for an event that cannot come.
        lastError_ = error;
        if (error != platform::SocketError::WouldBlock)
            sendFailed_ = true;
        return false;
    }
    const size_t count = static_cast<size_t>(sent);
    bool finished;
    if (fileSend_) {
        sendFilePosition_ += count;
        finished = sendFilePosition_ >= sendFileSize_;
    } else {
        sendStream_.Consume(count);
        finished = sendStream_.Empty();
    }
    if (finished)
        sendComplete_ = true;
    bytesSent_ += static_cast<uint32_t>(count);
    if (counting_ && OnPacketSent)
        OnPacketSent(this);
    // After a whole chunk the socket may take the next one at once; a short send leaves the
    // rest to the write event the socket raises when it has room again.
    return !finished && count == taken;
}

// ---- sending ----------------------------------------------------------------------------

// The first steps go at once: a request that fits the socket's buffer is sent before the wait
// starts, without a trip through the event loop. Inside a receive step (a packet handler that
// writes) the steps are left to a posted request, as they cannot run there.
void TPowersock::StartSending() {
    if (busy_)
        PostSendMore();
    else
        WriteSteps();
}

void TPowersock::SendBytes(const char* data, size_t count) {
    Report(4, "Sending Buffer");
    if (cancelRequested_)
        return;
    sendStream_.Append(data, count);
    // Nothing to send would never be reported as sent; an empty text is done at once.
    if (sendStream_.Empty())
        return;
    sendComplete_ = false;
    sendFailed_ = false;
    StartSending();
    Wait([this]() { return sendComplete_ || cancelRequested_ || sendFailed_; });
    if (cancelRequested_) {
        cancelRequested_ = false;
        throw EAbortError("Socket send aborted");
    }
    if (sendFailed_) {
        sendStream_.Clear();
        throw SocketFailure(lastError_);
    }
}

void TPowersock::SendBuffer(const char* Data, uint16_t Count) {
    const size_t count = Count != 0 ? Count : ::strnlen(Data, 65535);
    SendBytes(Data, count);
}

// The whole text goes, however long; it ends at its first NUL character as a C string would.
void TPowersock::Write(const std::string& Text) {
    Report(8, "Write");
    SendBytes(Text.data(), ::strnlen(Text.data(), Text.size()));
}

void TPowersock::Writeln(const std::string& Text) {
    Report(8, "Writeln");
    Write(Text + "\r\n");
}

void TPowersock::SendFile(const std::string& FileName) {
    Report(8, "SendFile");
    counting_ = true;
    try {
        sendFile_ = std::make_unique<TFileStream>(FileName, TFileStream::Mode::OpenRead);
    } catch (...) {
        counting_ = false;
        throw;
    }
    if (!sendChunk_)
        sendChunk_ = std::make_unique<char[]>(ChunkSize);
    fileSend_ = true;
    bytesSent_ = 0;
    sendFilePosition_ = 0;
    sendFileSize_ = sendFile_->Size();
    bytesExpected_ = static_cast<uint32_t>(sendFileSize_);
    sendComplete_ = false;
    sendFailed_ = false;
    if (sendFileSize_ > 0) {
        StartSending();
        Wait([this]() { return sendComplete_ || cancelRequested_ || sendFailed_; });
    }
    sendFile_.reset();
    fileSend_ = false;
    counting_ = false;
    if (cancelRequested_) {
        cancelRequested_ = false;
        throw EAbortError("Socket send aborted");
    }
    if (sendFailed_)
        throw SocketFailure(lastError_);
}

// ---- receiving --------------------------------------------------------------------------

std::string TPowersock::ReadLn() {
    Report(8, "ReadLn");
    // Bytes already searched are not searched again, so a long line arriving in many pieces
    // costs no more than its length.
    size_t searched = 0;
    size_t lineFeed = std::string::npos;
    Wait([&]() {
        if (cancelRequested_)
            return true;
        // The condition may be asked again after it held (the loop asks it before it blocks,
        // the wait once more after): a line found stays found.
        lineFeed = receiveStream_.Find('\n', std::min(searched, receiveStream_.Size()));
        if (lineFeed == std::string::npos)
            searched = receiveStream_.Size();
        return lineFeed != std::string::npos || (ReadLnEndsAtClose && !connected_) ||
               (MaxLineLength != 0 && searched >= MaxLineLength);
    });
    if (cancelRequested_)
        throw EAbortError("Socket readln aborted");
    if (lineFeed == std::string::npos && ReadLnEndsAtClose && !connected_)
        throw ESockError("Connection closed by peer", TFailure::ClosedByPeer);
    if (lineFeed == std::string::npos || (MaxLineLength != 0 && lineFeed + 1 > MaxLineLength))
        throw ESockError("Line too long", TFailure::LineTooLong);
    return receiveStream_.Take(lineFeed + 1);
}

std::string TPowersock::Read(uint16_t Count) {
    Report(8, ("Read( " + std::to_string(Count) + " )").c_str());
    if (Count == 0)
        return receiveStream_.Take(65535);
    Wait([&]() { return cancelRequested_ || receiveStream_.Size() >= Count; });
    if (cancelRequested_) {
        cancelRequested_ = false;
        throw EAbortError("Socket send aborted");
    }
    return receiveStream_.Take(Count);
}

std::string TPowersock::Transaction(const std::string& Command) {
    Report(8, "Transaction");
    replyCode_ = 0;
    Writeln(Command);
    std::string reply = ReadLn();
    lastReply_ = reply;
    if (!reply.empty()) {
        ReportStatus(1, reply);
        size_t digits = 0;
        int64_t code = 0;
        while (digits < reply.size() && digits < 10 && reply[digits] >= '0' &&
               reply[digits] <= '9') {
            code = code * 10 + (reply[digits] - '0');
            ++digits;
        }
        // A number the 16-bit reply code cannot hold would turn into another code.
        if (code > INT16_MAX)
            throw ESockError("Reply code out of range: " + reply.substr(0, digits));
        replyCode_ = static_cast<int16_t>(code);
    }
    return reply;
}

void TPowersock::CaptureFile(const std::string& FileName) {
    Report(8, "CaptureFile");
    TFileStream file(FileName, TFileStream::Mode::Create);
    CaptureTo(file);
}

void TPowersock::CaptureInto(TFileStream& File) {
    Report(8, "CaptureFile");
    File.Truncate();
    CaptureTo(File);
}

void TPowersock::CaptureTo(TFileStream& file) {
    counting_ = true;
    captureFile_ = &file;
    captureError_ = nullptr;
    StageAtStart();
    bytesReceived_ = 0;
    if (!receiveStream_.Empty()) {
        try {
            captureFile_->Write(receiveStream_.Data(), receiveStream_.Size());
        } catch (...) {
            captureError_ = std::current_exception();
        }
        bytesReceived_ = static_cast<uint32_t>(receiveStream_.Size());
        receiveStream_.Clear();
    }
    Wait([this]() { return !connected_ || cancelRequested_ || captureError_ != nullptr; });
    FlushCapture();
    captureFile_ = nullptr;
    counting_ = false;
    if (captureError_) {
        const std::exception_ptr error = captureError_;
        captureError_ = nullptr;
        std::rethrow_exception(error);
    }
    if (cancelRequested_) {
        cancelRequested_ = false;
        throw EAbortError("Socket send aborted");
    }
}

void TPowersock::CaptureString(std::string& Text, int Count) {
    Text.clear();
    counting_ = true;
    Report(8, "Capture String");
    bytesReceived_ = 0;
    const auto goesOn = [&]() {
        if (cancelRequested_)
            return false;
        if (Count == -1)
            return connected_ || !receiveStream_.Empty();
        return Count >= 0 && Text.size() < static_cast<size_t>(Count);
    };
    while (goesOn()) {
        if (!receiveStream_.Empty()) {
            Text.append(receiveStream_.Data(), receiveStream_.Size());
            receiveStream_.Clear();
        } else {
            Wait([&]() { return !receiveStream_.Empty() || !goesOn(); });
        }
    }
    counting_ = false;
    if (cancelRequested_) {
        cancelRequested_ = false;
        throw EAbortError("Socket capture aborted");
    }
}
