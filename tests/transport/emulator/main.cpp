// korvik-board-emu [OPTIONS] IFACE SERIAL [IFACE SERIAL ...] [STATUS_MS]:
// plays one board on each IFACE (the far end of a veth pair whose near end
// the library scans) until killed. With two or more boards, packets that the
// host sends to one board reach the others as radio receive records.
// Frames carry the near end's MAC, read from sysfs through IFACE's peer name
// convention "<near>p"; with one board, KORVIK_EMU_HOST names the near end.
//
// Options: --rssi DBM (-60), --offset RAW (0), --loss PROBABILITY (0),
// --seed N (1): what the receiving boards report and how often they miss.
// --link-loss P, --link-reorder P, --link-duplicate P (0): what the link
// does to the frames the boards send their host (LinkFaults).

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "EmulatedAir.h"
#include "VethEmulator.h"

namespace {
volatile std::sig_atomic_t stop_requested = 0;
void on_signal(int) { stop_requested = 1; }

int usage(const char* prog)
{
    std::fprintf(stderr,
                 "usage: %s [--rssi DBM] [--offset RAW] [--loss P] [--seed N] [--link-loss P] [--link-reorder P] "
                 "[--link-duplicate P] IFACE SERIAL [IFACE SERIAL ...] "
                 "[STATUS_MS]\n",
                 prog);
    return 2;
}
} // namespace

int main(int argc, char** argv)
{
    korvik_emu::AirSettings air_settings;
    korvik_emu::LinkFaults link_faults;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool has_value = i + 1 < argc;
        if (a == "--rssi" && has_value)
            air_settings.rssi = int8_t(std::atoi(argv[++i]));
        else if (a == "--offset" && has_value)
            air_settings.frequency_offset = int16_t(std::atoi(argv[++i]));
        else if (a == "--loss" && has_value)
            air_settings.loss = std::atof(argv[++i]);
        else if (a == "--seed" && has_value)
            link_faults.seed = air_settings.seed = std::strtoull(argv[++i], nullptr, 10);
        else if (a == "--link-loss" && has_value)
            link_faults.loss = std::atof(argv[++i]);
        else if (a == "--link-reorder" && has_value)
            link_faults.reorder = std::atof(argv[++i]);
        else if (a == "--link-duplicate" && has_value)
            link_faults.duplicate = std::atof(argv[++i]);
        else if (a.size() > 1 && a[0] == '-')
            return usage(argv[0]);
        else
            args.push_back(a);
    }
    if (args.size() < 2)
        return usage(argv[0]);
    int status_ms = 0;
    if (args.size() % 2 == 1) {
        status_ms = std::atoi(args.back().c_str());
        args.pop_back();
    }
    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);
    korvik_emu::EmulatedAir air(air_settings);
    std::vector<std::unique_ptr<korvik_emu::VethEmulator>> boards;
    try {
        const char* host_env = std::getenv("KORVIK_EMU_HOST");
        for (size_t i = 0; i < args.size(); i += 2) {
            const std::string& iface = args[i];
            std::string host = host_env && args.size() == 2 ? host_env : iface.substr(0, iface.size() - 1);
            uint8_t mac[6];
            if (!korvik_emu::read_interface_mac(host, mac)) {
                std::fprintf(stderr, "%s: cannot read the MAC of %s\n", argv[0], host.c_str());
                return 1;
            }
            boards.push_back(std::make_unique<korvik_emu::VethEmulator>(iface, args[i + 1], mac));
            if (status_ms > 0)
                boards.back()->set_status_interval(std::chrono::milliseconds(status_ms));
            boards.back()->set_air(&air);
            korvik_emu::LinkFaults faults = link_faults;
            faults.seed += i; // each board's link draws its own faults
            boards.back()->set_link_faults(faults);
        }
        while (!stop_requested)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", argv[0], e.what());
        return 1;
    }
    boards.clear();
    return 0;
}
