// Flat interface: the virtual air between simulated boards.

#include "api/flat/FlatCommon.h"

using namespace KORVIK;
using namespace KORVIK::flat;

extern "C" {

KORVIK_API void KORVIK_CALL libkorvik_set_virtual_air(int on)
{
    guard_void([&] { USBDevice::set_virtual_air(on != 0); });
}

KORVIK_API int KORVIK_CALL libkorvik_is_virtual_air(void)
{
    return guard(0, [] { return USBDevice::is_virtual_air() ? 1 : 0; });
}

KORVIK_API void KORVIK_CALL libkorvik_set_virtual_air_seed(unsigned seed)
{
    guard_void([&] { USBDevice::set_virtual_air_seed(seed); });
}

KORVIK_API void KORVIK_CALL libkorvik_set_virtual_air_path_loss(double db)
{
    guard_void([&] { USBDevice::set_virtual_air_path_loss(db); });
}

KORVIK_API void KORVIK_CALL libkorvik_set_virtual_air_pair_path_loss(const char* iface_a, const char* iface_b,
                                                                     double db)
{
    guard_void([&] {
        if (iface_a && iface_b)
            USBDevice::set_virtual_air_path_loss(iface_a, iface_b, db);
    });
}

} // extern "C"
