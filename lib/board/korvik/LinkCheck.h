#pragma once

// Why a receiver does or does not hear a transmitter: every delivery rule of
// the virtual air with its margin, the link budget and a verdict
// (KORVIK::check_link). Plain records; the library fills them.

#include <limits>
#include <string>
#include <vector>

#include <korvik/Export.h>

namespace KORVIK {

/// One rule of the check.
struct KORVIK_API LinkRule {
    /// "transmitter", "receiver", "carrier", "modulation", "bitrate",
    /// "framing", "crc", "encoding", "sync", "address" or "budget".
    std::string name;
    /// False where there is nothing to compare (no CRC, no sync word, no address filter).
    bool applies = true;
    bool ok = true;
    /// How far the setting is inside its limit, in `unit` ("kHz" for the
    /// carrier, "%" of the receive bitrate, "dB" for the budget); NaN for
    /// rules that are only equal or not. Negative when the rule fails.
    double margin = std::numeric_limits<double>::quiet_NaN();
    std::string unit;
    /// What was compared, in words and numbers.
    std::string detail;
    /// What to change so the rule holds; empty when it holds.
    std::string fix;
};

/// Inputs of a check beyond the two boards.
struct KORVIK_API LinkCheckOptions {
    /// The packet's first bytes as the address filter sees them; null: the
    /// address rule says what packets must begin with but does not decide.
    const unsigned char* data = nullptr;
    unsigned len = 0;
    /// Path loss in dB for the budget; NaN: the virtual air's value for the pair.
    double path_loss = std::numeric_limits<double>::quiet_NaN();
    /// Data bytes per packet for the sensitivity (the budget's reference).
    unsigned packet_length = 32;
    /// Packet error rate at which the receiver counts as at its sensitivity.
    double per = 0.01;
};

struct KORVIK_API LinkCheck {
    /// Every rule holds and the budget reaches the sensitivity.
    bool works = false;
    /// The deciding rule's name (the first that fails); empty when it works.
    std::string cause;
    /// That rule's fix; empty when it works.
    std::string fix;
    /// The rules in the order they are asked, the budget last.
    std::vector<LinkRule> rules;
    /// True when the carriers carry each board's actual crystal error (two
    /// simulated boards on the virtual air); false: the worst case of both
    /// tolerances counts against the window.
    bool crystal_errors_known = false;
    double carrier_difference = 0;   ///< Hz, transmit minus receive carrier (with known errors)
    double carrier_window = 0;       ///< Hz, half the receive bandwidth
    double crystal_allowance = 0;    ///< Hz, both crystal tolerances at worst
    double tx_power = 0;             ///< dBm
    double path_loss = 0;            ///< dB
    double level = 0;                ///< dBm at the receiver: tx_power - path_loss
    double sensitivity = 0;          ///< dBm at which the packet error rate reaches `per`
    double budget_margin = 0;        ///< dB, level - sensitivity

    /// The rule of that name, or null.
    const LinkRule* rule(const std::string& name) const;
};

} // namespace KORVIK
