#include "model/rc1200/RC1200Model.h"

namespace KORVIK {

// name, chip address, operating address, default, mask, direction
const RegisterRow rc1200_register_rows[RC1200_REGISTER_COUNT] = {
    {"XTALOSC", 0x03, 0x03, 0x08, 0x0F, REG_RECEIVE | REG_TRANSMIT}, // 0
    {"IFMODE", 0x08, 0x08, 0x00, 0x0F, REG_RECEIVE | REG_TRANSMIT}, // 1
    {"MODULATION", 0x10, 0x85, 0x02, 0x0F, REG_RECEIVE}, // 2
    {"MODULATION", 0x10, 0x8C, 0x02, 0x0F, REG_TRANSMIT}, // 3
    {"ENCODING", 0x11, 0x11, 0x02, 0x0F, REG_RECEIVE | REG_TRANSMIT}, // 4
    {"FRAMING", 0x12, 0x12, 0x00, 0x7E, REG_RECEIVE | REG_TRANSMIT}, // 5
    {"CRCINIT3", 0x14, 0x14, 0xFF, 0xFF, REG_RECEIVE | REG_TRANSMIT}, // 6
    {"CRCINIT2", 0x15, 0x15, 0xFF, 0xFF, REG_RECEIVE | REG_TRANSMIT}, // 7
    {"CRCINIT1", 0x16, 0x16, 0xFF, 0xFF, REG_RECEIVE | REG_TRANSMIT}, // 8
    {"CRCINIT0", 0x17, 0x17, 0xFF, 0xFF, REG_RECEIVE | REG_TRANSMIT}, // 9
    {"FEC", 0x18, 0x18, 0x00, 0xFF, REG_RECEIVE | REG_TRANSMIT}, // 10
    {"FECSYNC", 0x19, 0x19, 0x62, 0xFF, REG_RECEIVE | REG_TRANSMIT}, // 11
    {"FREQ3", 0x20, 0x81, 0x39, 0xFF, REG_RECEIVE}, // 12
    {"FREQ2", 0x21, 0x82, 0x34, 0xFF, REG_RECEIVE}, // 13
    {"FREQ1", 0x22, 0x83, 0xCC, 0xFF, REG_RECEIVE}, // 14
    {"FREQ0", 0x23, 0x84, 0xCD, 0xFF, REG_RECEIVE}, // 15
    {"FREQ3", 0x20, 0x88, 0x39, 0xFF, REG_TRANSMIT}, // 16
    {"FREQ2", 0x21, 0x89, 0x34, 0xFF, REG_TRANSMIT}, // 17
    {"FREQ1", 0x22, 0x8A, 0xCC, 0xFF, REG_TRANSMIT}, // 18
    {"FREQ0", 0x23, 0x8B, 0xCD, 0xFF, REG_TRANSMIT}, // 19
    {"FSKDEV2", 0x25, 0x25, 0x02, 0xFF, REG_TRANSMIT}, // 20
    {"FSKDEV1", 0x26, 0x26, 0x66, 0xFF, REG_TRANSMIT}, // 21
    {"FSKDEV0", 0x27, 0x27, 0x66, 0xFF, REG_TRANSMIT}, // 22
    {"IFFREQHI", 0x28, 0x28, 0x20, 0xFF, REG_RECEIVE}, // 23
    {"IFFREQLO", 0x29, 0x29, 0x00, 0xFF, REG_RECEIVE}, // 24
    {"PLLLOOP", 0x2C, 0x86, 0x1D, 0x3F, REG_RECEIVE}, // 25
    {"PLLLOOP", 0x2C, 0x8D, 0x1D, 0x3F, REG_TRANSMIT}, // 26
    {"PLLRANGING", 0x2D, 0x80, 0x08, 0x0F, REG_RECEIVE}, // 27
    {"PLLRANGING", 0x2D, 0x87, 0x08, 0x0F, REG_TRANSMIT}, // 28
    {"PLLRNGCLK", 0x2E, 0x2E, 0x03, 0x07, REG_RECEIVE | REG_TRANSMIT}, // 29
    {"TXPWR", 0x30, 0x30, 0x08, 0x0F, REG_TRANSMIT}, // 30
    {"TXRATEHI", 0x31, 0x31, 0x09, 0xFF, REG_TRANSMIT}, // 31
    {"TXRATEMID", 0x32, 0x32, 0x99, 0xFF, REG_TRANSMIT}, // 32
    {"TXRATELO", 0x33, 0x33, 0x9A, 0xFF, REG_TRANSMIT}, // 33
    {"MODMISC", 0x34, 0x34, 0x03, 0x00, REG_RECEIVE | REG_TRANSMIT}, // 34
    {"ADCMISC", 0x38, 0x38, 0x01, 0x1F, REG_RECEIVE}, // 35
    {"AGCTARGET", 0x39, 0x39, 0x0A, 0x1F, REG_RECEIVE}, // 36
    {"AGCATTACK", 0x3A, 0x3A, 0x16, 0xFF, REG_RECEIVE}, // 37
    {"AGCDECAY", 0x3B, 0x3B, 0x13, 0xBF, REG_RECEIVE}, // 38
    {"AGCCOUNTER", 0x3C, 0x3C, 0x00, 0xFF, REG_RECEIVE}, // 39
    {"CICDECHI", 0x3E, 0x3E, 0x00, 0x03, REG_RECEIVE}, // 40
    {"CICDECLO", 0x3F, 0x3F, 0x04, 0xFF, REG_RECEIVE}, // 41
    {"DATARATEHI", 0x40, 0x40, 0x1A, 0xFF, REG_RECEIVE}, // 42
    {"DATARATELO", 0x41, 0x41, 0xAB, 0xFF, REG_RECEIVE}, // 43
    {"TMGGAINHI", 0x42, 0x42, 0x00, 0xFF, REG_RECEIVE}, // 44
    {"TMGGAINLO", 0x43, 0x43, 0xD5, 0xFF, REG_RECEIVE}, // 45
    {"PHASEGAIN", 0x44, 0x44, 0x03, 0xCF, REG_RECEIVE}, // 46
    {"FREQGAIN", 0x45, 0x45, 0x0A, 0x0F, REG_RECEIVE}, // 47
    {"FREQGAIN2", 0x46, 0x46, 0x0A, 0x0F, REG_RECEIVE}, // 48
    {"AMPLGAIN", 0x47, 0x47, 0x06, 0x1F, REG_RECEIVE}, // 49
    {"PLLRNGMISC", 0x74, 0x74, 0x01, 0x07, REG_RECEIVE | REG_TRANSMIT}, // 50
    {"RXMISC", 0x7D, 0x7D, 0x35, 0x3F, REG_RECEIVE}, // 51
    {"PLLVCOI", 0x72, 0x72, 0x04, 0x3F, REG_RECEIVE | REG_TRANSMIT}, // 52
};

// name, description, tooltip (null: same as description), segments least significant first
const BitfieldRow rc1200_bitfield_rows[RC1200_BITFIELD_COUNT] = {
    {"XTALOSCGM", "Gm (Gain) of the Crystal Oscillator", nullptr, {{0, 0, 4}}}, // 0
    {"IFMODE", "Interface Mode", nullptr, {{1, 0, 4}}}, // 1
    {"MODULATION (Rx)", "Rx Modulation", nullptr, {{2, 0, 4}}}, // 2
    {"MODULATION (Tx)", "Tx Modulation", nullptr, {{3, 0, 4}}}, // 3
    {"ENC INV", "Invert data", nullptr, {{4, 0, 1}}}, // 4
    {"ENC DIFF", "Differential Encode/Decode data", nullptr, {{4, 1, 1}}}, // 5
    {"ENC SCRAM", "Enable Scrambler / Descrambler", nullptr, {{4, 2, 1}}}, // 6
    {"ENC MANCH", "Enable manchester encoding/decoding", "Enable manchester encoding/decoding. FM0/FM1 may be achieved by also appropriately setting ENC DIFF and ENC INV", {{4, 3, 1}}}, // 7
    {"FRMMODE", "Framing Mode", nullptr, {{5, 1, 3}}}, // 8
    {"CRCMODE", "CRC Mode", nullptr, {{5, 4, 2}}}, // 9
    {"HSUPP", "Suppress unneeded abort / ?ag / data indications", nullptr, {{5, 6, 1}}}, // 10
    {"CRCINIT", "CRC Reset Value", nullptr, {{9, 0, 8}, {8, 0, 8}, {7, 0, 8}, {6, 0, 8}}}, // 11
    {"FECENA", "Enable FEC (Convolutional Encoder)", nullptr, {{10, 0, 1}}}, // 12
    {"FECINPSHIFT", "Attenuate soft Rx Data by 2", nullptr, {{10, 1, 3}}}, // 13
    {"FECPOS", "Enable noninverted Interleaver Synchronisation", nullptr, {{10, 4, 1}}}, // 14
    {"FECNEG", "Enable inverted Interleaver Synchronisation", nullptr, {{10, 5, 1}}}, // 15
    {"RSTVITERBI", "Reset Viterbi Decoder", nullptr, {{10, 6, 1}}}, // 16
    {"SHORTMEM", "Shorten Backtrack Memory", nullptr, {{10, 7, 1}}}, // 17
    {"FECSYNC", "Interleaver Synchronisation Threshold", nullptr, {{11, 0, 8}}}, // 18
    {"FREQ (Rx)", "Rx Frequency", nullptr, {{15, 0, 8}, {14, 0, 8}, {13, 0, 8}, {12, 0, 8}}}, // 19
    {"FREQ (Tx)", "Tx Frequency", nullptr, {{19, 0, 8}, {18, 0, 8}, {17, 0, 8}, {16, 0, 8}}}, // 20
    {"FSKDEV", "FSK Deviation", nullptr, {{22, 0, 8}, {21, 0, 8}, {20, 0, 8}}}, // 21
    {"IFFREQ", "IF Frequency", nullptr, {{24, 0, 8}, {23, 0, 8}}}, // 22
    {"FLT (Rx)", "Loop Filter", nullptr, {{25, 0, 2}}}, // 23
    {"PLLCPI (Rx)", "PLL Charge Pump Multiplier", "Charge Pump Current is PLLCPI * 10A", {{25, 2, 3}}}, // 24
    {"BANDSEL (Rx)", "Band Selection", nullptr, {{25, 5, 2}}}, // 25
    {"FLT (Tx)", "Loop Filter", nullptr, {{26, 0, 2}}}, // 26
    {"PLLCPI (Tx)", "PLL Charge Pump Multiplier", "Charge Pump Current is PLLCPI * 10A", {{26, 2, 3}}}, // 27
    {"BANDSEL (Tx)", "Band Selection", nullptr, {{26, 5, 2}}}, // 28
    {"VCOR (Rx)", "VCO Range", nullptr, {{27, 0, 4}}}, // 29
    {"VCOR (Tx)", "VCO Range", nullptr, {{28, 0, 4}}}, // 30
    {"PLLRNGCLK", "PLL Ranging Clock", nullptr, {{29, 0, 4}}}, // 31
    {"TXRNG", "Transmit Power", nullptr, {{30, 0, 4}}}, // 32
    {"TXRATE", "Transmit Bitrate", nullptr, {{33, 0, 8}, {32, 0, 8}, {31, 0, 8}}}, // 33
    {"PTTLCK GATE", "if set to 1, the transmitter is automatically disabled if the PLL looses lock", nullptr, {{34, 0, 1}}}, // 34
    {"ADCCLK", "A/D Converter Clock", nullptr, {{35, 0, 2}}}, // 35
    {"ADCCLK RUN", "Manual ADC Clock Control", nullptr, {{35, 2, 1}}}, // 36
    {"ADCCLK OVER", "ADC Clock Control Automatic Override", nullptr, {{35, 3, 1}}}, // 37
    {"ADCCLK INV", "Invert ADC Clock", nullptr, {{35, 4, 1}}}, // 38
    {"AGCTARGET", "ADC Value, above which AGC gain is reduced", nullptr, {{36, 0, 5}}}, // 39
    {"AGCATTACK", "AGC gain reduction speed", nullptr, {{37, 0, 5}}}, // 40
    {"AGC FREEZE", "AGC Freeze", "if set to 1, AGC gain value is frozen; if set to 0, AGC works normally", {{37, 5, 1}}}, // 41
    {"AGCMODE", "AGC Mode", nullptr, {{37, 6, 2}}}, // 42
    {"AGCDECAY", "AGC gain increase speed", nullptr, {{38, 0, 5}}}, // 43
    {"AGCDSP", "AGC value from DSPmode interface", "if set to 1, AGC gain value is taken from DSPmode interface", {{38, 5, 1}}}, // 44
    {"AGCDIS DIGSTEP", "disable digital AGC step", "if 1, the internal digital AGC step is disabled", {{38, 6, 2}}}, // 45
    {"AGCCOUNTER", "Current AGC Gain", "Current AGC Gain, in 0.625dB steps", {{39, 0, 8}}}, // 46
    {"CICDEC", "CIC Decimation factor", nullptr, {{41, 0, 8}, {40, 0, 2}}}, // 47
    {"DATARATE", "Receive Datarate", nullptr, {{43, 0, 8}, {42, 0, 8}}}, // 48
    {"TMGGAIN", "Receive Timing Recovery Gain", nullptr, {{45, 0, 8}, {44, 0, 8}}}, // 49
    {"PHASEGAIN", "Gain of the phase recovery loop", nullptr, {{46, 0, 4}}}, // 50
    {"SMPLCLKSRC", "DSPmode Interface Sample Clock Source", nullptr, {{46, 6, 2}}}, // 51
    {"FREQGAIN", "Gain of the frequency recovery loop", "Gain of the frequency recovery loop; the frequency error is measured with the phase detector", {{47, 0, 4}}}, // 52
    {"FREQGAIN2", "Gain of the frequency recovery loop", "Gain of the frequency recovery loop; the frequency error is measured with the frequency detector", {{48, 0, 4}}}, // 53
    {"AMPLGAIN", "Gain of the amplitude recovery loop", nullptr, {{49, 0, 4}}}, // 54
    {"AMPLAVG", "Peak Detector / Averaging", "if 0, the amplitude is recovered by a peak detector with decay; if 1, the amplitude is recovered by averaging", {{49, 4, 1}}}, // 55
    {"VCOI", "", nullptr, {{52, 0, 3}}}, // 56
};

} // namespace KORVIK
