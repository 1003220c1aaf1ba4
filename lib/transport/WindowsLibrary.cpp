#include "transport/WindowsLibrary.h"

namespace KORVIK {

WindowsLibrary::WindowsLibrary()
{
    // the first scan belongs to construction, so the first caller of the
    // library already sees every board that is plugged in
    scan();
}

WindowsLibrary::~WindowsLibrary() = default;

void WindowsLibrary::scan()
{
    // no adapter discovery yet: only simulated boards are registered
}

} // namespace KORVIK
