#pragma once

#include <list>
#include <string>
#include <vector>

#include <sigc++/sigc++.h>

#include <korvik/ChangeList.h>
#include <korvik/Export.h>
#include <korvik/Parameters.h>
#include <korvik/USBDeviceStatus.h>

namespace KORVIK {

class EvUSBBoard;
class ParamAccess;

/// A handle on one board (real or simulated).
///
/// Handles are created on the heap by the static open operations and belong
/// to the caller, who deletes them. Each handle keeps its board alive; a board
/// that has left the registry (unplugged, failed) still answers through its
/// handles and reports is_dead().
///
/// Operations of the chip families (registers, bitfields, chip identity, air
/// parameters, model notifications) reach the board's chip model; on a board
/// whose chip is not modelled they return 0, false, 0.0, an empty string or
/// list, or an empty connection, and setters do nothing.
///
/// Units: Hz, bit/s, seconds, ppm and dBm. Everything runs on the one thread
/// that calls periodic(); signals are emitted on it. No operation throws
/// except those documented to do so.
class KORVIK_API USBDevice {
public:
    /// Takes one reference on the board (the open operations call this).
    explicit USBDevice(EvUSBBoard* board);
    /// Releases the reference; the board is deleted with its last one.
    ~USBDevice();
    USBDevice(const USBDevice&) = delete;
    USBDevice& operator=(const USBDevice&) = delete;

    // ---- Library-wide operations ----
    // Every static operation except get_version and get_supported_chips starts
    // the library on first use, which scans for boards at once (connect
    // signals may already be emitted then).

    /// Library version text ("V1.4").
    static const std::string& get_version();
    /// Names of the supported chips, in table order: RC1200, RC1400, RC1100, RC1300.
    static std::list<std::string> get_supported_chips();
    /// Opens the first board (ascending interface name) with this serial;
    /// null when there is none. The caller deletes the handle.
    static USBDevice* open(const std::string& serial);
    /// Opens the board on this interface; null when there is none.
    static USBDevice* open_iface(const std::string& interface);
    /// Opens the board with this serial if one is registered (the other
    /// arguments are then ignored); otherwise creates and registers a
    /// simulated board on the interface "sim" + n (numbers are never reused).
    /// chip is a name of get_supported_chips() ("EV" may stand for "RC");
    /// ethmac is 12 hexadecimal digits, bare or as six colon-separated pairs. Throws std::runtime_error
    /// "invalid Chip Model Name: <name>" for an unknown chip.
    static USBDevice* open_simulation(const std::string& serial, const std::string& display_name,
                                      const std::string& chip, const std::string& ethmac);
    /// Runs a discovery scan now (blocks while new boards answer).
    static void rescan_devices();
    /// Dispatches everything that is ready in the library's event loop; never blocks.
    static void periodic();
    /// Replaces the contents of handles with the descriptors the library's
    /// loop waits on (file descriptors cast to void*) and returns the time in
    /// ms until periodic() must run anyway; -1 means no time limit. Wait until
    /// a descriptor is readable or the time is up, then call periodic().
    static int get_poll_handles(std::vector<void*>& handles);
    /// Calls the slot with the serial of every present board now, then with
    /// the serial of every board that arrives later.
    static sigc::connection notify_device_connect(const sigc::slot<void(const std::string&)>& serial_slot);
    /// The same with (interface, serial); present boards come in ascending interface order.
    static sigc::connection notify_device_connect(const sigc::slot<void(const std::string&, const std::string&)>& iface_serial_slot);
    /// Calls the slot with the serial of every board that leaves (no replay).
    /// The board can still be opened while the slot runs.
    static sigc::connection notify_device_disconnect(const sigc::slot<void(const std::string&)>& serial_slot);
    /// The same with (interface, serial).
    static sigc::connection notify_device_disconnect(const sigc::slot<void(const std::string&, const std::string&)>& iface_serial_slot);
    /// Routes the library's diagnostic lines to `sink`, one call per line
    /// without its newline; an empty slot restores the default, the standard
    /// error stream. The sink runs on the thread that wrote the line (the
    /// direct SPI board has a thread of its own) and must not call back into
    /// set_diagnostic_sink. Does not start the library.
    static void set_diagnostic_sink(const sigc::slot<void(const std::string&)>& sink);

