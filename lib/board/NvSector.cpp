#include "board/NvSector.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace KORVIK {

namespace {

void check_layout(const NvLayout& layout)
{
    if (!nv_layout_valid(layout))
        throw std::logic_error("NV layout does not fit into the sector");
}

} // namespace

bool nv_layout_valid(const NvLayout& layout)
{
    return layout.xtal <= NV_SECTOR_BYTES - 4 && layout.tolerance <= NV_SECTOR_BYTES - 4
        && layout.chacc <= NV_SECTOR_BYTES - ChannelAccessParams::BLOCK_SIZE
        && layout.addresses <= NV_SECTOR_BYTES - ChannelAccessParams::ADDRESSES_SIZE
        && layout.area <= NV_SECTOR_BYTES - NV_AREA_BYTES;
}

int hex_digit_value(int c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

void nv_put_u32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

uint32_t nv_get_u32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

int32_t nv_encode_tolerance(double ppm)
{
    if (std::isnan(ppm))
        return 0;
    double v = std::trunc(ppm * 256.0);
    // saturate: a double outside the int32 range has no defined conversion
    if (v >= double(std::numeric_limits<int32_t>::max()))
        return std::numeric_limits<int32_t>::max();
    if (v <= double(std::numeric_limits<int32_t>::min()))
        return std::numeric_limits<int32_t>::min();
    return int32_t(v);
}

double nv_decode_tolerance(int32_t raw)
{
    return raw / 256.0;
}

void nv_put_serial(uint8_t* sector, const std::string& serial)
{
    sector[0] = NV_SERIAL_DESCRIPTOR_BYTES;
    sector[1] = 0x03;
    for (unsigned i = 0; i < NV_SERIAL_CHARS; ++i) {
        sector[2 + 2 * i] = i < serial.size() ? uint8_t(serial[i]) : uint8_t('0');
        sector[3 + 2 * i] = 0;
    }
}

bool nv_get_serial(const uint8_t* sector, std::string& serial)
{
    if (sector[0] != NV_SERIAL_DESCRIPTOR_BYTES || sector[1] != 0x03)
        return false;
    std::string digits;
    for (unsigned i = 0; i < NV_SERIAL_CHARS; ++i) {
        // only the low byte of each UTF-16 unit counts
        uint8_t lo = sector[2 + 2 * i];
        if (lo >= '0' && lo <= '9')
            digits += char(lo);
    }
    serial = digits;
    return true;
}

void nv_put_mac_text(uint8_t* sector, unsigned offset, const uint8_t mac[6])
{
    uint8_t* p = sector + offset;
    p[0] = NV_MAC_DESCRIPTOR_BYTES;
    p[1] = 0x03;
    static const char digits[] = "0123456789ABCDEF";
    for (unsigned i = 0; i < 6; ++i) {
        p[2 + 4 * i] = uint8_t(digits[mac[i] >> 4]);
        p[3 + 4 * i] = 0;
        p[4 + 4 * i] = uint8_t(digits[mac[i] & 15]);
        p[5 + 4 * i] = 0;
    }
}

bool nv_get_mac_text(const uint8_t* sector, unsigned offset, uint8_t mac[6])
{
    const uint8_t* p = sector + offset;
    if (p[0] != NV_MAC_DESCRIPTOR_BYTES || p[1] != 0x03)
        return false;
    std::memset(mac, 0xFF, 6);
    for (unsigned i = 0; i < 6; ++i) {
        int hi = hex_digit_value(p[2 + 4 * i]);
        int lo = hex_digit_value(p[4 + 4 * i]);
        if (hi < 0) {
            mac[i] = 0;
            break;
        }
        if (lo < 0) {
            mac[i] = uint8_t(hi);
            break;
        }
        mac[i] = uint8_t(hi << 4 | lo);
    }
    return true;
}

void nv_put_defaults(const NvLayout& layout, const NvDefaults& defaults, uint8_t* sector)
{
    check_layout(layout);
    if (defaults.has_model) {
        nv_put_u32(sector + layout.xtal, defaults.xtal_frequency);
        nv_put_u32(sector + layout.tolerance, uint32_t(nv_encode_tolerance(defaults.xtal_tolerance)));
        uint8_t* area = sector + layout.area;
        std::memset(area, 0xFF, NV_AREA_BYTES);
        std::memcpy(area, defaults.area.data(), std::min<size_t>(defaults.area.size(), NV_AREA_BYTES));
    }
    defaults.chacc.get_block(sector + layout.chacc);
    defaults.chacc.get_addresses(sector + layout.addresses);
}

NvDefaults nv_get_defaults(const NvLayout& layout, const uint8_t* sector)
{
    check_layout(layout);
    NvDefaults d;
    d.has_model = true;
    d.xtal_frequency = nv_get_u32(sector + layout.xtal);
    d.xtal_tolerance = nv_decode_tolerance(int32_t(nv_get_u32(sector + layout.tolerance)));
    d.area.assign(sector + layout.area, sector + layout.area + NV_AREA_BYTES);
    d.chacc.set_block(sector + layout.chacc);
    d.chacc.set_addresses(sector + layout.addresses);
    return d;
}

void build_nvsector_first(const NvContents& contents, uint8_t sector[NV_SECTOR_BYTES])
{
    std::memset(sector, 0xFF, NV_SECTOR_BYTES);
    nv_put_serial(sector, contents.serial);
    nv_put_mac_text(sector, NV_FIRST_MAC_TEXT, contents.ethernet_mac);
    std::memcpy(sector + NV_FIRST_RADIO_MAC, contents.radio_ethernet_mac, 6);
    nv_put_defaults(NV_LAYOUT_FIRST, contents.defaults, sector);
}

NvContents parse_nvsector_first(const uint8_t sector[NV_SECTOR_BYTES])
{
    NvContents c;
    c.has_serial = nv_get_serial(sector, c.serial);
    c.has_ethernet_mac = nv_get_mac_text(sector, NV_FIRST_MAC_TEXT, c.ethernet_mac);
    std::memcpy(c.radio_ethernet_mac, sector + NV_FIRST_RADIO_MAC, 6);
    c.defaults = nv_get_defaults(NV_LAYOUT_FIRST, sector);
    return c;
}

bool nv_sector_interrupted(const uint8_t sector[NV_SECTOR_BYTES])
{
    if (sector[0] != 0xFF || sector[1] != 0xFF)
        return false;
    for (unsigned i = 2; i < NV_SECTOR_BYTES; ++i)
        if (sector[i] != 0xFF)
            return true;
    return false;
}

} // namespace KORVIK
