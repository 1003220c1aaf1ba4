#include "board/EvUSBBoard.h"
#include "board/ChannelAccessRules.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <stdexcept>

#include "board/NvSector.h"
#include "model/ChipModels.h"
#include "model/GreyfinModel.h"
#include "model/common/Diagnostics.h"

namespace KORVIK {

namespace {

const uint8_t BROADCAST[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};


/// Twelve hex digits, bare or in colon-separated pairs; anything else gives
/// the broadcast MAC.
void parse_mac_string(const std::string& text, uint8_t mac[6])
{
    std::memcpy(mac, BROADCAST, 6);
    // also the colon form "00:12:34:0A:0B:0C" that our own documents print
    const bool colons = text.size() == 17;
    if (text.size() != 12 && !colons)
        return;
    const unsigned stride = colons ? 3 : 2;
    for (unsigned i = 0; colons && i < 5; ++i)
        if (text[stride * i + 2] != ':')
            return;
    uint8_t out[6];
    for (unsigned i = 0; i < 6; ++i) {
        int hi = hex_digit_value((unsigned char)text[stride * i]);
        int lo = hex_digit_value((unsigned char)text[stride * i + 1]);
        if (hi < 0 || lo < 0)
            return;
        out[i] = uint8_t(hi << 4 | lo);
    }
    std::memcpy(mac, out, 6);
}

ChannelAccessParams factory_chacc(const uint8_t addr1[6])
{
    ChannelAccessParams p;
    std::memcpy(p.addr1, addr1, 6);
    std::memcpy(p.addr2, BROADCAST, 6);
    return p;
}

} // namespace

EvUSBBoard::EvUSBBoard(BoardRegistry* registry_, const std::string& serial_, const std::string& interface_,
                       const std::string& display_name_, const std::string& mac)
    : registry(registry_), serial(serial_), interface(interface_), display_name(display_name_), nv_serial(serial_)
{
    parse_mac_string(mac, ethernet_mac);
    std::memcpy(radio_ethernet_mac, ethernet_mac, 6);
    // no carry into the fifth byte: 0xFF stays 0xFF
    if (radio_ethernet_mac[5] != 0xFF)
        ++radio_ethernet_mac[5];
    std::memcpy(nv_ethernet_mac, ethernet_mac, 6);
    std::memcpy(nv_radio_ethernet_mac, radio_ethernet_mac, 6);
    chacc = factory_chacc(radio_ethernet_mac);
    nv_chacc = chacc;
}

EvUSBBoard::~EvUSBBoard()
{
    // private copies (parameter probes, transactions) have no interface and
    // are no board anybody has: their lines would bury the real boards' ones
    const bool lifecycle_lines = !interface.empty();
    if (lifecycle_lines)
        diag() << "EvUSBBoard::~EvUSBBoard start" << std::endl;
    model_connection_a.disconnect();
    model_connection_b.disconnect();
    if (lifecycle_lines)
        diag() << "EvUSBBoard::~EvUSBBoard end" << std::endl;
    delete model;
    model = nullptr;
}

void EvUSBBoard::reference()
{
    ++refcount;
    diag() << "EvUSBBoard::reference: " << refcount << " 0x" << std::hex << reinterpret_cast<uintptr_t>(this)
              << std::dec << ' ' << serial << ' ' << display_name << std::endl;
}

void EvUSBBoard::unreference()
{
    --refcount;
    diag() << "EvUSBBoard::unreference: " << refcount << " 0x" << std::hex << reinterpret_cast<uintptr_t>(this)
              << std::dec << ' ' << serial << ' ' << display_name << std::endl;
    if (refcount != 0)
        return;
    if (busy)
        delete_pending = true;
    else
        delete this;
}

EvUSBBoard::BusyGuard::~BusyGuard()
{
    if (--board->busy == 0 && board->delete_pending) {
        board->delete_pending = false;
        // a reference may have been taken again meanwhile
        if (board->refcount == 0)
            delete board;
    }
}

unsigned EvUSBBoard::get_boardflags()
{
    return 0;
}

void EvUSBBoard::leave_registry()
{
    if (registry)
        registry->release_board(this);
}

bool EvUSBBoard::is_dead()
{
    return true;
}

bool EvUSBBoard::is_net_up()
{
    return false;
}

// ---- Channel access: getters ----

std::list<std::string> EvUSBBoard::get_chacc_supported_channelaccessmodes()
{
    return {"Immediate", "CSMA"};
}

int EvUSBBoard::get_chacc_channelaccessmode()
{
    return chacc.mode;
}

double EvUSBBoard::get_chacc_ppersistence()
{
    return chacc.ppersistence / 255.0;
}

double EvUSBBoard::get_chacc_slottime()
{
    return chacc.slottime * 0.001;
}

double EvUSBBoard::get_chacc_rssithreshold()
{
    return chacc.rssithreshold;
}

double EvUSBBoard::get_chacc_bgndthreshold()
{
    return chacc.bgndthreshold;
}

unsigned EvUSBBoard::get_chacc_preamble()
{
    return chacc.preamble;
}

double EvUSBBoard::get_chacc_preamble_sec()
{
    double bitrate = model ? model->get_tx_bitrate() : 0.0;
    // slow or unknown rates count as 100 bit/s (also catches NaN)
    if (!(bitrate >= 100.0))
        bitrate = 100.0;
    return chacc.preamble * 8.0 / bitrate;
}

unsigned EvUSBBoard::get_chacc_addrlength()
{
    return chacc.addrlength;
}

bool EvUSBBoard::get_chacc_addrmatch1()
{
    return chacc.addrmatchflags & 1;
}

bool EvUSBBoard::get_chacc_addrmatch2()
{
    return chacc.addrmatchflags & 2;
}

void EvUSBBoard::get_chacc_addr1(uint8_t* out6)
{
    if (out6)
        std::memcpy(out6, chacc.addr1, 6);
}

void EvUSBBoard::get_chacc_addr2(uint8_t* out6)
{
    if (out6)
        std::memcpy(out6, chacc.addr2, 6);
}

// ---- Channel access: setters ----

void EvUSBBoard::send_chacc()
{
    uint8_t block[ChannelAccessParams::BLOCK_SIZE];
    uint8_t addresses[ChannelAccessParams::ADDRESSES_SIZE];
    chacc.get_block(block);
    chacc.get_addresses(addresses);
    set_chacc(block, addresses);
}

void EvUSBBoard::emit_all_chacc_signals()
{
    signal_changed_chacc_channelaccessmode.emit();
    signal_changed_chacc_ppersistence.emit();
    signal_changed_chacc_slottime.emit();
    signal_changed_chacc_rssithreshold.emit();
    signal_changed_chacc_bgndthreshold.emit();
    signal_changed_chacc_preamble.emit();
    signal_changed_chacc_addrmatch1.emit();
    signal_changed_chacc_addrmatch2.emit();
    signal_changed_chacc_addrlength.emit();
    signal_changed_chacc_addr1.emit();
    signal_changed_chacc_addr2.emit();
}

void EvUSBBoard::set_chacc_channelaccessmode(int mode)
{
    if (ChannelAccessRules::set_mode(chacc, mode))
        chacc_changed(signal_changed_chacc_channelaccessmode);
}

void EvUSBBoard::set_chacc_ppersistence(double p)
{
    if (ChannelAccessRules::set_ppersistence(chacc, p))
        chacc_changed(signal_changed_chacc_ppersistence);
}

void EvUSBBoard::set_chacc_slottime(double seconds)
{
    if (ChannelAccessRules::set_slottime(chacc, seconds))
        chacc_changed(signal_changed_chacc_slottime);
}

void EvUSBBoard::set_chacc_rssithreshold(double dbm)
{
    if (ChannelAccessRules::set_rssithreshold(chacc, dbm))
        chacc_changed(signal_changed_chacc_rssithreshold);
}

void EvUSBBoard::set_chacc_bgndthreshold(double v)
{
    if (ChannelAccessRules::set_bgndthreshold(chacc, v))
        chacc_changed(signal_changed_chacc_bgndthreshold);
}

void EvUSBBoard::set_chacc_preamble(uint8_t bytes)
{
    if (ChannelAccessRules::set_preamble(chacc, bytes))
        chacc_changed(signal_changed_chacc_preamble);
}

void EvUSBBoard::set_chacc_addrlength(uint8_t n)
{
    if (!ChannelAccessRules::set_addrlength(chacc, n))
        return;
    chacc_changed(signal_changed_chacc_addrlength);
    if (ChannelAccessRules::drop_matches_if_empty(chacc)) {
        send_chacc();
        signal_changed_chacc_addrmatch1.emit();
        signal_changed_chacc_addrmatch2.emit();
    }
}

void EvUSBBoard::set_chacc_addrmatch1(bool on)
{
    if (ChannelAccessRules::set_addrmatch(chacc, 1, on))
        chacc_changed(signal_changed_chacc_addrmatch1);
}

void EvUSBBoard::set_chacc_addrmatch2(bool on)
{
    if (ChannelAccessRules::set_addrmatch(chacc, 2, on))
        chacc_changed(signal_changed_chacc_addrmatch2);
}

void EvUSBBoard::set_chacc_addr1(const uint8_t* addr6)
{
    if (ChannelAccessRules::set_addr(chacc.addr1, addr6))
        chacc_changed(signal_changed_chacc_addr1);
}

void EvUSBBoard::set_chacc_addr2(const uint8_t* addr6)
{
    if (ChannelAccessRules::set_addr(chacc.addr2, addr6))
        chacc_changed(signal_changed_chacc_addr2);
}

void EvUSBBoard::chacc_changed(sigc::signal<void()>& changed)
{
    send_chacc();
    changed.emit();
}

// ---- Model ----

void EvUSBBoard::attach_chip_model(const std::string& chip)
{
    const ChipModelEntry& row = find_chip_model(chip);
    if (row.model_factory)
        set_model(row.model_factory(this));
}

void EvUSBBoard::set_model(GreyfinModel* m)
{
    if (m == model)
        return;
    model_connection_a.disconnect();
    model_connection_b.disconnect();
    delete model;
    model = m;
    if (!model)
        return;
    model_connection_a = model->signal_terminate_autoranging.connect([](int, int) {});
    // the firmware recalibrates the synthesizer for the new framing
    model_connection_b = model->signal_changed_framingmode.connect([this] { start_reprogramming(3); });
}

unsigned EvUSBBoard::get_chipflags() const
{
    return model ? model->get_chipflags() : 0;
}

unsigned EvUSBBoard::get_match_address(uint8_t* out, unsigned max)
{
    if (model && !model->is_framingmode_hdlc())
        return 0;
    const uint8_t* addr = nullptr;
    if (chacc.addrmatchflags & 1)
        addr = chacc.addr1;
    else if (chacc.addrmatchflags & 2)
        addr = chacc.addr2;
    else
        return 0;
    // a length read back from the board may exceed the 6 stored bytes
    unsigned length = std::min<unsigned>(chacc.addrlength, 6);
    if (out)
        std::memcpy(out, addr, std::min(max, length));
    return length;
}

void EvUSBBoard::reset_packetcounters()
{
    rx_pkt_count = 0;
    tx_pkt_count = 0;
    signal_changed_packetcounters.emit();
}

// ---- NV identity ----

void EvUSBBoard::set_nv_ethmac(const uint8_t* mac)
{
    if (!mac)
        return;
    std::memcpy(nv_ethernet_mac, mac, 6);
    signal_changed_nv_ethmac.emit();
}

void EvUSBBoard::set_nv_radio_ethmac(const uint8_t* mac)
{
    if (!mac)
        return;
    std::memcpy(nv_radio_ethernet_mac, mac, 6);
    signal_changed_nv_radio_ethmac.emit();
}

void EvUSBBoard::set_nv_serial(const std::string& s)
{
    nv_serial = s;
    signal_changed_nv_serial.emit();
}

// ---- Loading settings ----

void EvUSBBoard::load_chipoperating()
{
    if (model) {
        model->load_chipoperating();
        model->commit_registers();
    }
    uint8_t block[ChannelAccessParams::BLOCK_SIZE];
    uint8_t addresses[ChannelAccessParams::ADDRESSES_SIZE];
    // a failed read leaves the blocks as they are, so keep the current values
    chacc.get_block(block);
    chacc.get_addresses(addresses);
    get_chacc(block, addresses);
    chacc.set_block(block);
    chacc.set_addresses(addresses);
    emit_all_chacc_signals();
}

void EvUSBBoard::load_chipdefaults()
{
    std::memcpy(nv_ethernet_mac, ethernet_mac, 6);
    std::memcpy(nv_radio_ethernet_mac, radio_ethernet_mac, 6);
    nv_serial = serial;
    if (model) {
        model->load_chipdefaults();
        model->commit_registers();
    }
    signal_changed_nv_ethmac.emit();
    signal_changed_nv_radio_ethmac.emit();
    signal_changed_nv_serial.emit();
    chacc = factory_chacc(BROADCAST);
    emit_all_chacc_signals();
}

void EvUSBBoard::load_boarddefaults()
{
    if (model) {
        model->load_boarddefaults();
        model->commit_registers();
    }
    chacc = nv_chacc;
    emit_all_chacc_signals();
}

// ---- Packets ----

void EvUSBBoard::send_packet(const uint8_t* data, unsigned len, const uint8_t* address)
{
    const uint8_t* mac = address ? address : nv_radio_ethernet_mac;
    if (queue_net_packet(data, len, mac) != 0)
        throw std::runtime_error("send_net_packet failed");
    ++tx_pkt_count;
    signal_changed_packetcounters.emit();
    signal_transmit.emit(data, len, mac);
}

void EvUSBBoard::send_bpq_packet(const uint8_t* data, unsigned len, const uint8_t* address)
{
    // the length word cannot describe a longer packet
    if (len > 0xFFFFu - 5)
        throw std::runtime_error("send_net_packet failed");
    std::vector<uint8_t> packet(len + 2);
    uint16_t word = uint16_t(len + 5);
    packet[0] = uint8_t(word);
    packet[1] = uint8_t(word >> 8);
    if (len)
        std::memcpy(packet.data() + 2, data, len);
    send_packet(packet.data(), unsigned(packet.size()), address);
}

// ---- NV sector ----

EvUSBBoard::NvLayout EvUSBBoard::nv_layout() const
{
    return NV_LAYOUT_FIRST;
}

NvDefaults EvUSBBoard::current_nv_defaults() const
{
    NvDefaults d;
    if (model) {
        d.has_model = true;
        d.xtal_frequency = model->get_xtal_frequency();
        d.xtal_tolerance = model->get_xtal_tolerance();
        d.area = model->get_nvarea();
    }
    d.chacc = chacc;
    return d;
}

void EvUSBBoard::build_nvsector(uint8_t buffer[NV_SECTOR_SIZE])
{
    NvContents c;
    c.serial = nv_serial;
    std::memcpy(c.ethernet_mac, nv_ethernet_mac, 6);
    std::memcpy(c.radio_ethernet_mac, nv_radio_ethernet_mac, 6);
    c.defaults = current_nv_defaults();
    build_nvsector_first(c, buffer);
}

void EvUSBBoard::take_nv_serial(const uint8_t buffer[NV_SECTOR_SIZE])
{
    if (nv_get_serial(buffer, nv_serial))
        signal_changed_nv_serial.emit();
}

void EvUSBBoard::give_model_nv_defaults(const NvDefaults& d)
{
    if (!model)
        return;
    model->set_xtal_frequency(d.xtal_frequency);
    model->set_xtal_tolerance(d.xtal_tolerance);
    model->set_nvarea(d.area);
}

void EvUSBBoard::take_nv_defaults(const NvDefaults& d)
{
    nv_chacc = d.chacc;
    emit_all_chacc_signals();
    give_model_nv_defaults(d);
}

void EvUSBBoard::parse_nvsector(const uint8_t buffer[NV_SECTOR_SIZE])
{
    NvContents c = parse_nvsector_first(buffer);
    take_nv_serial(buffer);
    if (c.has_ethernet_mac)
        std::memcpy(nv_ethernet_mac, c.ethernet_mac, 6);
    signal_changed_nv_ethmac.emit();
    std::memcpy(nv_radio_ethernet_mac, c.radio_ethernet_mac, 6);
    signal_changed_nv_radio_ethmac.emit();
    take_nv_defaults(c.defaults);
}

void EvUSBBoard::read_boardnv()
{
    uint8_t buffer[NV_SECTOR_SIZE];
    load_nv(buffer);
    // a half-written sector holds a serial, crystal and registers that no
    // store ever meant; the board keeps what it had until a store finishes
    nv_interrupted = nv_sector_interrupted(buffer);
    if (nv_interrupted) {
        diag() << "read_boardnv: board " << serial
               << ": the NV sector holds an interrupted store; its values are not taken (store the defaults again)"
               << std::endl;
        return;
    }
    parse_nvsector(buffer);
}

void EvUSBBoard::store_boarddefaults()
{
    uint8_t buffer[NV_SECTOR_SIZE];
    build_nvsector(buffer);
    write_nvsector(buffer);
    uint8_t readback[NV_SECTOR_SIZE];
    load_nv(readback);
    unsigned errors = 0;
    for (unsigned i = 0; i < NV_SECTOR_SIZE; ++i) {
        if (buffer[i] == readback[i])
            continue;
        ++errors;
        diag() << "write_nvsector: compare error: address " << i << " write " << unsigned(buffer[i]) << " read "
                  << unsigned(readback[i]) << std::endl;
    }
    // a sector that does not hold what was written must not pass as stored
    if (errors) {
        std::ostringstream msg;
        msg << "EvUSBBoard::store_boarddefaults: verify failed, " << errors << " bytes differ";
        throw std::runtime_error(msg.str());
    }
    nv_interrupted = nv_sector_interrupted(readback);
    // What is now in flash becomes the board defaults, so that
    // load_boarddefaults restores exactly what was stored.
    // The stored register values and the tolerance (8 fraction bits in flash)
    // are new to the model. Setting the crystal frequency again would recompute
    // the registers derived from it and leave chip values that differ from the
    // ones just stored; the tolerance derives no register.
    NvDefaults stored = nv_get_defaults(nv_layout(), readback);
    nv_chacc = stored.chacc;
    if (model) {
        model->set_nvarea(stored.area);
        model->set_xtal_tolerance(stored.xtal_tolerance);
    }
}

void EvUSBBoard::load_nv(uint8_t buffer[NV_SECTOR_SIZE])
{
    read_nv_words(buffer);
    // by hand: a formatting stream costs more than reading the sector from a served board
    static const char digits[] = "0123456789abcdef";
    std::string dump = "load_nv: flash contents";
    dump.reserve(dump.size() + NV_SECTOR_SIZE / 16 * 6 + NV_SECTOR_SIZE * 3 + 1);
    for (unsigned i = 0; i < NV_SECTOR_SIZE; ++i) {
        if (i % 16 == 0) {
            const char line[] = {'\n', digits[(i >> 12) & 15], digits[(i >> 8) & 15], digits[(i >> 4) & 15],
                                 digits[i & 15], ':'};
            dump.append(line, sizeof line);
        }
        const char byte[] = {' ', digits[buffer[i] >> 4], digits[buffer[i] & 15]};
        dump.append(byte, sizeof byte);
    }
    dump += '\n';
    diag_text(dump);
}

void EvUSBBoard::read_nv_words(uint8_t buffer[NV_SECTOR_SIZE])
{
    for (unsigned w = 0; w < NV_WORDS; ++w) {
        set_flashaddr(uint8_t(w));
        if (get_flashaddr() != int(w))
            throw std::runtime_error("EvUSBBoard::load_nv flash address error");
        int word = get_flashdata();
        buffer[2 * w] = uint8_t(word);
        buffer[2 * w + 1] = uint8_t(word >> 8);
    }
}

void EvUSBBoard::write_nvsector(const uint8_t buffer[NV_SECTOR_SIZE])
{
    set_flashctl(0x00);
    set_flashctl(0xF0);
    set_flashctl(0xAA);
    if (get_flashctl() != 2)
        throw std::runtime_error("EvUSBBoard::write_nvsector: cannot enable flash write operations");
    set_flashctl(0x93);
    // The identity word goes first as erased and last with its value, so
    // that a write that stops anywhere in between reads back as interrupted
    // (nv_sector_interrupted) instead of as a sector of the board's.
    auto put = [this](unsigned w, uint16_t value) {
        set_flashaddr(uint8_t(w));
        if (get_flashaddr() != int(w))
            throw std::runtime_error("EvUSBBoard::write_nvsector flash address error");
        set_flashdata(value);
    };
    put(0, 0xFFFF);
    nv_interrupted = true;
    for (unsigned w = 1; w < NV_WORDS; ++w)
        put(w, uint16_t(buffer[2 * w] | buffer[2 * w + 1] << 8));
    put(0, uint16_t(buffer[0] | buffer[1] << 8));
    set_flashctl(0x00);
}

} // namespace KORVIK
