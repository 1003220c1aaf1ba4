// Flat interface: per-device getters, predicates and setters. Each is one
// forwarding call inside the shared guard; the macros only spell out the
// type conversions.

#include "api/flat/FlatCommon.h"

#include <korvik/BoardHolding.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <limits>

using namespace KORVIK;
using namespace KORVIK::flat;

namespace {
const double nan_value = std::numeric_limits<double>::quiet_NaN();
}

// result = d.name(), converted to ret
#define FLAT_GET(ret, name, error)                                                          \
    KORVIK_API ret KORVIK_CALL libkorvik_##name(korvik_device* dev)                         \
    {                                                                                       \
        return with_device<ret>(dev, error, [](USBDevice& d) { return ret(d.name()); });    \
    }

// result = d.name(arg), converted to ret
#define FLAT_GET_ARG(ret, name, argtype, error)                                                       \
    KORVIK_API ret KORVIK_CALL libkorvik_##name(korvik_device* dev, argtype arg)                      \
    {                                                                                                 \
        return with_device<ret>(dev, error, [arg](USBDevice& d) { return ret(d.name(arg)); });        \
    }

#define FLAT_GET_STRING(name)                                                                         \
    KORVIK_API char* KORVIK_CALL libkorvik_##name(korvik_device* dev)                                 \
    {                                                                                                 \
        return with_device<char*>(dev, nullptr, [](USBDevice& d) { return dup_string(d.name()); });   \
    }

#define FLAT_GET_STRING_ARG(name)                                                                     \
    KORVIK_API char* KORVIK_CALL libkorvik_##name(korvik_device* dev, unsigned index)                 \
    {                                                                                                 \
        return with_device<char*>(dev, nullptr,                                                       \
                                  [index](USBDevice& d) { return dup_string(d.name(index)); });       \
    }

#define FLAT_GET_LIST(name)                                                                           \
    KORVIK_API char** KORVIK_CALL libkorvik_##name(korvik_device* dev)                                \
    {                                                                                                 \
        return with_device<char**>(dev, nullptr, [](USBDevice& d) { return dup_stringlist(d.name()); }); \
    }

#define FLAT_GET_MAC(name)                                                                            \
    KORVIK_API const unsigned char* KORVIK_CALL libkorvik_##name(korvik_device* dev)                  \
    {                                                                                                 \
        return with_device<const unsigned char*>(dev, nullptr, [](USBDevice& d) { return d.name(); }); \
    }

#define FLAT_ACTION(name)                                                                             \
    KORVIK_API void KORVIK_CALL libkorvik_##name(korvik_device* dev)                                  \
    {                                                                                                 \
        with_device_void(dev, [](USBDevice& d) { d.name(); });                                        \
    }

// d.name(convert(arg))
#define FLAT_SET(name, argtype, convert)                                                              \
    KORVIK_API void KORVIK_CALL libkorvik_##name(korvik_device* dev, argtype arg)                     \
    {                                                                                                 \
        with_device_void(dev, [arg](USBDevice& d) { d.name(convert(arg)); });                         \
    }

// pointer argument: a null pointer does nothing
#define FLAT_SET_PTR(name, argtype)                                                                   \
    KORVIK_API void KORVIK_CALL libkorvik_##name(korvik_device* dev, argtype arg)                     \
    {                                                                                                 \
        if (!arg)                                                                                     \
            return;                                                                                   \
        with_device_void(dev, [arg](USBDevice& d) { d.name(arg); });                                  \
    }

#define AS_IS(x) (x)
#define AS_BOOL(x) ((x) != 0)

