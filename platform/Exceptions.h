#pragma once

#include <exception>
#include <optional>
#include <string>

// What went wrong, for the code that must choose what to do about it: the message says it to
// the user and may be reworded, the kind may not.
enum class TFailure {
    Other,
    LookupFailed,    // "Host Lookup Failed"
    LookupTimedOut,  // "Host Lookup Timed Out"
    NoAddress,       // "Null Remote Address"
    BadPort,         // "Invalid port number ..."
    ConnectFailed,   // "Connection Failed"
    ConnectTimedOut, // "Connection Timed out"
    Cancelled,       // a wait ended by Cancel
    ClosedByPeer,    // the server closed before the reply was complete
    Reset,           // the connection was reset
    LineTooLong,     // a line over the limit
    Socket,          // every other socket error
    File,            // a file that could not be created, opened, read or written
    FtpReply,        // the FTP server refused a command
    FtpSessionLost,  // the FTP session could not be opened anew
};

// The root of every error this program raises on purpose. Its message is the text the user sees
// in the error box, so it is kept exactly as given and never decorated by what().
class Exception : public std::exception {
public:
    explicit Exception(std::string message, TFailure kind = TFailure::Other)
        : message_(std::move(message)), kind_(kind) {}
    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& Message() const noexcept { return message_; }
    TFailure Kind() const noexcept { return kind_; }

private:
    std::string message_;
    TFailure kind_;
};

// A text that should have been a number.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// A file that could not be created, opened, read or written.
class EFileError : public Exception {
public:
    explicit EFileError(std::string message, TFailure kind = TFailure::File)
        : Exception(std::move(message), kind) {}
};

class EFCreateError : public EFileError {
public:
    using EFileError::EFileError;
};

class EFOpenError : public EFileError {
public:
    using EFileError::EFileError;
};

// A settings file that could not be written.
class EIniFileException : public Exception {
public:
    using Exception::Exception;
};

// Converts text to an int the way the user-facing conversions do: optional blanks, an optional
// sign, then decimal digits or hexadecimal digits after "$", "x" or "0x", nothing else, and
// within the signed 32-bit range; otherwise EConvertError with
// "'<text>' is not a valid integer value".
int StrToInt(const std::string& text);

// The same conversion, without the error: nullopt for a text that does not convert.
std::optional<int> TryStrToInt(const std::string& text);
