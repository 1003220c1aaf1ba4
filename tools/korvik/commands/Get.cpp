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
        return "The parameter names of get, set and diff, with units (and a board's choices)";
    }
    void setup(CLI::App& app) override
    {
        app.add_option("BOARD", board, "Show the choices and availability on this board");
    }

    int run(const Options& options) override
    {
        Device d;
        if (!board.empty())
            d = open_board(board);
        static const char* kinds[] = {"quantity", "integer", "hex", "bool", "choice", "mac", "text"};
        Json list = Json::array();
        for (const Param& p : params()) {
            if (d && !param_available(p, *d))
                continue;
            Json j;
            j["name"] = p.name;
            j["kind"] = kinds[int(p.kind)];
            j["unit"] = unit_name(p.unit);
            j["read_only"] = p.read_only();
            j["help"] = p.help;
            if (d && p.kind == Kind::Choice) {
                j["choices"] = Json::array();
                for (const std::string& c : p.choices(*d))
                    j["choices"].push_back(c);
            }
            list.push_back(j);
        }
        if (options.json) {
            print_json(Json{{"parameters", list}});
            return EXIT_OK;
        }
        for (const Json& j : list) {
            std::string unit = j["unit"].get<std::string>();
            std::string what = unit.empty() ? j["kind"].get<std::string>() : unit;
            std::string line = j["help"].get<std::string>();
            if (j["read_only"].get<bool>())
                line += " (read-only)";
            if (j.contains("choices")) {
                std::string c;
                for (const Json& s : j["choices"])
                    c += (c.empty() ? "" : ", ") + s.get<std::string>();
                line += ": " + c;
            }
            std::printf("%-24s %-9s %s\n", j["name"].get<std::string>().c_str(), what.c_str(), line.c_str());
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
