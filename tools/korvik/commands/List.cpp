#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include <CLI/App.hpp>

#include <korvik/BoardHolding.h>
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
        // boards another program holds are listed, not opened
        Json busy = Json::array();
        for (const auto& b : KORVIK::get_busy_boards())
            busy.push_back(Json{{"interface", b.first}, {"state", b.second}});
        if (options.json) {
            print_json(Json{{"boards", boards}, {"busy", busy}});
            return EXIT_OK;
        }
        for (const Json& b : busy)
            std::cout << printable(b["interface"].get<std::string>()) << ": "
                      << printable(b["state"].get<std::string>()) << std::endl;
        if (boards.empty()) {
            if (busy.empty())
                std::cout << "no boards found" << std::endl;
            return EXIT_OK;
        }
        std::printf("%-12s %-7s %-12s %-5s %8s %8s  %s\n", "SERIAL", "CHIP", "INTERFACE", "STATE", "RX", "TX",
                    "NAME");
        for (const Json& b : boards)
            std::printf("%-12s %-7s %-12s %-5s %8u %8u  %s\n", b["serial"].get<std::string>().c_str(),
                        b["chip"].get<std::string>().c_str(), b["interface"].get<std::string>().c_str(),
                        b["alive"].get<bool>() ? "live" : "dead", b["rx_packets"].get<unsigned>(),
                        b["tx_packets"].get<unsigned>(), printable(b["display_name"].get<std::string>()).c_str());
        return EXIT_OK;
    }
};

} // namespace

std::unique_ptr<Command> make_list_command()
{
    return std::make_unique<ListCommand>();
}

} // namespace korvik_cli
