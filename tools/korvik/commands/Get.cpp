#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include <CLI/App.hpp>

#include <korvik/USBDevice.h>

#include "../Command.h"
#include "../Params.h"
#include "../Suggest.h"

namespace korvik_cli {

namespace {

class GetCommand : public Command {
public:
    const char* name() const override { return "get"; }
    const char* summary() const override { return "Air and board parameters in units (all of them without PARAM)"; }
    void setup(CLI::App& app) override
    {
        app.add_option("BOARD", board, "The board")->required();
        app.add_option("PARAM", names, "Parameters to show (`korvik params` lists them)");
    }

    int run(const Options& options) override
    {
        std::vector<const Param*> wanted;
        for (const std::string& n : names) {
            const Param* p = find_param(n);
            if (!p)
                throw unknown_parameter(n);
            wanted.push_back(p);
        }
        Device d = open_board(board);
        if (wanted.empty()) {
            for (const Param& p : params())
                if (param_available(p, *d))
                    wanted.push_back(&p);
        }
        Json values;
        for (const Param* p : wanted) {
            if (!param_available(*p, *d))
                throw Failure(std::string(p->name) + " does not apply to the " + d->get_chip_name() + " of board '" +
                              board + "'");
            values[p->name] = p->get(*d);
        }
        if (options.json) {
            print_json(Json{{"board", d->get_serial()}, {"chip", d->get_chip_name()}, {"parameters", values}});
            return EXIT_OK;
        }
        for (const Param* p : wanted)
            std::printf("%-24s %s\n", p->name, format_param_value(*p, values[p->name]).c_str());
        return EXIT_OK;
    }

private:
    std::string board;
    std::vector<std::string> names;
};

class ParamsCommand : public Command {
public:
    const char* name() const override { return "params"; }
    const char* summary() const override
    {
        return "The parameters of get and set: unit, kind, scope, chips; with a board its range, step or levels";
    }
    void setup(CLI::App& app) override
    {
        app.add_option("BOARD", board, "Show what this board's chip has, with ranges, steps, levels and choices");
    }

    int run(const Options& options) override
    {
        Device d;
        if (!board.empty())
            d = open_board(board);
        static const char* kinds[] = {"quantity", "choice", "flag", "address", "text"};
        static const std::pair<const char*, unsigned> chips[] = {
            {"RC1200", KORVIK::PARAM_RC1200}, {"RC1400", KORVIK::PARAM_RC1400},
            {"RC1100", KORVIK::PARAM_RC1100}, {"RC1300", KORVIK::PARAM_RC1300}};
        Json list = Json::array();
        for (const Param& p : params()) {
            if (d && !param_available(p, *d))
                continue;
            const KORVIK::ParamInfo& i = *p.info;
            Json j;
            j["name"] = p.name;
            j["kind"] = kinds[int(i.kind)];
            j["unit"] = i.unit;
            j["scope"] = scope_name(i.scope);
            j["read_only"] = p.read_only();
            j["whole"] = i.whole;
            j["chips"] = Json::array();
            for (const auto& c : chips)
                if (i.chips & c.second)
                    j["chips"].push_back(c.first);
            j["notification"] = i.notification ? Json(i.notification) : Json();
            j["help"] = p.help;
            if (d && !p.read_only()) {
                const KORVIK::ParamLimits l = d->get_param_limits(p.name);
                if (i.kind == KORVIK::ParamKind::quantity) {
                    j["min"] = l.min;
                    j["max"] = l.max;
                    j["step"] = l.step > 0 ? Json(l.step) : Json();
                    if (!l.levels.empty())
                        j["levels"] = l.levels;
                } else if (i.kind == KORVIK::ParamKind::choice) {
                    j["choices"] = l.choices;
                } else if (i.kind == KORVIK::ParamKind::text) {
                    j["max_length"] = l.max;
                }
            }
            list.push_back(j);
        }
        if (options.json) {
            print_json(Json{{"parameters", list}});
            return EXIT_OK;
        }
        for (const Json& j : list) {
            const Param& p = *find_param(j["name"].get<std::string>());
            const std::string unit = j["unit"].get<std::string>();
            std::string line = j["help"].get<std::string>();
            if (j["read_only"].get<bool>())
                line += " (read-only)";
            if (j.contains("levels")) {
                std::string c;
                for (const Json& v : j["levels"])
                    c += (c.empty() ? "" : ", ") + format_param_value(p, v);
                line += "; levels " + c;
            } else if (j.contains("min")) {
                line += "; " + format_param_value(p, j["min"]) + " to " + format_param_value(p, j["max"]);
                if (!j["step"].is_null())
                    // whole numbers with a unit (the crystal, in Hz) step in that unit too
                    line += ", step " + (p.kind == Kind::Quantity || (p.kind == Kind::Integer && p.unit != Unit::None)
                                             ? format_quantity(j["step"].get<double>(), p.unit, 4)
                                             : j["step"].dump());
            } else if (j.contains("choices")) {
                std::string c;
                for (const Json& v : j["choices"])
                    c += (c.empty() ? "" : ", ") + v.get<std::string>();
                line += ": " + c;
            }
            std::printf("%-24s %-6s %-8s %-5s %s\n", j["name"].get<std::string>().c_str(), unit.empty() ? "-" : unit.c_str(),
                        j["kind"].get<std::string>().c_str(), j["scope"].get<std::string>().c_str(), line.c_str());
        }
        return EXIT_OK;
    }

private:
    std::string board;
};

} // namespace

std::unique_ptr<Command> make_get_command()
{
    return std::make_unique<GetCommand>();
}

std::unique_ptr<Command> make_params_command()
{
    return std::make_unique<ParamsCommand>();
}

} // namespace korvik_cli
