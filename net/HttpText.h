#pragma once

#include <string>
#include <string_view>

// Small text rules shared by the request builder and the response reader. They work on bytes:
// case folding touches ASCII letters only.
namespace http {

std::string AsciiUpper(std::string text);
std::string AsciiLower(std::string text);
// Whether a and b are the same text but for the case of ASCII letters; no copy is made, as
// header names are compared several times for every request and every answer.
bool SameIgnoringCase(std::string_view a, std::string_view b);

// The n-th field (1-based) of text for the separator: the text between the (n-1)-th and the
// n-th separator, or to the end. Fields may be empty; a field past the last separator is empty.
std::string NthField(const std::string& text, char separator, int n);

// The position of the n-th occurrence (1-based) of ch, or npos.
size_t NthPosition(const std::string& text, char ch, int n);

// The text without its trailing LF and the CR before it, as a line from ReadLn ends.
std::string WithoutLineEnd(std::string line);

} // namespace http
