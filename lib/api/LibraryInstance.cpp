#include "registry/Library.h"

#include <stdexcept>

#include "model/common/Diagnostics.h"
#include "transport/Capture.h"
#include "transport/WindowsLibrary.h"

namespace KORVIK {

Library* Library::instance()
{
    static Library* library = nullptr;
    static bool creating = false;
    if (library || creating)
        return library;
    creating = true;
    // before the first scan, whose frames belong in the capture
    start_capture_from_environment();
    try {
        library = new WindowsLibrary();
    } catch (const std::exception& e) {
        // the next static call tries again
        diag() << "Library::instance: " << e.what() << std::endl;
    }
    creating = false;
    return library;
}

} // namespace KORVIK
