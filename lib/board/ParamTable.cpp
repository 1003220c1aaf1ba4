#include "board/ParamTable.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <unordered_map>

#include "board/EvUSBBoard.h"
#include "board/ScratchBoard.h"
#include "model/ChipModels.h"
#include "model/GreyfinModel.h"
#include "model/common/PatternMatchModel.h"

namespace KORVIK {

namespace {

using Get = std::function<ParamValue(EvUSBBoard&)>;
using Set = std::function<void(EvUSBBoard&, const ParamValue&)>;

ParamValue number(double v)
{
    ParamValue p;
    p.number = v;
    return p;
}

ParamValue text(const std::string& s)
{
    ParamValue p;
    p.text = s;
    p.is_text = true;
    return p;
}

GreyfinModel& model(EvUSBBoard& b)
{
    GreyfinModel* m = b.get_model();
    if (!m)
        throw std::invalid_argument("the board has no chip model");
    return *m;
}

bool has_model(EvUSBBoard& b)
{
    return b.get_model() != nullptr;
}

bool receives(EvUSBBoard& b)
{
    return b.get_chipflags() & CHIP_RECEIVE;
}

bool transmits(EvUSBBoard& b)
{
    return b.get_chipflags() & CHIP_TRANSMIT;
}

bool always(EvUSBBoard&)
{
    return true;
}

// The chips with a programmable preamble pattern are the pattern-matching ones.
bool has_preamble(EvUSBBoard& b)
{
    return dynamic_cast<PatternMatchModel*>(b.get_model()) != nullptr;
}

bool has_crc(EvUSBBoard& b)
{
    return has_model(b) && !model(b).get_supported_crcmodes().empty();
}

std::function<bool(EvUSBBoard&)> has_encoding(unsigned bit)
{
    return [bit](EvUSBBoard& b) { return has_model(b) && (model(b).get_supported_encodingmodes() & bit); };
}

bool parse_address(const ParamValue& v, uint8_t out[6])
{
    if (!parse_param_address(v.text, out))
        throw std::invalid_argument("'" + v.text + "' is not an address such as 40:00:12:34:56:00");
    return true;
}

unsigned as_unsigned(const ParamValue& v)
{
    return unsigned(std::llround(v.number));
}

const double BIG = 1e12;
const double UNSIGNED_MAX = 4294967295.0;

ParamInfo info(const char* name, const char* unit, ParamKind kind, ParamScope scope, bool writable,
               const char* notification, const char* help)
{
    return ParamInfo{name, unit, kind, scope, 0, writable, false, false, false, notification, help};
}

ParamInfo whole(ParamInfo i, bool hex = false)
{
    i.whole = true;
    i.hex = hex;
    return i;
}

// A chip-model quantity with getter, setter and signal of one name.
#define MODEL_QUANTITY(name, unit, scope, avail, lo, hi, help)                                                  \
    ParamRow { info(#name, unit, ParamKind::quantity, ParamScope::scope, true, #name, help), lo, hi,             \
               [](EvUSBBoard& b) { return number(model(b).get_##name()); },                                     \
               [](EvUSBBoard& b, const ParamValue& v) { model(b).set_##name(v.number); }, nullptr, avail,       \
               [](EvUSBBoard& b) -> sigc::signal<void()>* {                                                     \
                   return b.get_model() ? &b.get_model()->signal_changed_##name : nullptr;                      \
               } }
#define MODEL_CHOICE(name, list, scope, avail, help)                                                            \
    ParamRow { info(#name, "", ParamKind::choice, ParamScope::scope, true, #name, help), 0, 255,                  \
               [](EvUSBBoard& b) { return number(model(b).get_##name()); },                                     \
               [](EvUSBBoard& b, const ParamValue& v) { model(b).set_##name(int(std::lround(v.number))); },      \
               [](EvUSBBoard& b) { return model(b).list(); }, avail,                                            \
               [](EvUSBBoard& b) -> sigc::signal<void()>* {                                                     \
                   return b.get_model() ? &b.get_model()->signal_changed_##name : nullptr;                      \
               } }
#define MODEL_FLAG(name, bit, help)                                                                             \
    ParamRow { info(#name, "", ParamKind::flag, ParamScope::chip, true, #name, help), 0, 1,                       \
               [](EvUSBBoard& b) { return number(model(b).get_##name() ? 1 : 0); },                             \
               [](EvUSBBoard& b, const ParamValue& v) { model(b).set_##name(v.number != 0); }, nullptr,          \
               has_encoding(bit),                                                                               \
               [](EvUSBBoard& b) -> sigc::signal<void()>* {                                                     \
                   return b.get_model() ? &b.get_model()->signal_changed_##name : nullptr;                      \
               } }
// A value the chip derives: read only, no notification of its own.
#define MODEL_DERIVED(name, unit, scope, avail, help)                                                           \
    ParamRow { whole(info(#name, unit, ParamKind::quantity, ParamScope::scope, false, nullptr, help)), 0, 0,      \
               [](EvUSBBoard& b) { return number(double(model(b).get_##name())); }, nullptr, nullptr, avail,    \
               nullptr }
#define BOARD_SIGNAL(name) [](EvUSBBoard& b) -> sigc::signal<void()>* { return &b.signal_changed_##name; }
#define BOARD_QUANTITY(name, unit, lo, hi, help)                                                                \
    ParamRow { info(#name, unit, ParamKind::quantity, ParamScope::board, true, #name, help), lo, hi,             \
               [](EvUSBBoard& b) { return number(double(b.get_##name())); },                                    \
               [](EvUSBBoard& b, const ParamValue& v) { b.set_##name(v.number); }, nullptr, always,              \
               BOARD_SIGNAL(name) }
#define BOARD_BYTE(name, hi, help)                                                                              \
    ParamRow { whole(info(#name, "byte", ParamKind::quantity, ParamScope::board, true, #name, help)), 0, hi,      \
               [](EvUSBBoard& b) { return number(double(b.get_##name())); },                                    \
               [](EvUSBBoard& b, const ParamValue& v) { b.set_##name(uint8_t(as_unsigned(v))); }, nullptr,       \
               always, BOARD_SIGNAL(name) }
#define BOARD_FLAG(name, help)                                                                                  \
    ParamRow { info(#name, "", ParamKind::flag, ParamScope::board, true, #name, help), 0, 1,                      \
               [](EvUSBBoard& b) { return number(b.get_##name() ? 1 : 0); },                                    \
               [](EvUSBBoard& b, const ParamValue& v) { b.set_##name(v.number != 0); }, nullptr, always,         \
               BOARD_SIGNAL(name) }
#define BOARD_ADDRESS(name, help)                                                                               \
    ParamRow { info(#name, "", ParamKind::address, ParamScope::board, true, #name, help), 0, 0,                   \
               [](EvUSBBoard& b) {                                                                              \
                   uint8_t a[6];                                                                                \
                   b.get_##name(a);                                                                             \
                   return text(format_param_address(a));                                                        \
               },                                                                                               \
               [](EvUSBBoard& b, const ParamValue& v) {                                                         \
                   uint8_t a[6];                                                                                \
                   parse_address(v, a);                                                                         \
                   b.set_##name(a);                                                                             \
               },                                                                                               \
               nullptr, always, BOARD_SIGNAL(name) }
#define NV_ADDRESS(name, getter, setter, help)                                                                  \
    ParamRow { info(#name, "", ParamKind::address, ParamScope::board, true, #name, help), 0, 0,                   \
               [](EvUSBBoard& b) { return text(format_param_address(b.getter())); },                            \
               [](EvUSBBoard& b, const ParamValue& v) {                                                         \
                   uint8_t a[6];                                                                                \
                   parse_address(v, a);                                                                         \
                   b.setter(a);                                                                                 \
               },                                                                                               \
               nullptr, always, BOARD_SIGNAL(name) }

ParamRow levels_row(ParamRow r)
{
    r.info.levels = true;
    return r;
}

ParamRow whole_row(ParamRow r, bool hex = false)
{
    r.info = whole(r.info, hex);
    return r;
}

std::vector<ParamRow> make_rows()
{
    std::vector<ParamRow> rows = {
        MODEL_QUANTITY(rx_carrierfrequency, "Hz", rx, receives, -BIG, BIG, "receive carrier frequency"),
        MODEL_QUANTITY(tx_carrierfrequency, "Hz", tx, transmits, -BIG, BIG, "transmit carrier frequency"),
        MODEL_CHOICE(rx_modulation, get_supported_modulations, rx, receives, "receive modulation"),
        MODEL_CHOICE(tx_modulation, get_supported_modulations, tx, transmits, "transmit modulation"),
        MODEL_QUANTITY(rx_bandwidth, "Hz", rx, receives, -BIG, BIG, "receiver bandwidth"),
        MODEL_QUANTITY(tx_deviation, "Hz", tx, transmits, -BIG, BIG, "transmit frequency deviation"),
        MODEL_QUANTITY(rx_bitrate, "bit/s", rx, receives, -BIG, BIG, "receive bitrate"),
        MODEL_QUANTITY(tx_bitrate, "bit/s", tx, transmits, -BIG, BIG, "transmit bitrate"),
        MODEL_CHOICE(rx_btr, get_supported_rx_btr_settings, rx, receives, "receive bit-timing recovery"),
        MODEL_DERIVED(rx_btr_preamble, "bit", rx, receives, "preamble bits the bit-timing recovery needs"),
        levels_row(MODEL_QUANTITY(tx_power, "dBm", tx, transmits, -1000, 1000,
                                  "transmit power (one of the levels the chip has)")),
        MODEL_QUANTITY(iffrequency, "Hz", rx, receives, -BIG, BIG, "intermediate frequency"),
        ParamRow{info("rx_maxfrequencyoffset", "Hz", ParamKind::quantity, ParamScope::rx, false, nullptr,
                      "largest carrier offset the receiver tolerates"),
                 0, 0, [](EvUSBBoard& b) { return number(model(b).get_rx_maxfrequencyoffset()); }, nullptr, nullptr,
                 receives, nullptr},
        ParamRow{whole(info("rx_range", "", ParamKind::quantity, ParamScope::rx, true, nullptr, "receive VCO range")),
                 0, 15, [](EvUSBBoard& b) { return number(model(b).get_rx_range()); },
                 [](EvUSBBoard& b, const ParamValue& v) { model(b).set_rx_range(as_unsigned(v)); }, nullptr, receives,
                 nullptr},
        ParamRow{whole(info("tx_range", "", ParamKind::quantity, ParamScope::tx, true, nullptr, "transmit VCO range")),
                 0, 15, [](EvUSBBoard& b) { return number(model(b).get_tx_range()); },
                 [](EvUSBBoard& b, const ParamValue& v) { model(b).set_tx_range(as_unsigned(v)); }, nullptr,
                 transmits, nullptr},
        // 0xFFFFFFFF would select the 16 MHz default rather than the largest crystal
        whole_row(ParamRow{info("xtal_frequency", "Hz", ParamKind::quantity, ParamScope::host, true, "xtal_frequency",
                                "crystal frequency"),
                           0, UNSIGNED_MAX - 1, [](EvUSBBoard& b) { return number(model(b).get_xtal_frequency()); },
                           [](EvUSBBoard& b, const ParamValue& v) { model(b).set_xtal_frequency(as_unsigned(v)); },
                           nullptr, has_model,
                           [](EvUSBBoard& b) -> sigc::signal<void()>* {
                               return b.get_model() ? &b.get_model()->signal_changed_xtal_frequency : nullptr;
                           }}),
        MODEL_QUANTITY(xtal_tolerance, "ppm", host, has_model, 0, 1000000, "crystal tolerance"),
        MODEL_CHOICE(framingmode, get_supported_framingmodes, chip, has_model, "framing"),
        MODEL_FLAG(enc_invert, ENC_INVERT, "bit inversion"),
        MODEL_FLAG(enc_diff, ENC_DIFF, "differential encoding"),
        MODEL_FLAG(enc_scrambler, ENC_SCRAMBLER, "scrambler"),
        MODEL_FLAG(enc_manchester, ENC_MANCHESTER, "Manchester encoding"),
        MODEL_CHOICE(crcmode, get_supported_crcmodes, chip, has_crc, "CRC"),
        whole_row(ParamRow{info("crcinit", "", ParamKind::quantity, ParamScope::chip, true, "crcinit", "CRC initial value"),
                           0, UNSIGNED_MAX, [](EvUSBBoard& b) { return number(model(b).get_crcinit()); },
                           [](EvUSBBoard& b, const ParamValue& v) { model(b).set_crcinit(as_unsigned(v)); }, nullptr,
                           has_crc,
                           [](EvUSBBoard& b) -> sigc::signal<void()>* {
                               return b.get_model() ? &b.get_model()->signal_changed_crcinit : nullptr;
                           }},
                  true),
        MODEL_DERIVED(crclength, "byte", chip, has_crc, "CRC length (0: no CRC)"),
        whole_row(ParamRow{info("preamble", "", ParamKind::quantity, ParamScope::chip, true, "preamble", "preamble pattern"),
                           0, UNSIGNED_MAX, [](EvUSBBoard& b) { return number(model(b).get_preamble()); },
                           [](EvUSBBoard& b, const ParamValue& v) { model(b).set_preamble(as_unsigned(v)); }, nullptr,
                           has_preamble,
                           [](EvUSBBoard& b) -> sigc::signal<void()>* {
                               return b.get_model() ? &b.get_model()->signal_changed_preamble : nullptr;
                           }},
                  true),
        whole_row(ParamRow{info("preamble_length", "bit", ParamKind::quantity, ParamScope::chip, true, "preamble_length",
                                "preamble length"),
                           0, UNSIGNED_MAX, [](EvUSBBoard& b) { return number(model(b).get_preamble_length()); },
                           [](EvUSBBoard& b, const ParamValue& v) { model(b).set_preamble_length(as_unsigned(v)); },
                           nullptr, has_preamble,
                           [](EvUSBBoard& b) -> sigc::signal<void()>* {
                               return b.get_model() ? &b.get_model()->signal_changed_preamble_length : nullptr;
                           }}),
        whole_row(MODEL_DERIVED(txkeyup, "", tx, transmits, "byte sent while the transmitter keys up"), true),
        MODEL_DERIVED(txkeyup_length, "bit", tx, transmits, "key-up length"),
        MODEL_DERIVED(postamble_length, "bit", chip, has_model, "postamble length"),
        ParamRow{info("chacc_channelaccessmode", "", ParamKind::choice, ParamScope::board, true,
                      "chacc_channelaccessmode", "channel access"),
                 0, 255, [](EvUSBBoard& b) { return number(b.get_chacc_channelaccessmode()); },
                 [](EvUSBBoard& b, const ParamValue& v) { b.set_chacc_channelaccessmode(int(std::lround(v.number))); },
                 [](EvUSBBoard& b) { return b.get_chacc_supported_channelaccessmodes(); }, always,
                 BOARD_SIGNAL(chacc_channelaccessmode)},
        BOARD_QUANTITY(chacc_ppersistence, "", -BIG, BIG, "p-persistence, 0 to 1"),
        BOARD_QUANTITY(chacc_slottime, "s", -BIG, BIG, "slot time"),
        BOARD_QUANTITY(chacc_rssithreshold, "dBm", -BIG, BIG, "RSSI threshold"),
        whole_row(BOARD_QUANTITY(chacc_bgndthreshold, "", -BIG, BIG, "background-noise threshold")),
        BOARD_BYTE(chacc_preamble, 255, "channel-access preamble"),
        BOARD_BYTE(chacc_addrlength, 255, "address length"),
        BOARD_FLAG(chacc_addrmatch1, "match received packets against address 1"),
        BOARD_FLAG(chacc_addrmatch2, "match received packets against address 2"),
        BOARD_ADDRESS(chacc_addr1, "match address 1"),
        BOARD_ADDRESS(chacc_addr2, "match address 2"),
        ParamRow{info("nv_serial", "", ParamKind::text, ParamScope::board, true, "nv_serial", "serial number to store"),
                 0, NV_SERIAL_CHARS, [](EvUSBBoard& b) { return text(b.get_nv_serial()); },
                 [](EvUSBBoard& b, const ParamValue& v) { b.set_nv_serial(v.text); }, nullptr, always,
                 BOARD_SIGNAL(nv_serial)},
        NV_ADDRESS(nv_ethmac, get_nv_ethernet_mac, set_nv_ethmac, "adapter MAC to store"),
        NV_ADDRESS(nv_radio_ethmac, get_nv_radio_ethernet_mac, set_nv_radio_ethmac,
                   "radio MAC to store (default packet destination)"),
    };
    // which chips have each parameter, asked of each chip's model
    for (const ChipModelEntry& chip : chip_models()) {
        if (!chip.model_factory)
            continue;
        ScratchBoard probe(chip.name);
        const std::string name = chip.name;
        const unsigned bit = name == "RC1200" ? unsigned(PARAM_RC1200) : name == "RC1400" ? unsigned(PARAM_RC1400)
                           : name == "RC1100" ? unsigned(PARAM_RC1100) : name == "RC1300" ? unsigned(PARAM_RC1300) : 0u;
        for (ParamRow& r : rows)
            if (r.available(probe) && (r.info.kind != ParamKind::choice || !r.choices(probe).empty()))
                r.info.chips |= bit;
    }
    return rows;
}

#undef MODEL_QUANTITY
#undef MODEL_CHOICE
#undef MODEL_FLAG
#undef MODEL_DERIVED
#undef BOARD_SIGNAL
#undef BOARD_QUANTITY
#undef BOARD_BYTE
#undef BOARD_FLAG
#undef BOARD_ADDRESS
#undef NV_ADDRESS

std::string fold(const std::string& s)
{
    std::string out;
    for (char c : s)
        if (std::isalnum(static_cast<unsigned char>(c)))
            out += char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string num(double v)
{
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.10g", v);
    return buf;
}

std::string with_unit(double v, const ParamInfo& i)
{
    return i.unit[0] ? num(v) + " " + i.unit : num(v);
}

// Values that differ by less than this are the same value: the getters
// work in doubles through register words.
bool same(double a, double b)
{
    return std::fabs(a - b) <= 1e-9 * std::max({1.0, std::fabs(a), std::fabs(b)});
}

bool same_value(const ParamValue& a, const ParamValue& b)
{
    return a.is_text || b.is_text ? a.text == b.text && a.is_text == b.is_text : same(a.number, b.number);
}

bool is_numeric(const ParamInfo& i)
{
    return i.kind == ParamKind::quantity || i.kind == ParamKind::choice || i.kind == ParamKind::flag;
}

} // namespace

const std::vector<ParamRow>& param_rows()
{
    static const std::vector<ParamRow> rows = make_rows();
    return rows;
}

const std::vector<ParamInfo>& param_infos()
{
    static const std::vector<ParamInfo> infos = [] {
        std::vector<ParamInfo> v;
        for (const ParamRow& r : param_rows())
            v.push_back(r.info);
        return v;
    }();
    return infos;
}

const ParamRow* find_param_row(const std::string& name)
{
    // every named call looks its row up, some twice
    static const std::unordered_map<std::string, const ParamRow*> by_name = [] {
        std::unordered_map<std::string, const ParamRow*> m;
        for (const ParamRow& r : param_rows())
            m.emplace(r.info.name, &r);
        return m;
    }();
    auto it = by_name.find(name);
    return it == by_name.end() ? nullptr : it->second;
}

std::string format_param_address(const uint8_t* mac)
{
    // by hand: transactions format every address row twice
    static const char digits[] = "0123456789ABCDEF";
    char buf[17];
    for (unsigned i = 0; i < 6; ++i) {
        buf[3 * i] = digits[mac[i] >> 4];
        buf[3 * i + 1] = digits[mac[i] & 15];
        if (i < 5)
            buf[3 * i + 2] = ':';
    }
    return std::string(buf, sizeof buf);
}

bool parse_param_address(const std::string& text, uint8_t out[6])
{
    unsigned n = 0;
    int high = -1;
    for (char c : text) {
        if (c == ':' || c == '-' || c == ' ') {
            if (high >= 0)
                return false; // a separator splits a byte
            continue;
        }
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
        const int d = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::tolower(c) - 'a' + 10;
        if (high < 0) {
            high = d;
            continue;
        }
        if (n == 6)
            return false;
        out[n++] = uint8_t(high << 4 | d);
        high = -1;
    }
    return n == 6 && high < 0;
}

// ---------------------------------------------------------------- ParamAccess

ParamAccess::ParamAccess(EvUSBBoard& b) : board(b) {}

ParamAccess::~ParamAccess() = default;

const ParamRow& ParamAccess::row(const std::string& name) const
{
    const ParamRow* r = find_param_row(name);
    if (!r)
        throw std::invalid_argument("unknown parameter '" + name + "'");
    if (!r->available(board) || (r->choices && r->choices(board).empty()))
        throw std::invalid_argument(name + " does not apply to this board's chip");
    return *r;
}

bool ParamAccess::has(const std::string& name) const
{
    const ParamRow* r = find_param_row(name);
    if (r && present_known)
        return present_flags[size_t(r - param_rows().data())] != 0;
    return r && r->available(board) && (!r->choices || !r->choices(board).empty());
}

ParamValue ParamAccess::get(const std::string& name) const
{
    return row(name).get(board);
}

void ParamAccess::set(const std::string& name, const ParamValue& value)
{
    const ParamRow& r = row(name);
    if (!r.set)
        throw std::invalid_argument(name + " is read-only");
    ParamValue v = value;
    if (is_numeric(r.info) && !v.is_text) {
        if (std::isnan(v.number))
            throw std::invalid_argument(name + ": not a number");
        v.number = std::clamp(v.number, r.lo, r.hi);
    }
    r.set(board, v);
}

const std::vector<const ParamRow*>& ParamAccess::find_present()
{
    const std::vector<ParamRow>& all = param_rows();
    present_flags.assign(all.size(), 0);
    for (size_t k = 0; k < all.size(); ++k)
        if (has(all[k].info.name)) {
            present_rows.push_back(&all[k]);
            present_flags[k] = int(present_rows.size());
        }
    present_known = true;
    return present_rows;
}

bool ParamAccess::HostState::operator==(const HostState& o) const
{
    return std::memcmp(&chacc, &o.chacc, sizeof chacc) == 0 && std::memcmp(&nv_chacc, &o.nv_chacc, sizeof nv_chacc) == 0 &&
           nv_serial == o.nv_serial && std::memcmp(nv_ethernet_mac, o.nv_ethernet_mac, 6) == 0 &&
           std::memcmp(nv_radio_ethernet_mac, o.nv_radio_ethernet_mac, 6) == 0;
}

ParamAccess::HostState ParamAccess::host_of(const EvUSBBoard& b)
{
    HostState h;
    h.chacc = b.get_chacc_params();
    h.nv_chacc = b.get_nv_chacc_params();
    h.nv_serial = b.get_nv_serial();
    std::memcpy(h.nv_ethernet_mac, b.get_nv_ethernet_mac(), 6);
    std::memcpy(h.nv_radio_ethernet_mac, b.get_nv_radio_ethernet_mac(), 6);
    return h;
}

bool ParamAccess::same_host(const HostState& h, const EvUSBBoard& b)
{
    const ChannelAccessParams &chacc = b.get_chacc_params(), &nv_chacc = b.get_nv_chacc_params();
    return std::memcmp(&h.chacc, &chacc, sizeof chacc) == 0 && std::memcmp(&h.nv_chacc, &nv_chacc, sizeof nv_chacc) == 0 &&
           h.nv_serial == b.get_nv_serial() && std::memcmp(h.nv_ethernet_mac, b.get_nv_ethernet_mac(), 6) == 0 &&
           std::memcmp(h.nv_radio_ethernet_mac, b.get_nv_radio_ethernet_mac(), 6) == 0;
}

namespace {

// Stops a model's read recording however the getter ends.
struct RecordReads {
    const GreyfinModel* m;
    RecordReads(const GreyfinModel* model, uint64_t* set, uint64_t* overwritten = nullptr) : m(model)
    {
        if (m)
            m->record_reads(set, overwritten);
    }
    ~RecordReads()
    {
        if (m)
            m->record_reads(nullptr);
    }
};

} // namespace

namespace {

void in_table_order(std::vector<ParamChange>& changes)
{
    std::stable_sort(changes.begin(), changes.end(), [](const ParamChange& a, const ParamChange& b) {
        return find_param_row(a.name) < find_param_row(b.name);
    });
}

} // namespace

ParamValue ParamAccess::read_row(size_t k, EvUSBBoard& s)
{
    std::fill(row_reads.begin(), row_reads.end(), 0);
    ParamValue v;
    {
        RecordReads rec(dep_words ? s.get_model() : nullptr, row_reads.data());
        v = present_rows[k]->get(s);
    }
    // the row leaves the readers of the registers it read before, and joins
    // those of the registers it read now (refresh ignores readers beyond 64 rows)
    uint64_t* old = deps.data() + k * dep_words;
    const uint64_t row_bit = uint64_t(1) << (k & 63);
    for (size_t w = 0; w < dep_words; ++w) {
        for (uint64_t b = old[w] & ~row_reads[w]; b; b &= b - 1)
            readers[w * 64 + size_t(__builtin_ctzll(b))] &= ~row_bit;
        for (uint64_t b = row_reads[w] & ~old[w]; b; b &= b - 1)
            readers[w * 64 + size_t(__builtin_ctzll(b))] |= row_bit;
        old[w] = row_reads[w];
    }
    return v;
}

void ParamAccess::refresh(EvUSBBoard& s, const ParamRow* self, std::vector<ParamChange>* effects, bool host_may_move)
{
    const std::vector<const ParamRow*>& rows = present();
    GreyfinModel* m = s.get_model();
    auto keep_crystal = [&] {
        if (m) {
            values_xtal_frequency = m->get_xtal_frequency();
            values_xtal_tolerance = m->get_xtal_tolerance();
        }
    };
    // the values follow one model: the copy's, or the board's after a trial in place
    if (!values_known || (m ? m->get_serial() : 0) != values_serial) {
        values_serial = m ? m->get_serial() : 0;
        dep_words = m ? (m->get_registers() + 63) / 64 : 0;
        row_reads.assign(dep_words, 0);
        readers.assign(dep_words * 64, 0);
        deps.assign(rows.size() * dep_words, 0);
        moved.assign(dep_words, 0);
        values_writes = m ? m->write_count() : 0;
        values.resize(rows.size());
        board_rows.clear();
        chip_rows.clear();
        for (size_t k = 0; k < rows.size(); ++k) {
            values[k] = read_row(k, s);
            (rows[k]->info.scope == ParamScope::board ? board_rows : chip_rows).push_back(k);
        }
        values_host = host_of(s);
        keep_crystal();
        values_known = true;
        return;
    }
    const bool host_moved = host_may_move && !same_host(values_host, s);
    // the crystal is no register: when it moves, every chip row may have
    const bool crystal_moved = m && (m->get_xtal_frequency() != values_xtal_frequency ||
                                     m->get_xtal_tolerance() != values_xtal_tolerance);
    bool all_chip_rows = crystal_moved;
    const bool written = m && m->write_count() != values_writes;
    if (written)
        std::fill(moved.begin(), moved.end(), 0);
    if (written && !crystal_moved)
        all_chip_rows = !m->registers_written_since(values_writes, moved.data(), false);
    if (m)
        values_writes = m->write_count();
    // the rows that read a moved register (one bit per row: beyond 64
    // rows, a move reads them all)
    uint64_t hit = 0;
    for (size_t w = 0; w < dep_words && written; ++w)
        for (uint64_t b = moved[w]; b; b &= b - 1)
            hit |= rows.size() > 64 ? ~uint64_t(0) : readers[w * 64 + size_t(__builtin_ctzll(b))];
    if (hit && rows.size() > 64)
        all_chip_rows = true;
    if (!host_moved && !all_chip_rows && !hit)
        return;
    const bool chip_moved = all_chip_rows || hit;
    auto reread = [&](size_t k) {
        ParamValue now = read_row(k, s);
        if (effects && rows[k] != self && !same_value(values[k], now))
            effects->push_back({rows[k]->info.name, values[k], now});
        // kept exact even when the move is below what counts as a change:
        // a fresh read would start from it
        values[k] = std::move(now);
    };
    // board rows read the host settings only, the others the chip model only
    if (host_moved)
        for (size_t k : board_rows)
            reread(k);
    if (all_chip_rows)
        for (size_t k : chip_rows)
            reread(k);
    else
        for (; hit; hit &= hit - 1)
            reread(size_t(__builtin_ctzll(hit)));
    if (effects && effects->size() > 1 && host_moved && chip_moved)
        in_table_order(*effects); // as a full pass would list them
    if (host_moved)
        values_host = host_of(s);
    if (crystal_moved)
        keep_crystal();
}

bool ParamAccess::in_place(const ParamRow& r)
{
    // The rows with a change signal of the chip's own are its model's
    // setters: they set chip values and nothing else, and their change is
    // announced by the commit. The VCO ranges commit at once, the crystal
    // and the board rows are no chip values.
    return r.info.scope != ParamScope::board && r.info.scope != ParamScope::host && r.info.notification;
}

size_t ParamAccess::self_at(const ParamRow& r) const
{
    static const ParamRow* const first = param_rows().data();
    return size_t(present_flags[size_t(&r - first)] - 1);
}

void ParamAccess::merge_changes(std::vector<ParamChange>& into, std::vector<ParamChange>&& later)
{
    for (ParamChange& c : later) {
        auto it = std::find_if(into.begin(), into.end(), [&](const ParamChange& e) { return e.name == c.name; });
        if (it == into.end())
            into.push_back(std::move(c));
        else
            it->after = std::move(c.after);
    }
    // moved and moved back: no change
    into.erase(std::remove_if(into.begin(), into.end(),
                              [](const ParamChange& e) { return same_value(e.before, e.after); }),
               into.end());
    in_table_order(into);
}

ScratchBoard& ParamAccess::synced_scratch()
{
    follow(copies(), board, scratch_follows);
    return *scratch;
}

ScratchBoard& ParamAccess::copies()
{
    GreyfinModel* m = board.get_model();
    // the chip is asked only when the board's model is another than last time
    if (!scratch || !m || m->get_serial() != scratch_for_model) {
        const std::string chip = m ? m->get_chip_name() : std::string();
        if (!scratch || (scratch->get_model() ? scratch->get_model()->get_chip_name() : std::string()) != chip) {
            scratch = std::make_unique<ScratchBoard>(chip);
            probe_board = std::make_unique<ScratchBoard>(chip);
            values_known = false;
        }
        scratch_for_model = m ? m->get_serial() : 0;
    }
    return *scratch;
}

void ParamAccess::follow(ScratchBoard& to, const EvUSBBoard& from, Following& f)
{
    const GreyfinModel* src = from.get_model();
    const GreyfinModel* dst = to.get_model();
    bool known = src && dst && f.from_serial == src->get_serial() && f.own_serial == dst->get_serial() &&
                 src->get_xtal_frequency() == dst->get_xtal_frequency();
    if (known) {
        to_copy.assign((src->get_registers() + 63) / 64, 0);
        known = src->registers_written_since(f.from_writes, to_copy.data()) &&
                dst->registers_written_since(f.own_writes, to_copy.data());
    }
    // usually a few registers moved on either side since the last copy
    to.copy_settings(from, known ? to_copy.data() : nullptr);
    if (src && dst)
        f = {src->get_serial(), src->write_count(), dst->get_serial(), dst->write_count()};
}

double ParamAccess::probe(const ParamRow& row, EvUSBBoard& state, double value)
{
    follow(*probe_board, state, probe_follows);
    ParamValue v;
    v.number = std::clamp(value, row.lo, row.hi);
    row.set(*probe_board, v);
    return row.get(*probe_board).number;
}

namespace {

// A register as a probe reads it: its chip value and, for a change mask,
// what differs from the committed value.
uint16_t register_input(const GreyfinModel& m, unsigned i)
{
    return uint16_t(m.get_register_chipvalue(i) | m.get_register_changemask(i) << 8);
}

} // namespace

double ParamAccess::edge(const ParamRow& row, EvUSBBoard& state, bool high)
{
    const GreyfinModel* m = state.get_model();
    Edge& e = edges[high];
    // board rows' setters read host settings, which no register tells of
    const bool keep = m && row.info.scope != ParamScope::board;
    if (keep && e.row == &row && e.serial == m->get_serial() && e.xtal_frequency == m->get_xtal_frequency() &&
        e.xtal_tolerance == m->get_xtal_tolerance()) {
        // the probe's inputs as they were: the same edge (writes of other
        // registers, or of the same values, change nothing)
        bool moved = false;
        for (const auto& in : e.inputs)
            moved = moved || register_input(*m, in.first) != in.second;
        if (!moved)
            return e.value;
    }
    follow(*probe_board, state, probe_follows);
    ParamValue v;
    v.number = high ? row.hi : row.lo;
    e.row = nullptr;
    e.reads.assign(keep ? (m->get_registers() + 63) / 64 : 0, 0);
    overwritten.assign(e.reads.size(), 0);
    {
        RecordReads rec(keep ? probe_board->get_model() : nullptr, e.reads.data(), overwritten.data());
        row.set(*probe_board, v);
        e.value = row.get(*probe_board).number;
    }
    if (keep) {
        e.row = &row;
        e.serial = m->get_serial();
        e.inputs.clear();
        for (size_t w = 0; w < e.reads.size(); ++w)
            for (uint64_t b = e.reads[w]; b; b &= b - 1) {
                const unsigned i = unsigned(w * 64 + size_t(__builtin_ctzll(b)));
                e.inputs.push_back({i, register_input(*m, i)});
            }
        e.xtal_frequency = m->get_xtal_frequency();
        e.xtal_tolerance = m->get_xtal_tolerance();
    }
    return e.value;
}

double ParamAccess::local_step(const ParamRow& row, EvUSBBoard& state, double at, double min, double max,
                               int direction)
{
    // ever larger moves until the value the chip holds changes; the first
    // change is the neighbouring value (a move below one step cannot pass it)
    const double scale = std::max(std::fabs(at), 1.0);
    for (double d = scale * 1e-10; d < scale * 4 + (max - min); d *= 2) {
        const double asked = at + direction * d;
        if (asked > max + d || asked < min - d)
            break;
        const double v = probe(row, state, asked);
        if (!same(v, at) && (v - at) * direction > 0)
            return std::fabs(v - at);
    }
    return 0;
}

std::vector<double> ParamAccess::levels_on(const ParamRow& row, EvUSBBoard& state)
{
    // from the lowest level up, one chip step at a time, until the registers stop moving
    follow(*probe_board, state, probe_follows);
    ParamValue low;
    low.number = row.lo;
    row.set(*probe_board, low);
    GreyfinModel& m = model(*probe_board);
    std::vector<double> levels;
    for (int i = 0; i < 64; ++i) {
        levels.push_back(row.get(*probe_board).number);
        std::vector<uint8_t> before(m.get_registers());
        for (unsigned r = 0; r < before.size(); ++r)
            before[r] = m.get_register_chipvalue(r);
        m.step_tx_power(1);
        bool moved = false;
        for (unsigned r = 0; r < before.size() && !moved; ++r)
            moved = before[r] != m.get_register_chipvalue(r);
        if (!moved)
            break;
    }
    std::sort(levels.begin(), levels.end());
    levels.erase(std::unique(levels.begin(), levels.end(), [](double a, double b) { return same(a, b); }),
                 levels.end());
    return levels;
}

ParamLimits ParamAccess::limits_on(const ParamRow& row, EvUSBBoard& state, bool with_step)
{
    ParamLimits l;
    switch (row.info.kind) {
    case ParamKind::quantity: {
        if (!row.set) {
            l.min = l.max = row.get(state).number;
            break;
        }
        if (row.info.levels) {
            l.levels = levels_on(row, state);
            l.min = l.levels.front();
            l.max = l.levels.back();
            const double now = row.get(state).number;
            for (double v : l.levels)
                if (v > now && !same(v, now)) {
                    l.step = v - now;
                    break;
                }
            break;
        }
        l.min = probe(row, state, row.lo);
        l.max = probe(row, state, row.hi);
        if (row.info.whole) {
            l.step = 1;
            break;
        }
        if (!with_step)
            break;
        const double now = row.get(state).number;
        l.step = local_step(row, state, now, l.min, l.max, same(now, l.max) ? -1 : 1);
        break;
    }
    case ParamKind::choice:
        for (const std::string& c : row.choices(state))
            l.choices.push_back(c);
        l.min = 0;
        l.max = double(l.choices.size()) - 1;
        l.step = 1;
        break;
    case ParamKind::flag:
        l.min = 0;
        l.max = 1;
        l.step = 1;
        break;
    case ParamKind::address:
        break;
    case ParamKind::text:
        l.max = row.hi;
        break;
    }
    return l;
}

ParamLimits ParamAccess::limits(const std::string& name)
{
    const ParamRow& r = row(name);
    return limits_on(r, synced_scratch());
}

ParamValue ParamAccess::achieved(const std::string& name, const ParamValue& value)
{
    const ParamRow& r = row(name);
    if (!r.set)
        throw std::invalid_argument(name + " is read-only");
    ScratchBoard& s = synced_scratch();
    follow(*probe_board, s, probe_follows);
    ParamValue v = value;
    if (is_numeric(r.info) && !v.is_text)
        v.number = std::clamp(v.number, r.lo, r.hi);
    r.set(*probe_board, v);
    return r.get(*probe_board);
}

namespace {

std::string list_levels(const std::vector<double>& levels, const ParamInfo& i)
{
    std::string s;
    for (size_t k = 0; k < levels.size(); ++k)
        s += (k ? (k + 1 == levels.size() ? " and " : ", ") : "") + num(levels[k]);
    return i.unit[0] ? s + " " + i.unit : s;
}

} // namespace

ParamReport ParamAccess::apply(const std::vector<ParamAssignment>& assignments, ParamPolicy policy, Mode mode)
{
    // one report, filled in place: a tool or a form applies one value after another
    ParamReport report;
    apply_into(report, assignments, policy, mode);
    return report;
}

void ParamAccess::apply_into(ParamReport& report, const std::vector<ParamAssignment>& assignments, ParamPolicy policy,
                             Mode mode)
{
    using Step = ApplyStep;
    // the steps' room is kept between calls; a call from a slot during the
    // commit below gets its own
    std::vector<Step> own_steps;
    std::vector<Step>& steps = applying ? own_steps : step_room;
    steps.clear();
    struct Applying {
        bool& flag;
        const bool was;
        explicit Applying(bool& f) : flag(f), was(f) { flag = true; }
        ~Applying() { flag = was; }
    } applying_now(applying);
    auto refuse = [&](const std::string& name, const std::string& why) {
        report.accepted = false;
        report.refused = name;
        report.error = why;
        report.outcomes.clear();
    };

    // names, kinds and forms first: nothing is computed for a transaction
    // that names what the board does not have
    present();
    for (const ParamAssignment& a : assignments) {
        // a tool or a form sets one parameter again and again
        const ParamRow* r = a.name == last_name ? last_row : find_param_row(a.name);
        if (!r)
            return refuse(a.name, "unknown parameter '" + a.name + "'");
        if (r != last_row) {
            last_name = a.name;
            last_row = r;
        }
        if (!present_flags[size_t(r - param_rows().data())])
            return refuse(a.name, a.name + " does not apply to this board's chip");
        if (!r->set)
            return refuse(a.name, a.name + " is read-only");
        ParamValue v = a.value;
        switch (r->info.kind) {
        case ParamKind::choice:
            if (v.is_text) {
                int id = 0, found = -1;
                for (const std::string& c : r->choices(board)) {
                    if (fold(c) == fold(v.text))
                        found = id;
                    ++id;
                }
                if (found < 0) {
                    std::string names;
                    for (const std::string& c : r->choices(board))
                        names += (names.empty() ? "\"" : ", \"") + c + "\"";
                    return refuse(a.name, a.name + ": '" + v.text + "' is not one of " + names);
                }
                v = number(found);
            }
            break;
        case ParamKind::quantity:
        case ParamKind::flag:
            if (v.is_text)
                return refuse(a.name, a.name + " takes a number");
            if (!std::isfinite(v.number))
                return refuse(a.name, a.name + ": " + num(v.number) + " is not a value");
            break;
        case ParamKind::address: {
            uint8_t mac[6];
            if (!v.is_text || !parse_param_address(v.text, mac))
                return refuse(a.name, a.name + ": '" + v.text + "' is not an address such as 40:00:12:34:56:00");
            v = text(format_param_address(mac));
            break;
        }
        case ParamKind::text:
            if (!v.is_text)
                return refuse(a.name, a.name + " takes text");
            break;
        }
        steps.push_back({r, std::move(v)});
    }

    // every step in order, each from the state the ones before left: on the
    // board itself when each only sets chip values (taken back if refused,
    // and no commit comes between), otherwise on the copy
    GreyfinModel* const board_model = board.get_model();
    bool trial_in_place = mode != Mode::check && board_model;
    for (const Step& st : steps)
        trial_in_place = trial_in_place && in_place(*st.row);
    struct Trial {
        GreyfinModel* m;
        std::vector<GreyfinModel::ChipValueChange>& journal;
        Trial(GreyfinModel* model, std::vector<GreyfinModel::ChipValueChange>& j) : m(model), journal(j)
        {
            if (m) {
                journal.clear();
                m->journal_chip_values(&journal);
            }
        }
        /// Accepted: what the steps set stays.
        void keep()
        {
            if (m)
                m->journal_chip_values(nullptr);
            m = nullptr;
        }
        ~Trial()
        {
            if (!m)
                return;
            m->journal_chip_values(nullptr);
            // refused, or a setter threw: the board's chip values as they were
            m->undo_chip_values(journal);
        }
    } trial(trial_in_place ? board_model : nullptr, journal);
    if (trial_in_place)
        copies(); // the probes' copy, for the steps' range checks
    EvUSBBoard& s = trial_in_place ? board : static_cast<EvUSBBoard&>(synced_scratch());
    refresh(s, nullptr, nullptr);
    report.outcomes.reserve(steps.size());
    for (Step& st : steps) {
        const ParamRow& r = *st.row;
        const ParamInfo& i = r.info;
        ParamOutcome out;
        out.name = i.name;
        if (st.value.is_text)
            out.asked = st.value;
        else
            out.asked.number = st.value.number; // no text to copy

        bool clamped = false;
        ParamLimits l;
        bool limits_known = false;
        bool done = false; // already set on the copy
        bool set_early = false; // set once before the range check
        if (i.kind == ParamKind::quantity && !i.levels && !i.whole && r.set) {
            // set first: a value the chip holds (or rounds) needs no probe for
            // the range; only one on the far side of the value held does
            const double asked = st.value.number;
            r.set(s, number(std::clamp(asked, r.lo, r.hi)));
            // the row's value comes with the others the step may have moved
            refresh(s, &r, &out.side_effects, i.scope == ParamScope::board);
            const double got = values[self_at(r)].number;
            done = true;
            if (std::fabs(got - asked) > 1e-9 * std::max(1.0, std::fabs(got))) {
                const double edge = this->edge(r, s, asked > got);
                if ((asked > got ? asked - edge : edge - asked) > 1e-9 * std::max(1.0, std::fabs(edge))) {
                    l = limits_on(r, s, false);
                    limits_known = true;
                    done = false; // the range check below decides, and sets again
                    set_early = true;
                }
            }
        }
        if (is_numeric(i) && !done) {
            // the step only matters for a refusal's report
            if (!limits_known)
                l = limits_on(r, s, false);
            limits_known = true;
            const double asked = st.value.number;
            const double tol = 1e-9 * std::max({1.0, std::fabs(l.min), std::fabs(l.max)});
            if (asked < l.min - tol || asked > l.max + tol) {
                const double nearest = asked < l.min ? l.min : l.max;
                if (policy == ParamPolicy::strict || i.kind != ParamKind::quantity) {
                    report.nearest = nearest;
                    report.limits = limits_on(r, s);
                    if (i.kind == ParamKind::choice)
                        return refuse(i.name, std::string(i.name) + ": " + num(asked) + " is not a choice from 0 to " +
                                                  num(l.max));
                    if (i.kind == ParamKind::flag)
                        return refuse(i.name, std::string(i.name) + " takes 0 or 1");
                    if (!l.levels.empty())
                        return refuse(i.name, std::string(i.name) + ": " + with_unit(asked, i) +
                                                  " lies outside the levels " + list_levels(l.levels, i) +
                                                  "; the nearest is " + with_unit(nearest, i));
                    return refuse(i.name, std::string(i.name) + ": " + with_unit(asked, i) + " lies outside " +
                                              num(l.min) + " to " + with_unit(l.max, i) + "; the nearest is " +
                                              with_unit(nearest, i));
                }
                st.value.number = nearest;
                clamped = true;
            }
            if ((i.kind == ParamKind::choice || i.kind == ParamKind::flag || i.whole) &&
                std::fabs(st.value.number - std::round(st.value.number)) > 1e-9) {
                if (policy == ParamPolicy::strict && i.kind != ParamKind::quantity)
                    return refuse(i.name, std::string(i.name) + " takes a whole number");
                if (policy == ParamPolicy::strict)
                    return refuse(i.name, std::string(i.name) + ": " + num(asked) +
                                              " is not a whole number; the nearest is " + num(std::round(asked)));
                st.value.number = std::round(st.value.number);
            }
        } else if (i.kind == ParamKind::text && st.value.text.size() > size_t(r.hi)) {
            if (policy == ParamPolicy::strict)
                return refuse(i.name, std::string(i.name) + ": '" + st.value.text + "' is longer than " +
                                          num(r.hi) + " characters");
            st.value.text.resize(size_t(r.hi));
            clamped = true;
        }

        if (!done) {
            r.set(s, st.value);
            std::vector<ParamChange> effects;
            refresh(s, &r, &effects, i.scope == ParamScope::board);
            if (set_early)
                // from the state before the step, not the early setting
                merge_changes(out.side_effects, std::move(effects));
            else
                out.side_effects = std::move(effects);
        }
        out.achieved = values[self_at(r)];
        if (is_numeric(i)) {
            const double asked = out.asked.number, got = out.achieved.number;
            if (i.kind == ParamKind::quantity && !clamped && !same(got, asked) && !i.levels &&
                policy == ParamPolicy::strict && std::fabs(got - asked) > 1e-6 * std::max(1.0, std::fabs(asked))) {
                if (!limits_known)
                    l = limits_on(r, s, false);
                // between two values the chip holds: more than half a step off is refused
                const double step = local_step(r, s, got, l.min, l.max, asked > got ? 1 : -1);
                if (step > 0 && std::fabs(got - asked) > step / 2 * (1 + 1e-9)) {
                    report.limits = l;
                    report.limits.step = step;
                    const double other = got + (asked > got ? step : -step);
                    report.nearest = std::fabs(other - asked) < std::fabs(got - asked) ? other : got;
                    return refuse(i.name, std::string(i.name) + ": the chip cannot hold " + with_unit(asked, i) +
                                              "; the nearest is " + with_unit(report.nearest, i));
                }
            }
            out.clamped = clamped;
            out.rounded = !clamped && !same(got, asked);
            if (i.kind == ParamKind::quantity) {
                out.difference = got - asked;
                if ((std::strcmp(i.unit, "Hz") == 0 || std::strcmp(i.unit, "bit/s") == 0) && asked != 0) {
                    out.has_ppm = true;
                    out.ppm = out.difference / std::fabs(asked) * 1e6;
                }
            }
        } else {
            out.clamped = clamped;
        }
        report.outcomes.push_back(std::move(out));
    }

    report.accepted = true;
    if (mode == Mode::check)
        return;
    if (trial_in_place) {
        trial.keep();
    } else {
        // accepted: the same steps on the board
        for (const Step& st : steps)
            st.row->set(board, st.value);
    }
    const uint64_t before_commit = board_model ? board_model->write_count() : 0;
    if (board_model && mode == Mode::commit)
        board_model->commit_registers();
    // a trial in place already read the board; only a commit that moved
    // chip values (a retune's ranging) can have changed what it read
    if (trial_in_place && steps.size() == 1) {
        bool moved = false;
        if (board_model->write_count() != before_commit) {
            moved_by_commit.resize((board_model->get_registers() + 63) / 64);
            std::fill(moved_by_commit.begin(), moved_by_commit.end(), 0);
            moved = !board_model->registers_written_since(before_commit, moved_by_commit.data(), false) ||
                    std::any_of(moved_by_commit.begin(), moved_by_commit.end(), [](uint64_t w) { return w != 0; });
        }
        if (!moved) {
            // the values read in the trial are the board's as committed
            if (values_writes == before_commit)
                values_writes = board_model->write_count();
            return;
        }
    }
    for (size_t k = 0; k < steps.size(); ++k)
        report.outcomes[k].achieved = steps[k].row->get(board);
}

} // namespace KORVIK
