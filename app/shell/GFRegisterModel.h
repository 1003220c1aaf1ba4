#pragma once

#include "shell/ChipTableModel.h"

// The chip registers of one board, one row per register index.
class GFRegisterModel : public ChipTableModel {
    Q_OBJECT
public:
    enum Column { ColName, ColAddress, ColValue, ColFlash, ColChip, ColMask, ColumnCount };

    explicit GFRegisterModel(KORVIK::USBDevice* device);

    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    unsigned int row_count(const KORVIK::USBDevice& dev) const override;
    unsigned int chip_value(const KORVIK::USBDevice& dev, unsigned int row) const override;
    unsigned int stored_value(const KORVIK::USBDevice& dev, unsigned int row) const override;
    unsigned int reset_value(const KORVIK::USBDevice& dev, unsigned int row) const override;
    unsigned int bit_length(const KORVIK::USBDevice&, unsigned int) const override { return 8; }
    bool editable(const KORVIK::USBDevice& dev, unsigned int row) const override;
    void set_chip_value(KORVIK::USBDevice& dev, unsigned int row, unsigned int value) override;
    QVariant other_cell(const KORVIK::USBDevice& dev, unsigned int row, int column, int role) const override;
    bool number_column(int column) const override { return column == ColAddress || column == ColMask; }
};
