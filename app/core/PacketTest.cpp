#include "core/PacketTest.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <exception>
#include <limits>
#include <random>

#include <korvik/PacketArrival.h>
#include <korvik/USBDevice.h>

namespace {

const uint8_t MAGIC[2] = {'K', 'P'};
const double NaN = std::numeric_limits<double>::quiet_NaN();

void put32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}

uint32_t get32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

int64_t monotonic_us()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

PacketLog::PacketLog(unsigned count, unsigned length, uint16_t run)
    : length_(std::max<unsigned>(length, MIN_LENGTH)), run_(run), records_(count)
{
    for (unsigned i = 0; i < count; ++i)
        records_[i].sequence = i;
}

std::vector<uint8_t> PacketLog::payload(unsigned sequence) const
{
    // magic, run, sequence, then a filler that differs from packet to packet,
    // so a corrupted packet does not pass for a good one
    std::vector<uint8_t> p(length_);
    p[0] = MAGIC[0];
    p[1] = MAGIC[1];
    p[2] = uint8_t(run_);
    p[3] = uint8_t(run_ >> 8);
    put32(p.data() + 4, sequence);
    for (unsigned i = MIN_LENGTH; i < length_; ++i)
        p[i] = uint8_t(sequence * 31 + i * 7);
    return p;
}

bool PacketLog::match(const uint8_t* data, unsigned len, unsigned* sequence) const
{
    if (len < MIN_LENGTH || data[0] != MAGIC[0] || data[1] != MAGIC[1] || data[2] != uint8_t(run_) ||
        data[3] != uint8_t(run_ >> 8))
        return false;
    *sequence = get32(data + 4);
    return *sequence < records_.size();
}

bool PacketLog::take(const uint8_t* data, unsigned len, double time, int rssi, double offset, unsigned* out,
                     double board_time)
{
    unsigned seq = 0;
    const uint8_t* body = nullptr;
    unsigned body_len = 0;
    // boards deliver the length word first; a bare payload is taken as well
    if (len >= 2 && match(data + 2, len - 2, &seq)) {
        body = data + 2;
        body_len = len - 2;
    } else if (match(data, len, &seq)) {
        body = data;
        body_len = len;
    } else {
        return false;
    }
    PacketRecord& r = records_[seq];
    if (r.received)
        return false;
    const std::vector<uint8_t> expected = payload(seq);
    if (body_len < length_ || !std::equal(expected.begin(), expected.end(), body)) {
        ++corrupted_;
        return false;
    }
    r.received = true;
    ++received_;
    r.receive_time = time;
    r.board_time = board_time < 0 ? time : board_time;
    r.rssi = rssi;
    r.offset = offset;
    if (out)
        *out = seq;
    return true;
}

void PacketLog::mark_sent(unsigned sequence, double time)
{
    if (sequence < records_.size())
        records_[sequence].send_time = time;
}

PacketTestSummary PacketLog::summary() const
{
    PacketTestSummary s;
    s.corrupted = corrupted_;
    double rssi_sum = 0, rssi_sum2 = 0, off_sum = 0, off_sum2 = 0;
    unsigned rssi_n = 0;
    double first_send = NaN, last_receive = NaN;
    s.rssi_min = std::numeric_limits<double>::infinity();
    s.rssi_max = -std::numeric_limits<double>::infinity();
    for (const PacketRecord& r : records_) {
        if (r.send_time < 0)
            continue;
        ++s.sent;
        if (std::isnan(first_send))
            first_send = r.send_time;
        if (!r.received) {
            if (!s.lost_ranges.empty() && s.lost_ranges.back().second + 1 == r.sequence)
                s.lost_ranges.back().second = r.sequence;
            else
                s.lost_ranges.emplace_back(r.sequence, r.sequence);
            continue;
        }
        ++s.received;
        last_receive = std::isnan(last_receive) ? r.board_time : std::max(last_receive, r.board_time);
        off_sum += r.offset;
        off_sum2 += r.offset * r.offset;
        if (r.rssi != -32768) {
            ++rssi_n;
            rssi_sum += r.rssi;
            rssi_sum2 += double(r.rssi) * r.rssi;
            s.rssi_min = std::min(s.rssi_min, double(r.rssi));
            s.rssi_max = std::max(s.rssi_max, double(r.rssi));
        }
    }
    s.per = s.sent ? double(s.sent - s.received) / s.sent : NaN;
    if (rssi_n) {
        s.rssi_mean = rssi_sum / rssi_n;
        s.rssi_stddev = std::sqrt(std::max(0.0, rssi_sum2 / rssi_n - s.rssi_mean * s.rssi_mean));
    } else {
        s.rssi_min = s.rssi_max = s.rssi_mean = s.rssi_stddev = NaN;
    }
    if (s.received) {
        s.offset_mean = off_sum / s.received;
        s.offset_stddev = std::sqrt(std::max(0.0, off_sum2 / s.received - s.offset_mean * s.offset_mean));
    } else {
        s.offset_mean = s.offset_stddev = NaN;
    }
    const double span = last_receive - first_send;
    s.throughput = s.received && span > 0 ? s.received * length_ * 8.0 / span : NaN;
    return s;
}

