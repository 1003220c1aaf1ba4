#include "registry/Library.h"

#include <iostream>
#include <stdexcept>

#include "board/EvUSBBoard.h"
#include "board/RC1300SPIBoard.h"
#include "model/ChipModels.h"
#include "model/common/Diagnostics.h"

namespace KORVIK {

Library::Library() = default;

Library::~Library()
{
    // every board gets its disconnect signal and loses the registry's reference
    while (!boards.empty())
        remove_board(boards.begin());
}

void Library::add_board(EvUSBBoard* board)
{
    if (!board)
        return;
    const std::string interface = board->get_interface();
    const std::string serial = board->get_serial();
    if (!boards.emplace(interface, board).second) {
        diag() << "Cannot add board serial " << serial << " interface " << interface << std::endl;
        return;
    }
    diag() << "Adding board serial " << serial << " interface " << interface
              << " new size " << boards.size() << std::endl;
    board->reference();
    // the entry is in place before the signal, so a slot can open the board
    signal_device_connect.emit(interface, serial);
}

void Library::remove_board(BoardMap::iterator entry)
{
    if (entry == boards.end())
        return;
    // copies: the board may be deleted by the unreference below
    const std::string interface = entry->first;
    EvUSBBoard* board = entry->second;
    const std::string serial = board->get_serial();
    diag() << "Deleting board " << interface << "/" << serial << " size " << boards.size() << std::endl;
    signal_device_disconnect.emit(interface, serial);
    // a disconnect slot may already have removed this very entry (for
    // instance by making the board leave the registry); removing it twice
    // would drop a reference the registry no longer holds
    auto again = boards.find(interface);
    if (again == boards.end() || again->second != board)
        return;
    boards.erase(again);
    board->unreference();
    diag() << "New size " << boards.size() << std::endl;
}

Library::BoardMap::iterator Library::find_board(EvUSBBoard* board)
{
    if (!board)
        return boards.end();
    auto entry = boards.find(board->get_interface());
    // another board registered under the same name is not this one: a
    // rejected duplicate that leaves must not take the registered board along
    if (entry == boards.end() || entry->second != board) {
        diag() << "ERROR: find_board: serial " << board->get_serial() << " interface "
                  << board->get_interface() << " not found!!" << std::endl;
        return boards.end();
    }
    return entry;
}

void Library::release_board(EvUSBBoard* board)
{
    remove_board(find_board(board));
}

Library::BoardMap::iterator Library::find_interface(const std::string& interface)
{
    return boards.find(interface);
}

Library::BoardMap::iterator Library::find_board_by_serial(const std::string& serial)
{
    for (auto entry = boards.begin(); entry != boards.end(); ++entry)
        if (entry->second->get_serial() == serial)
            return entry;
    return boards.end();
}

std::list<std::string> Library::release_unopened_boards()
{
    std::list<std::string> unused;
    for (const auto& entry : boards)
        if (!(entry.second->get_boardflags() & 1) && entry.second->get_refcount() == 1)
            unused.push_back(entry.first);
    // the registry's reference is the last one: removing the entry deletes
    // the board, which closes its adapter and with it the lock
    for (const std::string& interface : unused)
        remove_board(boards.find(interface));
    return unused;
}

std::string Library::next_sim_interface()
{
    return "sim" + std::to_string(sim_counter++);
}

sigc::connection Library::notify_device_connect(const DeviceSlot& slot)
{
    if (!slot.empty() && !slot.blocked()) {
        // copy the keys first: a slot may register or remove boards
        std::list<std::pair<std::string, std::string>> present;
        for (const auto& entry : boards)
            present.emplace_back(entry.first, entry.second->get_serial());
        for (const auto& board : present)
            slot(board.first, board.second);
    }
    return signal_device_connect.connect(slot);
}

sigc::connection Library::notify_device_disconnect(const DeviceSlot& slot)
{
    return signal_device_disconnect.connect(slot);
}

const std::list<ChipTableEntry>& chip_table()
{
    // the chip models in their order; only the RC1300 also comes as a direct SPI board
    static const std::list<ChipTableEntry> table = [] {
        std::list<ChipTableEntry> rows;
        for (const ChipModelEntry& chip : chip_models())
            rows.push_back({chip.name, chip.model_factory,
                            std::string(chip.name) == "RC1300" ? RC1300SPIBoard::create : nullptr});
        return rows;
    }();
    return table;
}

void create_chip_model(EvUSBBoard* board, const std::string& chip)
{
    const ChipModelEntry& row = find_chip_model(chip);
    if (board && row.model_factory)
        board->set_model(row.model_factory(board));
}

} // namespace KORVIK
