#include <cmath>
#include <chrono>
#include <iostream>
#include <string>

#include <CLI/App.hpp>

#include <korvik/USBDevice.h>

#include "../Checks.h"
#include "../Command.h"
#include "../Params.h"

namespace korvik_cli {

namespace {

class SendCommand : public Command {
public:
    const char* name() const override { return "send"; }
    const char* summary() const override { return "Sends a packet (HEX bytes), once or --count times"; }
    void setup(CLI::App& app) override
    {
        app.add_option("BOARD", board, "The board")->required();
        app.add_option("HEX", hex, "The packet as hexadecimal bytes, e.g. 01020a0b or 01:02:0a:0b")->required();
        app.add_option("--count", count, "How many times, 1 to 1000000 (default 1)")
            ->check(within(1, 1000000, "a packet count"));
        takes_duration(app.add_option("--interval", interval_ms,
                                      "Time between packets, e.g. 5ms or 1s; a plain number is in ms (default 100)"),
                       "ms");
        app.add_option("--to", to, "Destination MAC (default: the board's NV radio MAC)");
    }

    int run(const Options& options) override
    {
        std::string data;
        unsigned char destination[6];
        try {
            data = parse_hex_data(hex);
            if (!to.empty())
                parse_mac(to, destination);
        } catch (const ValueError& e) {
            throw Failure(e.what());
        }
        if (data.empty())
            throw Failure("the packet is empty");
        Device d = open_board(board);
        const std::string why = why_cannot_send(*d);
        if (!why.empty())
            throw Failure("board '" + board + "' cannot send: " + why);
        unsigned sent = 0;
        for (unsigned i = 0; i < count && !interrupted(); ++i) {
            if (i)
                run_loop(std::chrono::milliseconds(std::llround(interval_ms)));
            try {
                d->send_packet(reinterpret_cast<const unsigned char*>(data.data()), unsigned(data.size()),
                               to.empty() ? nullptr : destination);
            } catch (const std::exception& e) {
                throw Failure("packet " + std::to_string(i + 1) + " of " + std::to_string(count) +
                              " could not be sent (" + std::to_string(sent) + " sent): " + e.what());
            }
            ++sent;
            KORVIK::USBDevice::periodic();
        }
        if (options.json)
            print_json(Json{{"board", d->get_serial()}, {"sent", sent}, {"length", data.size()}});
        else
            std::cout << "sent " << sent << " packet" << (sent == 1 ? "" : "s") << " of " << data.size() << " bytes"
                      << std::endl;
        return sent == count ? EXIT_OK : EXIT_FAILURE_;
    }

private:
    std::string board;
    std::string hex;
    unsigned count = 1;
    double interval_ms = 100;
    std::string to;
};

} // namespace

std::unique_ptr<Command> make_send_command()
{
    return std::make_unique<SendCommand>();
}

} // namespace korvik_cli
