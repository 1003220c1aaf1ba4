#include "core/Sweep.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>
#include <limits>
#include <random>
#include <stdexcept>

#include <korvik/LinkTools.h>
#include <korvik/USBDevice.h>

namespace {

const double NaN = std::numeric_limits<double>::quiet_NaN();
const uint8_t MAGIC[2] = {'K', 'S'};
constexpr unsigned HEADER = 8;
// boards retune after a commit; their first packets would be lost to it
constexpr double SETTLE_SECONDS = 0.2;

int64_t monotonic_us()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

unsigned popcount8(uint8_t v)
{
    unsigned n = 0;
    for (; v; v &= uint8_t(v - 1))
        ++n;
    return n;
}

} // namespace

const char* sweep_variable_name(SweepVariable v)
{
    switch (v) {
    case SweepVariable::POWER: return "power";
    case SweepVariable::PATH_LOSS: return "path_loss";
    case SweepVariable::OFFSET: return "offset";
    case SweepVariable::BITRATE: return "bitrate";
    }
    return "";
}

const char* sweep_variable_unit(SweepVariable v)
{
    switch (v) {
    case SweepVariable::POWER: return "dBm";
    case SweepVariable::PATH_LOSS: return "dB";
    case SweepVariable::OFFSET: return "Hz";
    case SweepVariable::BITRATE: return "bit/s";
    }
    return "";
}

std::vector<uint8_t> pn9(unsigned len)
{
    std::vector<uint8_t> out(len);
    unsigned state = 0x1FF;
    for (unsigned i = 0; i < len; ++i) {
        uint8_t byte = 0;
        for (unsigned b = 0; b < 8; ++b) {
            byte |= uint8_t((state & 1) << b);
            const unsigned feedback = (state ^ (state >> 5)) & 1;
            state = (state >> 1) | (feedback << 8);
        }
        out[i] = byte;
    }
    return out;
}

Proportion wilson_interval(unsigned k, unsigned n, double z)
{
    Proportion p;
    if (n == 0)
        return p;
    const double nn = n, phat = double(k) / nn, z2 = z * z;
    const double centre = (phat + z2 / (2 * nn)) / (1 + z2 / nn);
    const double half = z * std::sqrt(phat * (1 - phat) / nn + z2 / (4 * nn * nn)) / (1 + z2 / nn);
    p.low = std::max(0.0, centre - half);
    p.high = std::min(1.0, centre + half);
    // the score interval reaches 0 and 1 exactly only in theory
    if (k == 0)
        p.low = 0;
    if (k == n)
        p.high = 1;
    return p;
}

std::string sweep_csv_header()
{
    return "variable,value,actual,sent,received,intact,per,per_low,per_high,rssi_mean,bit_errors,bits,ber\n";
}

std::string sweep_csv_row(SweepVariable v, const SweepPoint& p)
{
    auto num = [](double x) {
        if (!std::isfinite(x))
            return std::string();
        char buf[40];
        std::snprintf(buf, sizeof buf, "%.10g", x);
        return std::string(buf);
    };
    return std::string(sweep_variable_name(v)) + "," + num(p.value) + "," + num(p.actual) + "," +
           std::to_string(p.sent) + "," + std::to_string(p.received) + "," + std::to_string(p.intact) + "," +
           num(p.per) + "," + num(p.per_interval.low) + "," + num(p.per_interval.high) + "," + num(p.rssi_mean) +
           "," + std::to_string(p.bit_errors) + "," + std::to_string(p.bits) + "," + num(p.ber) + "\n";
}

// ---- one point: numbered PN9 packets, matched and compared on arrival ----

class Sweep::Point {
public:
    Point(Sweep& s, double value) : sweep(s), length(std::max<unsigned>(s.settings_.length, HEADER))
    {
        result.value = value;
        result.actual = s.actual();
        result.per = NaN;
        result.rssi_mean = NaN;
        result.ber = NaN;
        expected = pn9(length - HEADER);
        start_us = monotonic_us();
        receive = sweep.rx.notify_receive_packet(
            sigc::slot<void(const unsigned char*, unsigned, const unsigned char*, short, int)>(
                [this](const unsigned char* d, unsigned n, const unsigned char*, short rssi, int) {
                    take(d, n, rssi);
                }));
    }
    ~Point() { receive.disconnect(); }

