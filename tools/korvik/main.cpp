// korvik: every board operation of libkorvik-0 from the command line.

#include <cstring>
#include <iostream>
#include <map>
#include <string>

#include <CLI/CLI.hpp>

#include <korvik/Servers.h>
#include <korvik/USBDevice.h>

#include "Command.h"
#include "Suggest.h"

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
    const std::string board_syntax =
        "BOARD is a serial number or an interface name (as `korvik list` shows them), sim:CHIP for a simulated\n"
        "board of RC1200, RC1300, RC1400 or RC1100 (any case), sim:CHIP:FILE for one made from a settings file, or\n"
        "sim:replay:CAPTURE for a recorded board replayed from a capture.";
    const std::string global_options =
        "Global options, before or after the command: --json (JSON in SI units), -v/--verbose (the library's\n"
        "diagnostic lines), --virtual-air (packets between simulated boards). Exit status: 0 success, 1 failure,\n"
        "2 usage error. `man korvik` says more.";
    CLI::App app{"Drives evaluation boards (real and simulated) from the command line.\n" + board_syntax, "korvik"};
    Options options;
    app.add_flag("--json", options.json, "Print one JSON document (JSON lines for watch), values in SI units");
    app.add_flag("-v,--verbose", options.verbose, "Show the library's diagnostic lines on standard error");
    bool virtual_air = false;
    bool wait = false;
    app.add_flag("--wait", wait, "Wait for a board that another program holds (or that is not plugged in yet)");
    app.add_flag("--virtual-air", virtual_air,
                 "Packets travel between simulated boards (as KORVIK_VIRTUAL_AIR=1 does)");
    std::vector<std::string> servers;
    app.add_option("--server", servers,
                   "Also use the boards of the korvikd at URI (unix:PATH, tls://HOST:PORT, tcp://HOST:PORT; "
                   "as KORVIK_SERVER does)");
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
        // what `korvik COMMAND --help` would otherwise leave out
        std::string footer;
        if (sub->get_option_no_throw("BOARD") || sub->get_option_no_throw("--tx"))
            footer = board_syntax + "\n";
        sub->footer(footer + global_options);
        if (c->hidden())
            sub->group("");
        by_app[sub] = c.get();
        by_name[c->name()] = c.get();
    }

    // CLI11 would only say that a command is required
    for (int i = 1; i < argc; ++i) {
        const std::string word = argv[i];
        if (word.empty() || word[0] == '-') {
            // the value of a global option (--server URI) is no command
            const CLI::Option* o =
                word.find('=') == std::string::npos ? app.get_option_no_throw(word) : nullptr;
            if (o && o->get_items_expected_min() > 0)
                ++i;
            continue;
        }
        if (!by_name.count(word)) {
            std::vector<std::string> names;
            for (auto& c : commands)
                if (!c->hidden())
                    names.push_back(c->name());
            std::cerr << "korvik: unknown command '" << printable(word) << "'" << did_you_mean(word, names)
                      << "; the commands are:";
            for (const std::string& n : names)
                std::cerr << ' ' << n;
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
    for (const std::string& uri : servers) {
        try {
            KORVIK::Servers::connect(uri);
        } catch (const std::exception& e) {
            messages() << "korvik: " << e.what() << std::endl;
            return EXIT_FAILURE_;
        }
    }
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
