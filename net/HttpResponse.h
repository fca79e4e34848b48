#pragma once

#include <cstdint>
#include <string>

// The rules by which the HTTP client reads a response header, one line (as ReadLn returns it,
// line ending included) at a time.
namespace http {

// The number in the second " "-field of the status line; 0 when that field is not a plain
// decimal number (a status line without a reason phrase carries its line ending there). Raises
// ESockError for a number too large for the 16-bit reply code instead of wrapping it.
int16_t StatusReplyCode(const std::string& statusLine);

enum class THeaderField { Other, SetCookie, Location, ContentLength };

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
// the announced length. Lines of other headers change nothing.
void TakeHeaderField(const std::string& line, std::string& cookie, std::string& location,
                     uint32_t& bytesExpected);

// The blank line that ends a header: exactly LF or CR LF.
bool IsHeaderEnd(const std::string& line);

} // namespace http
