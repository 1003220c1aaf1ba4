#pragma once

#include <cstdint>
#include <cstring>

namespace KORVIK {

/// Channel-access settings of the board firmware. The 9-byte block is also
/// the wire (report 0x20) and NV layout; the two addresses follow as 12 bytes.
struct ChannelAccessParams {
    enum { BLOCK_SIZE = 9, ADDRESSES_SIZE = 12 };

    uint8_t mode = 0;
    uint8_t ppersistence = 0x28;
    uint8_t slottime = 0x64;
    int8_t rssithreshold = -80;
    int8_t bgndthreshold = -1;
    uint8_t reserved = 0;
    uint8_t preamble = 0x0C;
    uint8_t addrmatchflags = 0;
    uint8_t addrlength = 6;
    uint8_t addr1[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    uint8_t addr2[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};

    void get_block(uint8_t out[BLOCK_SIZE]) const
    {
        out[0] = mode; out[1] = ppersistence; out[2] = slottime;
        out[3] = uint8_t(rssithreshold); out[4] = uint8_t(bgndthreshold);
        out[5] = reserved; out[6] = preamble; out[7] = addrmatchflags; out[8] = addrlength;
    }
    void set_block(const uint8_t in[BLOCK_SIZE])
    {
        mode = in[0]; ppersistence = in[1]; slottime = in[2];
        rssithreshold = int8_t(in[3]); bgndthreshold = int8_t(in[4]);
        reserved = in[5]; preamble = in[6]; addrmatchflags = in[7]; addrlength = in[8];
    }
    void get_addresses(uint8_t out[ADDRESSES_SIZE]) const
    {
        std::memcpy(out, addr1, 6);
        std::memcpy(out + 6, addr2, 6);
    }
    void set_addresses(const uint8_t in[ADDRESSES_SIZE])
    {
        std::memcpy(addr1, in, 6);
        std::memcpy(addr2, in + 6, 6);
    }
};

} // namespace KORVIK
