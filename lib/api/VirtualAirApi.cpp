// The class interface's switches of the virtual air.

#include <korvik/USBDevice.h>

#include "board/VirtualAir.h"

namespace KORVIK {

void USBDevice::set_virtual_air(bool on)
{
    VirtualAir::instance().set_enabled(on);
}

bool USBDevice::is_virtual_air()
{
    return VirtualAir::instance().is_enabled();
}

void USBDevice::set_virtual_air_seed(unsigned seed)
{
    VirtualAir::instance().set_seed(seed);
}

void USBDevice::set_virtual_air_path_loss(double db)
{
    VirtualAir::instance().set_path_loss(db);
}

void USBDevice::set_virtual_air_path_loss(const std::string& interface_a, const std::string& interface_b, double db)
{
    VirtualAir::instance().set_path_loss(interface_a, interface_b, db);
}

} // namespace KORVIK
