// Feeds arbitrary flash contents to the NV sector code: the pure parser and
// builder, layouts of any offsets, and a simulated board of each chip type
// that reads the sector into its model and stores its defaults back.
// Input: one byte choosing the chip and the layout offsets, then the sector
// (cut or padded with 0xFF to 512 bytes).

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <stdexcept>

#include "board/NvSector.h"
#include "board/SimBoard.h"

namespace {

const char* const CHIPS[] = {"RC1200", "RC1400", "RC1100", "RC1300"};

void require(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "fuzz_nvsector: %s\n", what);
        std::abort();
    }
}

/// A sector that was built from parsed contents must parse to the same
/// contents: storing what was read must not change the board's defaults.
void check_round_trip(const uint8_t* sector)
{
    uint8_t first[KORVIK::NV_SECTOR_BYTES], second[KORVIK::NV_SECTOR_BYTES];
    KORVIK::build_nvsector_first(KORVIK::parse_nvsector_first(sector), first);
    KORVIK::build_nvsector_first(KORVIK::parse_nvsector_first(first), second);
    require(std::memcmp(first, second, sizeof first) == 0, "first layout is not stable after one round trip");
}

/// Layouts with offsets taken from the sector itself: the valid ones parse
/// and build inside the sector, the others are refused.
void check_layout(const uint8_t* sector)
{
    KORVIK::NvLayout layout{sector[1], unsigned(sector[2]) * 2, unsigned(sector[3]) * 2, unsigned(sector[4]) * 2,
                            sector[5]};
    uint8_t out[KORVIK::NV_SECTOR_BYTES];
    std::memset(out, 0xFF, sizeof out);
    try {
        KORVIK::NvDefaults d = KORVIK::nv_get_defaults(layout, sector);
        require(KORVIK::nv_layout_valid(layout), "invalid layout was parsed");
        KORVIK::nv_put_defaults(layout, d, out);
    } catch (const std::logic_error&) {
        require(!KORVIK::nv_layout_valid(layout), "valid layout was refused");
    }
    uint8_t mac[6];
    KORVIK::nv_get_mac_text(sector, sector[6] % (KORVIK::NV_SECTOR_BYTES - KORVIK::NV_MAC_DESCRIPTOR_BYTES + 1), mac);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // the board dumps every sector it reads
    std::cerr.rdbuf(nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const uint8_t selector = data[0];
    uint8_t sector[KORVIK::NV_SECTOR_BYTES];
    std::memset(sector, 0xFF, sizeof sector);
    std::memcpy(sector, data + 1, std::min<size_t>(size - 1, sizeof sector));

    check_round_trip(sector);
    check_layout(sector);

    // the board path: flash written through the unlock protocol, read into
    // the model, stored again (a simulated board must verify what it wrote)
    KORVIK::SimBoard board("1234567", "fuzz0", "fuzz", CHIPS[selector & 3], "020000000001", nullptr);
    board.write_nvsector(sector);
    board.read_boardnv();
    if (selector & 4)
        board.load_boarddefaults();
    board.store_boarddefaults();
    uint8_t stored[KORVIK::NV_SECTOR_BYTES];
    board.load_nv(stored);
    board.read_boardnv();
    board.store_boarddefaults();
    uint8_t again[KORVIK::NV_SECTOR_BYTES];
    board.load_nv(again);
    // the register area follows the chip values, which taking a crystal
    // re-derives; identity, crystal and channel access must stay as stored
    const unsigned area = KORVIK::NV_LAYOUT_FIRST.area, area_end = area + KORVIK::NV_AREA_BYTES;
    require(std::memcmp(stored, again, area) == 0
                && std::memcmp(stored + area_end, again + area_end, sizeof stored - area_end) == 0,
            "board defaults change when stored twice");
    return 0;
}
