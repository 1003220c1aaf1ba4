#include "board/SimBoard.h"

#include "board/FlashUnlock.h"

#include <cstring>
#include <stdexcept>

#include "board/FrameTap.h"
#include "board/Protocol.h"
#include "board/VirtualAir.h"

namespace KORVIK {

SimBoard::SimBoard(const std::string& serial, const std::string& interface, const std::string& display_name,
                   const std::string& mac, BoardRegistry* registry)
    : EvUSBBoard(registry, serial, interface, display_name, mac)
{
    for (uint16_t& w : flash)
        w = 0xFFFF;
    std::memset(registers, 0, sizeof registers);
    // what the board holds before anything was sent: the host's own view
    chacc_sent = chacc;
    VirtualAir::instance().attach(this);
    signal_changed_transmit_cw.connect([this] { VirtualAir::instance().transmit_cw_changed(this); });
}

SimBoard::~SimBoard()
{
    VirtualAir::instance().detach(this);
}

SimBoard::SimBoard(const std::string& serial, const std::string& interface, const std::string& display_name,
                   const std::string& chip, const std::string& mac, BoardRegistry* registry)
    : SimBoard(serial, interface, display_name, mac, registry)
{
    attach_chip_model(chip);
}

unsigned SimBoard::get_boardflags()
{
    return 1;
}

int SimBoard::queue_net_packet(const uint8_t* data, unsigned len, const uint8_t* destination_mac)
{
    VirtualAir& air = VirtualAir::instance();
    if (!air.is_enabled() || !(get_chipflags() & 2))
        throw std::runtime_error("no packet io");
    const int sent = air.transmit(this, data, len);
    if (sent == 0 && is_frame_tap_set()) {
        // in a capture, as the frame the host would send to a real board
        const std::vector<uint8_t> frame = protocol::build_frame(destination_mac ? destination_mac : nv_radio_ethernet_mac,
                                                                 ethernet_mac, protocol::ETHERTYPE_NET, data, len);
        tap_frame(interface, frame.data(), unsigned(frame.size()));
    }
    return sent;
}

void SimBoard::receive_from_air(const uint8_t* data, unsigned len, const uint8_t* source_mac, int16_t rssi,
                                int32_t frequency_offset)
{
    if (dead)
        return;
    if (is_frame_tap_set() && len >= 2) {
        // as the radio receive record a real board would send: the length
        // word and the payload after the two length bytes
        const int8_t strength = int8_t(rssi < -128 ? -128 : rssi > 127 ? 127 : rssi);
        std::vector<uint8_t> record = protocol::build_radio_record(int16_t(frequency_offset), strength, data + 2, len - 2);
        const std::vector<uint8_t> frame = protocol::build_frame(protocol::BROADCAST_MAC, ethernet_mac,
                                                                 protocol::ETHERTYPE_RADIO, record.data(),
                                                                 unsigned(record.size()));
        tap_frame(interface, frame.data(), unsigned(frame.size()));
    }
    ++rx_pkt_count;
    signal_changed_packetcounters.emit();
    signal_receive.emit(data, len, source_mac, rssi, frequency_offset);
}

void SimBoard::report_channel(int16_t rssi, bool carrier, uint16_t ticks)
{
    USBDeviceStatus s;
    s.ticks = ticks;
    s.value1 = uint16_t(rssi);
    s.flag0 = carrier;
    // the state byte stands for what a running board reports; the
    // reprogramming machine is left alone, as nothing calibrates here
    s.progstate = ethstate;
    if (is_frame_tap_set()) {
        const std::vector<uint8_t> packet = protocol::build_status_packet(s);
        const std::vector<uint8_t> frame = protocol::build_frame(protocol::BROADCAST_MAC, ethernet_mac,
                                                                 protocol::ETHERTYPE_VENDOR, packet.data(),
                                                                 unsigned(packet.size()));
        tap_frame(interface, frame.data(), unsigned(frame.size()));
    }
    signal_status.emit(s);
}

void SimBoard::leave_registry()
{
    // mark first: leaving the registry may drop the last reference
    dead = true;
    EvUSBBoard::leave_registry();
}

bool SimBoard::is_dead()
{
    return dead;
}

bool SimBoard::is_net_up()
{
    return false;
}

int SimBoard::get_report11()
{
    return 0;
}

void SimBoard::set_report10(bool, bool)
{
}

void SimBoard::evusb_write(uint16_t address, uint8_t value)
{
    if (address < REGISTER_SPACE)
        registers[address] = value;
}

uint16_t SimBoard::evusb_read16(uint16_t address)
{
    if (address >= REGISTER_SPACE)
        return 0xFFFF;
    return uint16_t(registers[address] | registers[address ^ 1] << 8);
}

void SimBoard::set_flashctl(uint8_t v)
{
    const FlashStep step = flash_unlock_step(flash_state, v);
    if (step.erase)
        for (uint16_t& w : flash)
            w = 0xFFFF;
    flash_state = step.state;
}

int SimBoard::get_flashctl()
{
    return flash_state;
}

void SimBoard::set_flashaddr(uint8_t a)
{
    flash_address = a;
}

int SimBoard::get_flashaddr()
{
    return flash_address;
}

void SimBoard::set_flashdata(uint16_t w)
{
    if (flash_state == 2)
        flash[flash_address] = w;
}

int SimBoard::get_flashdata()
{
    return flash[flash_address];
}

void SimBoard::evusb_set_ethstate(uint8_t state)
{
    ethstate = (state == 0x10 || state == 0x20 || state == 0x30) ? state : 0;
}

int SimBoard::evusb_get_ethstate()
{
    return ethstate;
}

void SimBoard::set_chacc(const uint8_t block[9], const uint8_t addresses[12])
{
    chacc_sent.set_block(block);
    chacc_sent.set_addresses(addresses);
}

void SimBoard::get_chacc(uint8_t block[9], uint8_t addresses[12])
{
    chacc_sent.get_block(block);
    chacc_sent.get_addresses(addresses);
}

} // namespace KORVIK
