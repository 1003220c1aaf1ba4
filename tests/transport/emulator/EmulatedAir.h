#pragma once

// Radio between emulated boards: a network packet that the host hands to one
// board is sent by every other attached board to its host as a radio receive
// record, with a settable RSSI, frequency offset and loss probability (seeded,
// so a run can be repeated).
//
// What goes on the air: the host's network packets are BPQ frames, a 2-byte
// little-endian length (data length + 5) and the data; the data is the radio
// payload, so the receiving library rebuilds the very frame that was sent.
// A packet whose length word does not describe it is sent whole.

#include <cstdint>
#include <mutex>
#include <vector>

namespace korvik_emu {

class VethEmulator;

struct AirSettings {
    int8_t rssi = -60;
    int16_t frequency_offset = 0;
    double loss = 0.0; ///< probability that one receiver misses one packet
    uint64_t seed = 1;
};

class EmulatedAir {
public:
    explicit EmulatedAir(const AirSettings& settings = AirSettings());

    void set(const AirSettings& settings);
    AirSettings settings() const;

    void attach(VethEmulator* board);
    void detach(VethEmulator* board);

    /// Called by a board for every network packet from its host.
    void transmit(VethEmulator* from, const std::vector<uint8_t>& packet);

    /// Packets carried and lost since the start, over all receivers.
    unsigned delivered() const;
    unsigned lost() const;

private:
    double draw();

    mutable std::mutex mutex;
    AirSettings current;
    uint64_t state;
    std::vector<VethEmulator*> boards;
    unsigned delivered_count = 0;
    unsigned lost_count = 0;
};

/// The radio payload of a host network packet (see above).
std::vector<uint8_t> radio_payload(const std::vector<uint8_t>& packet);

} // namespace korvik_emu
