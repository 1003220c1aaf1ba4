#include <cstdio>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include <CLI/App.hpp>

#include <korvik/USBDevice.h>

#include "../Command.h"
#include "../SettingsFiles.h"
#include "../Suggest.h"
#include "../Units.h"

namespace korvik_cli {

namespace {

struct Write {
    std::string name;
    bool bitfield;
    unsigned index;
    unsigned long value;
};

class PokeCommand : public Command {
public:
    const char* name() const override { return "poke"; }
    const char* summary() const override { return "Writes registers or bitfields by name (hex or decimal), commits"; }
    void setup(CLI::App& app) override
    {
        app.add_option("BOARD", board, "The board")->required();
        app.add_option("NAME=VALUE", assignments, "Register or bitfield names and values, e.g. FREQ3=0x21 or FREQ2@0x089=0x10")
            ->required();
        add_save_option(app, save_file);
    }

    int run(const Options& options) override
    {
        Device d = open_board(board);
        std::vector<Write> writes;
        // every name and value is checked before anything is written
        for (const std::string& a : assignments) {
            const auto eq = a.find('=');
            if (eq == std::string::npos || eq == 0)
                throw UsageError("'" + a + "' is not NAME=VALUE");
            writes.push_back(resolve(*d, a.substr(0, eq), a.substr(eq + 1)));
        }

        const CommitResult result = tracked_commit(*d, [&] {
            for (const Write& w : writes) {
                if (w.bitfield)
                    d->set_bitfield_chipvalue(w.index, unsigned(w.value));
                else
                    d->set_register_chipvalue(w.index, static_cast<unsigned char>(w.value));
            }
            d->commit_registers();
        });
        if (result.board_failed)
            throw Failure("board '" + board + "' failed during the commit.\n  registers written: " +
                          register_names(*d, result.reached) + "\n  registers lost:    " +
                          register_names(*d, result.not_reached));
        if (!save_file.empty())
            save_settings(*d, save_file);

        Json rows = Json::array();
        for (const Write& w : writes) {
            const unsigned now = w.bitfield ? d->get_bitfield_chipvalue(w.index) : d->get_register_chipvalue(w.index);
            rows.push_back(Json{{"name", w.name},
                                {"kind", w.bitfield ? "bitfield" : "register"},
                                {"asked", w.value},
                                {"value", now}});
        }
        if (options.json) {
            print_json(Json{{"board", d->get_serial()},
                            {"written", rows},
                            {"saved", save_file.empty() ? Json() : Json(save_file)}});
            return EXIT_OK;
        }
        for (const Json& r : rows) {
            const unsigned long asked = r["asked"].get<unsigned long>();
            const unsigned long now = r["value"].get<unsigned long>();
            std::printf("%-20s 0x%02lx%s\n", r["name"].get<std::string>().c_str(), now,
                        now == asked ? "" : "  (bits outside the register's mask keep their reset value)");
        }
        if (!save_file.empty())
            std::printf("(settings saved to %s)\n", save_file.c_str());
        return EXIT_OK;
    }

private:
    Write resolve(const KORVIK::USBDevice& d, const std::string& name, const std::string& text) const
    {
        // a name the chip has twice (receive and transmit copies) takes its address, as diff prints it
        int reg = -1;
        try {
            reg = d.find_register(name);
        } catch (const std::invalid_argument& e) {
            throw UsageError(e.what());
        }
        if (reg >= 0)
            return {d.get_register_label(unsigned(reg)), false, unsigned(reg), parse_value(name, text, 0xFF)};
        for (unsigned i = 0; i < d.get_bitfields(); ++i)
            if (d.get_bitfield_name(i) == name) {
                const unsigned bits = d.get_bitfield_bitlength(i);
                return {name, true, i, parse_value(name, text, bits >= 32 ? 0xFFFFFFFFul : (1ul << bits) - 1)};
            }
        std::vector<std::string> names;
        for (unsigned i = 0; i < d.get_registers(); ++i)
            names.push_back(d.get_register_name(i));
        for (unsigned i = 0; i < d.get_bitfields(); ++i)
            names.push_back(d.get_bitfield_name(i));
        throw UsageError("no register or bitfield '" + name + "'" + did_you_mean(name, names) + " on the " +
                         d.get_chip_name() +
                         "; `korvik regs BOARD` and `korvik regs BOARD --bitfields` list them");
    }

    static unsigned long parse_value(const std::string& name, const std::string& text, unsigned long max)
    {
        try {
            return parse_unsigned(text, max);
        } catch (const ValueError& e) {
            throw Failure("bad value for " + name + ": " + e.what());
        }
    }

    std::string board;
    std::vector<std::string> assignments;
    std::string save_file;
};

} // namespace

std::unique_ptr<Command> make_poke_command()
{
    return std::make_unique<PokeCommand>();
}

} // namespace korvik_cli
