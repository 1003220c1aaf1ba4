// Time of one open_simulation + store_boarddefaults + load_boarddefaults cycle
// on a simulated RC1200 board (target: below 5 ms). Prints the median and the
// fastest of the runs.
#include <korvik/USBDevice.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "board/EvUSBBoard.h"

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    // the library's diagnostics would dominate the measurement
    if (!std::freopen("/dev/null", "w", stderr))
        return 1;

    std::vector<double> times;
    times.reserve(size_t(runs));
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        std::unique_ptr<KORVIK::USBDevice> device(KORVIK::USBDevice::open_simulation(
            "bench" + std::to_string(i), "Benchmark", "RC1200", "0012340A0B0C"));
        if (!device)
            return 1;
        device->store_boarddefaults();
        device->load_boarddefaults();
        const auto end = std::chrono::steady_clock::now();
        times.push_back(std::chrono::duration<double, std::micro>(end - start).count());
        // leave the registry so that the next run starts from the same size
        device->get_board()->leave_registry();
        device.reset();
    }
    std::sort(times.begin(), times.end());
    std::printf("open_simulation + store_boarddefaults + load_boarddefaults: median %.1f us, min %.1f us, "
                "max %.1f us over %d runs (target < 5000 us)\n",
                times[times.size() / 2], times.front(), times.back(), runs);
    return times[times.size() / 2] < 5000.0 ? 0 : 2;
}
