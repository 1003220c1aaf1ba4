// Flat interface: the virtual air between simulated boards.

#include "api/flat/FlatCommon.h"

#include <korvik/LinkTools.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <utility>

using namespace KORVIK;
using namespace KORVIK::flat;

extern "C" {

KORVIK_API void KORVIK_CALL libkorvik_set_virtual_air(int on)
{
    guard_void([&] { USBDevice::set_virtual_air(on != 0); });
}

KORVIK_API int KORVIK_CALL libkorvik_is_virtual_air(void)
{
    return guard(0, [] { return USBDevice::is_virtual_air() ? 1 : 0; });
}

KORVIK_API void KORVIK_CALL libkorvik_set_virtual_air_seed(unsigned seed)
{
    guard_void([&] { USBDevice::set_virtual_air_seed(seed); });
}

KORVIK_API void KORVIK_CALL libkorvik_set_virtual_air_path_loss(double db)
{
    guard_void([&] { USBDevice::set_virtual_air_path_loss(db); });
}

KORVIK_API void KORVIK_CALL libkorvik_set_virtual_air_pair_path_loss(const char* iface_a, const char* iface_b,
                                                                     double db)
{
    guard_void([&] {
        if (iface_a && iface_b)
            USBDevice::set_virtual_air_path_loss(iface_a, iface_b, db);
    });
}

} // extern "C"

// ---- simulated time and the link check ----

namespace {

void json_string(std::string& out, const std::string& s)
{
    out += '"';
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += char(c);
        }
    }
    out += '"';
}

void json_number(std::string& out, double v)
{
    if (!std::isfinite(v)) {
        out += "null";
        return;
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    out += buf;
}

std::string link_json(const LinkCheck& c)
{
    std::string o = "{\"works\":";
    o += c.works ? "true" : "false";
    o += ",\"cause\":";
    if (c.works)
        o += "null";
    else
        json_string(o, c.cause);
    o += ",\"fix\":";
    if (c.works)
        o += "null";
    else
        json_string(o, c.fix);
    o += ",\"crystal_errors_known\":";
    o += c.crystal_errors_known ? "true" : "false";
    const std::pair<const char*, double> numbers[] = {
        {"carrier_difference", c.carrier_difference}, {"carrier_window", c.carrier_window},
        {"crystal_allowance", c.crystal_allowance},   {"tx_power", c.tx_power},
        {"path_loss", c.path_loss},                   {"level", c.level},
        {"sensitivity", c.sensitivity},               {"budget_margin", c.budget_margin}};
    for (const auto& n : numbers) {
        o += ",\"";
        o += n.first;
        o += "\":";
        json_number(o, n.second);
    }
    o += ",\"rules\":[";
    bool first = true;
    for (const LinkRule& r : c.rules) {
        o += first ? "{" : ",{";
        first = false;
        o += "\"name\":";
        json_string(o, r.name);
        o += ",\"applies\":";
        o += r.applies ? "true" : "false";
        o += ",\"ok\":";
        o += r.ok ? "true" : "false";
        o += ",\"margin\":";
        json_number(o, r.margin);
        o += ",\"unit\":";
        json_string(o, r.unit);
        o += ",\"detail\":";
        json_string(o, r.detail);
        o += ",\"fix\":";
        if (r.fix.empty())
            o += "null";
        else
            json_string(o, r.fix);
        o += "}";
    }
    o += "]}";
    return o;
}

LinkCheckOptions link_options(const unsigned char* data, unsigned len, double path_loss)
{
    LinkCheckOptions o;
    o.data = data;
    o.len = data ? len : 0;
    o.path_loss = path_loss;
    return o;
}

} // namespace

extern "C" {

KORVIK_API void KORVIK_CALL libkorvik_set_virtual_air_fast(int on)
{
    guard_void([&] { KORVIK::set_virtual_air_fast(on != 0); });
}

KORVIK_API int KORVIK_CALL libkorvik_is_virtual_air_fast(void)
{
    return guard(0, [] { return KORVIK::is_virtual_air_fast() ? 1 : 0; });
}

KORVIK_API unsigned KORVIK_CALL libkorvik_get_virtual_air_in_flight(void)
{
    return guard(0u, [] { return KORVIK::get_virtual_air_in_flight(); });
}

KORVIK_API double KORVIK_CALL libkorvik_get_virtual_air_time(void)
{
    return guard(0.0, [] { return KORVIK::get_virtual_air_time(); });
}

KORVIK_API int KORVIK_CALL libkorvik_check_link(korvik_device* tx, korvik_device* rx, const unsigned char* data,
                                                unsigned len, double path_loss)
{
    if (!tx || tx->closed || !rx || rx->closed)
        return -1;
    return guard(-1, [&] {
        return KORVIK::check_link(tx->device, rx->device, link_options(data, len, path_loss)).works ? 1 : 0;
    });
}

KORVIK_API char* KORVIK_CALL libkorvik_check_link_json(korvik_device* tx, korvik_device* rx,
                                                      const unsigned char* data, unsigned len, double path_loss)
{
    if (!tx || tx->closed || !rx || rx->closed)
        return nullptr;
    return guard<char*>(nullptr, [&] {
        return dup_string(link_json(KORVIK::check_link(tx->device, rx->device, link_options(data, len, path_loss))));
    });
}

} // extern "C"
