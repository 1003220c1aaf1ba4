#include "Params.h"
#include "Suggest.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

#include <korvik/USBDevice.h>

namespace korvik_cli {

using KORVIK::USBDevice;

namespace {

// Choice names compare without case, blanks and punctuation: "ask shaped",
// "ASK-Shaped" and "ASK Shaped" are one.
std::string fold(const std::string& s)
{
    std::string out;
    for (char c : s)
        if (std::isalnum(static_cast<unsigned char>(c)))
            out += char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

Json choice_value(const std::list<std::string>& names, int id)
{
    if (id >= 0 && id < int(names.size()))
        return *std::next(names.begin(), id);
    return id;
}

Json mac_value(const unsigned char* mac)
{
    return format_mac(mac);
}

#define GETTER(expr) [](const USBDevice& d) -> Json { return expr; }
#define SETTER(stmt) [](USBDevice& d, const Json& v) { stmt; }
#define CHOICES(fn) [](const USBDevice& d) { return d.fn(); }

#define QUANTITY(name, unit, needs, help)                                                                   \
    Param { #name, Kind::Quantity, Unit::unit, needs, help, GETTER(d.get_##name()),                          \
            SETTER(d.set_##name(v.get<double>())), nullptr }
#define FLAG(name, needs, help)                                                                             \
    Param { #name, Kind::Bool, Unit::None, needs, help, GETTER(bool(d.get_##name())),                        \
            SETTER(d.set_##name(v.get<bool>())), nullptr }
// a match address: six bytes out of and into the board, colon text here
#define ADDRESS(name, help)                                                                                 \
    Param { #name, Kind::Mac, Unit::None, NEEDS_NOTHING, help,                                               \
            [](const USBDevice& d) -> Json {                                                                  \
                unsigned char a[6];                                                                           \
                d.get_##name(a);                                                                              \
                return mac_value(a);                                                                          \
            },                                                                                                \
            [](USBDevice& d, const Json& v) {                                                                 \
                unsigned char a[6];                                                                           \
                parse_mac(v.get<std::string>(), a);                                                           \
                d.set_##name(a);                                                                              \
            },                                                                                                \
            nullptr }
#define CHOICE(name, list, needs, help)                                                                     \
    Param { #name, Kind::Choice, Unit::None, needs, help,                                                    \
            GETTER(choice_value(d.list(), int(d.get_##name()))),                                             \
            SETTER(d.set_##name(v.get<int>())), CHOICES(list) }

std::vector<Param> make_params()
{
    return {
        QUANTITY(rx_carrierfrequency, Hz, NEEDS_RX, "receive carrier frequency"),
        QUANTITY(tx_carrierfrequency, Hz, NEEDS_TX, "transmit carrier frequency"),
        CHOICE(rx_modulation, get_supported_modulations, NEEDS_RX, "receive modulation"),
        CHOICE(tx_modulation, get_supported_modulations, NEEDS_TX, "transmit modulation"),
        QUANTITY(rx_bandwidth, Hz, NEEDS_RX, "receiver bandwidth"),
        QUANTITY(tx_deviation, Hz, NEEDS_TX, "transmit frequency deviation"),
        QUANTITY(rx_bitrate, BitRate, NEEDS_RX, "receive bitrate"),
        QUANTITY(tx_bitrate, BitRate, NEEDS_TX, "transmit bitrate"),
        CHOICE(rx_btr, get_supported_rx_btr_settings, NEEDS_RX, "receive bit-timing recovery"),
        Param{"rx_btr_preamble", Kind::Integer, Unit::None, NEEDS_RX,
              "preamble bits the bit-timing recovery needs", GETTER(d.get_rx_btr_preamble()), nullptr, nullptr},
        QUANTITY(tx_power, dBm, NEEDS_TX, "transmit power (the nearest level the chip has)"),
        QUANTITY(iffrequency, Hz, NEEDS_RX, "intermediate frequency"),
        Param{"rx_maxfrequencyoffset", Kind::Quantity, Unit::Hz, NEEDS_RX,
              "largest carrier offset the receiver tolerates", GETTER(d.get_rx_maxfrequencyoffset()), nullptr,
              nullptr},
        Param{"rx_range", Kind::Integer, Unit::None, NEEDS_RX, "receive VCO range", GETTER(d.get_rx_range()),
              SETTER(d.set_rx_range(v.get<unsigned>())), nullptr},
        Param{"tx_range", Kind::Integer, Unit::None, NEEDS_TX, "transmit VCO range", GETTER(d.get_tx_range()),
              SETTER(d.set_tx_range(v.get<unsigned>())), nullptr},
        Param{"xtal_frequency", Kind::Quantity, Unit::Hz, NEEDS_NOTHING, "crystal frequency",
              GETTER(d.get_xtal_frequency()),
              SETTER(d.set_xtal_frequency(unsigned(std::lround(std::clamp(v.get<double>(), 0.0, 4294967295.0))))),
              nullptr},
        QUANTITY(xtal_tolerance, ppm, NEEDS_NOTHING, "crystal tolerance"),
        CHOICE(framingmode, get_supported_framingmodes, NEEDS_NOTHING, "framing"),
        FLAG(enc_invert, NEEDS_NOTHING, "bit inversion"),
        FLAG(enc_diff, NEEDS_NOTHING, "differential encoding"),
        FLAG(enc_scrambler, NEEDS_NOTHING, "scrambler"),
        FLAG(enc_manchester, NEEDS_NOTHING, "Manchester encoding"),
        CHOICE(crcmode, get_supported_crcmodes, NEEDS_NOTHING, "CRC"),
        Param{"crcinit", Kind::Hex, Unit::None, NEEDS_NOTHING, "CRC initial value", GETTER(d.get_crcinit()),
              SETTER(d.set_crcinit(v.get<unsigned>())), nullptr},
        Param{"crclength", Kind::Integer, Unit::None, NEEDS_NOTHING, "CRC length in bytes (0: no CRC)",
              GETTER(d.get_crclength()), nullptr, nullptr},
        Param{"preamble", Kind::Hex, Unit::None, NEEDS_NOTHING, "preamble pattern", GETTER(d.get_preamble()),
              SETTER(d.set_preamble(v.get<unsigned>())), nullptr},
        Param{"preamble_length", Kind::Integer, Unit::None, NEEDS_NOTHING, "preamble length in bits",
              GETTER(d.get_preamble_length()), SETTER(d.set_preamble_length(v.get<unsigned>())), nullptr},
        Param{"txkeyup", Kind::Hex, Unit::None, NEEDS_TX, "byte sent while the transmitter keys up",
              GETTER(unsigned(d.get_txkeyup())), nullptr, nullptr},
        Param{"txkeyup_length", Kind::Integer, Unit::None, NEEDS_TX, "key-up length in bits",
              GETTER(d.get_txkeyup_length()), nullptr, nullptr},
        Param{"postamble_length", Kind::Integer, Unit::None, NEEDS_NOTHING, "postamble length in bits",
              GETTER(d.get_postamble_length()), nullptr, nullptr},
        CHOICE(chacc_channelaccessmode, get_chacc_supported_channelaccessmodes, NEEDS_NOTHING, "channel access"),
        Param{"chacc_ppersistence", Kind::Quantity, Unit::None, NEEDS_NOTHING, "p-persistence, 0 to 1",
              GETTER(d.get_chacc_ppersistence()), SETTER(d.set_chacc_ppersistence(v.get<double>())), nullptr},
        QUANTITY(chacc_slottime, Seconds, NEEDS_NOTHING, "slot time (1 ms steps)"),
        QUANTITY(chacc_rssithreshold, dBm, NEEDS_NOTHING, "RSSI threshold"),
        Param{"chacc_bgndthreshold", Kind::Quantity, Unit::None, NEEDS_NOTHING, "background-noise threshold, -1 to 63",
              GETTER(d.get_chacc_bgndthreshold()), SETTER(d.set_chacc_bgndthreshold(v.get<double>())), nullptr},
        Param{"chacc_preamble", Kind::Integer, Unit::None, NEEDS_NOTHING, "channel-access preamble in bytes",
              GETTER(d.get_chacc_preamble()), SETTER(d.set_chacc_preamble(v.get<unsigned char>())), nullptr, 255},
        Param{"chacc_addrlength", Kind::Integer, Unit::None, NEEDS_NOTHING, "address length in bytes, 0 to 6",
              GETTER(d.get_chacc_addrlength()), SETTER(d.set_chacc_addrlength(v.get<unsigned char>())), nullptr, 255},
        FLAG(chacc_addrmatch1, NEEDS_NOTHING, "match received packets against address 1"),
        FLAG(chacc_addrmatch2, NEEDS_NOTHING, "match received packets against address 2"),
        ADDRESS(chacc_addr1, "match address 1"),
        ADDRESS(chacc_addr2, "match address 2"),
        Param{"nv_serial", Kind::Text, Unit::None, NEEDS_NOTHING, "serial number to store",
              GETTER(d.get_nv_serial()), SETTER(d.set_nv_serial(v.get<std::string>())), nullptr},
        Param{"nv_ethmac", Kind::Mac, Unit::None, NEEDS_NOTHING, "adapter MAC to store",
              GETTER(mac_value(d.get_nv_ethernet_mac())),
              [](USBDevice& d, const Json& v) {
                  unsigned char a[6];
                  parse_mac(v.get<std::string>(), a);
                  d.set_nv_ethmac(a);
              },
              nullptr},
        Param{"nv_radiomac", Kind::Mac, Unit::None, NEEDS_NOTHING, "radio MAC to store (default packet destination)",
              GETTER(mac_value(d.get_nv_radio_ethernet_mac())),
              [](USBDevice& d, const Json& v) {
                  unsigned char a[6];
                  parse_mac(v.get<std::string>(), a);
                  d.set_nv_radio_ethmac(a);
              },
              nullptr},
    };
}

#undef GETTER
#undef SETTER
#undef CHOICES
#undef QUANTITY
#undef FLAG
#undef CHOICE
#undef ADDRESS

} // namespace

const std::vector<Param>& params()
{
    static const std::vector<Param> table = make_params();
    return table;
}

const Param* find_param(const std::string& name)
{
    for (const Param& p : params())
        if (name == p.name)
            return &p;
    return nullptr;
}

bool param_available(const Param& p, const USBDevice& device)
{
    if ((device.get_chipflags() & p.needs) != p.needs)
        return false;
    return p.kind != Kind::Choice || !p.choices(device).empty();
}

Json parse_param_value(const Param& p, const USBDevice& device, const std::string& text)
{
    switch (p.kind) {
    case Kind::Quantity:
        return parse_quantity(text, p.unit);
    case Kind::Integer:
    case Kind::Hex:
        return parse_unsigned(text, p.max);
    case Kind::Bool:
        return parse_bool(text);
    case Kind::Choice: {
        const std::list<std::string> names = p.choices(device);
        const std::string wanted = fold(text);
        int id = 0;
        for (const std::string& n : names) {
            if (fold(n) == wanted)
                return id;
            ++id;
        }
        // the id itself is accepted too
        if (!text.empty() && std::all_of(text.begin(), text.end(), ::isdigit) && std::stoul(text) < names.size())
            return std::stoi(text);
        std::string accepted;
        for (const std::string& n : names)
            accepted += (accepted.empty() ? "" : ", ") + ("\"" + n + "\"");
        throw ValueError("'" + text + "'" + did_you_mean(text, {names.begin(), names.end()}) + " is not one of " +
                         accepted + " (or its number from 0)");
    }
    case Kind::Mac: {
        unsigned char mac[6];
        parse_mac(text, mac);
        return format_mac(mac);
    }
    case Kind::Text:
        return text;
    }
    return text;
}

std::string format_param_value(const Param& p, const Json& value)
{
    switch (p.kind) {
    case Kind::Quantity:
        return value.is_number() ? format_quantity(value.get<double>(), p.unit) : value.dump();
    case Kind::Hex: {
        char buf[32];
        std::snprintf(buf, sizeof buf, "0x%lx", value.get<unsigned long>());
        return buf;
    }
    case Kind::Bool:
        return value.get<bool>() ? "on" : "off";
    case Kind::Integer:
        return value.dump();
    case Kind::Choice:
    case Kind::Mac:
    case Kind::Text:
        return value.is_string() ? value.get<std::string>() : value.dump();
    }
    return value.dump();
}

std::string format_mac(const unsigned char* mac)
{
    char buf[18];
    std::snprintf(buf, sizeof buf, "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
    return buf;
}

void parse_mac(const std::string& text, unsigned char out[6])
{
    std::string bytes;
    try {
        bytes = parse_hex_data(text);
    } catch (const ValueError&) {
        bytes.clear();
    }
    if (bytes.size() != 6)
        throw ValueError("'" + text + "' is not a MAC address such as 40:00:12:34:56:00");
    std::copy(bytes.begin(), bytes.end(), out);
}

} // namespace korvik_cli
