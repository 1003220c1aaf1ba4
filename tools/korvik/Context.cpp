#include "Context.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <list>
#include <vector>

#include <poll.h>
#include <unistd.h>

#include <korvik/USBDevice.h>

#include "SettingsFiles.h"

namespace korvik_cli {

using KORVIK::USBDevice;

namespace {

// the defaults the graphical program gives a board made from a file without identity
const char* const SIM_SERIAL = "0123456";
const char* const SIM_ETHMAC = "40:00:12:34:56:00";
const unsigned char SIM_RADIOMAC[6] = {0x40, 0x00, 0x12, 0x34, 0x56, 0x01};

std::atomic<bool> stop_requested{false};

void on_signal(int)
{
    stop_requested = true;
}

std::string supported_chips()
{
    std::string out;
    for (const std::string& c : USBDevice::get_supported_chips())
        out += (out.empty() ? "" : ", ") + c;
    return out;
}

// A fresh simulated board holds zeros; give it the chip's defaults and an
// identity, as the graphical program does for a new simulated chip.
Device new_simulation(const std::string& serial, const std::string& chip)
{
    Device d;
    try {
        d.reset(USBDevice::open_simulation(serial, serial + " (sim " + chip + ")", chip, SIM_ETHMAC));
    } catch (const std::exception&) {
        throw Failure("unknown chip '" + chip + "'; supported: " + supported_chips());
    }
    if (!d)
        throw Failure("cannot open a simulated " + chip);
    d->load_chipdefaults();
    unsigned char mac[6] = {0x40, 0x00, 0x12, 0x34, 0x56, 0x00};
    d->set_nv_ethmac(mac);
    d->set_nv_radio_ethmac(SIM_RADIOMAC);
    // scratch boards of a comparison must not differ by their names
    d->set_nv_serial(SIM_SERIAL);
    d->commit_registers();
    d->store_boarddefaults();
    return d;
}

} // namespace

Device open_board(const std::string& board)
{
    if (board.rfind("sim:", 0) == 0) {
        const std::string rest = board.substr(4);
        if (rest.rfind("replay:", 0) == 0) {
            const std::string file = rest.substr(7);
            if (file.empty())
                throw UsageError("'" + board + "': the capture file name is missing after sim:replay:");
            Device d;
            try {
                d.reset(USBDevice::open_replay(file));
            } catch (const std::exception& e) {
                throw Failure(std::string("cannot replay ") + e.what());
            }
            if (!d)
                throw Failure("cannot replay " + file);
            return d;
        }
        const auto colon = rest.find(':');
        const std::string chip = rest.substr(0, colon);
        if (chip.empty())
            throw UsageError("'" + board + "': write sim:CHIP or sim:CHIP:FILE with a chip of " + supported_chips());
        if (colon == std::string::npos) {
            // each sim:CHIP of one command is a board of its own (per needs two)
            static unsigned opened = 0;
            char serial[16];
            std::snprintf(serial, sizeof serial, "%07lu", std::stoul(SIM_SERIAL) + opened++);
            return new_simulation(serial, chip);
        }
        const std::string file = rest.substr(colon + 1);
        if (file.empty())
            throw UsageError("'" + board + "': the settings file name is missing after sim:" + chip + ":");
        return simulate_from_file(chip, file);
    }
    Device d(USBDevice::open_iface(board));
    if (!d)
        d.reset(USBDevice::open(board));
    if (!d)
        throw Failure("board '" + board + "' not found: give a serial number or interface name that `korvik list` shows, "
                      "or sim:CHIP for a simulated board");
    if (d->is_dead())
        throw Failure("board '" + board + "' does not answer");
    return d;
}

Device open_scratch_board(const std::string& chip)
{
    // open_simulation hands out an existing board of the same serial, so take a new one
    for (unsigned n = 1;; ++n) {
        const std::string serial = "scratch" + std::to_string(n);
        Device existing(USBDevice::open(serial));
        if (!existing)
            return new_simulation(serial, chip);
    }
}

bool run_loop(std::chrono::milliseconds limit, const std::function<bool()>& done)
{
    static bool handlers = false;
    if (!handlers) {
        std::signal(SIGINT, on_signal);
        std::signal(SIGTERM, on_signal);
        handlers = true;
    }
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        USBDevice::periodic();
        if (done && done())
            return true;
        const auto now = std::chrono::steady_clock::now();
        if (now >= end || stop_requested)
            return false;
        std::vector<void*> handles;
        const int timeout = USBDevice::get_poll_handles(handles);
        std::vector<struct pollfd> fds;
        for (void* h : handles)
            fds.push_back({int(reinterpret_cast<intptr_t>(h)), POLLIN, 0});
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - now).count() + 1;
        // a signal interrupts poll; the short cap keeps the check for it quick anyway
        const long wait = std::min<long>({timeout < 0 ? long(left) : long(timeout), long(left), 100L});
        poll(fds.data(), fds.size(), int(wait));
    }
}

