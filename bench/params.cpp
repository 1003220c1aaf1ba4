// A one-parameter transaction (strict: checked on a copy of the settings,
// then set and committed) against the plain setter and commit it replaces,
// on a simulated RC1200 board. Runs the two interleaved, RUNS rounds of N
// calls each, and prints the median and range of each and of their ratio,
// with a floor (one getter call) measured in the same rounds.
//
//   bench_params [N] [RUNS]
//
// Both sides commit, and every commit writes one diagnostic line per
// register to stderr: where stderr goes (2>/dev/null, a file, a terminal)
// moves both figures, and with them the ratio. Say which with the figures.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include <korvik/USBDevice.h>

#include "board/EvUSBBoard.h"

namespace {

template <typename F>
double us_per_call(long n, F&& f)
{
    const auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < n; ++i)
        f(i);
    const auto end = std::chrono::steady_clock::now();
    return std::chrono::duration<double, std::micro>(end - start).count() / double(n);
}

struct Figures {
    std::vector<double> v;
    double median() const
    {
        std::vector<double> s = v;
        std::sort(s.begin(), s.end());
        return s[s.size() / 2];
    }
    double lo() const { return *std::min_element(v.begin(), v.end()); }
    double hi() const { return *std::max_element(v.begin(), v.end()); }
};

} // namespace

int main(int argc, char** argv)
{
    const long n = argc > 1 ? std::atol(argv[1]) : 2000;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 7;
    std::unique_ptr<KORVIK::USBDevice> d(
        KORVIK::USBDevice::open_simulation("9900002", "bench", "RC1200", "020000000002"));
    if (!d) {
        std::fprintf(stderr, "cannot open a simulated board\n");
        return 1;
    }
    // two carriers a channel apart, so that every call changes registers
    const double f[2] = {868.3e6, 868.5e6};
    double sink = 0;
    Figures plain, transaction, floor, ratio;
    for (int r = 0; r < runs + 1; ++r) {
        const double p = us_per_call(n, [&](long i) {
            d->set_tx_carrierfrequency(f[i & 1]);
            d->commit_registers();
        });
        // the request is built once, as a tool or a form that sets one value
        // again and again keeps it; the report of every call is dropped in the loop
        std::vector<KORVIK::ParamAssignment> request{{"tx_carrierfrequency", {}}};
        const double t = us_per_call(n, [&](long i) {
            request[0].value.number = f[i & 1];
            const KORVIK::ParamReport rep = d->apply_params(request);
            if (!rep.accepted)
                std::abort();
        });
        const double g = us_per_call(n, [&](long) { sink += d->get_tx_carrierfrequency(); });
        if (r == 0)
            continue; // warm-up round
        plain.v.push_back(p);
        transaction.v.push_back(t);
        floor.v.push_back(g);
        ratio.v.push_back(t / p);
    }
    std::printf("%d interleaved rounds of %ld calls, not pinned (sink %.0f)\n", runs, n, sink > 0 ? 1.0 : 0.0);
    std::printf("set_tx_carrierfrequency + commit_registers: median %8.2f us (range %.2f .. %.2f)\n",
                plain.median(), plain.lo(), plain.hi());
    std::printf("apply_params, one value, strict:            median %8.2f us (range %.2f .. %.2f)\n",
                transaction.median(), transaction.lo(), transaction.hi());
    std::printf("floor, get_tx_carrierfrequency:             median %8.3f us (range %.3f .. %.3f)\n",
                floor.median(), floor.lo(), floor.hi());
    std::printf("ratio transaction / set+commit:             median %8.2f (range %.2f .. %.2f), target 1.2\n",
                ratio.median(), ratio.lo(), ratio.hi());
    d->get_board()->leave_registry();
    return 0;
}
