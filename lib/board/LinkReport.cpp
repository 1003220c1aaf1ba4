#include "board/LinkReport.h"

#include <cmath>
#include <cstdio>
#include <list>
#include <string>

#include "board/AirSettings.h"
#include "board/EvUSBBoard.h"
#include "board/SimBoard.h"
#include "board/VirtualAir.h"
#include "model/GreyfinModel.h"

namespace KORVIK {

const LinkRule* LinkCheck::rule(const std::string& name) const
{
    for (const LinkRule& r : rules)
        if (r.name == name)
            return &r;
    return nullptr;
}

namespace {

std::string format(const char* fmt, double v)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, fmt, v);
    return buf;
}

std::string khz(double hz)
{
    return format("%.3f kHz", hz / 1e3);
}

std::string hz(double v)
{
    return format("%.0f Hz", v);
}

std::string bps(double v)
{
    return format("%.0f bit/s", v);
}

std::string hex(uint32_t v)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%X", unsigned(v));
    return buf;
}

std::string bytes_text(const uint8_t* p, unsigned n)
{
    std::string s;
    char buf[4];
    for (unsigned i = 0; i < n; ++i) {
        std::snprintf(buf, sizeof buf, i ? ":%02X" : "%02X", p[i]);
        s += buf;
    }
    return s;
}

const char* family_name(air::Family f)
{
    switch (f) {
    case air::Family::ASK: return "ASK";
    case air::Family::PSK: return "PSK";
    case air::Family::FSK: return "FSK";
    case air::Family::FSK4: return "4-FSK";
    case air::Family::NONE: break;
    }
    return "none";
}

const char* framing_name(air::Framing f)
{
    switch (f) {
    case air::Framing::HDLC: return "HDLC";
    case air::Framing::HDLC_FEC: return "HDLC FEC";
    case air::Framing::RAW: return "Raw";
    case air::Framing::RAW_SOFT: return "Raw Soft";
    case air::Framing::RAW_PREAMBLE_MATCH: return "Raw Preamble Match";
    case air::Framing::ZIGBEE_900: return "802.15.4 (900M)";
    case air::Framing::ZIGBEE_2G4: return "802.15.4 (2G4)";
    case air::Framing::WIREMODE: return "Synchronous Wiremode";
    case air::Framing::NONE: break;
    }
    return "none";
}

bool listed(const std::list<std::string>& names, const std::string& name)
{
    for (const std::string& n : names)
        if (n == name)
            return true;
    return false;
}

std::string quoted(const std::string& s)
{
    return "'" + s + "'";
}

// the modulations a chip lists in a family, by name
std::string modulations_in(GreyfinModel& m, air::Family family)
{
    std::string out;
    int id = 0;
    for (const std::string& name : m.get_supported_modulations()) {
        if (air::family_of(m, id++) == family)
            out += (out.empty() ? "" : ", ") + quoted(name);
    }
    return out;
}

std::string chip_of(EvUSBBoard& b)
{
    return b.get_model() ? b.get_model()->get_chip_name() : std::string("a board without chip");
}

const char* const ENCODING_PARAMS[4] = {"enc_invert", "enc_diff", "enc_scrambler", "enc_manchester"};

struct Builder {
    EvUSBBoard& txb;
    EvUSBBoard& rxb;
    const air::Emission& tx;
    const air::Reception& rx;
    const air::Evaluation& e;
    const LinkCheckOptions& options;

    LinkRule base(air::Rule r) const
    {
        LinkRule out;
        const air::RuleCheck& c = e[r];
        out.name = air::rule_name(r);
        out.applies = c.applies;
        out.ok = c.ok;
        return out;
    }

    LinkRule transmitter() const
    {
        LinkRule r = base(air::Rule::TRANSMITTER);
        r.detail = chip_of(txb) + (tx.can_transmit ? " transmits" : " cannot transmit");
        if (!r.ok)
            r.fix = "send from a board that can transmit (RC1200, RC1300 or RC1100)";
        return r;
    }

