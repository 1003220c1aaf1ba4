#include "board/ReplayBoard.h"

#include <algorithm>
#include <cstring>
#include <thread>

#include <glib.h>

#include "board/FlashUnlock.h"
#include "board/MainLoop.h"
#include "board/Protocol.h"
#include "model/GreyfinModel.h"
#include "model/common/Diagnostics.h"

namespace KORVIK {

namespace proto = protocol;

namespace {

std::string hex(unsigned v, int digits)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%0*x", digits, v);
    return buf;
}

} // namespace

ReplayBoard::ReplayBoard(BoardRegistry* registry, const Recording& r, const std::string& chip,
                         const std::string& interface, const std::string& display_name)
    : EvUSBNetBoard(registry, r.serial, interface, display_name, proto::format_mac_string(r.mac)),
      registers(0x10000, 0), register_known(0x10000, false), statuses(r.statuses), packets(r.packets)
{
    for (unsigned w = 0; w < NV_WORDS; ++w) {
        flash[w] = 0xFFFF;
        flash_known[w] = false;
    }
    for (const auto& word : r.flash) {
        flash[word.first] = word.second;
        flash_known[word.first] = true;
    }
    for (const auto& reg : r.registers) {
        registers[reg.first] = reg.second;
        register_known[reg.first] = true;
    }
    ethstate = r.ethstate >= 0 ? uint8_t(r.ethstate) : 0;
    report11 = r.report11 >= 0 ? uint8_t(r.report11) : 0;
    if (r.has_chacc) {
        std::memcpy(chacc_block, r.chacc, sizeof chacc_block);
    } else {
        chacc.get_block(chacc_block);
        chacc.get_addresses(chacc_block + ChannelAccessParams::BLOCK_SIZE);
    }
    std::stable_sort(statuses.begin(), statuses.end(),
                     [](const Recording::Status& a, const Recording::Status& b) { return a.time < b.time; });
    std::stable_sort(packets.begin(), packets.end(),
                     [](const Recording::Packet& a, const Recording::Packet& b) { return a.time < b.time; });

    attach_chip_model(chip);
    // what a live board of the recording would have been found with
    read_boardnv();
    load_chipoperating();
    start_us = g_get_monotonic_time();
    arm();
}

ReplayBoard::~ReplayBoard()
{
    timer.disconnect();
}

unsigned ReplayBoard::get_boardflags()
{
    return 1;
}

void ReplayBoard::leave_registry()
{
    if (dead)
        return;
    dead = true;
    timer.disconnect();
    BusyGuard guard(this);
    EvUSBNetBoard::leave_registry();
}

bool ReplayBoard::is_dead()
{
    return dead;
}

bool ReplayBoard::is_net_up()
{
    return true;
}

void ReplayBoard::wait_input()
{
    // every get is answered while it is sent; this is reached only for a
    // report the recorded board never answers, so do not spin until the
    // exchange's deadline
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
}

int ReplayBoard::queue_vendor_packet_lowlevel(const uint8_t* p, unsigned len, const uint8_t*)
{
    if (dead)
        return -1;
    if (len < 4)
        return 0;
    const unsigned l = unsigned(p[0] << 8 | p[1]);
    if (l < 2 || l + 2 > len)
        return 0;
    if (p[2] == proto::REQUEST_SET)
        apply_set(p[3], p + 4, l - 2);
    else if (p[2] == proto::REQUEST_GET)
        answer_get(p[3]);
    return 0;
}

int ReplayBoard::queue_net_packet_lowlevel(const uint8_t*, unsigned, const uint8_t*)
{
    return dead ? -1 : 0;
}

void ReplayBoard::apply_set(uint8_t id, const uint8_t* d, unsigned dlen)
{
    switch (id) {
    case proto::REPORT_CHACC:
        if (dlen >= sizeof chacc_block)
            std::memcpy(chacc_block, d, sizeof chacc_block);
        break;
    case proto::REPORT_STATE:
        if (dlen >= 1)
            ethstate = d[0];
        break;
    case proto::REPORT_FLASHCTL:
        if (dlen >= 1) {
            const FlashStep step = flash_unlock_step(flash_state, d[0]);
            if (step.erase)
                for (unsigned w = 0; w < NV_WORDS; ++w) {
                    flash[w] = 0xFFFF;
                    flash_known[w] = true;
                }
            flash_state = step.state;
        }
        break;
    case proto::REPORT_FLASHADDR:
        if (dlen >= 1)
            flash_address = d[0];
        break;
    case proto::REPORT_FLASHDATA:
        if (dlen >= 2 && flash_state == 2) {
            flash[flash_address] = uint16_t(d[0] | d[1] << 8);
            flash_known[flash_address] = true;
        }
        break;
    case proto::REPORT_REGISTER:
        if (dlen >= 4) {
            const uint16_t a = uint16_t(d[0] | d[1] << 8);
            if (d[2] == 1) {
                registers[a] = d[3];
                register_known[a] = true;
            } else {
                read_address = a;
            }
        }
        break;
    default:
        break;
    }
}

