#pragma once

// Common base of the chips with a 7-bit MODULATION register and a
// preamble-match framing (RC1300, RC1400, RC1100). Everything these chips do
// alike lives here, driven by a const Profile (power table, carrier bands,
// framing maps, limits) and the register roles found by name in the chip's
// table; the chip classes keep only what is theirs.

#include "model/common/ChipMath.h"
#include "model/common/ChipModelBase.h"
#include "model/common/ChipTables.h"

namespace KORVIK {

class PatternMatchModel : public ChipModelBase {
public:
    /// Framing id of a FRAMING field value that is HDLC or HDLC FEC by FEC bit 0.
    enum : int { FRAMING_BY_FEC = -2 };

    /// What set_framingmode writes for one framing id.
    struct FramingSetting {
        uint8_t ifmode; ///< IFMODE bits 3:0
        uint8_t f;      ///< FRAMING bits 3:1 in place (even, 0..14)
    };

    struct Profile {
        int fourfsk_rx;               ///< NO_REG when the chip lacks it
        int fourfsk_tx;
        int max_modulation;           ///< larger ids are clamped to this one
        const double* power_table;    ///< 16 entries, dBm
        CarrierBands bands;
        bool remap_carrier;           ///< band-dependent carrier word bits
        unsigned rx_cic_max;          ///< receive CIC decimation limit
        bool tx_pll_loop_by_rate;     ///< PLLLOOP (Tx) bits 4:0 follow the bitrate
        const int* framing_by_f;      ///< 8 ids, by FRAMING bits 3:1
        int sync_wire_id;             ///< id for IFMODE 2
        int async_wire_id;            ///< id for IFMODE 3, -1: read by FRAMING
        const FramingSetting* framing_settings; ///< by id; unknown ids use entry 0
        unsigned framing_count;
        int hdlc_id;                  ///< -1 without HDLC
        int hdlc_fec_id;              ///< -1 without HDLC FEC
        bool has_crc;                 ///< false: FRAMING bits 5:4 belong to MATCHLEN only
    };

    PatternMatchModel(ChipBus* board, const Profile& profile);

    std::list<std::string> get_supported_modulations() override;

    int get_rx_modulation() override;
    int get_tx_modulation() override;
    bool is_modulation_4fsk(int m) override;

    double convert_frequencyoffset(int offset) override;

    int get_framingmode() override;
    bool is_framingmode_rawpreamblematch() override;
    bool is_framingmode_hdlc() override;
    bool is_framingmode_hdlc_fec() override;

    unsigned get_txkeyup_length() override;
    unsigned get_preamble() override;
    unsigned get_preamble_length() override;
    unsigned get_postamble_length() override;

    void set_rx(double bandwidth, double bitrate, int modulation, bool derive, int btr) override;
    void set_tx(double deviation, double bitrate, int modulation, bool derive) override;

    void set_framingmode(int f) override;
    void set_crcmode(int mode) override;
    void set_preamble(unsigned preamble) override;
    void set_preamble_length(unsigned length) override;

    /// Modulation id of a 7-bit register code; fourfsk: the 4-FSK enable bit.
    static int decode_modulation(unsigned v, bool fourfsk);
    /// True for the FSK register codes: bit 6 set, or 8 to 11.
    static bool is_fsk_code(unsigned v);
    /// FSK oversampling factor held in a 7-bit code (1 for other codes).
    static unsigned oversampling(unsigned v);
    /// PLLLOOP (Tx) bits 4:0 for a modulation id and bitrate: the loop
    /// filter widens with the rate.
    static unsigned tx_pll_loop(int id, double br, unsigned fxtal);

protected:
    /// Builds the tables from the chip's rows, marks shared registers and
    /// finds the register roles; the chip adjusts chip_regs afterwards.
    template <std::size_t R, std::size_t B>
    void init_tables(const RegisterRow (&register_rows)[R], const BitfieldRow (&bitfield_rows)[B])
    {
        build_chip_tables(registers, bitfields, register_rows, bitfield_rows);
        mark_shared_registers();
        chip_regs = find_chip_regs(*this, register_rows, 0x7F);
        chip_regs.fourfsk_rx = profile.fourfsk_rx;
        chip_regs.fourfsk_tx = profile.fourfsk_tx;
    }

    unsigned modulation_rx_code() const { return get_bits(*this, regs().modulation_rx, 0x7F); }
    unsigned modulation_tx_code() const { return get_bits(*this, regs().modulation_tx, 0x7F); }
    /// FRAMING bits 6:4: the pattern length in nibbles, less one.
    unsigned matchlen() const { return get_bits(*this, regs().framing, 0x70) >> 4; }
    int clamp_modulation(int m) const;
    unsigned rx_oversampling() override { return code_oversampling(modulation_rx_code()); }
    /// Oversampling factor this chip reads from a 7-bit receive code.
    virtual unsigned code_oversampling(unsigned v) { return oversampling(v); }
    /// Low bits of the receive code an FSK transmit code takes over (0 when none).
    virtual unsigned tx_oversampling_bits(unsigned rx);
    /// Factor k of the key-up time's timing term.
    virtual unsigned keyup_factor() { return rx_factor(); }
    /// FSK half speed doubles the receive factor.
    unsigned rx_factor() override;
    const double* power_table() const override { return profile.power_table; }
    const CarrierBands& carrier_bands() const override { return profile.bands; }
    bool remap_carrier() const override { return profile.remap_carrier; }
    /// Pattern changes, which the shared commit does not watch.
    void emit_extra_signals() override;

    // Hooks of the setups, in the order they run.
    /// After the receive code is written (4-FSK enable on RC1400).
    virtual void rx_code_written(int id);
    /// Last step of the receiver setup.
    virtual void rx_setup_done(double bw, double br);
    /// Transmit register code for a modulation id (may touch FOURFSK).
    virtual unsigned tx_code(int id);
    /// Last step of the transmitter setup.
    virtual void tx_setup_done() {}

    const Profile& profile;
};

} // namespace KORVIK
