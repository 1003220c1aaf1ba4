#pragma once

// A packet error rate and RSSI test between two boards: numbered packets
// from one board, matched by sequence number on the other. No widget and no
// loop of its own: the caller pumps the library and calls poll() when it
// asks to be called. Shared by paramcalc's Packet Test window and
// `korvik per`, so both count and report alike.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <sigc++/sigc++.h>

namespace KORVIK {
class USBDevice;
}

struct PacketRecord {
    unsigned sequence = 0;
    double send_time = -1;    ///< seconds since the test started; -1 not sent
    double receive_time = -1; ///< when the library delivered it; -1 not received
    double board_time = -1;   ///< when it reached the host from the receiving board; -1 not received
    int rssi = -32768;        ///< dBm; -32768 when the board gave none
    double offset = 0;        ///< Hz
    bool received = false;
};

struct PacketTestSummary {
    unsigned sent = 0;
    unsigned received = 0;
    unsigned corrupted = 0;       ///< arrived with the right number but wrong bytes (counted lost)
    double per = 0;               ///< lost / sent; NaN before anything was sent
    std::vector<std::pair<unsigned, unsigned>> lost_ranges; ///< first and last sequence of each run of losses
    double rssi_min = 0, rssi_mean = 0, rssi_max = 0, rssi_stddev = 0; ///< NaN without an RSSI
    double offset_mean = 0, offset_stddev = 0;                        ///< Hz; NaN without packets
    double throughput = 0;        ///< received data bits per second from the first send to the last reception at the board
};

/// The pure part: packet contents, matching and statistics.
class PacketLog {
public:
    /// Packets of `length` data bytes (at least MIN_LENGTH); `run` tells this
    /// test's packets from any other traffic.
    PacketLog(unsigned count, unsigned length, uint16_t run);

    enum { MIN_LENGTH = 8 };

    std::vector<uint8_t> payload(unsigned sequence) const;
    /// Takes a received packet (a BPQ frame as boards deliver it, or the bare
    /// data); false for other traffic, repeats and numbers out of range.
    /// `board_time` is when the packet reached the host from its board
    /// (negative: unknown, `time` then).
    bool take(const uint8_t* data, unsigned len, double time, int rssi, double offset, unsigned* sequence = nullptr,
              double board_time = -1);
    void mark_sent(unsigned sequence, double time);

    unsigned count() const { return unsigned(records_.size()); }
    unsigned length() const { return length_; }
    unsigned received() const { return received_; }
    const std::vector<PacketRecord>& records() const { return records_; }
    PacketTestSummary summary() const;
    /// One row per packet: sequence, send time, the board's receive time,
    /// delivery time, RSSI, offset, received.
    std::string csv() const;
    /// The same rows under `preamble` (lines as given, "# " comments for
    /// instance) and a header row that names the units.
    std::string csv_with_units(const std::string& preamble) const;

private:
    bool match(const uint8_t* data, unsigned len, unsigned* sequence) const;

    unsigned length_;
    uint16_t run_;
    std::vector<PacketRecord> records_;
    unsigned corrupted_ = 0;
    unsigned received_ = 0;
};

/// "3-7, 12" for the lost ranges of a summary.
std::string format_ranges(const std::vector<std::pair<unsigned, unsigned>>& ranges);

/// Runs a test between two open boards.
class PacketTest {
public:
    struct Settings {
        unsigned count = 100;
        unsigned length = 32;
        double interval = 0.05; ///< seconds between sends
        double grace = 1.0;     ///< seconds to wait for late packets after the last send
    };

    PacketTest(KORVIK::USBDevice& tx, KORVIK::USBDevice& rx, const Settings& settings);
    ~PacketTest();
    PacketTest(const PacketTest&) = delete;
    PacketTest& operator=(const PacketTest&) = delete;

    /// Sends what is due. Returns the milliseconds until it wants to be
    /// called again, or -1 once the test has ended.
    int poll();
    /// Ends the test now; packets still on their way count as lost.
    void stop();
    bool finished() const { return done; }
    /// Why the test ended early ("" when it ran to the end or was stopped).
    const std::string& error() const { return error_; }
    unsigned sent() const { return next; }
    const PacketLog& log() const { return log_; }
    /// Packets that went out later than the schedule allows (half an
    /// interval, at least 1 ms). Every delay, reported or not, moves the
    /// rest of the schedule, so packets never leave closer together than
    /// the interval.
    unsigned late_sends() const { return late_; }
    /// The largest of those delays and all of them together, in seconds.
    double max_lateness() const { return max_late_; }
    double schedule_slip() const { return slip_; }

    /// A packet of the test arrived.
    sigc::signal<void(const PacketRecord&)> signal_received;

private:
    double now() const;
    void fail(const std::string& text);

    KORVIK::USBDevice& tx;
    KORVIK::USBDevice& rx;
    Settings settings;
    PacketLog log_;
    int64_t start_us;
    unsigned next = 0;
    unsigned late_ = 0;
    double max_late_ = 0, slip_ = 0;
    double shift_ = 0; ///< every delay so far, reported or not: where the schedule stands
    bool done = false;
    std::string error_;
    sigc::connection receive_connection;
};
