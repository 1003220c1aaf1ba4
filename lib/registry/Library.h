#pragma once

#include <cstdint>
#include <list>
#include <map>
#include <string>

#include <sigc++/sigc++.h>

#include "board/BoardRegistry.h"
#include "model/GreyfinModel.h"

namespace KORVIK {

class DirectSPI;
class EvUSBBoard;

/// Registry of present boards, keyed by interface name (byte-wise ascending).
/// Each entry holds one reference to its board. All operations run on the
/// thread that drives the library's main context; nothing here is locked.
class Library : public sigc::trackable, public BoardRegistry {
public:
    using BoardMap = std::map<std::string, EvUSBBoard*>;
    using DeviceSlot = sigc::slot<void(const std::string&, const std::string&)>;

    Library();
    /// Removes every board (each one gets its disconnect signal).
    virtual ~Library();

    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    /// Discovery hooks, run in this order by a rescan; empty here.
    virtual void scan_begin() {}
    virtual void scan() {}
    virtual void scan_end() {}

    /// Registers the board under its interface name and takes a reference,
    /// unless that name is taken already (then nothing happens). Null is ignored.
    void add_board(EvUSBBoard* board);
    /// Emits the disconnect signal, drops the registry's reference and erases
    /// the entry. end() is ignored.
    void remove_board(BoardMap::iterator entry);
    /// The entry of this very board; end() (with a diagnostic line) when the
    /// board is not registered.
    BoardMap::iterator find_board(EvUSBBoard* board);
    /// remove_board(find_board(board)).
    void release_board(EvUSBBoard* board) override;
    /// The entry registered under this interface name, or end().
    BoardMap::iterator find_interface(const std::string& interface);
    /// The first entry (ascending interface name) whose serial matches, or end().
    BoardMap::iterator find_board_by_serial(const std::string& serial);
    BoardMap::iterator end() { return boards.end(); }
    const BoardMap& get_boards() const { return boards; }

    /// Adapters of boards that another process holds, with who holds them
    /// ("in use by PID 123 (korvik)"), as the last scan found them.
    virtual std::map<std::string, std::string> get_busy_adapters() const { return {}; }

    /// Closes every real board that only the registry holds (no handle), so
    /// that other programs can have them; a rescan finds them again.
    /// Returns the interfaces let go of.
    virtual std::list<std::string> release_unopened_boards();

    /// Next simulated interface name ("sim0", "sim1", ...); numbers never repeat.
    std::string next_sim_interface();

    /// Calls the slot for every registered board in ascending interface order
    /// (unless it is empty or blocked), then connects it to signal_device_connect.
    sigc::connection notify_device_connect(const DeviceSlot& slot);
    /// Connects the slot to signal_device_disconnect (no replay).
    sigc::connection notify_device_disconnect(const DeviceSlot& slot);

    /// (interface, serial) of a board that entered the registry.
    sigc::signal<void(const std::string&, const std::string&)> signal_device_connect;
    /// (interface, serial) of a board that is leaving the registry; the entry
    /// is still present while the slots run.
    sigc::signal<void(const std::string&, const std::string&)> signal_device_disconnect;

    /// The process-wide instance, created (as a WindowsLibrary, which scans at
    /// once) on first use and never destroyed; null when it cannot be created.
    /// Defined at the top of the library, the only part that knows discovery.
    static Library* instance();
    /// The instance if it was created, else null; never creates it (a
    /// handle closing or a release must not start a scan of every adapter).
    static Library* existing_instance();

protected:
    BoardMap boards;
    uint32_t sim_counter = 0;
};

/// One row of the chip table.
struct ChipTableEntry {
    const char* name;
    /// Creates the chip's register model; null while the chip is not modelled
    /// (its boards then have no model).
    ModelFactory model_factory;
    /// Direct SPI board factory (RC1300 only), null elsewhere: a started
    /// board that owns `adapter`; throws when the board does not answer.
    EvUSBBoard* (*spi_board_factory)(BoardRegistry* registry, const std::string& serial, const std::string& interface,
                                     const std::string& display_name, const std::string& mac, DirectSPI* adapter);
};

/// The supported chips, in table order: RC1200, RC1400, RC1100, RC1300.
const std::list<ChipTableEntry>& chip_table();

/// Creates the model for `chip` (exact name; a leading "EV" is read as "RC")
/// and attaches it to the board; throws std::runtime_error
/// "invalid Chip Model Name: <name>" for a name that is not in the table.
void create_chip_model(EvUSBBoard* board, const std::string& chip);

} // namespace KORVIK
