#include "shell/ChipTableModel.h"

#include <QGuiApplication>
#include <QPalette>

namespace {

// a fifth of the selection colour over the cell's own: readable with the
// palette's text colour in light and dark palettes alike
QColor changed_tint()
{
    const QPalette palette = QGuiApplication::palette();
    const QColor base = palette.color(QPalette::Base), mark = palette.color(QPalette::Highlight);
    return QColor::fromRgbF(base.redF() * 0.8f + mark.redF() * 0.2f, base.greenF() * 0.8f + mark.greenF() * 0.2f,
                            base.blueF() * 0.8f + mark.blueF() * 0.2f);
}

} // namespace

#include <QBrush>
#include <QFont>

#include <korvik/USBDevice.h>

ChipTableModel::ChipTableModel(KORVIK::USBDevice* device_, int value_column_, int column_count_)
    : device(device_), value_column(value_column_), column_count(column_count_)
{
}

QString ChipTableModel::hex_digits(unsigned int value, unsigned int bits)
{
    return QStringLiteral("%1").arg(value, int((bits + 3) / 4), 16, QLatin1Char('0')).toUpper();
}

void ChipTableModel::detach()
{
    beginResetModel();
    device = nullptr;
    endResetModel();
}

int ChipTableModel::rowCount(const QModelIndex& parent) const
{
    KORVIK::USBDevice* dev = device;
    return parent.isValid() || !dev ? 0 : int(row_count(*dev));
}

int ChipTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : column_count;
}

QVariant ChipTableModel::data(const QModelIndex& index, int role) const
{
    KORVIK::USBDevice* dev = device;
    if (!dev || !index.isValid() || index.row() < 0 || index.column() < 0 || index.column() >= column_count
        || unsigned(index.row()) >= row_count(*dev))
        return QVariant();
    const unsigned int r = unsigned(index.row());
    const int column = index.column();
    const int value_kind = column - value_column; // 0 chip, 1 stored, 2 reset
    const bool value_cell = value_kind >= 0 && value_kind <= 2;
    switch (role) {
    case Qt::DisplayRole:
        if (!value_cell)
            return other_cell(*dev, r, column, role);
        return hex_digits(value_kind == 0 ? chip_value(*dev, r) : value_kind == 1 ? stored_value(*dev, r)
                                                                                 : reset_value(*dev, r),
                          bit_length(*dev, r));
    case Qt::ToolTipRole:
        return other_cell(*dev, r, column, role);
    case Qt::EditRole:
        if (column == value_column)
            return chip_value(*dev, r);
        break;
    case Qt::FontRole:
        // not yet stored: bold
        if (chip_value(*dev, r) != stored_value(*dev, r)) {
            QFont font;
            font.setBold(true);
            return font;
        }
        break;
    case Qt::BackgroundRole:
        // away from the chip's reset value: tinted
        if (chip_value(*dev, r) != reset_value(*dev, r))
            return QBrush(changed_tint());
        break;
    case Qt::TextAlignmentRole: {
        const bool number = value_cell || number_column(column);
        return QVariant::fromValue(Qt::Alignment((number ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter));
    }
    case Qt::UserRole:
        if (column == value_column)
            return bit_length(*dev, r);
        break;
    }
    return QVariant();
}

Qt::ItemFlags ChipTableModel::flags(const QModelIndex& index) const
{
    Qt::ItemFlags f = QAbstractListModel::flags(index) & ~Qt::ItemIsSelectable;
    KORVIK::USBDevice* dev = device;
    if (dev && index.isValid() && index.column() == value_column && index.row() >= 0
        && unsigned(index.row()) < row_count(*dev) && editable(*dev, unsigned(index.row())))
        f |= Qt::ItemIsSelectable | Qt::ItemIsEditable;
    return f;
}

bool ChipTableModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    KORVIK::USBDevice* dev = device;
    if (role != Qt::EditRole || !dev || !(flags(index) & Qt::ItemIsEditable))
        return false;
    bool ok = false;
    const uint v = value.toUInt(&ok);
    if (!ok)
        return false;
    set_chip_value(*dev, unsigned(index.row()), v);
    dev->commit_registers();
    return true;
}

void ChipTableModel::row_changed(unsigned int row)
{
    if (row >= unsigned(rowCount()))
        return;
    const QModelIndex cell = index(int(row), value_column);
    Q_EMIT dataChanged(cell, cell);
    // the name and the other columns carry the row's markers
    Q_EMIT dataChanged(index(int(row), 0), index(int(row), column_count - 1), {Qt::FontRole, Qt::BackgroundRole});
}

void ChipTableModel::nv_changed()
{
    if (rowCount() > 0)
        Q_EMIT dataChanged(index(0, 0), index(rowCount() - 1, column_count - 1));
}
