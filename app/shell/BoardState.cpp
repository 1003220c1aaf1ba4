#include "shell/BoardState.h"

#include <cstring>

#include <korvik/USBDevice.h>

namespace {

std::array<unsigned char, 6> mac_of(const unsigned char* bytes)
{
    std::array<unsigned char, 6> mac {};
    if (bytes)
        std::memcpy(mac.data(), bytes, 6);
    return mac;
}

} // namespace

DeviceState DeviceState::of(KORVIK::USBDevice& d)
{
    DeviceState s;
    s.registers.resize(d.get_registers());
    for (unsigned int r = 0; r < s.registers.size(); ++r)
        s.registers[r] = d.get_register_chipvalue(r);
    s.xtal_frequency = d.get_xtal_frequency();
    s.xtal_tolerance = d.get_xtal_tolerance();
    s.chacc_mode = d.get_chacc_channelaccessmode();
    s.chacc_ppersistence = d.get_chacc_ppersistence();
    s.chacc_slottime = d.get_chacc_slottime();
    s.chacc_rssithreshold = d.get_chacc_rssithreshold();
    s.chacc_bgndthreshold = d.get_chacc_bgndthreshold();
    s.chacc_preamble = d.get_chacc_preamble();
    s.chacc_addrlength = d.get_chacc_addrlength();
    s.chacc_addrmatch1 = d.get_chacc_addrmatch1();
    s.chacc_addrmatch2 = d.get_chacc_addrmatch2();
    d.get_chacc_addr1(s.chacc_addr1.data());
    d.get_chacc_addr2(s.chacc_addr2.data());
    s.nv_serial = d.get_nv_serial();
    s.nv_ethmac = mac_of(d.get_nv_ethernet_mac());
    s.nv_radio_ethmac = mac_of(d.get_nv_radio_ethernet_mac());
    return s;
}

void DeviceState::restore(KORVIK::USBDevice& d) const
{
    // the crystal first: setting it recomputes registers, which are then
    // overwritten with the remembered ones
    if (d.get_xtal_frequency() != xtal_frequency)
        d.set_xtal_frequency(xtal_frequency);
    if (d.get_xtal_tolerance() != xtal_tolerance)
        d.set_xtal_tolerance(xtal_tolerance);
    for (unsigned int r = 0; r < registers.size() && r < d.get_registers(); ++r)
        d.set_register_chipvalue(r, registers[r]);
    d.commit_registers();

    const DeviceState now = of(d);
    if (now.chacc_mode != chacc_mode)
        d.set_chacc_channelaccessmode(chacc_mode);
    if (now.chacc_ppersistence != chacc_ppersistence)
        d.set_chacc_ppersistence(chacc_ppersistence);
    if (now.chacc_slottime != chacc_slottime)
        d.set_chacc_slottime(chacc_slottime);
    if (now.chacc_rssithreshold != chacc_rssithreshold)
        d.set_chacc_rssithreshold(chacc_rssithreshold);
    if (now.chacc_bgndthreshold != chacc_bgndthreshold)
        d.set_chacc_bgndthreshold(chacc_bgndthreshold);
    if (now.chacc_preamble != chacc_preamble)
        d.set_chacc_preamble(static_cast<unsigned char>(chacc_preamble));
    // the addresses before the matches: a match on an empty address is refused
    if (now.chacc_addrlength != chacc_addrlength)
        d.set_chacc_addrlength(static_cast<unsigned char>(chacc_addrlength));
    if (now.chacc_addr1 != chacc_addr1)
        d.set_chacc_addr1(chacc_addr1.data());
    if (now.chacc_addr2 != chacc_addr2)
        d.set_chacc_addr2(chacc_addr2.data());
    if (now.chacc_addrmatch1 != chacc_addrmatch1)
        d.set_chacc_addrmatch1(chacc_addrmatch1);
    if (now.chacc_addrmatch2 != chacc_addrmatch2)
        d.set_chacc_addrmatch2(chacc_addrmatch2);
    if (now.nv_serial != nv_serial)
        d.set_nv_serial(nv_serial);
    if (now.nv_ethmac != nv_ethmac)
        d.set_nv_ethmac(nv_ethmac.data());
    if (now.nv_radio_ethmac != nv_radio_ethmac)
        d.set_nv_radio_ethmac(nv_radio_ethmac.data());
}

bool DeviceState::operator==(const DeviceState& o) const
{
    return registers == o.registers && xtal_frequency == o.xtal_frequency && xtal_tolerance == o.xtal_tolerance
        && chacc_mode == o.chacc_mode && chacc_ppersistence == o.chacc_ppersistence && chacc_slottime == o.chacc_slottime
        && chacc_rssithreshold == o.chacc_rssithreshold && chacc_bgndthreshold == o.chacc_bgndthreshold
        && chacc_preamble == o.chacc_preamble && chacc_addrlength == o.chacc_addrlength
        && chacc_addrmatch1 == o.chacc_addrmatch1 && chacc_addrmatch2 == o.chacc_addrmatch2
        && chacc_addr1 == o.chacc_addr1 && chacc_addr2 == o.chacc_addr2 && nv_serial == o.nv_serial
        && nv_ethmac == o.nv_ethmac && nv_radio_ethmac == o.nv_radio_ethmac;
}
