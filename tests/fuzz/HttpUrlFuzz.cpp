// Any byte string as the URL of a request, on top of what an earlier request left in host and
// port. The first byte picks that earlier state and whether the request goes through a proxy;
// the rest is the URL.

#include "FuzzCheck.h"
#include "net/ExStringList.h"
#include "net/HttpRequest.h"
#include "platform/Exceptions.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

bool HasLineBreakOrNul(const std::string& text) {
    return text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const uint8_t state = data[0];
    static const char* const priorHosts[] = {"", "www.vantrelpix.com", "127.0.0.1", "a\r\nb"};
    static const int priorPorts[] = {0, 80, 8080, 21};
    std::string url(reinterpret_cast<const char*>(data + 1), size - 1);
    std::string host = priorHosts[state & 3];
    int port = priorPorts[(state >> 2) & 3];
    const bool viaProxy = (state & 16) != 0;

    // The decoders see the same bytes; they only ever shrink or encode, never overrun.
    FUZZ_CHECK(http::UrlDecode(url).size() <= url.size());
    FUZZ_CHECK(http::Base64Encode(url).size() == (url.size() + 2) / 3 * 4);

    std::string requestPath;
    try {
        http::ParseUrl(url, host, port, requestPath);
    } catch (const EConvertError&) {
        return 0;
    } catch (const Exception&) {
        return 0;
    }
    // The path goes into the request line and must stay within the length a server accepts.
    FUZZ_CHECK(!requestPath.empty() && requestPath.size() <= http::MaxValueLength + 1);
    FUZZ_CHECK(requestPath[0] == '/');
    FUZZ_CHECK(port >= 0 && port <= 65535);

    http::TRequestParts parts;
    parts.Kind = CmdType::Get;
    parts.RequestPath = requestPath;
    parts.URL = url;
    parts.ViaProxy = viaProxy;
    parts.Host = host;
    TExStringList lines;
    try {
        http::BuildRequestLines(lines, parts, THeaderInfo{});
    } catch (const Exception&) {
        // Refused, as it must be whenever what goes on the wire carries a line break.
        return 0;
    }
    FUZZ_CHECK(!HasLineBreakOrNul(viaProxy ? url : requestPath));
    FUZZ_CHECK(lines.Count() >= 2);
    FUZZ_CHECK(lines[0].rfind("GET ", 0) == 0);
    FUZZ_CHECK(lines[lines.Count() - 1].empty());
    for (const std::string& line : lines.Lines())
        FUZZ_CHECK(!HasLineBreakOrNul(line));
    return 0;
}
