#pragma once

// Plays BoardFirmware on one network interface (the far end of a veth pair)
// from a thread of its own, through an AF_PACKET socket.

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "BoardFirmware.h"

namespace korvik_emu {

class EmulatedAir;

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
    void stop();

private:
    void run();

    int fd = -1;
    int ifindex = 0;
    std::mutex mutex;
    BoardFirmware firmware;
    std::chrono::milliseconds status_interval{0};
    std::atomic<bool> stopping{false};
    std::atomic<EmulatedAir*> air{nullptr};
    std::thread thread;
};

/// MAC address of an interface from sysfs; false when unknown.
bool read_interface_mac(const std::string& interface, uint8_t mac[6]);

} // namespace korvik_emu
