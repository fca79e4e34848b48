#include "net/ServerDates.h"

#include <array>
#include <cstring>
#include <sstream>
#include <string_view>
#include <vector>

namespace serverdates {

namespace {

constexpr std::time_t Day = 24 * 60 * 60;
constexpr std::array<const char*, 12> Months = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr std::array<const char*, 7> Days = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
constexpr std::array<const char*, 7> LongDays = {"Monday", "Tuesday",  "Wednesday", "Thursday",
                                                 "Friday", "Saturday", "Sunday"};

int MonthOf(std::string_view name) {
    for (size_t i = 0; i < Months.size(); ++i)
        if (name == Months[i])
            return static_cast<int>(i) + 1;
    return 0;
}

template <size_t N> bool OneOf(std::string_view word, const std::array<const char*, N>& words) {
    for (const char* known : words)
        if (word == known)
            return true;
    return false;
}

// A number of exactly `digits` digits (a single space before a one-digit day is allowed by
// the caller).
std::optional<int> Number(std::string_view text, size_t digits) {
    if (text.size() != digits)
        return std::nullopt;
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos)
            return parts;
        start = end + 1;
    }
}

int DaysInMonth(int year, int month) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

std::optional<std::time_t> Utc(int year, int month, int day, int hour, int minute, int second) {
    if (year < 1970 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) ||
        hour > 23 || minute > 59 || second > 60)
        return std::nullopt;
    std::tm parts{};
    parts.tm_year = year - 1900;
    parts.tm_mon = month - 1;
    parts.tm_mday = day;
    parts.tm_hour = hour;
    parts.tm_min = minute;
    parts.tm_sec = second;
    return ::timegm(&parts);
}

// "HH:MM:SS"
bool Clock(std::string_view text, int& hour, int& minute, int& second) {
    const auto parts = Split(text, ':');
    if (parts.size() != 3)
        return false;
    const auto h = Number(parts[0], 2), m = Number(parts[1], 2), s = Number(parts[2], 2);
    if (!h || !m || !s)
        return false;
    hour = *h;
    minute = *m;
    second = *s;
    return true;
}

int YearOf(std::time_t time) {
    std::tm parts{};
    ::gmtime_r(&time, &parts);
    return parts.tm_year + 1900;
}

std::optional<std::time_t> NotAhead(std::optional<std::time_t> time, std::time_t now) {
    if (time && *time > now + Day)
        return std::nullopt;
    return time;
}

} // namespace

std::optional<std::time_t> HttpDate(const std::string& text, std::time_t now) {
    const std::vector<std::string_view> words = Split(text, ' ');
    int hour = 0, minute = 0, second = 0;
    // "Sun, 06 Nov 1994 08:49:37 GMT"
    if (words.size() == 6 && words[0].size() == 4 && words[0].back() == ',' &&
        OneOf(words[0].substr(0, 3), Days) && words[5] == "GMT" &&
        Clock(words[4], hour, minute, second)) {
        const auto day = Number(words[1], 2);
        const auto year = Number(words[3], 4);
        const int month = MonthOf(words[2]);
        if (!day || !year || month == 0)
            return std::nullopt;
        return NotAhead(Utc(*year, month, *day, hour, minute, second), now);
    }
    // "Sunday, 06-Nov-94 08:49:37 GMT"
    if (words.size() == 4 && words[0].size() > 1 && words[0].back() == ',' &&
        OneOf(words[0].substr(0, words[0].size() - 1), LongDays) && words[3] == "GMT" &&
        Clock(words[2], hour, minute, second)) {
        const auto date = Split(words[1], '-');
        if (date.size() != 3)
            return std::nullopt;
        const auto day = Number(date[0], 2);
        const auto shortYear = Number(date[2], 2);
        const int month = MonthOf(date[1]);
        if (!day || !shortYear || month == 0)
            return std::nullopt;
        // The nearest year with these last two digits not more than 50 years ahead.
        const int thisYear = YearOf(now);
        int year = thisYear - thisYear % 100 + *shortYear;
        if (year > thisYear + 50)
            year -= 100;
        else if (year < thisYear - 49)
            year += 100;
        return NotAhead(Utc(year, month, *day, hour, minute, second), now);
    }
    // "Sun Nov  6 08:49:37 1994": a one-digit day comes after two blanks.
    std::vector<std::string_view> asc;
    for (const std::string_view word : words)
        if (!word.empty())
            asc.push_back(word);
    if (asc.size() == 5 && OneOf(asc[0], Days) && Clock(asc[3], hour, minute, second) &&
        text.find("  ") == (asc[2].size() == 1 ? 7 : std::string::npos)) {
        const auto day = asc[2].size() == 1 ? Number(asc[2], 1) : Number(asc[2], 2);
        const auto year = Number(asc[4], 4);
        const int month = MonthOf(asc[1]);
        if (!day || !year || month == 0)
            return std::nullopt;
        return NotAhead(Utc(*year, month, *day, hour, minute, second), now);
    }
    return std::nullopt;
}

std::optional<std::time_t> ListingDate(const std::string& text, std::time_t now) {
    const std::vector<std::string_view> words = Split(text, ' ');
    if (words.size() != 3)
        return std::nullopt;
    const int month = MonthOf(words[0]);
    const auto day = words[1].size() == 1 ? Number(words[1], 1) : Number(words[1], 2);
    if (month == 0 || !day)
        return std::nullopt;
    if (const auto year = Number(words[2], 4))
        return NotAhead(Utc(*year, month, *day, 0, 0, 0), now);
    const auto clock = Split(words[2], ':');
    if (clock.size() != 2)
        return std::nullopt;
    const auto hour = Number(clock[0], 2), minute = Number(clock[1], 2);
    if (!hour || !minute)
        return std::nullopt;
    const int thisYear = YearOf(now);
    const auto thisYears = Utc(thisYear, month, *day, *hour, *minute, 0);
    if (thisYears && *thisYears <= now + Day)
        return thisYears;
    return Utc(thisYear - 1, month, *day, *hour, *minute, 0);
}

} // namespace serverdates
