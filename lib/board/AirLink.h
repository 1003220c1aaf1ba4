#pragma once

// Link model of the virtual air between simulated boards. Pure functions and
// plain records, so the rules and the statistics can be checked without a
// main loop.
//
// Who hears a packet (evaluate, judge): a receiver hears a transmitter when
//  - the sending chip can transmit;
//  - its chip can receive and it is not sending a continuous wave itself;
//  - the two carriers (each with its board's crystal error applied) differ
//    by at most half the receive bandwidth;
//  - both use the same modulation family (ASK, PSK, FSK with MSK and GFSK,
//    or 4-FSK);
//  - the transmit bitrate is within the receiver's tolerance: 2 % of its
//    receive bitrate with bit-timing recovery "Normal", 8 % with "Fast";
//  - both use the same framing and, where the framing carries a CRC, the
//    same CRC mode and CRC preset;
//  - both use the same encoding options (invert, differential, scrambler,
//    Manchester);
//  - with raw preamble-match framing, the same sync word length and pattern;
//  - with HDLC framing and address matching on, the packet's first
//    addrlength bytes equal the first address (match bit 0) or the second
//    (match bit 1).
//
// What it hears (for every receiver that hears it, in the order of the
// receivers' interface names, two draws per packet from one seeded stream):
//  - RSSI = transmit power - path loss + N(0, 2 dB), rounded to whole dBm
//    and kept within -128..127 as a board reports it. The path loss is one
//    global value (60 dB at start) or a value set for the pair of boards.
//  - Frequency offset = transmit carrier - receive carrier, both with their
//    crystal errors; each board's crystal error is fixed for a seed and a
//    serial, uniform within its crystal tolerance. Delivered as the raw
//    reading that the receiver's convert_frequencyoffset turns into Hz.
//  - Loss: noise floor = -174 dBm/Hz + 10 log10(receive bandwidth) + 6 dB
//    noise figure; SNR = RSSI (before rounding) - noise floor;
//    Eb/N0 = SNR x bandwidth / bitrate; bit error rate by family:
//      ASK  0.5 exp(-Eb/N0 / 4)     (non-coherent on-off keying)
//      FSK  0.5 exp(-Eb/N0 / 2)     (non-coherent binary FSK)
//      PSK  0.5 erfc(sqrt(Eb/N0))   (coherent binary PSK)
//      4-FSK min(0.5, exp(-Eb/N0))  (non-coherent 4-FSK, per bit)
//    and packet error rate = 1 - (1 - BER)^bits, bits = key-up head and tail
//    bits + 8 x packet length. A packet is lost when a uniform draw falls
//    below that rate. Framings without a CRC (raw, raw soft, raw preamble
//    match, wire mode) lose a packet only for errors in its head and tail
//    bits; errors in its data bits (each with the BER, drawn as gaps from the
//    same stream) are delivered as flipped bits, as such a receiver would.
//
// When (air time): head + tail + 8 x length bit times of the transmitter, as
// the currents computation counts them; a transmitter sends its packets one
// after the other.

#include <cstdint>
#include <limits>

