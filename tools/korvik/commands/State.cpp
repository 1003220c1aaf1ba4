// state: settings files for a board another program holds (the Python
// package's Board.save and Board.load). The board's state comes on standard
// input as JSON, is put on a simulated board of the same chip, and the file is
// written or applied there by the same code as save and load; load prints the
// state that results, which the caller then puts on its board.

#include <iostream>
#include <iterator>
#include <string>

#include <QString>

#include <CLI/App.hpp>

#include <korvik/USBDevice.h>

#include "../Command.h"
#include "core/SettingsFile.h"

namespace korvik_cli {

namespace {

bool numeric(const KORVIK::ParamInfo& p)
{
    return p.kind != KORVIK::ParamKind::address && p.kind != KORVIK::ParamKind::text;
}

// What a settings file holds besides the registers.
bool in_settings_file(const KORVIK::ParamInfo& p)
{
    const std::string n = p.name;
    return p.writable && (n.rfind("xtal_", 0) == 0 || n.rfind("chacc_", 0) == 0 || n.rfind("nv_", 0) == 0);
}

Json state_of(const KORVIK::USBDevice& d)
{
    Json params = Json::object();
    for (const KORVIK::ParamInfo& p : KORVIK::USBDevice::get_param_table()) {
        if (!in_settings_file(p) || !d.has_param(p.name))
            continue;
        const KORVIK::ParamValue v = d.get_param(p.name);
        params[p.name] = numeric(p) ? Json(v.number) : Json(v.text);
    }
    Json registers = Json::array();
    for (unsigned i = 0; i < d.get_registers(); ++i)
        registers.push_back(d.get_register_chipvalue(i));
    return Json{{"chip", d.get_chip_name()}, {"params", params}, {"registers", registers}};
}

void put_state(KORVIK::USBDevice& d, const Json& state)
{
    if (!state.is_object())
        throw UsageError("the board state on standard input is not a JSON object");
    const Json params = state.value("params", Json::object());
    const Json registers = state.value("registers", Json::array());
    if (!params.is_object() || !registers.is_array())
        throw UsageError("the board state needs \"params\" as an object and \"registers\" as an array");
    if (registers.size() != d.get_registers())
        throw UsageError("the board state has " + std::to_string(registers.size()) + " registers; the " +
                         d.get_chip_name() + " has " + std::to_string(d.get_registers()));
    for (auto it = params.begin(); it != params.end(); ++it) {
        const KORVIK::ParamInfo* p = KORVIK::USBDevice::find_param(it.key());
        if (!p || !in_settings_file(*p) || !d.has_param(p->name))
            throw UsageError("the board state names '" + it.key() + "', which no settings file holds for the " +
                             d.get_chip_name());
        KORVIK::ParamValue v;
        if (numeric(*p) && it.value().is_number()) {
            v.number = it.value().get<double>();
        } else if (!numeric(*p) && it.value().is_string()) {
            v.text = it.value().get<std::string>();
            v.is_text = true;
        } else {
            throw UsageError("the board state's " + it.key() + " has the wrong type");
        }
        // the values came from a board: nearest rather than refused
        d.set_params({{p->name, v}}, KORVIK::ParamPolicy::clamp);
    }
    // the registers last: they are the board's exact chip values
    for (unsigned i = 0; i < registers.size(); ++i) {
        if (!registers[i].is_number_unsigned() || registers[i].get<unsigned>() > 255)
            throw UsageError("register " + std::to_string(i) + " of the board state is not a byte");
        d.set_register_chipvalue(i, static_cast<unsigned char>(registers[i].get<unsigned>()));
    }
    d.commit_registers();
}

class StateCommand : public Command {
public:
    const char* name() const override { return "state"; }
    const char* summary() const override { return "Settings files for a board state given as JSON"; }
    bool hidden() const override { return true; }
    void setup(CLI::App& app) override
    {
        app.add_option("CHIP", chip, "The board's chip")->required();
        app.add_option("ACTION", action, "save or load")->required()->check(CLI::IsMember({"save", "load"}));
        app.add_option("FILE", file, "The settings file")->required();
    }

    int run(const Options&) override
    {
        Json state;
        try {
            const std::string text{std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>()};
            state = Json::parse(text);
        } catch (const Json::exception& e) {
            throw UsageError(std::string("the board state on standard input is not JSON: ") + e.what());
        }
        Device d = open_scratch_board(chip);
        put_state(*d, state);
        const QString path = QString::fromLocal8Bit(file.c_str());
        Json notes = Json::array();
        try {
            if (action == "save") {
                save_settings_file(*d, path);
            } else {
                const SettingsReport report = load_settings_file(*d, path);
                for (const QString& n : report.notes)
                    notes.push_back(n.toLocal8Bit().toStdString());
            }
        } catch (const QString& message) {
            throw Failure(file + ": " + message.toLocal8Bit().toStdString());
        }
        Json out = state_of(*d);
        out["notes"] = notes;
        print_json(out);
        return EXIT_OK;
    }

private:
    std::string chip;
    std::string action;
    std::string file;
};

} // namespace

std::unique_ptr<Command> make_state_command()
{
    return std::make_unique<StateCommand>();
}

} // namespace korvik_cli
