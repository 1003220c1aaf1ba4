#include <cmath>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include <CLI/App.hpp>

#include <korvik/USBDevice.h>

#include "../Command.h"
#include "../Params.h"
#include "../Suggest.h"
#include "../SettingsFiles.h"

namespace korvik_cli {

namespace {

struct Assignment {
    const Param* param;
    std::string text;
    Json asked;
    std::vector<unsigned> registers; // registers this setting changed
};

std::vector<unsigned char> register_values(const KORVIK::USBDevice& d)
{
    std::vector<unsigned char> v(d.get_registers());
    for (unsigned i = 0; i < v.size(); ++i)
        v[i] = d.get_register_chipvalue(i);
    return v;
}

// Everything a setting can depend on, so that a dry run starts where the board is.
void copy_settings(const KORVIK::USBDevice& from, KORVIK::USBDevice& to)
{
    to.set_xtal_frequency(from.get_xtal_frequency());
    to.set_xtal_tolerance(from.get_xtal_tolerance());
    for (unsigned i = 0; i < from.get_registers(); ++i)
        to.set_register_chipvalue(i, from.get_register_chipvalue(i));
    to.set_chacc_channelaccessmode(from.get_chacc_channelaccessmode());
    to.set_chacc_ppersistence(from.get_chacc_ppersistence());
    to.set_chacc_slottime(from.get_chacc_slottime());
    to.set_chacc_rssithreshold(from.get_chacc_rssithreshold());
    to.set_chacc_bgndthreshold(from.get_chacc_bgndthreshold());
    to.set_chacc_preamble(static_cast<unsigned char>(from.get_chacc_preamble()));
    // matching can only be switched on with an address length
    to.set_chacc_addrlength(static_cast<unsigned char>(from.get_chacc_addrlength()));
    to.set_chacc_addrmatch1(from.get_chacc_addrmatch1());
    to.set_chacc_addrmatch2(from.get_chacc_addrmatch2());
    unsigned char addr[6];
    from.get_chacc_addr1(addr);
    to.set_chacc_addr1(addr);
    from.get_chacc_addr2(addr);
    to.set_chacc_addr2(addr);
    to.set_nv_serial(from.get_nv_serial());
    to.set_nv_ethmac(from.get_nv_ethernet_mac());
    to.set_nv_radio_ethmac(from.get_nv_radio_ethernet_mac());
    to.commit_registers();
}

std::string signed_quantity(double v, Unit unit)
{
    const std::string s = format_quantity(v, unit, 4);
    return v > 0 ? "+" + s : s;
}

class SetCommand : public Command {
public:
    const char* name() const override { return "set"; }
    const char* summary() const override
    {
        return "Sets parameters in the order given, commits once, and explains what the chip now holds";
    }
    void setup(CLI::App& app) override
    {
        app.add_option("BOARD", board, "The board")->required();
        app.add_option("PARAM=VALUE", assignments, "Parameters and values, e.g. tx_carrierfrequency=868.3MHz")
            ->required();
        app.add_flag("--dry-run", dry_run, "Compute on a simulated copy of the board and write nothing");
        add_save_option(app, save_file);
    }

    int run(const Options& options) override
    {
        if (dry_run && !save_file.empty())
            throw UsageError("--dry-run writes nothing, --save writes a file: give one of them");
        std::vector<Assignment> todo;
        for (const std::string& a : assignments) {
            const auto eq = a.find('=');
            if (eq == std::string::npos || eq == 0)
                throw UsageError("'" + a + "' is not PARAM=VALUE");
            const std::string n = a.substr(0, eq);
            const Param* p = find_param(n);
            if (!p)
                throw unknown_parameter(n);
            if (p->read_only())
                throw UsageError(n + " is read-only");
            todo.push_back({p, a.substr(eq + 1), Json(), {}});
        }

        Device device = open_board(board);
        // every value is checked before anything is set
        for (Assignment& a : todo) {
            if (!param_available(*a.param, *device))
                throw Failure(std::string(a.param->name) + " does not apply to the " + device->get_chip_name() +
                              " of board '" + board + "'");
            try {
                a.asked = parse_param_value(*a.param, *device, a.text);
            } catch (const ValueError& e) {
                throw Failure("bad value for " + std::string(a.param->name) + ": " + e.what());
            }
        }

        Device copy;
        if (dry_run) {
            copy = open_scratch_board(device->get_chip_name());
            copy_settings(*device, *copy);
        }
        KORVIK::USBDevice& target = dry_run ? *copy : *device;

        const CommitResult result = tracked_commit(target, [&] {
            for (Assignment& a : todo) {
                const std::vector<unsigned char> before = register_values(target);
                a.param->set(target, a.asked);
                const std::vector<unsigned char> after = register_values(target);
                for (unsigned i = 0; i < after.size(); ++i)
                    if (after[i] != before[i])
                        a.registers.push_back(i);
            }
            target.commit_registers();
        });
        if (result.board_failed)
            throw Failure(half_way_report(target, todo, result));
        if (!save_file.empty())
            save_settings(*device, save_file);

        return report(options, *device, target, todo);
    }

private:
    // Which settings reached a board that failed during the commit.
    std::string half_way_report(const KORVIK::USBDevice& d, const std::vector<Assignment>& todo,
                                const CommitResult& result) const
    {
        std::string reached, partly, missing;
        for (const Assignment& a : todo) {
            unsigned got = 0;
            for (unsigned r : a.registers)
                for (unsigned w : result.reached)
                    got += (r == w);
            std::string& list = a.registers.empty() || got == a.registers.size() ? reached : got ? partly : missing;
            list += (list.empty() ? "" : ", ") + std::string(a.param->name);
        }
        std::string text = "board '" + board + "' failed during the commit.\n";
        text += "  reached the board: " + (reached.empty() ? "nothing" : reached) + "\n";
        if (!partly.empty())
            text += "  partly written:    " + partly + "\n";
        text += "  did not reach it:  " + (missing.empty() ? "nothing" : missing) + "\n";
        text += "  registers written: " + register_names(d, result.reached) + "\n";
        text += "  registers lost:    " + register_names(d, result.not_reached);
        return text;
    }