uint8_t ReplayBoard::read_register(uint16_t a)
{
    if (register_known[a])
        return registers[a];
    // the simulated default: what the chip holds after reset
    uint8_t value = 0;
    if (model) {
        const int index = model->find_register_by_operatingaddr(a);
        if (index >= 0)
            value = model->get_register_defaultvalue(unsigned(index));
    }
    if (reported_registers.insert(a).second)
        diag() << "ReplayBoard: register " << hex(a, 3) << " was never recorded; answering the simulated default "
               << hex(value, 2) << std::endl;
    return value;
}

void ReplayBoard::answer_get(uint8_t id)
{
    uint8_t out[5] = {0, 0, 0, 0, 0};
    switch (id) {
    case proto::REPORT_11:
        send_to_host(id, &report11, 1);
        return;
    case proto::REPORT_CHACC:
        send_to_host(id, chacc_block, sizeof chacc_block);
        return;
    case proto::REPORT_STATE:
        send_to_host(id, &ethstate, 1);
        return;
    case proto::REPORT_FLASHCTL:
        send_to_host(id, &flash_state, 1);
        return;
    case proto::REPORT_FLASHADDR:
        send_to_host(id, &flash_address, 1);
        return;
    case proto::REPORT_FLASHDATA: {
        if (!flash_known[flash_address] && !flash_gap_reported) {
            flash_gap_reported = true;
            unsigned missing = 0;
            for (bool known : flash_known)
                missing += known ? 0 : 1;
            diag() << "ReplayBoard: " << missing << " of " << NV_WORDS
                   << " NV words were never recorded; answering them erased (0xffff)" << std::endl;
        }
        const uint16_t w = flash[flash_address];
        out[0] = uint8_t(w);
        out[1] = uint8_t(w >> 8);
        send_to_host(id, out, 2);
        return;
    }
    case proto::REPORT_REGISTER:
        // as the board firmware answers: the address read, a zero, the
        // register and the one after it
        out[0] = uint8_t(read_address);
        out[1] = uint8_t(read_address >> 8);
        out[2] = 0;
        out[3] = read_register(read_address);
        out[4] = read_register(uint16_t(read_address + 1));
        send_to_host(id, out, 5);
        return;
    default:
        diag() << "ReplayBoard: report " << hex(id, 2) << " is not answered by a recorded board" << std::endl;
        return;
    }
}

void ReplayBoard::send_to_host(uint8_t id, const uint8_t* data, unsigned dlen)
{
    const std::vector<uint8_t> packet = proto::build_board_packet(id, data, dlen);
    handle_vendor_packet(packet.data(), unsigned(packet.size()), ethernet_mac);
}

size_t ReplayBoard::get_pending_events() const
{
    return (statuses.size() - next_status) + (packets.size() - next_packet);
}

void ReplayBoard::arm()
{
    timer.disconnect();
    if (dead || get_pending_events() == 0)
        return;
    double next = 1e300;
    if (next_status < statuses.size())
        next = std::min(next, statuses[next_status].time);
    if (next_packet < packets.size())
        next = std::min(next, packets[next_packet].time);
    const int64_t due_us = start_us + int64_t(next * 1e6);
    const int64_t wait_ms = std::max<int64_t>(0, (due_us - g_get_monotonic_time() + 999) / 1000);
    timer = main_context()->signal_timeout().connect(sigc::mem_fun(*this, &ReplayBoard::on_timer),
                                                     unsigned(std::min<int64_t>(wait_ms, 1 << 30)));
}

bool ReplayBoard::on_timer()
{
    BusyGuard guard(this);
    const double now = double(g_get_monotonic_time() - start_us) / 1e6;
    // everything that is due, in recorded order; a handler may end the board
    while (!dead) {
        const bool status_due = next_status < statuses.size() && statuses[next_status].time <= now;
        const bool packet_due = next_packet < packets.size() && packets[next_packet].time <= now;
        if (!status_due && !packet_due)
            break;
        if (status_due && (!packet_due || statuses[next_status].time <= packets[next_packet].time)) {
            const std::vector<uint8_t> packet = proto::build_status_packet(statuses[next_status++].status);
            handle_vendor_packet(packet.data(), unsigned(packet.size()), ethernet_mac);
        } else {
            const Recording::Packet& p = packets[next_packet++];
            deliver_packet(p.data.data(), unsigned(p.data.size()), p.source_mac, p.rssi, p.frequency_offset);
        }
    }
    // a new timeout for the next one; this one ends
    timer = sigc::connection();
    arm();
    return false;
}

} // namespace KORVIK
