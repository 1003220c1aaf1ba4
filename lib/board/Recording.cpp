#include "board/Recording.h"

#include <algorithm>
#include <cstring>

#include "board/FlashUnlock.h"
#include "board/Protocol.h"

namespace KORVIK {

namespace proto = protocol;

void RecordingBuilder::add_frame(double time, const uint8_t* frame, unsigned len)
{
    ++recording.frames;
    proto::FrameView f;
    if (!frame || len > MAX_FRAME || !proto::parse_frame(frame, len, f)) {
        ++recording.skipped;
        return;
    }
    if (!started) {
        started = true;
        origin = time;
    }
    // a capture's clock may step back (files joined, clock set); replay
    // never schedules into the past
    const double t = std::max(0.0, time - origin);
    switch (f.ethertype) {
    case proto::ETHERTYPE_VENDOR:
        // the host sends its vendor frames from the broadcast address (the
        // identification request too); a board sends from its adapter's MAC
        if (proto::is_broadcast(f.source)) {
            host_vendor(f.payload, f.payload_len);
        } else {
            std::string serial;
            uint8_t mac[6];
            if (proto::parse_ident_answer(frame, len, serial, mac)) {
                recording.serial = serial;
                std::memcpy(recording.mac, mac, 6);
                recording.has_mac = true;
                recording.board_macs.insert(std::vector<uint8_t>(mac, mac + 6));
                return;
            }
            board_vendor(t, f.payload, f.payload_len, f.source);
        }
        return;
    case proto::ETHERTYPE_RADIO: {
        proto::RadioPacket p;
        if (!proto::parse_radio_record(f.payload, f.payload_len, p)) {
            ++recording.skipped;
            return;
        }
        Recording::Packet packet;
        packet.time = t;
        packet.data = std::move(p.data);
        std::memcpy(packet.source_mac, f.source, 6);
        packet.rssi = p.rssi;
        packet.frequency_offset = p.frequency_offset;
        recording.packets.push_back(std::move(packet));
        return;
    }
    case proto::ETHERTYPE_NET:
        // only what the board delivers to the host; the host's own sends
        // are not the board's to repeat
        if (proto::is_broadcast(f.destination)) {
            Recording::Packet packet;
            packet.time = t;
            packet.data.assign(f.payload, f.payload + f.payload_len);
            std::memcpy(packet.source_mac, f.source, 6);
            recording.packets.push_back(std::move(packet));
        }
        return;
    default:
        ++recording.skipped;
        return;
    }
}

void RecordingBuilder::host_vendor(const uint8_t* p, unsigned len)
{
    if (len < 4) {
        ++recording.skipped;
        return;
    }
    const unsigned l = unsigned(p[0] << 8 | p[1]);
    if (l < 2 || l + 2 > len) {
        ++recording.skipped;
        return;
    }
    if (p[2] != proto::REQUEST_SET)
        return; // a get: what it asks for shows in the reply
    const uint8_t id = p[3];
    const uint8_t* d = p + 4;
    const unsigned dlen = l - 2;
    switch (id) {
    case proto::REPORT_CHACC:
        if (dlen >= 21) {
            std::memcpy(recording.chacc, d, 21);
            recording.has_chacc = true;
        }
        break;
    case proto::REPORT_STATE:
        if (dlen >= 1)
            recording.ethstate = d[0];
        break;
    case proto::REPORT_FLASHCTL:
        if (dlen >= 1) {
            const FlashStep step = flash_unlock_step(flash_state, d[0]);
            if (step.erase)
                for (unsigned w = 0; w < 256; ++w)
                    recording.flash[uint8_t(w)] = 0xFFFF;
            flash_state = step.state;
        }
        break;
    case proto::REPORT_FLASHADDR:
        if (dlen >= 1)
            flash_address = d[0];
        break;
    case proto::REPORT_FLASHDATA:
        if (dlen >= 2 && flash_state == 2)
            recording.flash[flash_address] = uint16_t(d[0] | d[1] << 8);
        break;
    case proto::REPORT_REGISTER:
        if (dlen >= 4) {
            const uint16_t a = uint16_t(d[0] | d[1] << 8);
            if (d[2] == 1) {
                recording.registers[a] = d[3];
            } else {
                recording.read_addresses.insert(a);
                // a host that lost its replies would grow this for ever
                if (pending_reads.size() >= 64)
                    pending_reads.erase(pending_reads.begin());
                pending_reads.push_back(a);
            }
        }
        break;
    default:
        break;
    }
}

void RecordingBuilder::board_vendor(double t, const uint8_t* p, unsigned len, const uint8_t* source)
{
    std::vector<uint8_t> entry;
    const proto::VendorKind kind = proto::classify_vendor_packet(p, len, &entry);
    if (kind == proto::VendorKind::Invalid) {
        ++recording.skipped;
        return;
    }
    recording.board_macs.insert(std::vector<uint8_t>(source, source + 6));
    if (!recording.has_mac) {
        std::memcpy(recording.mac, source, 6);
        recording.has_mac = true;
    }
    if (kind == proto::VendorKind::DroppedStatus) {
        ++recording.skipped;
        return;
    }
    if (kind == proto::VendorKind::Status) {
        Recording::Status s;
        s.time = t;
        proto::parse_status(p, len, s.status);
        recording.statuses.push_back(s);
        return;
    }
    // a reply: direction, id, data
    if (entry.size() < 2 || entry[0] != proto::DIRECTION_TO_HOST)
        return;
    const uint8_t* d = entry.data() + 2;
    const size_t dlen = entry.size() - 2;
    switch (entry[1]) {
    case proto::REPORT_11:
        if (dlen >= 1)
            recording.report11 = d[0];
        break;
    case proto::REPORT_CHACC:
        if (dlen >= 21) {
            std::memcpy(recording.chacc, d, 21);
            recording.has_chacc = true;
        }
        break;
    case proto::REPORT_STATE:
        if (dlen >= 1)
            recording.ethstate = d[0];
        break;
    case proto::REPORT_FLASHADDR:
        // the board's own word on its address: with several words asked for
        // at once, the address sets ran ahead of the answers
        if (dlen >= 1)
            flash_address = d[0];
        break;
    case proto::REPORT_FLASHDATA:
        if (dlen >= 2)
            recording.flash[flash_address] = uint16_t(d[0] | d[1] << 8);
        break;
    case proto::REPORT_REGISTER: {
        if (dlen < 5 || pending_reads.empty())
            break;
        // boards echo the address they read; pair by it when it is one
        // asked for, else in order
        const uint16_t echo = uint16_t(d[0] | d[1] << 8);
        auto match = std::find(pending_reads.begin(), pending_reads.end(), echo);
        if (match == pending_reads.end())
            match = pending_reads.begin();
        recording.registers[*match] = d[3];
        pending_reads.erase(pending_reads.begin(), match + 1);
        break;
    }
    default:
        break;
    }
}

std::string infer_chip(const std::set<uint16_t>& read_addresses,
                       const std::vector<std::pair<std::string, std::set<uint16_t>>>& chips)
{
    std::string best;
    size_t best_extra = 0;
    for (const auto& chip : chips) {
        if (chip.second.empty())
            continue;
        bool complete = true;
        for (uint16_t a : chip.second)
            if (!read_addresses.count(a)) {
                complete = false;
                break;
            }
        if (!complete)
            continue;
        size_t extra = 0;
        for (uint16_t a : read_addresses)
            extra += chip.second.count(a) ? 0 : 1;
        if (best.empty() || extra < best_extra) {
            best = chip.first;
            best_extra = extra;
        }
    }
    return best;
}

} // namespace KORVIK
