#pragma once

#include <atomic>
#include <cstdint>
#include <list>
#include <string>
#include <vector>

#include <sigc++/sigc++.h>

#include <korvik/ChangeList.h>
#include <korvik/USBDeviceStatus.h>

#include "model/ChipBus.h"

namespace KORVIK {

/// Register record flags.
enum RegisterFlags : uint32_t {
    REG_RECEIVE = 1,
    REG_TRANSMIT = 2,
    REG_SHARED = 4,
};

/// Chip capability flags.
enum ChipFlags : unsigned {
    CHIP_RECEIVE = 1,
    CHIP_TRANSMIT = 2,
};

/// Modulation ids, the same on every chip.
enum Modulation : int {
    MOD_ASK = 0,
    MOD_ASK_COHERENT = 1,
    MOD_ASK_SHAPED = 2,
    MOD_ASK_SHAPED_COHERENT = 3,
    MOD_PSK = 4,
    MOD_PSK_SHAPED = 5,
    MOD_OQPSK = 6,
    MOD_MSK = 7,
    MOD_FSK = 8,
    MOD_GFSK = 9,
    MOD_4FSK = 10,
};

/// Encoding option bits of get_supported_encodingmodes().
enum EncodingBits : unsigned {
    ENC_INVERT = 1,
    ENC_DIFF = 2,
    ENC_SCRAMBLER = 4,
    ENC_MANCHESTER = 8,
};

struct Register {
    Register() = default;
    Register(const std::string& name, uint16_t chipaddr, uint16_t operatingaddr,
             uint8_t defaultvalue, uint8_t mask, uint32_t flags);

    std::string name = "??";
    uint32_t flags = 0;
    uint16_t chipaddr = 0;
    uint16_t operatingaddr = 0;
    uint8_t mask = 0;
    uint8_t chipvalue = 0;
    uint8_t committedvalue = 0;
    uint8_t nvvalue = 0;
    uint8_t defaultvalue = 0;

    /// (mask AND v) OR (NOT mask AND default): bits outside the mask keep the default.
    uint8_t masked(uint8_t v) const { return uint8_t((mask & v) | (~mask & defaultvalue)); }
};

struct BitfieldSegment {
    uint8_t reg;    ///< register index
    uint8_t lowbit; ///< lowest bit, 0..7
    uint8_t width;  ///< 1..8
};

struct Bitfield {
    std::string name;
    std::string description;
    std::string tooltip;
    std::vector<BitfieldSegment> segments; ///< least significant bits first
};

/// Abstract base of the chip register models: a shadow copy of the chip's
/// registers, named bitfields, commit to the board and change signals.
class GreyfinModel {
public:
    explicit GreyfinModel(ChipBus* board);
    virtual ~GreyfinModel();

    GreyfinModel(const GreyfinModel&) = delete;
    GreyfinModel& operator=(const GreyfinModel&) = delete;

    virtual void idle_hook(unsigned) = 0;
    virtual void terminate_autoranging(int rx_result, int tx_result) = 0;

    virtual std::vector<uint8_t> get_nvarea();
    virtual void set_nvarea(const std::vector<uint8_t>& bytes);
    virtual void load_chipdefaults();
    virtual void load_boarddefaults();
    virtual void load_chipoperating();
    virtual void commit_registers();
    virtual void commit_all_registers();

    virtual std::string get_chip_name() = 0;
    virtual unsigned get_chipflags() = 0;

    virtual std::list<std::string> get_supported_rx_btr_settings();
    virtual std::list<std::string> get_supported_modulations();
    virtual std::list<std::string> get_supported_framingmodes();
    virtual std::list<std::string> get_supported_crcmodes();
    virtual unsigned get_supported_encodingmodes();

    virtual int get_rx_modulation() = 0;
    virtual int get_tx_modulation() = 0;
    virtual bool is_modulation_shaped(int m);
    virtual bool is_modulation_ask(int m);
    virtual bool is_modulation_psk(int m);
    virtual bool is_modulation_fsk(int m);
    virtual bool is_modulation_4fsk(int m);

