// The engine's string functions on page text they never saw. The first byte's low three bits
// give the length of a separator or marker taken from the bytes after it; the rest is the text.

#include "FuzzCheck.h"
#include "engine/CutRules.h"
#include "engine/StrUtils.h"
#include "engine/TakeLine.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

bool IsSubstring(const std::string& part, std::string_view text) {
    return text.find(part) != std::string_view::npos;
}

bool StartsWith(std::string_view text, std::string_view head) {
    return text.substr(0, head.size()) == head;
}

bool EndsWith(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

void CheckBaseOperations(std::string_view text, std::string_view sep) {
    const int length = Length(text);
    const int at = Pos(sep, text);
    FUZZ_CHECK(at >= 0 && at <= length);
    if (at > 0)
        FUZZ_CHECK(text.substr(static_cast<size_t>(at - 1), sep.size()) == sep);
    FUZZ_CHECK(FindFrom(text, sep, 1) == at);

    // Indexes around every edge: before the start, the start, the middle, the end, past it.
    const int edges[] = {-1, 0, 1, 2, length / 2, length - 1, length, length + 1, length + 2};
    for (const int index : edges) {
        const int found = FindFrom(text, sep, index);
        if (found > 0) {
            FUZZ_CHECK(found >= index);
            FUZZ_CHECK(text.substr(static_cast<size_t>(found - 1), sep.size()) == sep);
        }
        FUZZ_CHECK(IsSubstring(CopyFrom(text, index), text));
        for (const int count : edges) {
            const std::string part = Copy(text, index, count);
            FUZZ_CHECK(static_cast<int>(part.size()) <= std::max(count, 0));
            FUZZ_CHECK(IsSubstring(part, text));
            FUZZ_CHECK(IsSubstring(CopyRange(text, index, count), text));
            std::string shortened(text);
            Delete(shortened, index, count);
            FUZZ_CHECK(shortened.size() <= text.size());
            if (index >= 1 && index <= length && count > 0)
                FUZZ_CHECK(shortened ==
                           std::string(text.substr(0, static_cast<size_t>(index - 1))) +
                               CopyFrom(text, index + count));
            else
                FUZZ_CHECK(shortened == text);
        }
    }
}

void CheckFields(std::string_view text, std::string_view sep) {
    const int count = FieldCount(text, sep);
    if (text.empty()) {
        FUZZ_CHECK(count == 0);
        return;
    }
    FUZZ_CHECK(count >= 1);
    // Overlapping occurrences of a longer separator can count more fields than the text has.
    FUZZ_CHECK(count <= Length(text) + 1);
    std::string joined;
    for (int n = 0; n <= count + 1; ++n) {
        const std::string field = NthField(text, sep, n);
        FUZZ_CHECK(IsSubstring(field, text));
        if (n < 1 || n > count)
            continue;
        if (n > 1)
            joined += sep;
        joined += field;
    }
    if (sep.size() == 1)
        FUZZ_CHECK(joined == text);
    FUZZ_CHECK(NthField(text, sep, count + 1).empty());
}

void CheckReplace(std::string_view text, std::string_view find) {
    FUZZ_CHECK(ReplaceAll(text, find, find) == text);
    const std::string removed = ReplaceAll(text, find, "");
    FUZZ_CHECK(removed.size() <= text.size());
    if (Pos(find, text) == 0)
        FUZZ_CHECK(ReplaceAll(text, find, "xy") == text);
}

void CheckCuts(std::string_view text, std::string_view x) {
    const std::string through = DropThrough(text, x);
    const std::string throughPlusOne = DropThroughPlusOne(text, x);
    const std::string before = KeepBefore(text, x);
    const std::string slash = KeepThroughSlashOf(text, x);
    FUZZ_CHECK(EndsWith(text, through));
    FUZZ_CHECK(EndsWith(text, throughPlusOne));
    FUZZ_CHECK(StartsWith(text, before));
    FUZZ_CHECK(StartsWith(text, slash));
    if (Pos(x, text) > 0) {
        FUZZ_CHECK(before + std::string(x) + through == text);
        FUZZ_CHECK(slash == before + std::string(x.substr(0, 1)));
        FUZZ_CHECK(throughPlusOne == CopyFrom(through, 2));
    } else {
        FUZZ_CHECK(before.empty() && slash.empty());
    }
}

void CheckTakeLine(std::string_view page) {
    std::string buffer(page);
    std::string_view view = page;
    // Walk the page both ways; the two forms must cut the same lines.
    for (size_t steps = 0; steps <= page.size() + 1; ++steps) {
        const std::string before = buffer;
        std::string line;
        std::string viewLine;
        TakeLine(buffer, line);
        TakeLine(view, viewLine);
        FUZZ_CHECK(line == viewLine);
        FUZZ_CHECK(buffer == view);
        if (before.find('\n') != std::string::npos)
            FUZZ_CHECK(line + "\n" + buffer == before);
        else
            FUZZ_CHECK(line == before && buffer.empty());
        if (before.empty())
            break;
    }
    FUZZ_CHECK(buffer.empty() && view.empty());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
    const size_t sepLength = std::min<size_t>(data[0] & 7, input.size());
    const std::string_view sep = input.substr(0, sepLength);
    const std::string_view text = input.substr(sepLength);

    CheckBaseOperations(text, sep);
    CheckFields(text, sep);
    CheckReplace(text, sep);
    CheckCuts(text, sep);
    CheckTakeLine(text);
    return 0;
}
