#include "engine/TakeLine.h"

void TakeLine(std::string& Buffer, std::string& Line) {
    const size_t lf = Buffer.find('\n');
    if (lf == std::string::npos) {
        Line.swap(Buffer);
        Buffer.clear();
        return;
    }
    Line.assign(Buffer, 0, lf);
    Buffer.erase(0, lf + 1);
}

void TakeLine(std::string_view& Buffer, std::string& Line) {
    const size_t lf = Buffer.find('\n');
    if (lf == std::string_view::npos) {
        Line.assign(Buffer);
        Buffer = {};
        return;
    }
    Line.assign(Buffer.substr(0, lf));
    Buffer.remove_prefix(lf + 1);
}
