#include "board/AirLink.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace KORVIK {
namespace air {

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

void fail_unless(RuleCheck& c, bool ok)
{
    c.ok = ok;
}

} // namespace

bool framing_has_crc(Framing f)
{
    return f == Framing::HDLC || f == Framing::HDLC_FEC || f == Framing::ZIGBEE_900 || f == Framing::ZIGBEE_2G4;
}

Verdict verdict_of(Rule rule)
{
    switch (rule) {
    case Rule::TRANSMITTER: return Verdict::NOT_TRANSMITTING;
    case Rule::RECEIVER: return Verdict::NOT_RECEIVING;
    case Rule::CARRIER: return Verdict::OUT_OF_BAND;
    case Rule::MODULATION: return Verdict::OTHER_MODULATION;
    case Rule::BITRATE: return Verdict::OTHER_BITRATE;
    case Rule::FRAMING: return Verdict::OTHER_FRAMING;
    case Rule::CRC: return Verdict::OTHER_CRC;
    case Rule::ENCODING: return Verdict::OTHER_ENCODING;
    case Rule::SYNC: return Verdict::OTHER_SYNC;
    case Rule::ADDRESS: return Verdict::ADDRESS_MISMATCH;
    }
    return Verdict::NOT_RECEIVING;
}

const char* rule_name(Rule rule)
{
    static const char* const names[RULE_COUNT] = {"transmitter", "receiver", "carrier", "modulation", "bitrate",
                                                  "framing",     "crc",      "encoding", "sync",      "address"};
    return names[unsigned(rule)];
}

Evaluation evaluate(const Emission& tx, const Reception& rx, const uint8_t* data, unsigned len, Crystal crystal,
                    bool check_address)
{
    Evaluation e;
    auto rule = [&e](Rule r) -> RuleCheck& { return e.rules[unsigned(r)]; };

    fail_unless(rule(Rule::TRANSMITTER), tx.can_transmit);
    fail_unless(rule(Rule::RECEIVER), rx.can_receive);

    e.crystal_allowance =
        (std::fabs(tx.xtal_tolerance) * tx.nominal_carrier + std::fabs(rx.xtal_tolerance) * rx.nominal_carrier) * 1e-6;
    RuleCheck& carrier = rule(Rule::CARRIER);
    carrier.limit = rx.bandwidth / 2;
    carrier.value = crystal == Crystal::ACTUAL ? std::fabs(tx.carrier - rx.carrier)
                                               : std::fabs(tx.nominal_carrier - rx.nominal_carrier) + e.crystal_allowance;
    carrier.margin = carrier.limit - carrier.value;
    // NaN settings fail: a comparison with NaN is false
    fail_unless(carrier, carrier.value <= carrier.limit);

    fail_unless(rule(Rule::MODULATION), tx.family != Family::NONE && tx.family == rx.family);

    RuleCheck& bitrate = rule(Rule::BITRATE);
    bitrate.limit = rx.fast_btr ? BITRATE_TOLERANCE_FAST : BITRATE_TOLERANCE_NORMAL;
    bitrate.value = rx.bitrate > 0 ? std::fabs(tx.bitrate - rx.bitrate) / rx.bitrate : NaN;
    bitrate.margin = bitrate.limit - bitrate.value;
    // the same test as |tx - rx| <= tolerance x rx, without the division's rounding
    fail_unless(bitrate, rx.bitrate > 0 && std::fabs(tx.bitrate - rx.bitrate) <= bitrate.limit * rx.bitrate);

    fail_unless(rule(Rule::FRAMING), tx.framing == rx.framing);

    RuleCheck& crc = rule(Rule::CRC);
    crc.applies = tx.crc >= 0 || rx.crc >= 0;
    fail_unless(crc, tx.crc == rx.crc && (tx.crc < 0 || tx.crcinit == rx.crcinit));

    fail_unless(rule(Rule::ENCODING), (tx.encoding & 15) == (rx.encoding & 15));

    RuleCheck& sync = rule(Rule::SYNC);
    sync.applies = tx.framing == Framing::RAW_PREAMBLE_MATCH || rx.framing == Framing::RAW_PREAMBLE_MATCH;
    if (sync.applies)
        fail_unless(sync, tx.sync_length == rx.sync_length && tx.sync == rx.sync);

    RuleCheck& address = rule(Rule::ADDRESS);
    address.applies = check_address && rx.address_match && rx.addrlength > 0 && (rx.match_flags & 3);
    if (address.applies) {
        const unsigned n = std::min<unsigned>(rx.addrlength, 6);
        const bool m1 = (rx.match_flags & 1) && data && len >= n && std::memcmp(data, rx.addr1, n) == 0;
        const bool m2 = (rx.match_flags & 2) && data && len >= n && std::memcmp(data, rx.addr2, n) == 0;
        fail_unless(address, m1 || m2);
    }

    for (unsigned i = 0; i < RULE_COUNT; ++i) {
        if (!e.rules[i].ok) {
            e.cause = Rule(i);
            e.verdict = verdict_of(Rule(i));
            break;
        }
    }
    return e;
}

