#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <glibmm/dispatcher.h>

#include "board/DirectSPI.h"
#include "board/EvUSBNetBoard.h"
#include "board/SpiFirmware.h"

namespace KORVIK {

/// A radio chip wired to the host through an SPI adapter, made to look like
/// a network board: the vendor and network packets of the host logic go to a
/// worker thread that plays the board firmware (chip access through the
/// subclass's SPI operations, flash and channel access in memory, the NV
/// sector in the file "korvik_" + serial + ".nvr" of the user data directory).
///
/// The two threads share only the two queues and the flags, under `lock`.
/// Board logic and signals stay on the library's main-loop thread; the
/// worker wakes it through a dispatcher on the library context.
class DirectSPIBoard : public EvUSBNetBoard, private SpiFirmwareHooks {
public:
    enum : uint32_t { FLAG_STOP = 1, FLAG_FINISHED = 2 };
    /// Tags of the outgoing queue (host to worker).
    enum : uint8_t { OUT_NET = 0x00, OUT_VENDOR = 0x01 };
    /// Tags of the incoming queue (worker to host).
    enum : uint8_t { IN_VENDOR = 0x00, IN_RADIO = 0x01 };

    /// Creates the chip model (throws std::runtime_error for an unknown chip
    /// name). The board owns the adapter, which may be null. The worker is
    /// not running yet: call start().
    DirectSPIBoard(BoardRegistry* registry, const std::string& serial, const std::string& interface,
                   const std::string& display_name, const std::string& chip, const std::string& mac,
                   std::unique_ptr<DirectSPI> adapter);
    ~DirectSPIBoard() override;

    /// Starts the worker, then reads the NV sector and the chip's operating
    /// registers through it. Separate from the constructor because the worker
    /// calls the subclass's operations. Throws when the board does not
    /// answer; the worker is stopped then.
    void start();

    int queue_vendor_packet_lowlevel(const uint8_t* data, unsigned len, const uint8_t* mac) override;
    int queue_net_packet_lowlevel(const uint8_t* data, unsigned len, const uint8_t* mac) override;
    /// Hands the worker's packets to the board logic; waits a few
    /// milliseconds at most when there are none yet.
    void wait_input() override;
    /// Leaves the registry, then stops and joins the worker.
    void leave_registry() override;
    /// True once the worker has been stopped.
    bool is_dead() override;
    bool is_net_up() override;
    /// As the base, and throws std::runtime_error when the NV file could not
    /// be written: the old file stays, so the defaults are not stored.
    void store_boarddefaults() override;

    const std::string& get_nv_path() const { return nv_path; }

protected:
    /// No more input once the worker has ended and its packets are taken.
    bool is_input_closed() override;
    void take_waiting_input() override;

    // Operations of the chip type, called on the worker thread only.
    virtual void spi_transmit(const uint8_t* payload, unsigned len) = 0;
    virtual void spi_write_register(uint16_t address, uint8_t value) = 0;
    /// 16-bit value, the register at `address` in the high byte.
    virtual uint16_t spi_read_register(uint16_t address) = 0;
    virtual void spi_set_state(uint8_t state) = 0;
    virtual uint8_t spi_get_state() = 0;
    /// The worker's main loop: waits for work and processes it until
    /// process_outgoing() throws. A run that returns ends the worker, and
    /// the board leaves the registry at the next dispatcher run.
    virtual void run();

    /// Blocks until there is an outgoing packet or a stop request.
    void wait_for_work();
    /// Processes every queued outgoing packet; throws once a stop is requested.
    void process_outgoing();
    /// Worker side: hands a radio receive record to the host logic.
    void queue_radio_record(const uint8_t* record, unsigned len);
    /// Stops and joins the worker. Subclass destructors call it first, since
    /// the worker calls their operations.
    void stop_worker();

    DirectSPI* get_adapter() const { return adapter.get(); }

private:
    struct StopRequested {};

    void worker_main();
    void on_dispatch();
    void drain_incoming();
    void queue_incoming(uint8_t tag, const std::vector<uint8_t>& packet);
    void handle_request(const std::vector<uint8_t>& entry);

    void firmware_write_register(uint16_t address, uint8_t value) override;
    uint16_t firmware_read_register(uint16_t address) override;
    void firmware_set_state(uint8_t state) override;
    uint8_t firmware_get_state() override;
    void firmware_set_control(bool line0, bool line1) override;
    bool firmware_save_flash(const uint8_t* flash, size_t len) override;

    std::unique_ptr<DirectSPI> adapter;
    const std::string nv_path;
    std::unique_ptr<Glib::Dispatcher> dispatcher;

    std::mutex lock;
    std::condition_variable work_ready;  ///< outgoing packet or stop, for the worker
    std::condition_variable input_ready; ///< incoming packet or end, for wait_input
    std::deque<std::vector<uint8_t>> outgoing;
    std::deque<std::vector<uint8_t>> incoming;
    uint32_t flags = 0;
    std::string nv_save_error; ///< why the last NV file write failed; empty when it did not
    bool dispatch_pending = false; ///< one emission at a time, so the pipe never fills

    std::thread worker; ///< main-loop thread only
    SpiFirmware firmware; ///< worker thread only
};

} // namespace KORVIK
