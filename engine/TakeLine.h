#pragma once

#include <string>
#include <string_view>

// Cuts the first line off a page held in Buffer: Line gets the text before the first LF, and the
// line and its LF leave Buffer. Without an LF the whole rest is the line. A CR stays in the line.
// Once Buffer is empty every call gives an empty Line, so callers end on markers in the text.
//
// Removing the front of a string moves all that remains, so cutting a whole page this way costs
// time in proportion to its size times its number of lines.
void TakeLine(std::string& Buffer, std::string& Line);

// The same cut on a view of the page, which only moves the view's start: cutting a whole page
// costs time in proportion to its size. The page the view looks at must outlive it.
void TakeLine(std::string_view& Buffer, std::string& Line);
