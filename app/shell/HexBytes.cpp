#include "shell/HexBytes.h"

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
    QStringList parts = text.split(QLatin1Char(':'), Qt::KeepEmptyParts);
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
        bool ok = false;
        const uint value = part.toUInt(&ok, 16);
        if (!ok) {
            buffer[converted] = 0xFF;
            break;
        }
        buffer[converted++] = static_cast<unsigned char>(value & 0xFF);
    }
    return converted;
}
