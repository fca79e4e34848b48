#include "net/HttpResponse.h"

#include "net/HttpRequest.h"
#include "net/HttpText.h"
#include "net/Powersock.h"

#include <limits>

namespace http {

namespace {

size_t NameLength(THeaderField field) {
    switch (field) {
    case THeaderField::SetCookie:
        return 12; // "Set-Cookie: "
    case THeaderField::Location:
        return 10; // "Location: "
    case THeaderField::ContentLength:
        return 16; // "Content-Length: "
    case THeaderField::LastModified:
        return 15; // "Last-Modified: "
    case THeaderField::ETag:
        return 6; // "ETag: "
    case THeaderField::Other:
        break;
    }
    return 0;
}

} // namespace

int16_t StatusReplyCode(const std::string& statusLine) {
    const std::string field = WithoutLineEnd(NthField(statusLine, ' ', 2));
    if (field.empty() || field.find_first_not_of("0123456789") != std::string::npos)
        throw ESockError("Invalid status line");
    long value = 0;
    for (const char c : field) {
        value = value * 10 + (c - '0');
        if (value > std::numeric_limits<int16_t>::max()) {
            const std::string shown = field.size() > 20 ? field.substr(0, 20) + "..." : field;
            throw ESockError("Reply code out of range: " + shown);
        }
    }
    return static_cast<int16_t>(value);
}

THeaderField ClassifyHeaderLine(const std::string& line) {
    // The first space-separated field, as NthField(line, ' ', 1) gives it.
    const std::string_view name = std::string_view(line).substr(0, line.find(' '));
    if (SameIgnoringCase(name, "SET-COOKIE:"))
        return THeaderField::SetCookie;
    if (SameIgnoringCase(name, "LOCATION:"))
        return THeaderField::Location;
    if (SameIgnoringCase(name, "CONTENT-LENGTH:"))
        return THeaderField::ContentLength;
    if (SameIgnoringCase(name, "LAST-MODIFIED:"))
        return THeaderField::LastModified;
    if (SameIgnoringCase(name, "ETAG:"))
        return THeaderField::ETag;
    return THeaderField::Other;
}

std::string HeaderValue(const std::string& line, THeaderField field) {
    const size_t skip = NameLength(field);
    if (line.size() <= skip)
        return {};
    return WithoutLineEnd(line.substr(skip)).substr(0, MaxValueLength);
}

uint32_t ContentLengthValue(const std::string& line) {
    const std::string value = HeaderValue(line, THeaderField::ContentLength);
    uint64_t number = 0;
    for (const char c : value) {
        if (c < '0' || c > '9')
            break;
        number = number * 10 + static_cast<uint64_t>(c - '0');
        if (number > std::numeric_limits<uint32_t>::max())
            return std::numeric_limits<uint32_t>::max();
    }
    return static_cast<uint32_t>(number);
}

bool IsHeaderEnd(const std::string& line) {
    return line == "\n" || line == "\r\n";
}

void TakeHeaderField(const std::string& line, std::string& cookie, std::string& location,
                     uint32_t& bytesExpected, TValidators* validators) {
    switch (const THeaderField field = ClassifyHeaderLine(line)) {
    case THeaderField::SetCookie:
        cookie = HeaderValue(line, field);
        break;
    case THeaderField::Location:
        location = HeaderValue(line, field);
        break;
    case THeaderField::ContentLength:
        bytesExpected = ContentLengthValue(line);
        break;
    case THeaderField::LastModified:
        if (validators != nullptr)
            validators->lastModified = HeaderValue(line, field);
        break;
    case THeaderField::ETag:
        if (validators != nullptr)
            validators->etag = HeaderValue(line, field);
        break;
    case THeaderField::Other:
        break;
    }
}

bool IsRedirect(int code) {
    return code >= 300 && code <= 398;
}

bool RepeatsRequest(int code) {
    return code >= 299 && code <= 399;
}

void CarryCookie(const std::string& receivedCookie, THeaderInfo& header) {
    if (!receivedCookie.empty())
        header.Cookie = receivedCookie;
}

std::string MendedLocation(const std::string& location, const std::string& host, int port) {
    if (location.find('/') != std::string::npos)
        return location;
    return "http://" + host + (port == 80 ? "" : ":" + std::to_string(port)) + "/" + location;
}

bool ResetLeavesBodyWhole(uint32_t announced, uint64_t received) {
    return announced != 0 && received >= announced;
}

bool ReplyComplete(int code, uint32_t announced, uint64_t received) {
    return code < 400 && (announced == 0 || received >= announced);
}

} // namespace http
