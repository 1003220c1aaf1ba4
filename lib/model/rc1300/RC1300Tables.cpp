#include "model/rc1300/RC1300Model.h"

namespace KORVIK {

// Register table: name, chip address, operating address, default, mask, direction.
const RegisterRow RC1300Model::register_rows[50] = {
    {"XTALOSC", 0x03, 0x03, 0x08, 0x0F, REG_RECEIVE | REG_TRANSMIT}, // 0
    {"IFMODE", 0x08, 0x08, 0x00, 0x0F, REG_RECEIVE | REG_TRANSMIT}, // 1
    {"MODULATION", 0x10, 0x85, 0x02, 0x7F, REG_RECEIVE}, // 2
    {"MODULATION", 0x10, 0x8C, 0x02, 0x7F, REG_TRANSMIT}, // 3
    {"ENCODING", 0x11, 0x11, 0x02, 0x0F, REG_RECEIVE | REG_TRANSMIT}, // 4
    {"FRAMING", 0x12, 0x12, 0x00, 0x7E, REG_RECEIVE | REG_TRANSMIT}, // 5
    {"CRCINIT3", 0x14, 0x14, 0xFF, 0xFF, REG_RECEIVE | REG_TRANSMIT}, // 6
    {"CRCINIT2", 0x15, 0x15, 0xFF, 0xFF, REG_RECEIVE | REG_TRANSMIT}, // 7
    {"CRCINIT1", 0x16, 0x16, 0xFF, 0xFF, REG_RECEIVE | REG_TRANSMIT}, // 8
    {"CRCINIT0", 0x17, 0x17, 0xFF, 0xFF, REG_RECEIVE | REG_TRANSMIT}, // 9
    {"FREQ3", 0x20, 0x81, 0x39, 0xFF, REG_RECEIVE}, // 10
    {"FREQ2", 0x21, 0x82, 0x34, 0xFF, REG_RECEIVE}, // 11
    {"FREQ1", 0x22, 0x83, 0xCC, 0xFF, REG_RECEIVE}, // 12
    {"FREQ0", 0x23, 0x84, 0xCD, 0xFF, REG_RECEIVE}, // 13
    {"FREQ3", 0x20, 0x88, 0x39, 0xFF, REG_TRANSMIT}, // 14
    {"FREQ2", 0x21, 0x89, 0x34, 0xFF, REG_TRANSMIT}, // 15
    {"FREQ1", 0x22, 0x8A, 0xCC, 0xFF, REG_TRANSMIT}, // 16
    {"FREQ0", 0x23, 0x8B, 0xCD, 0xFF, REG_TRANSMIT}, // 17
    {"FSKDEV2", 0x25, 0x25, 0x02, 0xFF, REG_TRANSMIT}, // 18
    {"FSKDEV1", 0x26, 0x26, 0x66, 0xFF, REG_TRANSMIT}, // 19
    {"FSKDEV0", 0x27, 0x27, 0x66, 0xFF, REG_TRANSMIT}, // 20
    {"IFFREQHI", 0x28, 0x28, 0x20, 0xFF, REG_RECEIVE}, // 21
    {"IFFREQLO", 0x29, 0x29, 0x00, 0xFF, REG_RECEIVE}, // 22
    {"PLLLOOP", 0x2C, 0x86, 0x05, 0x3F, REG_RECEIVE}, // 23
    {"PLLLOOP", 0x2C, 0x8D, 0x05, 0x3F, REG_TRANSMIT}, // 24
    {"PLLRANGING", 0x2D, 0x80, 0x08, 0x0F, REG_RECEIVE}, // 25
    {"PLLRANGING", 0x2D, 0x87, 0x08, 0x0F, REG_TRANSMIT}, // 26
    {"PLLRNGCLK", 0x2E, 0x2E, 0x03, 0x07, REG_RECEIVE | REG_TRANSMIT}, // 27
    {"TXPWR", 0x30, 0x30, 0x08, 0x0F, REG_TRANSMIT}, // 28
    {"TXRATEHI", 0x31, 0x31, 0x09, 0xFF, REG_TRANSMIT}, // 29
    {"TXRATEMID", 0x32, 0x32, 0x99, 0xFF, REG_TRANSMIT}, // 30
    {"TXRATELO", 0x33, 0x33, 0x9A, 0xFF, REG_TRANSMIT}, // 31
    {"MODMISC", 0x34, 0x34, 0x03, 0x00, REG_RECEIVE | REG_TRANSMIT}, // 32
    {"ADCMISC", 0x38, 0x38, 0x01, 0x1F, REG_RECEIVE}, // 33
    {"AGCTARGET", 0x39, 0x39, 0x0A, 0x1F, REG_RECEIVE}, // 34
    {"AGCATTACK", 0x3A, 0x3A, 0x16, 0xFF, REG_RECEIVE}, // 35
    {"AGCDECAY", 0x3B, 0x3B, 0x13, 0xBF, REG_RECEIVE}, // 36
    {"AGCCOUNTER", 0x3C, 0x3C, 0x00, 0xFF, REG_RECEIVE}, // 37
    {"CICDECLO", 0x3F, 0x3F, 0x04, 0x3F, REG_RECEIVE}, // 38
    {"DATARATEHI", 0x40, 0x40, 0x1A, 0xFF, REG_RECEIVE}, // 39
    {"DATARATELO", 0x41, 0x41, 0xAB, 0xFF, REG_RECEIVE}, // 40
    {"TMGGAINHI", 0x42, 0x42, 0x00, 0xFF, REG_RECEIVE}, // 41
    {"TMGGAINLO", 0x43, 0x43, 0xD5, 0xFF, REG_RECEIVE}, // 42
    {"PHASEGAIN", 0x44, 0x44, 0x03, 0xCF, REG_RECEIVE}, // 43
    {"FREQGAIN", 0x45, 0x45, 0x0A, 0x8F, REG_RECEIVE}, // 44
    {"FREQGAIN2", 0x46, 0x46, 0x0A, 0x0F, REG_RECEIVE}, // 45
    {"AMPLGAIN", 0x47, 0x47, 0x06, 0x3F, REG_RECEIVE}, // 46
    {"XTALCAP", 0x4F, 0x4F, 0x00, 0x3F, REG_RECEIVE | REG_TRANSMIT}, // 47
    {"PLLVCOI", 0x72, 0x72, 0x04, 0x3F, REG_RECEIVE | REG_TRANSMIT}, // 48
    {"REF", 0x7C, 0x7C, 0x23, 0x3F, REG_RECEIVE | REG_TRANSMIT}, // 49
};

// Bitfield table: name, description, tooltip (null: same as description),
// segments (register index, lowest bit, width), least significant first.
const BitfieldRow RC1300Model::bitfield_rows[54] = {
    {"XTALOSCGM", "Gm (Gain) of the Crystal Oscillator", nullptr, {{0, 0, 4}}}, // 0
    {"IFMODE", "Interface Mode", nullptr, {{1, 0, 4}}}, // 1
    {"MODULATION (Rx)", "Rx Modulation", nullptr, {{2, 0, 7}}}, // 2
    {"MODULATION (Tx)", "Tx Modulation", nullptr, {{3, 0, 7}}}, // 3
    {"ENC INV", "Invert data", nullptr, {{4, 0, 1}}}, // 4
    {"ENC DIFF", "Differential Encode/Decode data", nullptr, {{4, 1, 1}}}, // 5
    {"ENC SCRAM", "Enable Scrambler / Descrambler", nullptr, {{4, 2, 1}}}, // 6
    {"ENC MANCH", "Enable manchester encoding/decoding", "Enable manchester encoding/decoding. FM0/FM1 may be achieved by also appropriately setting ENC DIFF and ENC INV", {{4, 3, 1}}}, // 7
    {"FRMMODE", "Framing Mode", nullptr, {{5, 1, 3}}}, // 8
    {"CRCMODE", "CRC Mode", nullptr, {{5, 4, 2}}}, // 9
    {"HSUPP", "Suppress unneeded abort / ?ag / data indications", nullptr, {{5, 6, 1}}}, // 10
    {"CRCINIT", "CRC Reset Value", nullptr, {{9, 0, 8}, {8, 0, 8}, {7, 0, 8}, {6, 0, 8}}}, // 11
    {"FREQ (Rx)", "Rx Frequency", nullptr, {{13, 0, 8}, {12, 0, 8}, {11, 0, 8}, {10, 0, 8}}}, // 12
    {"FREQ (Tx)", "Tx Frequency", nullptr, {{17, 0, 8}, {16, 0, 8}, {15, 0, 8}, {14, 0, 8}}}, // 13
    {"FSKDEV", "FSK Deviation", nullptr, {{20, 0, 8}, {19, 0, 8}, {18, 0, 8}}}, // 14
    {"IFFREQ", "IF Frequency", nullptr, {{22, 0, 8}, {21, 0, 8}}}, // 15
    {"FLT (Rx)", "Loop Filter", nullptr, {{23, 0, 2}}}, // 16
    {"PLLCPI (Rx)", "PLL Charge Pump Multiplier", "Charge Pump Current is PLLCPI * 10A", {{23, 2, 3}}}, // 17
    {"BANDSEL (Rx)", "Band Selection", nullptr, {{23, 5, 2}}}, // 18
    {"FLT (Tx)", "Loop Filter", nullptr, {{24, 0, 2}}}, // 19
    {"PLLCPI (Tx)", "PLL Charge Pump Multiplier", "Charge Pump Current is PLLCPI * 10A", {{24, 2, 3}}}, // 20
    {"BANDSEL (Tx)", "Band Selection", nullptr, {{24, 5, 2}}}, // 21
    {"VCOR (Rx)", "VCO Range", nullptr, {{25, 0, 4}}}, // 22
    {"VCOR (Tx)", "VCO Range", nullptr, {{26, 0, 4}}}, // 23
    {"PLLRNGCLK", "PLL Ranging Clock", nullptr, {{27, 0, 4}}}, // 24
    {"TXRNG", "Transmit Power", nullptr, {{28, 0, 4}}}, // 25
    {"TXRATE", "Transmit Bitrate", nullptr, {{31, 0, 8}, {30, 0, 8}, {29, 0, 8}}}, // 26
    {"PTTLCK GATE", "if set to 1, the transmitter is automatically disabled if the PLL looses lock", nullptr, {{32, 0, 1}}}, // 27
    {"ADCCLK", "A/D Converter Clock", nullptr, {{33, 0, 2}}}, // 28
    {"ADCCLK RUN", "Manual ADC Clock Control", nullptr, {{33, 2, 1}}}, // 29
    {"ADCCLK OVER", "ADC Clock Control Automatic Override", nullptr, {{33, 3, 1}}}, // 30
    {"ADCCLK INV", "Invert ADC Clock", nullptr, {{33, 4, 1}}}, // 31
    {"AGCTARGET", "ADC Value, above which AGC gain is reduced", nullptr, {{34, 0, 5}}}, // 32
    {"AGCATTACK", "AGC gain reduction speed", nullptr, {{35, 0, 5}}}, // 33
    {"AGC FREEZE", "AGC Freeze", "if set to 1, AGC gain value is frozen; if set to 0, AGC works normally", {{35, 5, 1}}}, // 34
    {"AGCMODE", "AGC Mode", nullptr, {{35, 6, 2}}}, // 35
    {"AGCDECAY", "AGC gain increase speed", nullptr, {{36, 0, 5}}}, // 36
    {"AGCDSP", "AGC value from DSPmode interface", "if set to 1, AGC gain value is taken from DSPmode interface", {{36, 5, 1}}}, // 37
    {"AGCDIS DIGSTEP", "disable digital AGC step", "if 1, the internal digital AGC step is disabled", {{36, 6, 2}}}, // 38
    {"AGCCOUNTER", "Current AGC Gain", "Current AGC Gain, in 0.625dB steps", {{37, 0, 8}}}, // 39
    {"CICDEC", "CIC Decimation factor", nullptr, {{38, 0, 6}}}, // 40
    {"DATARATE", "Receive Datarate", nullptr, {{40, 0, 8}, {39, 0, 8}}}, // 41
    {"TMGGAIN", "Receive Timing Recovery Gain", nullptr, {{42, 0, 8}, {41, 0, 8}}}, // 42
    {"PHASEGAIN", "Gain of the phase recovery loop", nullptr, {{43, 0, 4}}}, // 43
    {"SMPLCLKSRC", "DSPmode Interface Sample Clock Source", nullptr, {{43, 6, 2}}}, // 44
    {"FREQGAIN", "Gain of the frequency recovery loop", "Gain of the frequency recovery loop; the frequency error is measured with the phase detector", {{44, 0, 4}}}, // 45
    {"FREQLIM", "Limit max. frequency offset to +-0.25 DATARATE", nullptr, {{44, 7, 1}}}, // 46
    {"FREQGAIN2", "Gain of the frequency recovery loop", "Gain of the frequency recovery loop; the frequency error is measured with the frequency detector", {{45, 0, 4}}}, // 47
    {"AMPLGAIN", "Gain of the amplitude recovery loop", nullptr, {{46, 0, 4}}}, // 48
    {"AMPLAVG", "Peak Detector / Averaging", "if 0, the amplitude is recovered by a peak detector with decay; if 1, the amplitude is recovered by averaging", {{46, 4, 1}}}, // 49
    {"XTALCAP", "Crystal Load Capacitance", "Crystal Load Capacitance in 0.5pF steps", {{47, 0, 6}}}, // 50
    {"VCOI", "", "", {{48, 0, 3}}}, // 51
    {"REFI", "", "", {{49, 0, 3}}}, // 52
    {"REFV", "", "", {{49, 3, 3}}}, // 53
};

} // namespace KORVIK
