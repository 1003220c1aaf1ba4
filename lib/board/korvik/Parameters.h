#pragma once

// The board's parameters as data: one row per air, framing, channel-access
// and board parameter, named as the library's operations are
// (tx_carrierfrequency is get_tx_carrierfrequency / set_tx_carrierfrequency).
// KORVIK::USBDevice answers by name: value, range, step or levels, the value
// a request would give (all without writing to the board), and applies
// several values as one transaction with a report.

#include <string>
#include <vector>

namespace KORVIK {

/// What a parameter's value is.
enum class ParamKind {
    quantity, ///< a number in `unit` (SI base unit; whole numbers have `whole` set)
    choice,   ///< one of a list of names; the number is its position from 0
    flag,     ///< 0 or 1
    address,  ///< six bytes, written as text "40:00:12:34:56:00"
    text,     ///< text
};

/// Where a parameter lives.
enum class ParamScope {
    rx,    ///< the chip's receiver
    tx,    ///< the chip's transmitter
    chip,  ///< the chip, both directions (framing, encoding, CRC)
    board, ///< the board firmware (channel access, identity to store)
    host,  ///< only on the host, in the chip model (crystal data)
};

/// Chip bits of ParamInfo::chips.
enum ParamChips : unsigned {
    PARAM_RC1200 = 1,
    PARAM_RC1400 = 2,
    PARAM_RC1100 = 4,
    PARAM_RC1300 = 8,
    PARAM_ALL_CHIPS = 15,
};

/// One row of the table.
struct ParamInfo {
    const char* name;         ///< "tx_carrierfrequency"
    const char* unit;         ///< SI unit ("Hz", "bit/s", "s", "dBm", "ppm") or ""
    ParamKind kind;
    ParamScope scope;
    unsigned chips;           ///< ParamChips bits of the chips that have it
    bool writable;            ///< false for values the chip derives
    bool whole;               ///< a quantity that takes whole numbers only
    bool hex;                 ///< shown in hexadecimal by people-facing tools
    bool levels;              ///< the chip holds a few discrete levels (tx power)
    const char* notification; ///< change notification (notify_changed_<name>), or null
    const char* help;         ///< one line for people
};

/// A value: `number` for quantities, choices (position) and flags (0/1);
/// `text` for addresses and texts. A choice may also be given by name in
/// `text` with `is_text` set.
struct ParamValue {
    double number = 0;
    std::string text;
    bool is_text = false;
};

/// What a parameter can take now, on this board's chip and settings.
struct ParamLimits {
    double min = 0, max = 0; ///< quantities, choices (0..n-1), flags (0..1); texts: max is the length
    /// Spacing of the values the chip holds next to the present value (the
    /// step up from it); 0 where there is no steady spacing to tell.
    double step = 0;
    std::vector<double> levels;       ///< discrete levels, ascending (tx power)
    std::vector<std::string> choices; ///< names of a choice
};

enum class ParamPolicy {
    strict, ///< a value the chip cannot hold refuses the whole transaction
    clamp,  ///< values are clamped to the range and rounded to the chip's steps
};

/// A parameter that changed as a side effect of setting another.
struct ParamChange {
    std::string name;
    ParamValue before, after;
};

/// What one parameter of a transaction came to.
struct ParamOutcome {
    std::string name;
    ParamValue asked;
    ParamValue achieved;
    double difference = 0;  ///< achieved - asked (quantities), else 0
    double ppm = 0;         ///< difference in ppm of asked (frequencies and rates), else 0
    bool has_ppm = false;
    bool clamped = false;   ///< asked lay outside the range: set to its limit
    bool rounded = false;   ///< asked lay between the chip's steps or levels
    /// Every other parameter whose value this one changed, in table order.
    std::vector<ParamChange> side_effects;
};

/// A transaction's result. When `accepted` is false nothing was written and
/// `error` says which parameter was refused and why (its range or levels and
/// the nearest value the chip holds).
struct ParamReport {
    bool accepted = false;
    std::string error;
    std::string refused;   ///< name of the refused parameter
    double nearest = 0;    ///< nearest value the chip holds, for a refused quantity
    ParamLimits limits;    ///< what the refused parameter could take at its turn
    std::vector<ParamOutcome> outcomes;
};

/// One assignment of a transaction.
struct ParamAssignment {
    std::string name;
    ParamValue value;
};

} // namespace KORVIK
