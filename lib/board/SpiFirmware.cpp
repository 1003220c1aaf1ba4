#include "board/SpiFirmware.h"

#include "board/FlashUnlock.h"

#include <cstring>

#include "board/Protocol.h"

namespace KORVIK {

namespace {

void board_packet(std::vector<uint8_t>& out, uint8_t id, const uint8_t* data, unsigned dlen)
{
    out = protocol::build_board_packet(id, data, dlen);
}

} // namespace

SpiFirmware::SpiFirmware(SpiFirmwareHooks& h) : hooks(h)
{
    std::memset(flash, 0xFF, sizeof flash);
}

void SpiFirmware::save_if_dirty()
{
    if (!flash_dirty)
        return;
    if (hooks.firmware_save_flash(flash, sizeof flash))
        flash_dirty = false;
}

void SpiFirmware::set_flash_control(uint8_t value)
{
    const FlashStep step = flash_unlock_step(flash_state, value);
    if (step.erase) {
        std::memset(flash, 0xFF, sizeof flash);
        // the erased sector must reach the file even when nothing is written after it
        flash_dirty = true;
    }
    if (step.relock) {
        // the end of a write sequence: keep what was written
        save_if_dirty();
    }
    flash_state = step.state;
}

bool SpiFirmware::answer(const uint8_t* p, size_t len, std::vector<uint8_t>& reply)
{
    if (!p || len < 4)
        return false;
    const unsigned l = unsigned(p[0]) << 8 | p[1];
    if (len < l + 2u || l < 2)
        return false;
    const bool set = (p[2] & 0x08) != 0;
    const uint8_t id = p[3];
    const uint8_t* d = p + 4;
    const unsigned dlen = l - 2;

    if (!set) {
        uint8_t out[5];
        switch (id) {
        case protocol::REPORT_11:
            out[0] = 0;
            board_packet(reply, id, out, 1);
            return true;
        case protocol::REPORT_CHACC:
            board_packet(reply, id, chacc, CHACC_SIZE);
            return true;
        case protocol::REPORT_STATE:
            out[0] = hooks.firmware_get_state();
            board_packet(reply, id, out, 1);
            return true;
        case protocol::REPORT_FLASHCTL:
            board_packet(reply, id, &flash_state, 1);
            return true;
        case protocol::REPORT_FLASHADDR:
            board_packet(reply, id, &flash_address, 1);
            return true;
        case protocol::REPORT_FLASHDATA:
            board_packet(reply, id, flash + 2 * flash_address, 2);
            return true;
        case protocol::REPORT_REGISTER: {
            uint16_t v = hooks.firmware_read_register(register_address);
            out[0] = uint8_t(register_address);
            out[1] = uint8_t(register_address >> 8);
            out[2] = 0;
            out[3] = uint8_t(v >> 8);
            out[4] = uint8_t(v);
            board_packet(reply, id, out, 5);
            return true;
        }
        default:
            return false; // 0x10 and unknown reports are never answered
        }
    }

    switch (id) {
    case protocol::REPORT_10:
        if (dlen < 1)
            return false;
        hooks.firmware_set_control((d[0] & 1) != 0, (d[0] & 2) != 0);
        break;
    case protocol::REPORT_CHACC:
        if (dlen < CHACC_SIZE)
            return false;
        std::memcpy(chacc, d, CHACC_SIZE);
        break;
    case protocol::REPORT_STATE:
        if (dlen < 1)
            return false;
        hooks.firmware_set_state(d[0]);
        break;
    case protocol::REPORT_FLASHCTL:
        if (dlen < 1) {
            flash_state = 0;
            return false;
        }
        set_flash_control(d[0]);
        break;
    case protocol::REPORT_FLASHADDR:
        if (dlen < 1)
            return false;
        flash_address = d[0];
        break;
    case protocol::REPORT_FLASHDATA:
        if (dlen < 2)
            return false;
        if (flash_state == 2) {
            flash[2 * flash_address] = d[0];
            flash[2 * flash_address + 1] = d[1];
            flash_dirty = true;
        }
        break;
    case protocol::REPORT_REGISTER:
        if (dlen < 4)
            return false;
        register_address = uint16_t(d[0] | d[1] << 8);
        if (d[2] != 0)
            hooks.firmware_write_register(register_address, d[3]);
        break;
    default:
        return false; // 0x11 sets and unknown reports are never answered
    }
    board_packet(reply, id, nullptr, 0);
    return true;
}

bool SpiFirmware::bpq_payload(const uint8_t* packet, size_t len, const uint8_t*& payload, unsigned& payload_len)
{
    if (!packet || len < 2)
        return false;
    const unsigned l = packet[0] | unsigned(packet[1]) << 8;
    if (l <= 5 || len < l - 3)
        return false;
    payload = packet + 2;
    payload_len = l - 5;
    return true;
}

} // namespace KORVIK
