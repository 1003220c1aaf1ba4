#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "board/EvUSBBoard.h"

namespace KORVIK {

/// A board reached through Ethernet-style frames: vendor reports (0x0900),
/// received radio records (0x0901) and plain network packets (0x08FF).
/// Subclasses carry the frames (packet-capture adapter, direct SPI adapter).
class EvUSBNetBoard : public EvUSBBoard {
public:
    /// A report get waits this long for its reply (monotonic clock).
    static constexpr int REPORT_TIMEOUT_MS = 4000;

    EvUSBNetBoard(BoardRegistry* registry, const std::string& serial, const std::string& interface,
                  const std::string& display_name, const std::string& mac);
    ~EvUSBNetBoard() override;

    /// As the base, except that a board losing its last reference while it
    /// still handles a frame or an exchange is deleted when that returns.

    /// Pads and sends a network packet; -1 when it cannot be sent.
    int queue_net_packet(const uint8_t* data, unsigned len, const uint8_t* destination_mac) override;

    int get_report11() override;
    void set_report10(bool a, bool b) override;
    void evusb_write(uint16_t address, uint8_t value) override;
    uint16_t evusb_read16(uint16_t address) override;
    /// With a read window above one, asks for a window of registers at once
    /// (the replies echo their addresses); a reply missing or out of order
    /// has the rest read one by one.
    void evusb_read16_many(const uint16_t* addresses, unsigned count, uint16_t* values) override;
    /// Sends the writes back to back (they have no replies).
    void evusb_write_many(const uint16_t* addresses, const uint8_t* values, unsigned count) override;
    void set_flashctl(uint8_t v) override;
    int get_flashctl() override;
    void set_flashaddr(uint8_t a) override;
    int get_flashaddr() override;
    void set_flashdata(uint16_t w) override;
    int get_flashdata() override;
    void evusb_set_ethstate(uint8_t state) override;
    int evusb_get_ethstate() override;
    void set_chacc(const uint8_t block[9], const uint8_t addresses[12]) override;
    void get_chacc(uint8_t block[9], uint8_t addresses[12]) override;

    /// Pads a vendor packet and hands it to queue_vendor_packet_lowlevel.
    virtual int queue_vendor_packet(const uint8_t* data, unsigned len, const uint8_t* mac);
    /// Blocks until the transport has handled one incoming frame or its read
    /// timeout has passed.
    virtual void wait_input() = 0;
    /// Build and send one frame; 0 on success, -1 when there is no adapter,
    /// the payload does not fit into a frame, or sending failed.
    virtual int queue_vendor_packet_lowlevel(const uint8_t* data, unsigned len, const uint8_t* mac) = 0;
    virtual int queue_net_packet_lowlevel(const uint8_t* data, unsigned len, const uint8_t* mac) = 0;
    /// Sends vendor packets (padded, within the size limit) back to back if
    /// the transport can do that cheaply; the number sent, counted from the
    /// first. Nothing is reported or changed on a failure: the caller sends
    /// the rest one by one. The base sends nothing.
    virtual unsigned queue_vendor_packets_lowlevel(const uint8_t* const* packets, const unsigned* lens,
                                                   unsigned count);

    /// One report exchange: a set sends dlen bytes of data; a get receives
    /// dlen bytes into data. 0 on success, -1 on timeout, or the failed send's
    /// result.
    int report_io(uint8_t id, bool get, unsigned dlen, uint8_t* data);
    /// A set exchange and then a get exchange, as two report_io calls would
    /// do them (same frames, same diagnostics), with the two requests sent
    /// back to back. The reply must repeat the first `echo_len` bytes of the
    /// set's data (a register read echoes its address); one that does not is
    /// an answer to another request and is skipped. 0 on success, otherwise
    /// the first failure's result.
    int report_io_pair(uint8_t set_id, unsigned set_dlen, const uint8_t* set_data, uint8_t get_id,
                       unsigned get_dlen, uint8_t* get_data, unsigned echo_len = 0);

    /// Dispatches one received frame (header included).
    void handle_frame(const uint8_t* frame, unsigned len);
    /// Classifies a board-to-host vendor packet as status report or reply.
    void handle_vendor_packet(const uint8_t* payload, unsigned len, const uint8_t* source_mac);
    void handle_net_packet(const uint8_t* payload, unsigned len, const uint8_t* source_mac);
    void handle_radio_record(const uint8_t* payload, unsigned len, const uint8_t* source_mac);

