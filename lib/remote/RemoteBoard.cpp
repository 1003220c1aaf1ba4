#include "remote/RemoteBoard.h"

#include <cstring>
#include <mutex>
#include <stdexcept>

#include "board/MainLoop.h"
#include "board/ScratchBoard.h"
#include "model/GreyfinModel.h"
#include "model/common/Diagnostics.h"
#include "remote/RemoteLink.h"

namespace KORVIK {

using korvik::rpc::Op;

namespace {

Op make_op(Op::Kind kind, uint32_t address = 0, uint32_t value = 0)
{
    Op op;
    op.set_kind(kind);
    op.set_address(address);
    op.set_value(value);
    return op;
}

// a status that says the board (not the link) refused: the caller hears of it
bool refused(const grpc::Status& s)
{
    return s.error_code() == grpc::StatusCode::FAILED_PRECONDITION ||
           s.error_code() == grpc::StatusCode::PERMISSION_DENIED ||
           s.error_code() == grpc::StatusCode::INVALID_ARGUMENT || s.error_code() == grpc::StatusCode::ABORTED;
}

} // namespace

std::vector<Op> RemoteBoard::initial_reads(const std::string& chip)
{
    // the addresses come from a model of the chip, made once per chip
    static std::mutex mutex;
    static std::map<std::string, std::vector<uint16_t>> addresses;
    std::lock_guard<std::mutex> lock(mutex);
    auto it = addresses.find(chip);
    if (it == addresses.end()) {
        std::vector<uint16_t> a;
        if (!chip.empty()) {
            ScratchBoard scratch(chip);
            if (const GreyfinModel* m = scratch.get_model())
                for (unsigned i = 0; i < m->get_registers(); ++i)
                    a.push_back(m->get_register_operatingaddr(i));
        }
        it = addresses.emplace(chip, std::move(a)).first;
    }
    std::vector<Op> reads{make_op(Op::READ_NV), make_op(Op::GET_CHACC)};
    for (uint16_t address : it->second)
        reads.push_back(make_op(Op::READ_REG, address));
    return reads;
}

RemoteBoard::Initial RemoteBoard::initial_from(const std::vector<Op>& reads, const korvik::rpc::OpReply& reply)
{
    // every read answers once, in order; anything else is not trusted
    Initial initial;
    if (reply.results_size() != int(reads.size()))
        return initial;
    for (size_t i = 0; i < reads.size(); ++i) {
        const korvik::rpc::OpResult& r = reply.results(int(i));
        if (reads[i].kind() == Op::READ_NV && r.data().size() == NV_SECTOR_SIZE)
            initial.nv = r.data();
        else if (reads[i].kind() == Op::GET_CHACC && r.data().size() == 21)
            initial.chacc = r.data();
        else if (reads[i].kind() == Op::READ_REG)
            initial.registers[uint16_t(reads[i].address())] = uint16_t(r.value());
    }
    return initial;
}

RemoteBoard::RemoteBoard(BoardRegistry* registry, RemoteLink* link_, const korvik::rpc::BoardInfo& info,
                         const std::string& interface, Initial initial)
    : EvUSBBoard(registry, info.serial(), interface, info.display_name(), info.mac()),
      link(link_), id(info.id()), boardflags(info.boardflags())
{
    constructing = true;
    if (!info.chip().empty())
        attach_chip_model(info.chip());
    prefetched_nv = std::move(initial.nv);
    prefetched_chacc = std::move(initial.chacc);
    read_boardnv();
    prefetched_nv.clear();
    if (dead)
        throw std::runtime_error("board " + id + " does not answer");
    if (model) {
        prefetched = std::move(initial.registers);
        bool complete = true;
        for (unsigned i = 0; i < model->get_registers() && complete; ++i)
            complete = prefetched.count(model->get_register_operatingaddr(i)) != 0;
        if (!complete) {
            // every operating register in one call, then the model reads them from here
            prefetched.clear();
            std::vector<Op> reads;
            for (unsigned i = 0; i < model->get_registers(); ++i)
                reads.push_back(make_op(Op::READ_REG, model->get_register_operatingaddr(i)));
            korvik::rpc::OpReply reply;
            if (!call(reads, reply) || reply.results_size() != int(reads.size()))
                throw std::runtime_error("board " + id + " does not answer");
            for (size_t i = 0; i < reads.size(); ++i)
                prefetched[uint16_t(reads[i].address())] = uint16_t(reply.results(int(i)).value());
        }
        load_chipoperating();
        prefetched.clear();
    }
    prefetched_chacc.clear();
    constructing = false;
}

void RemoteBoard::start_reprogramming(unsigned mask)
{
    // the server's board was reprogrammed when its library opened it
    if (!constructing)
        EvUSBBoard::start_reprogramming(mask);
}

RemoteBoard::~RemoteBoard()
{
    renew_timer.disconnect();
    idle_flush.disconnect();
    if (link)
        link->forget(this);
}

void RemoteBoard::unreference()
{
    // only the registry holds the board now: the last handle closed, so what
    // waits goes out and the lease goes back (a program that ends without
    // pumping the loop leaves nothing behind)
    if (refcount == 2 && !dead) {
        try {
            flush_writes();
        } catch (const std::exception& e) {
            diag() << "RemoteBoard " << id << ": " << e.what() << std::endl;
        }
        drop_lease();
    }
    EvUSBBoard::unreference();
}

void RemoteBoard::lose(const std::string& why)
{
    if (dead)
        return;
    diag() << "RemoteBoard " << get_interface() << ": " << why << std::endl;
    dead = true;
    pending.clear();
    lease_id.clear();
    renew_timer.disconnect();
    idle_flush.disconnect();
    leave_registry();
}

void RemoteBoard::remote_packet(const korvik::rpc::Packet& p)
{
    if (dead)
        return;
    BusyGuard guard(this);
    uint8_t source[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    if (p.source().size() == 6)
        std::memcpy(source, p.source().data(), 6);
    ++rx_pkt_count;
    signal_changed_packetcounters.emit();
    signal_receive.emit(reinterpret_cast<const uint8_t*>(p.data().data()), unsigned(p.data().size()), source,
                        int16_t(p.rssi()), p.frequency_offset());
}

// ---- leases ----

void RemoteBoard::take_lease()
{
    if (!lease_id.empty() || dead || !link)
        return;
    korvik::rpc::LeaseReply reply;
    grpc::Status s = link->acquire(id, 0, reply);
    if (!s.ok()) {
        if (!refused(s))
            lose("lease: " + s.error_message());
        throw std::runtime_error(get_interface() + ": " + s.error_message());
    }
    lease_id = reply.lease_id();
    // renewed at a third of the lease time, so that two missed renewals still leave time
    using namespace std::chrono;
    const int64_t left = reply.end_ms() - duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    const unsigned every = unsigned(std::max<int64_t>(left / 3, 200));
    renew_timer = main_context()->signal_timeout().connect(sigc::mem_fun(*this, &RemoteBoard::renew_lease), every);
}

bool RemoteBoard::renew_lease()
{
    if (lease_id.empty() || !link || dead)
        return false;
    korvik::rpc::LeaseReply reply;
    grpc::Status s = link->renew(id, lease_id, reply);
    if (s.ok())
        return true;
    diag() << "RemoteBoard " << get_interface() << ": lease lost: " << s.error_message() << std::endl;
    lease_id.clear();
    if (s.error_code() == grpc::StatusCode::PERMISSION_DENIED)
        lose("lease revoked");
    return false;
}

void RemoteBoard::drop_lease()
{
    renew_timer.disconnect();
    if (lease_id.empty() || !link)
        return;
    link->release(id, lease_id);
    lease_id.clear();
}

// ---- batching ----

void RemoteBoard::queue(const Op& op)
{
    // what opening the board writes, the server's own library wrote when it
    // opened it: the board is in that state already
    if (dead || constructing)
        return;
    take_lease();
    pending.push_back(op);
    if (!idle_flush.connected())
        idle_flush = main_context()->signal_idle().connect(sigc::mem_fun(*this, &RemoteBoard::flush_when_idle));
}

bool RemoteBoard::flush_when_idle()
{
    try {
        flush_writes();
    } catch (const std::exception& e) {
        diag() << "RemoteBoard " << get_interface() << ": " << e.what() << std::endl;
    }
    return false;
}

void RemoteBoard::flush_writes()
{
    idle_flush.disconnect();
    if (pending.empty())
        return;
    korvik::rpc::OpReply reply;
    call({}, reply);
}

bool RemoteBoard::call(const std::vector<Op>& reads, korvik::rpc::OpReply& reply)
{
    if (dead || !link) {
        pending.clear();
        return false;
    }
    korvik::rpc::OpBatch batch;
    batch.set_board(id);
    batch.set_lease_id(lease_id);
    for (auto& op : pending)
        *batch.add_ops() = std::move(op);
    pending.clear();
    idle_flush.disconnect();
    for (const auto& op : reads)
        *batch.add_ops() = op;
    if (batch.ops_size() == 0)
        return true;
    BusyGuard guard(this);
    grpc::Status s = link->apply(batch, reply);
    if (s.ok())
        return true;
    if (refused(s))
        throw std::runtime_error(get_interface() + ": " + s.error_message());
    lose(s.error_message());
    return false;
}

int RemoteBoard::read_value(Op::Kind kind, uint16_t address)
{
    korvik::rpc::OpReply reply;
    if (!call({make_op(kind, address)}, reply) || reply.results_size() < 1)
        return -1;
    return reply.results(reply.results_size() - 1).value();
}

// ---- board operations ----

unsigned RemoteBoard::get_boardflags()
{
    return boardflags;
}

int RemoteBoard::queue_net_packet(const uint8_t* data, unsigned len, const uint8_t* destination_mac)
{
    take_lease();
    Op op = make_op(Op::SEND_PACKET);
    op.set_data(data, len);
    if (destination_mac)
        op.set_mac(destination_mac, 6);
    pending.push_back(op);
    korvik::rpc::OpReply reply;
    return call({}, reply) ? 0 : -1;
}

bool RemoteBoard::is_dead()
{
    return dead;
}

bool RemoteBoard::is_net_up()
{
    return !dead;
}

int RemoteBoard::get_report11()
{
    return read_value(Op::GET_REPORT11);
}

void RemoteBoard::set_report10(bool a, bool b)
{
    queue(make_op(Op::SET_REPORT10, 0, (a ? 1u : 0u) | (b ? 2u : 0u)));
}

void RemoteBoard::evusb_write(uint16_t address, uint8_t value)
{
    queue(make_op(Op::WRITE_REG, address, value));
}

uint16_t RemoteBoard::evusb_read16(uint16_t address)
{
    auto it = prefetched.find(address);
    if (it != prefetched.end())
        return it->second;
    const int v = read_value(Op::READ_REG, address);
    return v < 0 ? 0xFFFF : uint16_t(v);
}

void RemoteBoard::set_flashctl(uint8_t v)
{
    queue(make_op(Op::SET_FLASHCTL, 0, v));
}

int RemoteBoard::get_flashctl()
{
    return read_value(Op::GET_FLASHCTL);
}

void RemoteBoard::set_flashaddr(uint8_t a)
{
    queue(make_op(Op::SET_FLASHADDR, 0, a));
}

int RemoteBoard::get_flashaddr()
{
    return read_value(Op::GET_FLASHADDR);
}

void RemoteBoard::set_flashdata(uint16_t w)
{
    queue(make_op(Op::SET_FLASHDATA, 0, w));
}

int RemoteBoard::get_flashdata()
{
    return read_value(Op::GET_FLASHDATA);
}

void RemoteBoard::evusb_set_ethstate(uint8_t state)
{
    queue(make_op(Op::SET_ETHSTATE, 0, state));
}

int RemoteBoard::evusb_get_ethstate()
{
    return read_value(Op::GET_ETHSTATE);
}

void RemoteBoard::set_chacc(const uint8_t block[9], const uint8_t addresses[12])
{
    Op op = make_op(Op::SET_CHACC);
    std::string data(reinterpret_cast<const char*>(block), 9);
    data.append(reinterpret_cast<const char*>(addresses), 12);
    op.set_data(data);
    queue(op);
}

void RemoteBoard::get_chacc(uint8_t block[9], uint8_t addresses[12])
{
    if (prefetched_chacc.size() == 21) {
        std::memcpy(block, prefetched_chacc.data(), 9);
        std::memcpy(addresses, prefetched_chacc.data() + 9, 12);
        return;
    }
    korvik::rpc::OpReply reply;
    if (call({make_op(Op::GET_CHACC)}, reply) && reply.results_size() >= 1 &&
        reply.results(reply.results_size() - 1).data().size() == 21) {
        const std::string& d = reply.results(reply.results_size() - 1).data();
        std::memcpy(block, d.data(), 9);
        std::memcpy(addresses, d.data() + 9, 12);
        return;
    }
    std::memset(block, 0, 9);
    std::memset(addresses, 0xFF, 12);
}

void RemoteBoard::read_nv_words(uint8_t buffer[NV_SECTOR_SIZE])
{
    if (prefetched_nv.size() == NV_SECTOR_SIZE) {
        std::memcpy(buffer, prefetched_nv.data(), NV_SECTOR_SIZE);
        return;
    }
    korvik::rpc::OpReply reply;
    if (!call({make_op(Op::READ_NV)}, reply) || reply.results_size() < 1 ||
        reply.results(reply.results_size() - 1).data().size() != NV_SECTOR_SIZE)
        throw std::runtime_error("EvUSBBoard::load_nv flash address error");
    std::memcpy(buffer, reply.results(reply.results_size() - 1).data().data(), NV_SECTOR_SIZE);
}

void RemoteBoard::write_nvsector(const uint8_t buffer[NV_SECTOR_SIZE])
{
    take_lease();
    Op op = make_op(Op::WRITE_NV);
    op.set_data(buffer, NV_SECTOR_SIZE);
    pending.push_back(op);
    korvik::rpc::OpReply reply;
    if (!call({}, reply))
        throw std::runtime_error("EvUSBBoard::write_nvsector: board " + get_interface() + " is gone");
}

} // namespace KORVIK
