#include "shell/GFBitfieldModel.h"

#include <korvik/USBDevice.h>

#include "shell/TableHeader.h"

GFBitfieldModel::GFBitfieldModel(KORVIK::USBDevice* device) : ChipTableModel(device, ColValue, ColumnCount) {}

QVariant GFBitfieldModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    // column order of the Column enum
    return table_header({tr("Bitfield"), tr("Value"), tr("Flash"), tr("Chip"), tr("Description")}, section, orientation, role);
}

unsigned int GFBitfieldModel::row_count(const KORVIK::USBDevice& dev) const
{
    return dev.get_bitfields();
}

unsigned int GFBitfieldModel::chip_value(const KORVIK::USBDevice& dev, unsigned int row) const
{
    return dev.get_bitfield_chipvalue(row);
}

unsigned int GFBitfieldModel::stored_value(const KORVIK::USBDevice& dev, unsigned int row) const
{
    return dev.get_bitfield_nvvalue(row);
}

unsigned int GFBitfieldModel::reset_value(const KORVIK::USBDevice& dev, unsigned int row) const
{
    return dev.get_bitfield_defaultvalue(row);
}

unsigned int GFBitfieldModel::bit_length(const KORVIK::USBDevice& dev, unsigned int row) const
{
    return dev.get_bitfield_bitlength(row);
}

void GFBitfieldModel::set_chip_value(KORVIK::USBDevice& dev, unsigned int row, unsigned int value)
{
    dev.set_bitfield_chipvalue(row, value);
}

QVariant GFBitfieldModel::other_cell(const KORVIK::USBDevice& dev, unsigned int row, int column, int role) const
{
    if (role == Qt::ToolTipRole)
        return QString::fromStdString(dev.get_bitfield_tooltip(row));
    switch (column) {
    case ColName: return QString::fromStdString(dev.get_bitfield_name(row));
    case ColDescription: return QString::fromStdString(dev.get_bitfield_description(row));
    }
    return QVariant();
}