    // ---- Virtual air between simulated boards ----
    // Off by default: simulated boards then have no packet I/O (send_packet
    // throws "no packet io"). KORVIK_VIRTUAL_AIR=1 in the environment turns
    // it on at start. While on, a packet sent by a simulated board reaches
    // every other simulated board whose receiver would hear it (same band,
    // modulation family, bitrate, framing and CRC, matching address) after
    // its air time, with an RSSI and a frequency offset from a seeded link
    // model, and may be lost as the signal-to-noise ratio makes likely; a
    // continuous wave shows in the other boards' status (value1: RSSI in dBm
    // as a signed 16-bit number, flag0: at or above the RSSI threshold).
    // These operations do not start the library.

    /// Turns the virtual air on or off; turning it off drops packets still in the air.
    static void set_virtual_air(bool on);
    static bool is_virtual_air();
    /// Restarts the link model's random stream: the same seed and the same
    /// sends give the same RSSI values and losses. The seed is 1 at start.
    static void set_virtual_air_seed(unsigned seed);
    /// Path loss in dB between every pair of simulated boards (60 at start);
    /// replaces the values set for single pairs.
    static void set_virtual_air_path_loss(double db);
    /// Path loss in dB between the boards on two interfaces, both directions.
    static void set_virtual_air_path_loss(const std::string& interface_a, const std::string& interface_b, double db);

    // ---- Captures and replay ----
    // A capture holds every frame the library sends to or receives from a
    // board (and the packets of simulated boards on the virtual air, as
    // the frames a board would send), with its time, as Ethernet frames in
    // a pcap file that tcpdump and Wireshark read. KORVIK_CAPTURE=FILE in the
    // environment starts one, adding to FILE, when the library starts.

    /// Starts writing the capture to `file` (replacing a running capture;
    /// "%i" in the name makes one file per board, named by its interface);
    /// `append` adds to an existing file. A non-empty `board` (interface name
    /// or serial) keeps only that board's frames: they are held in memory
    /// until the board shows (a frame on that interface, or its
    /// identification answer), so the discovery that finds it is in the
    /// capture too. False, with a diagnostic line saying why, when the file
    /// cannot be written. Does not start the library.
    static bool start_capture(const std::string& file, bool append = false, const std::string& board = "");
    /// Ends the capture and closes its file. Does not start the library.
    static void stop_capture();
    /// Whether a capture runs.
    static bool is_capturing();
    /// Frames written since the capture started.
    static unsigned long long get_captured_frames();
    /// Opens a capture of one board as a simulated board that answers as the
    /// recorded one did: identification, NV sector, registers as last
    /// written or read, recorded status reports and received packets at
    /// their recorded times from now on. Writes change it as on any
    /// simulated board; a read of something never recorded gives the
    /// simulated default and a diagnostic line. The board is registered on
    /// the interface "sim" + n. Throws std::runtime_error naming the file and
    /// the reason when the capture is refused (unreadable, not a capture,
    /// another link type, too large, several boards, no board, chip unknown).
    static USBDevice* open_replay(const std::string& file);

    // ---- Identity and counters ----

    /// Serial number the board reported when it was found.
    std::string get_serial() const;
    /// Interface name, the registry key ("sim0" for simulated boards).
    std::string get_interface() const;
    /// Human-readable name of the board.
    std::string get_display_name() const;
    /// Serial number as held for the board's NV memory.
    std::string get_nv_serial() const;
    /// MAC of the host-side adapter; 6 bytes, valid while the handle lives.
    const unsigned char* get_ethernet_mac() const;
    /// MAC of the board's radio side; 6 bytes, valid while the handle lives.
    const unsigned char* get_radio_ethernet_mac() const;
    /// Adapter MAC as held for NV memory; 6 bytes.
    const unsigned char* get_nv_ethernet_mac() const;
    /// Radio MAC as held for NV memory, also the default packet destination; 6 bytes.
    const unsigned char* get_nv_radio_ethernet_mac() const;
    /// Packets received since the counters were last reset.
    unsigned int get_rx_pkt_count() const;
    /// Packets sent since the counters were last reset.
    unsigned int get_tx_pkt_count() const;
    /// True while continuous-wave transmission is on.
    bool is_transmit_cw() const;