bool interrupted()
{
    return stop_requested;
}

Progress::Progress(const Options& options, const std::string& text)
    : shown(!options.json && isatty(STDERR_FILENO))
{
    if (shown)
        messages() << text << "..." << std::flush;
}

Progress::~Progress()
{
    // the line is wiped, so that what follows starts on a clean line
    if (shown)
        messages() << "\r\033[K" << std::flush;
}

std::ostream& messages()
{
    // bound to the standard error buffer before route_diagnostics can take it away
    static std::ostream stream(std::cerr.rdbuf());
    return stream;
}

void route_diagnostics(bool verbose)
{
    messages();
    route_program_diagnostics(verbose);
    if (verbose) {
        KORVIK::USBDevice::set_diagnostic_sink([](const std::string& line) { messages() << line << '\n'; });
        return;
    }
    KORVIK::USBDevice::set_diagnostic_sink([](const std::string&) {});
    struct Discard : std::streambuf {
        int overflow(int c) override { return traits_type::not_eof(c); }
    };
    // never destroyed: the standard streams are flushed after static objects are gone
    static std::streambuf* const silent = new Discard;
    std::cerr.rdbuf(silent);
}

void print_json(const Json& document)
{
    std::cout << document.dump(2) << std::endl;
}

Json board_identity(const USBDevice& d)
{
    Json j;
    j["serial"] = d.get_serial();
    j["interface"] = d.get_interface();
    j["display_name"] = d.get_display_name();
    j["chip"] = d.get_chip_name();
    j["simulated"] = (d.get_boardflags() & 1) != 0;
    j["alive"] = !d.is_dead();
    j["rx_packets"] = d.get_rx_pkt_count();
    j["tx_packets"] = d.get_tx_pkt_count();
    return j;
}

CommitResult tracked_commit(USBDevice& device, const std::function<void()>& commit)
{
    CommitResult result;
    bool reprogramming = false;
    std::list<sigc::connection> connections;
    connections.push_back(device.notify_changed_register([&](unsigned index, unsigned char, unsigned char) {
        // the signal follows the write: a board that is dead now did not take it
        if (device.is_dead()) {
            result.board_failed = true;
            result.not_reached.push_back(index);
        } else {
            result.reached.push_back(index);
        }
    }));
    // these changes make the board retune its synthesizer after the commit
    auto retune = [&] { reprogramming = true; };
    connections.push_back(device.notify_changed_rx_carrierfrequency(retune));
    connections.push_back(device.notify_changed_tx_carrierfrequency(retune));
    connections.push_back(device.notify_changed_rx_modulation(retune));
    connections.push_back(device.notify_changed_tx_modulation(retune));
    bool finished = false;
    connections.push_back(device.notify_terminate_autoranging([&](int, int) { finished = true; }));
    try {
        commit();
    } catch (...) {
        for (sigc::connection& c : connections)
            c.disconnect();
        throw;
    }
    if (device.is_dead())
        result.board_failed = true;
    const bool simulated = device.get_boardflags() & 1;
    if (reprogramming && !simulated && !result.board_failed && !finished) {
        // two jobs of at most 2 s each, advanced by the board's status reports
        if (!run_loop(std::chrono::milliseconds(6000), [&] { return finished || device.is_dead(); }) &&
            !interrupted())
            messages() << "korvik: warning: the board did not finish retuning within 6 s (no status reports?)"
                      << std::endl;
    }
    for (sigc::connection& c : connections)
        c.disconnect();
    return result;
}

std::string register_names(const USBDevice& device, const std::vector<unsigned>& indices)
{
    std::string out;
    for (unsigned i : indices)
        out += (out.empty() ? "" : ", ") + device.get_register_name(i);
    return out.empty() ? "none" : out;
}

} // namespace korvik_cli