    LinkRule receiver() const
    {
        LinkRule r = base(air::Rule::RECEIVER);
        if (rx.transmitting_cw) {
            r.detail = chip_of(rxb) + " is sending a continuous wave";
            r.fix = "switch the receiver's continuous wave off";
        } else {
            const bool can = rxb.get_model() && (rxb.get_model()->get_chipflags() & 1);
            r.detail = chip_of(rxb) + (can ? " receives" : " cannot receive");
            if (!r.ok)
                r.fix = "listen with a board that can receive (RC1200, RC1300 or RC1400)";
        }
        return r;
    }

    LinkRule carrier() const
    {
        LinkRule r = base(air::Rule::CARRIER);
        const air::RuleCheck& c = e[air::Rule::CARRIER];
        r.unit = "kHz";
        r.margin = c.margin / 1e3;
        const double nominal = tx.nominal_carrier - rx.nominal_carrier;
        const double ppm = rx.nominal_carrier > 0 ? 1e6 / rx.nominal_carrier : 0;
        r.detail = "transmit " + hz(tx.nominal_carrier) + ", receive " + hz(rx.nominal_carrier) + ": difference " +
                   khz(nominal) + " (" + format("%.1f ppm", nominal * ppm) + "); crystal tolerances " +
                   format("%g", tx.xtal_tolerance) + " + " + format("%g ppm", rx.xtal_tolerance) + " = " +
                   khz(e.crystal_allowance) + " at worst; " +
                   (known ? "with the air's crystal errors " : "counted at worst ") + khz(c.value) +
                   " against the window of " + khz(c.limit) + " (half the receive bandwidth), margin " +
                   khz(c.margin) + " (" + format("%.1f ppm", c.margin * ppm) + ")";
        if (r.ok)
            return r;
        // what remains of the difference once the carriers are set equal
        const double crystals =
            known ? std::fabs((tx.carrier - tx.nominal_carrier) - (rx.carrier - rx.nominal_carrier))
                  : e.crystal_allowance;
        if (std::fabs(nominal) > 0.5) {
            r.fix = "set rx_carrierfrequency to " + hz(tx.nominal_carrier) + " (or tx_carrierfrequency to " +
                    hz(rx.nominal_carrier) + ")";
            if (!(crystals <= c.limit))
                r.fix += ", and widen rx_bandwidth to at least " + hz(std::ceil(2 * crystals));
        } else {
            r.fix = "widen rx_bandwidth to at least " + hz(std::ceil(2 * c.value));
            if (!known)
                r.fix += " or use crystals of tighter tolerance (xtal_tolerance)";
        }
        return r;
    }

    LinkRule modulation() const
    {
        LinkRule r = base(air::Rule::MODULATION);
        r.detail = std::string("transmit family ") + family_name(tx.family) + ", receive family " +
                   family_name(rx.family);
        if (!r.ok) {
            GreyfinModel* rm = rxb.get_model();
            GreyfinModel* tm = txb.get_model();
            const std::string rx_choices = rm ? modulations_in(*rm, tx.family) : "";
            const std::string tx_choices = tm ? modulations_in(*tm, rx.family) : "";
            if (!rx_choices.empty())
                r.fix = "set rx_modulation to " + rx_choices;
            if (!tx_choices.empty())
                r.fix += std::string(r.fix.empty() ? "set" : ", or") + " tx_modulation to " + tx_choices;
            if (r.fix.empty())
                r.fix = "the two chips share no modulation family";
        }
        return r;
    }

    LinkRule bitrate() const
    {
        LinkRule r = base(air::Rule::BITRATE);
        const air::RuleCheck& c = e[air::Rule::BITRATE];
        r.unit = "%";
        r.margin = c.margin * 100;
        r.detail = "transmit " + bps(tx.bitrate) + ", receive " + bps(rx.bitrate) + ": off by " +
                   format("%.2f %%", c.value * 100) + " against " + format("%.0f %%", c.limit * 100) +
                   " (bit-timing recovery " + (rx.fast_btr ? "Fast" : "Normal") + ")";
        if (!r.ok) {
            r.fix = "set rx_bitrate to " + bps(tx.bitrate) + " (or tx_bitrate to " + bps(rx.bitrate) + ")";
            if (!rx.fast_btr && rx.bitrate > 0 &&
                std::fabs(tx.bitrate - rx.bitrate) <= air::BITRATE_TOLERANCE_FAST * rx.bitrate)
                r.fix = "set rx_bitrate to " + bps(tx.bitrate) + ", or rx_btr to Fast";
        }
        return r;
    }

