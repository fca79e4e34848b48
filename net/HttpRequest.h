#pragma once

#include "net/ExStringList.h"

#include <cstdint>
#include <optional>
#include <string>

// The request kinds of the HTTP client. Raw sends its data without a request line.
enum class CmdType {
    Options,
    Get,
    Post,
    Put,
    Head,
    Patch,
    Delete,
    Trace,
    Copy,
    Move,
    Link,
    Unlink,
    Raw
};

// The values the HTTP client puts into the optional header lines of every request.
struct THeaderInfo {
    std::string LocalMailAddress; // sent as "User-Agent"
    std::string LocalProgram;     // sent as "From"
    std::string Cookie;
    std::string Referer;
    std::string UserId; // with Password: Basic authorization
    std::string Password;
};

namespace http {

// Longest request path and longest header value taken from a URL or a response.
constexpr size_t MaxValueLength = 256;

// Splits url into host, port and request path. A URL without a host part (one that begins with
// "/") keeps the host of the previous request; a URL without a path gets "/" appended. Raises
// Exception "Empty URL" and, for a port that is not a number, EConvertError.
void ParseUrl(std::string& url, std::string& host, int& port, std::string& requestPath);

// "GET ", "POST ", ...; empty for Raw.
std::string RequestWord(CmdType kind);

struct TRequestParts {
    CmdType Kind = CmdType::Get;
    std::string RequestPath;
    std::string URL;
    bool ViaProxy = false;
    std::string Host;
    std::string ExtraHeader;               // a whole line such as "Link: x", or empty
    std::optional<uint64_t> ContentLength; // sent when set
    // A date as a server sent it as Last-Modified: the request asks for the body only when the
    // file changed since. Empty: an ordinary request.
    std::string IfModifiedSince;
};

// Fills lines with the request line, the header lines in their fixed order and the empty entry
// that ends the header. Raises Exception when a line would carry a CR, LF or NUL, since such a
// byte would cut the request short or smuggle in a header line of its own.
void BuildRequestLines(TExStringList& lines, const TRequestParts& parts, const THeaderInfo& info);

std::string Base64Encode(const std::string& data);

// "%XX" becomes the byte XX and "+" a blank; anything else, a broken escape included, stays.
std::string UrlDecode(const std::string& text);

} // namespace http
