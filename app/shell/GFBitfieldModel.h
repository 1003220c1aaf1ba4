#pragma once

#include <QAbstractListModel>

namespace KORVIK {
class USBDevice;
}

// The chip bitfields of one board, one row per bitfield index.
class GFBitfieldModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Column { ColName, ColValue, ColFlash, ColChip, ColDescription, ColumnCount };

    explicit GFBitfieldModel(KORVIK::USBDevice* device);

    // The board's handle is going away: show nothing from now on.
    void detach();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

    void bitfield_changed(unsigned int row);
    // The stored values changed (defaults saved or loaded).
    void nv_changed();

private:
    KORVIK::USBDevice* device;
};