    int report(const Options& options, const KORVIK::USBDevice& board_device, const KORVIK::USBDevice& d,
               const std::vector<Assignment>& todo) const
    {
        Json rows = Json::array();
        for (const Assignment& a : todo) {
            const Param& p = *a.param;
            Json row;
            row["name"] = p.name;
            Json asked = a.asked;
            if (p.kind == Kind::Choice) {
                const auto names = p.choices(d);
                asked = *std::next(names.begin(), asked.get<int>());
            }
            row["asked"] = asked;
            row["value"] = p.get(d);
            if (p.kind == Kind::Quantity || p.kind == Kind::Integer || p.kind == Kind::Hex) {
                const double diff = row["value"].get<double>() - asked.get<double>();
                row["difference"] = diff;
                // relative differences mean something on linear scales only, not for dBm or ppm
                const bool linear = p.unit == Unit::Hz || p.unit == Unit::BitRate || p.unit == Unit::Seconds;
                row["ppm"] = linear && asked.get<double>() != 0 ? Json(diff / std::fabs(asked.get<double>()) * 1e6)
                                                                 : Json();
            } else {
                row["difference"] = nullptr;
                row["ppm"] = nullptr;
            }
            row["equal"] = row["value"] == asked;
            rows.push_back(row);
        }
        if (options.json) {
            print_json(Json{{"board", board_device.get_serial()}, {"dry_run", dry_run}, {"parameters", rows},
                            {"saved", save_file.empty() ? Json() : Json(save_file)}});
            return EXIT_OK;
        }
        std::printf("%-24s %-20s %-20s %s\n", "PARAMETER", "ASKED", "NOW", "DIFFERENCE");
        for (size_t i = 0; i < rows.size(); ++i) {
            const Param& p = *todo[i].param;
            const Json& row = rows[i];
            std::string diff;
            if (row["difference"].is_null()) {
                diff = row["equal"].get<bool>() ? "-" : "differs";
            } else if (row["difference"].get<double>() == 0) {
                diff = "0";
            } else {
                const double dv = row["difference"].get<double>();
                diff = p.kind == Kind::Quantity ? signed_quantity(dv, p.unit) : (dv > 0 ? "+" : "") + std::to_string(long(dv));
                if (!row["ppm"].is_null()) {
                    char buf[48];
                    std::snprintf(buf, sizeof buf, " (%+.4g ppm)", row["ppm"].get<double>());
                    diff += buf;
                }
            }
            std::printf("%-24s %-20s %-20s %s\n", p.name, format_param_value(p, row["asked"]).c_str(),
                        format_param_value(p, row["value"]).c_str(), diff.c_str());
        }
        if (dry_run)
            std::printf("(dry run: nothing was written to the board)\n");
        else if (!save_file.empty())
            std::printf("(settings saved to %s)\n", save_file.c_str());
        else if (board_device.get_boardflags() & 1)
            std::printf("(simulated board: the settings end with this command; --save FILE keeps them)\n");
        return EXIT_OK;
    }

    std::string board;
    std::vector<std::string> assignments;
    bool dry_run = false;
    std::string save_file;
};

} // namespace

std::unique_ptr<Command> make_set_command()
{
    return std::make_unique<SetCommand>();
}

} // namespace korvik_cli
