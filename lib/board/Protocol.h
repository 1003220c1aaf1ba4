#pragma once

// Bytes on the wire between host and board: Ethernet frames, vendor
// packets, status reports, radio receive records and the identification
// exchange. Pure functions over byte buffers; every parser checks bounds.

#include <cstdint>
#include <list>
#include <string>
#include <vector>

#include <korvik/USBDeviceStatus.h>

namespace KORVIK {
namespace protocol {

constexpr uint16_t ETHERTYPE_NET = 0x08FF;
constexpr uint16_t ETHERTYPE_VENDOR = 0x0900;
constexpr uint16_t ETHERTYPE_RADIO = 0x0901;
constexpr unsigned HEADER_SIZE = 14;
/// Largest frame sent on an Ethernet link (header + 1500 payload bytes).
constexpr unsigned MAX_FRAME_SIZE = 1514;
constexpr unsigned MAX_PAYLOAD = MAX_FRAME_SIZE - HEADER_SIZE;

constexpr uint8_t REQUEST_SET = 0x09;
constexpr uint8_t REQUEST_GET = 0x01;
constexpr uint8_t DIRECTION_TO_HOST = 0x01;

constexpr uint8_t REPORT_STATUS = 0x01;
constexpr uint8_t REPORT_10 = 0x10;
constexpr uint8_t REPORT_11 = 0x11;
constexpr uint8_t REPORT_CHACC = 0x20;
constexpr uint8_t REPORT_STATE = 0x21;
constexpr uint8_t REPORT_IDENT = 0x30;
constexpr uint8_t REPORT_FLASHCTL = 0xE0;
constexpr uint8_t REPORT_FLASHADDR = 0xE1;
constexpr uint8_t REPORT_FLASHDATA = 0xE2;
constexpr uint8_t REPORT_REGISTER = 0xF0;

/// Status reports shorter than this (L) are dropped.
constexpr unsigned STATUS_MIN_L = 16;

extern const uint8_t BROADCAST_MAC[6];
/// Destination of the identification request.
extern const uint8_t IDENT_DESTINATION_MAC[6];

/// Length after the padding rule: one zero byte when n mod 64 = 6.
unsigned padded_length(unsigned n);
/// Copy of the payload with the padding rule applied.
std::vector<uint8_t> pad_payload(const uint8_t* data, unsigned len);

/// Header plus payload, exactly as given (no padding added here).
std::vector<uint8_t> build_frame(const uint8_t destination[6], const uint8_t source[6],
                                 uint16_t ethertype, const uint8_t* payload, unsigned len);
/// The same into `frame`, whose storage is reused.
void build_frame_into(std::vector<uint8_t>& frame, const uint8_t destination[6], const uint8_t source[6],
                      uint16_t ethertype, const uint8_t* payload, unsigned len);

/// Host-to-board set request: L (big-endian), 0x09, id, data.
std::vector<uint8_t> build_set_report(uint8_t id, const uint8_t* data, unsigned dlen);
/// Host-to-board get request: 00 02 01 id.
std::vector<uint8_t> build_get_report(uint8_t id);
/// The same two into `packet`, whose storage is reused.
void build_set_report_into(std::vector<uint8_t>& packet, uint8_t id, const uint8_t* data, unsigned dlen);
void build_get_report_into(std::vector<uint8_t>& packet, uint8_t id);
/// Board-to-host vendor packet: L (big-endian), 0x01, id, data.
std::vector<uint8_t> build_board_packet(uint8_t id, const uint8_t* data, unsigned dlen);

struct FrameView {
    const uint8_t* destination = nullptr;
    const uint8_t* source = nullptr;
    uint16_t ethertype = 0;
    const uint8_t* payload = nullptr;
    unsigned payload_len = 0;
};
/// Splits a frame into header fields and payload; false when shorter than the header.
bool parse_frame(const uint8_t* frame, unsigned len, FrameView& out);

bool is_broadcast(const uint8_t mac[6]);

enum class VendorKind {
    Invalid,       ///< too short or shorter than its length field
    Status,        ///< a status report to handle at once
    DroppedStatus, ///< a status report too short to hold the status fields
    Reply          ///< a report reply for the reply queue
};
/// Classifies a board-to-host vendor packet; for a reply, `entry` receives
/// the L bytes from offset 2 (direction, id, data).
VendorKind classify_vendor_packet(const uint8_t* packet, unsigned len, std::vector<uint8_t>* entry);

/// Fills the wire fields of a status record from a vendor status packet
/// (the time fields are left alone); false when the packet is too short.
bool parse_status(const uint8_t* packet, unsigned len, USBDeviceStatus& status);
/// The vendor packet of a status report carrying the record's wire fields.
std::vector<uint8_t> build_status_packet(const USBDeviceStatus& status);

struct RadioPacket {
    std::vector<uint8_t> data; ///< 2-byte length (length word + 5) then the radio payload
    int16_t rssi = 0;
    int32_t frequency_offset = 0;
};
/// Rebuilds a radio receive record into the delivered packet; false for
/// records of 4 bytes or less.
bool parse_radio_record(const uint8_t* record, unsigned len, RadioPacket& out);
/// A radio receive record as the board sends it.
std::vector<uint8_t> build_radio_record(int16_t frequency_offset, int8_t rssi, const uint8_t* data,
                                        unsigned len);

/// The 2-byte little-endian length (len + 5) followed by the data.
std::vector<uint8_t> build_bpq_packet(const uint8_t* data, unsigned len);

/// The 18-byte identification request frame.
std::vector<uint8_t> build_ident_request();
/// Checks an identification answer; on a match gives the 7-character
/// serial and the answer's source MAC.
bool parse_ident_answer(const uint8_t* frame, unsigned len, std::string& serial, uint8_t source_mac[6]);
/// The identification answer a board sends (serial cut or padded to 7 characters).
std::vector<uint8_t> build_ident_answer(const std::string& serial, const uint8_t source_mac[6]);

/// Twelve upper-case hexadecimal digits.
std::string format_mac_string(const uint8_t mac[6]);

/// True when an adapter description names one of the board makers.
bool description_names_maker(const std::string& description);
/// The longest chip name occurring in the description (the later one among
/// equally long names); empty when none does.
std::string select_chip(const std::string& description, const std::list<std::string>& chips);

/// "report_io: reportid 0x.. dir out dlen .. out: .." line (without line end).
std::string format_report_line(uint8_t id, bool get, unsigned dlen, const std::vector<uint8_t>& packet);
/// The same line with its line end, appended to `out`: the exchanges log
/// every request, and formatting into a kept buffer allocates nothing.
void append_report_line(std::string& out, uint8_t id, bool get, unsigned dlen, const std::vector<uint8_t>& packet);
/// " xx" for every byte.
std::string format_hex_dump(const uint8_t* data, unsigned len);
void append_hex_dump(std::string& out, const uint8_t* data, unsigned len);

} // namespace protocol
} // namespace KORVIK
