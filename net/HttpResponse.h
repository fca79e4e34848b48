#pragma once

#include <cstdint>
#include <string>

struct THeaderInfo;

// The rules of a response that both HTTP clients follow, the blocking one and the transfers that
// run side by side: how a header is read, one line (as ReadLn returns it, line ending included)
// at a time, where an exchange goes next, and when a body is the server's whole body.
namespace http {

// A redirect chain that never ends would hold a connection for ever: each round raises fresh
// status events, which keep the stall watchdog from firing. Past this many repeats the exchange
// fails.
constexpr int MaxRedirects = 20;
// A header that never ends would otherwise grow in memory until the program dies.
constexpr size_t MaxHeaderBytes = 1024 * 1024;
// Up to this many bytes of a connection, a receive that took less than it could is followed at
// once by a look for the server's close, which ends every answer: a page or a small picture has
// usually come whole, its end with it. Beyond it, a long body arriving in pieces would make such
// looks find nothing.
constexpr size_t ShortAnswerBytes = 64 * 1024;

// The number in the second " "-field of the status line, its line ending removed. A field that
// is missing or not a plain decimal number means the server sent no status at all, and a
// number too large for the 16-bit reply code would wrap into another code: both raise
// ESockError, failing the reply as one cut off before its header ends.
int16_t StatusReplyCode(const std::string& statusLine);

// 300 to 398 send the request elsewhere: the cookie the answer set goes along, and a bare
// location is mended.
bool IsRedirect(int code);
// 299 to 399 repeat the request (for the location the answer named, if any). 299 and 399 are
// repeated without being redirects, and a 3xx answer without a location repeats the same URL.
bool RepeatsRequest(int code);
// 304 to a request that asked for the body only when changed: a complete reply that ends the
// exchange (nothing repeated, no cookie carried) and says the file has not changed.
inline bool NotModified(int code, bool conditional) {
    return conditional && code == 304;
}
// A redirect takes the cookie its answer set (if any) into the next request.
void CarryCookie(const std::string& receivedCookie, THeaderInfo& header);
// A location without any "/" names a file at the root of the same server; its port is kept,
// since the mended URL names its scheme and would otherwise fall back to 80.
std::string MendedLocation(const std::string& location, const std::string& host, int port);

// A body that ended in a reset was cut off unless the server announced its length and at least
// that much arrived; a body that ended in an orderly close is whole as far as the connection
// can tell.
bool ResetLeavesBodyWhole(uint32_t announced, uint64_t received);
// Whether a reply's body may be stored as the file asked for: an error status brings the
// server's error page, and fewer bytes than announced are a body cut short.
bool ReplyComplete(int code, uint32_t announced, uint64_t received);

enum class THeaderField { Other, SetCookie, Location, ContentLength, LastModified, ETag };

// What an answer says about the file's version: kept in the backup's record, never used to
// decide how the answer is read.
struct TValidators {
    std::string lastModified, etag;
};

// Recognises a header by its first " "-field in upper case, so the name must be followed by
// ": " to count.
THeaderField ClassifyHeaderLine(const std::string& line);

// The value of a recognised header line: what follows its name, colon and one blank, without
// the line ending, at most MaxValueLength characters.
std::string HeaderValue(const std::string& line, THeaderField field);

// The announced length; 0 when the value does not start with a digit, the largest 32-bit
// number when it is larger.
uint32_t ContentLengthValue(const std::string& line);

// What a recognised header line tells the client: the cookie it set, where a redirect points,
// the announced length, and (when validators is given) the file's date and tag. Lines of other
// headers change nothing.
void TakeHeaderField(const std::string& line, std::string& cookie, std::string& location,
                     uint32_t& bytesExpected, TValidators* validators = nullptr);

// The blank line that ends a header: exactly LF or CR LF.
bool IsHeaderEnd(const std::string& line);

} // namespace http
