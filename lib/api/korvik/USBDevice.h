#pragma once

#include <list>
#include <string>
#include <vector>

#include <sigc++/sigc++.h>

#include <korvik/Export.h>
#include <korvik/USBDeviceStatus.h>

namespace KORVIK {

class EvUSBBoard;

/// A handle on one board (real or simulated). Handles are created on the heap
/// by the static open operations and belong to the caller, who deletes them.
/// Each handle keeps its board alive; a board that has left the registry still
/// answers through its handles and reports is_dead().
///
/// Units: Hz, bit/s, seconds, ppm and dBm. All operations run on the thread
/// that calls periodic().
class KORVIK_API USBDevice {
public:
    explicit USBDevice(EvUSBBoard* board);
    ~USBDevice();
    USBDevice(const USBDevice&) = delete;
    USBDevice& operator=(const USBDevice&) = delete;

    // ---- Library-wide operations ----
    /// Library version text.
    static const std::string& get_version();
    /// Names of the supported chips, in table order.
    static std::list<std::string> get_supported_chips();
    /// Opens the first board (by interface name) with this serial; null if none.
    static USBDevice* open(const std::string& serial);
    /// Opens the board on this interface; null if none.
    static USBDevice* open_iface(const std::string& interface);
    /// Opens the board with this serial or creates a simulated one ("sim" + n).
    /// Throws std::runtime_error for an unknown chip name.
    static USBDevice* open_simulation(const std::string& serial, const std::string& display_name,
                                      const std::string& chip, const std::string& ethmac);
    /// Runs a discovery scan now.
    static void rescan_devices();
    /// Dispatches everything that is ready in the library's event loop; never blocks.
    static void periodic();
    /// Fills handles with the loop's wait handles (file descriptors cast to void*);
    /// returns the loop's timeout in ms, -1 for none.
    static int get_poll_handles(std::vector<void*>& handles);
    /// Calls the slot once for every present board, then for every arrival.
    static sigc::connection notify_device_connect(const sigc::slot<void(const std::string&)>& serial_slot);
    static sigc::connection notify_device_connect(const sigc::slot<void(const std::string&, const std::string&)>& iface_serial_slot);
    /// Calls the slot for every removal (no replay).
    static sigc::connection notify_device_disconnect(const sigc::slot<void(const std::string&)>& serial_slot);
    static sigc::connection notify_device_disconnect(const sigc::slot<void(const std::string&, const std::string&)>& iface_serial_slot);

    // ---- Identity and counters ----
    std::string get_serial() const;
    std::string get_interface() const;
    std::string get_display_name() const;
    std::string get_nv_serial() const;
    const unsigned char* get_ethernet_mac() const;
    const unsigned char* get_radio_ethernet_mac() const;
    const unsigned char* get_nv_ethernet_mac() const;
    const unsigned char* get_nv_radio_ethernet_mac() const;
    unsigned int get_rx_pkt_count() const;
    unsigned int get_tx_pkt_count() const;
    bool is_transmit_cw() const;

    // ---- Board state ----
    bool is_dead() const;
    bool is_net_up() const;
    unsigned int get_boardflags() const;

    // ---- NV memory and defaults ----
    void set_nv_ethmac(const unsigned char* mac);
    void set_nv_radio_ethmac(const unsigned char* mac);
    void set_nv_serial(const std::string& serial);
    void load_chipoperating();
    void load_chipdefaults();
    void load_boarddefaults();
    /// Writes and verifies the board's NV sector; throws std::runtime_error on failure.
    void store_boarddefaults();

    // ---- Packets and carrier ----
    /// Throws std::runtime_error when the packet cannot be queued.
    void send_packet(const unsigned char* data, unsigned int length, const unsigned char* address);
    void send_bpq_packet(const unsigned char* data, unsigned int length, const unsigned char* address);
    void set_transmit_cw(bool on);

    // ---- Channel access ----
    std::list<std::string> get_chacc_supported_channelaccessmodes() const;
    int get_chacc_channelaccessmode() const;
    double get_chacc_ppersistence() const;
    double get_chacc_slottime() const;
    double get_chacc_rssithreshold() const;
    double get_chacc_bgndthreshold() const;
    unsigned int get_chacc_preamble() const;
    double get_chacc_preamble_sec() const;
    unsigned int get_chacc_addrlength() const;
    bool get_chacc_addrmatch1() const;
    bool get_chacc_addrmatch2() const;
    void get_chacc_addr1(unsigned char* out6) const;
    void get_chacc_addr2(unsigned char* out6) const;
    void set_chacc_channelaccessmode(int mode);
    void set_chacc_ppersistence(double p);
    void set_chacc_slottime(double seconds);
    void set_chacc_rssithreshold(double dbm);
    void set_chacc_bgndthreshold(double v);
    void set_chacc_preamble(unsigned char bytes);
    void set_chacc_addrlength(unsigned char n);
    void set_chacc_addrmatch1(bool on);
    void set_chacc_addrmatch2(bool on);
    void set_chacc_addr1(const unsigned char* addr6);
    void set_chacc_addr2(const unsigned char* addr6);

