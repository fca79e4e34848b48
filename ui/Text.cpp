#include "ui/Text.h"

#include <QLocale>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTime>

namespace ui {

QString TextFromBytes(std::string_view bytes) {
    const QByteArrayView view(bytes.data(), static_cast<qsizetype>(bytes.size()));
    // Stateless: a message cut inside a sequence is an error, not something to finish later.
    // ConvertInitialBom: a leading byte order mark is a part of the message like any other.
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = utf8.decode(view);
    if (utf8.hasError())
        return QString::fromLatin1(view);
    return text;
}

namespace {

bool BreaksALine(QChar c) {
    switch (c.unicode()) {
    case u'\r':
    case u'\n':
    case 0x2028: // line separator
    case 0x2029: // paragraph separator
    case 0xFDD0: // the text view's frame markers
    case 0xFDD1:
        return true;
    default:
        return false;
    }
}

} // namespace

QString LogLinesFromBytes(std::string_view bytes) {
    QString text = TextFromBytes(bytes);
    const qsizetype length = text.size();
    QString lines;
    lines.reserve(length);
    for (qsizetype i = 0; i < length; ++i) {
        const QChar c = text.at(i);
        if (c == u'\r' && i + 1 < length && text.at(i + 1) == u'\n') {
            lines.append(u'\n');
            ++i;
        } else {
            lines.append(BreaksALine(c) ? QChar(u' ') : c);
        }
    }
    return lines;
}

namespace {

// Removes the time-zone field ("t") from a time format, with the brackets around it and the
// blanks or comma that join it to the rest: "h:mm:ss AP t", "HH:mm:ss (t)", "HH:mm:ss, t" and
// "t HH:mm:ss" all lose just the zone. Quoted text is left alone, so a "t" in a literal stays.
QString WithoutZoneField(QString format) {
    static const QRegularExpression zone(
        QStringLiteral(R"(^[\s,]*(\(\s*t+\s*\)|\[\s*t+\s*\]|t+)[\s,]*|)"
                       R"([\s,]*(\(\s*t+\s*\)|\[\s*t+\s*\]|t+)[\s,]*$|)"
                       R"((\(\s*t+\s*\)|\[\s*t+\s*\]|t+)\s*)"));
    for (;;) {
        // The same format with every quoted character masked, so that only fields match.
        QString fields = format;
        bool quoted = false;
        for (QChar& c : fields) {
            const bool quote = c == u'\'';
            if (quoted || quote)
                c = u'\x01';
            if (quote)
                quoted = !quoted;
        }
        const QRegularExpressionMatch match = zone.match(fields);
        if (!match.hasMatch())
            return format;
        format.remove(match.capturedStart(), match.capturedLength());
    }
}

} // namespace

QString ClockText(const QLocale& locale, const QTime& time) {
    return locale.toString(time, WithoutZoneField(locale.timeFormat(QLocale::LongFormat)));
}

} // namespace ui
