// Flat interface: captures and replayed boards.

#include <cstring>
#include <memory>

#include "api/flat/FlatCommon.h"

using namespace KORVIK;
using namespace KORVIK::flat;

extern "C" {

KORVIK_API int KORVIK_CALL libkorvik_start_capture(const char* file, int append)
{
    if (!file)
        return -1;
    return guard(-1, [&] { return USBDevice::start_capture(file, append != 0) ? 0 : -1; });
}

KORVIK_API void KORVIK_CALL libkorvik_stop_capture(void)
{
    guard_void([] { USBDevice::stop_capture(); });
}

KORVIK_API korvik_device* KORVIK_CALL libkorvik_open_replay(const char* file, char* error, unsigned error_size)
{
    if (error && error_size)
        error[0] = '\0';
    if (!file)
        return nullptr;
    return guard<korvik_device*>(nullptr, [&]() -> korvik_device* {
        try {
            std::unique_ptr<USBDevice> temporary(USBDevice::open_replay(file));
            if (!temporary)
                return nullptr;
            return new korvik_device(temporary->get_board());
        } catch (const std::exception& e) {
            if (error && error_size) {
                std::strncpy(error, e.what(), error_size - 1);
                error[error_size - 1] = '\0';
            }
            throw;
        }
    });
}

} // extern "C"
