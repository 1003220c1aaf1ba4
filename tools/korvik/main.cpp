// korvik: every board operation of libkorvik-0 from the command line.

#include <iostream>
#include <map>
#include <string>

#include <CLI/CLI.hpp>

#include <korvik/USBDevice.h>

#include "Command.h"

using namespace korvik_cli;

namespace {

std::string version_text()
{
    return std::string("korvik ") + KORVIK_CLI_VERSION + " (libkorvik-0 " + KORVIK::USBDevice::get_version() + ")";
}

} // namespace

int main(int argc, char** argv)
{
    CLI::App app{"Drives evaluation boards (real and simulated) from the command line.\n"
                 "BOARD is a serial number, an interface name, sim:CHIP, sim:CHIP:FILE or sim:replay:CAPTURE.",
                 "korvik"};
    Options options;
    app.add_flag("--json", options.json, "Print one JSON document (JSON lines for watch), values in SI units");
    app.add_flag("-v,--verbose", options.verbose, "Show the library's diagnostic lines on standard error");
    bool virtual_air = false;
    app.add_flag("--virtual-air", virtual_air,
                 "Packets travel between simulated boards (as KORVIK_VIRTUAL_AIR=1 does)");
    app.set_version_flag("--version", version_text());
    app.require_subcommand(1);
    // global options may also follow the command: korvik get BOARD --json
    app.fallthrough();

    std::vector<std::unique_ptr<Command>> commands = make_commands();
    std::map<CLI::App*, Command*> by_app;
    std::map<std::string, Command*> by_name;
    for (auto& c : commands) {
        CLI::App* sub = app.add_subcommand(c->name(), c->summary());
        c->setup(*sub);
        by_app[sub] = c.get();
        by_name[c->name()] = c.get();
    }

    // CLI11 would only say that a command is required
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word.empty() || word[0] == '-')
            continue;
        if (!by_name.count(word)) {
            std::cerr << "korvik: unknown command '" << word << "'; the commands are:";
            for (auto& c : commands)
                std::cerr << ' ' << c->name();
            std::cerr << "\nRun with --help for more information." << std::endl;
            return EXIT_USAGE;
        }
        break;
    }

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e);
        return code == 0 ? EXIT_OK : EXIT_USAGE;
    }

    // before the library starts, so that not even its first lines show unasked
    route_diagnostics(options.verbose);
    if (virtual_air)
        KORVIK::USBDevice::set_virtual_air(true);

    CLI::App* chosen = app.get_subcommands().front();
    Command* command = by_app.at(chosen);
    try {
        return command->run(options);
    } catch (const UsageError& e) {
        messages() << "korvik " << command->name() << ": " << e.what() << "\n"
                  << "Run with --help for more information." << std::endl;
        return EXIT_USAGE;
    } catch (const Failure& e) {
        messages() << "korvik " << command->name() << ": " << e.what() << std::endl;
        return EXIT_FAILURE_;
    } catch (const std::exception& e) {
        messages() << "korvik " << command->name() << ": " << e.what() << std::endl;
        return EXIT_FAILURE_;
    }
}