    /// More packets for this point.
    void add(unsigned n) { planned += n; }

    /// Milliseconds until it wants to be called again; -1 when the planned packets are counted.
    int poll()
    {
        if (sweep.on_air) {
            // the air holds about a second of waiting packets and refuses more:
            // the rest go once it has caught up, and a refusal that outlasts
            // any backlog is the failure it says
            for (; sent_count < planned; ++sent_count) {
                try {
                    send(sent_count);
                    refused_since = -1;
                } catch (const std::runtime_error&) {
                    const int64_t t = monotonic_us();
                    if (refused_since < 0)
                        refused_since = t;
                    if (t - refused_since > REFUSAL_LIMIT_US && KORVIK::get_virtual_air_in_flight() == 0)
                        throw;
                    return KORVIK::is_virtual_air_fast() ? 0 : 1;
                }
            }
            // every packet sent has arrived or was lost once nothing is in the air
            if (KORVIK::get_virtual_air_in_flight() > 0)
                return KORVIK::is_virtual_air_fast() ? 0 : 1;
            return finish();
        }
        const double t = now();
        const double interval = sweep.settings_.interval;
        while (sent_count < planned && t >= SETTLE_SECONDS + (sent_count - batch_start) * interval) {
            send(sent_count++);
            last_send = now();
        }
        if (sent_count < planned)
            return std::max(0, int(std::ceil((SETTLE_SECONDS + (sent_count - batch_start) * interval - now()) * 1000)));
        if (result.received < planned && now() < last_send + sweep.settings_.grace)
            return std::max(1, int(std::ceil((last_send + sweep.settings_.grace - now()) * 1000)));
        return finish();
    }

    /// Starts the next batch of a searched point on boards: pacing counts from now.
    void restart_clock()
    {
        batch_start = sent_count;
        start_us = monotonic_us() - int64_t(SETTLE_SECONDS * 1e6);
    }

    SweepPoint result;
    unsigned sent() const { return sent_count; }

private:
    static constexpr int64_t REFUSAL_LIMIT_US = 3000000;
    int64_t refused_since = -1;
    double now() const { return double(monotonic_us() - start_us) * 1e-6; }

    void send(unsigned seq)
    {
        std::vector<uint8_t> p(length);
        p[0] = MAGIC[0];
        p[1] = MAGIC[1];
        p[2] = uint8_t(sweep.run);
        p[3] = uint8_t(sweep.run >> 8);
        for (int i = 0; i < 4; ++i)
            p[4 + i] = uint8_t(seq >> (8 * i));
        std::copy(expected.begin(), expected.end(), p.begin() + HEADER);
        sweep.tx.send_bpq_packet(p.data(), unsigned(p.size()), nullptr);
        if (got.size() <= seq)
            got.resize(seq + 1, false);
    }

    bool header(const unsigned char* d, unsigned n, unsigned* seq) const
    {
        if (n < HEADER || d[0] != MAGIC[0] || d[1] != MAGIC[1] || d[2] != uint8_t(sweep.run) ||
            d[3] != uint8_t(sweep.run >> 8))
            return false;
        *seq = unsigned(d[4]) | unsigned(d[5]) << 8 | unsigned(d[6]) << 16 | unsigned(d[7]) << 24;
        return *seq < got.size() && !got[*seq];
    }

    void take(const unsigned char* d, unsigned n, short rssi)
    {
        unsigned seq = 0;
        // boards deliver the length word first; a bare payload is taken as well
        if (n >= 2 && header(d + 2, n - 2, &seq)) {
            d += 2;
            n -= 2;
        } else if (!header(d, n, &seq)) {
            return;
        }
        got[seq] = true;
        ++result.received;
        rssi_sum += rssi;
        unsigned errors = 0;
        const unsigned body = n - HEADER;
        for (unsigned i = 0; i < expected.size(); ++i)
            errors += i < body ? popcount8(uint8_t(d[HEADER + i] ^ expected[i])) : 8;
        // a longer packet than sent is damaged as well
        const bool intact = errors == 0 && body == expected.size();
        if (intact)
            ++result.intact;
        result.bit_errors += errors;
        result.bits += 8 * uint64_t(expected.size());
        result.packet_bit_errors.push_back(errors);
    }

