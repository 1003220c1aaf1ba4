// korvik: every board operation of libkorvik-0 from the command line.

#include <cstring>
#include <iostream>
#include <map>
#include <string>

#include <CLI/CLI.hpp>

#include <korvik/USBDevice.h>

#include "Command.h"

using namespace korvik_cli;

namespace korvik_cli {
// Context.cpp: notes a closed standard output (and keeps its descriptor from
// being reused) so that output_error() reports it; called first
void guard_standard_output();
}

namespace {

std::string version_text()
{
    return std::string("korvik ") + KORVIK_CLI_VERSION + " (libkorvik-0 " + KORVIK::USBDevice::get_version() + ")";
}

} // namespace

int main(int argc, char** argv)
{
    guard_standard_output();
    CLI::App app{"Drives evaluation boards (real and simulated) from the command line.\n"
                 "BOARD is a serial number, an interface name, sim:CHIP or sim:CHIP:FILE.",
                 "korvik"};
    Options options;
    app.add_flag("--json", options.json, "Print one JSON document (JSON lines for watch), values in SI units");
    app.add_flag("-v,--verbose", options.verbose, "Show the library's diagnostic lines on standard error");
    bool virtual_air = false;
    bool wait = false;
    app.add_flag("--wait", wait, "Wait for a board that another program holds (or that is not plugged in yet)");
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
            std::cerr << "korvik: unknown command '" << printable(word) << "'; the commands are:";
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
        if (e.get_exit_code() == 0)
            return app.exit(e) == 0 ? EXIT_OK : EXIT_USAGE;
        // the message quotes what was typed, which must not reach the terminal raw
        std::cerr << printable(e.what(), true) << "\nRun with --help for more information." << std::endl;
        return EXIT_USAGE;
    }

    // before the library starts, so that not even its first lines show unasked
    route_diagnostics(options.verbose);
    catch_signals();
    set_wait_for_boards(wait);
    if (virtual_air)
        KORVIK::USBDevice::set_virtual_air(true);

    CLI::App* chosen = app.get_subcommands().front();
    Command* command = by_app.at(chosen);
    int status = EXIT_OK;
    try {
        status = command->run(options);
    } catch (const UsageError& e) {
        messages() << "korvik " << command->name() << ": " << printable(e.what(), true) << "\n"
                  << "Run with --help for more information." << std::endl;
        status = EXIT_USAGE;
    } catch (const Failure& e) {
        messages() << "korvik " << command->name() << ": " << printable(e.what(), true) << std::endl;
        status = EXIT_FAILURE_;
    } catch (const std::exception& e) {
        messages() << "korvik " << command->name() << ": " << printable(e.what(), true) << std::endl;
        status = EXIT_FAILURE_;
    }
    // output that did not arrive is a failure, whatever the command did
    const std::string lost = output_error();
    if (!lost.empty()) {
        messages() << "korvik " << command->name() << ": cannot write the output: " << lost << std::endl;
        if (status == EXIT_OK)
            status = EXIT_FAILURE_;
    }
    if (const int sig = interrupting_signal()) {
        messages() << "korvik " << command->name() << ": interrupted by SIG" << sigabbrev_np(sig)
                   << " after finishing the step it was in; what is shown above reached the board" << std::endl;
        return 128 + sig;
    }
    return status;
}