    bool get_rx_radio_records() const { return rx_radio_records; }
    size_t get_reply_queue_size() const { return reply_queue.size(); }
    /// Largest payload (after padding) one frame may carry.
    virtual unsigned get_max_payload() const;

protected:
    /// With a window above one, asks for that many words at once and then
    /// takes their answers in order; failures as word by word.
    void read_nv_words(uint8_t buffer[NV_SECTOR_SIZE]) override;
    /// Flash words read_nv_words asks for before it waits; 1 is word by word.
    virtual unsigned nv_read_window() const { return 1; }
    /// Register reads evusb_read16_many asks for before it waits: as many
    /// requests in flight as an NV window has (two per read, three per word).
    unsigned register_read_window() const { return nv_read_window() * 3 / 2; }
    void build_nvsector(uint8_t buffer[NV_SECTOR_SIZE]) override;
    void parse_nvsector(const uint8_t buffer[NV_SECTOR_SIZE]) override;
    NvLayout nv_layout() const override;

    /// True when the transport can deliver no more input (adapter closed):
    /// a waiting exchange then ends at once instead of at its deadline.
    virtual bool is_input_closed();
    /// Handles the input that has already arrived, without waiting, so that
    /// replies from before a request can be told apart from its answer.
    virtual void take_waiting_input();
    /// Vendor frame: broadcast destination and source, ethertype 0x0900.
    std::vector<uint8_t> build_vendor_frame(const uint8_t* payload, unsigned len) const;
    /// Network frame from the adapter's MAC (ethernet_mac); a null destination
    /// means nv_radio_ethernet_mac.
    std::vector<uint8_t> build_net_frame(const uint8_t* payload, unsigned len, const uint8_t* destination_mac) const;

    /// Counts a received packet and hands it to listeners.
    void deliver_packet(const uint8_t* data, unsigned len, const uint8_t* source_mac, int16_t rssi,
                        int32_t frequency_offset);

    std::deque<std::vector<uint8_t>> reply_queue;
    bool rx_radio_records = true;

private:
    /// A report operation: one exchange, leaving the registry on failure.
    int report_op(uint8_t id, bool get, unsigned dlen, uint8_t* data);
    /// report_io and report_io_pair, without the status handling afterwards.
    int exchange(uint8_t id, bool get, unsigned dlen, uint8_t* data);
    int exchange_pair(uint8_t set_id, unsigned set_dlen, const uint8_t* set_data, uint8_t get_id, unsigned get_dlen,
                      uint8_t* get_data, unsigned echo_len);
    /// Runs `f` as an exchange: status reports that arrive meanwhile wait
    /// until the outermost exchange is over. Handling one may read registers,
    /// and a request sent while another waits for its reply would drop that
    /// reply as stale.
    template <class F>
    auto as_exchange(F f) -> decltype(f());
    /// Handles the status reports held back, in arrival order.
    void handle_deferred_statuses();
    void read_nv_window_words(uint8_t buffer[NV_SECTOR_SIZE], unsigned window);
    /// The windows of evusb_read16_many; `done` counts the values read, in order.
    void read_register_windows(const uint16_t* addresses, unsigned count, uint16_t* values, unsigned window,
                               unsigned& done);
    /// Sends the packets in order, as many as the transport takes in one go
    /// and the rest one by one; 0, or the first failed send's result (with
    /// the number sent before it in sent_count).
    int queue_vendor_packets(const std::vector<uint8_t>* packets, unsigned count, unsigned* sent_count = nullptr);
    /// Drops the replies that came before a request is sent: they answer
    /// something else (a duplicate, another program's request).
    void drop_stale_replies();
    /// The get half of report_io: waits for the reply and copies its data;
    /// the reply's first echo_len data bytes must equal `echo`.
    int wait_reply(uint8_t id, unsigned dlen, uint8_t* data, const uint8_t* echo = nullptr, unsigned echo_len = 0);
    /// Writes the diagnostic lines held back, if any.
    void flush_log();

    /// Diagnostic lines of report_io not written yet: a set followed by a
    /// get writes both request lines at once.
    std::string held_log;
    /// While a window's replies come in: their lines wait for the window's
    /// end and go out in one write (one system call instead of one per reply).
    bool hold_reply_lines = false;
    /// Storage kept from one exchange to the next: a register read would
    /// otherwise allocate for both requests and for its reply.
    std::vector<uint8_t> requests[2]; ///< a set, then a get
    std::vector<uint8_t> spare_reply;

    unsigned exchange_depth = 0;
    bool handling_deferred = false;
    std::deque<USBDeviceStatus> deferred_statuses;
    /// The last status report as it came, to drop a duplicate of it.
    std::vector<uint8_t> last_status;
    int64_t last_status_time = 0;
    static constexpr unsigned DUPLICATE_STATUS_WINDOW_MS = 1000;
};

} // namespace KORVIK