    // ---- Board state ----

    /// True once the board has failed or left the registry.
    bool is_dead() const;
    /// True when the board carries network packets (real boards).
    bool is_net_up() const;
    /// Board flags; bit 0 set for a simulated board.
    unsigned int get_boardflags() const;

    // ---- NV memory and defaults ----

    /// Sets the adapter MAC to store (6 bytes; null is ignored).
    void set_nv_ethmac(const unsigned char* mac);
    /// Sets the radio MAC to store (6 bytes; null is ignored).
    void set_nv_radio_ethmac(const unsigned char* mac);
    /// Sets the serial number to store.
    void set_nv_serial(const std::string& serial);
    /// Reads the chip's operating registers and the channel-access settings back from the board.
    void load_chipoperating();
    /// Loads the chip's reset values and factory channel-access settings (nothing is stored).
    void load_chipdefaults();
    /// Loads the values of the board's NV memory into the chip and channel access.
    void load_boarddefaults();
    /// Writes the current settings into the board's NV memory and verifies them;
    /// throws std::runtime_error when the flash cannot be written.
    void store_boarddefaults();

    // ---- Packets and carrier ----

    /// Sends a packet of length bytes to address (6 bytes; null for the
    /// default destination); throws std::runtime_error when it cannot be queued.
    void send_packet(const unsigned char* data, unsigned int length, const unsigned char* address);
    /// As send_packet, for a packet in BPQ framing.
    void send_bpq_packet(const unsigned char* data, unsigned int length, const unsigned char* address);
    /// Switches continuous-wave transmission on or off.
    void set_transmit_cw(bool on);

    // ---- Channel access ----

    /// Names of the channel-access modes ("Immediate", "CSMA"); a mode is its position.
    std::list<std::string> get_chacc_supported_channelaccessmodes() const;
    /// Current channel-access mode.
    int get_chacc_channelaccessmode() const;
    /// p-persistence, 0 to 1.
    double get_chacc_ppersistence() const;
    /// Slot time in seconds (1 ms steps).
    double get_chacc_slottime() const;
    /// RSSI threshold in dBm.
    double get_chacc_rssithreshold() const;
    /// Background-noise threshold (-1 to 63).
    double get_chacc_bgndthreshold() const;
    /// Preamble length in bytes.
    unsigned int get_chacc_preamble() const;
    /// Preamble duration in seconds at the transmit bitrate.
    double get_chacc_preamble_sec() const;
    /// Address length in bytes, 0 to 6.
    unsigned int get_chacc_addrlength() const;
    /// True when received packets are matched against the first address.
    bool get_chacc_addrmatch1() const;
    /// True when received packets are matched against the second address.
    bool get_chacc_addrmatch2() const;
    /// Copies the first match address into out6 (6 bytes).
    void get_chacc_addr1(unsigned char* out6) const;
    /// Copies the second match address into out6 (6 bytes).
    void get_chacc_addr2(unsigned char* out6) const;
    /// Sets the channel-access mode.
    void set_chacc_channelaccessmode(int mode);
    /// Sets the p-persistence (clamped to 0..1).
    void set_chacc_ppersistence(double p);
    /// Sets the slot time in seconds (clamped to 0..0.255).
    void set_chacc_slottime(double seconds);
    /// Sets the RSSI threshold in dBm (clamped to -120..0).
    void set_chacc_rssithreshold(double dbm);
    /// Sets the background-noise threshold (clamped to -1..63).
    void set_chacc_bgndthreshold(double v);
    /// Sets the preamble length in bytes.
    void set_chacc_preamble(unsigned char bytes);
    /// Sets the address length (at most 6); 0 also switches address matching off.
    void set_chacc_addrlength(unsigned char n);
    /// Switches matching against the first address (only with a non-zero address length).
    void set_chacc_addrmatch1(bool on);
    /// Switches matching against the second address (only with a non-zero address length).
    void set_chacc_addrmatch2(bool on);
    /// Sets the first match address (6 bytes).
    void set_chacc_addr1(const unsigned char* addr6);
    /// Sets the second match address (6 bytes).
    void set_chacc_addr2(const unsigned char* addr6);

