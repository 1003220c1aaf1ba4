// Built against the installed headers and library only.
#include <korvik/USBDevice.h>

#include <cstdio>
#include <memory>

int main()
{
    if (KORVIK::USBDevice::get_version() != "V1.4")
        return 1;
    if (KORVIK::USBDevice::get_supported_chips().size() != 4)
        return 1;
    std::unique_ptr<KORVIK::USBDevice> device(
        KORVIK::USBDevice::open_simulation("4711", "installed", "RC1200", "0012340A0B0C"));
    if (!device || device->get_interface().compare(0, 3, "sim") != 0)
        return 1;
    std::printf("opened %s on %s\n", device->get_serial().c_str(), device->get_interface().c_str());
    return 0;
}
