#include "core/HexBytes.h"

#include <algorithm>

#include <QStringList>

QString format_hex_bytes(const unsigned char* bytes, unsigned int count, const QString& separator)
{
    QString text;
    if (!bytes)
        return text;
    for (unsigned int i = 0; i < count; ++i) {
        if (i)
            text += separator;
        text += QStringLiteral("%1").arg(unsigned(bytes[i]), 2, 16, QLatin1Char('0')).toUpper();
    }
    return text;
}

unsigned int parse_hex_bytes(const QString& text, unsigned char* buffer, unsigned int count)
{
    if (!buffer || !count)
        return 0;
    for (unsigned int i = 0; i < count; ++i)
        buffer[i] = 0xFF;
    QStringList parts = text.trimmed().split(QLatin1Char(':'), Qt::KeepEmptyParts);
    if (parts.size() == 1 && parts.front().size() > 2) {
        const QString run = parts.front();
        parts.clear();
        for (qsizetype pos = 0; pos < run.size(); pos += 2)
            parts.append(run.mid(pos, 2));
    }
    unsigned int converted = 0;
    for (const QString& part : parts) {
        if (converted >= count)
            break;
        // digits only: the number parser would also take blanks, a sign or
        // "0x", and "40 00 12 ..." cut in pairs would then pass as a whole,
        // wrong address
        bool ok = !part.isEmpty() && std::all_of(part.cbegin(), part.cend(), [](QChar c) {
            return c.isDigit() || (c.toLower() >= QLatin1Char('a') && c.toLower() <= QLatin1Char('f'));
        });
        const uint value = ok ? part.toUInt(&ok, 16) : 0;
        if (!ok) {
            buffer[converted] = 0xFF;
            break;
        }
        buffer[converted++] = static_cast<unsigned char>(value & 0xFF);
    }
    return converted;
}
