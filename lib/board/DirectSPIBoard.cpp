#include "board/DirectSPIBoard.h"

#include <algorithm>
#include <chrono>
#include <iostream>
#include <stdexcept>

#include "board/MainLoop.h"
#include "board/NvFile.h"
#include "model/common/Diagnostics.h"

namespace KORVIK {

namespace {

// A report exchange polls wait_input; this bounds one wait so that the
// exchange's own deadline is still checked often.
constexpr auto INPUT_POLL = std::chrono::milliseconds(5);

// Dispatcher handlers running on the main-loop thread. A board destroyed
// inside one must not destroy the dispatcher that is calling it.
int dispatch_depth = 0;

} // namespace

DirectSPIBoard::DirectSPIBoard(BoardRegistry* registry, const std::string& serial, const std::string& interface,
                               const std::string& display_name, const std::string& chip, const std::string& mac,
                               std::unique_ptr<DirectSPI> adapter_)
    : EvUSBNetBoard(registry, serial, interface, display_name, mac),
      adapter(std::move(adapter_)),
      nv_path(nvfile::path_for_serial(serial)),
      dispatcher(new Glib::Dispatcher(main_context())),
      firmware(*this)
{
    attach_chip_model(chip);
    dispatcher->connect(sigc::mem_fun(*this, &DirectSPIBoard::on_dispatch));
}

DirectSPIBoard::~DirectSPIBoard()
{
    stop_worker();
    if (dispatch_depth > 0) {
        // still inside this dispatcher's handler: let it finish first
        Glib::Dispatcher* d = dispatcher.release();
        main_context()->signal_idle().connect_once([d] { delete d; });
    }
}

void DirectSPIBoard::start()
{
    if (worker.joinable())
        return;
    // a lambda keeps the thread state type private to the library
    worker = std::thread([this] { worker_main(); });
    try {
        read_boardnv();
        load_chipoperating();
    } catch (...) {
        stop_worker();
        throw;
    }
}

// ---- host side (main-loop thread) ----

int DirectSPIBoard::queue_vendor_packet_lowlevel(const uint8_t* data, unsigned len, const uint8_t*)
{
    if (!worker.joinable())
        return -1;
    std::vector<uint8_t> entry;
    entry.reserve(len + 1);
    entry.push_back(OUT_VENDOR);
    entry.insert(entry.end(), data, data + len);
    {
        std::lock_guard<std::mutex> guard(lock);
        outgoing.push_back(std::move(entry));
    }
    work_ready.notify_one();
    return 0;
}

int DirectSPIBoard::queue_net_packet_lowlevel(const uint8_t* data, unsigned len, const uint8_t*)
{
    if (!worker.joinable())
        return -1;
    std::vector<uint8_t> entry;
    entry.reserve(len + 1);
    entry.push_back(OUT_NET);
    entry.insert(entry.end(), data, data + len);
    {
        std::lock_guard<std::mutex> guard(lock);
        outgoing.push_back(std::move(entry));
    }
    work_ready.notify_one();
    return 0;
}

void DirectSPIBoard::wait_input()
{
    if (worker.joinable()) {
        std::unique_lock<std::mutex> guard(lock);
        if (incoming.empty() && !(flags & FLAG_FINISHED))
            input_ready.wait_for(guard, INPUT_POLL);
    }
    drain_incoming();
}

void DirectSPIBoard::take_waiting_input()
{
    drain_incoming();
}

void DirectSPIBoard::on_dispatch()
{
    {
        std::lock_guard<std::mutex> guard(lock);
        dispatch_pending = false;
    }
    ++dispatch_depth;
    drain_incoming();
    --dispatch_depth;
}

void DirectSPIBoard::drain_incoming()
{
    // may delete the board when it goes out of scope: nothing after it
    BusyGuard busy(this);
    for (;;) {
        std::vector<uint8_t> entry;
        {
            std::lock_guard<std::mutex> guard(lock);
            if (incoming.empty())
                break;
            entry = std::move(incoming.front());
            incoming.pop_front();
        }
        // one at a time: a handler may run a report exchange that drains the rest
        if (entry.size() <= 1)
            continue;
        if (entry[0] == IN_VENDOR)
            handle_vendor_packet(entry.data() + 1, unsigned(entry.size() - 1), ethernet_mac);
        else if (entry[0] == IN_RADIO)
            handle_radio_record(entry.data() + 1, unsigned(entry.size() - 1), ethernet_mac);
    }
    uint32_t f;
    {
        std::lock_guard<std::mutex> guard(lock);
        f = flags;
    }
    if ((f & (FLAG_STOP | FLAG_FINISHED)) && worker.joinable())
        leave_registry();
}

void DirectSPIBoard::leave_registry()
{
    BusyGuard busy(this);
    EvUSBNetBoard::leave_registry();
    stop_worker();
}

void DirectSPIBoard::stop_worker()
{
    if (!worker.joinable())
        return;
    {
        std::lock_guard<std::mutex> guard(lock);
        flags |= FLAG_STOP;
    }
    work_ready.notify_all();
    worker.join();
}

bool DirectSPIBoard::is_dead()
{
    return !worker.joinable();
}

bool DirectSPIBoard::is_net_up()
{
    return true;
}

void DirectSPIBoard::store_boarddefaults()
{
    {
        std::lock_guard<std::mutex> guard(lock);
        nv_save_error.clear();
    }
    EvUSBNetBoard::store_boarddefaults();
    // the worker saves the file when the write sequence ends, before it
    // answers the read-back that the store has just waited for
    std::string error;
    {
        std::lock_guard<std::mutex> guard(lock);
        error = nv_save_error;
    }
    if (!error.empty())
        throw std::runtime_error("DirectSPIBoard::store_boarddefaults: " + error);
}

bool DirectSPIBoard::is_input_closed()
{
    if (!worker.joinable())
        return true;
    std::lock_guard<std::mutex> guard(lock);
    return incoming.empty() && (flags & FLAG_FINISHED);
}

// ---- worker side ----

void DirectSPIBoard::worker_main()
{
    nvfile::read(nv_path, firmware.flash);
    try {
        run();
    } catch (const StopRequested&) {
    } catch (const std::exception& e) {
        diag() << "DirectSPIBoard::run: " << e.what() << std::endl;
    } catch (...) {
        diag() << "DirectSPIBoard::run: exception" << std::endl;
    }
    firmware.save_if_dirty();
    bool wake;
    {
        std::lock_guard<std::mutex> guard(lock);
        flags |= FLAG_FINISHED;
        wake = !dispatch_pending;
        dispatch_pending = true;
    }
    input_ready.notify_all();
    if (wake)
        dispatcher->emit();
}

void DirectSPIBoard::run()
{
    for (;;) {
        wait_for_work();
        process_outgoing();
    }
}

void DirectSPIBoard::wait_for_work()
{
    std::unique_lock<std::mutex> guard(lock);
    work_ready.wait(guard, [this] { return !outgoing.empty() || (flags & (FLAG_STOP | FLAG_FINISHED)); });
}

void DirectSPIBoard::process_outgoing()
{
    std::deque<std::vector<uint8_t>> batch;
    uint32_t f;
    {
        std::lock_guard<std::mutex> guard(lock);
        batch.swap(outgoing);
        f = flags;
    }
    for (const auto& entry : batch)
        handle_request(entry);
    if (f & (FLAG_STOP | FLAG_FINISHED))
        throw StopRequested();
}

void DirectSPIBoard::handle_request(const std::vector<uint8_t>& entry)
{
    if (entry.size() <= 1)
        return;
    if (entry[0] == OUT_NET) {
        const uint8_t* payload;
        unsigned len;
        if (SpiFirmware::bpq_payload(entry.data() + 1, entry.size() - 1, payload, len))
            spi_transmit(payload, len);
    } else if (entry[0] == OUT_VENDOR) {
        std::vector<uint8_t> reply;
        if (firmware.answer(entry.data() + 1, entry.size() - 1, reply))
            queue_incoming(IN_VENDOR, reply);
    }
}

void DirectSPIBoard::queue_radio_record(const uint8_t* record, unsigned len)
{
    queue_incoming(IN_RADIO, std::vector<uint8_t>(record, record + len));
}

void DirectSPIBoard::queue_incoming(uint8_t tag, const std::vector<uint8_t>& packet)
{
    std::vector<uint8_t> entry(packet.size() + 1);
    entry[0] = tag;
    std::copy(packet.begin(), packet.end(), entry.begin() + 1);
    bool wake;
    {
        std::lock_guard<std::mutex> guard(lock);
        incoming.push_back(std::move(entry));
        wake = !dispatch_pending;
        dispatch_pending = true;
    }
    input_ready.notify_all();
    if (wake)
        dispatcher->emit();
}

void DirectSPIBoard::firmware_write_register(uint16_t address, uint8_t value)
{
    spi_write_register(address, value);
}

uint16_t DirectSPIBoard::firmware_read_register(uint16_t address)
{
    return spi_read_register(address);
}

void DirectSPIBoard::firmware_set_state(uint8_t state)
{
    spi_set_state(state);
}

uint8_t DirectSPIBoard::firmware_get_state()
{
    return spi_get_state();
}

void DirectSPIBoard::firmware_set_control(bool line0, bool line1)
{
    if (adapter)
        adapter->set_control(line0, line1);
}

bool DirectSPIBoard::firmware_save_flash(const uint8_t* flash, size_t len)
{
    bool ok = len == nvfile::SIZE && nvfile::write(nv_path, flash);
    std::lock_guard<std::mutex> guard(lock);
    nv_save_error = ok ? "" : "cannot write the NV file " + nv_path;
    return ok;
}

} // namespace KORVIK
