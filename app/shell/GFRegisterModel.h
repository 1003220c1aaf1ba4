#pragma once

#include <QAbstractListModel>

namespace KORVIK {
class USBDevice;
}

// The chip registers of one board, one row per register index. Caches
// nothing: every cell is read from the device when asked.
class GFRegisterModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Column { ColName, ColAddress, ColValue, ColFlash, ColChip, ColMask, ColumnCount };

    explicit GFRegisterModel(KORVIK::USBDevice* device);

    // The board's handle is going away: show nothing from now on.
    void detach();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

    // The device reports a new value of register `row`.
    void register_changed(unsigned int row);
    // The stored values changed (defaults saved or loaded).
    void nv_changed();

private:
    KORVIK::USBDevice* device;
};
