#include "board/VirtualAir.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iostream>

#include <glib.h>

#include "board/AirSettings.h"
#include "board/FrameArrival.h"
#include "board/MainLoop.h"
#include "board/Protocol.h"
#include "board/SimBoard.h"
#include "model/GreyfinModel.h"
#include "model/ModelRevision.h"
#include "model/common/Diagnostics.h"

namespace KORVIK {

namespace {

constexpr unsigned CW_REPORT_MS = 100;
// a timeout fires on whole milliseconds: deliver what is due within half of one
constexpr int64_t DUE_SLACK_US = 500;
// A sender may have this much air time waiting before its packets are
// refused, as a board refuses them when its transmit buffer is full; a
// sender faster than its air time would otherwise grow the queue for ever.
constexpr int64_t MAX_BACKLOG_US = 1000000;

constexpr unsigned FAST_BATCH = 256;

std::pair<std::string, std::string> pair_key(const std::string& a, const std::string& b)
{
    return a < b ? std::make_pair(a, b) : std::make_pair(b, a);
}

bool usable(SimBoard* b)
{
    return b && !b->is_dead() && b->get_model();
}

} // namespace

VirtualAir& VirtualAir::instance()
{
    // never destroyed: boards may outlive static destruction order
    static VirtualAir* air = new VirtualAir;
    return *air;
}

VirtualAir::VirtualAir() : random(seed)
{
    const char* env = std::getenv("KORVIK_VIRTUAL_AIR");
    enabled = env && (std::strcmp(env, "1") == 0 || std::strcmp(env, "fast") == 0);
    fast = env && std::strcmp(env, "fast") == 0;
    fast_clock = g_get_monotonic_time();
}

void VirtualAir::set_enabled(bool on)
{
    if (on == enabled)
        return;
    enabled = on;
    if (!on) {
        drop_all();
        cw_timer.disconnect();
    } else if (any_cw()) {
        report_channels();
        cw_timer = main_context()->signal_timeout().connect(sigc::mem_fun(*this, &VirtualAir::on_cw_timer),
                                                            CW_REPORT_MS);
        main_context()->wakeup();
    }
}

void VirtualAir::set_fast(bool on)
{
    if (on == fast)
        return;
    // the queue's times belong to the old clock
    drop_all();
    fast = on;
    fast_clock = g_get_monotonic_time();
}

int64_t VirtualAir::clock() const
{
    if (!fast)
        return g_get_monotonic_time();
    // once the air is quiet every transmission has ended, heard or not
    int64_t t = fast_clock;
    if (queue.empty())
        for (const auto& b : busy_until)
            t = std::max(t, b.second);
    return t;
}

void VirtualAir::set_seed(uint64_t s)
{
    seed = s;
    random = air::Random(s);
}

void VirtualAir::set_path_loss(double db)
{
    path_loss = db;
    pair_path_loss.clear();
}

void VirtualAir::set_path_loss(const std::string& a, const std::string& b, double db)
{
    pair_path_loss[pair_key(a, b)] = db;
}

double VirtualAir::get_path_loss(const std::string& a, const std::string& b) const
{
    auto it = pair_path_loss.find(pair_key(a, b));
    return it == pair_path_loss.end() ? path_loss : it->second;
}

void VirtualAir::attach(SimBoard* board)
{
    if (std::find(boards.begin(), boards.end(), board) != boards.end())
        return;
    boards.push_back(board);
    Station s;
    s.board = board;
    auto at = std::upper_bound(stations.begin(), stations.end(), board->get_interface(),
                               [](const std::string& name, const Station& t) { return name < t.board->get_interface(); });
    stations.insert(at, s);
}

VirtualAir::Station* VirtualAir::station_of(SimBoard* board)
{
    for (Station& s : stations)
        if (s.board == board)
            return &s;
    return nullptr;
}

const air::Reception& VirtualAir::cached_reception(Station& s)
{
    GreyfinModel* m = s.board->get_model();
    const uint64_t revision = model_revision(m);
    const bool cw = s.board->is_transmit_cw();
    const ChannelAccessParams& chacc = s.board->get_chacc_params();
    if (m != s.rx_model || revision != s.rx_revision || cw != s.rx_cw ||
        std::memcmp(&chacc, &s.rx_chacc, sizeof chacc) != 0) {
        s.rx = reception_of(s.board);
        s.rx_model = m;
        s.rx_revision = revision;
        s.rx_cw = cw;
        s.rx_chacc = chacc;
        // the receiver reports the offset in its own raw unit
        s.offset_unit = m ? m->convert_frequencyoffset(4096) / 4096 : 0;
    }
    return s.rx;
}

const air::Emission& VirtualAir::cached_emission(Station& s)
{
    GreyfinModel* m = s.board->get_model();
    const uint64_t revision = model_revision(m);
    if (m != s.tx_model || revision != s.tx_revision || seed != s.tx_seed) {
        s.tx = emission_of(s.board);
        s.tx_model = m;
        s.tx_revision = revision;
        s.tx_seed = seed;
    }
    return s.tx;
}

void VirtualAir::detach(SimBoard* board)
{
    boards.erase(std::remove(boards.begin(), boards.end(), board), boards.end());
    stations.erase(std::remove_if(stations.begin(), stations.end(), [&](const Station& s) { return s.board == board; }),
                   stations.end());
    busy_until.erase(board);
    for (auto it = queue.begin(); it != queue.end();)
        it = it->second.to == board ? queue.erase(it) : std::next(it);
    if (queue.empty())
        disarm();
    if (board->is_transmit_cw() && enabled)
        report_channels();
}

double VirtualAir::crystal_error_ppm(SimBoard* board) const
{
    const double tolerance = board->get_model() ? std::fabs(board->get_model()->get_xtal_tolerance()) : 0.0;
    uint64_t h = seed;
    for (unsigned char c : board->get_serial())
        h = air::mix(h ^ c);
    const double u = double(air::mix(h) >> 11) * 0x1.0p-53;
    return (2 * u - 1) * tolerance;
}

air::Emission VirtualAir::emission_of(SimBoard* board) const
{
    return air::emission_of(*board, crystal_error_ppm(board));
}

air::Reception VirtualAir::reception_of(SimBoard* board) const
{
    return air::reception_of(*board, crystal_error_ppm(board));
}

int VirtualAir::transmit(SimBoard* from, const uint8_t* data, unsigned len)
{
    if (len > protocol::MAX_PAYLOAD)
        return -1;
    Station* source = station_of(from);
    const air::Emission tx = source ? cached_emission(*source) : emission_of(from);
    const double seconds = air::air_time(tx, len);
    if (!(seconds > 0)) {
        diag() << "VirtualAir: " << from->get_interface() << ": no transmit bitrate, nothing sent on the air"
                  << std::endl;
        return 0;
    }
    const int64_t now = clock();
    int64_t& busy = busy_until[from];
    if (busy - now > MAX_BACKLOG_US) {
        ++refused;
        diag() << "VirtualAir: " << from->get_interface() << ": transmit buffer full (" << (busy - now) / 1000
               << " ms of air time waiting), packet refused" << std::endl;
        return -1;
    }
    const int64_t start = std::max(now, busy);
    const int64_t due = start + int64_t(std::llround(seconds * 1e6));
    busy = due;

    std::shared_ptr<const std::vector<uint8_t>> bytes;
    // stations are in interface order, the order of the random draws
    for (Station& station : stations) {
        SimBoard* rx = station.board;
        if (rx == from || !usable(rx))
            continue;
        const air::Reception& r = cached_reception(station);
        const air::Verdict verdict = air::judge(tx, r, data, len);
        if (!signal_judged.empty())
            signal_judged.emit(from, rx, verdict);
        if (verdict != air::Verdict::HEARD)
            continue;
        const double loss = pair_path_loss.empty() ? path_loss : get_path_loss(from->get_interface(), rx->get_interface());
        const double level = tx.power - loss + air::RSSI_SIGMA_DB * random.gaussian();
        const double draw = random.uniform();
        const double snr = level - air::noise_floor(r.bandwidth);
        // without a CRC only errors in the framing bits lose the packet; data
        // bit errors reach the receiver as they are
        const bool checked = air::framing_has_crc(tx.framing);
        const double bits = tx.head_bits + tx.tail_bits + (checked ? 8.0 * len : 0.0);
        if (draw < air::packet_error_rate(r.family, snr, r.bandwidth, r.bitrate, bits))
            continue;
        if (!bytes)
            bytes = std::make_shared<const std::vector<uint8_t>>(data, data + len);
        Delivery d;
        d.to = rx;
        d.data = checked ? bytes : corrupt(bytes, air::bit_error_rate_at(r.family, level, r.bandwidth, r.bitrate));
        std::memcpy(d.source, from->get_radio_ethernet_mac(), 6);
        d.rssi = int16_t(std::max(-128.0, std::min(127.0, std::round(level))));
        double raw = station.offset_unit > 0 ? (tx.carrier - r.carrier) / station.offset_unit : 0;
        d.frequency_offset = int32_t(std::max(-32768.0, std::min(32767.0, std::round(raw))));
        // one entry per receiver, in send and then receiver order
        queue.emplace(Due(due, deliveries++), std::move(d));
    }
    // a caller with its own loop learns of a new timeout only when woken,
    // if it asked for the poll handles before this send: arm() sees to it
    arm();
    return 0;
}

namespace {

// The due source keeps its time itself instead of in the source's ready
// time: GLib wakes the context for every change of that, and a program's
// loop would come back once for nothing per packet. This one wakes the
// loop only where a wait may have begun with an older timeout.
struct DueSource {
    GSource base;
    int64_t due; ///< monotonic us; -1: nothing due
};

gboolean prepare_due(GSource* source, gint* timeout)
{
    // whichever loop prepares the context may wait on what it learns now
    note_loop_may_wait(true);
    const int64_t due = reinterpret_cast<DueSource*>(source)->due;
    if (due < 0) {
        *timeout = -1;
        return FALSE;
    }
    const int64_t now = g_source_get_time(source);
    if (due <= now) {
        *timeout = 0;
        return TRUE;
    }
    // whole milliseconds, rounded up, as GLib does for a ready time
    *timeout = int(std::min<int64_t>((due - now + 999) / 1000, G_MAXINT));
    return FALSE;
}

gboolean check_due(GSource* source)
{
    const int64_t due = reinterpret_cast<DueSource*>(source)->due;
    return due >= 0 && due <= g_source_get_time(source);
}

gboolean dispatch_due(GSource* source, GSourceFunc, gpointer)
{
    // fired: waits again until the next arm() (which the delivery may do)
    reinterpret_cast<DueSource*>(source)->due = -1;
    VirtualAir::instance().deliver_due();
    return G_SOURCE_CONTINUE;
}

GSourceFuncs due_funcs = {prepare_due, check_due, dispatch_due, nullptr, nullptr, nullptr};

} // namespace

void VirtualAir::deliver_due()
{
    armed = false;
    on_timer();
}

void VirtualAir::disarm()
{
    armed = false;
    // a wait with the older, earlier timeout only ends once for nothing
    if (due_source)
        reinterpret_cast<DueSource*>(due_source)->due = -1;
}

bool VirtualAir::arm()
{
    if (queue.empty()) {
        disarm();
        return false;
    }
    const int64_t due = queue.begin()->first.first;
    if (armed && timer_due <= due)
        return false;
    if (!due_source) {
        due_source = g_source_new(&due_funcs, sizeof(DueSource));
        reinterpret_cast<DueSource*>(due_source)->due = -1;
        g_source_attach(due_source, main_context()->gobj());
    }
    armed = true;
    timer_due = due;
    // simulated time does not wait: the next delivery is due at once
    reinterpret_cast<DueSource*>(due_source)->due = fast ? 0 : due;
    if (main_context_needs_wakeup())
        main_context()->wakeup();
    return true;
}

void VirtualAir::on_timer()
{
    // re-armed also when a receive slot throws, so later packets still arrive
    struct Rearm {
        VirtualAir& air;
        ~Rearm() { air.arm(); }
    } rearm{*this};
    // in simulated time a bounded batch per dispatch keeps the loop's other sources served
    for (unsigned n = 0;; ++n) {
        if (queue.empty())
            break;
        const int64_t due = queue.begin()->first.first;
        if (fast) {
            if (n == FAST_BATCH)
                break;
            fast_clock = std::max(fast_clock, due);
        } else if (due > g_get_monotonic_time() + DUE_SLACK_US) {
            break;
        }
        Delivery d = std::move(queue.begin()->second);
        queue.erase(queue.begin());
        // the packet reached the board when its air time ended, not when the
        // loop got here (nor later: the source may fire a little late);
        // simulated time has no such moment on the host clock
        const FrameArrival arrival(fast ? 0 : std::min(due, g_get_monotonic_time()));
        // receive slots may send, retune or close boards: the queue is re-read each time
        d.to->receive_from_air(d.data->data(), unsigned(d.data->size()), d.source, d.rssi, d.frequency_offset);
    }
}

std::shared_ptr<const std::vector<uint8_t>> VirtualAir::corrupt(const std::shared_ptr<const std::vector<uint8_t>>& bytes,
                                                               double ber)
{
    if (!(ber > 0) || bytes->empty())
        return bytes;
    // independent errors: the gaps between them are geometric, one draw each
    const double log_keep = std::log1p(-std::min(ber, 0.5));
    const uint64_t total = uint64_t(bytes->size()) * 8;
    std::shared_ptr<std::vector<uint8_t>> copy;
    for (uint64_t bit = 0;;) {
        const double gap = std::floor(std::log1p(-random.uniform()) / log_keep);
        if (!(gap < double(total - bit)))
            break;
        bit += uint64_t(gap);
        if (!copy)
            copy = std::make_shared<std::vector<uint8_t>>(*bytes);
        (*copy)[bit / 8] ^= uint8_t(1u << (bit % 8));
        if (++bit >= total)
            break;
    }
    if (!copy)
        return bytes;
    return copy;
}

void VirtualAir::drop_all()
{
    queue.clear();
    busy_until.clear();
    disarm();
}

bool VirtualAir::any_cw() const
{
    for (SimBoard* b : boards)
        if (usable(b) && b->is_transmit_cw() && (b->get_chipflags() & 2))
            return true;
    return false;
}

void VirtualAir::transmit_cw_changed(SimBoard*)
{
    if (!enabled)
        return;
    report_channels();
    if (any_cw()) {
        if (!cw_timer.connected()) {
            cw_timer = main_context()->signal_timeout().connect(
                sigc::mem_fun(*this, &VirtualAir::on_cw_timer), CW_REPORT_MS);
            main_context()->wakeup();
        }
    } else {
        cw_timer.disconnect();
    }
}

bool VirtualAir::on_cw_timer()
{
    if (!enabled || !any_cw())
        return false;
    report_channels();
    return true;
}

void VirtualAir::report_channels()
{
    ticks = uint16_t(ticks + CW_REPORT_MS);
    std::vector<SimBoard*> listeners;
    for (SimBoard* b : boards)
        if (usable(b))
            listeners.push_back(b);
    std::sort(listeners.begin(), listeners.end(),
              [](SimBoard* a, SimBoard* b) { return a->get_interface() < b->get_interface(); });
    for (SimBoard* rx : listeners) {
        // a status slot may have closed a board meanwhile
        if (std::find(boards.begin(), boards.end(), rx) == boards.end())
            continue;
        const air::Reception r = reception_of(rx);
        double level = air::noise_floor(r.bandwidth);
        for (SimBoard* tx : boards) {
            if (tx == rx || !usable(tx) || !tx->is_transmit_cw() || !(tx->get_chipflags() & 2))
                continue;
            const air::Emission e = emission_of(tx);
            if (!(std::fabs(e.carrier - r.carrier) <= r.bandwidth / 2))
                continue;
            const double heard = e.power - get_path_loss(tx->get_interface(), rx->get_interface()) +
                                 air::RSSI_SIGMA_DB * random.gaussian();
            level = std::max(level, heard);
        }
        const int rssi = int(std::max(-32768.0, std::min(32767.0, std::round(level))));
        rx->report_channel(int16_t(rssi), rssi >= rx->get_chacc_params().rssithreshold, ticks);
    }
}

} // namespace KORVIK
