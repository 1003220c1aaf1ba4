#pragma once

#include <QStringList>
#include <QVariant>

/// Horizontal header of the program's tables: the column texts for the
/// display role, left and vertically centred; nothing else.
inline QVariant table_header(const QStringList& texts, int section, Qt::Orientation orientation, int role)
{
    if (orientation != Qt::Horizontal || section < 0 || section >= texts.size())
        return QVariant();
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    if (role != Qt::DisplayRole)
        return QVariant();
    return texts.at(section);
}
