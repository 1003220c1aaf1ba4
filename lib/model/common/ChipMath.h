#pragma once

// Arithmetic shared by the chip models: receiver timing, loop gains and AGC,
// transmit words, power codes, carrier words with band selection, crystal
// re-application and the commit skeleton. Constants that differ per chip come in as
// parameters (register indexes in ChipRegs, tables, limits), so every chip
// calls the same code instead of carrying a copy.

#include <cstdint>
#include <functional>
#include <list>
#include <string>

#include "model/GreyfinModel.h"

namespace KORVIK {

// ---------------------------------------------------------------- safe numbers

/// v clamped to [lo, hi]; NaN gives lo. Call before any double-to-integer
/// conversion: converting an out-of-range double is undefined behaviour.
double clamp_finite(double v, double lo, double hi);

/// floor(v + 0.5) clamped to [lo, hi] as an integer; NaN gives lo.
int64_t round_clamped(double v, int64_t lo, int64_t hi);

// ---------------------------------------------------------------- vocabulary

/// Modulation display names for ids 0 to last_id ("ASK" ... "4-FSK").
std::list<std::string> modulation_names(int last_id);
/// "CRC-CCITT", "CRC-16", "CRC-32".
std::list<std::string> crc_mode_names();
/// "Normal", "Fast".
std::list<std::string> btr_names();

// ---------------------------------------------------------------- register groups

/// Register indexes of a multi-byte value, most significant first. n = 0 means
/// the chip lacks the value.
struct RegGroup {
    uint8_t n = 0;
    uint8_t idx[4] = {0, 0, 0, 0};
};

/// Index of a single register; NO_REG when the chip lacks it.
enum : int { NO_REG = -1 };

/// Where a chip keeps the quantities the shared code reads and writes. A chip
/// fills one const instance; missing registers stay NO_REG / empty.
struct ChipRegs {
    int ifmode = NO_REG;
    int modulation_rx = NO_REG;
    int modulation_tx = NO_REG;
    uint8_t modulation_bits = 0x0F; ///< bits of MODULATION holding the code
    int encoding = NO_REG;
    int framing = NO_REG;
    int fec = NO_REG;
    RegGroup crcinit;
    RegGroup freq_rx;
    RegGroup freq_tx;
    int pllloop_rx = NO_REG;
    int pllloop_tx = NO_REG;
    int pllranging_rx = NO_REG;
    int pllranging_tx = NO_REG;
    RegGroup fskdev;   ///< transmit deviation word
    RegGroup txrate;   ///< transmit rate word
    RegGroup txcic;    ///< transmit CIC decimation (chips that have one)
    RegGroup iffreq;
    int txpwr = NO_REG;
    int adcmisc = NO_REG;
    int agctarget = NO_REG;
    int agcattack = NO_REG;
    int agcdecay = NO_REG;
    RegGroup cicdec;   ///< receive CIC decimation
    RegGroup datarate; ///< receive datarate
    RegGroup tmggain;  ///< receive timing gain
    int phasegain = NO_REG;
    int freqgain = NO_REG;
    int freqgain2 = NO_REG;
    int amplgain = NO_REG;
    /// FOURFSK copies where the chip has them: bit 0 (4-FSK) belongs to the
    /// modulation, receive bit 2 (half speed) to the receive bitrate.
    int fourfsk_rx = NO_REG;
    int fourfsk_tx = NO_REG;
};

/// Unsigned big-endian value of a register group (chip values).
uint32_t read_group(const GreyfinModel& m, const RegGroup& g);
/// Writes the low bytes of v to the group, least significant byte to the last register.
void write_group(GreyfinModel& m, const RegGroup& g, uint32_t v);
/// OR of the change masks of a group.
uint8_t group_changemask(const GreyfinModel& m, const RegGroup& g);
/// Sets the bits `field` of register reg to v (other bits kept); no-op for NO_REG.
void set_bits(GreyfinModel& m, int reg, uint8_t field, unsigned v);
/// Chip value AND field; 0 for NO_REG.
unsigned get_bits(const GreyfinModel& m, int reg, uint8_t field);
/// Change mask AND field; 0 for NO_REG.
unsigned changed_bits(const GreyfinModel& m, int reg, uint8_t field);

// ---------------------------------------------------------------- receiver

/// ADC clock: fXTAL / 2^ADCCLK.
double adc_frequency(unsigned fxtal, unsigned adcclk);

/// Bandwidth derivation family of a receive modulation.
enum class RxDerive {
    bitrate,        ///< bw = br (ASK, PSK)
    one_and_half,   ///< bw = 1.5 br (OQPSK, MSK)
    fsk,            ///< bw = max(1.5 br, bw)
    fourfsk,        ///< bw = max(2.5 br, bw)
};

/// Clamps bandwidth and bitrate to [100, 1000000] and, when derive is set,
/// derives the bandwidth from the bitrate.
void normalise_rx(double& bw, double& br, RxDerive family, bool derive);

/// True in asynchronous wire mode (IFMODE bits 3:0 = 3).
bool is_async_wiremode(const GreyfinModel& m, const ChipRegs& r);
/// The bitrate limit of asynchronous wire mode: min(br, fXTAL / 32) there.
double wiremode_limit(const GreyfinModel& m, const ChipRegs& r, double br);

struct RxTimingInput {
    unsigned fxtal = 0;
    unsigned adcclk = 0;   ///< ADCMISC bits 1:0
    double bw = 0;
    double br = 0;
    bool fsk = false;      ///< oversampled FSK family
    int btr = 0;           ///< 0 "Normal", otherwise "Fast"
    unsigned cic_max = 0x3FF;
    unsigned n_max = 4;    ///< upper limit of the FSK oversampling factor
};

struct RxTiming {
    unsigned cicdec = 4;
    unsigned datarate = 0;
    unsigned tmggain = 0;
    unsigned n = 1;        ///< FSK oversampling factor, 1 otherwise
};

/// CIC decimation, datarate and timing gain for a receiver setup. A zero
/// crystal (or bandwidth/bitrate below 1) gives CICDEC 4 and zero rates.
RxTiming compute_rx_timing(const RxTimingInput& in);

/// Writes CICDEC, DATARATE and TMGGAIN to their groups.
void write_rx_timing(GreyfinModel& m, const ChipRegs& r, const RxTiming& t);

/// Loop-gain family of a receive register code.
enum class LoopFamily { ask, psk, fsk };

/// Loop gains (PHASEGAIN, FREQGAIN, FREQGAIN2, AMPLGAIN bits 3:0), then the
/// AGC registers. For FSK, both frequency gains open up to 15 when the
/// filter margin (bw - br) / 8 covers the crystal error at the carrier.
void apply_rx_loop_and_agc(GreyfinModel& m, const ChipRegs& r, LoopFamily family, int btr,
                           double bw, double br, double carrier_hz);

/// AGC code: clamp(floor(log2(factor * u)) + 26, 0, 31).
uint8_t agc_code(double factor, double u);

/// Receive bandwidth from CICDEC (0 when CICDEC is 0).
double rx_bandwidth(double fadc, unsigned cicdec);
/// Receive bitrate fADC * 2048 / (DATARATE * k * CICDEC); 0 when a divisor is 0.
double rx_bitrate(double fadc, unsigned datarate, unsigned k, unsigned cicdec);
/// "Fast" when the timing gain exceeds 5/64 of the datarate per oversampling
/// step; the setup multiplied n into TMGGAIN, so the comparison includes it.
bool rx_btr_fast(unsigned tmggain, unsigned datarate, unsigned n);

/// CIC output shift S(n) = max(0, ceil(4 log2 n - 0.057) - 5), S(0) = 0,
/// for n up to 1023 (table lookup).
unsigned cic_shift(unsigned n);
/// Nearest integer to 6 S(cic) + 14 - 80 log10(cic).
int agc_reference(unsigned cicdec);

/// Transmit keyup length in bits shared by the chips (see RC1200 for the
/// formula); k is the receive oversampling factor.
unsigned txkeyup_length(const GreyfinModel& m, const ChipRegs& r, bool fsk_family, bool psk,
                        bool scrambler, unsigned k);

// ---------------------------------------------------------------- transmitter

/// Clamps deviation to [0, 1000000] and bitrate to [100, 1000000]; when
/// derive is set: family bitrate gives dev 0, one_and_half gives 0.5 br,
/// fsk/fourfsk give max(0.5 br, dev).
void normalise_tx(double& dev, double& br, RxDerive family, bool derive);

/// round(value / fxtal * 2^bits), clamped to 24 bits; 0 when fxtal is 0.
uint32_t crystal_word(double value, unsigned fxtal, int bits);

// ---------------------------------------------------------------- power

/// Power index of a TXRNG code: the code itself, or for shaped modulation
/// 2^b - 1 with b the bit length of the code (0 stays 0).
unsigned power_index(unsigned txrng, bool shaped);
/// Best code for p dBm in table[16]; ties go to the later candidate.
/// Shaped modulations only use 0, 1, 3, 7, 15.
unsigned select_power_code(const double table[16], double dbm, bool shaped);
/// TXRNG moved by n steps (doubling/halving for shaped modulation).
unsigned step_power_code(unsigned txrng, int n, bool shaped);

// ---------------------------------------------------------------- carrier

/// Two-band carrier range of a chip: below `split` the low band, else the high band.
struct CarrierBands {
    double split;
    unsigned low_band;  ///< BANDSEL value below the split
    double low_min, low_max;
    unsigned high_band; ///< BANDSEL value at and above the split
    double high_min, high_max;
};

/// Selects the band for f and clamps f into it (NaN gives the low band minimum).
unsigned select_band(const CarrierBands& bands, double& f);

/// round(f / fxtal * 2^24) with bit 0 forced to 1; 0 when fxtal is 0.
uint32_t carrier_word(double f, unsigned fxtal);

/// Band-dependent bit remapping of the carrier word (band 0: bits 23 and 24
/// exchanged; band 1: the group code in bits 24:22; others unchanged).
uint32_t remap_carrier_word(uint32_t v, unsigned band);
/// Inverse of remap_carrier_word.
uint32_t unmap_carrier_word(uint32_t w, unsigned band);

// ---------------------------------------------------------------- crystal

/// 0xFFFFFFFF selects 16 MHz; otherwise clamped to [3900000, 32100000].
unsigned clamp_xtal_frequency(unsigned hz);

/// Crystal change shared by the chips: reads the seven parameters, stores the
/// clamped crystal (base setter, signal when changed), runs chip_hook (ADC
/// clock selection, may be empty), re-applies the parameters through the
/// model's setters and emits the eight parameter signals.
void reapply_crystal(GreyfinModel& m, unsigned hz, const std::function<void(unsigned)>& chip_hook);

// ---------------------------------------------------------------- commit

/// Commit skeleton: parameter signals from the change masks (in the fixed
/// order), then `extra_signals` (may be empty), then reprogramming flags,
/// the base commit, and start_chip_reprogramming when a flag is set.
/// The framing signal also follows IFMODE bits 3:0 (wire mode switches).
void commit_chip(GreyfinModel& m, const ChipRegs& r, const std::function<void()>& extra_signals = {});

/// Reprogramming flags: bit 0 receive copies changed (FREQ, MODULATION,
/// PLLLOOP), bit 1 the transmit copies, bit 2 any register at operating
/// address 0x80 or above changed.
unsigned reprogramming_flags(const GreyfinModel& m, const ChipRegs& r);

/// Shared end of autoranging: read both PLLRANGING copies from the chip,
/// commit, replace non-negative results by the VCO ranges, emit the signal.
void finish_autoranging(GreyfinModel& m, const ChipRegs& r, int rx_result, int tx_result);

} // namespace KORVIK
