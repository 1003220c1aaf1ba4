#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include <CLI/App.hpp>

#include <korvik/USBDevice.h>

#include "../Command.h"

namespace korvik_cli {

namespace {

class ListCommand : public Command {
public:
    const char* name() const override { return "list"; }
    const char* summary() const override
    {
        return "Every board found: serial, chip, interface, display name, live/dead, packet counters";
    }
    void setup(CLI::App&) override {}

    int run(const Options& options) override
    {
        std::vector<std::string> interfaces;
        {
            // the first library call scans every adapter
            Progress progress(options, "Scanning for boards");
            sigc::connection c = KORVIK::USBDevice::notify_device_connect(
                sigc::slot<void(const std::string&, const std::string&)>(
                    [&](const std::string& iface, const std::string&) { interfaces.push_back(iface); }));
            c.disconnect();
        }
        Json boards = Json::array();
        for (const std::string& iface : interfaces) {
            Device d(KORVIK::USBDevice::open_iface(iface));
            if (d)
                boards.push_back(board_identity(*d));
        }
        // Adapters that name a board but could not be used: without -v the
        // reason would be hidden, and "no boards" would look like success.
        const std::vector<std::string> problems = adapter_problems();
        const int status = boards.empty() && !problems.empty() ? EXIT_FAILURE_ : EXIT_OK;
        if (!options.verbose)
            for (const std::string& p : problems)
                messages() << "korvik list: " << p << std::endl;
        if (options.json) {
            print_json(Json{{"boards", boards}});
            return status;
        }
        if (boards.empty()) {
            std::cout << "no boards found" << std::endl;
            return status;
        }
        std::printf("%-12s %-7s %-12s %-5s %8s %8s  %s\n", "SERIAL", "CHIP", "INTERFACE", "STATE", "RX", "TX",
                    "NAME");
        for (const Json& b : boards)
            std::printf("%-12s %-7s %-12s %-5s %8u %8u  %s\n", b["serial"].get<std::string>().c_str(),
                        b["chip"].get<std::string>().c_str(), b["interface"].get<std::string>().c_str(),
                        b["alive"].get<bool>() ? "live" : "dead", b["rx_packets"].get<unsigned>(),
                        b["tx_packets"].get<unsigned>(), b["display_name"].get<std::string>().c_str());
        return EXIT_OK;
    }
};

} // namespace

std::unique_ptr<Command> make_list_command()
{
    return std::make_unique<ListCommand>();
}

} // namespace korvik_cli
