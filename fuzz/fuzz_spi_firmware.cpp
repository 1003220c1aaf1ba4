// Feeds arbitrary host packets to the firmware of a direct SPI board: vendor
// requests (raw, or built by the host's own request builders from fuzzed
// fields) and length-framed network packets, as the worker takes them from
// its queue. Every reply must be a vendor packet the host can classify, and
// every network payload must lie inside its packet.
// Input: a sequence of chunks, each a one-byte operation, a one-byte length
// and that many bytes.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "board/Protocol.h"
#include "board/SpiFirmware.h"

namespace {

void require(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "fuzz_spi_firmware: %s\n", what);
        std::abort();
    }
}

/// A chip with a full 16-bit register space in memory.
class FuzzChip : public KORVIK::SpiFirmwareHooks {
public:
    void firmware_write_register(uint16_t address, uint8_t value) override { registers[address] = value; }
    uint16_t firmware_read_register(uint16_t address) override
    {
        return uint16_t(registers[address] << 8 | registers[uint16_t(address + 1)]);
    }
    void firmware_set_state(uint8_t s) override { state = s; }
    uint8_t firmware_get_state() override { return state; }
    void firmware_set_control(bool, bool) override {}
    bool firmware_save_flash(const uint8_t* flash, size_t len) override
    {
        require(len == KORVIK::SpiFirmware::FLASH_SIZE, "flash saved with a wrong size");
        saved.assign(flash, flash + len);
        return true;
    }

    std::vector<uint8_t> registers = std::vector<uint8_t>(0x10000);
    uint8_t state = 0;
    std::vector<uint8_t> saved;
};

void check_reply(const std::vector<uint8_t>& request, const std::vector<uint8_t>& reply)
{
    require(reply.size() >= 4, "reply shorter than a vendor packet");
    require(size_t(reply[0] << 8 | reply[1]) + 2 == reply.size(), "reply length field does not match");
    require(reply[2] == KORVIK::protocol::DIRECTION_TO_HOST, "reply without the direction to the host");
    require(reply[3] == request[3], "reply for another report");
    std::vector<uint8_t> entry;
    KORVIK::protocol::VendorKind kind =
        KORVIK::protocol::classify_vendor_packet(reply.data(), unsigned(reply.size()), &entry);
    // a status id in the request is never answered as a status
    require(kind == KORVIK::protocol::VendorKind::Reply || reply[3] == KORVIK::protocol::REPORT_STATUS,
            "host does not take the reply as a reply");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzChip chip;
    KORVIK::SpiFirmware firmware(chip);
    for (size_t i = 0; i + 2 <= size;) {
        const uint8_t op = data[i];
        size_t len = data[i + 1];
        i += 2;
        if (len > size - i)
            len = size - i;
        std::vector<uint8_t> packet(data + i, data + i + len);
        i += len;

        if (op & 1) {
            const uint8_t* payload = nullptr;
            unsigned payload_len = 0;
            if (KORVIK::SpiFirmware::bpq_payload(packet.data(), packet.size(), payload, payload_len))
                require(payload_len > 0 && payload >= packet.data()
                            && payload + payload_len <= packet.data() + packet.size(),
                        "network payload outside its packet");
            continue;
        }
        // most requests should be well formed so that the reports are reached
        if (op & 2 && !packet.empty()) {
            const uint8_t id = packet[0];
            packet = op & 4 ? KORVIK::protocol::build_set_report(id, packet.data() + 1, unsigned(packet.size() - 1))
                            : KORVIK::protocol::build_get_report(id);
        }
        std::vector<uint8_t> reply;
        if (firmware.answer(packet.data(), packet.size(), reply))
            check_reply(packet, reply);
        require(firmware.flash_state <= 2, "flash control in an unknown state");
        if (op & 8)
            firmware.save_if_dirty();
    }
    return 0;
}
