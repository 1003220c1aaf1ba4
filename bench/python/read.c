/* bench_python_read [N]: ns per libkorvik_get_rx_carrierfrequency() on a
 * simulated RC1200 board, best of three rounds; bench_python.py compares the
 * same read from Python against it. Prints the figure alone on stdout. */

#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include <korvik/korvik.h>

static double now_ns(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e9 + t.tv_nsec;
}

int main(int argc, char** argv)
{
    long n = argc > 1 ? atol(argv[1]) : 2000000;
    korvik_device* dev = libkorvik_open_simulation("9900101", "bench", "RC1200", "020000000101");
    if (!dev) {
        fprintf(stderr, "cannot open a simulated board\n");
        return 1;
    }
    volatile double sink = 0;
    double best = 1e30;
    for (int round = 0; round < 3; ++round) {
        double start = now_ns();
        for (long i = 0; i < n; ++i)
            sink += libkorvik_get_rx_carrierfrequency(dev);
        double per = (now_ns() - start) / (double)n;
        if (per < best)
            best = per;
    }
    printf("%.2f\n", best);
    libkorvik_close(dev);
    return 0;
}
