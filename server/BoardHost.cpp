#include "BoardHost.h"

#include <chrono>
#include <cstdio>
#include <future>

#include <glib.h>

#include <korvik/USBDevice.h>

#include "registry/Library.h"
#include "board/EvUSBBoard.h"
#include "board/MainLoop.h"
#include "model/GreyfinModel.h"

namespace korvikd {

using korvik::rpc::Event;
using korvik::rpc::Op;

namespace {

// what one batch may ask for: far more than a commit or an NV store needs,
// far less than would let one client stall the board thread
const int MAX_OPS = 8192;
const size_t MAX_PACKET = 4096;

std::string mac_text(const uint8_t* mac)
{
    char text[13];
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X%02X%02X", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    return text;
}

gboolean run_work(gpointer data)
{
    (*static_cast<std::function<void()>*>(data))();
    return G_SOURCE_REMOVE;
}

void free_work(gpointer data)
{
    delete static_cast<std::function<void()>*>(data);
}

void set_status(korvik::rpc::Status& out, const KORVIK::USBDeviceStatus& s)
{
    out.set_time_sec(s.time_sec);
    out.set_time_usec(s.time_usec);
    out.set_ticks(s.ticks);
    out.set_value1(s.value1);
    out.set_value2(s.value2);
    out.set_value3(s.value3);
    out.set_progstate(s.progstate);
    out.set_progdetail(s.progdetail);
    out.set_aux1(s.aux1);
    out.set_aux2(s.aux2);
    out.set_aux3(s.aux3);
    const bool flags[8] = {s.flag0, s.flag1, s.flag2, s.flag3, s.flag4, s.flag5, s.flag6, s.flag7};
    uint32_t bits = 0;
    for (unsigned i = 0; i < 8; ++i)
        bits |= uint32_t(flags[i]) << i;
    out.set_flags(bits);
}

grpc::Status invalid(const std::string& what)
{
    return grpc::Status(grpc::StatusCode::INVALID_ARGUMENT, what);
}

} // namespace

bool op_writes(Op::Kind kind)
{
    switch (kind) {
    case Op::WRITE_REG:
    case Op::SET_ETHSTATE:
    case Op::SET_FLASHCTL:
    case Op::SET_FLASHADDR:
    case Op::SET_FLASHDATA:
    case Op::SET_CHACC:
    case Op::SET_REPORT10:
    case Op::WRITE_NV:
    case Op::SEND_PACKET:
        return true;
    default:
        return false;
    }
}

BoardHost::BoardHost() = default;

BoardHost::~BoardHost()
{
    status_source.disconnect();
    connect_connection.disconnect();
    disconnect_connection.disconnect();
    for (auto& board : board_connections)
        for (auto& c : board.second)
            c.disconnect();
    close_subscribers();
}

void BoardHost::start()
{
    library = KORVIK::Library::instance();
    if (!library)
        throw std::runtime_error("the board library cannot start");
    connect_connection = library->notify_device_connect(
        [this](const std::string& interface, const std::string&) { board_connected(interface); });
    disconnect_connection = library->notify_device_disconnect(
        [this](const std::string& interface, const std::string&) { board_disconnected(interface); });
}

void BoardHost::add_simulated(const std::string& chip)
{
    const unsigned n = ++sim_numbers[chip];
    const std::string serial = "SIM-" + chip + "-" + std::to_string(n);
    // a MAC of its own per board, so packets on the shared air have a sender
    const unsigned index = unsigned(simulated.size()) + 1;
    uint8_t mac[6] = {0x40, 0x00, 0x12, uint8_t(index >> 8), uint8_t(index), 0x00};
    std::unique_ptr<KORVIK::USBDevice> d(
        KORVIK::USBDevice::open_simulation(serial, serial + " (sim " + chip + ")", chip, mac_text(mac)));
    if (!d)
        throw std::runtime_error("cannot make a simulated " + chip);
    d->load_chipdefaults();
    d->set_nv_ethmac(mac);
    mac[5] = 0x01;
    d->set_nv_radio_ethmac(mac);
    d->commit_registers();
    d->store_boarddefaults();
    simulated.push_back(std::move(d));
}

void BoardHost::post(const std::function<void()>& work)
{
    auto done = std::make_shared<std::promise<void>>();
    auto future = done->get_future();
    auto* task = new std::function<void()>([work, done] {
        work();
        done->set_value();
    });
    g_main_context_invoke_full(KORVIK::main_context()->gobj(), G_PRIORITY_DEFAULT, run_work, task, free_work);
    future.wait();
}

void BoardHost::info_of(KORVIK::EvUSBBoard* board, korvik::rpc::BoardInfo& info)
{
    info.set_id(board->get_interface());
    info.set_serial(board->get_serial());
    info.set_display_name(board->get_display_name());
    if (KORVIK::GreyfinModel* model = board->get_model())
        info.set_chip(model->get_chip_name());
    info.set_mac(mac_text(board->get_ethernet_mac()));
    info.set_boardflags(board->get_boardflags());
    info.set_chipflags(board->get_chipflags());
}

void BoardHost::list(korvik::rpc::ListReply& reply)
{
    std::lock_guard<std::mutex> lock(listing_mutex);
    for (const auto& entry : listing)
        *reply.add_boards() = entry.second;
}

void BoardHost::refresh_listing(KORVIK::EvUSBBoard* board)
{
    korvik::rpc::BoardInfo info;
    const bool dead = board->is_dead();
    if (!dead)
        info_of(board, info);
    std::lock_guard<std::mutex> lock(listing_mutex);
    if (dead)
        listing.erase(board->get_interface());
    else
        listing[board->get_interface()] = info;
}

void BoardHost::start_status_source(unsigned per_second)
{
    if (simulated.empty() || per_second == 0)
        return;
    auto entry = library->find_interface(simulated.front()->get_interface());
    if (entry == library->end())
        return;
    KORVIK::EvUSBBoard* board = entry->second;
    const int64_t start = g_get_monotonic_time();
    auto sent = std::make_shared<uint64_t>(0);
    // as many as are due by now, so that a late timer catches up
    status_source = KORVIK::main_context()->signal_timeout().connect(
        [board, start, sent, per_second] {
            const uint64_t due = uint64_t(g_get_monotonic_time() - start) * per_second / 1000000;
            for (; *sent < due; ++*sent) {
                KORVIK::USBDeviceStatus s;
                s.ticks = uint16_t(*sent);
                s.value2 = uint16_t(*sent);
                s.value3 = uint16_t(*sent >> 16);
                board->handle_status(s);
            }
            return true;
        },
        1);
}

bool BoardHost::has_board(const std::string& id)
{
    std::lock_guard<std::mutex> lock(listing_mutex);
    return listing.count(id) != 0;
}

void BoardHost::board_connected(const std::string& interface)
{
    auto entry = library->find_interface(interface);
    if (entry == library->end())
        return;
    KORVIK::EvUSBBoard* board = entry->second;
    auto& connections = board_connections[interface];
    connections.push_back(board->signal_status.connect([this, interface](const KORVIK::USBDeviceStatus& s) {
        Event e;
        e.set_board(interface);
        set_status(*e.mutable_status(), s);
        publish(e);
    }));
    connections.push_back(board->signal_receive.connect(
        [this, interface](const uint8_t* data, unsigned len, const uint8_t* source, int16_t rssi, int32_t offset) {
            Event e;
            e.set_board(interface);
            auto* p = e.mutable_packet();
            p->set_data(data, len);
            if (source)
                p->set_source(source, 6);
            p->set_rssi(rssi);
            p->set_frequency_offset(offset);
            publish(e);
        }));
    refresh_listing(board);
    Event e;
    e.set_board(interface);
    info_of(board, *e.mutable_added());
    publish(e);
}

void BoardHost::board_disconnected(const std::string& interface)
{
    {
        std::lock_guard<std::mutex> lock(listing_mutex);
        listing.erase(interface);
    }
    auto it = board_connections.find(interface);
    if (it != board_connections.end()) {
        for (auto& c : it->second)
            c.disconnect();
        board_connections.erase(it);
    }
    if (on_board_removed)
        on_board_removed(interface);
    Event e;
    e.set_board(interface);
    e.set_removed(true);
    publish(e);
}

grpc::Status BoardHost::apply(const korvik::rpc::OpBatch& batch, korvik::rpc::OpReply& reply)
{
    if (batch.ops_size() > MAX_OPS)
        return invalid("more than " + std::to_string(MAX_OPS) + " operations in one batch");
    auto entry = library->find_interface(batch.board());
    if (entry == library->end() || entry->second->is_dead())
        return grpc::Status(grpc::StatusCode::NOT_FOUND, "no board " + batch.board());
    KORVIK::EvUSBBoard* board = entry->second;
    // the board may leave the registry during an exchange
    board->reference();
    // what the batch did shows in the listing (an NV write's MAC, a board
    // that died on the way)
    struct Unref {
        BoardHost* host;
        KORVIK::EvUSBBoard* b;
        ~Unref()
        {
            host->refresh_listing(b);
            b->unreference();
        }
    } unref{this, board};
    KORVIK::EvUSBBoard::BusyGuard guard(board);

    try {
        for (const Op& op : batch.ops()) {
            if (op.address() > 0xFFFF)
                return invalid("register address out of range");
            const uint32_t v = op.value();
            switch (op.kind()) {
            case Op::WRITE_REG:
            case Op::SET_ETHSTATE:
            case Op::SET_FLASHCTL:
            case Op::SET_FLASHADDR:
            case Op::SET_REPORT10:
                if (v > 0xFF)
                    return invalid("byte value out of range");
                break;
            case Op::SET_FLASHDATA:
                if (v > 0xFFFF)
                    return invalid("word value out of range");
                break;
            default:
                break;
            }
            switch (op.kind()) {
            case Op::WRITE_REG:
                board->evusb_write(uint16_t(op.address()), uint8_t(v));
                break;
            case Op::READ_REG:
                reply.add_results()->set_value(board->evusb_read16(uint16_t(op.address())));
                break;
            case Op::SET_ETHSTATE:
                board->evusb_set_ethstate(uint8_t(v));
                break;
            case Op::GET_ETHSTATE:
                reply.add_results()->set_value(board->evusb_get_ethstate());
                break;
            case Op::SET_FLASHCTL:
                board->set_flashctl(uint8_t(v));
                break;
            case Op::GET_FLASHCTL:
                reply.add_results()->set_value(board->get_flashctl());
                break;
            case Op::SET_FLASHADDR:
                board->set_flashaddr(uint8_t(v));
                break;
            case Op::GET_FLASHADDR:
                reply.add_results()->set_value(board->get_flashaddr());
                break;
            case Op::SET_FLASHDATA:
                board->set_flashdata(uint16_t(v));
                break;
            case Op::GET_FLASHDATA:
                reply.add_results()->set_value(board->get_flashdata());
                break;
            case Op::SET_CHACC: {
                if (op.data().size() != 21)
                    return invalid("channel access takes 21 bytes");
                const auto* d = reinterpret_cast<const uint8_t*>(op.data().data());
                board->set_chacc(d, d + 9);
                break;
            }
            case Op::GET_CHACC: {
                uint8_t d[21];
                board->get_chacc(d, d + 9);
                reply.add_results()->set_data(d, sizeof d);
                break;
            }
            case Op::SET_REPORT10:
                board->set_report10(v & 1, v & 2);
                break;
            case Op::GET_REPORT11:
                reply.add_results()->set_value(board->get_report11());
                break;
            case Op::READ_NV: {
                uint8_t sector[KORVIK::EvUSBBoard::NV_SECTOR_SIZE];
                board->load_nv(sector);
                reply.add_results()->set_data(sector, sizeof sector);
                break;
            }
            case Op::WRITE_NV:
                if (op.data().size() != KORVIK::EvUSBBoard::NV_SECTOR_SIZE)
                    return invalid("an NV sector is " + std::to_string(KORVIK::EvUSBBoard::NV_SECTOR_SIZE) +
                                   " bytes");
                board->write_nvsector(reinterpret_cast<const uint8_t*>(op.data().data()));
                break;
            case Op::SEND_PACKET: {
                if (op.data().size() > MAX_PACKET)
                    return invalid("packet longer than " + std::to_string(MAX_PACKET) + " bytes");
                if (!op.mac().empty() && op.mac().size() != 6)
                    return invalid("a destination MAC has 6 bytes");
                const auto* mac = op.mac().empty() ? nullptr : reinterpret_cast<const uint8_t*>(op.mac().data());
                board->send_packet(reinterpret_cast<const uint8_t*>(op.data().data()), unsigned(op.data().size()),
                                   mac);
                reply.add_results()->set_value(0);
                break;
            }
            default:
                return invalid("unknown operation " + std::to_string(int(op.kind())));
            }
            if (board->is_dead())
                return grpc::Status(grpc::StatusCode::UNAVAILABLE, "board " + batch.board() + " is gone");
        }
    } catch (const std::exception& e) {
        return grpc::Status(grpc::StatusCode::ABORTED, e.what());
    }
    return grpc::Status::OK;
}

void BoardHost::subscribe(const std::shared_ptr<Subscriber>& s)
{
    std::lock_guard<std::mutex> lock(subscribers_mutex);
    subscribers.insert(s);
}

void BoardHost::unsubscribe(const std::shared_ptr<Subscriber>& s)
{
    std::lock_guard<std::mutex> lock(subscribers_mutex);
    subscribers.erase(s);
}

void BoardHost::publish(const Event& event)
{
    std::lock_guard<std::mutex> lock(subscribers_mutex);
    for (const auto& s : subscribers)
        s->queue.push(event);
}

void BoardHost::publish_to(const std::string& client_id, const Event& event)
{
    std::lock_guard<std::mutex> lock(subscribers_mutex);
    for (const auto& s : subscribers)
        if (s->client_id == client_id)
            s->queue.push(event);
}

void BoardHost::close_subscribers()
{
    std::lock_guard<std::mutex> lock(subscribers_mutex);
    for (const auto& s : subscribers)
        s->queue.close();
}

} // namespace korvikd
