#include <chrono>
#include <cmath>
#include <iostream>
#include <string>

#include <CLI/App.hpp>

#include <korvik/USBDevice.h>

#include "../Command.h"

namespace korvik_cli {

namespace {

class CaptureCommand : public Command {
public:
    const char* name() const override { return "capture"; }
    const char* summary() const override
    {
        return "Write the board's frames, with their times, to a capture file for tcpdump, Wireshark or replay";
    }
    void setup(CLI::App& app) override
    {
        app.add_option("BOARD", board, "The board")->required();
        app.add_option("-o,--output", file, "Capture file to write (replaced if it exists)")->required();
        auto* s = app.add_option("--seconds", seconds, "Stop after this many seconds")->check(CLI::NonNegativeNumber);
        auto* c = app.add_option("--count", count, "Stop after this many frames")->check(CLI::PositiveNumber);
        s->excludes(c);
        c->excludes(s);
    }

    int run(const Options& options) override
    {
        using KORVIK::USBDevice;
        const bool simulated = board.rfind("sim:", 0) == 0;
        // a real board's capture begins before discovery, which finds and
        // opens it; a simulated one exists only once opened
        if (!simulated && !USBDevice::start_capture(file, false, board))
            throw Failure("cannot write " + file);
        Device d;
        try {
            d = open_board(board);
        } catch (...) {
            USBDevice::stop_capture();
            throw;
        }
        if (simulated && !USBDevice::start_capture(file, false, d->get_interface()))
            throw Failure("cannot write " + file);
        const auto limit = seconds >= 0 ? std::chrono::milliseconds(std::llround(seconds * 1000))
                                        : std::chrono::milliseconds(std::chrono::hours(24 * 365));
        {
            Progress progress(options, "capturing " + board + " to " + file);
            run_loop(limit, [&] { return d->is_dead() || (count > 0 && USBDevice::get_captured_frames() >= count); });
        }
        const unsigned long long frames = USBDevice::get_captured_frames();
        USBDevice::stop_capture();
        if (options.json)
            print_json(Json{{"board", d->get_serial()}, {"file", file}, {"frames", frames}});
        else
            messages() << frames << " frames written to " << file << std::endl;
        if (d->is_dead())
            throw Failure("board '" + board + "' went away");
        return EXIT_OK;
    }

private:
    std::string board;
    std::string file;
    double seconds = -1;
    unsigned long long count = 0;
};

} // namespace

std::unique_ptr<Command> make_capture_command()
{
    return std::unique_ptr<Command>(new CaptureCommand);
}

} // namespace korvik_cli