    virtual double get_rx_carrierfrequency() = 0;
    virtual double get_tx_carrierfrequency() = 0;
    virtual double get_rx_bandwidth() = 0;
    virtual double get_tx_deviation() = 0;
    virtual double get_rx_bitrate() = 0;
    virtual double get_tx_bitrate() = 0;
    virtual int get_rx_btr();
    virtual int get_rx_btr_preamble();
    virtual double get_tx_power() = 0;
    virtual unsigned get_rx_range() = 0;
    virtual unsigned get_tx_range() = 0;
    virtual double get_rx_maxfrequencyoffset() = 0;
    virtual double convert_frequencyoffset(int offset) = 0;
    virtual double get_iffrequency() = 0;
    virtual int get_agcreference() = 0;

    virtual int get_framingmode() = 0;
    virtual bool is_framingmode_raw() = 0;
    virtual bool is_framingmode_rawsoft() = 0;
    virtual bool is_framingmode_rawpreamblematch() = 0;
    virtual bool is_framingmode_hdlc() = 0;
    virtual bool is_framingmode_hdlc_fec();
    virtual bool is_framingmode_zigbee();
    virtual bool is_framingmode_zigbee_900() = 0;
    virtual bool is_framingmode_zigbee_2g4() = 0;
    virtual bool is_framingmode_wiremode() = 0;
    virtual bool is_framingmode_crcsupported() = 0;

    virtual bool get_enc_invert() = 0;
    virtual bool get_enc_diff() = 0;
    virtual bool get_enc_scrambler() = 0;
    virtual bool get_enc_manchester() = 0;
    virtual int get_crcmode() = 0;
    virtual unsigned get_crcinit() = 0;
    virtual unsigned get_crclength();
    virtual bool is_crcmode_ccitt() = 0;
    virtual bool is_crcmode_crc16() = 0;
    virtual bool is_crcmode_dnp() = 0;
    virtual bool is_crcmode_crc32() = 0;

    virtual uint8_t get_txkeyup();
    virtual unsigned get_txkeyup_length() = 0;
    virtual unsigned get_preamble() = 0;
    virtual unsigned get_preamble_length() = 0;
    virtual unsigned get_postamble_length() = 0;
    virtual USBDeviceCurrents get_currents();

    virtual void set_xtal_frequency(unsigned hz);
    virtual void set_xtal_tolerance(double ppm);
    virtual void set_rx(double bandwidth, double bitrate, int modulation, bool notify, int btr);
    virtual void set_tx(double deviation, double bitrate, int modulation, bool notify);

    virtual void set_rx_modulation(int m) = 0;
    virtual void set_tx_modulation(int m) = 0;
    virtual void set_rx_carrierfrequency(double hz) = 0;
    virtual void set_tx_carrierfrequency(double hz) = 0;
    virtual void set_rx_bandwidth(double hz) = 0;
    virtual void set_tx_deviation(double hz) = 0;
    virtual void set_rx_bitrate(double bps) = 0;
    virtual void set_tx_bitrate(double bps) = 0;
    virtual void set_rx_btr(int btr);
    virtual void set_tx_power(double dbm) = 0;
    virtual void step_tx_power(int steps) = 0;
    virtual void set_rx_range(unsigned r) = 0;
    virtual void set_tx_range(unsigned r) = 0;
    virtual void set_iffrequency(double hz) = 0;
    virtual void set_framingmode(int f) = 0;
    virtual void set_enc_invert(bool on) = 0;
    virtual void set_enc_diff(bool on) = 0;
    virtual void set_enc_scrambler(bool on) = 0;
    virtual void set_enc_manchester(bool on) = 0;
    virtual void set_crcmode(int mode) = 0;
    virtual void set_crcinit(unsigned init) = 0;
    virtual void set_preamble(unsigned preamble) = 0;
    virtual void set_preamble_length(unsigned length) = 0;

