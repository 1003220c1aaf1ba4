#include <cmath>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include <CLI/App.hpp>

#include <korvik/LinkTools.h>
#include <korvik/USBDevice.h>

#include "../Command.h"
#include "../Units.h"
#include "core/Sweep.h"

namespace korvik_cli {

namespace {

Json number(double v)
{
    return std::isfinite(v) ? Json(v) : Json(nullptr);
}

// one end of a range: the variable's own unit, or dB for a power step
double range_part(const std::string& text, SweepVariable v, bool step)
{
    std::string t = text;
    while (!t.empty() && t.back() == ' ')
        t.pop_back();
    if ((v == SweepVariable::POWER || v == SweepVariable::PATH_LOSS) && t.size() > 2) {
        const std::string tail = t.substr(t.size() - 2);
        const bool db = tail == "dB" || tail == "db";
        if (db && (v == SweepVariable::PATH_LOSS || step))
            t.resize(t.size() - 2);
    }
    switch (v) {
    case SweepVariable::POWER: return parse_quantity(t, Unit::dBm);
    case SweepVariable::PATH_LOSS: return parse_quantity(t, Unit::None);
    case SweepVariable::OFFSET: return parse_quantity(t, Unit::Hz);
    case SweepVariable::BITRATE: return parse_quantity(t, Unit::BitRate);
    }
    return 0;
}

double parse_percent(const std::string& text)
{
    std::string t = text;
    bool percent = false;
    if (!t.empty() && t.back() == '%') {
        t.pop_back();
        percent = true;
    }
    try {
        size_t used = 0;
        const double v = std::stod(t, &used);
        if (used == t.size())
            return percent ? v / 100 : v;
    } catch (const std::exception&) {
    }
    throw UsageError("--find-per: '" + text + "' is not a rate (e.g. 1% or 0.01)");
}

std::string shown(double si, SweepVariable v)
{
    switch (v) {
    case SweepVariable::POWER: return format_quantity(si, Unit::dBm, 6);
    case SweepVariable::PATH_LOSS: {
        std::ostringstream s;
        s << si << " dB";
        return s.str();
    }
    case SweepVariable::OFFSET: return format_quantity(si, Unit::Hz, 8);
    case SweepVariable::BITRATE: return format_quantity(si, Unit::BitRate, 8);
    }
    return "";
}

class SweepCommand : public Command {
public:
    const char* name() const override { return "sweep"; }
    const char* summary() const override
    {
        return "Packet error rate, RSSI and bit errors against transmit power, path loss, carrier offset or bitrate";
    }
    void setup(CLI::App& app) override
    {
        app.add_option("--tx", tx_name, "The sending board")->required();
        app.add_option("--rx", rx_name, "The receiving board")->required();
        auto* g = app.add_option_group("variable", "The swept variable as START:STOP:STEP with units");
        g->add_option("--power", ranges[0], "Transmit power, e.g. -20dBm:10dBm:2dB");
        g->add_option("--path-loss", ranges[1], "Path loss on the virtual air, e.g. 60:140:5 (dB)");
        g->add_option("--offset", ranges[2], "Transmit carrier offset, e.g. -60kHz:60kHz:10kHz");
        g->add_option("--bitrate", ranges[3], "Bitrate of both ends, e.g. 10k:100k:10k");
        g->require_option(1);
        app.add_option("--count", count, "Packets per point (per batch when searching; default 100)")
            ->check(CLI::PositiveNumber);
        app.add_option("--length", length, "Data bytes per packet, at least 8 (default 32)")
            ->check(CLI::Range(8u, 1400u));
        app.add_option("--find-per", find_text,
                       "Search the value where the packet error rate crosses this (e.g. 1%); STEP is the resolution");
        app.add_option("--max-packets", max_packets, "Packets per searched point before it counts as on the target")
            ->check(CLI::PositiveNumber);
        app.add_flag("--fast", fast, "Simulated time on the virtual air: no waiting for air time");
        app.add_option("--seed", seed, "Seed of the virtual air's random stream");
        app.add_option("--csv", csv, "Also write one row per point to this file");
    }

