#pragma once

// Packet error rate, RSSI and bit errors against one swept variable (transmit
// power, path loss, carrier offset or bitrate), and the search for the value
// at which the packet error rate crosses a target. No widget and no loop of
// its own: the caller pumps the library and calls poll() when asked, as with
// PacketTest. Shared by `korvik sweep` and paramcalc's Sweep page.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <sigc++/sigc++.h>

namespace KORVIK {
class USBDevice;
}

enum class SweepVariable { POWER, PATH_LOSS, OFFSET, BITRATE };

/// "power", "path_loss", "offset", "bitrate".
const char* sweep_variable_name(SweepVariable v);
/// SI unit of the variable: "dBm", "dB", "Hz", "bit/s".
const char* sweep_variable_unit(SweepVariable v);

/// The 2^9 - 1 bit pseudo-random sequence (x^9 + x^5 + 1, all ones at the
/// start, least significant bit first), `len` bytes of it.
std::vector<uint8_t> pn9(unsigned len);

/// Two-sided 95 % confidence interval of a binomial proportion k / n (Wilson score).
struct Proportion {
    double low = 0, high = 1;
};
Proportion wilson_interval(unsigned k, unsigned n, double z = 1.96);

struct SweepPoint {
    double value = 0;         ///< the variable as asked
    double actual = 0;        ///< what the board holds after its quantisation (= value for path loss)
    unsigned sent = 0;
    unsigned received = 0;    ///< packets of the run that arrived, intact or not
    unsigned intact = 0;      ///< arrived without a bit error
    double per = 0;           ///< 1 - intact / sent; NaN before anything was sent
    Proportion per_interval;  ///< 95 % interval of the packet error rate
    double rssi_mean = 0;     ///< dBm over the packets that arrived; NaN without any
    uint64_t bit_errors = 0;  ///< over the PN9 part of the packets that arrived
    uint64_t bits = 0;        ///< PN9 bits compared
    double ber = 0;           ///< bit_errors / bits; NaN without bits
    std::vector<unsigned> packet_bit_errors; ///< per arrived packet, in arrival order
};

/// CSV header and one row per point.
std::string sweep_csv_header();
std::string sweep_csv_row(SweepVariable v, const SweepPoint& p);

class Sweep {
public:
    struct Settings {
        SweepVariable variable = SweepVariable::POWER;
        double start = 0, stop = 0, step = 1;
        unsigned count = 100;       ///< packets per point (per batch when searching)
        unsigned length = 32;       ///< data bytes per packet, at least 8
        double interval = -1;       ///< seconds between packets on boards; < 0: from the air time
        double grace = 0.5;         ///< seconds to wait for late packets on boards
        bool find = false;          ///< search the PER target instead of stepping
        double target_per = 0.01;
        unsigned max_packets = 20000; ///< per searched point before it counts as on the target
    };

    /// Remembers the swept setting, to be restored when the sweep ends.
    /// Throws std::runtime_error when the variable cannot be swept on these
    /// boards (path loss off the virtual air, a step of 0 or the wrong sign).
    Sweep(KORVIK::USBDevice& tx, KORVIK::USBDevice& rx, const Settings& settings);
    ~Sweep();
    Sweep(const Sweep&) = delete;
    Sweep& operator=(const Sweep&) = delete;

    /// Does what is due; milliseconds until it wants to be called again, or -1 when done.
    int poll();
    /// Ends now; the setting is restored.
    void stop();
    bool finished() const { return done; }
    /// Why it ended early; "" when it ran to its end or was stopped.
    const std::string& error() const { return error_; }
    const Settings& settings() const { return settings_; }
    /// Every measured point in the order measured.
    const std::vector<SweepPoint>& points() const { return points_; }
    /// Packets sent so far for the point being measured (0 between points), for progress.
    unsigned current_sent() const;
    /// True on the virtual air: packets are sent at once and counted when the air is quiet.
    bool on_virtual_air() const { return on_air; }

    /// The search's result once finished: the value where the PER crosses
    /// the target and the interval it lies in (the closest values measured
    /// significantly below and above the target). found is false when the
    /// target is not between the PERs at start and stop.
    struct Found {
        bool found = false;
        double value = 0, low = 0, high = 0;
    };
    const Found& found() const { return found_; }

    /// A point is complete.
    sigc::signal<void(const SweepPoint&)> signal_point;

private:
    class Point;
    void apply(double value);
    void restore();
    double actual() const;
    void fail(const std::string& text);
    bool next_point();
    /// After a searched batch: -1 below the target, +1 above, 0 not yet decided.
    int side(const SweepPoint& p) const;

    KORVIK::USBDevice& tx;
    KORVIK::USBDevice& rx;
    Settings settings_;
    bool on_air = false;
    double saved_tx = 0, saved_rx = 0;
    bool changed = false;
    std::vector<SweepPoint> points_;
    std::unique_ptr<Point> current;
    unsigned step_index = 0;
    // search state: the bracket [lo, hi] in the variable and what lies there
    int phase = 0;
    double lo = 0, hi = 0;
    int lo_side = 0, hi_side = 0;
    Found found_;
    bool done = false;
    std::string error_;
    uint16_t run;
};
