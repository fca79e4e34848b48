#pragma once

#include <string>

// How the engine reads its local text files (page files, "list.txt"): bytes as they are, a line
// ends at CR (a CR LF pair is one line end), an LF alone stays inside the line, and byte 26
// (Ctrl+Z) ends the file. A page stored with LF-only line ends is therefore one line holding
// the whole page, which the parsers then cut at LF themselves.

// The first line of a file by that rule; an empty file gives an empty line. Raises EFOpenError
// when the file cannot be opened. The file is read into memory and closed before this returns,
// so a walk that recurses into thousands of pages holds no file handle per level.
std::string ReadFirstLine(const std::string& fileName);

// A whole text file read line by line. With lfEndsLine an LF alone also ends a line (a CR LF
// pair is still one line end): a list written by any editor of this system reads line by line.
class TTextFile {
public:
    // Raises EFOpenError "Cannot open file <name>" when the file cannot be opened.
    TTextFile(const std::string& fileName, bool lfEndsLine);

    // True once no line is left: at the end of the file or at a Ctrl+Z.
    bool Eof() const;
    // The next line without its line end.
    std::string ReadLine();

private:
    std::string text_;
    size_t position_ = 0;
    bool lfEndsLine_;
};
