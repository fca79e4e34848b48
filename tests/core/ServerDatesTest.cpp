#include "net/ServerDates.h"

#include <gtest/gtest.h>

namespace {

// 2026-12-09 12:00:00 UTC.
constexpr std::time_t Now = 1796817600;

std::time_t Utc(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
    std::tm parts{};
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    return ::timegm(&parts);
}

} // namespace

TEST(ServerDates, LastModifiedInEachFormHttpAllows) {
    struct Row {
        const char* text;
        std::optional<std::time_t> time;
    };
    const Row rows[] = {
        {"Sun, 06 Nov 1994 08:49:37 GMT", Utc(1994, 11, 6, 8, 49, 37)},
        {"Sunday, 06-Nov-94 08:49:37 GMT", Utc(1994, 11, 6, 8, 49, 37)},
        {"Sun Nov  6 08:49:37 1994", Utc(1994, 11, 6, 8, 49, 37)},
        {"Wed Nov 16 08:49:37 1994", Utc(1994, 11, 16, 8, 49, 37)},
        // A two-digit year is the nearest not more than 50 years ahead (which then lies ahead).
        {"Wednesday, 01-Jan-25 00:00:00 GMT", Utc(2025, 1, 1)},
        {"Monday, 01-Jan-76 00:00:00 GMT", std::nullopt},
        {"Monday, 01-Jan-77 00:00:00 GMT", Utc(1977, 1, 1)},
        {"Thursday, 10-Dec-26 11:00:00 GMT", Utc(2026, 12, 10, 11)}, // within a day ahead
        {"Fri, 11 Dec 2026 12:00:01 GMT", std::nullopt},             // more than a day ahead
        {"Sun, 06 Nov 1994 08:49:37 UTC", std::nullopt},
        {"Sun, 31 Feb 1994 08:49:37 GMT", std::nullopt},
        {"Sun, 6 Nov 1994 08:49:37 GMT", std::nullopt},
        {"06 Nov 1994", std::nullopt},
        {"", std::nullopt},
    };
    for (const Row& row : rows)
        EXPECT_EQ(serverdates::HttpDate(row.text, Now), row.time) << row.text;
}

TEST(ServerDates, ListingDatesAreUtcAndNeverAYearAhead) {
    struct Row {
        const char* text;
        std::optional<std::time_t> time;
    };
    const Row rows[] = {
        {"Jan 5 2024", Utc(2024, 1, 5)},
        {"Dec 31 1999", Utc(1999, 12, 31)},
        {"Dec 9 08:15", Utc(2026, 12, 9, 8, 15)},
        {"Dec 10 11:59", Utc(2026, 12, 10, 11, 59)}, // less than a day ahead: this year
        {"Dec 25 10:00", Utc(2025, 12, 25, 10)},     // more: last year
        {"Foo 5 2024", std::nullopt},
        {"Jan 5", std::nullopt},
        {"Jan 32 2024", std::nullopt},
        {"Jan 5 1:00", std::nullopt},
    };
    for (const Row& row : rows)
        EXPECT_EQ(serverdates::ListingDate(row.text, Now), row.time) << row.text;
}
