// Opens a simulated RC1200 board and prints its identity and air parameters.
// Real boards appear the same way: see the connect subscription below.
#include <korvik/USBDevice.h>

#include <cstdio>
#include <memory>
#include <string>

namespace {

std::string mac_text(const unsigned char* mac)
{
    char text[18];
    std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2], mac[3], mac[4],
                  mac[5]);
    return text;
}

std::string name_at(const std::list<std::string>& names, int id)
{
    for (const std::string& name : names)
        if (id-- == 0)
            return name;
    return "?";
}

} // namespace

int main()
{
    using KORVIK::USBDevice;
    std::printf("korvik %s, chips:", USBDevice::get_version().c_str());
    for (const std::string& chip : USBDevice::get_supported_chips())
        std::printf(" %s", chip.c_str());
    std::printf("\n");

    // boards that are plugged in are reported before this call returns
    auto connection = USBDevice::notify_device_connect(
        sigc::slot<void(const std::string&, const std::string&)>([](const std::string& iface, const std::string& serial) {
            std::printf("board %s on %s\n", serial.c_str(), iface.c_str());
        }));

    std::unique_ptr<USBDevice> device(USBDevice::open_simulation("1234567", "Example board", "RC1200", "0012340A0B0C"));
    if (!device) {
        std::fprintf(stderr, "cannot start the library\n");
        return 1;
    }
    device->set_rx_carrierfrequency(868.3e6);
    device->set_tx_carrierfrequency(868.3e6);
    device->set_rx(0, 9600, 8, 0);
    device->set_tx(0, 9600, 8);
    device->commit_registers();
    USBDevice::periodic();

    std::printf("\n%s (%s) on %s, chip %s\n", device->get_display_name().c_str(), device->get_serial().c_str(),
                device->get_interface().c_str(), device->get_chip_name().c_str());
    std::printf("  MAC                %s, radio %s\n", mac_text(device->get_ethernet_mac()).c_str(),
                mac_text(device->get_radio_ethernet_mac()).c_str());
    std::printf("  crystal            %u Hz, %.2f ppm\n", device->get_xtal_frequency(), device->get_xtal_tolerance());
    std::printf("  rx carrier         %.3f MHz\n", device->get_rx_carrierfrequency() / 1e6);
    std::printf("  tx carrier         %.3f MHz\n", device->get_tx_carrierfrequency() / 1e6);
    std::printf("  rx modulation      %s\n", name_at(device->get_supported_modulations(), device->get_rx_modulation()).c_str());
    std::printf("  tx modulation      %s\n", name_at(device->get_supported_modulations(), device->get_tx_modulation()).c_str());
    std::printf("  rx bitrate         %.1f bit/s, bandwidth %.1f Hz\n", device->get_rx_bitrate(), device->get_rx_bandwidth());
    std::printf("  tx bitrate         %.1f bit/s, deviation %.1f Hz\n", device->get_tx_bitrate(), device->get_tx_deviation());
    std::printf("  tx power           %.1f dBm\n", device->get_tx_power());
    std::printf("  framing            %s\n", name_at(device->get_supported_framingmodes(), device->get_framingmode()).c_str());
    std::printf("  registers          %u, bitfields %u\n", device->get_registers(), device->get_bitfields());
    connection.disconnect();
    return 0;
}