    int finish()
    {
        result.sent = sent_count;
        if (result.sent) {
            result.per = 1.0 - double(result.intact) / result.sent;
            result.per_interval = wilson_interval(result.sent - result.intact, result.sent);
        }
        result.rssi_mean = result.received ? rssi_sum / result.received : NaN;
        result.ber = result.bits ? double(result.bit_errors) / double(result.bits) : NaN;
        return -1;
    }

    Sweep& sweep;
    unsigned length;
    std::vector<uint8_t> expected;
    std::vector<bool> got;
    unsigned planned = 0;
    unsigned sent_count = 0;
    unsigned batch_start = 0;
    double last_send = 0;
    double rssi_sum = 0;
    int64_t start_us = 0;
    sigc::connection receive;
};

// ---- the sweep ----

Sweep::Sweep(KORVIK::USBDevice& t, KORVIK::USBDevice& r, const Settings& s)
    : tx(t), rx(r), settings_(s), run(uint16_t(std::random_device()()))
{
    on_air = KORVIK::USBDevice::is_virtual_air() && (tx.get_boardflags() & 1) && (rx.get_boardflags() & 1);
    if (!(settings_.step > 0) && !(settings_.step < 0))
        throw std::runtime_error("the step must not be 0");
    if (!std::isfinite(settings_.start) || !std::isfinite(settings_.stop) || !std::isfinite(settings_.step))
        throw std::runtime_error("START, STOP and STEP must be numbers");
    if ((settings_.stop - settings_.start) * settings_.step < 0)
        throw std::runtime_error("the step goes away from STOP");
    if (settings_.count == 0)
        throw std::runtime_error("the packet count must be at least 1");
    if (settings_.find && !(settings_.target_per > 0 && settings_.target_per < 1))
        throw std::runtime_error("the target packet error rate must lie between 0 and 100 %");
    switch (settings_.variable) {
    case SweepVariable::POWER:
        saved_tx = tx.get_tx_power();
        break;
    case SweepVariable::PATH_LOSS:
        if (!on_air)
            throw std::runtime_error("the path loss can be swept only between simulated boards on the virtual air");
        saved_tx = KORVIK::get_virtual_air_path_loss(tx.get_interface(), rx.get_interface());
        break;
    case SweepVariable::OFFSET:
        saved_tx = tx.get_tx_carrierfrequency();
        break;
    case SweepVariable::BITRATE:
        saved_tx = tx.get_tx_bitrate();
        saved_rx = rx.get_rx_bitrate();
        break;
    }
    if (settings_.interval < 0) {
        // the packet's air time with room to spare
        const KORVIK::USBDeviceCurrents c = tx.get_currents();
        double air = NaN;
        if (std::isfinite(c.values[6]))
            air = (std::isfinite(c.values[8]) ? c.values[8] : 0) + (std::isfinite(c.values[9]) ? c.values[9] : 0) +
                  8.0 * (settings_.length + 2) * c.values[6];
        settings_.interval = std::isfinite(air) ? air * 1.5 + 0.005 : 0.05;
    }
    lo = settings_.start;
    hi = settings_.stop;
}

Sweep::~Sweep()
{
    current.reset();
    try {
        restore();
    } catch (const std::exception&) {
        // a board that left cannot be restored
    }
}

unsigned Sweep::current_sent() const
{
    return current ? current->sent() : 0;
}

double Sweep::actual() const
{
    switch (settings_.variable) {
    case SweepVariable::POWER: return tx.get_tx_power();
    case SweepVariable::PATH_LOSS:
        return KORVIK::get_virtual_air_path_loss(tx.get_interface(), rx.get_interface());
    case SweepVariable::OFFSET: return tx.get_tx_carrierfrequency() - saved_tx;
    case SweepVariable::BITRATE: return tx.get_tx_bitrate();
    }
    return NaN;
}

void Sweep::apply(double v)
{
    changed = true;
    switch (settings_.variable) {
    case SweepVariable::POWER:
        tx.set_tx_power(v);
        tx.commit_registers();
        break;
    case SweepVariable::PATH_LOSS:
        KORVIK::USBDevice::set_virtual_air_path_loss(tx.get_interface(), rx.get_interface(), v);
        break;
    case SweepVariable::OFFSET:
        tx.set_tx_carrierfrequency(saved_tx + v);
        tx.commit_registers();
        break;
    case SweepVariable::BITRATE:
        tx.set_tx_bitrate(v);
        tx.commit_registers();
        rx.set_rx_bitrate(v);
        rx.commit_registers();
        break;
    }
}

