// The public headers declare their change notifications from the shared list
// itself, so each listed name has its C++ and flat subscription by
// construction; what can still go wrong is a signature drifting or a
// released name leaving the list (and with it an exported symbol).

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <type_traits>

#include <korvik/ChangeList.h>
#include <korvik/USBDevice.h>
#include <korvik/korvik.h>

namespace {

using Notify = sigc::connection (KORVIK::USBDevice::*)(const sigc::slot<void()>&);
using SetCallback = void(KORVIK_CALL*)(korvik_device*, korvik_changed_fn, void*);

// every listed notification has both subscriptions with the released signatures
#define KORVIK_CHECK_SIGNATURES(name)                                                               \
    static_assert(std::is_same_v<decltype(&KORVIK::USBDevice::notify_changed_##name), Notify>, #name); \
    static_assert(std::is_same_v<decltype(&libkorvik_set_callback_changed_##name), SetCallback>, #name);
KORVIK_CHANGES(KORVIK_CHECK_SIGNATURES)
#undef KORVIK_CHECK_SIGNATURES

TEST(ChangeList, KeepsEveryReleasedNotification)
{
    std::set<std::string> listed;
#define KORVIK_LISTED(name) EXPECT_TRUE(listed.insert(#name).second) << #name " listed twice";
    KORVIK_CHANGES(KORVIK_LISTED)
#undef KORVIK_LISTED
    // programs link against these: the list may grow, never lose one
    const char* const released[] = {
        "nv_ethmac", "nv_radio_ethmac", "nv_serial", "chacc_channelaccessmode", "chacc_ppersistence",
        "chacc_slottime", "chacc_rssithreshold", "chacc_bgndthreshold", "chacc_preamble", "chacc_addrmatch1",
        "chacc_addrmatch2", "chacc_addrlength", "chacc_addr1", "chacc_addr2", "transmit_cw", "packetcounters",
        "xtal_frequency", "xtal_tolerance", "rx_modulation", "tx_modulation", "rx_carrierfrequency",
        "tx_carrierfrequency", "rx_bandwidth", "tx_deviation", "rx_bitrate", "tx_bitrate", "rx_btr", "tx_power",
        "iffrequency", "framingmode", "enc_invert", "enc_diff", "enc_scrambler", "enc_manchester", "crcmode",
        "crcinit", "preamble", "preamble_length"};
    for (const char* name : released)
        EXPECT_TRUE(listed.count(name)) << name << " left the list";
}

} // namespace
