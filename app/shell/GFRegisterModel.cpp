#include "shell/GFRegisterModel.h"

#include <korvik/USBDevice.h>

#include "shell/TableHeader.h"

GFRegisterModel::GFRegisterModel(KORVIK::USBDevice* device) : ChipTableModel(device, ColValue, ColumnCount) {}

QVariant GFRegisterModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    // column order of the Column enum
    return table_header({tr("Register"), tr("Address"), tr("Value"), tr("Flash"), tr("Chip"), tr("Mask")}, section, orientation, role);
}

unsigned int GFRegisterModel::row_count(const KORVIK::USBDevice& dev) const
{
    return dev.get_registers();
}

unsigned int GFRegisterModel::chip_value(const KORVIK::USBDevice& dev, unsigned int row) const
{
    return dev.get_register_chipvalue(row);
}

unsigned int GFRegisterModel::stored_value(const KORVIK::USBDevice& dev, unsigned int row) const
{
    return dev.get_register_nvvalue(row);
}

unsigned int GFRegisterModel::reset_value(const KORVIK::USBDevice& dev, unsigned int row) const
{
    return dev.get_register_defaultvalue(row);
}

bool GFRegisterModel::editable(const KORVIK::USBDevice& dev, unsigned int row) const
{
    // a register without writable bits
    return dev.get_register_mask(row) != 0;
}

void GFRegisterModel::set_chip_value(KORVIK::USBDevice& dev, unsigned int row, unsigned int value)
{
    dev.set_register_chipvalue(row, static_cast<unsigned char>(value & 0xFF));
}

QVariant GFRegisterModel::other_cell(const KORVIK::USBDevice& dev, unsigned int row, int column, int role) const
{
    if (role != Qt::DisplayRole)
        return QVariant();
    switch (column) {
    case ColName: {
        QString name = QString::fromStdString(dev.get_register_name(row));
        if (dev.is_register_shared(row)) {
            if (dev.is_register_receive(row))
                name += QStringLiteral(" (Rx)");
            else if (dev.is_register_transmit(row))
                name += QStringLiteral(" (Tx)");
        }
        return name;
    }
    case ColAddress: return hex_digits(dev.get_register_chipaddr(row), 8);
    case ColMask: return hex_digits(dev.get_register_mask(row), 8);
    }
    return QVariant();
}
