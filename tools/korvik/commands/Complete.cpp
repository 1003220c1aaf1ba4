// complete: the words the shell completions offer, one per line. Hidden from
// --help; quick, so that a Tab press never waits on a board scan.

#include <algorithm>
#include <fstream>
#include <iostream>
#include <list>
#include <string>
#include <vector>

#include <CLI/App.hpp>

#include <korvik/USBDevice.h>

#include "../Command.h"
#include "../Params.h"

namespace korvik_cli {

namespace {

std::string read_line(const std::string& path)
{
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// The chips whose lists apply to BOARD: sim:CHIP[:FILE] names it, an
// interface's USB strings or alias name it; otherwise every chip.
std::vector<std::string> chips_of(const std::string& board)
{
    const std::list<std::string> all = KORVIK::USBDevice::get_supported_chips();
    std::string upper = board;
    std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
    std::string description;
    if (upper.rfind("SIM:", 0) == 0)
        description = upper.substr(4, upper.find(':', 4) - 4);
    else if (!board.empty() && board.find('/') == std::string::npos && board[0] != '.') {
        const std::string dir = "/sys/class/net/" + board;
        description = read_line(dir + "/device/../manufacturer") + " " + read_line(dir + "/device/../product") + " " +
                      read_line(dir + "/ifalias");
    }
    std::string best;
    for (const std::string& chip : all)
        if (description.find(chip) != std::string::npos && chip.size() > best.size())
            best = chip;
    if (!best.empty())
        return {best};
    return {all.begin(), all.end()};
}

class CompleteCommand : public Command {
public:
    const char* name() const override { return "complete"; }
    const char* summary() const override { return "Words for the shell completions"; }
    bool hidden() const override { return true; }
    void setup(CLI::App& app) override
    {
        app.add_option("WHAT", what, "params, choices PARAM, registers or commands")->required();
        app.add_option("ARGS", args, "PARAM and BOARD");
    }

    int run(const Options&) override
    {
        // the union over several chips, without repeats, in first-seen order
        std::vector<std::string> out;
        auto add = [&](const std::string& w) {
            if (std::find(out.begin(), out.end(), w) == out.end())
                out.push_back(w);
        };
        const std::string board = what == "choices" ? (args.size() > 1 ? args[1] : "") : (args.empty() ? "" : args[0]);
        if (what == "commands") {
            for (const auto& c : make_commands())
                if (!c->hidden())
                    add(c->name());
        } else if (what == "params") {
            for (const std::string& chip : chips_of(board)) {
                Device d = open_scratch_board(chip);
                for (const Param& p : params())
                    if (param_available(p, *d) && (!p.read_only()))
                        add(p.name);
            }
        } else if (what == "choices") {
            const Param* p = args.empty() ? nullptr : find_param(args[0]);
            if (!p)
                return EXIT_USAGE;
            for (const std::string& chip : chips_of(board)) {
                Device d = open_scratch_board(chip);
                if (p->kind == Kind::Choice && param_available(*p, *d)) {
                    for (const std::string& c : p->choices(*d))
                        add(c);
                } else if (p->kind == Kind::Bool) {
                    add("on");
                    add("off");
                }
            }
        } else if (what == "registers") {
            for (const std::string& chip : chips_of(board)) {
                Device d = open_scratch_board(chip);
                for (unsigned i = 0; i < d->get_registers(); ++i)
                    add(d->get_register_name(i));
                for (unsigned i = 0; i < d->get_bitfields(); ++i)
                    add(d->get_bitfield_name(i));
            }
        } else {
            return EXIT_USAGE;
        }
        for (const std::string& w : out)
            std::cout << w << '\n';
        return EXIT_OK;
    }

private:
    std::string what;
    std::vector<std::string> args;
};

} // namespace

std::unique_ptr<Command> make_complete_command()
{
    return std::make_unique<CompleteCommand>();
}

} // namespace korvik_cli
