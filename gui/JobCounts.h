#pragma once

#include "engine/JobTally.h"

#include <QString>
#include <cstdint>

// The texts the window makes of a job's counts.
namespace jobcounts {

// "120 new · 1,480 present · 2 failed", then " · 3 refused" and " · 1 folder given up" when
// there are any.
QString CountsText(const TJobTally& tally);
// The same counts with what went wrong first, for a notice read in passing:
// "2 failed · 1 folder given up · 120 new · 1,480 present".
QString FailuresFirstText(const TJobTally& tally);
// "117,077 bytes stored (114.33 KiB), 0:42 elapsed".
QString StoredText(uint64_t bytes, int64_t milliseconds);
// 1480 -> "1,480", the same in every locale, as all of the window's texts are English.
QString Grouped(uint64_t number);
// "0:42", "12:05", "1:02:05".
QString ElapsedText(int64_t milliseconds);

} // namespace jobcounts