    LinkRule framing() const
    {
        LinkRule r = base(air::Rule::FRAMING);
        const std::string tn = framing_name(tx.framing), rn = framing_name(rx.framing);
        r.detail = "transmit " + quoted(tn) + ", receive " + quoted(rn);
        if (!r.ok) {
            GreyfinModel* rm = rxb.get_model();
            GreyfinModel* tm = txb.get_model();
            if (rm && listed(rm->get_supported_framingmodes(), tn))
                r.fix = "set framingmode on the receiver to " + quoted(tn);
            if (tm && listed(tm->get_supported_framingmodes(), rn))
                r.fix += std::string(r.fix.empty() ? "set" : ", or") + " framingmode on the transmitter to " +
                         quoted(rn);
            if (r.fix.empty())
                r.fix = "choose a framing both chips list";
        }
        return r;
    }

    std::string crc_name(EvUSBBoard& b, int mode) const
    {
        if (mode < 0)
            return "none";
        int i = 0;
        if (b.get_model())
            for (const std::string& n : b.get_model()->get_supported_crcmodes())
                if (i++ == mode)
                    return n;
        return std::to_string(mode);
    }

    LinkRule crc() const
    {
        LinkRule r = base(air::Rule::CRC);
        if (!r.applies) {
            r.detail = "the framing carries no CRC";
            return r;
        }
        r.detail = "transmit " + quoted(crc_name(txb, tx.crc)) + " preset " + hex(tx.crcinit) + ", receive " +
                   quoted(crc_name(rxb, rx.crc)) + " preset " + hex(rx.crcinit);
        if (!r.ok) {
            if (tx.crc != rx.crc)
                r.fix = "set crcmode on the receiver to " + quoted(crc_name(txb, tx.crc));
            else
                r.fix = "set crcinit on the receiver to " + hex(tx.crcinit);
        }
        return r;
    }

    LinkRule encoding() const
    {
        LinkRule r = base(air::Rule::ENCODING);
        auto text = [](unsigned bits) {
            std::string s;
            for (unsigned i = 0; i < 4; ++i)
                if (bits & (1u << i))
                    s += (s.empty() ? "" : "+") + std::string(ENCODING_PARAMS[i] + 4);
            return s.empty() ? std::string("none") : s;
        };
        r.detail = "transmit " + text(tx.encoding) + ", receive " + text(rx.encoding);
        if (!r.ok) {
            std::string s;
            for (unsigned i = 0; i < 4; ++i) {
                const unsigned bit = 1u << i;
                if ((tx.encoding & bit) != (rx.encoding & bit))
                    s += (s.empty() ? "" : ", ") + std::string(ENCODING_PARAMS[i]) +
                         ((tx.encoding & bit) ? " on" : " off");
            }
            r.fix = "set " + s + " on the receiver (or the opposite on the transmitter)";
        }
        return r;
    }

    LinkRule sync() const
    {
        LinkRule r = base(air::Rule::SYNC);
        if (!r.applies) {
            r.detail = "no sync word outside preamble-match framing";
            return r;
        }
        r.detail = "transmit " + std::to_string(tx.sync_length) + "-bit sync word " + hex(tx.sync) + ", receive " +
                   std::to_string(rx.sync_length) + "-bit " + hex(rx.sync);
        if (!r.ok) {
            if (tx.sync_length != rx.sync_length)
                r.fix = "set preamble_length on the receiver to " + std::to_string(tx.sync_length) +
                        " and preamble to " + hex(tx.sync);
            else
                r.fix = "set preamble on the receiver to " + hex(tx.sync);
        }
        return r;
    }

