#include "engine/StrUtils.h"

#include <algorithm>

int Length(std::string_view S) {
    return static_cast<int>(S.size());
}

int Pos(std::string_view Sub, std::string_view S) {
    if (Sub.empty() || S.empty())
        return 0;
    const size_t at = S.find(Sub);
    return at == std::string_view::npos ? 0 : static_cast<int>(at) + 1;
}

std::string Copy(std::string_view S, int Index, int Count) {
    const int From = std::max(Index, 1);
    if (From > Length(S) || Count < 0)
        return {};
    return std::string(S.substr(static_cast<size_t>(From - 1), static_cast<size_t>(Count)));
}

void Delete(std::string& S, int Index, int Count) {
    if (S.empty() || Index < 1 || Index > Length(S) || Count <= 0)
        return;
    S.erase(static_cast<size_t>(Index - 1), static_cast<size_t>(Count));
}

// The rule rebuilds the whole text around each replacement and searches the rebuilt text again.
// Everything it searches lies past the inserted text, where the rebuilt text equals the original,
// so one pass over the original that copies each piece once gives the same result.
std::string ReplaceAll(std::string_view Text, std::string_view Find, std::string_view Repl) {
    const int First = Pos(Find, Text);
    if (First == 0)
        return std::string(Text);
    std::string Result;
    Result.reserve(Text.size() + Repl.size());
    size_t copied = 0;
    size_t found = static_cast<size_t>(First - 1);
    while (found != std::string_view::npos) {
        Result.append(Text.substr(copied, found - copied));
        Result.append(Repl);
        copied = found + Find.size();
        // One past the character that follows the inserted text, so an occurrence right after
        // a replaced one stays as it is.
        found = Text.find(Find, copied + 1);
    }
    Result.append(Text.substr(copied));
    return Result;
}

std::string CopyFrom(std::string_view Text, int From) {
    if (From < 1)
        return {};
    return Copy(Text, From, Length(Text));
}

std::string CopyRange(std::string_view Text, int From, int To) {
    if (From < 1 || To < From)
        return {};
    return Copy(Text, From, To - From + 1);
}

int FindFrom(std::string_view Text, std::string_view Sub, int From) {
    // Every caller starts at 1 or later; an earlier start would otherwise shift the result.
    From = std::max(From, 1);
    if (static_cast<long long>(Sub.size()) > static_cast<long long>(Text.size()) - From + 1)
        return 0;
    const int R = Pos(Sub, Text.substr(static_cast<size_t>(From - 1)));
    return R > 0 ? R + From - 1 : 0;
}

std::string NthField(std::string_view Text, std::string_view Sep, int N) {
    if (N < 1 || Text.empty())
        return {};
    if (Sep.empty())
        return N == 1 ? std::string(Text) : std::string();
    size_t start = 0;
    for (int I = 1;; ++I) {
        const size_t at = Text.find(Sep, start);
        if (at == std::string_view::npos)
            return I == N ? std::string(Text.substr(start)) : std::string();
        if (I == N)
            return std::string(Text.substr(start, at - start));
        start = at + Sep.size();
    }
}

// The rule overwrites the first character of each separator found with a marker and searches
// again from the start until nothing is found. A one-character separator is never the marker, so
// that is a plain count. A longer one is counted with overlaps, and a marker that occurs in the
// separator can even complete a new occurrence, which the loop below reproduces.
int FieldCount(std::string_view Text, std::string_view Sep) {
    if (Text.empty())
        return 0;
    if (Sep.empty())
        return 1;
    if (Sep.size() == 1)
        return static_cast<int>(std::count(Text.begin(), Text.end(), Sep[0])) + 1;

    const char Marker = '#';
    int Count = 1;
    if (Sep[0] == Marker) {
        // Overwriting a marker with itself would find the same occurrence forever; counting each
        // overlapping occurrence once is what the rule means.
        for (size_t at = Text.find(Sep); at != std::string_view::npos; at = Text.find(Sep, at + 1))
            ++Count;
        return Count;
    }
    std::string W(Text);
    size_t from = 0;
    for (size_t at = W.find(Sep); at != std::string::npos; at = W.find(Sep, from)) {
        W[at] = Marker;
        ++Count;
        // No occurrence started before this one, and only those covering the changed character
        // can be new, so the next leftmost one starts no earlier than this.
        from = at >= Sep.size() - 1 ? at - (Sep.size() - 1) : 0;
    }
    return Count;
}
