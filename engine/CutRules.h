#pragma once

#include <string>
#include <string_view>

// The cuts the page parsers make at the first occurrence of a marker X. Each follows the base
// operations' arithmetic also when X is absent (its position is then 0), because the parsers rely
// on what such a line turns into.

// Removes everything up to and including X. Without X the first length(X) - 1 characters go.
std::string DropThrough(std::string_view Text, std::string_view X);
// Removes X and the one character after it. Without X the first length(X) characters go.
std::string DropThroughPlusOne(std::string_view Text, std::string_view X);
// The text before X; empty without X.
std::string KeepBefore(std::string_view Text, std::string_view X);
// The text before X plus X's first character (a slash in every use); empty without X.
std::string KeepThroughSlashOf(std::string_view Text, std::string_view X);
