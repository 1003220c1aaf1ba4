#include <cmath>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <string>

#include <CLI/App.hpp>

#include <korvik/USBDevice.h>

#include "../Checks.h"
#include "../Command.h"
#include "../../../lib/file/SafeWrite.h" // the one file writer, shared with the library
#include "core/PacketTest.h"

namespace korvik_cli {

namespace {

// NaN (nothing measured) as JSON null
Json number(double v)
{
    return std::isfinite(v) ? Json(v) : Json(nullptr);
}

std::string fixed(double v, int decimals)
{
    if (!std::isfinite(v))
        return "-";
    std::ostringstream s;
    s << std::fixed << std::setprecision(decimals) << v;
    return s.str();
}

// a log row per packet is kept; beyond this the test would run for days anyway
constexpr double MAX_COUNT = 1000000;

class PerCommand : public Command {
public:
    const char* name() const override { return "per"; }
    const char* summary() const override
    {
        return "Packet error rate and RSSI test: numbered packets from one board, counted on another";
    }
    void setup(CLI::App& app) override
    {
        app.add_option("--tx", tx_name, "The sending board")->required();
        app.add_option("--rx", rx_name, "The receiving board")->required();
        app.add_option("--count", count, "Packets to send, 1 to 1000000 (default 100)")
            ->check(within(1, MAX_COUNT, "a packet count"));
        app.add_option("--length", length, "Data bytes per packet, at least 8 (default 32)")
            ->check(CLI::Range(unsigned(PacketLog::MIN_LENGTH), 1400u));
        takes_duration(app.add_option("--interval", interval_ms,
                                      "Time between packets, e.g. 5ms; a plain number is in ms (default 50)"),
                       "ms");
        app.add_option("--csv", csv, "Also write one row per packet to this file");
        seed_option = app.add_option("--seed", seed, "Virtual air: the link model's seed, for a run that repeats (default 1)");
        loss_option = app.add_option("--path-loss", path_loss, "Virtual air: the path loss between the two boards in dB (default 60)")
            ->check(CLI::Range(0.0, 250.0));
    }

    int run(const Options& options) override
    {
        Device tx = open_board(tx_name);
        Device rx = open_board(rx_name);
        if (tx->get_interface() == rx->get_interface())
            throw UsageError("--tx and --rx name the same board");
        const bool simulated = (tx->get_boardflags() & 1) && (rx->get_boardflags() & 1);
        if ((seed_option->count() || loss_option->count()) && !simulated)
            throw UsageError("--seed and --path-loss shape the virtual air between two simulated boards");
        std::string why = why_cannot_send(*tx);
        if (!why.empty())
            throw Failure("board '" + tx_name + "' cannot send: " + why);
        why = why_cannot_receive(*rx);
        if (!why.empty())
            throw Failure("board '" + rx_name + "' cannot receive: " + why);
        if (seed_option->count())
            KORVIK::USBDevice::set_virtual_air_seed(seed);
        if (loss_option->count())
            KORVIK::USBDevice::set_virtual_air_path_loss(tx->get_interface(), rx->get_interface(), path_loss);
        PacketTest::Settings settings;
        settings.count = count;
        settings.length = length;
        settings.interval = interval_ms / 1000.0;
        PacketTest test(*tx, *rx, settings);
        {
            Progress progress(options, "sending " + std::to_string(count) + " packets");
            for (int wait = test.poll(); wait >= 0; wait = test.poll()) {
                run_loop(std::chrono::milliseconds(wait));
                if (interrupted()) {
                    test.stop();
                    break;
                }
            }
        }
        const PacketLog& log = test.log();
        if (!csv.empty()) {
            const std::string error = korvik_file::write_file(csv, log.csv());
            if (!error.empty())
                throw Failure("cannot write " + error);
        }
        const PacketTestSummary s = log.summary();
        if (options.json) {
            Json lost = Json::array();
            for (const auto& r : s.lost_ranges)
                lost.push_back(Json::array({r.first, r.second}));
            print_json(Json{{"tx", tx->get_serial()},
                            {"rx", rx->get_serial()},
                            {"sent", s.sent},
                            {"received", s.received},
                            {"corrupted", s.corrupted},
                            {"per", number(s.per)},
                            {"lost", lost},
                            {"rssi",
                             {{"min", number(s.rssi_min)},
                              {"mean", number(s.rssi_mean)},
                              {"max", number(s.rssi_max)},
                              {"stddev", number(s.rssi_stddev)}}},
                            {"offset", {{"mean", number(s.offset_mean)}, {"stddev", number(s.offset_stddev)}}},
                            {"throughput", number(s.throughput)},
                            {"error", test.error().empty() ? Json(nullptr) : Json(test.error())}});
        } else {
            std::cout << "sent " << s.sent << ", received " << s.received << ", PER " << fixed(s.per * 100, 2)
                      << " %\n";
            if (!s.lost_ranges.empty())
                std::cout << "lost: " << format_ranges(s.lost_ranges) << "\n";
            if (s.corrupted)
                std::cout << "corrupted: " << s.corrupted << "\n";
            std::cout << "RSSI: min " << fixed(s.rssi_min, 0) << ", mean " << fixed(s.rssi_mean, 1) << ", max "
                      << fixed(s.rssi_max, 0) << " dBm, deviation " << fixed(s.rssi_stddev, 1) << " dB\n"
                      << "frequency offset: mean " << fixed(s.offset_mean, 1) << " Hz, deviation "
                      << fixed(s.offset_stddev, 1) << " Hz\n"
                      << "throughput: " << fixed(s.throughput, 0) << " bit/s" << std::endl;
        }
        if (!test.error().empty())
            throw Failure(test.error());
        return EXIT_OK;
    }

private:
    std::string tx_name;
    std::string rx_name;
    unsigned count = 100;
    unsigned length = 32;
    double interval_ms = 50;
    std::string csv;
    unsigned seed = 1;
    double path_loss = 60;
    CLI::Option* seed_option = nullptr;
    CLI::Option* loss_option = nullptr;
};

} // namespace

std::unique_ptr<Command> make_per_command()
{
    return std::make_unique<PerCommand>();
}

} // namespace korvik_cli
