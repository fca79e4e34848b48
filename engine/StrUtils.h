#pragma once

#include <string>
#include <string_view>

// The string functions every page parser and path builder of the engine stands on. Texts are byte
// strings; positions are 1-based and 0 means "not found"; comparisons are exact. The parsing rules
// depend on the exact edge behaviour below (what an absent marker or an out-of-range index gives),
// so every function keeps it, including the odd cases. Texts are assumed to be shorter than 2 GiB,
// since positions are plain ints.

// The three base operations, with the edge rules the others are written in.

// Position of the leftmost Sub in S; 0 when absent, when Sub is empty or when S is empty.
int Pos(std::string_view Sub, std::string_view S);
// Count characters of S from Index: an Index below 1 counts as 1; an Index past the end or a
// negative Count gives empty; the Count is cut to what remains.
std::string Copy(std::string_view S, int Index, int Count);
// Removes Count characters of S from Index; nothing happens when S is empty, Index is outside
// 1..length or Count is not positive; the Count is cut to what remains.
void Delete(std::string& S, int Index, int Count);

int Length(std::string_view S);

// Text with every Find replaced by Repl. After a replacement the search resumes one character past
// the character that follows the inserted text, so an occurrence right after a replaced one is
// left alone: "a//b" with "/" -> "\" gives "a\/b", "aaa" with "a" -> "b" gives "bab".
std::string ReplaceAll(std::string_view Text, std::string_view Find, std::string_view Repl);
// The tail of Text from From on; empty when From is below 1 or past the end.
std::string CopyFrom(std::string_view Text, int From);
// Positions From to To inclusive, To cut to the length; empty when From < 1 or To < From.
std::string CopyRange(std::string_view Text, int From, int To);
// Position in Text of the leftmost Sub starting at or after From; 0 when none. A From below 1
// searches from the start.
int FindFrom(std::string_view Text, std::string_view Sub, int From);
// The N-th field (from 1) of Text cut at each Sep; empty when N is out of range.
std::string NthField(std::string_view Text, std::string_view Sep, int N);
// 0 for an empty Text, else the number of Sep found plus 1. A longer Sep is counted with overlaps:
// "aa" in "aaa" counts 2, giving 3.
int FieldCount(std::string_view Text, std::string_view Sep);
