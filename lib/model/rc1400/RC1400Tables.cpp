#include "model/rc1400/RC1400Model.h"

namespace KORVIK {

// Register table: name, chip address, operating address, default, mask, direction.
const RegisterRow RC1400Model::register_rows[56] = {
    {"XTALOSC", 0x03, 0x03, 0x08, 0x0F, REG_RECEIVE | REG_TRANSMIT}, // 0
    {"IFMODE", 0x08, 0x08, 0x00, 0x0F, REG_RECEIVE | REG_TRANSMIT}, // 1
    {"MODULATION", 0x10, 0x85, 0x02, 0x7F, REG_RECEIVE}, // 2
    {"MODULATION", 0x10, 0x92, 0x02, 0x7F, REG_TRANSMIT}, // 3
    {"ENCODING", 0x11, 0x11, 0x02, 0x1F, REG_RECEIVE | REG_TRANSMIT}, // 4
    {"FRAMING", 0x12, 0x12, 0x00, 0x7E, REG_RECEIVE | REG_TRANSMIT}, // 5
    {"CRCINIT3", 0x14, 0x14, 0xFF, 0xFF, REG_RECEIVE | REG_TRANSMIT}, // 6
    {"CRCINIT2", 0x15, 0x15, 0xFF, 0xFF, REG_RECEIVE | REG_TRANSMIT}, // 7
    {"CRCINIT1", 0x16, 0x16, 0xFF, 0xFF, REG_RECEIVE | REG_TRANSMIT}, // 8
    {"CRCINIT0", 0x17, 0x17, 0xFF, 0xFF, REG_RECEIVE | REG_TRANSMIT}, // 9
    {"FREQ3", 0x20, 0x81, 0x39, 0xFF, REG_RECEIVE}, // 10
    {"FREQ2", 0x21, 0x82, 0x34, 0xFF, REG_RECEIVE}, // 11
    {"FREQ1", 0x22, 0x83, 0xCC, 0xFF, REG_RECEIVE}, // 12
    {"FREQ0", 0x23, 0x84, 0xCD, 0xFF, REG_RECEIVE}, // 13
    {"FREQ3", 0x20, 0x8E, 0x39, 0xFF, REG_TRANSMIT}, // 14
    {"FREQ2", 0x21, 0x8F, 0x34, 0xFF, REG_TRANSMIT}, // 15
    {"FREQ1", 0x22, 0x90, 0xCC, 0xFF, REG_TRANSMIT}, // 16
    {"FREQ0", 0x23, 0x91, 0xCD, 0xFF, REG_TRANSMIT}, // 17
    {"IFFREQHI", 0x28, 0x28, 0x20, 0xFF, REG_RECEIVE}, // 18
    {"IFFREQLO", 0x29, 0x29, 0x00, 0xFF, REG_RECEIVE}, // 19
    {"PLLLOOP", 0x2C, 0x86, 0x1D, 0x3F, REG_RECEIVE}, // 20
    {"PLLLOOP", 0x2C, 0x8D, 0x1D, 0x3F, REG_TRANSMIT}, // 21
    {"PLLRANGING", 0x2D, 0x80, 0x08, 0x0F, REG_RECEIVE}, // 22
    {"PLLRANGING", 0x2D, 0x93, 0x08, 0x0F, REG_TRANSMIT}, // 23
    {"PLLRNGCLK", 0x2E, 0x2E, 0x03, 0x07, REG_RECEIVE | REG_TRANSMIT}, // 24
    {"TXPWR", 0x30, 0x30, 0x08, 0x0F, REG_TRANSMIT}, // 25
    {"MODMISC", 0x34, 0x34, 0x03, 0x00, REG_RECEIVE | REG_TRANSMIT}, // 26
    {"ADCMISC", 0x38, 0x38, 0x01, 0x1F, REG_RECEIVE}, // 27
    {"AGCTARGET", 0x39, 0x39, 0x0A, 0x1F, REG_RECEIVE}, // 28
    {"AGCATTACK", 0x3A, 0x3A, 0x16, 0xFF, REG_RECEIVE}, // 29
    {"AGCDECAY", 0x3B, 0x3B, 0x13, 0xBF, REG_RECEIVE}, // 30
    {"AGCCOUNTER", 0x3C, 0x3C, 0x00, 0xFF, REG_RECEIVE}, // 31
    {"CICDECHI", 0x3E, 0x87, 0x00, 0x03, REG_RECEIVE}, // 32
    {"CICDECLO", 0x3F, 0x88, 0x04, 0xFF, REG_RECEIVE}, // 33
    {"DATARATEHI", 0x40, 0x89, 0x1A, 0xFF, REG_RECEIVE}, // 34
    {"DATARATELO", 0x41, 0x8A, 0xAB, 0xFF, REG_RECEIVE}, // 35
    {"TMGGAINHI", 0x42, 0x8B, 0x00, 0xFF, REG_RECEIVE}, // 36
    {"TMGGAINLO", 0x43, 0x8C, 0xD5, 0xFF, REG_RECEIVE}, // 37
    {"CICDECHI", 0x3E, 0x94, 0x00, 0x03, REG_TRANSMIT}, // 38
    {"CICDECLO", 0x3F, 0x95, 0x04, 0xFF, REG_TRANSMIT}, // 39
    {"DATARATEHI", 0x40, 0x96, 0x1A, 0xFF, REG_TRANSMIT}, // 40
    {"DATARATELO", 0x41, 0x97, 0xAB, 0xFF, REG_TRANSMIT}, // 41
    {"TMGGAINHI", 0x42, 0x98, 0x00, 0xFF, REG_TRANSMIT}, // 42
    {"TMGGAINLO", 0x43, 0x99, 0xD5, 0xFF, REG_TRANSMIT}, // 43
    {"PHASEGAIN", 0x44, 0x44, 0x03, 0xCF, REG_RECEIVE}, // 44
    {"FREQGAIN", 0x45, 0x45, 0x0A, 0x8F, REG_RECEIVE}, // 45
    {"FREQGAIN2", 0x46, 0x46, 0x0A, 0x0F, REG_RECEIVE}, // 46
    {"AMPLGAIN", 0x47, 0x47, 0x06, 0x3F, REG_RECEIVE}, // 47
    {"XTALCAP", 0x4F, 0x4F, 0x00, 0x3F, REG_RECEIVE | REG_TRANSMIT}, // 48
    {"FOURFSK", 0x50, 0x9A, 0x42, 0x7F, REG_RECEIVE}, // 49
    {"FOURFSK", 0x50, 0x9B, 0x42, 0x7F, REG_TRANSMIT}, // 50
    {"FSKDMAXHI", 0x52, 0x52, 0x00, 0xFF, REG_RECEIVE}, // 51
    {"FSKDMAXLO", 0x53, 0x53, 0x00, 0xFF, REG_RECEIVE}, // 52
    {"FSKDMINHI", 0x54, 0x54, 0x00, 0xFF, REG_RECEIVE}, // 53
    {"FSKDMINLO", 0x55, 0x55, 0x00, 0xFF, REG_RECEIVE}, // 54
    {"PLLVCOI", 0x72, 0x72, 0x04, 0x3F, REG_RECEIVE | REG_TRANSMIT}, // 55
};

// Bitfield table: name, description, tooltip (null: same as description),
// segments (register index, lowest bit, width), least significant first.
const BitfieldRow RC1400Model::bitfield_rows[61] = {
    {"XTALOSCGM", "Gm (Gain) of the Crystal Oscillator", nullptr, {{0, 0, 4}}}, // 0
    {"IFMODE", "Interface Mode", nullptr, {{1, 0, 4}}}, // 1
    {"MODULATION (Rx)", "Rx Modulation", nullptr, {{2, 0, 7}}}, // 2
    {"MODULATION (Tx)", "Tx Modulation", nullptr, {{3, 0, 7}}}, // 3
    {"ENC INV", "Invert data", nullptr, {{4, 0, 1}}}, // 4
    {"ENC DIFF", "Differential Encode/Decode data", nullptr, {{4, 1, 1}}}, // 5
    {"ENC SCRAM", "Enable Scrambler / Descrambler", nullptr, {{4, 2, 1}}}, // 6
    {"ENC MANCH", "Enable manchester encoding/decoding", "Enable manchester encoding/decoding. FM0/FM1 may be achieved by also appropriately setting ENC DIFF and ENC INV", {{4, 3, 1}}}, // 7
    {"ENC NOSYNC", "Disable DiBit Synchronisation", "Disable DiBit Synchronisation in 4-FSK mode", {{4, 4, 1}}}, // 8
    {"FRMMODE", "Framing Mode", nullptr, {{5, 1, 3}}}, // 9
    {"MATCHLEN", "Pattern Match Length", "Pattern Match Length in Nibbles", {{5, 4, 3}}}, // 10
    {"HSUPP", "Suppress unneeded abort / ?ag / data indications", nullptr, {{5, 6, 1}}}, // 11
    {"CRCINIT", "Pattern Match Values", nullptr, {{9, 0, 8}, {8, 0, 8}, {7, 0, 8}, {6, 0, 8}}}, // 12
    {"FREQ (Rx)", "Rx Frequency", nullptr, {{13, 0, 8}, {12, 0, 8}, {11, 0, 8}, {10, 0, 8}}}, // 13
    {"FREQ (Tx)", "Tx Frequency", nullptr, {{17, 0, 8}, {16, 0, 8}, {15, 0, 8}, {14, 0, 8}}}, // 14
    {"FSKDEV", "FSK Deviation", nullptr, {{43, 0, 8}, {42, 0, 8}}}, // 15
    {"IFFREQ", "IF Frequency", nullptr, {{19, 0, 8}, {18, 0, 8}}}, // 16
    {"FLT (Rx)", "Loop Filter", nullptr, {{20, 0, 2}}}, // 17
    {"PLLCPI (Rx)", "PLL Charge Pump Multiplier", "Charge Pump Current is PLLCPI * 10A", {{20, 2, 3}}}, // 18
    {"BANDSEL (Rx)", "Band Selection", nullptr, {{20, 5, 2}}}, // 19
    {"FLT (Tx)", "Loop Filter", nullptr, {{21, 0, 2}}}, // 20
    {"PLLCPI (Tx)", "PLL Charge Pump Multiplier", "Charge Pump Current is PLLCPI * 10A", {{21, 2, 3}}}, // 21
    {"BANDSEL (Tx)", "Band Selection", nullptr, {{21, 5, 2}}}, // 22
    {"VCOR (Rx)", "VCO Range", nullptr, {{22, 0, 4}}}, // 23
    {"VCOR (Tx)", "VCO Range", nullptr, {{23, 0, 4}}}, // 24
    {"PLLRNGCLK", "PLL Ranging Clock", nullptr, {{24, 0, 4}}}, // 25
    {"TXRNG", "Transmit Power", nullptr, {{25, 0, 4}}}, // 26
    {"TXRATE", "Transmit Bitrate", nullptr, {{41, 0, 8}, {40, 0, 8}}}, // 27
    {"TXCICDEC", "CIC Decimation factor", nullptr, {{39, 0, 8}, {38, 0, 2}}}, // 28
    {"PTTLCK GATE", "if set to 1, the transmitter is automatically disabled if the PLL looses lock", nullptr, {{26, 0, 1}}}, // 29
    {"ADCCLK", "A/D Converter Clock", nullptr, {{27, 0, 2}}}, // 30
    {"ADCCLK RUN", "Manual ADC Clock Control", nullptr, {{27, 2, 1}}}, // 31
    {"ADCCLK OVER", "ADC Clock Control Automatic Override", nullptr, {{27, 3, 1}}}, // 32
    {"ADCCLK INV", "Invert ADC Clock", nullptr, {{27, 4, 1}}}, // 33
    {"AGCTARGET", "ADC Value, above which AGC gain is reduced", nullptr, {{28, 0, 5}}}, // 34
    {"AGCATTACK", "AGC gain reduction speed", nullptr, {{29, 0, 5}}}, // 35
    {"AGC FREEZE", "AGC Freeze", "if set to 1, AGC gain value is frozen; if set to 0, AGC works normally", {{29, 5, 1}}}, // 36
    {"AGCMODE", "AGC Mode", nullptr, {{29, 6, 2}}}, // 37
    {"AGCDECAY", "AGC gain increase speed", nullptr, {{30, 0, 5}}}, // 38
    {"AGCDSP", "AGC value from DSPmode interface", "if set to 1, AGC gain value is taken from DSPmode interface", {{30, 5, 1}}}, // 39
    {"AGCDIS DIGSTEP", "disable digital AGC step", "if 1, the internal digital AGC step is disabled", {{30, 6, 2}}}, // 40
    {"AGCCOUNTER", "Current AGC Gain", "Current AGC Gain, in 0.625dB steps", {{31, 0, 8}}}, // 41
    {"CICDEC", "CIC Decimation factor", nullptr, {{33, 0, 8}, {32, 0, 2}}}, // 42
    {"DATARATE", "Receive Datarate", nullptr, {{35, 0, 8}, {34, 0, 8}}}, // 43
    {"TMGGAIN", "Receive Timing Recovery Gain", nullptr, {{37, 0, 8}, {36, 0, 8}}}, // 44
    {"PHASEGAIN", "Gain of the phase recovery loop", nullptr, {{44, 0, 4}}}, // 45
    {"SMPLCLKSRC", "DSPmode Interface Sample Clock Source", nullptr, {{44, 6, 2}}}, // 46
    {"FREQGAIN", "Gain of the frequency recovery loop", "Gain of the frequency recovery loop; the frequency error is measured with the phase detector", {{45, 0, 4}}}, // 47
    {"FREQLIM", "Limit max. frequency offset to +-0.25 DATARATE", nullptr, {{45, 7, 1}}}, // 48
    {"FREQGAIN2", "Gain of the frequency recovery loop", "Gain of the frequency recovery loop; the frequency error is measured with the frequency detector", {{46, 0, 4}}}, // 49
    {"AMPLGAIN", "Gain of the amplitude recovery loop", nullptr, {{47, 0, 4}}}, // 50
    {"AMPLAVG", "Peak Detector / Averaging", "if 0, the amplitude is recovered by a peak detector with decay; if 1, the amplitude is recovered by averaging", {{47, 4, 1}}}, // 51
    {"XTALCAP", "Crystal Load Capacitance", "Crystal Load Capacitance in 0.5pF steps", {{48, 0, 6}}}, // 52
    {"FOURFSKENA (Rx)", "Enable 4-FSK", nullptr, {{49, 0, 1}}}, // 53
    {"DEVUPDATE (Rx)", "Enable Deviation Update", "Enable Automatic Frequency Deviation Measurement", {{49, 1, 1}}}, // 54
    {"FSKHALFSPEED (Rx)", "Enable FSK Half Speed Mode", "if 1, the FSK Bitrate is halved", {{49, 2, 1}}}, // 55
    {"DEVDECAY (Rx)", "Deviation Update Decay", "Frequency Deviation Recovery Loop Bandwidth", {{49, 3, 4}}}, // 56
    {"FOURFSKENA (Tx)", "Enable 4-FSK", nullptr, {{50, 0, 1}}}, // 57
    {"FSKDMIN", "FSK Deviation Minimum", "Minimal Received Frequency", {{54, 0, 8}, {53, 0, 8}}}, // 58
    {"FSKDMAX", "FSK Deviation Maximum", "Maximal Received Frequency", {{52, 0, 8}, {51, 0, 8}}}, // 59
    {"VCOI", "", "", {{55, 0, 3}}}, // 60
};

} // namespace KORVIK
