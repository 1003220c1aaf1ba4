#pragma once

#include <array>
#include <string>
#include <vector>

namespace KORVIK {
class USBDevice;
}

// Everything a user can change on a board, so that any change can be undone:
// every register's value, the crystal data from which the chip model derives
// the air parameters, the channel-access block and the stored identity.
struct DeviceState {
    std::vector<unsigned char> registers;
    unsigned int xtal_frequency = 0;
    double xtal_tolerance = 0;

    int chacc_mode = 0;
    double chacc_ppersistence = 0, chacc_slottime = 0, chacc_rssithreshold = 0, chacc_bgndthreshold = 0;
    unsigned int chacc_preamble = 0, chacc_addrlength = 0;
    bool chacc_addrmatch1 = false, chacc_addrmatch2 = false;
    std::array<unsigned char, 6> chacc_addr1 {}, chacc_addr2 {};

    std::string nv_serial;
    std::array<unsigned char, 6> nv_ethmac {}, nv_radio_ethmac {};

    static DeviceState of(KORVIK::USBDevice& device);
    // Puts back what differs (each channel-access setter is an exchange with
    // the board) and commits the registers.
    void restore(KORVIK::USBDevice& device) const;
    bool operator==(const DeviceState& other) const;
    bool operator!=(const DeviceState& other) const { return !(*this == other); }
};
