#include "engine/TextFile.h"

#include "platform/FileSystem.h"

#include <algorithm>
#include <array>

namespace {

constexpr char CR = '\r';
constexpr char LF = '\n';
constexpr char EndOfFile = 26;

// Reads the file until stop(chunk) says the rest is not needed.
template <typename Stop> std::string ReadUntil(const std::string& fileName, Stop stop) {
    TFileStream file(fileName, TFileStream::Mode::OpenRead);
    std::string text;
    std::array<char, 65536> chunk;
    for (;;) {
        const size_t got = file.Read(chunk.data(), chunk.size());
        if (got == 0)
            break;
        const std::string_view piece(chunk.data(), got);
        text.append(piece);
        if (stop(piece))
            break;
    }
    return text;
}

} // namespace

std::string ReadFirstLine(const std::string& fileName) {
    std::string text = ReadUntil(fileName, [](std::string_view piece) {
        return piece.find_first_of("\r\x1a") != std::string_view::npos;
    });
    const size_t end = text.find_first_of("\r\x1a");
    if (end != std::string::npos)
        text.resize(end);
    return text;
}

TTextFile::TTextFile(const std::string& fileName, bool lfEndsLine)
    : text_(ReadUntil(fileName, [](std::string_view) { return false; })), lfEndsLine_(lfEndsLine) {
    const size_t end = text_.find(EndOfFile);
    if (end != std::string::npos)
        text_.resize(end);
}

bool TTextFile::Eof() const {
    return position_ >= text_.size();
}

std::string TTextFile::ReadLine() {
    const char* ends = lfEndsLine_ ? "\r\n" : "\r";
    size_t end = text_.find_first_of(ends, position_);
    if (end == std::string::npos)
        end = text_.size();
    std::string line = text_.substr(position_, end - position_);
    position_ = end;
    if (position_ < text_.size()) {
        const bool cr = text_[position_] == CR;
        ++position_;
        if (cr && position_ < text_.size() && text_[position_] == LF)
            ++position_;
    }
    return line;
}
