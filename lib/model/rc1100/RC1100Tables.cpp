#include "model/rc1100/RC1100Model.h"

namespace KORVIK {

// Register table: name, chip address, operating address, default, mask, direction.
const RegisterRow RC1100Model::register_rows[35] = {
    {"XTALOSC", 0x03, 0x03, 0x02, 0x0F, REG_RECEIVE | REG_TRANSMIT}, // 0
    {"IFMODE", 0x08, 0x08, 0x00, 0x0F, REG_RECEIVE | REG_TRANSMIT}, // 1
    {"MODULATION", 0x10, 0x10, 0x02, 0x7F, REG_TRANSMIT}, // 2
    {"ENCODING", 0x11, 0x11, 0x02, 0x1F, REG_RECEIVE | REG_TRANSMIT}, // 3
    {"FRAMING", 0x12, 0x12, 0x00, 0x7E, REG_RECEIVE | REG_TRANSMIT}, // 4
    {"CRCINIT3", 0x14, 0x14, 0xFF, 0xFF, REG_RECEIVE | REG_TRANSMIT}, // 5
    {"CRCINIT2", 0x15, 0x15, 0xFF, 0xFF, REG_RECEIVE | REG_TRANSMIT}, // 6
    {"CRCINIT1", 0x16, 0x16, 0xFF, 0xFF, REG_RECEIVE | REG_TRANSMIT}, // 7
    {"CRCINIT0", 0x17, 0x17, 0xFF, 0xFF, REG_RECEIVE | REG_TRANSMIT}, // 8
    {"FEC", 0x18, 0x18, 0x00, 0xFF, REG_RECEIVE | REG_TRANSMIT}, // 9
    {"FREQ3", 0x20, 0x81, 0x39, 0xFF, REG_RECEIVE}, // 10
    {"FREQ2", 0x21, 0x82, 0x34, 0xFF, REG_RECEIVE}, // 11
    {"FREQ1", 0x22, 0x83, 0xCC, 0xFF, REG_RECEIVE}, // 12
    {"FREQ0", 0x23, 0x84, 0xCD, 0xFF, REG_RECEIVE}, // 13
    {"FREQ3", 0x20, 0x86, 0x39, 0xFF, REG_TRANSMIT}, // 14
    {"FREQ2", 0x21, 0x87, 0x34, 0xFF, REG_TRANSMIT}, // 15
    {"FREQ1", 0x22, 0x88, 0xCC, 0xFF, REG_TRANSMIT}, // 16
    {"FREQ0", 0x23, 0x89, 0xCD, 0xFF, REG_TRANSMIT}, // 17
    {"FSKDEV2", 0x25, 0x25, 0x02, 0xFF, REG_TRANSMIT}, // 18
    {"FSKDEV1", 0x26, 0x26, 0x66, 0xFF, REG_TRANSMIT}, // 19
    {"FSKDEV0", 0x27, 0x27, 0x66, 0xFF, REG_TRANSMIT}, // 20
    {"PLLLOOP", 0x2C, 0x8A, 0x1D, 0x3F, REG_RECEIVE}, // 21
    {"PLLLOOP", 0x2C, 0x8B, 0x1D, 0x3F, REG_TRANSMIT}, // 22
    {"PLLRANGING", 0x2D, 0x80, 0x08, 0x0F, REG_RECEIVE}, // 23
    {"PLLRANGING", 0x2D, 0x85, 0x08, 0x0F, REG_TRANSMIT}, // 24
    {"PLLRNGCLK", 0x2E, 0x2E, 0x03, 0x07, REG_RECEIVE | REG_TRANSMIT}, // 25
    {"TXPWR", 0x30, 0x30, 0x08, 0x0F, REG_TRANSMIT}, // 26
    {"TXRATEHI", 0x31, 0x31, 0x09, 0xFF, REG_TRANSMIT}, // 27
    {"TXRATEMID", 0x32, 0x32, 0x99, 0xFF, REG_TRANSMIT}, // 28
    {"TXRATELO", 0x33, 0x33, 0x9A, 0xFF, REG_TRANSMIT}, // 29
    {"MODMISC", 0x34, 0x34, 0x03, 0x00, REG_RECEIVE | REG_TRANSMIT}, // 30
    {"XTALCAP", 0x4F, 0x4F, 0x3F, 0x3F, REG_RECEIVE | REG_TRANSMIT}, // 31
    {"FOURFSK", 0x50, 0x50, 0x00, 0x01, REG_TRANSMIT}, // 32
    {"XTALOSCCFG", 0x51, 0x51, 0x00, 0x03, REG_RECEIVE | REG_TRANSMIT}, // 33
    {"PLLVCOI", 0x72, 0x72, 0x04, 0x3F, REG_RECEIVE | REG_TRANSMIT}, // 34
};

// Bitfield table: name, description, tooltip (null: same as description),
// segments (register index, lowest bit, width), least significant first.
const BitfieldRow RC1100Model::bitfield_rows[29] = {
    {"XTALOSCGM", "Gm (Gain) of the Crystal Oscillator", nullptr, {{0, 0, 4}}}, // 0
    {"IFMODE", "Interface Mode", nullptr, {{1, 0, 4}}}, // 1
    {"MODULATION (Tx)", "Tx Modulation", nullptr, {{2, 0, 7}}}, // 2
    {"ENC INV", "Invert data", nullptr, {{3, 0, 1}}}, // 3
    {"ENC DIFF", "Differential Encode/Decode data", nullptr, {{3, 1, 1}}}, // 4
    {"ENC SCRAM", "Enable Scrambler / Descrambler", nullptr, {{3, 2, 1}}}, // 5
    {"ENC MANCH", "Enable manchester encoding/decoding", "Enable manchester encoding/decoding. FM0/FM1 may be achieved by also appropriately setting ENC DIFF and ENC INV", {{3, 3, 1}}}, // 6
    {"ENC NOSYNC", "Disable DiBit Synchronisation", "Disable DiBit Synchronisation in 4-FSK mode", {{3, 4, 1}}}, // 7
    {"FRMMODE", "Framing Mode", nullptr, {{4, 1, 3}}}, // 8
    {"CRCMODE", "CRC Mode", nullptr, {{4, 4, 2}}}, // 9
    {"CRCINIT", "CRC Reset Value", nullptr, {{8, 0, 8}, {7, 0, 8}, {6, 0, 8}, {5, 0, 8}}}, // 10
    {"FREQ (Rx)", "Rx Frequency", nullptr, {{13, 0, 8}, {12, 0, 8}, {11, 0, 8}, {10, 0, 8}}}, // 11
    {"FREQ (Tx)", "Tx Frequency", nullptr, {{17, 0, 8}, {16, 0, 8}, {15, 0, 8}, {14, 0, 8}}}, // 12
    {"FSKDEV", "FSK Deviation", nullptr, {{20, 0, 8}, {19, 0, 8}, {18, 0, 8}}}, // 13
    {"FLT (Rx)", "Loop Filter", nullptr, {{21, 0, 2}}}, // 14
    {"PLLCPI (Rx)", "PLL Charge Pump Multiplier", "Charge Pump Current is PLLCPI * 10A", {{21, 2, 3}}}, // 15
    {"BANDSEL (Rx)", "Band Selection", nullptr, {{21, 5, 2}}}, // 16
    {"FLT (Tx)", "Loop Filter", nullptr, {{22, 0, 2}}}, // 17
    {"PLLCPI (Tx)", "PLL Charge Pump Multiplier", "Charge Pump Current is PLLCPI * 10A", {{22, 2, 3}}}, // 18
    {"BANDSEL (Tx)", "Band Selection", nullptr, {{22, 5, 2}}}, // 19
    {"VCOR (Rx)", "VCO Range", nullptr, {{23, 0, 4}}}, // 20
    {"VCOR (Tx)", "VCO Range", nullptr, {{24, 0, 4}}}, // 21
    {"PLLRNGCLK", "PLL Ranging Clock", nullptr, {{25, 0, 4}}}, // 22
    {"TXRNG", "Transmit Power", nullptr, {{26, 0, 4}}}, // 23
    {"TXRATE", "Transmit Bitrate", nullptr, {{29, 0, 8}, {28, 0, 8}, {27, 0, 8}}}, // 24
    {"PTTLCK GATE", "if set to 1, the transmitter is automatically disabled if the PLL looses lock", nullptr, {{30, 0, 1}}}, // 25
    {"XTALCAP", "Crystal Load Capacitance", "Crystal Load Capacitance in 0.5pF steps", {{31, 0, 6}}}, // 26
    {"FOURFSKENA (Tx)", "Enable 4-FSK", nullptr, {{32, 0, 1}}}, // 27
    {"VCOI", "", "", {{34, 0, 3}}}, // 28
};

} // namespace KORVIK
