#include <chrono>
#include <iostream>
#include <string>

#include <CLI/App.hpp>

#include <korvik/USBDevice.h>

#include "../Command.h"

namespace korvik_cli {

namespace {

class CwCommand : public Command {
public:
    const char* name() const override { return "cw"; }
    const char* summary() const override { return "Switches continuous-wave transmission on or off"; }
    void setup(CLI::App& app) override
    {
        app.add_option("BOARD", board, "The board")->required();
        app.add_option("STATE", state, "on or off")->required()->check(CLI::IsMember({"on", "off"}));
    }

    int run(const Options& options) override
    {
        Device d = open_board(board);
        if (!(d->get_chipflags() & 2))
            throw Failure("the " + d->get_chip_name() + " of board '" + board + "' cannot transmit");
        d->set_transmit_cw(state == "on");
        // let the state byte go out before the process ends
        run_loop(std::chrono::milliseconds(0));
        if (d->is_dead())
            throw Failure("board '" + board + "' stopped answering");
        if (options.json)
            print_json(Json{{"board", d->get_serial()}, {"transmit_cw", d->is_transmit_cw()}});
        else
            std::cout << "continuous wave " << (d->is_transmit_cw() ? "on" : "off") << std::endl;
        return EXIT_OK;
    }

private:
    std::string board;
    std::string state;
};

} // namespace

std::unique_ptr<Command> make_cw_command()
{
    return std::make_unique<CwCommand>();
}

} // namespace korvik_cli
