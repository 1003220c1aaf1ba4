#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "board/ChannelAccessParams.h"

namespace KORVIK {

/// Pure byte functions over a board's 512-byte NV sector. Every offset they
/// touch lies inside the sector, so any byte pattern read from flash is safe
/// to parse.
enum : unsigned {
    NV_SECTOR_BYTES = 512,
    NV_AREA_BYTES = 384,
    NV_SERIAL_CHARS = 7,
    NV_SERIAL_DESCRIPTOR_BYTES = 2 + 2 * NV_SERIAL_CHARS,
    NV_MAC_DESCRIPTOR_BYTES = 2 + 2 * 12,
};

/// Offsets of the fields that every sector layout holds: crystal frequency,
/// crystal tolerance, channel-access block, the two addresses, register area.
struct NvLayout {
    unsigned xtal, tolerance, chacc, addresses, area;
};

/// The layout of the plain (and simulated) board.
inline constexpr NvLayout NV_LAYOUT_FIRST{0x38, 0x3C, 0x40, 0x49, 0x55};
/// Offset of the MAC text descriptor and of the radio MAC in that layout.
inline constexpr unsigned NV_FIRST_MAC_TEXT = 0x10;
inline constexpr unsigned NV_FIRST_RADIO_MAC = 0x30;

/// The layout of the net board: the MACs as raw bytes, and the receive
/// record ethertype (0x0109 radio records, 0xFF08 plain frames).
inline constexpr NvLayout NV_LAYOUT_SECOND{0x024, 0x028, 0x02C, 0x035, 0x041};
inline constexpr unsigned NV_SECOND_ETHMAC = 0x010;
inline constexpr unsigned NV_SECOND_RADIO_ETHMAC = 0x01C;
inline constexpr unsigned NV_SECOND_RX_ETHERTYPE = 0x022;

/// True when every field of the layout fits into the sector.
bool nv_layout_valid(const NvLayout& layout);

/// Board defaults held in a sector: crystal, register area and channel access.
struct NvDefaults {
    /// Building: write crystal and area only with a model (else they stay 0xFF).
    bool has_model = false;
    uint32_t xtal_frequency = 0;
    double xtal_tolerance = 0.0;
    std::vector<uint8_t> area; ///< cut or padded with 0xFF to NV_AREA_BYTES
    ChannelAccessParams chacc;
};

/// Everything the first layout holds.
struct NvContents {
    bool has_serial = false; ///< parsing: the serial descriptor was present
    std::string serial;
    bool has_ethernet_mac = false; ///< parsing: the MAC descriptor was present
    uint8_t ethernet_mac[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    uint8_t radio_ethernet_mac[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    NvDefaults defaults;
};

/// Value of one hexadecimal digit (either case), -1 for anything else.
int hex_digit_value(int c);

void nv_put_u32(uint8_t* p, uint32_t v);
uint32_t nv_get_u32(const uint8_t* p);

/// Crystal tolerance in ppm as 32-bit fixed point with 8 fraction bits,
/// truncated toward zero and saturated (NaN stores 0).
int32_t nv_encode_tolerance(double ppm);
double nv_decode_tolerance(int32_t raw);

/// Serial descriptor at offset 0: 0x10 0x03 and 7 UTF-16LE characters,
/// padded with '0', longer serials cut.
void nv_put_serial(uint8_t* sector, const std::string& serial);
/// The decimal digits of the descriptor in order; false (serial untouched)
/// when the descriptor header is absent.
bool nv_get_serial(const uint8_t* sector, std::string& serial);

/// MAC as a USB string descriptor of 12 upper-case hex digits.
void nv_put_mac_text(uint8_t* sector, unsigned offset, const uint8_t mac[6]);
/// Reads the descriptor into mac: all 0xFF first, then byte by byte; the
/// first pair that is not two hex digits keeps its partial value and ends the
/// conversion. False (mac untouched) when the descriptor header is absent.
bool nv_get_mac_text(const uint8_t* sector, unsigned offset, uint8_t mac[6]);

/// Writes crystal, tolerance, channel access and area at the layout's offsets.
void nv_put_defaults(const NvLayout& layout, const NvDefaults& defaults, uint8_t* sector);
/// Reads the same fields back (has_model is set to true).
NvDefaults nv_get_defaults(const NvLayout& layout, const uint8_t* sector);

/// True when the sector holds an interrupted store: the identity word (the
/// serial descriptor's header, written last) is erased while other words
/// are not. An erased sector, or any sector with its identity word, is not.
bool nv_sector_interrupted(const uint8_t sector[NV_SECTOR_BYTES]);

/// Whole sector in the first layout (0xFF wherever nothing is stored).
void build_nvsector_first(const NvContents& contents, uint8_t sector[NV_SECTOR_BYTES]);
NvContents parse_nvsector_first(const uint8_t sector[NV_SECTOR_BYTES]);

} // namespace KORVIK
