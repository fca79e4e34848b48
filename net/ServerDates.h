#pragma once

#include <ctime>
#include <optional>
#include <string>

// The dates servers give a file, as times a file on disk can take. Both readers refuse what
// they cannot read exactly, and a date more than a day after now: a server clock that far
// ahead is wrong, and a file dated in the future would confuse every tool that compares dates.
namespace serverdates {

// An HTTP Last-Modified value in any of the three forms HTTP allows: "Sun, 06 Nov 1994
// 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT" (the two-digit year taken as the nearest year
// not more than 50 years after now) and "Sun Nov  6 08:49:37 1994".
std::optional<std::time_t> HttpDate(const std::string& text, std::time_t now);

// A Unix listing's date columns, read as UTC: "Mon DD YYYY" is 00:00 that day; "Mon DD HH:MM"
// is this year, unless that lies more than a day ahead, then last year.
std::optional<std::time_t> ListingDate(const std::string& text, std::time_t now);

} // namespace serverdates