    // ---- Board notifications ----
    sigc::connection notify_status(const sigc::slot<void(const USBDeviceStatus&)>& slot);
    sigc::connection notify_receive_packet(const sigc::slot<void(const unsigned char*, unsigned int, const unsigned char*, short, int)>& slot);
    sigc::connection notify_receive_packet(const sigc::slot<void(const unsigned char*, unsigned int, const unsigned char*)>& slot);
    sigc::connection notify_transmit_packet(const sigc::slot<void(const unsigned char*, unsigned int, const unsigned char*)>& slot);
    sigc::connection notify_changed_nv_ethmac(const sigc::slot<void()>& slot);
    sigc::connection notify_changed_nv_radio_ethmac(const sigc::slot<void()>& slot);
    sigc::connection notify_changed_nv_serial(const sigc::slot<void()>& slot);
    sigc::connection notify_changed_chacc_channelaccessmode(const sigc::slot<void()>& slot);
    sigc::connection notify_changed_chacc_ppersistence(const sigc::slot<void()>& slot);
    sigc::connection notify_changed_chacc_slottime(const sigc::slot<void()>& slot);
    sigc::connection notify_changed_chacc_rssithreshold(const sigc::slot<void()>& slot);
    sigc::connection notify_changed_chacc_bgndthreshold(const sigc::slot<void()>& slot);
    sigc::connection notify_changed_chacc_preamble(const sigc::slot<void()>& slot);
    sigc::connection notify_changed_chacc_addrmatch1(const sigc::slot<void()>& slot);
    sigc::connection notify_changed_chacc_addrmatch2(const sigc::slot<void()>& slot);
    sigc::connection notify_changed_chacc_addrlength(const sigc::slot<void()>& slot);
    sigc::connection notify_changed_chacc_addr1(const sigc::slot<void()>& slot);
    sigc::connection notify_changed_chacc_addr2(const sigc::slot<void()>& slot);
    sigc::connection notify_changed_transmit_cw(const sigc::slot<void()>& slot);
    sigc::connection notify_changed_packetcounters(const sigc::slot<void()>& slot);

    // ---- Register table (index 0 .. get_registers()-1; out of range reads 0) ----
    unsigned int get_registers() const;
    unsigned char get_register_mask(unsigned int i) const;
    unsigned short get_register_chipaddr(unsigned int i) const;
    unsigned short get_register_operatingaddr(unsigned int i) const;
    unsigned char get_register_chipvalue(unsigned int i) const;
    unsigned char get_register_nvvalue(unsigned int i) const;
    unsigned char get_register_defaultvalue(unsigned int i) const;
    unsigned char get_register_changemask(unsigned int i) const;
    void set_register_chipvalue(unsigned int i, unsigned char v);
    void frob_register_chipvalue(unsigned int i, unsigned char x, unsigned char clear);
    bool is_register_shared(unsigned int i) const;
    bool is_register_receive(unsigned int i) const;
    bool is_register_transmit(unsigned int i) const;
    std::string get_register_name(unsigned int i) const;
    void commit_registers();
    void commit_all_registers();
    std::string debug_register_dump();

    // ---- Bitfield table ----
    unsigned int get_bitfields() const;
    unsigned int get_bitfield_chipvalue(unsigned int i) const;
    unsigned int get_bitfield_nvvalue(unsigned int i) const;
    unsigned int get_bitfield_defaultvalue(unsigned int i) const;
    unsigned int get_bitfield_changemask(unsigned int i) const;
    void set_bitfield_chipvalue(unsigned int i, unsigned int value);
    unsigned int get_bitfield_bitlength(unsigned int i) const;
    std::string get_bitfield_name(unsigned int i) const;
    std::string get_bitfield_description(unsigned int i) const;
    std::string get_bitfield_tooltip(unsigned int i) const;

    // ---- Chip identity and capabilities ----
    std::string get_chip_name() const;
    unsigned int get_chipflags() const;
    unsigned int get_xtal_frequency() const;
    double get_xtal_tolerance() const;
    std::list<std::string> get_supported_rx_btr_settings() const;
    std::list<std::string> get_supported_modulations() const;
    std::list<std::string> get_supported_framingmodes() const;
    std::list<std::string> get_supported_crcmodes() const;
    unsigned int get_supported_encodingmodes() const;
    USBDeviceCurrents get_currents() const;

    // ---- Air-interface parameters ----
    int get_rx_modulation() const;
    int get_tx_modulation() const;
    double get_rx_carrierfrequency() const;
    double get_tx_carrierfrequency() const;
    double get_rx_bandwidth() const;
    double get_tx_deviation() const;
    double get_rx_bitrate() const;
    double get_tx_bitrate() const;
    int get_rx_btr() const;
    int get_rx_btr_preamble() const;
    double get_tx_power() const;
    unsigned int get_rx_range() const;
    unsigned int get_tx_range() const;
    double get_rx_maxfrequencyoffset() const;
    double convert_frequencyoffset(int offset) const;
    double get_iffrequency() const;
    int get_agcreference() const;
    int get_framingmode() const;
    bool get_enc_invert() const;
    bool get_enc_diff() const;
    bool get_enc_scrambler() const;
    bool get_enc_manchester() const;
    int get_crcmode() const;
    unsigned int get_crcinit() const;
    unsigned int get_crclength() const;
    unsigned char get_txkeyup() const;
    unsigned int get_txkeyup_length() const;
    unsigned int get_preamble() const;
    unsigned int get_preamble_length() const;
    unsigned int get_postamble_length() const;