Verdict judge(const Emission& tx, const Reception& rx, const uint8_t* data, unsigned len)
{
    return evaluate(tx, rx, data, len).verdict;
}

double air_time(const Emission& tx, unsigned len)
{
    if (!(tx.bitrate > 0))
        return 0;
    return (tx.head_bits + tx.tail_bits + 8.0 * len) / tx.bitrate;
}

double noise_floor(double bandwidth)
{
    return -174.0 + 10.0 * std::log10(std::max(bandwidth, 1.0)) + NOISE_FIGURE_DB;
}

double bit_error_rate(Family family, double ebn0)
{
    ebn0 = std::max(ebn0, 0.0);
    switch (family) {
    case Family::ASK:
        return 0.5 * std::exp(-ebn0 / 4);
    case Family::FSK:
        return 0.5 * std::exp(-ebn0 / 2);
    case Family::PSK:
        return 0.5 * std::erfc(std::sqrt(ebn0));
    case Family::FSK4:
        return std::min(0.5, std::exp(-ebn0));
    case Family::NONE:
        break;
    }
    return 0.5;
}

double packet_error_rate(Family family, double snr_db, double bandwidth, double bitrate, double bits)
{
    if (!(bitrate > 0) || !(bandwidth > 0))
        return 1.0;
    const double ebn0 = std::pow(10.0, snr_db / 10) * bandwidth / bitrate;
    const double ber = bit_error_rate(family, ebn0);
    // log1p keeps tiny rates from vanishing in 1 - ber
    return -std::expm1(bits * std::log1p(-ber));
}

double bit_error_rate_at(Family family, double level_dbm, double bandwidth, double bitrate)
{
    if (!(bitrate > 0) || !(bandwidth > 0))
        return 0.5;
    const double snr_db = level_dbm - noise_floor(bandwidth);
    return bit_error_rate(family, std::pow(10.0, snr_db / 10) * bandwidth / bitrate);
}

double expected_packet_error_rate(Family family, double mean_level, double bandwidth, double bitrate, double bits)
{
    // Simpson's rule over +-7 sigma of the Gaussian RSSI spread (the rate is
    // smooth in the level: 112 intervals keep it within 1e-6 of finer sums)
    const int n = 112;
    const double span = 7.0;
    const double h = 2 * span / n;
    double sum = 0;
    for (int i = 0; i <= n; ++i) {
        const double z = -span + i * h;
        const double w = (i == 0 || i == n) ? 1 : (i % 2 ? 4 : 2);
        const double level = mean_level + RSSI_SIGMA_DB * z;
        sum += w * std::exp(-z * z / 2) *
               packet_error_rate(family, level - noise_floor(bandwidth), bandwidth, bitrate, bits);
    }
    return std::min(1.0, std::max(0.0, sum * h / 3 / std::sqrt(2 * M_PI)));
}

double sensitivity(Family family, double bandwidth, double bitrate, double bits, double per)
{
    if (!(bitrate > 0) || !(bandwidth > 0) || !(per > 0 && per < 1))
        return NaN;
    // the expected PER falls as the level rises; the single-packet level
    // (cheap to find) brackets it closely, as the spread shifts it by a few dB
    double lo = -250, hi = 50;
    while (hi - lo > 0.01) {
        const double mid = (lo + hi) / 2;
        const double snr = mid - noise_floor(bandwidth);
        if (packet_error_rate(family, snr, bandwidth, bitrate, bits) > per)
            lo = mid;
        else
            hi = mid;
    }
    lo -= 4 * RSSI_SIGMA_DB;
    hi += 8 * RSSI_SIGMA_DB;
    while (hi - lo > 0.001) {
        const double mid = (lo + hi) / 2;
        if (expected_packet_error_rate(family, mid, bandwidth, bitrate, bits) > per)
            lo = mid;
        else
            hi = mid;
    }
    return (lo + hi) / 2;
}

uint64_t mix(uint64_t z)
{
    z += 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

uint64_t Random::next()
{
    const uint64_t r = mix(state);
    state += 0x9E3779B97F4A7C15ull;
    return r;
}

double Random::uniform()
{
    return double(next() >> 11) * 0x1.0p-53;
}

double Random::gaussian()
{
    // 1 - u keeps the logarithm away from 0
    const double u1 = 1.0 - uniform();
    const double u2 = uniform();
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * M_PI * u2);
}

} // namespace air
} // namespace KORVIK