namespace KORVIK {
namespace air {

enum class Family { NONE, ASK, PSK, FSK, FSK4 };
enum class Framing { NONE, HDLC, HDLC_FEC, RAW, RAW_SOFT, RAW_PREAMBLE_MATCH, ZIGBEE_900, ZIGBEE_2G4, WIREMODE };

constexpr double DEFAULT_PATH_LOSS_DB = 60.0;
constexpr double RSSI_SIGMA_DB = 2.0;
constexpr double NOISE_FIGURE_DB = 6.0;
constexpr double BITRATE_TOLERANCE_NORMAL = 0.02;
constexpr double BITRATE_TOLERANCE_FAST = 0.08;

/// What a transmitter puts on the air, taken when the packet is sent.
struct Emission {
    bool can_transmit = true;
    double carrier = 0;     ///< Hz, crystal error applied
    double nominal_carrier = 0;  ///< Hz as set, without crystal error
    double xtal_tolerance = 0;   ///< ppm
    double bitrate = 0;     ///< bit/s
    double power = 0;       ///< dBm
    Family family = Family::NONE;
    Framing framing = Framing::NONE;
    int crc = -1;           ///< CRC mode where the framing carries one, else -1
    uint32_t crcinit = 0;   ///< CRC preset where the framing carries a CRC
    unsigned encoding = 0;  ///< encoding option bits (invert 1, differential 2, scrambler 4, Manchester 8)
    unsigned sync_length = 0;   ///< sync word bits with preamble-match framing, else 0
    uint32_t sync = 0;          ///< sync word pattern
    double head_bits = 0;   ///< key-up, preamble and framing bits before the data
    double tail_bits = 0;   ///< postamble, framing and CRC bits after it
};

/// What a receiver listens for.
struct Reception {
    bool can_receive = false;
    bool transmitting_cw = false; ///< the chip could receive but sends a continuous wave
    double carrier = 0;     ///< Hz, crystal error applied
    double nominal_carrier = 0;
    double xtal_tolerance = 0;
    double bandwidth = 0;   ///< Hz
    double bitrate = 0;     ///< bit/s
    bool fast_btr = false;
    Family family = Family::NONE;
    Framing framing = Framing::NONE;
    int crc = -1;
    uint32_t crcinit = 0;
    unsigned encoding = 0;
    unsigned sync_length = 0;
    uint32_t sync = 0;
    bool address_match = false;  ///< HDLC framing with a match bit and a length
    uint8_t match_flags = 0;
    uint8_t addrlength = 0;
    uint8_t addr1[6] = {0, 0, 0, 0, 0, 0};
    uint8_t addr2[6] = {0, 0, 0, 0, 0, 0};
};

enum class Verdict {
    HEARD,
    NOT_RECEIVING,
    OUT_OF_BAND,
    OTHER_MODULATION,
    OTHER_BITRATE,
    OTHER_FRAMING,
    OTHER_CRC,
    ADDRESS_MISMATCH,
    NOT_TRANSMITTING,
    OTHER_ENCODING,
    OTHER_SYNC,
};

/// The delivery rules in the order they are asked; the first that fails
/// decides. One evaluator serves the air and the link check, so the two
/// cannot disagree.
enum class Rule { TRANSMITTER, RECEIVER, CARRIER, MODULATION, BITRATE, FRAMING, CRC, ENCODING, SYNC, ADDRESS };
constexpr unsigned RULE_COUNT = 10;

/// How the carrier rule counts crystal errors: the errors already applied to
/// the carriers (the air knows each board's), or the worst case of both
/// tolerances around the nominal carriers (real boards, settings files).
enum class Crystal { ACTUAL, WORST_CASE };

/// One rule's outcome. Numeric rules give a value, its limit and the margin
/// (limit - value, in the value's unit: Hz for the carrier, a fraction of
/// the receive bitrate for the bitrate); the others leave them NaN.
struct RuleCheck {
    bool applies = true; ///< false where the rule has nothing to compare (no CRC, no sync word, no address filter)
    bool ok = true;
    double value = std::numeric_limits<double>::quiet_NaN();
    double limit = std::numeric_limits<double>::quiet_NaN();
    double margin = std::numeric_limits<double>::quiet_NaN();
};

struct Evaluation {
    RuleCheck rules[RULE_COUNT];
    Verdict verdict = Verdict::HEARD;
    Rule cause = Rule::TRANSMITTER; ///< the deciding rule; meaningful only when not HEARD
    /// Worst-case carrier allowance of both crystal tolerances, Hz (reported either way).
    double crystal_allowance = 0;

    const RuleCheck& operator[](Rule r) const { return rules[unsigned(r)]; }
    bool heard() const { return verdict == Verdict::HEARD; }
};

/// Every rule with its margin and the deciding one. data/len are the
/// packet's bytes (only the address rule reads them); a null data with
/// check_address false leaves the address rule out.
Evaluation evaluate(const Emission& tx, const Reception& rx, const uint8_t* data, unsigned len,
                    Crystal crystal = Crystal::ACTUAL, bool check_address = true);
Verdict judge(const Emission& tx, const Reception& rx, const uint8_t* data, unsigned len);
Verdict verdict_of(Rule rule);
/// Lower-case rule name as the link check prints it ("carrier", "bitrate").
const char* rule_name(Rule rule);
/// True for framings that carry a CRC (the receiver then drops a packet with any bit error).
bool framing_has_crc(Framing f);

/// Seconds on the air for len data bytes; 0 or less when the transmitter has no bitrate.
double air_time(const Emission& tx, unsigned len);
/// Thermal noise in the receive bandwidth plus the noise figure, dBm.
double noise_floor(double bandwidth);
double bit_error_rate(Family family, double ebn0);
/// Probability that a packet of `bits` bits has at least one bit error.
double packet_error_rate(Family family, double snr_db, double bandwidth, double bitrate, double bits);
/// Bit error rate at a received level (dBm) by the loss model.
double bit_error_rate_at(Family family, double level_dbm, double bandwidth, double bitrate);
/// Packet error rate averaged over the RSSI spread (N(0, RSSI_SIGMA_DB)) the
/// air draws around a mean level; what a long run of packets measures.
double expected_packet_error_rate(Family family, double mean_level_dbm, double bandwidth, double bitrate,
                                  double bits);
/// The mean level (dBm) at which expected_packet_error_rate equals `per`
/// (bisection, to 0.001 dB); the analytic sensitivity.
double sensitivity(Family family, double bandwidth, double bitrate, double bits, double per = 0.01);

/// splitmix64 with its own uniform and Gaussian draws, so a seed gives the
/// same sequence with every compiler and standard library.
class Random {
public:
    explicit Random(uint64_t seed = 1) : state(seed) {}
    uint64_t next();
    /// Uniform in [0, 1).
    double uniform();
    /// Standard normal (Box-Muller, one value per two uniforms).
    double gaussian();

private:
    uint64_t state;
};

/// One splitmix64 step of a value: a well-mixed 64-bit hash.
uint64_t mix(uint64_t x);

} // namespace air
} // namespace KORVIK
