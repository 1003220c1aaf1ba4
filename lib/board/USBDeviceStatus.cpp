#include <korvik/USBDeviceStatus.h>

#include <cmath>

#include <glib.h>

namespace KORVIK {

USBDeviceStatus::USBDeviceStatus()
    : time_sec(0), time_usec(0), ticks(0), value1(0), value2(0), value3(0), progstate(0), progdetail(0), aux1(0),
      aux2(0), aux3(0), flag2(false), flag3(false), flag0(false), flag1(false), flag4(false), flag5(false),
      flag6(false), flag7(false)
{
    gint64 now = g_get_real_time();
    time_sec = int32_t(now / G_USEC_PER_SEC);
    time_usec = int32_t(now % G_USEC_PER_SEC);
}

USBDeviceCurrents::USBDeviceCurrents()
{
    for (double& v : values)
        v = NAN;
}

} // namespace KORVIK
