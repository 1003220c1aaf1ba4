#pragma once

#include <cstdint>
#include <map>

#include <glib.h>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <sigc++/sigc++.h>

#include "board/AirLink.h"
#include "board/ChannelAccessParams.h"

namespace KORVIK {

class GreyfinModel;
class SimBoard;

/// The air between the simulated boards of this process (link model in
/// board/AirLink.h). Off by default, so simulated boards have no packet I/O;
/// KORVIK_VIRTUAL_AIR=1 in the environment turns it on at start.
///
/// A packet sent on the air reaches each receiver as a timeout on the
/// library's main context after its air time; a continuous wave makes every
/// other simulated board report the strongest carrier it hears in its status
/// (value1: RSSI in dBm as a signed 16-bit number; flag0: at or above the
/// board's RSSI threshold), now and every 100 ms while a wave is on. With
/// nothing in the air no source is attached, so an idle air costs nothing.
class VirtualAir : public sigc::trackable {
public:
    static VirtualAir& instance();

    void set_enabled(bool on);
    bool is_enabled() const { return enabled; }
    /// Simulated time: packets arrive as fast as the loop is pumped, in the
    /// order and with the times real time would give them (a transmitter
    /// still sends one packet after the other). Off (real time) at start.
    /// Switching drops the packets still in the air.
    void set_fast(bool on);
    bool is_fast() const { return fast; }
    /// The air's clock in microseconds: monotonic time, or in fast mode the
    /// simulated time of the last delivery (of the last transmission's end
    /// once nothing is in the air).
    int64_t clock() const;
    /// Restarts the random stream and redraws every board's crystal error.
    void set_seed(uint64_t seed);
    uint64_t get_seed() const { return seed; }
    void set_path_loss(double db);
    /// Path loss between two boards given by interface name, in both directions.
    void set_path_loss(const std::string& interface_a, const std::string& interface_b, double db);
    double get_path_loss(const std::string& interface_a, const std::string& interface_b) const;

    void attach(SimBoard* board);
    void detach(SimBoard* board);

    /// Puts a packet on the air; 0 when sent, -1 when it cannot be (too long).
    int transmit(SimBoard* from, const uint8_t* data, unsigned len);
    /// A board switched its continuous wave on or off.
    void transmit_cw_changed(SimBoard* board);

    /// Crystal error of a board in ppm, fixed for the seed and its serial.
    double crystal_error_ppm(SimBoard* board) const;
    air::Emission emission_of(SimBoard* board) const;
    air::Reception reception_of(SimBoard* board) const;
    /// Packets still in the air.
    size_t in_flight() const { return queue.size(); }
    /// Packets refused because their sender had a second of air time waiting.
    uint64_t get_refused() const { return refused; }

    /// Each receiver's verdict on each packet sent (before losses), for
    /// checks that the air and the link check agree.
    sigc::signal<void(SimBoard* from, SimBoard* to, air::Verdict)> signal_judged;

    /// Delivers what is due (the dispatch of the loop's due source).
    void deliver_due();

private:
    VirtualAir();

    struct Delivery {
        SimBoard* to;
        std::shared_ptr<const std::vector<uint8_t>> data;
        uint8_t source[6];
        int16_t rssi;
        int32_t frequency_offset;
    };
    using Due = std::pair<int64_t, uint64_t>; // monotonic us, delivery number

    /// A board as the air sees it, computed again only when something it
    /// depends on changed: working out a board's emission or reception from
    /// its registers costs more than everything else a packet needs.
    struct Station {
        SimBoard* board = nullptr;
        const GreyfinModel* rx_model = nullptr; ///< the model `rx` was taken from
        const GreyfinModel* tx_model = nullptr;
        uint64_t rx_revision = ~uint64_t(0); ///< model revision `rx` was taken at
        uint64_t tx_revision = ~uint64_t(0);
        uint64_t tx_seed = 0;
        bool rx_cw = false;
        ChannelAccessParams rx_chacc;
        air::Reception rx;
        air::Emission tx;
        double offset_unit = 0; ///< Hz per raw frequency-offset step
    };
    Station* station_of(SimBoard* board);
    const air::Reception& cached_reception(Station& s);
    const air::Emission& cached_emission(Station& s);

    /// Schedules the next delivery on the due source, waking the loop where
    /// a wait may have begun with an older timeout; false when nothing changed.
    bool arm();
    /// Nothing due: the source waits for the next arm().
    void disarm();
    void on_timer();
    /// The bytes with each bit flipped with probability ber (draws from the stream).
    std::shared_ptr<const std::vector<uint8_t>> corrupt(const std::shared_ptr<const std::vector<uint8_t>>& bytes,
                                                        double ber);
    void drop_all();
    void report_channels();
    bool on_cw_timer();
    bool any_cw() const;

    bool enabled = false;
    bool fast = false;
    int64_t fast_clock = 0;
    uint64_t seed = 1;
    air::Random random;
    double path_loss = air::DEFAULT_PATH_LOSS_DB;
    std::map<std::pair<std::string, std::string>, double> pair_path_loss;
    std::vector<SimBoard*> boards;
    /// The attached boards in the order of their interface names, the order
    /// in which receivers draw their random numbers.
    std::vector<Station> stations;
    std::map<SimBoard*, int64_t> busy_until;
    std::map<Due, Delivery> queue;
    uint64_t deliveries = 0;
    uint64_t refused = 0;
    // one source for every delivery, moved by its due time: a timeout
    // attached and destroyed per packet cost more than the rest of the air
    GSource* due_source = nullptr;
    bool armed = false;
    int64_t timer_due = 0;
    sigc::connection cw_timer;
    uint16_t ticks = 0;
};

} // namespace KORVIK