    int run(const Options& options) override
    {
        Sweep::Settings s;
        unsigned which = 0;
        for (unsigned i = 0; i < 4; ++i)
            if (!ranges[i].empty())
                which = i;
        s.variable = SweepVariable(which);
        const std::string& range = ranges[which];
        const auto a = range.find(':'), b = range.find(':', a == std::string::npos ? a : a + 1);
        if (a == std::string::npos || b == std::string::npos || range.find(':', b + 1) != std::string::npos)
            throw UsageError("--" + std::string(which == 1 ? "path-loss" : sweep_variable_name(s.variable)) + ": '" +
                             range + "' is not START:STOP:STEP");
        try {
            s.start = range_part(range.substr(0, a), s.variable, false);
            s.stop = range_part(range.substr(a + 1, b - a - 1), s.variable, false);
            s.step = range_part(range.substr(b + 1), s.variable, true);
        } catch (const ValueError& e) {
            throw UsageError(std::string("--") + sweep_variable_name(s.variable) + ": " + e.what());
        }
        s.count = count;
        s.length = length;
        s.max_packets = max_packets;
        if (!find_text.empty()) {
            s.find = true;
            s.target_per = parse_percent(find_text);
        }

        Device tx = open_board(tx_name);
        Device rx = open_board(rx_name);
        if (tx->get_interface() == rx->get_interface())
            throw UsageError("--tx and --rx name the same board");
        // two simulated boards meet only on the virtual air
        if ((tx->get_boardflags() & 1) && (rx->get_boardflags() & 1))
            KORVIK::USBDevice::set_virtual_air(true);
        if (fast)
            KORVIK::set_virtual_air_fast(true);
        if (seed >= 0)
            KORVIK::USBDevice::set_virtual_air_seed(unsigned(seed));

        std::unique_ptr<Sweep> sweep;
        try {
            sweep = std::make_unique<Sweep>(*tx, *rx, s);
        } catch (const std::runtime_error& e) {
            throw UsageError(e.what());
        }
        {
            Progress progress(options, s.find ? "searching" : "sweeping");
            for (int wait = sweep->poll(); wait >= 0; wait = sweep->poll()) {
                run_loop(std::chrono::milliseconds(wait));
                if (interrupted()) {
                    sweep->stop();
                    break;
                }
            }
        }
        if (!csv.empty()) {
            std::ofstream out(csv, std::ios::binary | std::ios::trunc);
            out << sweep_csv_header();
            for (const SweepPoint& p : sweep->points())
                out << sweep_csv_row(s.variable, p);
            out.flush();
            if (!out)
                throw Failure("cannot write " + csv);
        }
        const Sweep::Found& f = sweep->found();
        if (options.json) {
            Json rows = Json::array();
            for (const SweepPoint& p : sweep->points())
                rows.push_back(Json{{"value", p.value},
                                    {"actual", number(p.actual)},
                                    {"sent", p.sent},
                                    {"received", p.received},
                                    {"intact", p.intact},
                                    {"per", number(p.per)},
                                    {"per_low", p.per_interval.low},
                                    {"per_high", p.per_interval.high},
                                    {"rssi_mean", number(p.rssi_mean)},
                                    {"bit_errors", p.bit_errors},
                                    {"bits", p.bits},
                                    {"ber", number(p.ber)}});
            Json doc{{"tx", tx->get_serial()},
                     {"rx", rx->get_serial()},
                     {"variable", sweep_variable_name(s.variable)},
                     {"unit", sweep_variable_unit(s.variable)},
                     {"virtual_air", sweep->on_virtual_air()},
                     {"fast", KORVIK::is_virtual_air_fast()},
                     {"points", rows}};
            if (s.find) {
                doc["target_per"] = s.target_per;
                doc["found"] = f.found ? Json{{"value", f.value}, {"low", f.low}, {"high", f.high}} : Json(nullptr);
            }
            doc["error"] = sweep->error().empty() ? Json(nullptr) : Json(sweep->error());
            print_json(doc);
        } else {
            std::cout << sweep_variable_name(s.variable) << "  sent  intact  PER %    (95 % interval)    RSSI dBm  BER\n";
            for (const SweepPoint& p : sweep->points()) {
                char line[200];
                std::snprintf(line, sizeof line, "%-14s %5u %6u %7.2f  (%6.2f - %6.2f)  %8.1f  %.3g\n",
                              shown(p.actual, s.variable).c_str(), p.sent, p.intact, p.per * 100,
                              p.per_interval.low * 100, p.per_interval.high * 100, p.rssi_mean, p.ber);
                std::cout << line;
            }
            if (s.find) {
                if (f.found)
                    std::cout << "PER " << s.target_per * 100 << " % at " << shown(f.value, s.variable) << " (between "
                              << shown(f.low, s.variable) << " and " << shown(f.high, s.variable) << ")\n";
                else
                    std::cout << "PER " << s.target_per * 100 << " % is not crossed between "
                              << shown(s.start, s.variable) << " and " << shown(s.stop, s.variable) << "\n";
            }
            std::cout.flush();
        }
        if (!sweep->error().empty())
            throw Failure(sweep->error());
        return s.find && !f.found ? EXIT_FAILURE_ : EXIT_OK;
    }

private:
    std::string tx_name, rx_name;
    std::string ranges[4];
    unsigned count = 100;
    unsigned length = 32;
    unsigned max_packets = 20000;
    std::string find_text;
    bool fast = false;
    long seed = -1;
    std::string csv;
};

} // namespace

std::unique_ptr<Command> make_sweep_command()
{
    return std::make_unique<SweepCommand>();
}

} // namespace korvik_cli
