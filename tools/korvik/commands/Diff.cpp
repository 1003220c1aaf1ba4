// diff: two settings files compared in units, then register by register.

#include <cmath>
#include <cstdio>
#include <iostream>
#include <map>
#include <string>

#include <QDomDocument>
#include <QString>

#include <CLI/App.hpp>

#include <korvik/USBDevice.h>

#include "../Command.h"
#include "../Params.h"
#include "../SettingsFiles.h"
#include "core/SettingsFile.h"

namespace korvik_cli {

namespace {

// Registers by name; a name that occurs twice (receive and transmit copies)
// is told apart by its operating address.
std::map<std::string, unsigned> registers_by_name(const KORVIK::USBDevice& d)
{
    std::map<std::string, unsigned> out;
    for (unsigned i = 0; i < d.get_registers(); ++i)
        out[d.get_register_label(i)] = i;
    return out;
}

class DiffCommand : public Command {
public:
    const char* name() const override { return "diff"; }
    const char* summary() const override
    {
        return "Compares two settings files in units, then by register; status 0 equal, 1 different";
    }
    void setup(CLI::App& app) override
    {
        app.add_option("FILE1", files[0], "The first settings file")->required();
        app.add_option("FILE2", files[1], "The second settings file")->required();
    }

    int run(const Options& options) override
    {
        Device a, b;
        try {
            // each file on a simulated board of its chip, so that its
            // parameters come out of the chip model as a real board shows them
            a = board_from_file(files[0]);
            b = board_from_file(files[1]);
        } catch (const Failure& e) {
            // 1 means "different" here, so trouble is 2, as for diff(1)
            throw UsageError(e.what());
        }
        Json params_out = Json::array();
        for (const Param& p : params()) {
            const bool in_a = param_available(p, *a), in_b = param_available(p, *b);
            if (!in_a && !in_b)
                continue;
            const Json va = in_a ? p.get(*a) : Json(), vb = in_b ? p.get(*b) : Json();
            if (va == vb)
                continue;
            Json row{{"name", p.name}, {"a", va}, {"b", vb}, {"difference", nullptr}};
            if (va.is_number() && vb.is_number())
                row["difference"] = vb.get<double>() - va.get<double>();
            params_out.push_back(row);
        }
        Json regs_out = Json::array();
        const auto ra = registers_by_name(*a), rb = registers_by_name(*b);
        for (unsigned i = 0; i < a->get_registers(); ++i) {
            // walk in register order of the first file
            std::string n;
            for (const auto& e : ra)
                if (e.second == i)
                    n = e.first;
            const auto other = rb.find(n);
            const unsigned va = a->get_register_chipvalue(i);
            if (other != rb.end() && b->get_register_chipvalue(other->second) == va)
                continue;
            regs_out.push_back(Json{{"name", n},
                                    {"a", va},
                                    {"b", other == rb.end() ? Json() : Json(b->get_register_chipvalue(other->second))}});
        }
        for (const auto& e : rb)
            if (!ra.count(e.first))
                regs_out.push_back(Json{{"name", e.first}, {"a", nullptr}, {"b", b->get_register_chipvalue(e.second)}});

        const bool equal = a->get_chip_name() == b->get_chip_name() && params_out.empty() && regs_out.empty();
        if (options.json) {
            print_json(Json{{"equal", equal},
                            {"files", {files[0], files[1]}},
                            {"chips", {a->get_chip_name(), b->get_chip_name()}},
                            {"parameters", params_out},
                            {"registers", regs_out}});
            return equal ? EXIT_OK : EXIT_FAILURE_;
        }
        if (equal)
            return EXIT_OK;
        std::printf("--- %s (%s)\n+++ %s (%s)\n", files[0].c_str(), a->get_chip_name().c_str(), files[1].c_str(),
                    b->get_chip_name().c_str());
        for (const Json& row : params_out) {
            const Param& p = *find_param(row["name"].get<std::string>());
            auto shown = [&](const Json& v) { return v.is_null() ? std::string("-") : format_param_value(p, v); };
            std::string diff;
            if (!row["difference"].is_null() && p.kind == Kind::Quantity) {
                const double dv = row["difference"].get<double>();
                diff = (dv > 0 ? "+" : "") + format_quantity(dv, p.unit, 4);
            }
            std::printf("%-24s %-20s %-20s %s\n", p.name, shown(row["a"]).c_str(), shown(row["b"]).c_str(),
                        diff.c_str());
        }
        if (!regs_out.empty()) {
            std::printf("registers:\n");
            for (const Json& row : regs_out) {
                auto hex = [](const Json& v) {
                    if (v.is_null())
                        return std::string("-");
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "0x%02x", v.get<unsigned>());
                    return std::string(buf);
                };
                std::printf("%-24s %-20s %s\n", row["name"].get<std::string>().c_str(), hex(row["a"]).c_str(),
                            hex(row["b"]).c_str());
            }
        }
        return EXIT_FAILURE_;
    }

private:
    std::string files[2];
};

} // namespace

std::unique_ptr<Command> make_diff_command()
{
    return std::make_unique<DiffCommand>();
}

} // namespace korvik_cli
