#pragma once

#include <cstdint>
#include <list>
#include <string>
#include <vector>

#include <sigc++/sigc++.h>

#include <korvik/ChangeList.h>
#include <korvik/USBDeviceStatus.h>

#include "board/BoardRegistry.h"
#include "board/ChannelAccessParams.h"
#include "board/ClockEstimator.h"
#include "board/StatusHandler.h"
#include "board/NvSector.h"
#include "model/ChipBus.h"

namespace KORVIK {

class GreyfinModel;

/// Abstract board: identity, channel access, counters, NV sector, chip model.
class EvUSBBoard : public sigc::trackable, public ChipBus {
public:
    // the sector's sizes, in the names the board code uses
    enum { NV_SECTOR_SIZE = NV_SECTOR_BYTES, NV_WORDS = NV_SECTOR_BYTES / 2, NV_AREA_SIZE = NV_AREA_BYTES };

    EvUSBBoard(BoardRegistry* registry, const std::string& serial, const std::string& interface,
               const std::string& display_name, const std::string& mac);
    virtual ~EvUSBBoard();

    EvUSBBoard(const EvUSBBoard&) = delete;
    EvUSBBoard& operator=(const EvUSBBoard&) = delete;

    virtual void reference();
    /// Drops a reference; the last one deletes the board, or, while an
    /// operation of it is running (BusyGuard), marks it for deletion when
    /// the outermost operation returns.
    virtual void unreference();

    /// Keeps the board alive while one of its operations runs: a slot of a
    /// signal it emits may close the last handle, or an exchange may make the
    /// board leave the registry and drop what may be its last reference.
    class BusyGuard {
    public:
        explicit BusyGuard(EvUSBBoard* b) : board(b) { ++board->busy; }
        ~BusyGuard();
        BusyGuard(const BusyGuard&) = delete;
        BusyGuard& operator=(const BusyGuard&) = delete;

    private:
        EvUSBBoard* board;
    };
    virtual unsigned get_boardflags();
    virtual int queue_net_packet(const uint8_t* data, unsigned len, const uint8_t* destination_mac) = 0;
    virtual void leave_registry();
    virtual bool is_dead();
    virtual bool is_net_up();
    virtual int get_report11() = 0;
    virtual void set_report10(bool a, bool b) = 0;
    void evusb_write(uint16_t address, uint8_t value) override = 0;
    uint16_t evusb_read16(uint16_t address) override = 0;
    virtual void set_flashctl(uint8_t v) = 0;
    virtual int get_flashctl() = 0;
    virtual void set_flashaddr(uint8_t a) = 0;
    virtual int get_flashaddr() = 0;
    virtual void set_flashdata(uint16_t w) = 0;
    virtual int get_flashdata() = 0;
    void evusb_set_ethstate(uint8_t state) override = 0;
    int evusb_get_ethstate() override = 0;
    virtual void set_chacc(const uint8_t block[9], const uint8_t addresses[12]) = 0;
    virtual void get_chacc(uint8_t block[9], uint8_t addresses[12]) = 0;
    virtual std::list<std::string> get_chacc_supported_channelaccessmodes();
    virtual int get_chacc_channelaccessmode();
    virtual double get_chacc_ppersistence();
    virtual double get_chacc_slottime();
    virtual double get_chacc_rssithreshold();
    virtual double get_chacc_bgndthreshold();
    virtual unsigned get_chacc_preamble();
    virtual double get_chacc_preamble_sec();
    virtual unsigned get_chacc_addrlength();
    virtual bool get_chacc_addrmatch1();
    virtual bool get_chacc_addrmatch2();
    virtual void get_chacc_addr1(uint8_t* out6);
    virtual void get_chacc_addr2(uint8_t* out6);
    virtual void read_boardnv();
    virtual void store_boarddefaults();
    virtual void set_chacc_channelaccessmode(int mode);
    virtual void set_chacc_ppersistence(double p);
    virtual void set_chacc_slottime(double seconds);
    virtual void set_chacc_rssithreshold(double dbm);
    virtual void set_chacc_bgndthreshold(double v);
    virtual void set_chacc_preamble(uint8_t bytes);
    virtual void set_chacc_addrlength(uint8_t n);
    virtual void set_chacc_addrmatch1(bool on);
    virtual void set_chacc_addrmatch2(bool on);
    virtual void set_chacc_addr1(const uint8_t* addr6);
    virtual void set_chacc_addr2(const uint8_t* addr6);

    // Non-virtual operations.
    void set_model(GreyfinModel* model);
    GreyfinModel* get_model() const { return model; }
    unsigned get_chipflags() const;
    unsigned get_match_address(uint8_t* out, unsigned max);
    void reset_packetcounters();
    void set_nv_ethmac(const uint8_t* mac);
    void set_nv_radio_ethmac(const uint8_t* mac);
    void set_nv_serial(const std::string& serial);
    void load_chipoperating();
    void load_chipdefaults();
    void load_boarddefaults();
    /// Queues a packet; throws std::runtime_error when it cannot be queued.
    void send_packet(const uint8_t* data, unsigned len, const uint8_t* address);
    void send_bpq_packet(const uint8_t* data, unsigned len, const uint8_t* address);
    void set_transmit_cw(bool on) { status.set_transmit_cw(on); }
    bool is_transmit_cw() const { return status.is_transmit_cw(); }

