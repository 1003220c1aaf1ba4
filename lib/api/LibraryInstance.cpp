#include "registry/Library.h"

#include <stdexcept>

#include "model/common/Diagnostics.h"
#include "transport/Capture.h"
#include "remote/RemoteLink.h"
#include "transport/WindowsLibrary.h"

namespace KORVIK {

namespace {
Library* library = nullptr;
}

Library* Library::existing_instance()
{
    return library;
}

Library* Library::instance()
{
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
    // the servers of KORVIK_SERVER, once the registry is there for their boards
    if (library)
        RemoteServers::connect_from_environment(library);
    return library;
}

} // namespace KORVIK
