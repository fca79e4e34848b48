#include "cli/HeadlessText.h"

#include <QString>
#include <QStringDecoder>

#include <cstdio>

namespace cli {

std::string Utf8FromBytes(std::string_view bytes) {
    const QByteArrayView view(bytes.data(), static_cast<qsizetype>(bytes.size()));
    QStringDecoder utf8(QStringDecoder::Utf8,
                        QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    const QString text = utf8.decode(view);
    if (!utf8.hasError())
        return std::string(bytes);
    return QString::fromLatin1(view).toStdString();
}

std::string ConsoleLines(std::string_view message) {
    const QString text = QString::fromStdString(Utf8FromBytes(message));
    QString lines;
    lines.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (c == u'\r' && i + 1 < text.size() && text.at(i + 1) == u'\n') {
            lines.append(u'\n');
            ++i;
        } else if (c == u'\r' || c == u'\n' || c == u'\t' || c == 0x2028 || c == 0x2029) {
            lines.append(u' ');
        } else if (c < 0x20 || (c >= 0x7f && c < 0xa0)) {
            // An escape sequence in a file name must not reach the terminal.
            lines.append(u'?');
        } else {
            lines.append(QChar(c));
        }
    }
    return lines.toStdString();
}

} // namespace cli
