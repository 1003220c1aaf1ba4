// snippet: the text of the graphical program's code windows, from its core.

#include <iostream>
#include <string>
#include <vector>

#include <QString>

#include <CLI/App.hpp>

#include <korvik/USBDevice.h>

#include "../Command.h"
#include "core/CodeSnippets.h"

namespace korvik_cli {

namespace {

class SnippetCommand : public Command {
public:
    const char* name() const override { return "snippet"; }
    const char* summary() const override { return "The code the graphical program's code windows show, on standard output"; }
    void setup(CLI::App& app) override
    {
        app.add_option("BOARD", board, "The board")->required();
        app.add_option("--target", target, "rc800, spi or evalboard")
            ->required()
            ->check(CLI::IsMember({"rc800", "spi", "evalboard"}));
        app.add_option("--style", styles, "straight (default), table or burst; repeat for several")
            ->check(CLI::IsMember({"straight", "table", "burst"}));
    }

    int run(const Options& options) override
    {
        unsigned bits = 0;
        for (const std::string& s : styles)
            bits |= s == "straight" ? 1 : s == "table" ? 2 : 4;
        if (!bits)
            bits = 1;
        if (target == "evalboard" && !styles.empty())
            throw UsageError("--style applies to the rc800 and spi targets only");
        Device d = open_board(board);
        const SnippetChip chip = snippet_chip(*d);
        const QString text = target == "rc800" ? rc800_code_snippet(chip, bits)
                             : target == "spi" ? spi_code_snippet(chip, bits)
                                               : evalboard_code_snippet(chip);
        const std::string out = text.toStdString();
        if (options.json)
            print_json(Json{{"board", d->get_serial()}, {"target", target}, {"styles", bits}, {"text", out}});
        else
            std::cout << out << std::flush;
        return EXIT_OK;
    }

private:
    std::string board;
    std::string target;
    std::vector<std::string> styles;
};

} // namespace

std::unique_ptr<Command> make_snippet_command()
{
    return std::make_unique<SnippetCommand>();
}

} // namespace korvik_cli
