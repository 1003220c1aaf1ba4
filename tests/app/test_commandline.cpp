// paramcalc's own command-line options.
#include <cstdio>
#include <cstdlib>

#include <korvik/USBDevice.h>

#include "Application.h"

int main()
{
    // the switch alone must turn the air on, not the environment
    unsetenv("KORVIK_VIRTUAL_AIR");
    char name[] = "paramcalc", option[] = "--virtual-air";
    char* argv[] = {name, option, nullptr};
    int argc = 2;
    Application app(argc, argv);
    if (!KORVIK::USBDevice::is_virtual_air()) {
        std::fprintf(stderr, "FAIL: paramcalc --virtual-air left the virtual air off\n");
        return 1;
    }
    return 0;
}