    // ---- Board notifications (each returns the connection of the slot) ----

    /// A status report of the board has been processed.
    sigc::connection notify_status(const sigc::slot<void(const USBDeviceStatus&)>& slot);
    /// A packet was received: (data, length, source MAC, RSSI, frequency offset).
    sigc::connection notify_receive_packet(const sigc::slot<void(const unsigned char*, unsigned int, const unsigned char*, short, int)>& slot);
    /// A packet was received: (data, length, source MAC).
    sigc::connection notify_receive_packet(const sigc::slot<void(const unsigned char*, unsigned int, const unsigned char*)>& slot);
    /// A packet was sent: (data, length, destination MAC).
    sigc::connection notify_transmit_packet(const sigc::slot<void(const unsigned char*, unsigned int, const unsigned char*)>& slot);
    // One value-less change notification per entry of the board's list in
    // korvik/ChangeList.h: notify_changed_<name> calls the slot after the
    // value behind get_<name>() (or its family) may have changed.
#define KORVIK_DECLARE_NOTIFY_(name) sigc::connection notify_changed_##name(const sigc::slot<void()>& slot);
    KORVIK_BOARD_CHANGES(KORVIK_DECLARE_NOTIFY_)

    // ---- Register table (index 0 .. get_registers()-1; out of range reads 0, writes nothing) ----

    /// Number of chip registers.
    unsigned int get_registers() const;
    /// Bits of register i that the chip implements.
    unsigned char get_register_mask(unsigned int i) const;
    /// Address of register i in the chip's data sheet.
    unsigned short get_register_chipaddr(unsigned int i) const;
    /// Address through which the board reaches register i.
    unsigned short get_register_operatingaddr(unsigned int i) const;
    /// Value set for register i (written to the chip by the next commit).
    unsigned char get_register_chipvalue(unsigned int i) const;
    /// Value of register i in the board's NV memory.
    unsigned char get_register_nvvalue(unsigned int i) const;
    /// Reset value of register i.
    unsigned char get_register_defaultvalue(unsigned int i) const;
    /// Bits of register i changed since the last commit (chip against committed value).
    unsigned char get_register_changemask(unsigned int i) const;
    /// Sets register i; bits outside its mask keep the reset value.
    void set_register_chipvalue(unsigned int i, unsigned char v);
    /// Clears the bits in clear, then toggles the bits in x, of register i.
    void frob_register_chipvalue(unsigned int i, unsigned char x, unsigned char clear);
    /// True when another register shares the chip address of register i.
    bool is_register_shared(unsigned int i) const;
    /// True when register i belongs to the receiver.
    bool is_register_receive(unsigned int i) const;
    /// True when register i belongs to the transmitter.
    bool is_register_transmit(unsigned int i) const;
    /// Name of register i.
    std::string get_register_name(unsigned int i) const;
    /// Writes the changed registers to the chip and emits the change signals.
    void commit_registers();
    /// Writes every register to the chip.
    void commit_all_registers();
    /// Text dump of all registers, for diagnostics.
    std::string debug_register_dump();

    // ---- Bitfield table (index 0 .. get_bitfields()-1; out of range reads 0 or "") ----