void Sweep::restore()
{
    if (!changed)
        return;
    changed = false;
    if (tx.is_dead() || rx.is_dead())
        return;
    switch (settings_.variable) {
    case SweepVariable::POWER:
        tx.set_tx_power(saved_tx);
        tx.commit_registers();
        break;
    case SweepVariable::PATH_LOSS:
        KORVIK::USBDevice::set_virtual_air_path_loss(tx.get_interface(), rx.get_interface(), saved_tx);
        break;
    case SweepVariable::OFFSET:
        tx.set_tx_carrierfrequency(saved_tx);
        tx.commit_registers();
        break;
    case SweepVariable::BITRATE:
        tx.set_tx_bitrate(saved_tx);
        tx.commit_registers();
        rx.set_rx_bitrate(saved_rx);
        rx.commit_registers();
        break;
    }
}

void Sweep::fail(const std::string& text)
{
    error_ = text;
    stop();
}

void Sweep::stop()
{
    current.reset();
    done = true;
    try {
        restore();
    } catch (const std::exception& e) {
        if (error_.empty())
            error_ = std::string("cannot restore the setting: ") + e.what();
    }
}

int Sweep::side(const SweepPoint& p) const
{
    if (p.per_interval.high < settings_.target_per)
        return -1;
    if (p.per_interval.low > settings_.target_per)
        return 1;
    return p.sent >= settings_.max_packets ? 0 : 2;
}

bool Sweep::next_point()
{
    double value = 0;
    if (!settings_.find) {
        const double v = settings_.start + step_index * settings_.step;
        // a hair past STOP still counts, so 0:1:0.1 ends on 1
        if ((v - settings_.stop) * (settings_.step > 0 ? 1 : -1) > std::fabs(settings_.step) * 1e-9)
            return false;
        value = v;
        ++step_index;
    } else if (phase == 0) {
        value = settings_.start;
    } else if (phase == 1) {
        value = settings_.stop;
    } else {
        if (std::fabs(hi - lo) <= std::fabs(settings_.step) * (1 + 1e-9)) {
            found_.found = true;
            found_.value = (lo + hi) / 2;
            found_.low = std::min(lo, hi);
            found_.high = std::max(lo, hi);
            return false;
        }
        value = (lo + hi) / 2;
    }
    apply(value);
    current = std::make_unique<Point>(*this, value);
    current->add(settings_.count);
    return true;
}

int Sweep::poll()
{
    if (done)
        return -1;
    try {
        if (tx.is_dead() || rx.is_dead()) {
            fail(std::string(tx.is_dead() ? "the transmitting" : "the receiving") + " board has left");
            return -1;
        }
        if (!current && !next_point()) {
            stop();
            return -1;
        }
        const int wait = current->poll();
        if (wait >= 0)
            return wait;

        SweepPoint p = current->result;
        if (settings_.find) {
            const int s = side(p);
            if (s == 2) {
                // not yet decided: another batch of the same point
                current->add(settings_.count);
                current->restart_clock();
                return 0;
            }
            points_.push_back(p);
            signal_point.emit(points_.back());
            current.reset();
            if (phase == 0) {
                lo_side = s;
                phase = 1;
                if (s == 0) {
                    found_ = Found{true, settings_.start, settings_.start, settings_.start};
                    stop();
                    return -1;
                }
            } else if (phase == 1) {
                hi_side = s;
                phase = 2;
                if (s == 0) {
                    found_ = Found{true, settings_.stop, settings_.stop, settings_.stop};
                    stop();
                    return -1;
                }
                if (s == lo_side) {
                    // the target is not crossed between START and STOP
                    stop();
                    return -1;
                }
            } else {
                const double mid = p.value;
                if (s == 0) {
                    found_ = Found{true, mid, std::min(lo, hi), std::max(lo, hi)};
                    stop();
                    return -1;
                }
                (s == lo_side ? lo : hi) = mid;
            }
            return 0;
        }
        points_.push_back(p);
        signal_point.emit(points_.back());
        current.reset();
        return 0;
    } catch (const std::exception& e) {
        fail(e.what());
        return -1;
    }
}
