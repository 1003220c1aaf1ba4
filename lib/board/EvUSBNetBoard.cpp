#include "board/EvUSBNetBoard.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <iostream>
#include <stdexcept>

#include <glib.h>

#include "board/NvSector.h"
#include "board/Protocol.h"
#include "model/GreyfinModel.h"
#include "model/common/Diagnostics.h"

namespace KORVIK {

namespace {

// A board that keeps answering nobody should not grow the queue without end.
constexpr size_t MAX_QUEUED_REPLIES = 256;
// Status reports held back during one exchange: a 4 s wait at 10 ms each.
constexpr size_t MAX_DEFERRED_STATUSES = 512;

// Replies of a window (NV words, registers) that went missing or came out of order.
struct WindowAstray : std::runtime_error {
    using std::runtime_error::runtime_error;
};

} // namespace

EvUSBNetBoard::EvUSBNetBoard(BoardRegistry* registry, const std::string& serial, const std::string& interface,
                             const std::string& display_name, const std::string& mac)
    : EvUSBBoard(registry, serial, interface, display_name, mac)
{
}

EvUSBNetBoard::~EvUSBNetBoard()
{
    flush_log();
}

unsigned EvUSBNetBoard::get_max_payload() const
{
    return protocol::MAX_PAYLOAD;
}

int EvUSBNetBoard::queue_vendor_packet(const uint8_t* data, unsigned len, const uint8_t* mac)
{
    const unsigned size = protocol::padded_length(len);
    if (size > get_max_payload()) {
        diag() << "EvUSBNetBoard::queue_vendor_packet: payload of " << size
                  << " bytes does not fit into a frame (at most " << get_max_payload() << ")" << std::endl;
        return -1;
    }
    // most packets need no padding: no copy then
    if (size == len)
        return queue_vendor_packet_lowlevel(data, len, mac);
    std::vector<uint8_t> padded = protocol::pad_payload(data, len);
    return queue_vendor_packet_lowlevel(padded.data(), unsigned(padded.size()), mac);
}

int EvUSBNetBoard::queue_net_packet(const uint8_t* data, unsigned len, const uint8_t* destination_mac)
{
    if (!destination_mac)
        destination_mac = nv_radio_ethernet_mac;
    std::vector<uint8_t> padded = protocol::pad_payload(data, len);
    if (padded.size() > get_max_payload()) {
        // refused whole; the board itself is fine, so it stays registered
        diag() << "EvUSBNetBoard::queue_net_packet: payload of " << padded.size()
                  << " bytes does not fit into a frame (at most " << get_max_payload() << ")" << std::endl;
        return -1;
    }
    return queue_net_packet_lowlevel(padded.data(), unsigned(padded.size()), destination_mac);
}

bool EvUSBNetBoard::is_input_closed()
{
    return false;
}

unsigned EvUSBNetBoard::queue_vendor_packets_lowlevel(const uint8_t* const*, const unsigned*, unsigned)
{
    return 0;
}

int EvUSBNetBoard::queue_vendor_packets(const std::vector<uint8_t>* packets, unsigned count, unsigned* sent_count)
{
    // a packet that needs padding, or a transport that cannot send several
    // at once, takes the one-by-one way
    constexpr unsigned MAX_BATCH = 64;
    const uint8_t* data[MAX_BATCH];
    unsigned lens[MAX_BATCH];
    unsigned done = 0;
    while (done < count) {
        unsigned n = 0;
        while (done + n < count && n < MAX_BATCH) {
            const std::vector<uint8_t>& p = packets[done + n];
            if (protocol::padded_length(unsigned(p.size())) != p.size() || p.size() > get_max_payload())
                break;
            data[n] = p.data();
            lens[n] = unsigned(p.size());
            ++n;
        }
        unsigned sent = n > 1 ? queue_vendor_packets_lowlevel(data, lens, n) : 0;
        if (sent == 0) {
            const std::vector<uint8_t>& p = packets[done];
            if (int result = queue_vendor_packet(p.data(), unsigned(p.size()), nv_radio_ethernet_mac)) {
                if (sent_count)
                    *sent_count = done;
                return result;
            }
            sent = 1;
        }
        done += sent;
    }
    if (sent_count)
        *sent_count = done;
    return 0;
}

void EvUSBNetBoard::take_waiting_input()
{
}

void EvUSBNetBoard::drop_stale_replies()
{
    take_waiting_input();
    for (const auto& entry : reply_queue)
        diag() << "report_io: stale reply dropped:" + protocol::format_hex_dump(entry.data(), unsigned(entry.size())) +
                         "\n";
    reply_queue.clear();
}

template <class F>
auto EvUSBNetBoard::as_exchange(F f) -> decltype(f())
{
    struct Depth {
        unsigned& depth;
        explicit Depth(unsigned& d) : depth(d) { ++depth; }
        ~Depth() { --depth; }
    };
    auto result = [&] {
        Depth depth(exchange_depth);
        return f();
    }();
    handle_deferred_statuses();
    return result;
}

void EvUSBNetBoard::handle_deferred_statuses()
{
    if (exchange_depth || handling_deferred || deferred_statuses.empty())
        return;
    // one at a time, each handled to its end before the next: what a
    // handler's own exchanges receive joins the queue behind
    struct Flag {
        bool& flag;
        explicit Flag(bool& f) : flag(f) { flag = true; }
        ~Flag() { flag = false; }
    } flag(handling_deferred);
    BusyGuard guard(this);
    while (!deferred_statuses.empty()) {
        USBDeviceStatus s = deferred_statuses.front();
        deferred_statuses.pop_front();
        handle_status(s);
    }
}

int EvUSBNetBoard::report_io(uint8_t id, bool get, unsigned dlen, uint8_t* data)
{
    return as_exchange([&] { return exchange(id, get, dlen, data); });
}

int EvUSBNetBoard::report_io_pair(uint8_t set_id, unsigned set_dlen, const uint8_t* set_data, uint8_t get_id,
                                  unsigned get_dlen, uint8_t* get_data, unsigned echo_len)
{
    return as_exchange(
        [&] { return exchange_pair(set_id, set_dlen, set_data, get_id, get_dlen, get_data, echo_len); });
}

int EvUSBNetBoard::exchange(uint8_t id, bool get, unsigned dlen, uint8_t* data)
{
    std::vector<uint8_t>& packet = requests[get ? 1 : 0];
    if (get)
        protocol::build_get_report_into(packet, id);
    else
        protocol::build_set_report_into(packet, id, data, dlen);
    if (get)
        drop_stale_replies();
    int result = queue_vendor_packet(packet.data(), unsigned(packet.size()), nv_radio_ethernet_mac);
    // whole lines only, as every write to the unbuffered stream is a system
    // call: a get's line goes out together with its reply's
    protocol::append_report_line(held_log, id, get, dlen, packet);
    if (result != 0 || !get) {
        flush_log();
        return result;
    }
    return wait_reply(id, dlen, data);
}

int EvUSBNetBoard::exchange_pair(uint8_t set_id, unsigned set_dlen, const uint8_t* set_data, uint8_t get_id,
                                 unsigned get_dlen, uint8_t* get_data, unsigned echo_len)
{
    drop_stale_replies();
    std::vector<uint8_t>& set = requests[0];
    std::vector<uint8_t>& get = requests[1];
    protocol::build_set_report_into(set, set_id, set_data, set_dlen);
    protocol::build_get_report_into(get, get_id);
    // both requests in one go where the transport can; what it did not send
    // takes the one-by-one way, which reports and handles a failure
    unsigned sent = 0;
    const unsigned set_size = protocol::padded_length(unsigned(set.size()));
    const unsigned get_size = protocol::padded_length(unsigned(get.size()));
    if (set_size == set.size() && get_size == get.size() && std::max(set_size, get_size) <= get_max_payload()) {
        const uint8_t* packets[2] = {set.data(), get.data()};
        const unsigned lens[2] = {set_size, get_size};
        sent = queue_vendor_packets_lowlevel(packets, lens, 2);
    }
    int result = 0;
    if (sent < 1)
        result = queue_vendor_packet(set.data(), unsigned(set.size()), nv_radio_ethernet_mac);
    protocol::append_report_line(held_log, set_id, false, set_dlen, set);
    if (result != 0) {
        flush_log();
        return result;
    }
    if (sent < 2) {
        flush_log();
        result = queue_vendor_packet(get.data(), unsigned(get.size()), nv_radio_ethernet_mac);
    }
    // both request lines go out with the reply's line, in one write
    protocol::append_report_line(held_log, get_id, true, get_dlen, get);
    if (result != 0) {
        flush_log();
        return result;
    }
    return wait_reply(get_id, get_dlen, get_data, set_data, std::min(echo_len, std::min(set_dlen, get_dlen)));
}

int EvUSBNetBoard::wait_reply(uint8_t id, unsigned dlen, uint8_t* data, const uint8_t* echo, unsigned echo_len)
{
    // monotonic, so that a wall-clock step cannot stretch or cut the wait
    const gint64 deadline = g_get_monotonic_time() + gint64(REPORT_TIMEOUT_MS) * 1000;
    for (;;) {
        if (reply_queue.empty()) {
            if (g_get_monotonic_time() > deadline) {
                flush_log();
                diag() << "report_io: timeout" << std::endl;
                return -1;
            }
            if (is_input_closed()) {
                flush_log();
                diag() << "report_io: adapter closed" << std::endl;
                return -1;
            }
            wait_input();
            continue;
        }
        std::vector<uint8_t>& entry = spare_reply;
        entry = std::move(reply_queue.front());
        reply_queue.pop_front();
        held_log += "report_io: in:";
        protocol::append_hex_dump(held_log, entry.data(), unsigned(entry.size()));
        held_log += '\n';
        // a reply that is not taken is explained right after its line
        const bool fits = entry.size() == dlen + 2 && entry[0] == protocol::DIRECTION_TO_HOST && entry[1] == id &&
                          (!echo_len || std::memcmp(entry.data() + 2, echo, echo_len) == 0);
        if (!hold_reply_lines || !fits)
            flush_log();
        if (entry.size() < 2) {
            diag() << "report_io: short packet size " << entry.size() << " expected " << dlen + 2
                      << std::endl;
            continue;
        }
        if (entry[0] != protocol::DIRECTION_TO_HOST || entry[1] != id) {
            diag() << "report_io: unexpected reportid: received " << unsigned(entry[1]) << " expected "
                      << unsigned(id) << " direction " << unsigned(entry[0]) << std::endl;
            continue;
        }
        if (entry.size() < dlen + 2) {
            diag() << "report_io: short packet size " << entry.size() << " expected " << dlen + 2
                      << std::endl;
            continue;
        }
        // a reply of another length or for another address answers some
        // other request: taking it would shift every later answer by one
        if (entry.size() > dlen + 2) {
            diag() << "report_io: long packet size " << entry.size() << " expected " << dlen + 2 << std::endl;
            continue;
        }
        if (echo_len && std::memcmp(entry.data() + 2, echo, echo_len) != 0) {
            diag() << "report_io: reply does not echo the request, dropped" << std::endl;
            continue;
        }
        if (dlen)
            std::memcpy(data, entry.data() + 2, dlen);
        return 0;
    }
}

void EvUSBNetBoard::read_nv_words(uint8_t buffer[NV_SECTOR_SIZE])
{
    const unsigned window = nv_read_window();
    if (window <= 1) {
        EvUSBBoard::read_nv_words(buffer);
        return;
    }
    BusyGuard guard(this);
    try {
        // the whole sector is one exchange: a status handled between two
        // answers of a window would drop the rest as stale
        as_exchange([&] { read_nv_window_words(buffer, window); return 0; });
        return;
    } catch (const WindowAstray& e) {
        if (is_input_closed()) {
            leave_registry();
            throw std::runtime_error("EvUSBBoard::load_nv flash address error");
        }
        // a link that loses or reorders replies misaligns a window; one
        // request at a time cannot be misaligned, only late
        diag() << "load_nv: " << e.what() << "; reading the sector word by word" << std::endl;
    }
    for (unsigned w = 0; w < NV_WORDS; ++w) {
        const uint8_t address = uint8_t(w);
        uint8_t echoed = 0, word[2] = {0, 0};
        // the address reply must echo the address: a late or doubled answer
        // for another word is passed over instead of failing the read
        if (report_io_pair(protocol::REPORT_FLASHADDR, 1, &address, protocol::REPORT_FLASHADDR, 1, &echoed, 1) != 0 ||
            report_io(protocol::REPORT_FLASHDATA, true, 2, word) != 0) {
            leave_registry();
            throw std::runtime_error("EvUSBBoard::load_nv flash address error");
        }
        buffer[2 * w] = word[0];
        buffer[2 * w + 1] = word[1];
    }
}

namespace {

/// Holds the reply lines of a window until it ends, however it ends.
struct HeldReplyLines {
    bool& hold;
    std::function<void()> flush;
    HeldReplyLines(bool& h, std::function<void()> f) : hold(h), flush(std::move(f)) { hold = true; }
    ~HeldReplyLines()
    {
        hold = false;
        flush();
    }
};

} // namespace

void EvUSBNetBoard::read_nv_window_words(uint8_t buffer[NV_SECTOR_SIZE], unsigned window)
{
    HeldReplyLines held(hold_reply_lines, [this] { flush_log(); });
    // the board answers in order: a window of words costs one round trip
    // instead of two per word, which is most of the time a board takes to
    // open; its requests leave in one go where the transport can
    std::vector<std::vector<uint8_t>> requests;
    requests.reserve(3 * window);
    const uint8_t ids[3] = {protocol::REPORT_FLASHADDR, protocol::REPORT_FLASHADDR, protocol::REPORT_FLASHDATA};
    const unsigned dlens[3] = {1, 1, 2};
    for (unsigned first = 0; first < NV_WORDS; first += window) {
        const unsigned end = std::min(first + window, unsigned(NV_WORDS));
        drop_stale_replies();
        requests.resize(3 * (end - first));
        for (unsigned w = first; w < end; ++w) {
            const uint8_t address = uint8_t(w);
            std::vector<uint8_t>* r = &requests[3 * (w - first)];
            protocol::build_set_report_into(r[0], protocol::REPORT_FLASHADDR, &address, 1);
            protocol::build_get_report_into(r[1], protocol::REPORT_FLASHADDR);
            protocol::build_get_report_into(r[2], protocol::REPORT_FLASHDATA);
        }
        unsigned sent = 0;
        int result = queue_vendor_packets(requests.data(), unsigned(requests.size()), &sent);
        // the lines of what went out, a failed request's included
        const unsigned logged = result == 0 ? sent : sent + 1;
        for (unsigned k = 0; k < logged; ++k)
            protocol::append_report_line(held_log, ids[k % 3], k % 3 > 0, dlens[k % 3], requests[k]);
        flush_log();
        for (unsigned w = first; w < end && result == 0; ++w) {
            uint8_t address = 0, word[2] = {0, 0};
            result = wait_reply(protocol::REPORT_FLASHADDR, 1, &address);
            if (result == 0 && address != w)
                throw WindowAstray("a flash address reply out of order");
            if (result == 0)
                result = wait_reply(protocol::REPORT_FLASHDATA, 2, word);
            buffer[2 * w] = word[0];
            buffer[2 * w + 1] = word[1];
        }
        flush_log();
        if (result != 0)
            throw WindowAstray("a window of the sector went unanswered");
    }
}

int EvUSBNetBoard::report_op(uint8_t id, bool get, unsigned dlen, uint8_t* data)
{
    BusyGuard guard(this);
    if (report_io(id, get, dlen, data) == 0)
        return 0;
    leave_registry();
    return -1;
}

int EvUSBNetBoard::get_report11()
{
    uint8_t b = 0;
    if (report_op(protocol::REPORT_11, true, 1, &b))
        return -1;
    return b;
}

void EvUSBNetBoard::set_report10(bool a, bool b)
{
    uint8_t v = uint8_t((a ? 1 : 0) | (b ? 2 : 0));
    report_op(protocol::REPORT_10, false, 1, &v);
}

void EvUSBNetBoard::evusb_write(uint16_t address, uint8_t value)
{
    uint8_t d[4] = {uint8_t(address), uint8_t(address >> 8), 1, value};
    report_op(protocol::REPORT_REGISTER, false, 4, d);
}

void EvUSBNetBoard::flush_log()
{
    if (held_log.empty())
        return;
    diag_text(held_log);
    // the buffer keeps its capacity for the next exchange
    held_log.clear();
}

uint16_t EvUSBNetBoard::evusb_read16(uint16_t address)
{
    const uint8_t req[4] = {uint8_t(address), uint8_t(address >> 8), 0, 0};
    uint8_t reply[5] = {0, 0, 0, 0, 0};
    BusyGuard guard(this);
    // the read request needs no answer, so the get can follow at once
    if (report_io_pair(protocol::REPORT_REGISTER, 4, req, protocol::REPORT_REGISTER, 5, reply, 2) == 0)
        return uint16_t(reply[3] | reply[4] << 8);
    leave_registry();
    return 0xFFFF;
}

void EvUSBNetBoard::evusb_read16_many(const uint16_t* addresses, unsigned count, uint16_t* values)
{
    const unsigned window = register_read_window();
    unsigned done = 0;
    if (window > 1 && count > 1) {
        BusyGuard guard(this);
        try {
            // one exchange: a status handled between two replies of a window
            // would drop the rest as stale
            as_exchange([&] {
                read_register_windows(addresses, count, values, window, done);
                return 0;
            });
            return;
        } catch (const WindowAstray& e) {
            // one request at a time cannot be misaligned, only late; on a
            // closed adapter each of the rest fails at once, as it would alone
            if (!is_input_closed())
                diag() << "evusb_read16: " << e.what() << "; reading the rest one by one" << std::endl;
        }
    }
    for (unsigned i = done; i < count; ++i)
        values[i] = evusb_read16(addresses[i]);
}

void EvUSBNetBoard::read_register_windows(const uint16_t* addresses, unsigned count, uint16_t* values,
                                          unsigned window, unsigned& done)
{
    HeldReplyLines held(hold_reply_lines, [this] { flush_log(); });
    std::vector<std::vector<uint8_t>> requests;
    requests.reserve(2 * window);
    for (unsigned first = 0; first < count; first += window) {
        const unsigned end = std::min(first + window, count);
        drop_stale_replies();
        requests.resize(2 * (end - first));
        for (unsigned k = first; k < end; ++k) {
            const uint8_t request[4] = {uint8_t(addresses[k]), uint8_t(addresses[k] >> 8), 0, 0};
            protocol::build_set_report_into(requests[2 * (k - first)], protocol::REPORT_REGISTER, request, 4);
            protocol::build_get_report_into(requests[2 * (k - first) + 1], protocol::REPORT_REGISTER);
        }
        unsigned sent = 0;
        int result = queue_vendor_packets(requests.data(), unsigned(requests.size()), &sent);
        const unsigned logged = result == 0 ? sent : sent + 1;
        for (unsigned j = 0; j < logged; ++j)
            protocol::append_report_line(held_log, protocol::REPORT_REGISTER, j % 2 == 1, j % 2 ? 5 : 4,
                                         requests[j]);
        flush_log();
        for (unsigned k = first; k < end && result == 0; ++k) {
            uint8_t reply[5] = {0, 0, 0, 0, 0};
            result = wait_reply(protocol::REPORT_REGISTER, 5, reply);
            // each reply names its register: one for another answers a
            // request whose own reply went missing or came late
            if (result == 0 && (reply[0] != uint8_t(addresses[k]) || reply[1] != uint8_t(addresses[k] >> 8)))
                throw WindowAstray("a register reply out of order");
            if (result == 0) {
                values[k] = uint16_t(reply[3] | reply[4] << 8);
                done = k + 1;
            }
        }
        if (result != 0)
            throw WindowAstray("a window of register reads went unanswered");
        flush_log();
    }
}

void EvUSBNetBoard::evusb_write_many(const uint16_t* addresses, const uint8_t* values, unsigned count)
{
    if (count == 0)
        return;
    BusyGuard guard(this);
    std::vector<std::vector<uint8_t>> requests(count);
    for (unsigned i = 0; i < count; ++i) {
        const uint8_t d[4] = {uint8_t(addresses[i]), uint8_t(addresses[i] >> 8), 1, values[i]};
        protocol::build_set_report_into(requests[i], protocol::REPORT_REGISTER, d, 4);
    }
    const int result = as_exchange([&] {
        unsigned sent = 0;
        const int r = queue_vendor_packets(requests.data(), count, &sent);
        // the lines of what went out, a failed request's included
        const unsigned logged = r == 0 ? sent : sent + 1;
        for (unsigned i = 0; i < logged; ++i)
            protocol::append_report_line(held_log, protocol::REPORT_REGISTER, false, 4, requests[i]);
        flush_log();
        return r;
    });
    // as a failed write alone: the board leaves, and the rest would fail too
    if (result != 0)
        leave_registry();
}

void EvUSBNetBoard::set_flashctl(uint8_t v)
{
    report_op(protocol::REPORT_FLASHCTL, false, 1, &v);
}

int EvUSBNetBoard::get_flashctl()
{
    uint8_t b = 0;
    if (report_op(protocol::REPORT_FLASHCTL, true, 1, &b))
        return -1;
    return b;
}

void EvUSBNetBoard::set_flashaddr(uint8_t a)
{
    report_op(protocol::REPORT_FLASHADDR, false, 1, &a);
}

int EvUSBNetBoard::get_flashaddr()
{
    uint8_t b = 0;
    if (report_op(protocol::REPORT_FLASHADDR, true, 1, &b))
        return -1;
    return b;
}

void EvUSBNetBoard::set_flashdata(uint16_t w)
{
    uint8_t d[2] = {uint8_t(w), uint8_t(w >> 8)};
    report_op(protocol::REPORT_FLASHDATA, false, 2, d);
}

int EvUSBNetBoard::get_flashdata()
{
    uint8_t d[2] = {0, 0};
    if (report_op(protocol::REPORT_FLASHDATA, true, 2, d))
        return -1;
    return d[0] | d[1] << 8;
}

void EvUSBNetBoard::evusb_set_ethstate(uint8_t state)
{
    report_op(protocol::REPORT_STATE, false, 1, &state);
}

int EvUSBNetBoard::evusb_get_ethstate()
{
    uint8_t b = 0;
    if (report_op(protocol::REPORT_STATE, true, 1, &b))
        return -1;
    return b;
}

void EvUSBNetBoard::set_chacc(const uint8_t block[9], const uint8_t addresses[12])
{
    uint8_t d[21];
    std::memcpy(d, block, 9);
    std::memcpy(d + 9, addresses, 12);
    report_op(protocol::REPORT_CHACC, false, sizeof d, d);
}

void EvUSBNetBoard::get_chacc(uint8_t block[9], uint8_t addresses[12])
{
    uint8_t d[21];
    if (report_op(protocol::REPORT_CHACC, true, sizeof d, d))
        return;
    std::memcpy(block, d, 9);
    std::memcpy(addresses, d + 9, 12);
}

void EvUSBNetBoard::handle_frame(const uint8_t* frame, unsigned len)
{
    protocol::FrameView f;
    if (!protocol::parse_frame(frame, len, f) || !protocol::is_broadcast(f.destination))
        return;
    BusyGuard guard(this);
    switch (f.ethertype) {
    case protocol::ETHERTYPE_NET:
        // what its handlers log comes after the requests already sent
        flush_log();
        handle_net_packet(f.payload, f.payload_len, f.source);
        break;
    case protocol::ETHERTYPE_VENDOR:
        if (std::memcmp(f.source, ethernet_mac, 6) == 0)
            handle_vendor_packet(f.payload, f.payload_len, f.source);
        break;
    case protocol::ETHERTYPE_RADIO:
        flush_log();
        handle_radio_record(f.payload, f.payload_len, f.source);
        break;
    default:
        break;
    }
}

void EvUSBNetBoard::handle_vendor_packet(const uint8_t* payload, unsigned len, const uint8_t*)
{
    // the reply's storage is the one the last taken reply left behind
    std::vector<uint8_t> entry = std::move(spare_reply);
    switch (protocol::classify_vendor_packet(payload, len, &entry)) {
    case protocol::VendorKind::Status: {
        USBDeviceStatus s; // arrival time stamp
        // The tick counter moves on between two reports, so a report equal
        // to the one before is that one again (a duplicated frame); it would
        // reach every listener twice.
        const gint64 now = g_get_monotonic_time();
        if (len == last_status.size() && std::equal(payload, payload + len, last_status.begin()) &&
            now - last_status_time < int64_t(DUPLICATE_STATUS_WINDOW_MS) * 1000) {
            diag() << "status: duplicate report dropped" << std::endl;
            break;
        }
        last_status.assign(payload, payload + len);
        last_status_time = now;
        protocol::parse_status(payload, len, s);
        // handled at once unless an exchange waits or earlier ones are
        // still queued: the queue keeps the order either way
        if (deferred_statuses.size() >= MAX_DEFERRED_STATUSES)
            deferred_statuses.pop_front();
        deferred_statuses.push_back(s);
        handle_deferred_statuses();
        break;
    }
    case protocol::VendorKind::Reply:
        if (reply_queue.size() >= MAX_QUEUED_REPLIES)
            reply_queue.pop_front();
        reply_queue.push_back(std::move(entry));
        break;
    case protocol::VendorKind::DroppedStatus:
    case protocol::VendorKind::Invalid:
        break;
    }
}

void EvUSBNetBoard::handle_net_packet(const uint8_t* payload, unsigned len, const uint8_t* source_mac)
{
    deliver_packet(payload, len, source_mac, -32768, 0);
}

void EvUSBNetBoard::handle_radio_record(const uint8_t* payload, unsigned len, const uint8_t* source_mac)
{
    protocol::RadioPacket p;
    if (!protocol::parse_radio_record(payload, len, p))
        return;
    deliver_packet(p.data.data(), unsigned(p.data.size()), source_mac, p.rssi, p.frequency_offset);
}

void EvUSBNetBoard::deliver_packet(const uint8_t* data, unsigned len, const uint8_t* source_mac, int16_t rssi,
                                   int32_t frequency_offset)
{
    ++rx_pkt_count;
    signal_changed_packetcounters.emit();
    signal_receive.emit(data, len, source_mac, rssi, frequency_offset);
}

std::vector<uint8_t> EvUSBNetBoard::build_vendor_frame(const uint8_t* payload, unsigned len) const
{
    return protocol::build_frame(protocol::BROADCAST_MAC, protocol::BROADCAST_MAC, protocol::ETHERTYPE_VENDOR,
                                 payload, len);
}

std::vector<uint8_t> EvUSBNetBoard::build_net_frame(const uint8_t* payload, unsigned len,
                                                    const uint8_t* destination_mac) const
{
    return protocol::build_frame(destination_mac ? destination_mac : nv_radio_ethernet_mac, ethernet_mac,
                                 protocol::ETHERTYPE_NET, payload, len);
}

EvUSBBoard::NvLayout EvUSBNetBoard::nv_layout() const
{
    return NV_LAYOUT_SECOND;
}

void EvUSBNetBoard::build_nvsector(uint8_t b[NV_SECTOR_SIZE])
{
    std::memset(b, 0xFF, NV_SECTOR_SIZE);
    nv_put_serial(b, nv_serial);
    std::memcpy(b + NV_SECOND_ETHMAC, nv_ethernet_mac, 6);
    std::memcpy(b + NV_SECOND_RADIO_ETHMAC, nv_radio_ethernet_mac, 6);
    b[NV_SECOND_RX_ETHERTYPE] = rx_radio_records ? 0x09 : 0x08;
    b[NV_SECOND_RX_ETHERTYPE + 1] = rx_radio_records ? 0x01 : 0xFF;
    nv_put_defaults(nv_layout(), current_nv_defaults(), b);
}

void EvUSBNetBoard::parse_nvsector(const uint8_t b[NV_SECTOR_SIZE])
{
    take_nv_serial(b);
    std::memcpy(nv_ethernet_mac, b + NV_SECOND_ETHMAC, 6);
    signal_changed_nv_ethmac.emit();
    std::memcpy(nv_radio_ethernet_mac, b + NV_SECOND_RADIO_ETHMAC, 6);
    signal_changed_nv_radio_ethmac.emit();
    rx_radio_records = !(b[NV_SECOND_RX_ETHERTYPE] == 0x08 && b[NV_SECOND_RX_ETHERTYPE + 1] == 0xFF);
    take_nv_defaults(nv_get_defaults(nv_layout(), b));
}

} // namespace KORVIK
