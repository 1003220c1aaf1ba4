#pragma once

#include <QAbstractListModel>
#include <QList>
#include <QSet>
#include <QTimer>

class EvUSBBoard;

// Every listed board, sorted by serial then interface name. Owns the board
// objects.
class BoardList : public QAbstractListModel {
    Q_OBJECT
public:
    enum Column { ColName, ColChip, ColInterface, ColRxPackets, ColTxPackets, ColumnCount };

    explicit BoardList(QObject* parent = nullptr);
    ~BoardList() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // Returns the row, or -1 for a null or already listed board.
    int add_board(EvUSBBoard* board);
    void remove_row(int row);
    // Deletes every board object, last row first.
    void clear();
    EvUSBBoard* find_by_interface(const QString& text) const;
    EvUSBBoard* find_by_serial(const QString& text) const;
    int row_of_interface(const QString& text) const;
    int row_of_serial(const QString& text) const;
    int row_of(const EvUSBBoard* board) const;
    EvUSBBoard* board_at(int row) const;
    // Announces new packet counts of the row: the first change at once,
    // the rest of a busy stretch together a fifth of a second later, so a
    // packet test does not repaint the list per packet.
    void packets_changed(int row);

private:
    void flush_packet_counts();

    QList<EvUSBBoard*> boards;
    QSet<EvUSBBoard*> counts_pending;
    QTimer counts_timer;
};
