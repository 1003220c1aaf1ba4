// Median time of one receiver setup + transmitter setup + commit cycle of
// each chip model, on an in-memory board. Parameters change every cycle so
// that every commit writes registers.
//
// usage: bench_model_cycle [cycles] [chip name]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <streambuf>
#include <vector>

#include "board/EvUSBBoard.h"
#include "model/GreyfinModel.h"
#include "model/rc1100/RC1100Model.h"
#include "model/rc1200/RC1200Model.h"
#include "model/rc1300/RC1300Model.h"
#include "model/rc1400/RC1400Model.h"

using namespace KORVIK;

namespace {

/// Chips to measure: add a row per chip model.
struct ChipRow {
    const char* name;
    ModelFactory factory;
};

const ChipRow chips[] = {
    {"RC1200", create_rc1200_model},
    {"RC1400", create_rc1400_model},
    {"RC1300", create_rc1300_model},
    {"RC1100", create_rc1100_model},
};

class NullBuffer : public std::streambuf {
protected:
    int overflow(int c) override { return c; }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

class MemoryBoard : public EvUSBBoard {
public:
    MemoryBoard() : EvUSBBoard(nullptr, "BENCH", "none", "bench", "02:00:00:00:00:01") {}
    uint8_t regs[0x10000] = {};
    int queue_net_packet(const uint8_t*, unsigned, const uint8_t*) override { return 0; }
    int get_report11() override { return 0; }
    void set_report10(bool, bool) override {}
    void evusb_write(uint16_t a, uint8_t v) override { regs[a] = v; }
    uint16_t evusb_read16(uint16_t a) override { return regs[a]; }
    void set_flashctl(uint8_t) override {}
    int get_flashctl() override { return 0; }
    void set_flashaddr(uint8_t) override {}
    int get_flashaddr() override { return 0; }
    void set_flashdata(uint16_t) override {}
    int get_flashdata() override { return 0; }
    void evusb_set_ethstate(uint8_t) override {}
    int evusb_get_ethstate() override { return 0; }
    void set_chacc(const uint8_t*, const uint8_t*) override {}
    void get_chacc(uint8_t*, uint8_t*) override {}
};

double median_cycle_us(const ChipRow& chip, int cycles)
{
    MemoryBoard board;
    GreyfinModel* model = chip.factory(&board);
    board.set_model(model); // the board owns and deletes it

    static const int modulations[] = {MOD_ASK, MOD_FSK, MOD_GFSK, MOD_PSK, MOD_MSK};
    std::vector<double> times;
    times.reserve(size_t(cycles));
    for (int i = 0; i < cycles; ++i) {
        double br = 1200.0 + 37.0 * (i % 997);
        int mod = modulations[i % 5];
        auto start = std::chrono::steady_clock::now();
        model->set_rx(br * (2 + i % 7), br, mod, true, i & 1);
        model->set_tx(br / 2 + (i % 13) * 100.0, br, mod, true);
        model->commit_registers();
        auto end = std::chrono::steady_clock::now();
        times.push_back(std::chrono::duration<double, std::micro>(end - start).count());
    }
    std::nth_element(times.begin(), times.begin() + times.size() / 2, times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    int cycles = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20000;
    const char* only = argc > 2 ? argv[2] : nullptr;

    // the commit writes one diagnostic line per changed register
    NullBuffer null;
    std::streambuf* old = std::cerr.rdbuf(&null);

    std::vector<std::pair<const char*, double>> results;
    for (const ChipRow& chip : chips)
        if (!only || std::strcmp(only, chip.name) == 0)
            results.emplace_back(chip.name, median_cycle_us(chip, cycles));

    std::cerr.rdbuf(old);
    for (auto& r : results)
        std::printf("%s: median set_rx + set_tx + commit_registers %.2f us (%d cycles)\n", r.first, r.second, cycles);
    return 0;
}
