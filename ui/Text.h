#pragma once

#include <QString>

class QLocale;
class QTime;
#include <string_view>

namespace ui {

// Shows bytes from the engine (log lines, statuses, error messages) on a widget. Valid UTF-8 reads
// as UTF-8; anything else reads as Latin-1, byte for byte, so a file name or reply line from an
// old server shows every byte as one character instead of a row of replacement marks.
QString TextFromBytes(std::string_view bytes);

// One log message as the lines it shows: only a CR LF pair starts a new line. A lone CR or LF,
// and the characters the text view would also take as a paragraph or frame break, show as a
// blank, so one message never spreads over more lines than it has CR LF pairs.
QString LogLinesFromBytes(std::string_view bytes);

// The clock's text: the time in the locale's long time format without its time-zone name, as a
// desktop clock shows it ("8:15:05 PM" rather than "8:15:05 PM UTC").
QString ClockText(const QLocale& locale, const QTime& time);

} // namespace ui
