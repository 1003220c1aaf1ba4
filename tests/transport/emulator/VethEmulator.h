#pragma once

// Plays BoardFirmware on one network interface (the far end of a veth pair)
// from a thread of its own, through an AF_PACKET socket.

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "BoardFirmware.h"

namespace korvik_emu {

class EmulatedAir;

/// What a faulty link does to the frames a board sends (its replies and
/// status reports), each drawn per frame from a seeded generator.
struct LinkFaults {
    double loss = 0;      ///< a frame never arrives
    double reorder = 0;   ///< a frame arrives after the board's next one
    double duplicate = 0; ///< a frame arrives twice
    unsigned drop_first = 0; ///< the first frames never arrive (an identification answer lost)
    uint64_t seed = 1;
};

class VethEmulator {
public:
    /// Binds to `interface`; the board's frames carry `mac` as source.
    /// Throws std::runtime_error when the socket cannot be set up.
    VethEmulator(const std::string& interface, const std::string& serial, const uint8_t mac[6]);
    ~VethEmulator();

    VethEmulator(const VethEmulator&) = delete;
    VethEmulator& operator=(const VethEmulator&) = delete;

    /// Periodic status reports; 0 switches them off.
    void set_status_interval(std::chrono::milliseconds interval);
    /// Runs f on the firmware under the emulator's lock.
    void with_firmware(const std::function<void(BoardFirmware&)>& f);
    /// Sends a frame as the board.
    void send(const Frame& frame);
    /// Puts the board on an air shared with other emulated boards (null:
    /// none); packets from its host then reach them (EmulatedAir).
    void set_air(EmulatedAir* air);
    /// Makes the link to the host lossy, out of order or doubling.
    void set_link_faults(const LinkFaults& faults);
    void stop();

private:
    void run();
    /// Sends a frame of the board's through the link's faults.
    void send_faulty(const Frame& frame);
    /// Sends the board's frames in as few calls as the socket takes.
    void send_all(const std::vector<Frame>& frames);
    double draw();

    int fd = -1;
    int ifindex = 0;
    std::mutex mutex;
    BoardFirmware firmware;
    std::chrono::milliseconds status_interval{0};
    std::atomic<bool> stopping{false};
    std::atomic<EmulatedAir*> air{nullptr};
    LinkFaults faults;
    uint64_t fault_state = 1;
    Frame held;       ///< a frame kept back to arrive after the next one
    unsigned held_rounds = 0;
    std::thread thread;
};

/// MAC address of an interface from sysfs; false when unknown.
bool read_interface_mac(const std::string& interface, uint8_t mac[6]);

} // namespace korvik_emu
