#pragma once

#include <memory>
#include <string>
#include <vector>

#include <glibmm/main.h>

#include "board/EvUSBNetBoard.h"
#include "transport/Adapter.h"

namespace KORVIK {

/// A net board whose frames travel over a packet-capture adapter. Received
/// frames arrive through an I/O watch on the library's main context.
class WindowsEvUSBBoard : public EvUSBNetBoard {
public:
    /// Takes the open adapter, creates the chip model, then reads the NV
    /// sector and the chip's operating registers. Throws what the chip
    /// lookup and the NV reading throw.
    WindowsEvUSBBoard(BoardRegistry* registry, std::unique_ptr<Adapter> adapter, const std::string& interface,
                      const std::string& serial, const std::string& display_name, const std::string& mac,
                      const std::string& chip);
    ~WindowsEvUSBBoard() override;

    /// Reads the frames waiting on the adapter and dispatches them; a read
    /// error makes the board leave the registry. The watch stays connected.
    virtual bool slot_device_read(Glib::IOCondition condition);

    void wait_input() override;
    int queue_vendor_packet_lowlevel(const uint8_t* data, unsigned len, const uint8_t* mac) override;
    int queue_net_packet_lowlevel(const uint8_t* data, unsigned len, const uint8_t* mac) override;
    unsigned queue_vendor_packets_lowlevel(const uint8_t* const* packets, const unsigned* lens,
                                           unsigned count) override;
    void leave_registry() override;
    bool is_dead() override;
    bool is_net_up() override;
    unsigned get_max_payload() const override;

    const uint8_t* get_adapter_mac() const { return adapter_mac; }
    /// For a board built away from the main thread without a registry (so
    /// that a failure while it opens touches nothing shared): the registry it
    /// leaves from now on.
    void set_registry(BoardRegistry* r) { registry = r; }
    /// Takes the adapter away (the board is dead from then on), so that the
    /// caller can close many at once.
    std::unique_ptr<Adapter> release_adapter();

protected:
    bool is_input_closed() override;
    void take_waiting_input() override;
    unsigned nv_read_window() const override;

private:
    void close_adapter();
    /// Reads and dispatches one frame, or all waiting frames; `quiet` leaves
    /// out the line for finding none.
    void read_frames(bool drain, bool quiet = false);
    /// Builds the frame in tx_frame and sends it; -1 (with the board leaving
    /// the registry when the adapter fails) when it cannot be sent.
    int send_frame(const uint8_t* destination, const uint8_t* source, uint16_t ethertype, const uint8_t* payload,
                   unsigned len, const char* who);

    sigc::connection io_connection;
    std::unique_ptr<Adapter> adapter;
    uint8_t adapter_mac[6];
    /// Storage of the frames being sent, kept between sends.
    std::vector<uint8_t> tx_frame;
    std::vector<std::vector<uint8_t>> tx_frames;
};

} // namespace KORVIK
