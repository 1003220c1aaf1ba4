#include "Context.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <list>
#include <map>
#include <set>
#include <sstream>
#include <mutex>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <strings.h>
#include <unistd.h>

#include <korvik/BoardHolding.h>
#include <CLI/App.hpp>

#include <korvik/Servers.h>
#include <korvik/USBDevice.h>

#include "SettingsFiles.h"
#include "Suggest.h"
#include "Units.h"

namespace korvik_cli {

using KORVIK::USBDevice;

namespace {

// the defaults the graphical program gives a board made from a file without identity
const char* const SIM_SERIAL = "0123456";
const char* const SIM_ETHMAC = "40:00:12:34:56:00";
const unsigned char SIM_RADIOMAC[6] = {0x40, 0x00, 0x12, 0x34, 0x56, 0x01};

std::atomic<int> stop_signal{0};
bool wait_for_boards = false;
// set once a real board is open: from then on, boards that the library
// finds on its own (plugged in, let go of by another program) are let go
// of again, so that the command holds only what it opened
bool hold_only_opened = false;

// The first signal asks the command to finish the step it is in (a store, a
// retune) and end; a second one ends the program at once.
void on_signal(int sig)
{
    if (stop_signal.exchange(sig) != 0)
        _exit(128 + sig);
}

std::string supported_chips()
{
    std::string out;
    for (const std::string& c : USBDevice::get_supported_chips())
        out += (out.empty() ? "" : ", ") + c;
    return out;
}

// serials of every registered board, read without opening (and so without
// taking) any of them
std::set<std::string> serials_in_use()
{
    std::set<std::string> taken;
    USBDevice::notify_device_connect(sigc::slot<void(const std::string&, const std::string&)>(
                                         [&](const std::string&, const std::string& serial) { taken.insert(serial); }))
        .disconnect();
    return taken;
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
    if (!(d->get_boardflags() & 1))
        throw Failure("serial " + serial + " is a real board's; no simulated " + chip + " was made");
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

// The library hands out the board it has under a serial, real or not: a
// simulation must never ask for one in use, or it would drive that board.
std::string free_serial(const std::string& wanted, unsigned from)
{
    const std::set<std::string> taken = serials_in_use();
    if (!taken.count(wanted))
        return wanted;
    for (unsigned long n = from;; ++n) {
        char serial[16];
        std::snprintf(serial, sizeof serial, "%07lu", n % 10000000ul);
        if (!taken.count(serial))
            return serial;
    }
}

namespace {

// The supported chip of that name in any case; throws Failure naming the nearest.
std::string chip_named(const std::string& name)
{
    std::vector<std::string> chips;
    for (const std::string& c : USBDevice::get_supported_chips()) {
        if (strcasecmp(c.c_str(), name.c_str()) == 0)
            return c;
        chips.push_back(c);
    }
    throw Failure("unknown chip '" + name + "'" + did_you_mean(name, chips) + "; supported: " + supported_chips());
}

} // namespace

Device open_board(const std::string& board)
{
    if (strncasecmp(board.c_str(), "sim:", 4) == 0) {
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
        const std::string chip = rest.substr(0, colon).empty() ? "" : chip_named(rest.substr(0, colon));
        if (chip.empty())
            throw UsageError("'" + board + "': write sim:CHIP or sim:CHIP:FILE with a chip of " + supported_chips());
        if (colon == std::string::npos) {
            // each sim:CHIP of one command is a board of its own (per needs two)
            static unsigned opened = 0;
            char wanted[16];
            std::snprintf(wanted, sizeof wanted, "%07lu", std::stoul(SIM_SERIAL) + opened++);
            const std::string serial = free_serial(wanted, std::stoul(SIM_SERIAL) + 100);
            if (serial != wanted)
                messages() << "korvik: serial " << wanted << " is a connected board's; the simulated " << chip
                           << " is serial " << serial << std::endl;
            return new_simulation(serial, chip);
        }
        const std::string file = rest.substr(colon + 1);
        if (file.empty())
            throw UsageError("'" + board + "': the settings file name is missing after sim:" + chip + ":");
        return simulate_from_file(chip, file);
    }
    auto find = [&board] {
        Device d(USBDevice::open_iface(board));
        if (!d)
            d.reset(USBDevice::open(board));
        return d;
    };
    Device d = find();
    // a board let go of by this command's earlier open, or by another program
    if (!d) {
        USBDevice::rescan_devices();
        d = find();
    }
    while (!d && wait_for_boards && !interrupted()) {
        run_loop(std::chrono::milliseconds(500));
        USBDevice::rescan_devices();
        d = find();
    }
    if (!d) {
        const std::map<std::string, std::string> busy = KORVIK::get_busy_boards();
        auto held = busy.find(board);
        if (held != busy.end())
            throw Failure("board '" + board + "' is " + held->second + " (--wait waits for it)");
        std::string others;
        for (const auto& b : busy)
            others += "; " + b.first + " is " + b.second;
        throw Failure("board '" + board + "' not found: give a serial number or interface name that `korvik list` shows, "
                      "or sim:CHIP for a simulated board" + others);
    }
    // only the boards this command uses stay locked
    KORVIK::release_unopened_boards();
    hold_only_opened = true;
    if (d->is_dead())
        throw Failure("board '" + board + "' does not answer");
    if (KORVIK::is_nv_interrupted(*d))
        messages() << "korvik: warning: board " << d->get_serial()
                   << ": its stored defaults are a store that did not finish and were not taken; "
                      "`korvik defaults " << d->get_serial() << " store` writes them whole" << std::endl;
    return d;
}

Device open_scratch_board(const std::string& chip)
{
    // open_simulation hands out an existing board of the same serial, so take a new one
    const std::set<std::string> taken = serials_in_use();
    for (unsigned n = 1;; ++n) {
        const std::string serial = "scratch" + std::to_string(n);
        if (!taken.count(serial))
            return new_simulation(serial, chip);
    }
}

void set_wait_for_boards(bool on)
{
    wait_for_boards = on;
}

void catch_signals()
{
    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
}

bool run_loop(std::chrono::milliseconds limit, const std::function<bool()>& done, bool until_done)
{
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        USBDevice::periodic();
        if (hold_only_opened)
            KORVIK::release_unopened_boards();
        if (done && done())
            return true;
        const auto now = std::chrono::steady_clock::now();
        if (now >= end || (stop_signal && !until_done))
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
    return stop_signal != 0;
}

int interrupting_signal()
{
    return stop_signal;
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

std::string printable(const std::string& text, bool keep_lines)
{
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        if ((c < 0x20 && !(keep_lines && (c == '\n' || c == '\t'))) || c == 0x7F) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
        } else {
            out += char(c);
        }
    }
    return out;
}

std::ostream& messages()
{
    // bound to the standard error buffer before route_diagnostics can take it away
    static std::ostream stream(std::cerr.rdbuf());
    return stream;
}

namespace {

std::mutex problems_mutex;
std::vector<std::string> problems;

// the lines of the scan that end an adapter's chance of becoming a board
void note_adapter_problem(const std::string& line)
{
    static const char* const markers[] = {"pcap_open: unable to open adapter ", ": cannot open the board: ",
                                          ": no identification answer ", ", not asked again until its link changes"};
    for (const char* m : markers)
        if (line.find(m) != std::string::npos) {
            // the sink may run on a board's own thread
            std::lock_guard<std::mutex> lock(problems_mutex);
            problems.push_back(line);
            return;
        }
}

} // namespace

std::vector<std::string> adapter_problems()
{
    std::lock_guard<std::mutex> lock(problems_mutex);
    return problems;
}

void route_diagnostics(bool verbose)
{
    messages();
    route_program_diagnostics(verbose);
    if (verbose) {
        KORVIK::USBDevice::set_diagnostic_sink([](const std::string& line) {
            note_adapter_problem(line);
            messages() << line << '\n';
        });
        return;
    }
    KORVIK::USBDevice::set_diagnostic_sink([](const std::string& line) { note_adapter_problem(line); });
    struct Discard : std::streambuf {
        int overflow(int c) override { return traits_type::not_eof(c); }
    };
    // never destroyed: the standard streams are flushed after static objects are gone
    static std::streambuf* const silent = new Discard;
    std::cerr.rdbuf(silent);
}

namespace {
bool stdout_closed = false;
}

void guard_standard_output()
{
    // a closed standard output would be taken by the next descriptor the
    // library opens (a socket), and the output would go there unnoticed
    if (fcntl(STDOUT_FILENO, F_GETFD) < 0 && errno == EBADF) {
        stdout_closed = true;
        const int fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
        if (fd >= 0 && fd != STDOUT_FILENO) {
            dup2(fd, STDOUT_FILENO);
            ::close(fd);
        }
    }
}

std::string output_error()
{
    if (stdout_closed)
        return "standard output is closed";
    std::cout.flush();
    errno = 0;
    const bool flushed = std::fflush(stdout) == 0;
    const int error = errno;
    if (flushed && !std::ferror(stdout) && std::cout.good())
        return std::string();
    if (error)
        return std::strerror(error);
    return fcntl(STDOUT_FILENO, F_GETFD) < 0 ? "standard output is closed" : "a write to standard output failed";
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
    j["nv_interrupted"] = KORVIK::is_nv_interrupted(d);
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
        // two jobs of at most 2 s each, advanced by the board's status reports;
        // an interruption waits for them too, or the chip would stay half retuned
        if (!run_loop(std::chrono::milliseconds(6000), [&] { return finished || device.is_dead(); }, true))
            messages() << "korvik: warning: the board did not finish retuning within 6 s (no status reports?)"
                      << std::endl;
    }
    for (sigc::connection& c : connections)
        c.disconnect();
    return result;
}

std::string why_cannot_send(const USBDevice& device)
{
    if (!(device.get_chipflags() & 2))
        return "this chip cannot send (the " + device.get_chip_name() + " only receives)";
    // a server's simulated boards are on the server's air, not on this process's
    if ((device.get_boardflags() & 1) && !USBDevice::is_virtual_air() && !KORVIK::Servers::is_remote(device))
        return "the virtual air is off (give --virtual-air or set KORVIK_VIRTUAL_AIR=1 for simulated boards)";
    return "";
}

std::string why_cannot_receive(const USBDevice& device)
{
    if (!(device.get_chipflags() & 1))
        return "this chip cannot receive (the " + device.get_chip_name() + " only sends)";
    // a server's simulated boards are on the server's air, not on this process's
    if ((device.get_boardflags() & 1) && !USBDevice::is_virtual_air() && !KORVIK::Servers::is_remote(device))
        return "the virtual air is off (give --virtual-air or set KORVIK_VIRTUAL_AIR=1 for simulated boards)";
    return "";
}

void takes_duration(CLI::Option* option, const char* plain)
{
    const std::string unit = plain;
    option->transform(
        [unit](std::string text) {
            try {
                const double seconds = parse_duration(text, unit == "ms" ? 1e-3 : 1.0);
                std::ostringstream out;
                out.precision(15);
                out << (unit == "ms" ? seconds * 1e3 : seconds);
                return out.str();
            } catch (const ValueError& e) {
                throw CLI::ValidationError(e.what());
            }
        },
        "", "DURATION");
    option->type_name("DURATION");
}

std::string register_names(const USBDevice& device, const std::vector<unsigned>& indices)
{
    std::string out;
    for (unsigned i : indices)
        out += (out.empty() ? "" : ", ") + device.get_register_name(i);
    return out.empty() ? "none" : out;
}

} // namespace korvik_cli
