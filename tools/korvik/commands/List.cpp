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
            if (!d)
                continue;
            Json b = board_identity(*d);
            if (d->is_remote())
                b["lease"] = d->get_lease_holder();
            boards.push_back(b);
        }
        if (options.json) {
            print_json(Json{{"boards", boards}});
            return EXIT_OK;
        }
        if (boards.empty()) {
            std::cout << "no boards found" << std::endl;
            return EXIT_OK;
        }
        std::printf("%-12s %-7s %-12s %-5s %8s %8s  %s\n", "SERIAL", "CHIP", "INTERFACE", "STATE", "RX", "TX",
                    "NAME");
        for (const Json& b : boards)
            std::printf("%-12s %-7s %-12s %-5s %8u %8u  %s\n", b["serial"].get<std::string>().c_str(),
                        b["chip"].get<std::string>().c_str(), b["interface"].get<std::string>().c_str(),
                        b["alive"].get<bool>() ? "live" : "dead", b["rx_packets"].get<unsigned>(),
                        b["tx_packets"].get<unsigned>(), b["display_name"].get<std::string>().c_str());
        // a served board says who holds it
        for (const Json& b : boards)
            if (b.contains("lease") && !b["lease"].get<std::string>().empty())
                std::printf("%s: leased by %s\n", b["interface"].get<std::string>().c_str(),
                            b["lease"].get<std::string>().c_str());
        return EXIT_OK;
    }
};

} // namespace

std::unique_ptr<Command> make_list_command()
{
    return std::make_unique<ListCommand>();
}

} // namespace korvik_cli
