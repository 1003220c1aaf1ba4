// show: a settings file's parameters in units, one line each, in a fixed
// order; as git's textconv a changed parameter is one changed line.

#include <cstdio>
#include <string>

#include <CLI/App.hpp>

#include <korvik/USBDevice.h>

#include "../Command.h"
#include "../Params.h"
#include "../SettingsFiles.h"

namespace korvik_cli {

namespace {

class ShowCommand : public Command {
public:
    const char* name() const override { return "show"; }
    const char* summary() const override
    {
        return "A settings file's parameters in units, one per line (for git diff's textconv)";
    }
    void setup(CLI::App& app) override
    {
        app.add_option("FILE", file, "The settings file")->required();
        app.add_flag("--registers", registers, "Then the register values, one per line");
    }

    int run(const Options& options) override
    {
        Device d = board_from_file(file);
        Json values;
        for (const Param& p : params())
            if (param_available(p, *d))
                values[p.name] = p.get(*d);
        Json regs;
        if (registers)
            for (unsigned i = 0; i < d->get_registers(); ++i)
                regs[register_key(*d, i)] = d->get_register_chipvalue(i);
        if (options.json) {
            Json out{{"file", file}, {"chip", d->get_chip_name()}, {"parameters", values}};
            if (registers)
                out["registers"] = regs;
            print_json(out);
            return EXIT_OK;
        }
        std::printf("%-24s %s\n", "chip", d->get_chip_name().c_str());
        for (const Param& p : params())
            if (values.contains(p.name))
                std::printf("%-24s %s\n", p.name, format_param_value(p, values[p.name]).c_str());
        for (const auto& r : regs.items())
            std::printf("%-24s 0x%02x\n", r.key().c_str(), r.value().get<unsigned>());
        return EXIT_OK;
    }

private:
    // a name that occurs twice (receive and transmit copies) gets its address
    static std::string register_key(const KORVIK::USBDevice& d, unsigned index)
    {
        const std::string name = d.get_register_name(index);
        unsigned count = 0;
        for (unsigned i = 0; i < d.get_registers(); ++i)
            count += d.get_register_name(i) == name;
        if (count == 1)
            return name;
        char buf[16];
        std::snprintf(buf, sizeof buf, "@0x%03x", d.get_register_operatingaddr(index));
        return name + buf;
    }

    std::string file;
    bool registers = false;
};

} // namespace

std::unique_ptr<Command> make_show_command()
{
    return std::make_unique<ShowCommand>();
}

} // namespace korvik_cli
