#include <iostream>
#include <string>

#include <CLI/App.hpp>

#include <korvik/USBDevice.h>

#include "../Command.h"

namespace korvik_cli {

namespace {

class DefaultsCommand : public Command {
public:
    const char* name() const override { return "defaults"; }
    const char* summary() const override
    {
        return "chip: load the chip's defaults; load: load the board's stored defaults; store: store the settings as defaults";
    }
    void setup(CLI::App& app) override
    {
        app.add_option("BOARD", board, "The board")->required();
        app.add_option("ACTION", action, "chip, load or store")->required()->check(CLI::IsMember({"chip", "load", "store"}));
    }

    int run(const Options& options) override
    {
        Device d = open_board(board);
        std::string done;
        if (action == "chip") {
            tracked_commit(*d, [&] { d->load_chipdefaults(); });
            done = "chip defaults loaded";
        } else if (action == "load") {
            tracked_commit(*d, [&] { d->load_boarddefaults(); });
            done = "board defaults loaded";
        } else {
            Progress progress(options, "Storing the board defaults");
            try {
                d->store_boarddefaults();
            } catch (const std::exception& e) {
                throw Failure(std::string("storing the defaults failed: ") + e.what());
            }
            done = "board defaults stored";
        }
        if (d->is_dead())
            throw Failure("board '" + board + "' stopped answering");
        if (options.json)
            print_json(Json{{"board", d->get_serial()}, {"action", action}, {"done", true}});
        else
            std::cout << done << std::endl;
        return EXIT_OK;
    }

private:
    std::string board;
    std::string action;
};

} // namespace

std::unique_ptr<Command> make_defaults_command()
{
    return std::make_unique<DefaultsCommand>();
}

} // namespace korvik_cli