    /// Number of named bitfields.
    unsigned int get_bitfields() const;
    /// Value of bitfield i from the registers' current values.
    unsigned int get_bitfield_chipvalue(unsigned int i) const;
    /// Value of bitfield i from the NV values.
    unsigned int get_bitfield_nvvalue(unsigned int i) const;
    /// Value of bitfield i from the reset values.
    unsigned int get_bitfield_defaultvalue(unsigned int i) const;
    /// Bits of bitfield i changed since the last commit.
    unsigned int get_bitfield_changemask(unsigned int i) const;
    /// Sets bitfield i in the registers' current values.
    void set_bitfield_chipvalue(unsigned int i, unsigned int value);
    /// Width of bitfield i in bits.
    unsigned int get_bitfield_bitlength(unsigned int i) const;
    /// Name of bitfield i.
    std::string get_bitfield_name(unsigned int i) const;
    /// One-line description of bitfield i.
    std::string get_bitfield_description(unsigned int i) const;
    /// Longer help text of bitfield i.
    std::string get_bitfield_tooltip(unsigned int i) const;

    // ---- Chip identity and capabilities ----

    /// Chip name, e.g. "RC1200".
    std::string get_chip_name() const;
    /// Chip capabilities: bit 0 receive, bit 1 transmit.
    unsigned int get_chipflags() const;
    /// Crystal frequency in Hz.
    unsigned int get_xtal_frequency() const;
    /// Crystal tolerance in ppm.
    double get_xtal_tolerance() const;
    /// Names of the bit-timing-recovery settings; a setting is its position.
    std::list<std::string> get_supported_rx_btr_settings() const;
    /// Names of the modulations; a modulation id is its position.
    std::list<std::string> get_supported_modulations() const;
    /// Names of the framing modes; a framing id is its position.
    std::list<std::string> get_supported_framingmodes() const;
    /// Names of the CRC modes; a CRC mode is its position.
    std::list<std::string> get_supported_crcmodes() const;
    /// Encoding options: 1 invert, 2 differential, 4 scrambler, 8 Manchester.
    unsigned int get_supported_encodingmodes() const;
    /// Values derived from the air settings (bit times and packet overheads); NaN for none.
    USBDeviceCurrents get_currents() const;

    // ---- Air-interface parameters ----

    /// Receive modulation id.
    int get_rx_modulation() const;
    /// Transmit modulation id.
    int get_tx_modulation() const;
    /// Receive carrier frequency in Hz.
    double get_rx_carrierfrequency() const;
    /// Transmit carrier frequency in Hz.
    double get_tx_carrierfrequency() const;
    /// Receiver bandwidth in Hz.
    double get_rx_bandwidth() const;
    /// Transmit frequency deviation in Hz.
    double get_tx_deviation() const;
    /// Receive bitrate in bit/s.
    double get_rx_bitrate() const;
    /// Transmit bitrate in bit/s.
    double get_tx_bitrate() const;
    /// Receive bit-timing-recovery setting.
    int get_rx_btr() const;
    /// Bit-timing-recovery setting during the preamble.
    int get_rx_btr_preamble() const;
    /// Transmit power in dBm.
    double get_tx_power() const;
    /// Receive VCO range.
    unsigned int get_rx_range() const;
    /// Transmit VCO range.
    unsigned int get_tx_range() const;
    /// Largest carrier offset the receiver tolerates, in Hz.
    double get_rx_maxfrequencyoffset() const;
    /// Converts a reported frequency offset into Hz.
    double convert_frequencyoffset(int offset) const;
    /// Intermediate frequency in Hz.
    double get_iffrequency() const;
    /// AGC reference level; -2147483648 without a chip model.
    int get_agcreference() const;
    /// Framing mode id.
    int get_framingmode() const;
    /// True when bit inversion is on.
    bool get_enc_invert() const;
    /// True when differential encoding is on.
    bool get_enc_diff() const;
    /// True when the scrambler is on.
    bool get_enc_scrambler() const;
    /// True when Manchester encoding is on.
    bool get_enc_manchester() const;
    /// CRC mode id.
    int get_crcmode() const;
    /// CRC initial value.
    unsigned int get_crcinit() const;
    /// CRC length in bytes (0 when no CRC applies).
    unsigned int get_crclength() const;
    /// Byte sent while the transmitter keys up; 0x55 without a chip model.
    unsigned char get_txkeyup() const;
    /// Key-up length in bits.
    unsigned int get_txkeyup_length() const;
    /// Preamble pattern.
    unsigned int get_preamble() const;
    /// Preamble length in bits.
    unsigned int get_preamble_length() const;
    /// Postamble length in bits.
    unsigned int get_postamble_length() const;