    LinkRule address() const
    {
        LinkRule r = base(air::Rule::ADDRESS);
        const bool filter = rx.address_match && rx.addrlength > 0 && (rx.match_flags & 3);
        if (!filter) {
            r.applies = false;
            r.detail = "the receiver takes every address";
            return r;
        }
        r.applies = true;
        const unsigned n = std::min<unsigned>(rx.addrlength, 6);
        std::string wanted;
        if (rx.match_flags & 1)
            wanted = bytes_text(rx.addr1, n) + " (chacc_addr1)";
        if (rx.match_flags & 2)
            wanted += (wanted.empty() ? "" : " or ") + bytes_text(rx.addr2, n) + " (chacc_addr2)";
        r.detail = "the receiver takes only packets that begin with " + wanted;
        if (!options.data) {
            r.detail += "; no packet given, so this does not decide";
            return r;
        }
        r.detail += "; the packet begins with " + bytes_text(options.data, std::min(n, options.len));
        if (!r.ok)
            r.fix = "address the packet to " + wanted + ", set chacc_addr1 on the receiver to " +
                    bytes_text(options.data, std::min(n, options.len)) +
                    ", or switch address matching off (chacc_addrmatch1, chacc_addrmatch2)";
        return r;
    }

    bool known = false;
};

} // namespace

LinkCheck check_link(EvUSBBoard& txb, EvUSBBoard& rxb, const LinkCheckOptions& options)
{
    VirtualAir& air = VirtualAir::instance();
    auto* stx = dynamic_cast<SimBoard*>(&txb);
    auto* srx = dynamic_cast<SimBoard*>(&rxb);
    const bool known = stx && srx && air.is_enabled();
    const air::Emission tx = air::emission_of(txb, known ? air.crystal_error_ppm(stx) : 0.0);
    const air::Reception rx = air::reception_of(rxb, known ? air.crystal_error_ppm(srx) : 0.0);
    const air::Evaluation e = air::evaluate(tx, rx, options.data, options.len,
                                            known ? air::Crystal::ACTUAL : air::Crystal::WORST_CASE,
                                            options.data != nullptr);

    LinkCheck out;
    out.crystal_errors_known = known;
    out.carrier_difference = tx.carrier - rx.carrier;
    out.carrier_window = rx.bandwidth / 2;
    out.crystal_allowance = e.crystal_allowance;

    Builder b{txb, rxb, tx, rx, e, options};
    b.known = known;
    out.rules = {b.transmitter(), b.receiver(), b.carrier(), b.modulation(), b.bitrate(),
                 b.framing(),     b.crc(),      b.encoding(), b.sync(),      b.address()};

    // the budget: the same loss model as the air, at the receiver's settings
    out.tx_power = tx.power;
    out.path_loss = std::isfinite(options.path_loss) ? options.path_loss
                                                     : air.get_path_loss(txb.get_interface(), rxb.get_interface());
    out.level = out.tx_power - out.path_loss;
    const air::Family family = rx.family != air::Family::NONE ? rx.family : tx.family;
    const double bits = tx.head_bits + tx.tail_bits + 8.0 * options.packet_length;
    out.sensitivity = air::sensitivity(family, rx.bandwidth, rx.bitrate, bits, options.per);
    out.budget_margin = out.level - out.sensitivity;
    LinkRule budget;
    budget.name = "budget";
    budget.unit = "dB";
    budget.margin = out.budget_margin;
    budget.ok = out.budget_margin >= 0;
    budget.detail = format("transmit %.1f dBm", out.tx_power) + format(" - path loss %.1f dB", out.path_loss) +
                    format(" = %.1f dBm", out.level) + format(" against the sensitivity %.1f dBm", out.sensitivity) +
                    format(" (%g %% packet errors at ", options.per * 100) + std::to_string(options.packet_length) +
                    " bytes, " + family_name(family) + ", " + bps(rx.bitrate) + ")";
    if (!budget.ok)
        budget.fix = format("raise tx_power by %.1f dB or lower the path loss", -out.budget_margin) +
                     " (a lower bitrate also lowers the sensitivity)";
    out.rules.push_back(budget);

    out.works = true;
    for (const LinkRule& r : out.rules) {
        if (!r.ok) {
            out.works = false;
            out.cause = r.name;
            out.fix = r.fix;
            break;
        }
    }
    return out;
}

} // namespace KORVIK
