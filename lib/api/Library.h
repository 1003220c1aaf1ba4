#pragma once

#include <list>
#include <map>
#include <string>

#include <sigc++/sigc++.h>

#include "model/GreyfinModel.h"

namespace KORVIK {

class EvUSBBoard;

/// Registry of present boards, keyed by interface name (byte-wise ascending).
class Library : public sigc::trackable {
public:
    using BoardMap = std::map<std::string, EvUSBBoard*>;

    Library();
    virtual ~Library();

    virtual void scan_begin() {}
    virtual void scan() {}
    virtual void scan_end() {}

    void add_board(EvUSBBoard* board);
    void remove_board(BoardMap::iterator entry);
    BoardMap::iterator find_board(EvUSBBoard* board);
    BoardMap::iterator find_interface(const std::string& interface);
    BoardMap::iterator find_board_by_serial(const std::string& serial);
    BoardMap::iterator end() { return boards.end(); }
    const BoardMap& get_boards() const { return boards; }

    /// Next simulated interface name ("sim0", "sim1", ...); numbers never repeat.
    std::string next_sim_interface();

    sigc::signal<void(const std::string&, const std::string&)> signal_device_connect;
    sigc::signal<void(const std::string&, const std::string&)> signal_device_disconnect;

    /// The process-wide instance, created (as a WindowsLibrary, which scans at
    /// once) on first use; null when it cannot be created.
    static Library* instance();

protected:
    BoardMap boards;
    uint32_t sim_counter = 0;
};

/// One row of the chip table.
struct ChipTableEntry {
    const char* name;
    ModelFactory model_factory;
    /// Direct SPI board factory (RC1300 only), null elsewhere.
    EvUSBBoard* (*spi_board_factory)(Library* library, void* adapter);
};

/// The supported chips, in table order: RC1200, RC1400, RC1100, RC1300.
const std::list<ChipTableEntry>& chip_table();

/// Creates the model for `chip` (with the "EV" to "RC" rule) and attaches it
/// to the board; throws std::runtime_error "invalid Chip Model Name: <name>".
void create_chip_model(EvUSBBoard* board, const std::string& chip);

} // namespace KORVIK
