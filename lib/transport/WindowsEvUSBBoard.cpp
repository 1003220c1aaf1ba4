#include "transport/WindowsEvUSBBoard.h"

#include <cstring>
#include <iostream>

#include "board/FrameArrival.h"
#include "board/MainLoop.h"
#include "board/Protocol.h"
#include "model/common/Diagnostics.h"

namespace KORVIK {

WindowsEvUSBBoard::WindowsEvUSBBoard(BoardRegistry* registry, std::unique_ptr<Adapter> a, const std::string& interface,
                                     const std::string& serial, const std::string& display_name,
                                     const std::string& mac, const std::string& chip)
    : EvUSBNetBoard(registry, serial, interface, display_name, mac), adapter(std::move(a))
{
    // the base parsed the same string into ethernet_mac
    std::memcpy(adapter_mac, ethernet_mac, 6);
    if (adapter && adapter->get_fd() >= 0)
        io_connection = main_context()->signal_io().connect(
            sigc::mem_fun(*this, &WindowsEvUSBBoard::slot_device_read), adapter->get_fd(),
            Glib::IO_IN | Glib::IO_HUP | Glib::IO_ERR);
    try {
        attach_chip_model(chip);
        read_boardnv();
        load_chipoperating();
    } catch (...) {
        // no destructor runs for a board whose constructor throws
        io_connection.disconnect();
        throw;
    }
}

WindowsEvUSBBoard::~WindowsEvUSBBoard()
{
    io_connection.disconnect();
}

std::unique_ptr<Adapter> WindowsEvUSBBoard::release_adapter()
{
    io_connection.disconnect();
    return std::move(adapter);
}

void WindowsEvUSBBoard::close_adapter()
{
    io_connection.disconnect();
    adapter.reset();
}

bool WindowsEvUSBBoard::slot_device_read(Glib::IOCondition)
{
    // drain: the capture buffer may hold more than the one frame that made
    // the descriptor readable
    read_frames(true);
    return true;
}

void WindowsEvUSBBoard::read_frames(bool drain, bool quiet)
{
    BusyGuard guard(this);
    unsigned frames = 0;
    while (adapter) {
        const uint8_t* data = nullptr;
        unsigned len = 0;
        int r = adapter->next(&data, &len);
        if (r == 1) {
            ++frames;
            const FrameArrival arrival(take_read_arrival());
            // the capture buffer is reused by the next read, which a report
            // exchange inside the handlers may perform; captured frames fit
            // on the stack
            uint8_t copy[AdapterParams::CAPTURE_LENGTH];
            if (len <= sizeof copy) {
                std::memcpy(copy, data, len);
                handle_frame(copy, len);
            } else {
                std::vector<uint8_t> frame(data, data + len);
                handle_frame(frame.data(), unsigned(frame.size()));
            }
            if (!drain)
                break;
            continue;
        }
        if (r == 0) {
            if (frames == 0 && !quiet)
                diag() << "WindowsEvUSBBoard::slot_device_read: pcap_next_ex() TimeOut" << std::endl;
            break;
        }
        diag() << "WindowsEvUSBBoard::slot_device_read: error reading the packets: " << adapter->get_error()
                  << std::endl;
        leave_registry();
        break;
    }
}

void WindowsEvUSBBoard::wait_input()
{
    if (!adapter)
        return;
    adapter->wait(AdapterParams::READ_TIMEOUT_MS);
    // every frame that is there: a window of requests has its replies come
    // in a burst, and one wait for each would cost a system call apiece;
    // they queue in order all the same
    read_frames(true);
}

int WindowsEvUSBBoard::send_frame(const uint8_t* destination, const uint8_t* source, uint16_t ethertype,
                                  const uint8_t* payload, unsigned len, const char* who)
{
    if (!adapter)
        return -1;
    if (len > get_max_payload()) {
        diag() << "WindowsEvUSBBoard::" << who << ": frame of " << protocol::HEADER_SIZE + len
                  << " bytes is too large" << std::endl;
        return -1;
    }
    protocol::build_frame_into(tx_frame, destination, source, ethertype, payload, len);
    if (adapter->send(tx_frame.data(), unsigned(tx_frame.size())) != 0) {
        diag() << "WindowsEvUSBBoard::" << who << ": error sending packet" << std::endl;
        BusyGuard guard(this);
        leave_registry();
        return -1;
    }
    return 0;
}

int WindowsEvUSBBoard::queue_vendor_packet_lowlevel(const uint8_t* data, unsigned len, const uint8_t*)
{
    return send_frame(protocol::BROADCAST_MAC, protocol::BROADCAST_MAC, protocol::ETHERTYPE_VENDOR, data, len,
                      "queue_vendor_packet_lowlevel");
}

int WindowsEvUSBBoard::queue_net_packet_lowlevel(const uint8_t* data, unsigned len, const uint8_t* mac)
{
    return send_frame(mac ? mac : nv_radio_ethernet_mac, ethernet_mac, protocol::ETHERTYPE_NET, data, len,
                      "queue_net_packet_lowlevel");
}

unsigned WindowsEvUSBBoard::queue_vendor_packets_lowlevel(const uint8_t* const* packets, const unsigned* lens,
                                                          unsigned count)
{
    constexpr unsigned MAX_BATCH = 64;
    if (!adapter || count > MAX_BATCH)
        return 0;
    if (tx_frames.size() < count)
        tx_frames.resize(count);
    const uint8_t* frames[MAX_BATCH];
    unsigned frame_lens[MAX_BATCH];
    for (unsigned i = 0; i < count; ++i) {
        if (lens[i] > get_max_payload())
            return 0;
        protocol::build_frame_into(tx_frames[i], protocol::BROADCAST_MAC, protocol::BROADCAST_MAC,
                                   protocol::ETHERTYPE_VENDOR, packets[i], lens[i]);
        frames[i] = tx_frames[i].data();
        frame_lens[i] = unsigned(tx_frames[i].size());
    }
    return adapter->send_all(frames, frame_lens, count);
}

void WindowsEvUSBBoard::leave_registry()
{
    // once is enough: the board is out and its adapter closed
    if (!adapter)
        return;
    // leaving may drop the last reference; keep this object until the
    // adapter is closed
    BusyGuard guard(this);
    EvUSBNetBoard::leave_registry();
    close_adapter();
}

bool WindowsEvUSBBoard::is_dead()
{
    return !adapter;
}

bool WindowsEvUSBBoard::is_net_up()
{
    return true;
}

bool WindowsEvUSBBoard::is_input_closed()
{
    return !adapter;
}

unsigned WindowsEvUSBBoard::nv_read_window() const
{
    // 24 small requests in flight: well within what a board's input queue
    // and the capture buffer hold
    return 8;
}

void WindowsEvUSBBoard::take_waiting_input()
{
    read_frames(true, true);
}

unsigned WindowsEvUSBBoard::get_max_payload() const
{
    return adapter ? adapter->get_mtu() : EvUSBNetBoard::get_max_payload();
}

} // namespace KORVIK
