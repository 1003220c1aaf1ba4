#include "shell/BoardList.h"

#include <utility>

#include <korvik/USBDevice.h>

#include "shell/EvUSBBoard.h"
#include "shell/TableHeader.h"

namespace {

std::string serial_of(const EvUSBBoard* board)
{
    return board && board->get_device() ? board->get_device()->get_serial() : std::string();
}

std::string interface_of(const EvUSBBoard* board)
{
    return board && board->get_device() ? board->get_device()->get_interface() : std::string();
}

// serial first, then interface name; std::string compares byte-wise
bool sorts_before(const EvUSBBoard* a, const EvUSBBoard* b)
{
    const std::string sa = serial_of(a), sb = serial_of(b);
    if (sa != sb)
        return sa < sb;
    return interface_of(a) < interface_of(b);
}

} // namespace

BoardList::BoardList(QObject* parent) : QAbstractListModel(parent)
{
    counts_timer.setSingleShot(true);
    counts_timer.setInterval(200);
    connect(&counts_timer, &QTimer::timeout, this, &BoardList::flush_packet_counts);
}

BoardList::~BoardList()
{
    clear();
}

void BoardList::clear()
{
    while (!boards.isEmpty()) {
        const int row = int(boards.size()) - 1;
        EvUSBBoard* board = boards.at(row);
        remove_row(row);
        delete board;
    }
}

int BoardList::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(boards.size());
}

int BoardList::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant BoardList::headerData(int section, Qt::Orientation orientation, int role) const
{
    // column order of the Column enum
    return table_header({tr("USB Eval Boards"), tr("Chip"), tr("Interface"), tr("Rx Pkt"), tr("Tx Pkt")}, section, orientation, role);
}

QVariant BoardList::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() < 0 || index.row() >= boards.size())
        return QVariant();
    const int column = index.column();
    if (role == Qt::TextAlignmentRole) {
        const Qt::Alignment horizontal = column >= ColRxPackets ? Qt::AlignRight : Qt::AlignLeft;
        return QVariant::fromValue(Qt::Alignment(horizontal | Qt::AlignVCenter));
    }
    if (role != Qt::DisplayRole)
        return QVariant();
    const EvUSBBoard* board = boards.at(index.row());
    const KORVIK::USBDevice* dev = board ? board->get_device() : nullptr;
    if (!dev)
        return QVariant();
    switch (column) {
    case ColName: return QString::fromStdString(dev->get_display_name());
    case ColChip: return QString::fromStdString(dev->get_chip_name());
    case ColInterface: return QString::fromStdString(dev->get_interface());
    case ColRxPackets: return dev->is_net_up() ? QString::number(dev->get_rx_pkt_count()) : QStringLiteral("--");
    case ColTxPackets: return dev->is_net_up() ? QString::number(dev->get_tx_pkt_count()) : QStringLiteral("--");
    }
    return QVariant();
}

int BoardList::add_board(EvUSBBoard* board)
{
    if (!board || boards.contains(board))
        return -1;
    int row = 0;
    while (row < boards.size() && sorts_before(boards.at(row), board))
        ++row;
    beginInsertRows(QModelIndex(), row, row);
    boards.insert(row, board);
    endInsertRows();
    // the board tells the list about its counters and its end; it knows no list
    connect(board, &EvUSBBoard::packet_counts_changed, this, [this, board]() { packets_changed(row_of(board)); });
    connect(board, &EvUSBBoard::leaving, this, [this, board]() { remove_row(row_of(board)); });
    return row;
}

void BoardList::remove_row(int row)
{
    if (row < 0 || row >= boards.size())
        return;
    beginRemoveRows(QModelIndex(), row, row);
    disconnect(boards.at(row), nullptr, this, nullptr);
    boards.removeAt(row);
    endRemoveRows();
}

EvUSBBoard* BoardList::find_by_interface(const QString& text) const
{
    return board_at(row_of_interface(text));
}

EvUSBBoard* BoardList::find_by_serial(const QString& text) const
{
    return board_at(row_of_serial(text));
}

int BoardList::row_of_interface(const QString& text) const
{
    const std::string wanted = text.toStdString();
    for (int row = 0; row < boards.size(); ++row)
        if (boards.at(row) && interface_of(boards.at(row)) == wanted)
            return row;
    return -1;
}

int BoardList::row_of_serial(const QString& text) const
{
    const std::string wanted = text.toStdString();
    for (int row = 0; row < boards.size(); ++row)
        if (boards.at(row) && serial_of(boards.at(row)) == wanted)
            return row;
    return -1;
}

int BoardList::row_of(const EvUSBBoard* board) const
{
    if (!board)
        return -1;
    return int(boards.indexOf(const_cast<EvUSBBoard*>(board)));
}

EvUSBBoard* BoardList::board_at(int row) const
{
    return row >= 0 && row < boards.size() ? boards.at(row) : nullptr;
}

void BoardList::packets_changed(int row)
{
    if (row < 0 || row >= boards.size())
        return;
    if (counts_timer.isActive()) {
        counts_pending.insert(boards.at(row));
        return;
    }
    Q_EMIT dataChanged(index(row, ColRxPackets), index(row, ColTxPackets));
    counts_timer.start();
}

void BoardList::flush_packet_counts()
{
    const QSet<EvUSBBoard*> pending = std::exchange(counts_pending, {});
    for (EvUSBBoard* board : pending)
        if (const int row = row_of(board); row >= 0)
            Q_EMIT dataChanged(index(row, ColRxPackets), index(row, ColTxPackets));
}
