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

std::string join_values(const std::vector<double>& values, Unit unit)
{
    std::string s;
    for (size_t k = 0; k < values.size(); ++k)
        s += (k ? (k + 1 == values.size() ? " and " : ", ") : "") + format_quantity(values[k], Unit::None);
    const char* u = unit_name(unit);
    return *u ? s + " " + u : s;
}

// What a strict refusal says, in the units people typed.
std::string refusal(const KORVIK::ParamReport& r, const Param& p, const Json& asked)
{
    if (p.kind != Kind::Quantity && p.kind != Kind::Integer && p.kind != Kind::Hex)
        return r.error;
    const std::string a = format_param_value(p, asked);
    const Json nearest = r.nearest;
    const KORVIK::ParamLimits& l = r.limits;
    std::string why;
    if (!l.levels.empty())
        why = a + " lies outside the levels " + join_values(l.levels, p.unit);
    else if (asked.get<double>() < l.min || asked.get<double>() > l.max)
        why = a + " lies outside " + format_param_value(p, Json(l.min)) + " to " + format_param_value(p, Json(l.max));
    else
        why = a + " lies between the chip's steps (" + format_param_value(p, Json(l.step)) + " here)";
    return std::string(p.name) + ": " + why + "; the nearest value is " + format_param_value(p, nearest) +
           ". Nothing was written (--clamp sets the nearest value)";
}

