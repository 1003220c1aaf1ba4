// The class interface's captures and replayed boards.

#include <korvik/USBDevice.h>

#include <memory>
#include <set>
#include <stdexcept>
#include <utility>
#include <vector>

#include "registry/Library.h"
#include "board/ReplayBoard.h"
#include "model/GreyfinModel.h"
#include "model/common/Diagnostics.h"
#include "transport/Capture.h"

namespace KORVIK {

namespace {

/// The operating addresses each chip's model reads when its board is found.
std::vector<std::pair<std::string, std::set<uint16_t>>> chip_read_addresses()
{
    std::vector<std::pair<std::string, std::set<uint16_t>>> chips;
    for (const ChipTableEntry& row : chip_table()) {
        if (!row.model_factory)
            continue;
        std::unique_ptr<GreyfinModel> model(row.model_factory(nullptr));
        if (!model)
            continue;
        std::set<uint16_t> addresses;
        for (unsigned i = 0; i < model->get_registers(); ++i)
            addresses.insert(model->get_register_operatingaddr(i));
        chips.emplace_back(row.name, std::move(addresses));
    }
    return chips;
}

std::string mac_text(const std::vector<uint8_t>& mac)
{
    char buf[24];
    std::snprintf(buf, sizeof buf, "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    return buf;
}

} // namespace

bool USBDevice::start_capture(const std::string& file, bool append, const std::string& board)
{
    CaptureOptions options;
    options.append = append;
    options.board = board;
    std::string error;
    if (KORVIK::start_capture(file, options, error))
        return true;
    diag() << "USBDevice::start_capture: " << error << std::endl;
    return false;
}

void USBDevice::stop_capture()
{
    KORVIK::stop_capture();
}

bool USBDevice::is_capturing()
{
    return KORVIK::is_capturing();
}

unsigned long long USBDevice::get_captured_frames()
{
    return KORVIK::get_captured_frames();
}

USBDevice* USBDevice::open_replay(const std::string& file)
{
    RecordingBuilder builder;
    std::string error;
    if (!read_capture_file(file, builder, error))
        throw std::runtime_error(error);
    const Recording& r = builder.get();
    if (r.skipped)
        diag() << "replay: " << file << ": " << r.skipped << " of " << r.frames
               << " frames skipped (not of the board protocol, or broken)" << std::endl;
    if (r.board_macs.empty())
        throw std::runtime_error(file + ": holds no frames of a board");
    if (r.board_macs.size() > 1) {
        std::string macs;
        for (const auto& m : r.board_macs)
            macs += (macs.empty() ? "" : ", ") + mac_text(m);
        throw std::runtime_error(file + ": holds frames of " + std::to_string(r.board_macs.size()) + " boards (" +
                                 macs + "); capture one board per file (korvik capture BOARD, or %i in KORVIK_CAPTURE)");
    }
    const std::string chip = infer_chip(r.read_addresses, chip_read_addresses());
    if (chip.empty())
        throw std::runtime_error(file + ": the chip is unknown: the capture does not hold the register reads of a "
                                        "board being opened");
    Library* library = Library::instance();
    if (!library)
        return nullptr;
    std::string interface = library->next_sim_interface();
    while (library->find_interface(interface) != library->end())
        interface = library->next_sim_interface();
    Recording recording = r;
    if (recording.serial.empty()) {
        recording.serial = "0000000";
        diag() << "replay: " << file << ": no identification answer; serial " << recording.serial << std::endl;
    }
    EvUSBBoard* board = new ReplayBoard(library, recording, chip, interface, recording.serial + " (replay)");
    USBDevice* handle = new USBDevice(board);
    library->add_board(board);
    return handle;
}

} // namespace KORVIK
