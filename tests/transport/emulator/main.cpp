// korvik-board-emu IFACE SERIAL [STATUS_MS]: plays one board on IFACE (the
// far end of a veth pair whose near end the library scans) until killed.
// Frames carry the near end's MAC, read from sysfs through IFACE's peer name
// convention "<near>p"; give the near end's name in KORVIK_EMU_HOST to override.

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "VethEmulator.h"

namespace {
volatile std::sig_atomic_t stop_requested = 0;
void on_signal(int) { stop_requested = 1; }
} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s IFACE SERIAL [STATUS_MS]\n", argv[0]);
        return 2;
    }
    std::string iface = argv[1];
    const char* host_env = std::getenv("KORVIK_EMU_HOST");
    std::string host = host_env ? host_env : iface.substr(0, iface.size() - 1);
    uint8_t mac[6];
    if (!korvik_emu::read_interface_mac(host, mac)) {
        std::fprintf(stderr, "%s: cannot read the MAC of %s\n", argv[0], host.c_str());
        return 1;
    }
    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);
    try {
        korvik_emu::VethEmulator emu(iface, argv[2], mac);
        if (argc > 3)
            emu.set_status_interval(std::chrono::milliseconds(std::atoi(argv[3])));
        while (!stop_requested)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", argv[0], e.what());
        return 1;
    }
    return 0;
}
