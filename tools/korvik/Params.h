#pragma once

// The library's parameter table as the tool shows it: `get`, `set`, `diff`,
// `params` and the JSON keys use its names, which follow the library's
// operations (tx_carrierfrequency is get_tx_carrierfrequency /
// set_tx_carrierfrequency). Nothing here lists parameters by hand.

#include <functional>
#include <list>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include <korvik/Parameters.h>

#include "Units.h"

namespace KORVIK {
class USBDevice;
}

namespace korvik_cli {

using Json = nlohmann::ordered_json;

enum class Kind {
    Quantity, ///< number in `unit` (SI in JSON)
    Integer,  ///< whole number
    Hex,      ///< whole number shown in hexadecimal
    Bool,
    Choice,   ///< one name of a list the device gives (the id is its position)
    Mac,      ///< six bytes as 40:00:12:34:56:00
    Text,
};

/// Chip capability a parameter needs (the chip flags: 1 receive, 2 transmit).
enum Needs : unsigned { NEEDS_NOTHING = 0, NEEDS_RX = 1, NEEDS_TX = 2 };

struct Param {
    const KORVIK::ParamInfo* info;
    const char* name;
    Kind kind;
    Unit unit;
    unsigned needs;
    const char* help;
    unsigned long max = 0xFFFFFFFFul; ///< largest Integer or Hex value

    /// The value as JSON: SI number, whole number, bool, choice name or text.
    Json get(const KORVIK::USBDevice& d) const;
    /// Names of a Choice parameter, in id order.
    std::list<std::string> choices(const KORVIK::USBDevice& d) const;
    bool read_only() const { return !info->writable; }
};

/// Scope name: "rx", "tx", "chip", "board", "host".
const char* scope_name(KORVIK::ParamScope scope);

/// The library's value for a JSON value of `get` or a parsed value (choices by position or name).
KORVIK::ParamValue to_param_value(const Param& p, const Json& value);

/// Earlier names of parameters, still accepted: "nv_radiomac" for "nv_radio_ethmac".
const char* param_alias_target(const std::string& name);

/// Every parameter, in the order `get` shows them.
const std::vector<Param>& params();

/// The parameter of that name, or null.
const Param* find_param(const std::string& name);

/// False when the chip cannot receive or transmit as the parameter needs, or
/// offers no choice for it (no CRC modes on a receive-only chip).
bool param_available(const Param& p, const KORVIK::USBDevice& device);

/// Reads a value typed by the user; throws ValueError saying what is accepted.
Json parse_param_value(const Param& p, const KORVIK::USBDevice& device, const std::string& text);

/// The value for people: with its unit, choices by name, whole numbers in hex where usual.
std::string format_param_value(const Param& p, const Json& value);

/// "40:00:12:34:56:00".
std::string format_mac(const unsigned char* mac);

/// Six bytes from "40:00:12:34:56:00" or "400012345600"; throws ValueError.
void parse_mac(const std::string& text, unsigned char out[6]);

} // namespace korvik_cli
