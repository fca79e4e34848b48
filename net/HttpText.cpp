#include "net/HttpText.h"

namespace http {

std::string AsciiUpper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z')
            x = static_cast<char>(x - 'a' + 'A');
        if (y >= 'a' && y <= 'z')
            y = static_cast<char>(y - 'a' + 'A');
        if (x != y)
            return false;
    }
    return true;
}

std::string AsciiLower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return text;
}

size_t NthPosition(const std::string& text, char ch, int n) {
    size_t pos = std::string::npos;
    for (int i = 0; i < n; ++i) {
        pos = text.find(ch, pos == std::string::npos ? 0 : pos + 1);
        if (pos == std::string::npos)
            return pos;
    }
    return pos;
}

std::string NthField(const std::string& text, char separator, int n) {
    const size_t begin = n <= 1 ? 0 : NthPosition(text, separator, n - 1);
    if (n > 1 && begin == std::string::npos)
        return {};
    const size_t start = n <= 1 ? 0 : begin + 1;
    const size_t end = text.find(separator, start);
    return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::string WithoutLineEnd(std::string line) {
    if (!line.empty() && line.back() == '\n')
        line.pop_back();
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

} // namespace http
