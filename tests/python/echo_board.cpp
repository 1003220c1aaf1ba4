// korvik-echo-board IFACE SERIAL: plays one board on IFACE (the far end of a
// veth pair "<near>p") that reports its status every 10 ms and hands every
// packet sent to it back to the host as a radio receive record (frequency
// offset -10, RSSI -60), so a test sees packets go both ways. Prints "ready"
// once it listens; runs until SIGTERM or SIGINT.

#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "VethEmulator.h"

namespace {
volatile std::sig_atomic_t stop_requested = 0;
void on_signal(int) { stop_requested = 1; }
} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s IFACE SERIAL\n", argv[0]);
        return 2;
    }
    std::string iface = argv[1];
    uint8_t mac[6];
    if (!korvik_emu::read_interface_mac(iface.substr(0, iface.size() - 1), mac)) {
        std::fprintf(stderr, "%s: cannot read the MAC of the near end of %s\n", argv[0], iface.c_str());
        return 1;
    }
    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);
    try {
        korvik_emu::VethEmulator emu(iface, argv[2], mac);
        emu.set_status_interval(std::chrono::milliseconds(10));
        // the caller shows the board to the host only once it can answer
        std::printf("ready\n");
        std::fflush(stdout);
        while (!stop_requested) {
            std::vector<korvik_emu::Frame> echoes;
            emu.with_firmware([&](korvik_emu::BoardFirmware& f) {
                for (const auto& p : f.net_packets)
                    echoes.push_back(f.radio_record_frame(-10, -60, p));
                f.net_packets.clear();
                f.net_destinations.clear();
            });
            for (const auto& e : echoes)
                emu.send(e);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s: %s\n", argv[0], e.what());
        return 1;
    }
    return 0;
}
