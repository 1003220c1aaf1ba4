#include <cstdio>
#include <iostream>
#include <string>

#include <CLI/App.hpp>

#include <korvik/USBDevice.h>

#include "../Command.h"

namespace korvik_cli {

namespace {

class RegsCommand : public Command {
public:
    const char* name() const override { return "regs"; }
    const char* summary() const override
    {
        return "Register (or bitfield) dump: index, name, addresses, mask, chip/NV/default value";
    }
    void setup(CLI::App& app) override
    {
        app.add_option("BOARD", board, "The board")->required();
        app.add_flag("--bitfields", bitfields, "Dump the named bitfields instead of the registers");
        app.add_flag("--changed", changed, "Only those whose chip value differs from the default");
    }

    int run(const Options& options) override
    {
        Device d = open_board(board);
        Json rows = Json::array();
        if (bitfields) {
            for (unsigned i = 0; i < d->get_bitfields(); ++i) {
                if (changed && d->get_bitfield_chipvalue(i) == d->get_bitfield_defaultvalue(i))
                    continue;
                rows.push_back(Json{{"index", i},
                                    {"name", d->get_bitfield_name(i)},
                                    {"bits", d->get_bitfield_bitlength(i)},
                                    {"chip", d->get_bitfield_chipvalue(i)},
                                    {"nv", d->get_bitfield_nvvalue(i)},
                                    {"default", d->get_bitfield_defaultvalue(i)},
                                    {"description", d->get_bitfield_description(i)}});
            }
        } else {
            for (unsigned i = 0; i < d->get_registers(); ++i) {
                if (changed && d->get_register_chipvalue(i) == d->get_register_defaultvalue(i))
                    continue;
                rows.push_back(Json{{"index", i},
                                    {"name", d->get_register_name(i)},
                                    {"chipaddr", d->get_register_chipaddr(i)},
                                    {"operatingaddr", d->get_register_operatingaddr(i)},
                                    {"mask", d->get_register_mask(i)},
                                    {"chip", d->get_register_chipvalue(i)},
                                    {"nv", d->get_register_nvvalue(i)},
                                    {"default", d->get_register_defaultvalue(i)},
                                    {"receive", d->is_register_receive(i)},
                                    {"transmit", d->is_register_transmit(i)},
                                    {"shared", d->is_register_shared(i)}});
            }
        }
        if (options.json) {
            print_json(Json{{"board", d->get_serial()}, {"chip", d->get_chip_name()},
                            {bitfields ? "bitfields" : "registers", rows}});
            return EXIT_OK;
        }
        if (bitfields) {
            std::printf("%5s %-20s %4s %8s %8s %8s  %s\n", "INDEX", "NAME", "BITS", "CHIP", "NV", "DEFAULT",
                        "DESCRIPTION");
            for (const Json& r : rows)
                std::printf("%5u %-20s %4u %8x %8x %8x  %s\n", r["index"].get<unsigned>(),
                            r["name"].get<std::string>().c_str(), r["bits"].get<unsigned>(),
                            r["chip"].get<unsigned>(), r["nv"].get<unsigned>(), r["default"].get<unsigned>(),
                            r["description"].get<std::string>().c_str());
        } else {
            std::printf("%5s %-16s %6s %6s %4s %4s %4s %7s  %s\n", "INDEX", "NAME", "CADDR", "OADDR", "MASK", "CHIP",
                        "NV", "DEFAULT", "DIR");
            for (const Json& r : rows) {
                const std::string dir = std::string(r["receive"].get<bool>() ? "rx" : "") +
                                        (r["transmit"].get<bool>() ? (r["receive"].get<bool>() ? "+tx" : "tx") : "") +
                                        (r["shared"].get<bool>() ? " shared" : "");
                std::printf("%5u %-16s 0x%04x 0x%04x 0x%02x 0x%02x 0x%02x    0x%02x  %s\n", r["index"].get<unsigned>(),
                            r["name"].get<std::string>().c_str(), r["chipaddr"].get<unsigned>(),
                            r["operatingaddr"].get<unsigned>(), r["mask"].get<unsigned>(), r["chip"].get<unsigned>(),
                            r["nv"].get<unsigned>(), r["default"].get<unsigned>(), dir.c_str());
            }
        }
        return EXIT_OK;
    }

private:
    std::string board;
    bool bitfields = false;
    bool changed = false;
};

} // namespace

std::unique_ptr<Command> make_regs_command()
{
    return std::make_unique<RegsCommand>();
}

} // namespace korvik_cli
