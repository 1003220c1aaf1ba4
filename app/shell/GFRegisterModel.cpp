#include "shell/GFRegisterModel.h"

#include <QBrush>
#include <QFont>

#include <korvik/USBDevice.h>

#include "shell/TableHeader.h"

namespace {

QString hex2(unsigned int v)
{
    return QStringLiteral("%1").arg(v, 2, 16, QLatin1Char('0')).toUpper();
}

} // namespace

GFRegisterModel::GFRegisterModel(KORVIK::USBDevice* device_) : device(device_) {}

void GFRegisterModel::detach()
{
    beginResetModel();
    device = nullptr;
    endResetModel();
}

int GFRegisterModel::rowCount(const QModelIndex& parent) const
{
    KORVIK::USBDevice* dev = device;
    return parent.isValid() || !dev ? 0 : int(dev->get_registers());
}

int GFRegisterModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant GFRegisterModel::data(const QModelIndex& index, int role) const
{
    KORVIK::USBDevice* dev = device;
    if (!dev || !index.isValid() || index.row() < 0 || index.column() < 0 || index.column() >= ColumnCount
        || unsigned(index.row()) >= dev->get_registers())
        return QVariant();
    const unsigned int r = unsigned(index.row());
    const int column = index.column();
    switch (role) {
    case Qt::DisplayRole:
        switch (column) {
        case ColName: {
            QString name = QString::fromStdString(dev->get_register_name(r));
            if (dev->is_register_shared(r)) {
                if (dev->is_register_receive(r))
                    name += QStringLiteral(" (Rx)");
                else if (dev->is_register_transmit(r))
                    name += QStringLiteral(" (Tx)");
            }
            return name;
        }
        case ColAddress: return hex2(dev->get_register_chipaddr(r));
        case ColValue: return hex2(dev->get_register_chipvalue(r) & 0xFF);
        case ColFlash: return hex2(dev->get_register_nvvalue(r) & 0xFF);
        case ColChip: return hex2(dev->get_register_defaultvalue(r) & 0xFF);
        case ColMask: return hex2(dev->get_register_mask(r) & 0xFF);
        }
        break;
    case Qt::EditRole:
        if (column == ColValue)
            return unsigned(dev->get_register_chipvalue(r) & 0xFF);
        break;
    case Qt::FontRole:
        // not yet stored: bold
        if (dev->get_register_chipvalue(r) != dev->get_register_nvvalue(r)) {
            QFont font;
            font.setBold(true);
            return font;
        }
        break;
    case Qt::BackgroundRole:
        // away from the chip's reset value: tinted
        if (dev->get_register_chipvalue(r) != dev->get_register_defaultvalue(r))
            return QBrush(QColor(255, 244, 214));
        break;
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(Qt::Alignment((column == ColName ? Qt::AlignLeft : Qt::AlignRight) | Qt::AlignVCenter));
    case Qt::UserRole:
        if (column == ColValue)
            return 8;
        break;
    }
    return QVariant();
}

QVariant GFRegisterModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    // column order of the Column enum
    return table_header({tr("Register"), tr("Address"), tr("Value"), tr("Flash"), tr("Chip"), tr("Mask")}, section, orientation, role);
}

Qt::ItemFlags GFRegisterModel::flags(const QModelIndex& index) const
{
    Qt::ItemFlags f = QAbstractListModel::flags(index) & ~Qt::ItemIsSelectable;
    KORVIK::USBDevice* dev = device;
    if (dev && index.isValid() && index.column() == ColValue && index.row() >= 0
        && unsigned(index.row()) < dev->get_registers() && (dev->get_register_mask(unsigned(index.row())) & 0xFF))
        f |= Qt::ItemIsSelectable | Qt::ItemIsEditable;
    return f;
}

bool GFRegisterModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    KORVIK::USBDevice* dev = device;
    if (role != Qt::EditRole || !dev || !(flags(index) & Qt::ItemIsEditable))
        return false;
    bool ok = false;
    const uint v = value.toUInt(&ok);
    if (!ok)
        return false;
    dev->set_register_chipvalue(unsigned(index.row()), static_cast<unsigned char>(v & 0xFF));
    dev->commit_registers();
    return true;
}

void GFRegisterModel::register_changed(unsigned int row)
{
    if (row >= unsigned(rowCount()))
        return;
    const QModelIndex cell = index(int(row), ColValue);
    Q_EMIT dataChanged(cell, cell);
    // the name and the other columns carry the row's markers
    Q_EMIT dataChanged(index(int(row), 0), index(int(row), ColumnCount - 1), {Qt::FontRole, Qt::BackgroundRole});
}

void GFRegisterModel::nv_changed()
{
    if (rowCount() > 0)
        Q_EMIT dataChanged(index(0, 0), index(rowCount() - 1, ColumnCount - 1));
}