std::string PacketLog::csv() const
{
    std::string out = "sequence,send_time,board_receive_time,receive_time,rssi,offset,received\n";
    char line[160];
    for (const PacketRecord& r : records_) {
        if (r.send_time < 0)
            continue;
        if (r.received) {
            std::snprintf(line, sizeof line, "%u,%.6f,%.6f,%.6f,%s,%.1f,1\n", r.sequence, r.send_time, r.board_time,
                          r.receive_time,
                          r.rssi == -32768 ? "" : std::to_string(r.rssi).c_str(), r.offset);
        } else {
            std::snprintf(line, sizeof line, "%u,%.6f,,,,,0\n", r.sequence, r.send_time);
        }
        out += line;
    }
    return out;
}

std::string PacketLog::csv_with_units(const std::string& preamble) const
{
    std::string rows = csv();
    rows.replace(0, rows.find('\n'), "sequence,send_time_s,board_receive_time_s,receive_time_s,rssi_dBm,offset_Hz,received");
    return preamble + rows;
}

std::string format_ranges(const std::vector<std::pair<unsigned, unsigned>>& ranges)
{
    std::string out;
    for (const auto& r : ranges) {
        if (!out.empty())
            out += ", ";
        out += std::to_string(r.first);
        if (r.second != r.first)
            out += "-" + std::to_string(r.second);
    }
    return out;
}

PacketTest::PacketTest(KORVIK::USBDevice& t, KORVIK::USBDevice& r, const Settings& s)
    : tx(t), rx(r), settings(s), log_(s.count, s.length, uint16_t(std::random_device()())),
      start_us(monotonic_us())
{
    receive_connection = rx.notify_receive_packet(
        sigc::slot<void(const unsigned char*, unsigned, const unsigned char*, short, int)>(
            [this](const unsigned char* data, unsigned len, const unsigned char*, short rssi, int offset) {
                if (done)
                    return;
                unsigned seq = 0;
                // the board's time, not this call's: the loop may come to the packet late
                const double board = double(KORVIK::get_packet_arrival_time() - start_us) * 1e-6;
                if (log_.take(data, len, now(), rssi, rx.convert_frequencyoffset(offset), &seq, board))
                    signal_received.emit(log_.records()[seq]);
            }));
}

PacketTest::~PacketTest()
{
    receive_connection.disconnect();
}

double PacketTest::now() const
{
    return double(monotonic_us() - start_us) * 1e-6;
}

void PacketTest::fail(const std::string& text)
{
    error_ = text;
    stop();
}

void PacketTest::stop()
{
    done = true;
    receive_connection.disconnect();
}

int PacketTest::poll()
{
    if (done)
        return -1;
    if (tx.is_dead() || rx.is_dead()) {
        fail(std::string(tx.is_dead() ? "the transmitting" : "the receiving") + " board has left");
        return -1;
    }
    // one packet per call: overdue packets never go out in a burst. A call
    // that comes too late moves the rest of the schedule by its delay, so
    // the spacing stays the interval, and the delay is counted
    auto due = [this]() { return next * settings.interval + shift_; };
    const double t = now();
    if (next < settings.count && t >= due()) {
        const double late = t - due();
        // every delay moves the schedule, or a slightly late packet would
        // leave closer than the interval to the next; only those beyond a
        // timer's jitter are reported
        shift_ += late;
        if (late > std::max(0.001, settings.interval / 2)) {
            ++late_;
            max_late_ = std::max(max_late_, late);
            slip_ += late;
        }
        const std::vector<uint8_t> p = log_.payload(next);
        // handed to the board now: the call may return after the packet is on the air
        const double sent_at = now();
        try {
            tx.send_bpq_packet(p.data(), unsigned(p.size()), nullptr);
        } catch (const std::exception& e) {
            fail(std::string("cannot send: ") + e.what());
            return -1;
        }
        log_.mark_sent(next, sent_at);
        ++next;
    }
    if (next < settings.count)
        return std::max(0, int(std::ceil((due() - now()) * 1000)));
    if (settings.count == 0) {
        stop();
        return -1;
    }
    const double end = log_.records()[settings.count - 1].send_time + settings.grace;
    if (log_.received() == settings.count || now() >= end) {
        stop();
        return -1;
    }
    return std::max(0, int(std::ceil((end - now()) * 1000)));
}