    unsigned get_xtal_frequency() const { return xtal_frequency; }
    double get_xtal_tolerance() const { return xtal_tolerance; }

    // Register store; an index out of range reads 0 / "" and writes nothing.
    unsigned get_registers() const { return unsigned(registers.size()); }
    std::string get_register_name(unsigned i) const;
    uint16_t get_register_chipaddr(unsigned i) const;
    uint16_t get_register_operatingaddr(unsigned i) const;
    uint8_t get_register_mask(unsigned i) const;
    uint8_t get_register_chipvalue(unsigned i) const;
    uint8_t get_register_nvvalue(unsigned i) const;
    uint8_t get_register_defaultvalue(unsigned i) const;
    uint8_t get_register_changemask(unsigned i) const;
    bool is_register_receive(unsigned i) const;
    bool is_register_transmit(unsigned i) const;
    bool is_register_shared(unsigned i) const;
    void set_register_chipvalue(unsigned i, uint8_t v);
    /// set_register_chipvalue for every register with `from`'s value (a
    /// model of the same chip), in one pass: settings copies take every
    /// register, and most of them are equal already. The committed values
    /// are taken too, so that a commit of the copy acts as one of `from`.
    /// With `only`, just the registers marked there.
    void copy_register_chipvalues(const GreyfinModel& from, const uint64_t* only = nullptr);
    void frob_register_chipvalue(unsigned i, uint8_t x, uint8_t clear);
    /// A change of a chip value: the register and its value before.
    struct ChipValueChange {
        uint16_t index;
        uint8_t before;
    };
    /// While `journal` is set, every change of a chip value by
    /// set_register_chipvalue or frob_register_chipvalue is noted there, so
    /// that a trial setting can be taken back (undo_chip_values); null stops it.
    void journal_chip_values(std::vector<ChipValueChange>* journal) { chip_journal = journal; }
    /// Puts back the chip values a journal noted, the last change first.
    void undo_chip_values(const std::vector<ChipValueChange>& journal);
    void set_register_nvvalue(unsigned i, uint8_t v);
    /// Index of the first register with this operating address, or -1.
    int find_register_by_operatingaddr(uint16_t operatingaddr) const;

    /// While `set` is given, every read of a register's chip value (also
    /// through a bitfield or a change mask) marks the register there: bit i % 64 of word
    /// i / 64. Null stops it. The parameters follow from the chip values
    /// and the crystal alone, so a parameter can only move when a register
    /// it read moves: the parameter table reads again only those.
    ///
    /// With `overwritten`, a register set whole while recording (its chip
    /// value no longer depends on what it was) is marked there, and later
    /// reads of its chip value are no longer marked in `set`: what a setter
    /// reads back of its own writes is no input to it.
    void record_reads(uint64_t* set, uint64_t* overwritten = nullptr) const
    {
        read_set = set;
        overwritten_set = set ? overwritten : nullptr;
    }
    /// Changes of a chip or committed value so far. A copy of the model
    /// notes it and later takes only what moved (registers_written_since).
    uint64_t write_count() const { return writes; }
    /// Marks in `set` (as record_reads does) every register changed since
    /// write_count() was `since` (with `committed` false, only those whose
    /// chip value changed); false when the changes since then are too many
    /// to tell (a load, say): the caller then takes every register.
    bool registers_written_since(uint64_t since, uint64_t* set, bool committed = true) const;
    /// Identifies this model among all that were made (addresses come back).
    uint64_t get_serial() const { return serial; }

    unsigned get_bitfields() const { return unsigned(bitfields.size()); }
    std::string get_bitfield_name(unsigned i) const;
    std::string get_bitfield_description(unsigned i) const;
    std::string get_bitfield_tooltip(unsigned i) const;
    unsigned get_bitfield_bitlength(unsigned i) const;
    unsigned get_bitfield_chipvalue(unsigned i) const;
    unsigned get_bitfield_nvvalue(unsigned i) const;
    unsigned get_bitfield_defaultvalue(unsigned i) const;
    unsigned get_bitfield_changemask(unsigned i) const;
    void set_bitfield_chipvalue(unsigned i, unsigned value);

