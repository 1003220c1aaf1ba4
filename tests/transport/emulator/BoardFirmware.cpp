#include "BoardFirmware.h"

#include <cstring>

#include <korvik/USBDeviceStatus.h>

#include "board/Protocol.h"

namespace korvik_emu {

namespace proto = KORVIK::protocol;

BoardFirmware::BoardFirmware(const std::string& s, const uint8_t m[6]) : serial(s)
{
    std::memcpy(mac, m, 6);
    for (uint16_t& w : flash)
        w = 0xFFFF;
    const uint8_t defaults[9] = {0, 0x28, 0x64, 0xB0, 0xFF, 0, 0x0C, 0, 6};
    std::memcpy(chacc, defaults, 9);
    std::memset(chacc + 9, 0xFF, 12);
}

Frame BoardFirmware::vendor_frame(const std::vector<uint8_t>& packet) const
{
    return proto::build_frame(proto::BROADCAST_MAC, mac, proto::ETHERTYPE_VENDOR, packet.data(),
                              unsigned(packet.size()));
}

Frame BoardFirmware::radio_record_frame(int16_t frequency_offset, int8_t rssi, const std::vector<uint8_t>& data) const
{
    std::vector<uint8_t> r = proto::build_radio_record(frequency_offset, rssi, data.data(), unsigned(data.size()));
    return proto::build_frame(proto::BROADCAST_MAC, mac, proto::ETHERTYPE_RADIO, r.data(), unsigned(r.size()));
}

Frame BoardFirmware::net_frame(const std::vector<uint8_t>& data) const
{
    return proto::build_frame(proto::BROADCAST_MAC, mac, proto::ETHERTYPE_NET, data.data(), unsigned(data.size()));
}

void BoardFirmware::flash_control(uint8_t v)
{
    // unlock: 00 F0 AA (status 2), then 93 enables writing; 00 locks again
    if (v == 0x00) {
        flash_status = 1;
        flash_write_enabled = false;
    } else if (v == 0xF0 && flash_status == 1) {
        flash_status = 0xF0;
    } else if (v == 0xAA && flash_status == 0xF0) {
        flash_status = 2;
    } else if (v == 0x93 && flash_status == 2) {
        flash_status = 3;
        flash_write_enabled = true;
    } else {
        flash_status = 0;
        flash_write_enabled = false;
    }
}

void BoardFirmware::handle_set(uint8_t id, const uint8_t* d, unsigned dlen)
{
    switch (id) {
    case proto::REPORT_10:
        if (dlen >= 1)
            report10 = d[0];
        break;
    case proto::REPORT_CHACC:
        if (dlen >= 21)
            std::memcpy(chacc, d, 21);
        break;
    case proto::REPORT_STATE:
        if (dlen >= 1) {
            state = d[0];
            state_history.push_back(state);
            if (state == 0x04 || state == 0x05) {
                running_job = state - 3;
                job_reports = 0;
                progstate = state;
            } else {
                running_job = 0;
                progstate = state;
            }
        }
        break;
    case proto::REPORT_FLASHCTL:
        if (dlen >= 1)
            flash_control(d[0]);
        break;
    case proto::REPORT_FLASHADDR:
        if (dlen >= 1)
            flash_address = d[0];
        break;
    case proto::REPORT_FLASHDATA:
        if (dlen >= 2 && flash_write_enabled) {
            flash[flash_address] = uint16_t(d[0] | d[1] << 8);
            // a board unplugged in the middle of a store
            if (flash_writes_before_silence > 0 && --flash_writes_before_silence == 0)
                silent = true;
        }
        break;
    case proto::REPORT_REGISTER:
        if (dlen >= 4) {
            uint16_t a = uint16_t(d[0] | d[1] << 8);
            if (d[2] == 1)
                registers[a] = d[3];
            else
                read_address = a;
        }
        break;
    default:
        break;
    }
}

bool BoardFirmware::reply_data(uint8_t id, std::vector<uint8_t>& data)
{
    switch (id) {
    case proto::REPORT_11:
        data = {report11};
        return true;
    case proto::REPORT_CHACC:
        data.assign(chacc, chacc + 21);
        return true;
    case proto::REPORT_STATE:
        data = {state};
        return true;
    case proto::REPORT_FLASHCTL:
        data = {flash_status};
        return true;
    case proto::REPORT_FLASHADDR:
        data = {flash_address};
        return true;
    case proto::REPORT_FLASHDATA:
        data = {uint8_t(flash[flash_address]), uint8_t(flash[flash_address] >> 8)};
        return true;
    case proto::REPORT_REGISTER:
        data = {uint8_t(read_address), uint8_t(read_address >> 8), 0, registers[read_address],
                registers[uint16_t(read_address + 1)]};
        return true;
    default:
        return false;
    }
}

void BoardFirmware::receive(const uint8_t* frame, unsigned len, std::vector<Frame>& out)
{
    proto::FrameView f;
    if (silent || !proto::parse_frame(frame, len, f))
        return;
    if (f.ethertype == proto::ETHERTYPE_NET) {
        net_packets.emplace_back(f.payload, f.payload + f.payload_len);
        net_destinations.emplace_back(f.destination, f.destination + 6);
        return;
    }
    if (f.ethertype != proto::ETHERTYPE_VENDOR || f.payload_len < 4)
        return;
    const uint8_t* p = f.payload;
    unsigned l = unsigned(p[0] << 8 | p[1]);
    if (l < 2 || l + 2 > f.payload_len)
        return;
    ++vendor_requests;
    uint8_t request = p[2], id = p[3];
    if (request == proto::REQUEST_SET) {
        handle_set(id, p + 4, l - 2);
        return;
    }
    if (request != proto::REQUEST_GET)
        return;
    ++get_requests;
    if (id == proto::REPORT_IDENT) {
        if (!answer_ident)
            return;
        for (unsigned i = 0; i < ident_junk_frames; ++i) {
            // an unrelated reply first: same ethertype, wrong report
            uint8_t b = 0;
            out.push_back(vendor_frame(proto::build_board_packet(proto::REPORT_11, &b, 1)));
        }
        out.push_back(proto::build_ident_answer(serial, mac));
        return;
    }
    std::vector<uint8_t> data;
    if (!reply_data(id, data))
        return;
    if (dropped_replies) {
        --dropped_replies;
        return;
    }
    if (statuses_before_replies) {
        --statuses_before_replies;
        out.push_back(status_frame());
    }
    if (unexpected_replies) {
        --unexpected_replies;
        out.push_back(vendor_frame(proto::build_board_packet(uint8_t(id - 1), data.data(), unsigned(data.size()))));
    }
    if (misaddressed_replies && id == proto::REPORT_REGISTER) {
        --misaddressed_replies;
        std::vector<uint8_t> other = data;
        ++other[0];
        out.push_back(vendor_frame(proto::build_board_packet(id, other.data(), unsigned(other.size()))));
    }
    if (short_replies && !data.empty()) {
        --short_replies;
        out.push_back(vendor_frame(proto::build_board_packet(id, data.data(), unsigned(data.size() - 1))));
    }
    out.push_back(vendor_frame(proto::build_board_packet(id, data.data(), unsigned(data.size()))));
    if (duplicate_replies) {
        --duplicate_replies;
        out.push_back(out.back());
    }
}

Frame BoardFirmware::status_frame()
{
    if (silent)
        return {};
    ticks = uint16_t(ticks + ticks_per_status);
    if (running_job) {
        if (job_reports >= job_length && job_outcome[running_job - 1] != 0) {
            progstate = job_outcome[running_job - 1];
        } else {
            ++job_reports;
            // in progress: 4/5 while starting, 8/9 while calibrating
            progstate = uint8_t(job_reports == 1 ? 3 + running_job : 7 + running_job);
        }
    }
    KORVIK::USBDeviceStatus s;
    s.ticks = ticks;
    s.progstate = progstate;
    s.progdetail = progdetail;
    s.value1 = 0x1234;
    s.flag0 = true;
    return vendor_frame(proto::build_status_packet(s));
}

} // namespace korvik_emu
