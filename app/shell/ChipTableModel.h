#pragma once

#include <QAbstractListModel>

namespace KORVIK {
class USBDevice;
}

// What the register and the bitfield tables of one board share: a row per
// index, the chip, stored and reset values in three columns side by side, the
// first of them editable; bold where the value is not stored yet, tinted
// where it is away from the reset value. Caches nothing: every cell is read
// from the device when asked.
class ChipTableModel : public QAbstractListModel {
    Q_OBJECT
public:
    // The board's handle is going away: show nothing from now on.
    void detach();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

    // The device reports a new value of row `row`.
    void row_changed(unsigned int row);
    // The stored values changed (defaults saved or loaded).
    void nv_changed();

protected:
    // `value_column` holds the chip value; the stored and the reset value follow it.
    ChipTableModel(KORVIK::USBDevice* device, int value_column, int column_count);

    virtual unsigned int row_count(const KORVIK::USBDevice& dev) const = 0;
    virtual unsigned int chip_value(const KORVIK::USBDevice& dev, unsigned int row) const = 0;
    virtual unsigned int stored_value(const KORVIK::USBDevice& dev, unsigned int row) const = 0;
    virtual unsigned int reset_value(const KORVIK::USBDevice& dev, unsigned int row) const = 0;
    virtual unsigned int bit_length(const KORVIK::USBDevice& dev, unsigned int row) const = 0;
    virtual bool editable(const KORVIK::USBDevice&, unsigned int) const { return true; }
    virtual void set_chip_value(KORVIK::USBDevice& dev, unsigned int row, unsigned int value) = 0;
    // The display text and tool tip of the columns other than the three values.
    virtual QVariant other_cell(const KORVIK::USBDevice& dev, unsigned int row, int column, int role) const = 0;
    // Columns other than the three values that hold numbers (aligned right).
    virtual bool number_column(int) const { return false; }

    // `bits` wide in upper-case hexadecimal digits.
    static QString hex_digits(unsigned int value, unsigned int bits);

private:
    KORVIK::USBDevice* device;
    const int value_column;
    const int column_count;
};
