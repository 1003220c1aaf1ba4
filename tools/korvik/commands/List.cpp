#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include <CLI/App.hpp>

#include <korvik/BoardHolding.h>
#include <korvik/Servers.h>
#include <korvik/USBDevice.h>

#include "../Command.h"
#ifdef KORVIK_DNSSD
#include "Discovery.h"
#endif

namespace korvik_cli {

namespace {

class ListCommand : public Command {
public:
    const char* name() const override { return "list"; }
    const char* summary() const override
    {
        return "Every board found: serial, chip, interface, display name, live/dead, packet counters";
    }
    void setup(CLI::App& app) override
    {
        app.add_flag("--servers", servers, "List the korvikd servers that answer on DNS-SD instead");
        app.add_option("--timeout", timeout_ms, "How long --servers looks, in ms (default 1000, at most 1000)")
            ->check(CLI::Range(1, 1000));
    }

    int run(const Options& options) override
    {
        if (servers)
            return list_servers(options);
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
            if (KORVIK::Servers::is_remote(*d))
                b["lease"] = KORVIK::Servers::lease_holder(*d);
            boards.push_back(b);
        }
        // boards another program holds are listed, not opened
        Json busy = Json::array();
        for (const auto& b : KORVIK::get_busy_boards())
            busy.push_back(Json{{"interface", b.first}, {"state", b.second}});
        // Adapters that name a board but could not be used: without -v the
        // reason would be hidden, and "no boards" would look like success.
        const std::vector<std::string> problems = adapter_problems();
        const int status = boards.empty() && busy.empty() && !problems.empty() ? EXIT_FAILURE_ : EXIT_OK;
        if (!options.verbose)
            for (const std::string& p : problems)
                messages() << "korvik list: " << p << std::endl;
        if (options.json) {
            print_json(Json{{"boards", boards}, {"busy", busy}});
            return status;
        }
        for (const Json& b : busy)
            std::cout << printable(b["interface"].get<std::string>()) << ": "
                      << printable(b["state"].get<std::string>()) << std::endl;
        if (boards.empty()) {
            if (busy.empty())
                std::cout << "no boards found" << std::endl;
            return status;
        }
        std::printf("%-12s %-7s %-12s %-5s %8s %8s  %s\n", "SERIAL", "CHIP", "INTERFACE", "STATE", "RX", "TX",
                    "NAME");
        for (const Json& b : boards)
            std::printf("%-12s %-7s %-12s %-5s %8u %8u  %s\n", b["serial"].get<std::string>().c_str(),
                        b["chip"].get<std::string>().c_str(), b["interface"].get<std::string>().c_str(),
                        b["alive"].get<bool>() ? "live" : "dead", b["rx_packets"].get<unsigned>(),
                        b["tx_packets"].get<unsigned>(), printable(b["display_name"].get<std::string>()).c_str());
        // a served board says who holds it
        for (const Json& b : boards)
            if (b.contains("lease") && !b["lease"].get<std::string>().empty())
                std::printf("%s: leased by %s\n", b["interface"].get<std::string>().c_str(),
                            printable(b["lease"].get<std::string>()).c_str());
        return EXIT_OK;
    }

private:
    int list_servers(const Options& options)
    {
#ifdef KORVIK_DNSSD
        std::vector<korvikd::FoundServer> found;
        try {
            found = korvikd::browse_servers(timeout_ms);
        } catch (const std::exception& e) {
            throw Failure(e.what());
        }
        Json list = Json::array();
        for (const auto& s : found)
            list.push_back(Json{{"name", s.name}, {"uri", s.uri()}, {"tls", s.tls}, {"address", s.address}});
        if (options.json) {
            print_json(Json{{"servers", list}});
        } else if (found.empty()) {
            std::cout << "no servers found" << std::endl;
        } else {
            for (const auto& s : found)
                std::printf("%-40s %s\n", s.uri().c_str(), s.name.c_str());
        }
        return EXIT_OK;
#else
        (void)options;
        throw Failure("this korvik was built without DNS-SD");
#endif
    }

    bool servers = false;
    int timeout_ms = 1000;
};

} // namespace

std::unique_ptr<Command> make_list_command()
{
    return std::make_unique<ListCommand>();
}

} // namespace korvik_cli