    /// True when modulation m is pulse-shaped.
    bool is_modulation_shaped(int m) const;
    /// True when modulation m is an ASK variant.
    bool is_modulation_ask(int m) const;
    /// True when modulation m is a PSK variant.
    bool is_modulation_psk(int m) const;
    /// True when modulation m is an FSK variant (MSK, FSK, GFSK).
    bool is_modulation_fsk(int m) const;
    /// True when modulation m is 4-FSK.
    bool is_modulation_4fsk(int m) const;
    /// True in raw framing.
    bool is_framingmode_raw() const;
    /// True in raw framing with soft bits.
    bool is_framingmode_rawsoft() const;
    /// True in raw framing with preamble match.
    bool is_framingmode_rawpreamblematch() const;
    /// True in HDLC framing (with or without FEC).
    bool is_framingmode_hdlc() const;
    /// True in HDLC framing with FEC.
    bool is_framingmode_hdlc_fec() const;
    /// True in either 802.15.4 framing.
    bool is_framingmode_zigbee() const;
    /// True in 802.15.4 (900M) framing.
    bool is_framingmode_zigbee_900() const;
    /// True in 802.15.4 (2G4) framing.
    bool is_framingmode_zigbee_2g4() const;
    /// True in synchronous or asynchronous wire mode.
    bool is_framingmode_wiremode() const;
    /// True when the framing carries a CRC (HDLC).
    bool is_framingmode_crcsupported() const;
    /// True for CRC-CCITT.
    bool is_crcmode_ccitt() const;
    /// True for CRC-16.
    bool is_crcmode_crc16() const;
    /// True for the DNP CRC (no chip offers it).
    bool is_crcmode_dnp() const;
    /// True for CRC-32.
    bool is_crcmode_crc32() const;

    // Setters clamp out-of-range values and never fail; commit_registers()
    // writes the result to the chip.

    /// Sets the crystal frequency in Hz.
    void set_xtal_frequency(unsigned int hz);
    /// Sets the crystal tolerance in ppm.
    void set_xtal_tolerance(double ppm);
    /// Receiver setup; the bandwidth is derived from the bitrate for the modulation.
    void set_rx(double bandwidth, double bitrate, int modulation, int btr);
    /// Transmitter setup; the deviation is derived from the bitrate for the modulation.
    void set_tx(double deviation, double bitrate, int modulation);
    /// Sets the receive modulation id.
    void set_rx_modulation(int m);
    /// Sets the transmit modulation id.
    void set_tx_modulation(int m);
    /// Sets the receive carrier frequency in Hz.
    void set_rx_carrierfrequency(double hz);
    /// Sets the transmit carrier frequency in Hz.
    void set_tx_carrierfrequency(double hz);
    /// Sets the receiver bandwidth in Hz.
    void set_rx_bandwidth(double hz);
    /// Sets the transmit deviation in Hz.
    void set_tx_deviation(double hz);
    /// Sets the receive bitrate in bit/s.
    void set_rx_bitrate(double bps);
    /// Sets the transmit bitrate in bit/s.
    void set_tx_bitrate(double bps);
    /// Sets the receive bit-timing-recovery setting.
    void set_rx_btr(int btr);
    /// Sets the transmit power in dBm (the nearest available level).
    void set_tx_power(double dbm);
    /// Moves the transmit power by this many available levels.
    void step_tx_power(int steps);
    /// Sets the receive VCO range.
    void set_rx_range(unsigned int r);
    /// Sets the transmit VCO range.
    void set_tx_range(unsigned int r);
    /// Sets the intermediate frequency in Hz.
    void set_iffrequency(double hz);
    /// Sets the framing mode id.
    void set_framingmode(int f);
    /// Switches bit inversion.
    void set_enc_invert(bool on);
    /// Switches differential encoding.
    void set_enc_diff(bool on);
    /// Switches the scrambler.
    void set_enc_scrambler(bool on);
    /// Switches Manchester encoding.
    void set_enc_manchester(bool on);
    /// Sets the CRC mode id.
    void set_crcmode(int mode);
    /// Sets the CRC initial value.
    void set_crcinit(unsigned int init);
    /// Sets the preamble pattern.
    void set_preamble(unsigned int preamble);
    /// Sets the preamble length in bits.
    void set_preamble_length(unsigned int length);

