#pragma once

// The firmware part of a direct SPI board: answers the host's vendor
// requests the way an evaluation board's firmware does, with the flash
// sector and channel-access block in memory and the chip behind hooks.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace KORVIK {

/// What the firmware needs from the board around it (worker thread only).
class SpiFirmwareHooks {
public:
    virtual void firmware_write_register(uint16_t address, uint8_t value) = 0;
    /// 16-bit value, the register at `address` in the high byte.
    virtual uint16_t firmware_read_register(uint16_t address) = 0;
    virtual void firmware_set_state(uint8_t state) = 0;
    virtual uint8_t firmware_get_state() = 0;
    virtual void firmware_set_control(bool line0, bool line1) = 0;
    /// Keeps the flash sector (the NV file); false when it could not.
    virtual bool firmware_save_flash(const uint8_t* flash, size_t len) = 0;

protected:
    ~SpiFirmwareHooks() = default;
};

class SpiFirmware {
public:
    enum { FLASH_SIZE = 512, FLASH_WORDS = 256, CHACC_SIZE = 21 };

    explicit SpiFirmware(SpiFirmwareHooks& hooks);

    /// Answers one host-to-board vendor packet. False when the request gets
    /// no reply (unknown report, malformed or missing data); otherwise
    /// `reply` is the board-to-host vendor packet.
    bool answer(const uint8_t* request, size_t len, std::vector<uint8_t>& reply);

    /// Saves the flash through the hooks when it changed since the last save;
    /// a failed save leaves it dirty, so a later one tries again.
    void save_if_dirty();

    /// The radio payload of a length-framed network packet (2-byte
    /// little-endian length L = payload + 5, then the payload); false when
    /// the packet is too short for its length or carries nothing.
    static bool bpq_payload(const uint8_t* packet, size_t len, const uint8_t*& payload, unsigned& payload_len);

    uint8_t flash[FLASH_SIZE];
    uint8_t flash_address = 0;
    uint8_t flash_state = 0;
    bool flash_dirty = false;
    uint16_t register_address = 0;
    uint8_t chacc[CHACC_SIZE] = {};

private:
    void set_flash_control(uint8_t value);

    SpiFirmwareHooks& hooks;
};

} // namespace KORVIK
