#include "gui/JobCounts.h"

#include <QLocale>
#include <QStringList>

namespace jobcounts {
namespace {

const QString kSeparator = QStringLiteral(" \u00B7 ");

QString Count(int number, const char* what) {
    return Grouped(static_cast<uint64_t>(number)) + ' ' + QLatin1String(what);
}

QString FoldersGivenUp(int number) {
    return Count(number, number == 1 ? "folder given up" : "folders given up");
}

} // namespace

QString Grouped(uint64_t number) {
    QString digits = QString::number(number);
    for (qsizetype at = digits.size() - 3; at > 0; at -= 3)
        digits.insert(at, ',');
    return digits;
}

QString ElapsedText(int64_t milliseconds) {
    const int64_t seconds = milliseconds / 1000;
    const int64_t hours = seconds / 3600;
    const auto twoDigits = [](int64_t n) { return QString::number(n).rightJustified(2, '0'); };
    if (hours > 0)
        return QString::number(hours) + ':' + twoDigits(seconds / 60 % 60) + ':' +
               twoDigits(seconds % 60);
    return QString::number(seconds / 60) + ':' + twoDigits(seconds % 60);
}

QString CountsText(const TJobTally& tally) {
    QStringList parts{Count(tally.fetched, "new"), Count(tally.present, "present"),
                      Count(tally.failed, "failed")};
    if (tally.changed > 0)
        parts << Count(tally.changed, "changed");
    if (tally.gone > 0)
        parts << Count(tally.gone, "gone");
    if (tally.refused > 0)
        parts << Count(tally.refused, "refused");
    if (tally.foldersGivenUp > 0)
        parts << FoldersGivenUp(tally.foldersGivenUp);
    return parts.join(kSeparator);
}

QString FailuresFirstText(const TJobTally& tally) {
    QStringList parts{Count(tally.failed, "failed")};
    if (tally.foldersGivenUp > 0)
        parts << FoldersGivenUp(tally.foldersGivenUp);
    parts << Count(tally.fetched, "new") << Count(tally.present, "present");
    if (tally.changed > 0)
        parts << Count(tally.changed, "changed");
    if (tally.gone > 0)
        parts << Count(tally.gone, "gone");
    if (tally.refused > 0)
        parts << Count(tally.refused, "refused");
    return parts.join(kSeparator);
}

QString StoredText(uint64_t bytes, int64_t milliseconds) {
    return Grouped(bytes) + (bytes == 1 ? " byte stored (" : " bytes stored (") +
           QLocale::c().formattedDataSize(static_cast<qint64>(bytes)) + "), " +
           ElapsedText(milliseconds) + " elapsed";
}

} // namespace jobcounts
