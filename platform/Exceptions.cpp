#include "platform/Exceptions.h"

#include <cctype>
#include <climits>

int StrToInt(const std::string& text) {
    const auto fail = [&]() {
        return EConvertError("'" + text + "' is not a valid integer value");
    };
    size_t i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size())
        throw fail();
    long long value = 0;
    for (; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (!std::isdigit(c))
            throw fail();
        value = value * 10 + (c - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            throw fail();
    }
    if (negative)
        value = -value;
    if (value > INT_MAX || value < INT_MIN)
        throw fail();
    return static_cast<int>(value);
}