extern "C" {

// ---- Identity, counters and board state ----
FLAT_GET_STRING(get_serial)
FLAT_GET_STRING(get_interface)
FLAT_GET_STRING(get_display_name)
FLAT_GET_STRING(get_nv_serial)
FLAT_GET_MAC(get_ethernet_mac)
FLAT_GET_MAC(get_radio_ethernet_mac)
FLAT_GET_MAC(get_nv_ethernet_mac)
FLAT_GET_MAC(get_nv_radio_ethernet_mac)
FLAT_GET(unsigned, get_rx_pkt_count, 0)
FLAT_GET(unsigned, get_tx_pkt_count, 0)
FLAT_GET(int, is_transmit_cw, 0)
FLAT_GET(int, is_dead, 1)
KORVIK_API int KORVIK_CALL libkorvik_is_nv_interrupted(korvik_device* dev)
{
    return with_device<int>(dev, 0, [](USBDevice& d) { return int(KORVIK::is_nv_interrupted(d)); });
}
FLAT_GET(int, is_net_up, 0)
FLAT_GET(unsigned, get_boardflags, 0)

// ---- NV memory and defaults ----
FLAT_SET_PTR(set_nv_ethmac, const unsigned char*)
FLAT_SET_PTR(set_nv_radio_ethmac, const unsigned char*)
FLAT_SET_PTR(set_nv_serial, const char*)
FLAT_ACTION(load_chipoperating)
FLAT_ACTION(load_chipdefaults)
FLAT_ACTION(load_boarddefaults)
FLAT_ACTION(store_boarddefaults)

// ---- Packets and carrier ----
KORVIK_API void KORVIK_CALL libkorvik_send_packet(korvik_device* dev, const unsigned char* data, unsigned length,
                                                  const unsigned char* address)
{
    // a null address sends to the board's NV radio MAC, as in the class interface
    if (!data && length)
        return;
    with_device_void(dev, [&](USBDevice& d) { d.send_packet(data, length, address); });
}

KORVIK_API void KORVIK_CALL libkorvik_send_bpq_packet(korvik_device* dev, const unsigned char* data, unsigned length,
                                                      const unsigned char* address)
{
    if (!data && length)
        return;
    with_device_void(dev, [&](USBDevice& d) { d.send_bpq_packet(data, length, address); });
}

FLAT_SET(set_transmit_cw, int, AS_BOOL)

// ---- Channel access ----
FLAT_GET_LIST(get_chacc_supported_channelaccessmodes)
FLAT_GET(int, get_chacc_channelaccessmode, 0)
FLAT_GET(double, get_chacc_ppersistence, nan_value)
FLAT_GET(double, get_chacc_slottime, nan_value)
FLAT_GET(double, get_chacc_rssithreshold, nan_value)
FLAT_GET(double, get_chacc_bgndthreshold, nan_value)
FLAT_GET(unsigned, get_chacc_preamble, 0)
FLAT_GET(double, get_chacc_preamble_sec, nan_value)
FLAT_GET(unsigned, get_chacc_addrlength, 0)
FLAT_GET(int, get_chacc_addrmatch1, 0)
FLAT_GET(int, get_chacc_addrmatch2, 0)
FLAT_SET_PTR(get_chacc_addr1, unsigned char*)
FLAT_SET_PTR(get_chacc_addr2, unsigned char*)
FLAT_SET(set_chacc_channelaccessmode, int, AS_IS)
FLAT_SET(set_chacc_ppersistence, double, AS_IS)
FLAT_SET(set_chacc_slottime, double, AS_IS)
FLAT_SET(set_chacc_rssithreshold, double, AS_IS)
FLAT_SET(set_chacc_bgndthreshold, double, AS_IS)
FLAT_SET(set_chacc_preamble, unsigned char, AS_IS)
FLAT_SET(set_chacc_addrlength, unsigned char, AS_IS)
FLAT_SET(set_chacc_addrmatch1, int, AS_BOOL)
FLAT_SET(set_chacc_addrmatch2, int, AS_BOOL)
FLAT_SET_PTR(set_chacc_addr1, const unsigned char*)
FLAT_SET_PTR(set_chacc_addr2, const unsigned char*)

// ---- Register table ----
FLAT_GET(unsigned, get_registers, 0)
FLAT_GET_ARG(unsigned, get_register_mask, unsigned, 0)
FLAT_GET_ARG(unsigned, get_register_chipaddr, unsigned, 0)
FLAT_GET_ARG(unsigned, get_register_operatingaddr, unsigned, 0)
FLAT_GET_ARG(unsigned, get_register_chipvalue, unsigned, 0)
FLAT_GET_ARG(unsigned, get_register_nvvalue, unsigned, 0)
FLAT_GET_ARG(unsigned, get_register_defaultvalue, unsigned, 0)
FLAT_GET_ARG(unsigned, get_register_changemask, unsigned, 0)
FLAT_GET_ARG(int, is_register_shared, unsigned, 0)
FLAT_GET_ARG(int, is_register_receive, unsigned, 0)
FLAT_GET_ARG(int, is_register_transmit, unsigned, 0)
FLAT_GET_STRING_ARG(get_register_name)
FLAT_ACTION(commit_registers)
FLAT_ACTION(commit_all_registers)

KORVIK_API void KORVIK_CALL libkorvik_set_register_chipvalue(korvik_device* dev, unsigned index, unsigned char value)
{
    with_device_void(dev, [=](USBDevice& d) { d.set_register_chipvalue(index, value); });
}

KORVIK_API void KORVIK_CALL libkorvik_frob_register_chipvalue(korvik_device* dev, unsigned index, unsigned char x,
                                                              unsigned char clear)
{
    with_device_void(dev, [=](USBDevice& d) { d.frob_register_chipvalue(index, x, clear); });
}

// ---- Bitfield table ----
FLAT_GET(unsigned, get_bitfields, 0)
FLAT_GET_ARG(unsigned, get_bitfield_chipvalue, unsigned, 0)
FLAT_GET_ARG(unsigned, get_bitfield_nvvalue, unsigned, 0)
FLAT_GET_ARG(unsigned, get_bitfield_defaultvalue, unsigned, 0)
FLAT_GET_ARG(unsigned, get_bitfield_changemask, unsigned, 0)
FLAT_GET_ARG(unsigned, get_bitfield_bitlength, unsigned, 0)
FLAT_GET_STRING_ARG(get_bitfield_name)
FLAT_GET_STRING_ARG(get_bitfield_description)
FLAT_GET_STRING_ARG(get_bitfield_tooltip)

KORVIK_API void KORVIK_CALL libkorvik_set_bitfield_chipvalue(korvik_device* dev, unsigned index, unsigned value)
{
    with_device_void(dev, [=](USBDevice& d) { d.set_bitfield_chipvalue(index, value); });
}

// ---- Chip identity and capabilities ----
FLAT_GET_STRING(get_chip_name)
FLAT_GET(unsigned, get_chipflags, 0)
FLAT_GET(unsigned, get_xtal_frequency, 0)
FLAT_GET(double, get_xtal_tolerance, 0.0)
FLAT_GET_LIST(get_supported_rx_btr_settings)
FLAT_GET_LIST(get_supported_modulations)
FLAT_GET_LIST(get_supported_framingmodes)
FLAT_GET_LIST(get_supported_crcmodes)
FLAT_GET(unsigned, get_supported_encodingmodes, 0)

KORVIK_API void KORVIK_CALL libkorvik_get_currents(korvik_device* dev, double* out)
{
    if (!out)
        return;
    // callers tell a failed call by the first five values
    for (int i = 0; i < 5; ++i)
        out[i] = nan_value;
    with_device_void(dev, [out](USBDevice& d) {
        USBDeviceCurrents currents = d.get_currents();
        std::memcpy(out, currents.values, sizeof currents.values);
    });
}

// ---- Air-interface parameters ----
FLAT_GET(int, get_rx_modulation, 0)
FLAT_GET(int, get_tx_modulation, 0)
FLAT_GET(double, get_rx_carrierfrequency, nan_value)
FLAT_GET(double, get_tx_carrierfrequency, nan_value)
FLAT_GET(double, get_rx_bandwidth, nan_value)
FLAT_GET(double, get_tx_deviation, nan_value)
FLAT_GET(double, get_rx_bitrate, nan_value)
FLAT_GET(double, get_tx_bitrate, nan_value)
FLAT_GET(int, get_rx_btr, 0)
FLAT_GET(int, get_rx_btr_preamble, 0)
FLAT_GET(double, get_tx_power, nan_value)
FLAT_GET(unsigned, get_rx_range, 0)
FLAT_GET(unsigned, get_tx_range, 0)
FLAT_GET(double, get_rx_maxfrequencyoffset, nan_value)
FLAT_GET_ARG(double, convert_frequencyoffset, int, 0.0)
FLAT_GET(double, get_iffrequency, nan_value)
FLAT_GET(int, get_agcreference, INT_MIN)
FLAT_GET(int, get_framingmode, 0)
FLAT_GET(int, get_enc_invert, 0)
FLAT_GET(int, get_enc_diff, 0)
FLAT_GET(int, get_enc_scrambler, 0)
FLAT_GET(int, get_enc_manchester, 0)
FLAT_GET(int, get_crcmode, 0)
FLAT_GET(unsigned, get_crcinit, 0)
FLAT_GET(unsigned, get_crclength, 0)
FLAT_GET(unsigned, get_txkeyup, 0x55)
FLAT_GET(unsigned, get_txkeyup_length, 0)
FLAT_GET(unsigned, get_preamble, 0)
FLAT_GET(unsigned, get_preamble_length, 0)
FLAT_GET(unsigned, get_postamble_length, 0)

FLAT_GET_ARG(int, is_modulation_shaped, int, 0)
FLAT_GET_ARG(int, is_modulation_ask, int, 0)
FLAT_GET_ARG(int, is_modulation_psk, int, 0)
FLAT_GET_ARG(int, is_modulation_fsk, int, 0)
FLAT_GET_ARG(int, is_modulation_4fsk, int, 0)
FLAT_GET(int, is_framingmode_raw, 0)
FLAT_GET(int, is_framingmode_rawsoft, 0)
FLAT_GET(int, is_framingmode_rawpreamblematch, 0)
FLAT_GET(int, is_framingmode_hdlc, 0)
FLAT_GET(int, is_framingmode_hdlc_fec, 0)
FLAT_GET(int, is_framingmode_zigbee, 0)
FLAT_GET(int, is_framingmode_zigbee_900, 0)
FLAT_GET(int, is_framingmode_zigbee_2g4, 0)
FLAT_GET(int, is_framingmode_wiremode, 0)
FLAT_GET(int, is_framingmode_crcsupported, 0)
FLAT_GET(int, is_crcmode_ccitt, 0)
FLAT_GET(int, is_crcmode_crc16, 0)
FLAT_GET(int, is_crcmode_dnp, 0)
FLAT_GET(int, is_crcmode_crc32, 0)

FLAT_SET(set_xtal_frequency, unsigned, AS_IS)
FLAT_SET(set_xtal_tolerance, double, AS_IS)
FLAT_SET(set_rx_modulation, int, AS_IS)
FLAT_SET(set_tx_modulation, int, AS_IS)
FLAT_SET(set_rx_carrierfrequency, double, AS_IS)
FLAT_SET(set_tx_carrierfrequency, double, AS_IS)
FLAT_SET(set_rx_bandwidth, double, AS_IS)
FLAT_SET(set_tx_deviation, double, AS_IS)
FLAT_SET(set_rx_bitrate, double, AS_IS)
FLAT_SET(set_tx_bitrate, double, AS_IS)
FLAT_SET(set_rx_btr, int, AS_IS)
FLAT_SET(set_tx_power, double, AS_IS)
FLAT_SET(step_tx_power, int, AS_IS)
FLAT_SET(set_rx_range, unsigned, AS_IS)
FLAT_SET(set_tx_range, unsigned, AS_IS)
FLAT_SET(set_iffrequency, double, AS_IS)
FLAT_SET(set_framingmode, int, AS_IS)
FLAT_SET(set_enc_invert, int, AS_BOOL)
FLAT_SET(set_enc_diff, int, AS_BOOL)
FLAT_SET(set_enc_scrambler, int, AS_BOOL)
FLAT_SET(set_enc_manchester, int, AS_BOOL)
FLAT_SET(set_crcmode, int, AS_IS)
FLAT_SET(set_crcinit, unsigned, AS_IS)
FLAT_SET(set_preamble, unsigned, AS_IS)
FLAT_SET(set_preamble_length, unsigned, AS_IS)

KORVIK_API void KORVIK_CALL libkorvik_set_rx(korvik_device* dev, double bandwidth, double bitrate, int modulation,
                                             int btr)
{
    with_device_void(dev, [=](USBDevice& d) { d.set_rx(bandwidth, bitrate, modulation, btr); });
}

KORVIK_API void KORVIK_CALL libkorvik_set_tx(korvik_device* dev, double deviation, double bitrate, int modulation)
{
    with_device_void(dev, [=](USBDevice& d) { d.set_tx(deviation, bitrate, modulation); });
}

} // extern "C"
