#include "board/Protocol.h"

#include <cstdio>
#include <cstring>

namespace KORVIK {
namespace protocol {

const uint8_t BROADCAST_MAC[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
const uint8_t IDENT_DESTINATION_MAC[6] = {0x01, 0x01, 0x01, 0x01, 0x01, 0x01};

namespace {

uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint16_t be16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }

} // namespace

unsigned padded_length(unsigned n)
{
    // the board's USB link drops transfers of this size class
    return (n + 58) % 64 == 0 ? n + 1 : n;
}

std::vector<uint8_t> pad_payload(const uint8_t* data, unsigned len)
{
    std::vector<uint8_t> out(data, data + len);
    out.resize(padded_length(len), 0);
    return out;
}

std::vector<uint8_t> build_frame(const uint8_t destination[6], const uint8_t source[6],
                                 uint16_t ethertype, const uint8_t* payload, unsigned len)
{
    std::vector<uint8_t> frame;
    build_frame_into(frame, destination, source, ethertype, payload, len);
    return frame;
}

void build_frame_into(std::vector<uint8_t>& frame, const uint8_t destination[6], const uint8_t source[6],
                      uint16_t ethertype, const uint8_t* payload, unsigned len)
{
    frame.resize(HEADER_SIZE + len);
    std::memcpy(frame.data(), destination, 6);
    std::memcpy(frame.data() + 6, source, 6);
    frame[12] = uint8_t(ethertype >> 8);
    frame[13] = uint8_t(ethertype);
    if (len)
        std::memcpy(frame.data() + HEADER_SIZE, payload, len);
}

void build_set_report_into(std::vector<uint8_t>& p, uint8_t id, const uint8_t* data, unsigned dlen)
{
    p.resize(4 + dlen);
    unsigned l = dlen + 2;
    p[0] = uint8_t(l >> 8);
    p[1] = uint8_t(l);
    p[2] = REQUEST_SET;
    p[3] = id;
    if (dlen)
        std::memcpy(p.data() + 4, data, dlen);
}

void build_get_report_into(std::vector<uint8_t>& p, uint8_t id)
{
    p.assign({0x00, 0x02, REQUEST_GET, id});
}

std::vector<uint8_t> build_set_report(uint8_t id, const uint8_t* data, unsigned dlen)
{
    std::vector<uint8_t> p;
    build_set_report_into(p, id, data, dlen);
    return p;
}

std::vector<uint8_t> build_get_report(uint8_t id)
{
    std::vector<uint8_t> p;
    build_get_report_into(p, id);
    return p;
}

std::vector<uint8_t> build_board_packet(uint8_t id, const uint8_t* data, unsigned dlen)
{
    std::vector<uint8_t> p = build_set_report(id, data, dlen);
    p[2] = DIRECTION_TO_HOST;
    return p;
}

bool parse_frame(const uint8_t* frame, unsigned len, FrameView& out)
{
    if (!frame || len < HEADER_SIZE)
        return false;
    out.destination = frame;
    out.source = frame + 6;
    out.ethertype = be16(frame + 12);
    out.payload = frame + HEADER_SIZE;
    out.payload_len = len - HEADER_SIZE;
    return true;
}

bool is_broadcast(const uint8_t mac[6])
{
    return std::memcmp(mac, BROADCAST_MAC, 6) == 0;
}

VendorKind classify_vendor_packet(const uint8_t* packet, unsigned len, std::vector<uint8_t>* entry)
{
    if (!packet || len <= 2)
        return VendorKind::Invalid;
    unsigned l = be16(packet);
    if (len < l + 2)
        return VendorKind::Invalid;
    if (l >= 2 && packet[2] == DIRECTION_TO_HOST && packet[3] == REPORT_STATUS)
        return l >= STATUS_MIN_L ? VendorKind::Status : VendorKind::DroppedStatus;
    if (entry)
        entry->assign(packet + 2, packet + 2 + l);
    return VendorKind::Reply;
}

bool parse_status(const uint8_t* p, unsigned len, USBDeviceStatus& s)
{
    if (!p || len < 2 + STATUS_MIN_L)
        return false;
    uint8_t flags = p[4];
    s.flag0 = flags & 0x01;
    s.flag1 = flags & 0x02;
    s.flag2 = flags & 0x04;
    s.flag3 = flags & 0x08;
    s.flag4 = flags & 0x10;
    s.flag5 = flags & 0x20;
    s.flag6 = flags & 0x40;
    s.flag7 = flags & 0x80;
    s.progstate = p[5];
    s.progdetail = p[6];
    s.ticks = le16(p + 7);
    s.aux1 = p[9];
    s.aux2 = p[10];
    s.aux3 = p[11];
    s.value1 = le16(p + 12);
    s.value2 = le16(p + 14);
    s.value3 = le16(p + 16);
    return true;
}

std::vector<uint8_t> build_status_packet(const USBDeviceStatus& s)
{
    uint8_t d[14];
    d[0] = uint8_t(s.flag0 | s.flag1 << 1 | s.flag2 << 2 | s.flag3 << 3 | s.flag4 << 4 | s.flag5 << 5 |
                   s.flag6 << 6 | s.flag7 << 7);
    d[1] = s.progstate;
    d[2] = s.progdetail;
    d[3] = uint8_t(s.ticks);
    d[4] = uint8_t(s.ticks >> 8);
    d[5] = s.aux1;
    d[6] = s.aux2;
    d[7] = s.aux3;
    d[8] = uint8_t(s.value1);
    d[9] = uint8_t(s.value1 >> 8);
    d[10] = uint8_t(s.value2);
    d[11] = uint8_t(s.value2 >> 8);
    d[12] = uint8_t(s.value3);
    d[13] = uint8_t(s.value3 >> 8);
    return build_board_packet(REPORT_STATUS, d, sizeof d);
}

bool parse_radio_record(const uint8_t* r, unsigned len, RadioPacket& out)
{
    if (!r || len <= 4)
        return false;
    out.frequency_offset = int16_t(le16(r + 2));
    out.rssi = int8_t(r[4]);
    unsigned word = le16(r) + 5u;
    out.data.resize(len - 3);
    out.data[0] = uint8_t(word);
    out.data[1] = uint8_t(word >> 8);
    if (len > 5)
        std::memcpy(out.data.data() + 2, r + 5, len - 5);
    return true;
}

std::vector<uint8_t> build_radio_record(int16_t frequency_offset, int8_t rssi, const uint8_t* data,
                                        unsigned len)
{
    std::vector<uint8_t> r(5 + len);
    r[0] = uint8_t(len);
    r[1] = uint8_t(len >> 8);
    r[2] = uint8_t(uint16_t(frequency_offset));
    r[3] = uint8_t(uint16_t(frequency_offset) >> 8);
    r[4] = uint8_t(rssi);
    if (len)
        std::memcpy(r.data() + 5, data, len);
    return r;
}

std::vector<uint8_t> build_bpq_packet(const uint8_t* data, unsigned len)
{
    std::vector<uint8_t> p(len + 2);
    unsigned word = len + 5;
    p[0] = uint8_t(word);
    p[1] = uint8_t(word >> 8);
    if (len)
        std::memcpy(p.data() + 2, data, len);
    return p;
}

std::vector<uint8_t> build_ident_request()
{
    std::vector<uint8_t> get = build_get_report(REPORT_IDENT);
    return build_frame(IDENT_DESTINATION_MAC, BROADCAST_MAC, ETHERTYPE_VENDOR, get.data(), unsigned(get.size()));
}

bool parse_ident_answer(const uint8_t* frame, unsigned len, std::string& serial, uint8_t source_mac[6])
{
    // the serial's last character sits at frame byte 32
    if (!frame || len < 33)
        return false;
    if (be16(frame + 12) != ETHERTYPE_VENDOR || frame[14] != 0x00 || frame[15] <= 0x11 ||
        frame[17] != REPORT_IDENT)
        return false;
    serial.clear();
    for (unsigned i = 20; i <= 32; i += 2)
        serial.push_back(char(frame[i]));
    std::memcpy(source_mac, frame + 6, 6);
    return true;
}

std::vector<uint8_t> build_ident_answer(const std::string& serial, const uint8_t source_mac[6])
{
    // USB string descriptor of the serial: length, type 3, UTF-16LE characters
    uint8_t d[16];
    d[0] = 0x10;
    d[1] = 0x03;
    for (unsigned i = 0; i < 7; ++i) {
        d[2 + 2 * i] = uint8_t(i < serial.size() ? serial[i] : '0');
        d[3 + 2 * i] = 0;
    }
    std::vector<uint8_t> packet = build_board_packet(REPORT_IDENT, d, sizeof d);
    return build_frame(BROADCAST_MAC, source_mac, ETHERTYPE_VENDOR, packet.data(), unsigned(packet.size()));
}

std::string format_mac_string(const uint8_t mac[6])
{
    char buf[13];
    std::snprintf(buf, sizeof buf, "%02X%02X%02X%02X%02X%02X", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    return buf;
}

bool description_names_maker(const std::string& description)
{
    return description.find("Zelvane Inc.") != std::string::npos ||
           description.find("Corvane AG") != std::string::npos;
}

std::string select_chip(const std::string& description, const std::list<std::string>& chips)
{
    std::string best;
    for (const std::string& name : chips)
        if (!name.empty() && description.find(name) != std::string::npos && name.size() >= best.size())
            best = name;
    return best;
}

namespace {

const char hex_digits[] = "0123456789abcdef";

} // namespace

void append_hex_dump(std::string& out, const uint8_t* data, unsigned len)
{
    const size_t start = out.size();
    out.resize(start + size_t(len) * 3);
    char* p = &out[start];
    for (unsigned i = 0; i < len; ++i) {
        *p++ = ' ';
        *p++ = hex_digits[data[i] >> 4];
        *p++ = hex_digits[data[i] & 15];
    }
}

std::string format_hex_dump(const uint8_t* data, unsigned len)
{
    std::string out;
    append_hex_dump(out, data, len);
    return out;
}

void append_report_line(std::string& out, uint8_t id, bool get, unsigned dlen, const std::vector<uint8_t>& packet)
{
    out += "report_io: reportid 0x";
    out += hex_digits[id >> 4];
    out += hex_digits[id & 15];
    out += get ? " dir in dlen " : " dir out dlen ";
    // dlen in hexadecimal without leading zeros
    char digits[2 * sizeof dlen];
    unsigned n = 0;
    do {
        digits[n++] = hex_digits[dlen & 15];
        dlen >>= 4;
    } while (dlen);
    while (n)
        out += digits[--n];
    out += " out:";
    append_hex_dump(out, packet.data(), unsigned(packet.size()));
    out += '\n';
}

std::string format_report_line(uint8_t id, bool get, unsigned dlen, const std::vector<uint8_t>& packet)
{
    std::string out;
    append_report_line(out, id, get, dlen, packet);
    out.pop_back();
    return out;
}

} // namespace protocol
} // namespace KORVIK
