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
        app.add_option("--interval", interval_ms, "Milliseconds between packets (default 50)")
            ->check(within(0, 3600000, "a number of milliseconds"));
        app.add_option("--csv", csv, "Also write one row per packet to this file");
    }

    int run(const Options& options) override
    {
        Device tx = open_board(tx_name);
        Device rx = open_board(rx_name);
        if (tx->get_interface() == rx->get_interface())
            throw UsageError("--tx and --rx name the same board");
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
    unsigned interval_ms = 50;
    std::string csv;
};

} // namespace

std::unique_ptr<Command> make_per_command()
{
    return std::make_unique<PerCommand>();
}

} // namespace korvik_cli