    /// Status handling: clock estimate, reprogramming state machine, status signal.
    void handle_status(const USBDeviceStatus& s) { status.handle_status(s); }
    /// Requests chip reprogramming jobs: bit 0 job 1, bit 1 job 2.
    void start_reprogramming(unsigned mask) override { status.start_reprogramming(mask); }
    int get_reprogram_state() const { return status.get_reprogram_state(); }
    unsigned get_pending_reprogram() const { return status.get_pending_reprogram(); }
    const ClockEstimator& get_clock_estimator() const { return status.get_clock_estimator(); }
    uint64_t get_extended_ticks() const { return status.get_extended_ticks(); }

    const std::string& get_serial() const { return serial; }
    const std::string& get_interface() const { return interface; }
    const std::string& get_display_name() const { return display_name; }
    const std::string& get_nv_serial() const { return nv_serial; }
    const uint8_t* get_ethernet_mac() const { return ethernet_mac; }
    const uint8_t* get_radio_ethernet_mac() const { return radio_ethernet_mac; }
    const uint8_t* get_nv_ethernet_mac() const { return nv_ethernet_mac; }
    const uint8_t* get_nv_radio_ethernet_mac() const { return nv_radio_ethernet_mac; }
    unsigned get_rx_pkt_count() const { return rx_pkt_count; }
    unsigned get_tx_pkt_count() const { return tx_pkt_count; }
    int get_refcount() const { return refcount; }
    const ChannelAccessParams& get_chacc_params() const { return chacc; }
    const ChannelAccessParams& get_nv_chacc_params() const { return nv_chacc; }
    /// True when the NV sector holds a store that did not finish (read at
    /// open, or a store that failed half-way); a finished store clears it.
    bool is_nv_interrupted() const { return nv_interrupted; }

    // NV sector access (flash words through the board operations).
    void load_nv(uint8_t buffer[NV_SECTOR_SIZE]);
    /// Virtual: a remote board sends the sector in one piece.
    virtual void write_nvsector(const uint8_t buffer[NV_SECTOR_SIZE]);
    /// Sends writes a board holds back to batch them (a remote board's);
    /// called at the end of a commit.
    virtual void flush_writes() {}

    sigc::signal<void(const USBDeviceStatus&)> signal_status;
    sigc::signal<void(const uint8_t*, unsigned, const uint8_t*, int16_t, int32_t)> signal_receive;
    sigc::signal<void(const uint8_t*, unsigned, const uint8_t*)> signal_transmit;
    // one signal_changed_<name> per entry of the board list
#define KORVIK_BOARD_SIGNAL(name) sigc::signal<void()> signal_changed_##name;
    KORVIK_BOARD_CHANGES(KORVIK_BOARD_SIGNAL)
#undef KORVIK_BOARD_SIGNAL

protected:
    /// Gives the board the register model of `chip` (see find_chip_model;
    /// throws for an unknown name); a chip without a model leaves it without.
    void attach_chip_model(const std::string& chip);

    /// Layout hooks of the NV sector: the base writes and reads the first
    /// layout, the net board the second.
    virtual void build_nvsector(uint8_t buffer[NV_SECTOR_SIZE]);
    virtual void parse_nvsector(const uint8_t buffer[NV_SECTOR_SIZE]);
    /// The flash words of load_nv, each address checked (throws
    /// std::runtime_error "EvUSBBoard::load_nv flash address error").
    virtual void read_nv_words(uint8_t buffer[NV_SECTOR_SIZE]);
    /// Offsets of crystal frequency, tolerance, channel-access block and NV area.
    using NvLayout = KORVIK::NvLayout;
    virtual NvLayout nv_layout() const;

    /// What a sector stores as defaults now: the model's crystal and register
    /// area (absent without a model) and the current channel access.
    NvDefaults current_nv_defaults() const;
    /// Takes the serial descriptor into nv_serial (and signals) when present.
    void take_nv_serial(const uint8_t buffer[NV_SECTOR_SIZE]);
    /// Takes stored defaults into nv_chacc (signalling every channel-access
    /// value) and hands crystal and register area to the model.
    void take_nv_defaults(const NvDefaults& defaults);
    /// Hands stored crystal and register area to the model, if any.
    void give_model_nv_defaults(const NvDefaults& defaults);

    void emit_all_chacc_signals();
    void send_chacc();
    /// Sends the block and emits the one change signal of a field that changed.
    void chacc_changed(sigc::signal<void()>& changed);


    int refcount = 0;
    unsigned busy = 0;
    bool delete_pending = false;
    BoardRegistry* registry;
    std::string serial;
    std::string interface;
    std::string display_name;
    uint8_t ethernet_mac[6];
    uint8_t radio_ethernet_mac[6];
    std::string nv_serial;
    uint8_t nv_ethernet_mac[6];
    uint8_t nv_radio_ethernet_mac[6];
    unsigned rx_pkt_count = 0;
    unsigned tx_pkt_count = 0;
    GreyfinModel* model = nullptr;
    ChannelAccessParams chacc;
    ChannelAccessParams nv_chacc;
    bool nv_interrupted = false;
    StatusHandler status{*this};
    sigc::connection model_connection_a;
    sigc::connection model_connection_b;
};

} // namespace KORVIK
