// Arbitrary response lines through the rules that read a header. The raw input is read as one
// line as is, which checks memory safety only; the invariants are checked on the input cut after
// its first LF, the shape of a line as ReadLn returns it.

#include "FuzzCheck.h"
#include "net/HttpRequest.h"
#include "net/HttpResponse.h"
#include "platform/Exceptions.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

constexpr http::THeaderField AllFields[] = {
    http::THeaderField::Other,        http::THeaderField::SetCookie,
    http::THeaderField::Location,     http::THeaderField::ContentLength,
    http::THeaderField::LastModified, http::THeaderField::ETag};

void ReadAnyWay(const std::string& line) {
    try {
        (void)http::StatusReplyCode(line);
    } catch (const Exception&) {
    }
    (void)http::ClassifyHeaderLine(line);
    for (const http::THeaderField field : AllFields)
        (void)http::HeaderValue(line, field);
    (void)http::ContentLengthValue(line);
    (void)http::IsHeaderEnd(line);
}

void CheckLine(const std::string& line) {
    try {
        const int16_t code = http::StatusReplyCode(line);
        FUZZ_CHECK(code >= 0);
    } catch (const Exception&) {
        // Too large a code is refused rather than wrapped.
    }

    const http::THeaderField kind = http::ClassifyHeaderLine(line);
    for (const http::THeaderField field : AllFields) {
        const std::string value = http::HeaderValue(line, field);
        FUZZ_CHECK(value.size() <= http::MaxValueLength);
        FUZZ_CHECK(value.find('\n') == std::string::npos);
        FUZZ_CHECK(value.empty() || line.find(value) != std::string::npos);
    }
    if (kind != http::THeaderField::Other) {
        // A recognised name ends in a colon followed by a blank, or by nothing in a last line
        // cut short; the value is what comes after the blank.
        const std::string value = http::HeaderValue(line, kind);
        const size_t colon = line.find(':');
        FUZZ_CHECK(colon != std::string::npos);
        FUZZ_CHECK(colon + 1 == line.size() || line[colon + 1] == ' ');
        if (!value.empty())
            FUZZ_CHECK(line.compare(colon + 2, value.size(), value) == 0);
    }

    const uint32_t length = http::ContentLengthValue(line);
    const std::string value = http::HeaderValue(line, http::THeaderField::ContentLength);
    if (value.empty() || value[0] < '0' || value[0] > '9')
        FUZZ_CHECK(length == 0);
    size_t digits = 0;
    while (digits < value.size() && value[digits] >= '0' && value[digits] <= '9')
        ++digits;
    if (digits > 0 && digits <= 9)
        FUZZ_CHECK(length == std::stoul(value.substr(0, digits)));

    if (http::IsHeaderEnd(line)) {
        FUZZ_CHECK(kind == http::THeaderField::Other);
        FUZZ_CHECK(line == "\n" || line == "\r\n");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    ReadAnyWay(input);
    const size_t lf = input.find('\n');
    CheckLine(lf == std::string::npos ? input : input.substr(0, lf + 1));
    return 0;
}
