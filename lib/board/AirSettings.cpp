#include "board/AirSettings.h"

#include <cmath>
#include <cstring>

#include "board/EvUSBBoard.h"
#include "model/GreyfinModel.h"

namespace KORVIK {
namespace air {

Family family_of(GreyfinModel& m, int modulation)
{
    if (m.is_modulation_4fsk(modulation))
        return Family::FSK4;
    if (m.is_modulation_ask(modulation))
        return Family::ASK;
    if (m.is_modulation_psk(modulation))
        return Family::PSK;
    if (m.is_modulation_fsk(modulation))
        return Family::FSK;
    return Family::NONE;
}

Framing framing_of(GreyfinModel& m)
{
    // HDLC FEC also counts as HDLC, so it is asked first
    if (m.is_framingmode_wiremode())
        return Framing::WIREMODE;
    if (m.is_framingmode_zigbee_900())
        return Framing::ZIGBEE_900;
    if (m.is_framingmode_zigbee_2g4())
        return Framing::ZIGBEE_2G4;
    if (m.is_framingmode_hdlc_fec())
        return Framing::HDLC_FEC;
    if (m.is_framingmode_hdlc())
        return Framing::HDLC;
    if (m.is_framingmode_rawpreamblematch())
        return Framing::RAW_PREAMBLE_MATCH;
    if (m.is_framingmode_rawsoft())
        return Framing::RAW_SOFT;
    if (m.is_framingmode_raw())
        return Framing::RAW;
    return Framing::NONE;
}

namespace {

unsigned encoding_of(GreyfinModel& m)
{
    return (m.get_enc_invert() ? 1u : 0u) | (m.get_enc_diff() ? 2u : 0u) | (m.get_enc_scrambler() ? 4u : 0u) |
           (m.get_enc_manchester() ? 8u : 0u);
}

template <typename Side>
void common(GreyfinModel& m, Side& s)
{
    s.framing = framing_of(m);
    s.crc = m.is_framingmode_crcsupported() ? m.get_crcmode() : -1;
    // with preamble-match framing the CRC preset registers hold the sync word
    s.crcinit = s.crc >= 0 ? uint32_t(m.get_crcinit()) : 0;
    s.encoding = encoding_of(m);
    if (s.framing == Framing::RAW_PREAMBLE_MATCH) {
        s.sync_length = m.get_preamble_length();
        s.sync = uint32_t(m.get_preamble());
    }
    s.xtal_tolerance = std::fabs(m.get_xtal_tolerance());
}

} // namespace

Emission emission_of(EvUSBBoard& board, double xtal_error_ppm)
{
    Emission e;
    GreyfinModel* m = board.get_model();
    if (!m) {
        e.can_transmit = false;
        return e;
    }
    e.can_transmit = (m->get_chipflags() & 2) != 0;
    e.nominal_carrier = m->get_tx_carrierfrequency();
    e.carrier = e.nominal_carrier * (1 + xtal_error_ppm * 1e-6);
    e.bitrate = m->get_tx_bitrate();
    e.power = m->get_tx_power();
    e.family = family_of(*m, m->get_tx_modulation());
    common(*m, e);
    const USBDeviceCurrents c = m->get_currents();
    // head and tail times over the bit time give them back in bits
    if (std::isfinite(c.values[8]) && std::isfinite(c.values[6]) && c.values[6] > 0) {
        e.head_bits = c.values[8] / c.values[6];
        e.tail_bits = c.values[9] / c.values[6];
    }
    return e;
}

Reception reception_of(EvUSBBoard& board, double xtal_error_ppm)
{
    Reception r;
    GreyfinModel* m = board.get_model();
    if (!m)
        return r;
    r.transmitting_cw = board.is_transmit_cw();
    r.can_receive = (m->get_chipflags() & 1) && !r.transmitting_cw;
    r.nominal_carrier = m->get_rx_carrierfrequency();
    r.carrier = r.nominal_carrier * (1 + xtal_error_ppm * 1e-6);
    r.bandwidth = m->get_rx_bandwidth();
    r.bitrate = m->get_rx_bitrate();
    r.fast_btr = m->get_rx_btr() == 1;
    r.family = family_of(*m, m->get_rx_modulation());
    common(*m, r);
    const ChannelAccessParams& ca = board.get_chacc_params();
    r.address_match = r.framing == Framing::HDLC || r.framing == Framing::HDLC_FEC;
    r.match_flags = ca.addrmatchflags;
    r.addrlength = ca.addrlength;
    std::memcpy(r.addr1, ca.addr1, 6);
    std::memcpy(r.addr2, ca.addr2, 6);
    return r;
}

} // namespace air
} // namespace KORVIK