    // ---- Model notifications (an empty connection without a chip model) ----
    // Each fires after a commit that changed the named value.

    // One per entry of the chip model's list in korvik/ChangeList.h, as for
    // the board's notifications above.
    KORVIK_CHIP_CHANGES(KORVIK_DECLARE_NOTIFY_)
#undef KORVIK_DECLARE_NOTIFY_
    /// VCO autoranging ended: (receive range result, transmit range result).
    sigc::connection notify_terminate_autoranging(const sigc::slot<void(int, int)>& slot);
    /// A register was written to the chip: (index, low byte of its operating address, value).
    sigc::connection notify_changed_register(const sigc::slot<void(unsigned int, unsigned char, unsigned char)>& slot);
    /// A bitfield changed: (index, value).
    sigc::connection notify_changed_bitfield(const sigc::slot<void(unsigned int, unsigned int)>& slot);

    // ---- Registers by name ----

    /// Index of the register called `name`, or -1 when there is none. A name
    /// the chip has twice (receive and transmit copies) needs its operating
    /// address, "FREQ2@0x089" (any register may be named so); a bare name
    /// that exists twice throws std::invalid_argument listing the choices.
    int find_register(const std::string& name) const;
    /// The register's name, followed by "@0x" and its operating address
    /// (three digits) when the chip has another register of that name.
    std::string get_register_label(unsigned int i) const;

    // ---- Parameters by name (korvik/Parameters.h) ----
    // The names are those of the operations above (tx_power is get_tx_power
    // and set_tx_power). The read-only answers are worked out on a private
    // copy of the board's settings: they never write to the board.

    /// Every parameter, in the order tools list them.
    static const std::vector<ParamInfo>& get_param_table();
    /// The row of that name, or null.
    static const ParamInfo* find_param(const std::string& name);
    /// True when this board's chip has the parameter.
    bool has_param(const std::string& name) const;
    /// The value; throws std::invalid_argument for a name this chip lacks.
    ParamValue get_param(const std::string& name) const;
    /// Sets as the named setter does (clamped, rounded, not committed); throws
    /// std::invalid_argument for a name this chip lacks or a read-only one.
    void set_param(const std::string& name, const ParamValue& value);
    /// Range, step or levels, and choices, at the present settings.
    ParamLimits get_param_limits(const std::string& name) const;
    /// The value the chip would hold if `value` were set now.
    ParamValue get_param_achieved(const std::string& name, const ParamValue& value) const;
    /// Sets the values in the order given and commits once; under the strict
    /// policy a value outside the range, or between two steps or levels by
    /// more than half a step, refuses the whole transaction and nothing is
    /// written. Names, kinds and forms are checked under either policy.
    ParamReport apply_params(const std::vector<ParamAssignment>& assignments,
                             ParamPolicy policy = ParamPolicy::strict);
    /// The report apply_params would give, worked out without writing anything.
    ParamReport check_params(const std::vector<ParamAssignment>& assignments,
                             ParamPolicy policy = ParamPolicy::strict) const;
    /// As apply_params, without the commit: the values wait for commit_registers().
    ParamReport set_params(const std::vector<ParamAssignment>& assignments,
                           ParamPolicy policy = ParamPolicy::strict);
    /// The parameter's change notification; an empty connection for one without.
    sigc::connection notify_changed_param(const std::string& name, const sigc::slot<void()>& slot);

    /// The board behind this handle (library-internal use).
    EvUSBBoard* get_board() const { return board; }

private:
    ParamAccess& params() const;

    EvUSBBoard* board;
    mutable ParamAccess* param_access = nullptr;
};

} // namespace KORVIK
