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

Unit unit_of(const char* unit)
{
    const std::string u = unit;
    if (u == "Hz")
        return Unit::Hz;
    if (u == "bit/s")
        return Unit::BitRate;
    if (u == "s")
        return Unit::Seconds;
    if (u == "dBm")
        return Unit::dBm;
    if (u == "ppm")
        return Unit::ppm;
    return Unit::None;
}

Kind kind_of(const KORVIK::ParamInfo& i)
{
    switch (i.kind) {
    case KORVIK::ParamKind::quantity:
        return i.hex ? Kind::Hex : i.whole ? Kind::Integer : Kind::Quantity;
    case KORVIK::ParamKind::choice:
        return Kind::Choice;
    case KORVIK::ParamKind::flag:
        return Kind::Bool;
    case KORVIK::ParamKind::address:
        return Kind::Mac;
    case KORVIK::ParamKind::text:
        break;
    }
    return Kind::Text;
}

unsigned needs_of(KORVIK::ParamScope scope)
{
    return scope == KORVIK::ParamScope::rx ? NEEDS_RX : scope == KORVIK::ParamScope::tx ? NEEDS_TX : NEEDS_NOTHING;
}

std::vector<Param> make_params()
{
    std::vector<Param> list;
    for (const KORVIK::ParamInfo& i : USBDevice::get_param_table()) {
        Param p{&i, i.name, kind_of(i), unit_of(i.unit), needs_of(i.scope), i.help};
        // whole numbers the chip holds in a byte
        if (std::string(i.unit) == "byte" && i.writable)
            p.max = 255;
        list.push_back(p);
    }
    return list;
}

} // namespace

Json Param::get(const USBDevice& d) const
{
    const KORVIK::ParamValue v = d.get_param(name);
    switch (kind) {
    case Kind::Quantity:
        return v.number;
    case Kind::Integer:
    case Kind::Hex:
        return v.number < 0 ? Json(std::llround(v.number)) : Json(static_cast<unsigned long long>(std::llround(v.number)));
    case Kind::Bool:
        return v.number != 0;
    case Kind::Choice: {
        const std::list<std::string> names = choices(d);
        const long id = std::lround(v.number);
        if (id >= 0 && id < long(names.size()))
            return *std::next(names.begin(), id);
        return id;
    }
    case Kind::Mac:
    case Kind::Text:
        break;
    }
    return v.text;
}

std::list<std::string> Param::choices(const USBDevice& d) const
{
    const KORVIK::ParamLimits l = d.get_param_limits(name);
    return std::list<std::string>(l.choices.begin(), l.choices.end());
}

const char* scope_name(KORVIK::ParamScope scope)
{
    static const char* names[] = {"rx", "tx", "chip", "board", "host"};
    return names[int(scope)];
}

KORVIK::ParamValue to_param_value(const Param& p, const Json& value)
{
    KORVIK::ParamValue v;
    if (value.is_string()) {
        v.text = value.get<std::string>();
        v.is_text = true;
    } else if (value.is_boolean()) {
        v.number = value.get<bool>() ? 1 : 0;
    } else {
        v.number = value.get<double>();
    }
    (void)p;
    return v;
}

const char* param_alias_target(const std::string& name)
{
    if (name == "nv_radiomac")
        return "nv_radio_ethmac";
    return nullptr;
}

const std::vector<Param>& params()
{
    static const std::vector<Param> table = make_params();
    return table;
}

const Param* find_param(const std::string& name)
{
    const char* target = param_alias_target(name);
    for (const Param& p : params())
        if ((target ? target : name.c_str()) == std::string(p.name))
            return &p;
    return nullptr;
}

bool param_available(const Param& p, const USBDevice& device)
{
    return device.has_param(p.name);
}

Json parse_param_value(const Param& p, const USBDevice& device, const std::string& text)
{
    switch (p.kind) {
    case Kind::Quantity:
        return parse_quantity(text, p.unit);
    case Kind::Integer:
        // a whole number with a unit (the crystal in Hz) takes the unit's prefixes too
        if (p.unit != Unit::None) {
            const double v = parse_quantity(text, p.unit);
            if (!(v >= 0) || v != std::floor(v) || v > double(p.max))
                throw ValueError("'" + text + "' is not a whole number of " + unit_name(p.unit) + " from 0 to " +
                                 std::to_string(p.max));
            return static_cast<unsigned long>(v);
        }
        return parse_unsigned(text, p.max);
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
        if (!text.empty() && std::all_of(text.begin(), text.end(), ::isdigit) && text.size() < 9 &&
            std::stoul(text) < names.size())
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
        return value.is_number() && p.unit != Unit::None ? format_quantity(value.get<double>(), p.unit) : value.dump();
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
