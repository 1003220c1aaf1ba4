#include "shell/GFBitfieldModel.h"

#include <QBrush>
#include <QFont>

#include <korvik/USBDevice.h>

#include "shell/TableHeader.h"

namespace {

QString hex_digits(unsigned int v, unsigned int bits)
{
    return QStringLiteral("%1").arg(v, int((bits + 3) / 4), 16, QLatin1Char('0')).toUpper();
}

} // namespace

GFBitfieldModel::GFBitfieldModel(KORVIK::USBDevice* device_) : device(device_) {}

void GFBitfieldModel::detach()
{
    beginResetModel();
    device = nullptr;
    endResetModel();
}

int GFBitfieldModel::rowCount(const QModelIndex& parent) const
{
    KORVIK::USBDevice* dev = device;
    return parent.isValid() || !dev ? 0 : int(dev->get_bitfields());
}

int GFBitfieldModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant GFBitfieldModel::data(const QModelIndex& index, int role) const
{
    KORVIK::USBDevice* dev = device;
    if (!dev || !index.isValid() || index.row() < 0 || index.column() < 0 || index.column() >= ColumnCount
        || unsigned(index.row()) >= dev->get_bitfields())
        return QVariant();
    const unsigned int r = unsigned(index.row());
    const int column = index.column();
    switch (role) {
    case Qt::DisplayRole: {
        const unsigned int bits = dev->get_bitfield_bitlength(r);
        switch (column) {
        case ColName: return QString::fromStdString(dev->get_bitfield_name(r));
        case ColValue: return hex_digits(dev->get_bitfield_chipvalue(r), bits);
        case ColFlash: return hex_digits(dev->get_bitfield_nvvalue(r), bits);
        case ColChip: return hex_digits(dev->get_bitfield_defaultvalue(r), bits);
        case ColDescription: return QString::fromStdString(dev->get_bitfield_description(r));
        }
        break;
    }
    case Qt::EditRole:
        if (column == ColValue)
            return dev->get_bitfield_chipvalue(r);
        break;
    case Qt::ToolTipRole:
        return QString::fromStdString(dev->get_bitfield_tooltip(r));
    case Qt::FontRole:
        // not yet stored: bold
        if (dev->get_bitfield_chipvalue(r) != dev->get_bitfield_nvvalue(r)) {
            QFont font;
            font.setBold(true);
            return font;
        }
        break;
    case Qt::BackgroundRole:
        // away from the chip's reset value: tinted
        if (dev->get_bitfield_chipvalue(r) != dev->get_bitfield_defaultvalue(r))
            return QBrush(QColor(255, 244, 214));
        break;
    case Qt::TextAlignmentRole: {
        const bool number = column == ColValue || column == ColFlash || column == ColChip;
        return QVariant::fromValue(Qt::Alignment((number ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter));
    }
    case Qt::UserRole:
        if (column == ColValue)
            return dev->get_bitfield_bitlength(r);
        break;
    }
    return QVariant();
}

QVariant GFBitfieldModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    // column order of the Column enum
    return table_header({tr("Bitfield"), tr("Value"), tr("Flash"), tr("Chip"), tr("Description")}, section, orientation, role);
}

Qt::ItemFlags GFBitfieldModel::flags(const QModelIndex& index) const
{
    Qt::ItemFlags f = QAbstractListModel::flags(index) & ~Qt::ItemIsSelectable;
    KORVIK::USBDevice* dev = device;
    if (dev && index.isValid() && index.column() == ColValue && index.row() >= 0
        && unsigned(index.row()) < dev->get_bitfields())
        f |= Qt::ItemIsSelectable | Qt::ItemIsEditable;
    return f;
}

bool GFBitfieldModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    KORVIK::USBDevice* dev = device;
    if (role != Qt::EditRole || !dev || !(flags(index) & Qt::ItemIsEditable))
        return false;
    bool ok = false;
    const uint v = value.toUInt(&ok);
    if (!ok)
        return false;
    dev->set_bitfield_chipvalue(unsigned(index.row()), v);
    dev->commit_registers();
    return true;
}

void GFBitfieldModel::bitfield_changed(unsigned int row)
{
    if (row >= unsigned(rowCount()))
        return;
    const QModelIndex cell = index(int(row), ColValue);
    Q_EMIT dataChanged(cell, cell);
    // the name and the other columns carry the row's markers
    Q_EMIT dataChanged(index(int(row), 0), index(int(row), ColumnCount - 1), {Qt::FontRole, Qt::BackgroundRole});
}

void GFBitfieldModel::nv_changed()
{
    if (rowCount() > 0)
        Q_EMIT dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1));
}