    // Board access; each throws std::runtime_error without a board.
    void evusb_write(uint16_t operatingaddr, uint8_t value);
    uint16_t evusb_read16(uint16_t operatingaddr);
    void evusb_set_ethstate(uint8_t state);
    uint8_t evusb_get_ethstate();
    /// flags: bit 0 receive, bit 1 transmit, bit 2 shadow registers changed.
    /// Forwards to the board; does nothing without one. Virtual so that a
    /// test can watch the flags a commit produces.
    virtual void start_chip_reprogramming(unsigned flags);

    std::string debug_register_dump();

    // one signal_changed_<name> per entry of the chip list
#define KORVIK_MODEL_SIGNAL(name) sigc::signal<void()> signal_changed_##name;
    KORVIK_CHIP_CHANGES(KORVIK_MODEL_SIGNAL)
#undef KORVIK_MODEL_SIGNAL
    sigc::signal<void(int, int)> signal_terminate_autoranging;
    sigc::signal<void(unsigned, uint8_t, uint8_t)> signal_changed_register;
    sigc::signal<void(unsigned, unsigned)> signal_changed_bitfield;

protected:
    /// Ends every chip constructor: marks registers sharing a chip address.
    void mark_shared_registers();

    std::vector<Register> registers;
    std::vector<Bitfield> bitfields;
    unsigned xtal_frequency = 16000000;
    double xtal_tolerance = 10.0;
    ChipBus* board;

private:
    friend uint64_t model_revision(const GreyfinModel* model);
    /// Marks a change of chip values or crystal data (see model_revision).
    static void touch_revision(const GreyfinModel* model);
    // in the model itself, read without a lock: the virtual air asks for
    // every receiver's on every packet
    mutable std::atomic<uint64_t> revision{0};
    mutable uint64_t* read_set = nullptr;
    std::vector<ChipValueChange>* chip_journal = nullptr;
    mutable uint64_t* overwritten_set = nullptr;
    /// `chip_only`: a read of the chip value alone (a change mask also reads
    /// the committed value, which no write here replaces).
    void mark_read(unsigned i, bool chip_only = true) const
    {
        const uint64_t bit = uint64_t(1) << (i & 63);
        if (read_set && !(chip_only && overwritten_set && (overwritten_set[i >> 6] & bit)))
            read_set[i >> 6] |= bit;
    }
    void mark_overwritten(unsigned i) const
    {
        if (overwritten_set)
            overwritten_set[i >> 6] |= uint64_t(1) << (i & 63);
    }
    // the last changes, oldest overwritten first
    static constexpr unsigned WRITE_LOG = 128;
    uint16_t write_log[WRITE_LOG] = {};
    uint64_t writes = 0;
    static constexpr uint16_t COMMITTED_ONLY = 0x8000;
    void mark_written(unsigned i, uint16_t committed_only = 0)
    {
        write_log[writes++ % WRITE_LOG] = uint16_t(i | committed_only);
    }
    const uint64_t serial;
    void mark_bitfield_read(unsigned i, bool chip_only = true) const;
    /// Takes register i's chip value as committed; true when the chip's
    /// bits of it changed (it must be written).
    bool take_committed(unsigned i);
};

/// Variant of the base with the 12-bit run-length NV area encoding.
class GreyfinModelAddr12 : public GreyfinModel {
public:
    using GreyfinModel::GreyfinModel;
    std::vector<uint8_t> get_nvarea() override;
    void set_nvarea(const std::vector<uint8_t>& bytes) override;
};

/// Factory signature of the chip table.
using ModelFactory = GreyfinModel* (*)(ChipBus* board);

} // namespace KORVIK
