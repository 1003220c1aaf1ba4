#pragma once

// What a recorded board said: its identity, NV sector, registers, state and
// channel-access block as the host last saw or set them, and the status
// reports and packets it sent on its own with their times. Built frame by
// frame from a capture; knows frames, not capture files.

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include <korvik/USBDeviceStatus.h>

namespace KORVIK {

struct Recording {
    struct Status {
        double time = 0; ///< seconds since the first frame
        USBDeviceStatus status;
    };
    struct Packet {
        double time = 0;
        std::vector<uint8_t> data; ///< as delivered to listeners
        uint8_t source_mac[6] = {0, 0, 0, 0, 0, 0};
        int16_t rssi = -32768;
        int32_t frequency_offset = 0;
    };

    /// From the identification answer; empty when the capture has none.
    std::string serial;
    /// Source of the board's frames (the host adapter's MAC).
    uint8_t mac[6] = {0, 0, 0, 0, 0, 0};
    bool has_mac = false;

    /// NV words as last read or written; absent words were never seen.
    std::map<uint8_t, uint16_t> flash;
    /// Register bytes by operating address as last written or read.
    std::map<uint16_t, uint8_t> registers;
    /// Addresses the host asked to read (tells which chip it modelled).
    std::set<uint16_t> read_addresses;
    int ethstate = -1;
    int report11 = -1;
    bool has_chacc = false;
    uint8_t chacc[21] = {};

    std::vector<Status> statuses;
    std::vector<Packet> packets;

    /// Frames looked at, and those skipped as not of the board protocol or broken.
    unsigned frames = 0;
    unsigned skipped = 0;
    /// Distinct board MACs seen in frames from boards (more than one: several boards).
    std::set<std::vector<uint8_t>> board_macs;
};

/// Feeds frames of one capture, in order, into a Recording.
class RecordingBuilder {
public:
    /// Largest frame looked at; longer ones are skipped.
    static constexpr unsigned MAX_FRAME = 65535;

    /// `time` in seconds on any clock; the first frame's time is the origin.
    void add_frame(double time, const uint8_t* frame, unsigned len);

    const Recording& get() const { return recording; }
    Recording& get() { return recording; }

private:
    void host_vendor(const uint8_t* packet, unsigned len);
    void board_vendor(double time, const uint8_t* packet, unsigned len, const uint8_t* source);

    Recording recording;
    bool started = false;
    double origin = 0;
    uint8_t flash_address = 0;
    uint8_t flash_state = 0;
    /// Register reads asked for and not answered yet, oldest first.
    std::vector<uint16_t> pending_reads;
};

/// Which of `chips` (name and the operating addresses its model reads) the
/// recorded host modelled: the one whose addresses were all read, with the
/// fewest reads outside its table; empty when none was read in full.
std::string infer_chip(const std::set<uint16_t>& read_addresses,
                       const std::vector<std::pair<std::string, std::set<uint16_t>>>& chips);

} // namespace KORVIK
