// The class interface's switches of the virtual air.

#include <korvik/LinkTools.h>
#include <korvik/USBDevice.h>

#include "board/LinkReport.h"
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

double get_virtual_air_path_loss(const std::string& interface_a, const std::string& interface_b)
{
    return VirtualAir::instance().get_path_loss(interface_a, interface_b);
}

void set_virtual_air_fast(bool on)
{
    VirtualAir::instance().set_fast(on);
}

bool is_virtual_air_fast()
{
    return VirtualAir::instance().is_fast();
}

unsigned get_virtual_air_in_flight()
{
    return unsigned(VirtualAir::instance().in_flight());
}

double get_virtual_air_time()
{
    return double(VirtualAir::instance().clock()) * 1e-6;
}

LinkCheck check_link(const USBDevice& tx, const USBDevice& rx, const LinkCheckOptions& options)
{
    return check_link(*tx.get_board(), *rx.get_board(), options);
}

} // namespace KORVIK
