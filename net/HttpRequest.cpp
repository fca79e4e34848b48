#include "net/HttpRequest.h"

#include "net/HttpText.h"
#include "platform/Exceptions.h"

namespace http {

namespace {

int PortNumber(const std::string& text) {
    const int port = StrToInt(text);
    // A larger number would silently wrap into some other 16-bit port.
    if (port < 0 || port > 65535)
        throw EConvertError("'" + text + "' is not a valid port number");
    return port;
}

} // namespace

void ParseUrl(std::string& url, std::string& host, int& port, std::string& requestPath) {
    if (url.empty())
        throw Exception("Empty URL");
    if (port == 0)
        port = 80;

    const bool hasScheme = url.find("//") != std::string::npos;
    requestPath.clear();
    if (hasScheme) {
        const size_t third = NthPosition(url, '/', 3);
        if (third != std::string::npos && third + 1 < url.size())
            requestPath = url.substr(third, MaxValueLength);
    } else if (const size_t first = url.find('/'); first != std::string::npos) {
        requestPath = url.substr(first, MaxValueLength);
    }

    if (url.find(':') != std::string::npos) {
        const std::string scheme = AsciiLower(NthField(url, ':', 1));
        port = scheme == "gopher" ? 70 : scheme == "ftp" ? 21 : 80;
    }

    std::string hostPart;
    if (hasScheme)
        hostPart = NthField(url, '/', 3);
    else if (url.front() != '/')
        hostPart = NthField(url, '/', 1);
    if (const size_t colon = hostPart.find(':'); colon != std::string::npos) {
        port = PortNumber(NthField(hostPart, ':', 2));
        hostPart.erase(colon);
    }
    if (!hostPart.empty())
        host = hostPart;

    if (requestPath.empty()) {
        requestPath = "/";
        url += "/";
    }
}

std::string RequestWord(CmdType kind) {
    switch (kind) {
    case CmdType::Options:
        return "OPTIONS ";
    case CmdType::Get:
        return "GET ";
    case CmdType::Post:
        return "POST ";
    case CmdType::Put:
        return "PUT ";
    case CmdType::Head:
        return "HEAD ";
    case CmdType::Patch:
        return "PATCH ";
    case CmdType::Delete:
        return "DELETE ";
    case CmdType::Trace:
        return "TRACE ";
    case CmdType::Copy:
        return "COPY ";
    case CmdType::Move:
        return "MOVE ";
    case CmdType::Link:
        return "LINK ";
    case CmdType::Unlink:
        return "UNLINK ";
    case CmdType::Raw:
        return "";
    }
    return "";
}

void BuildRequestLines(TExStringList& lines, const TRequestParts& parts, const THeaderInfo& info) {
    lines.Clear();
    if (parts.Kind != CmdType::Raw)
        lines.Add(RequestWord(parts.Kind) + (parts.ViaProxy ? parts.URL : parts.RequestPath) +
                  " HTTP/1.0");
    if (parts.ViaProxy) {
        lines.Add("Proxy-Connection: Keep-Alive");
        lines.Add("Host: " + parts.Host);
    }
    // Without a proxy this adds the Host line; with one it rewrites it, or drops the empty one.
    lines.SetHeaderValue("Host", parts.Host);
    lines.Add("Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff");
    lines.Add("Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript");
    lines.SetHeaderValue("User-Agent", info.LocalMailAddress);
    lines.SetHeaderValue("From", info.LocalProgram);
    lines.SetHeaderValue("Cookie", info.Cookie);
    if (!parts.IfModifiedSince.empty())
        lines.Add("If-Modified-Since: " + parts.IfModifiedSince);
    lines.SetHeaderValue("Referer", info.Referer);
    if (!info.UserId.empty() && !info.Password.empty())
        lines.SetHeaderValue("Authorization",
                             "Basic " + Base64Encode(info.UserId + ":" + info.Password));
    lines.Add("Content-type: application/x-www-form-urlencoded");
    if (!parts.ExtraHeader.empty())
        lines.Add(parts.ExtraHeader);
    if (parts.ContentLength)
        lines.Add("Content-Length: " + std::to_string(*parts.ContentLength));
    lines.Add("");

    for (const std::string& line : lines.Lines())
        for (const char c : line)
            if (c == '\r' || c == '\n' || c == '\0')
                throw Exception("The URL or a header value holds a line break or a NUL character");
}

std::string Base64Encode(const std::string& data) {
    static const char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((data.size() + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 2 < data.size(); i += 3) {
        const uint32_t n = (static_cast<uint8_t>(data[i]) << 16) |
                           (static_cast<uint8_t>(data[i + 1]) << 8) |
                           static_cast<uint8_t>(data[i + 2]);
        out += alphabet[(n >> 18) & 63];
        out += alphabet[(n >> 12) & 63];
        out += alphabet[(n >> 6) & 63];
        out += alphabet[n & 63];
    }
    if (const size_t rest = data.size() - i; rest > 0) {
        uint32_t n = static_cast<uint8_t>(data[i]) << 16;
        if (rest == 2)
            n |= static_cast<uint8_t>(data[i + 1]) << 8;
        out += alphabet[(n >> 18) & 63];
        out += alphabet[(n >> 12) & 63];
        out += rest == 2 ? alphabet[(n >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::string UrlDecode(const std::string& text) {
    const auto hexValue = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            out += ' ';
        } else if (text[i] == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
                   hexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

} // namespace http