// Values the board itself does not keep: the crystal and the NV identity
// live in the host's copy until they are stored, and the next command reads
// them from the board's flash again (with the crystal, the carrier and rates
// it derives would then read wrong).
bool held_by_host(const Param& p)
{
    const std::string name = p.name;
    return name == "xtal_frequency" || name == "xtal_tolerance" || name.rfind("nv_", 0) == 0;
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
        app.add_flag("--dry-run", dry_run, "Compute on a copy of the board's settings and write nothing");
        app.add_flag("--clamp", clamp,
                     "Set a value the chip cannot hold to the nearest one it can (by default such a value "
                     "refuses the whole command and nothing is written)");
        app.add_flag("--store", store,
                     "Also store the settings as the board's defaults (needed for the crystal and nv_ values, "
                     "which only the stored defaults keep)");
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
        if (dry_run && store)
            throw UsageError("--dry-run writes nothing, so it cannot --store");
        for (const Assignment& a : todo)
            if (held_by_host(*a.param) && !store && !dry_run)
                throw UsageError(std::string(a.param->name) +
                                 " is kept only in the board's stored defaults: set alone it would be lost when "
                                 "this command ends (the next one reads it from the board again); add --store to "
                                 "store it with the board's defaults");

        Device device = open_board(board);
        // every value is read before anything is set
        std::vector<KORVIK::ParamAssignment> request;
        for (Assignment& a : todo) {
            if (!param_available(*a.param, *device))
                throw Failure(std::string(a.param->name) + " does not apply to the " + device->get_chip_name() +
                              " of board '" + board + "'");
            try {
                a.asked = parse_param_value(*a.param, *device, a.text);
            } catch (const ValueError& e) {
                throw Failure("bad value for " + std::string(a.param->name) + ": " + e.what());
            }
            request.push_back({a.param->name, to_param_value(*a.param, a.asked)});
        }

        // the whole transaction on a copy first: a refusal writes nothing
        const KORVIK::ParamPolicy policy = clamp ? KORVIK::ParamPolicy::clamp : KORVIK::ParamPolicy::strict;
        const KORVIK::ParamReport check = device->check_params(request, policy);
        if (!check.accepted) {
            for (const Assignment& a : todo)
                if (check.refused == a.param->name)
                    throw Failure(refusal(check, *a.param, a.asked));
            throw Failure(check.error);
        }
        if (dry_run)
            return report(options, *device, check);

        // each setting on its own, so that a board failing during the one
        // commit can be told which settings reached it
        KORVIK::ParamReport done = check;
        const CommitResult result = tracked_commit(*device, [&] {
            for (size_t k = 0; k < todo.size(); ++k) {
                const std::vector<unsigned char> regs_before = register_values(*device);
                const KORVIK::ParamReport one = device->set_params({request[k]}, policy);
                if (!one.accepted)
                    throw Failure(one.error);
                done.outcomes[k].achieved = one.outcomes[0].achieved;
                const std::vector<unsigned char> regs_after = register_values(*device);
                for (unsigned i = 0; i < regs_after.size(); ++i)
                    if (regs_after[i] != regs_before[i])
                        todo[k].registers.push_back(i);
            }
            device->commit_registers();
        });
        if (result.board_failed)
            throw Failure(half_way_report(*device, todo, result));
        if (store) {
            try {
                device->store_boarddefaults();
            } catch (const std::exception& e) {
                throw Failure(std::string("the settings reached the board, but storing them as its defaults "
                                          "failed: ") + e.what());
            }
            if (device->is_dead())
                throw Failure("the settings reached the board, but it stopped answering while they were stored "
                              "as its defaults");
        }
        for (size_t k = 0; k < todo.size(); ++k)
            done.outcomes[k].achieved = device->get_param(todo[k].param->name);
        if (!save_file.empty())
            save_settings(*device, save_file);
        return report(options, *device, done);
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

    Json value_json(const Param& p, const KORVIK::USBDevice& d, const KORVIK::ParamValue& v) const
    {
        switch (p.kind) {
        case Kind::Quantity:
            return v.number;
        case Kind::Integer:
        case Kind::Hex:
            return static_cast<long long>(std::llround(v.number));
        case Kind::Bool:
            return v.number != 0;
        case Kind::Choice: {
            const auto names = p.choices(d);
            const long id = std::lround(v.number);
            return id >= 0 && id < long(names.size()) ? Json(*std::next(names.begin(), id)) : Json(id);
        }
        default:
            return v.text;
        }
    }

    int report(const Options& options, const KORVIK::USBDevice& d, const KORVIK::ParamReport& r) const
    {
        Json rows = Json::array();
        for (const KORVIK::ParamOutcome& o : r.outcomes) {
            const Param& p = *find_param(o.name);
            Json row;
            row["name"] = p.name;
            row["asked"] = value_json(p, d, o.asked);
            row["value"] = value_json(p, d, o.achieved);
            if (p.kind == Kind::Quantity || p.kind == Kind::Integer || p.kind == Kind::Hex) {
                row["difference"] = o.achieved.number - o.asked.number;
                row["ppm"] = o.has_ppm ? Json(o.ppm) : Json();
            } else {
                row["difference"] = nullptr;
                row["ppm"] = nullptr;
            }
            row["equal"] = row["value"] == row["asked"];
            row["clamped"] = o.clamped;
            row["rounded"] = o.rounded;
            Json effects = Json::array();
            for (const KORVIK::ParamChange& c : o.side_effects) {
                const Param* q = find_param(c.name);
                if (!q)
                    continue;
                effects.push_back(Json{{"name", c.name}, {"before", value_json(*q, d, c.before)},
                                       {"value", value_json(*q, d, c.after)}});
            }
            row["side_effects"] = effects;
            rows.push_back(row);
        }
        if (options.json) {
            print_json(Json{{"board", d.get_serial()}, {"dry_run", dry_run}, {"stored", store}, {"parameters", rows},
                            {"saved", save_file.empty() ? Json() : Json(save_file)}});
            return EXIT_OK;
        }
        std::printf("%-24s %-20s %-20s %s\n", "PARAMETER", "ASKED", "NOW", "DIFFERENCE");
        for (const Json& row : rows) {
            const Param& p = *find_param(row["name"].get<std::string>());
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
            if (row["clamped"].get<bool>())
                diff += " clamped to the limit";
            std::printf("%-24s %-20s %-20s %s\n", p.name, format_param_value(p, row["asked"]).c_str(),
                        format_param_value(p, row["value"]).c_str(), diff.c_str());
            for (const Json& e : row["side_effects"]) {
                const Param* q = find_param(e["name"].get<std::string>());
                if (!q)
                    continue;
                const std::string was = e["before"].is_null() ? "-" : format_param_value(*q, e["before"]);
                const std::string now = e["value"].is_null() ? "-" : format_param_value(*q, e["value"]);
                std::printf("  also changed: %s %s -> %s\n", q->name, was.c_str(), now.c_str());
            }
        }
        if (dry_run)
            std::printf("(dry run: nothing was written to the board)\n");
        else if (store)
            std::printf("(stored as the board's defaults)\n");
        else if (!save_file.empty())
            std::printf("(settings saved to %s)\n", save_file.c_str());
        else if (d.get_boardflags() & 1)
            std::printf("(simulated board: the settings end with this command; --save FILE keeps them)\n");
        return EXIT_OK;
    }

    std::string board;
    std::vector<std::string> assignments;
    bool dry_run = false;
    bool clamp = false;
    bool store = false;
    std::string save_file;
};

} // namespace

std::unique_ptr<Command> make_set_command()
{
    return std::make_unique<SetCommand>();
}

} // namespace korvik_cli
