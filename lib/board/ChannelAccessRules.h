#pragma once

#include <cstdint>

#include "board/ChannelAccessParams.h"

namespace KORVIK {

/// What the board allows in its channel-access block: each setter converts
/// from the interface's units, clamps to what the block can hold, stores the
/// value and says whether anything changed (nothing changes on NaN).
class ChannelAccessRules {
public:
    static bool set_mode(ChannelAccessParams& c, int mode);
    static bool set_ppersistence(ChannelAccessParams& c, double p);
    static bool set_slottime(ChannelAccessParams& c, double seconds);
    static bool set_rssithreshold(ChannelAccessParams& c, double dbm);
    static bool set_bgndthreshold(ChannelAccessParams& c, double v);
    static bool set_preamble(ChannelAccessParams& c, uint8_t bytes);
    static bool set_addrlength(ChannelAccessParams& c, uint8_t n);
    /// Matching an empty address makes no sense: clears both match bits when
    /// the length is 0; true when that changed them.
    static bool drop_matches_if_empty(ChannelAccessParams& c);
    /// which is 1 or 2; matching is refused while the address length is 0.
    static bool set_addrmatch(ChannelAccessParams& c, unsigned which, bool on);
    static bool set_addr(uint8_t (&field)[6], const uint8_t* addr6);
};

} // namespace KORVIK