    bool is_modulation_shaped(int m) const;
    bool is_modulation_ask(int m) const;
    bool is_modulation_psk(int m) const;
    bool is_modulation_fsk(int m) const;
    bool is_modulation_4fsk(int m) const;
    bool is_framingmode_raw() const;
    bool is_framingmode_rawsoft() const;
    bool is_framingmode_rawpreamblematch() const;
    bool is_framingmode_hdlc() const;
    bool is_framingmode_hdlc_fec() const;
    bool is_framingmode_zigbee() const;
    bool is_framingmode_zigbee_900() const;
    bool is_framingmode_zigbee_2g4() const;
    bool is_framingmode_wiremode() const;
    bool is_framingmode_crcsupported() const;
    bool is_crcmode_ccitt() const;
    bool is_crcmode_crc16() const;
    bool is_crcmode_dnp() const;
    bool is_crcmode_crc32() const;

    void set_xtal_frequency(unsigned int hz);
    void set_xtal_tolerance(double ppm);
    /// Receiver setup; bandwidth is derived from the bitrate for the modulation.
    void set_rx(double bandwidth, double bitrate, int modulation, int btr);
    /// Transmitter setup; deviation is derived from the bitrate for the modulation.
    void set_tx(double deviation, double bitrate, int modulation);
    void set_rx_modulation(int m);
    void set_tx_modulation(int m);
    void set_rx_carrierfrequency(double hz);
    void set_tx_carrierfrequency(double hz);
    void set_rx_bandwidth(double hz);
    void set_tx_deviation(double hz);
    void set_rx_bitrate(double bps);
    void set_tx_bitrate(double bps);
    void set_rx_btr(int btr);
    void set_tx_power(double dbm);
    void step_tx_power(int steps);
    void set_rx_range(unsigned int r);
    void set_tx_range(unsigned int r);
    void set_iffrequency(double hz);
    void set_framingmode(int f);
    void set_enc_invert(bool on);
    void set_enc_diff(bool on);
    void set_enc_scrambler(bool on);
    void set_enc_manchester(bool on);
    void set_crcmode(int mode);
    void set_crcinit(unsigned int init);
    void set_preamble(unsigned int preamble);
    void set_preamble_length(unsigned int length);

    // ---- Model notifications (an empty connection without a chip model) ----
    sigc::connection notify_changed_xtal_frequency(const sigc::slot<void()>& slot);
    sigc::connection notify_changed_xtal_tolerance(const sigc::slot<void()>& slot);
    sigc::connection notify_changed_rx_modulation(const sigc::slot<void()>& slot);
    sigc::connection notify_changed_tx_modulation(const sigc::slot<void()>& slot);
    sigc::connection notify_changed_rx_carrierfrequency(const sigc::slot<void()>& slot);
    sigc::connection notify_changed_tx_carrierfrequency(const sigc::slot<void()>& slot);
    sigc::connection notify_changed_rx_bandwidth(const sigc::slot<void()>& slot);
    sigc::connection notify_changed_tx_deviation(const sigc::slot<void()>& slot);
    sigc::connection notify_changed_rx_bitrate(const sigc::slot<void()>& slot);
    sigc::connection notify_changed_tx_bitrate(const sigc::slot<void()>& slot);
    sigc::connection notify_changed_rx_btr(const sigc::slot<void()>& slot);
    sigc::connection notify_changed_tx_power(const sigc::slot<void()>& slot);
    sigc::connection notify_changed_iffrequency(const sigc::slot<void()>& slot);
    sigc::connection notify_changed_framingmode(const sigc::slot<void()>& slot);
    sigc::connection notify_changed_enc_invert(const sigc::slot<void()>& slot);
    sigc::connection notify_changed_enc_diff(const sigc::slot<void()>& slot);
    sigc::connection notify_changed_enc_scrambler(const sigc::slot<void()>& slot);
    sigc::connection notify_changed_enc_manchester(const sigc::slot<void()>& slot);
    sigc::connection notify_changed_crcmode(const sigc::slot<void()>& slot);
    sigc::connection notify_changed_crcinit(const sigc::slot<void()>& slot);
    sigc::connection notify_changed_preamble(const sigc::slot<void()>& slot);
    sigc::connection notify_changed_preamble_length(const sigc::slot<void()>& slot);
    sigc::connection notify_terminate_autoranging(const sigc::slot<void(int, int)>& slot);
    sigc::connection notify_changed_register(const sigc::slot<void(unsigned int, unsigned char, unsigned char)>& slot);
    sigc::connection notify_changed_bitfield(const sigc::slot<void(unsigned int, unsigned int)>& slot);

    /// The board behind this handle (library-internal use).
    EvUSBBoard* get_board() const { return board; }

private:
    EvUSBBoard* board;
};

} // namespace KORVIK
