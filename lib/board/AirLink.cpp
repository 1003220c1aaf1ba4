#include "board/AirLink.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace KORVIK {
namespace air {

Verdict judge(const Emission& tx, const Reception& rx, const uint8_t* data, unsigned len)
{
    if (!rx.can_receive)
        return Verdict::NOT_RECEIVING;
    if (!(std::fabs(tx.carrier - rx.carrier) <= rx.bandwidth / 2))
        return Verdict::OUT_OF_BAND;
    if (tx.family == Family::NONE || tx.family != rx.family)
        return Verdict::OTHER_MODULATION;
    const double tolerance = rx.fast_btr ? BITRATE_TOLERANCE_FAST : BITRATE_TOLERANCE_NORMAL;
    if (!(rx.bitrate > 0) || !(std::fabs(tx.bitrate - rx.bitrate) <= tolerance * rx.bitrate))
        return Verdict::OTHER_BITRATE;
    if (tx.framing != rx.framing)
        return Verdict::OTHER_FRAMING;
    if (tx.crc != rx.crc)
        return Verdict::OTHER_CRC;
    if (rx.address_match && rx.addrlength > 0) {
        const unsigned n = std::min<unsigned>(rx.addrlength, 6);
        const bool m1 = (rx.match_flags & 1) && len >= n && std::memcmp(data, rx.addr1, n) == 0;
        const bool m2 = (rx.match_flags & 2) && len >= n && std::memcmp(data, rx.addr2, n) == 0;
        if ((rx.match_flags & 3) && !m1 && !m2)
            return Verdict::ADDRESS_MISMATCH;
    }
    return Verdict::HEARD;
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
