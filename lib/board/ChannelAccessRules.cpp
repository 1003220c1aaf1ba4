#include "board/ChannelAccessRules.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace KORVIK {

namespace {

template <typename T>
bool store_if_changed(T& field, T value)
{
    if (field == value)
        return false;
    field = value;
    return true;
}

/// trunc(x) clamped to lo..hi; x must not be NaN.
int clamp_trunc(double x, int lo, int hi)
{
    if (x <= lo)
        return lo;
    if (x >= hi)
        return hi;
    return int(x);
}

} // namespace

bool ChannelAccessRules::set_mode(ChannelAccessParams& c, int mode)
{
    // one index per entry of the board's supported channel-access modes
    return store_if_changed(c.mode, uint8_t(std::clamp(mode, 0, 1)));
}

bool ChannelAccessRules::set_ppersistence(ChannelAccessParams& c, double p)
{
    return !std::isnan(p) && store_if_changed(c.ppersistence, uint8_t(clamp_trunc(p * 255.0, 0, 255)));
}

bool ChannelAccessRules::set_slottime(ChannelAccessParams& c, double seconds)
{
    return !std::isnan(seconds) && store_if_changed(c.slottime, uint8_t(clamp_trunc(seconds * 1000.0, 0, 255)));
}

bool ChannelAccessRules::set_rssithreshold(ChannelAccessParams& c, double dbm)
{
    return !std::isnan(dbm) && store_if_changed(c.rssithreshold, int8_t(clamp_trunc(dbm, -120, 0)));
}

bool ChannelAccessRules::set_bgndthreshold(ChannelAccessParams& c, double v)
{
    return !std::isnan(v) && store_if_changed(c.bgndthreshold, int8_t(clamp_trunc(v, -1, 63)));
}

bool ChannelAccessRules::set_preamble(ChannelAccessParams& c, uint8_t bytes)
{
    return store_if_changed(c.preamble, bytes);
}

bool ChannelAccessRules::set_addrlength(ChannelAccessParams& c, uint8_t n)
{
    return store_if_changed(c.addrlength, std::min<uint8_t>(n, 6));
}

bool ChannelAccessRules::drop_matches_if_empty(ChannelAccessParams& c)
{
    if (c.addrlength != 0 || (c.addrmatchflags & 3) == 0)
        return false;
    c.addrmatchflags &= uint8_t(~3u);
    return true;
}

bool ChannelAccessRules::set_addrmatch(ChannelAccessParams& c, unsigned which, bool on)
{
    uint8_t flags = c.addrmatchflags & uint8_t(~which);
    if (on && c.addrlength != 0)
        flags |= uint8_t(which);
    return store_if_changed(c.addrmatchflags, flags);
}

bool ChannelAccessRules::set_addr(uint8_t (&field)[6], const uint8_t* addr6)
{
    if (!addr6 || std::memcmp(field, addr6, 6) == 0)
        return false;
    std::memcpy(field, addr6, 6);
    return true;
}

} // namespace KORVIK
