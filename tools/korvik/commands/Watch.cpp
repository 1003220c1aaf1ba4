#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <string>

#include <sys/time.h>

#include <CLI/App.hpp>

#include <korvik/USBDevice.h>

#include "../Checks.h"
#include "../Command.h"
#include "../Params.h"

namespace korvik_cli {

namespace {

double host_now()
{
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    return tv.tv_sec + tv.tv_usec / 1e6;
}

std::string iso_time(double t)
{
    const std::time_t whole = std::time_t(std::floor(t));
    const long usec = long(std::lround((t - std::floor(t)) * 1e6)) % 1000000;
    struct tm tm;
    gmtime_r(&whole, &tm);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%06ldZ", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, usec);
    return buf;
}

class WatchCommand : public Command {
public:
    const char* name() const override { return "watch"; }
    const char* summary() const override
    {
        return "One line per status report and received or sent packet, on the board's clock";
    }
    void setup(CLI::App& app) override
    {
        app.add_option("BOARD", board, "The board")->required();
        app.add_flag("--status", status, "Status reports (with --packets: both; neither: both)");
        app.add_flag("--packets", packets, "Received and sent packets");
        takes_duration(app.add_option("--seconds", seconds,
                                      "Stop after this long, e.g. 2m or 500ms; a plain number is in seconds "
                                      "(default: until interrupted)"),
                       "s");
    }

    int run(const Options& options) override
    {
        if (!status && !packets)
            status = packets = true;
        Device d = open_board(board);
        json = options.json;
        std::list<sigc::connection> connections;
        if (status)
            connections.push_back(d->notify_status([&](const KORVIK::USBDeviceStatus& s) { on_status(s); }));
        if (packets) {
            connections.push_back(d->notify_receive_packet(
                sigc::slot<void(const unsigned char*, unsigned int, const unsigned char*, short, int)>(
                    [&](const unsigned char* data, unsigned int len, const unsigned char* mac, short rssi, int fo) {
                        on_packet("rx", data, len, mac, rssi, d->convert_frequencyoffset(fo), true);
                    })));
            connections.push_back(d->notify_transmit_packet(
                sigc::slot<void(const unsigned char*, unsigned int, const unsigned char*)>(
                    [&](const unsigned char* data, unsigned int len, const unsigned char* mac) {
                        on_packet("tx", data, len, mac, 0, 0, false);
                    })));
        }
        const auto limit = seconds >= 0 ? std::chrono::milliseconds(std::llround(seconds * 1000))
                                        : std::chrono::milliseconds(std::chrono::hours(24 * 365));
        // a reader that went away ends the watch (and frees the board), as the
        // shell's pipes expect; main reports the failed output
        run_loop(limit, [&] { return d->is_dead() || output_failed; });
        for (sigc::connection& c : connections)
            c.disconnect();
        if (d->is_dead())
            throw Failure("board '" + board + "' went away");
        return EXIT_OK;
    }

private:
    // Packets carry no board time: they are placed on the board's clock by
    // the offset of the last status report.
    double board_time() const { return host_now() + clock_offset; }

    void emit(const Json& j, const std::string& text)
    {
        if (output_failed)
            return;
        if (json)
            std::cout << j.dump() << '\n' << std::flush;
        else
            std::cout << text << '\n' << std::flush;
        if (!std::cout.good() || std::ferror(stdout))
            output_failed = true;
    }

    void on_status(const KORVIK::USBDeviceStatus& s)
    {
        const double t = s.time_sec + s.time_usec / 1e6;
        clock_offset = t - host_now();
        unsigned flags = 0;
        const bool bits[8] = {s.flag0, s.flag1, s.flag2, s.flag3, s.flag4, s.flag5, s.flag6, s.flag7};
        for (unsigned b = 0; b < 8; ++b)
            flags |= unsigned(bits[b]) << b;
        Json j{{"time", t},
               {"type", "status"},
               {"ticks", s.ticks},
               {"progstate", s.progstate},
               {"progdetail", s.progdetail},
               {"flags", flags},
               {"values", {s.value1, s.value2, s.value3}},
               {"aux", {s.aux1, s.aux2, s.aux3}}};
        char text[160];
        std::snprintf(text, sizeof text, "%s status ticks %u progstate %u/%u flags 0x%02x values %u %u %u",
                      iso_time(t).c_str(), s.ticks, s.progstate, s.progdetail, flags, s.value1, s.value2, s.value3);
        emit(j, text);
    }

    void on_packet(const char* type, const unsigned char* data, unsigned len, const unsigned char* mac, int rssi,
                   double offset_hz, bool received)
    {
        const double t = board_time();
        const std::string hex = hex_string(data, len);
        const std::string address = mac ? format_mac(mac) : "";
        Json j{{"time", t}, {"type", type}, {"length", len}, {received ? "source" : "destination", address}};
        std::string text = iso_time(t) + " " + type + " " + std::to_string(len) + " bytes " +
                           (received ? "from " : "to ") + address;
        if (received) {
            j["rssi"] = rssi;
            j["frequency_offset"] = offset_hz;
            text += " rssi " + std::to_string(rssi) + " offset " + format_quantity(offset_hz, Unit::Hz);
        }
        j["data"] = hex;
        emit(j, text + ": " + hex);
    }

    std::string board;
    bool status = false;
    bool packets = false;
    bool json = false;
    bool output_failed = false;
    double seconds = -1;
    double clock_offset = 0;
};

} // namespace

std::unique_ptr<Command> make_watch_command()
{
    return std::make_unique<WatchCommand>();
}

} // namespace korvik_cli
