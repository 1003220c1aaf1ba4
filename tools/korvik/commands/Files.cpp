// save and load: the graphical program's settings files, through its core.

#include <cmath>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include <QString>
#include <QStringList>

#include <CLI/App.hpp>

#include <korvik/USBDevice.h>

#include "../Command.h"
#include "../SettingsFiles.h"
#include "core/SettingsFile.h"

namespace korvik_cli {

namespace {

std::string local(const QString& s)
{
    return s.toLocal8Bit().toStdString();
}

class SaveCommand : public Command {
public:
    const char* name() const override { return "save"; }
    const char* summary() const override { return "Writes the board's settings file (the graphical program's format)"; }
    void setup(CLI::App& app) override
    {
        app.add_option("BOARD", board, "The board")->required();
        app.add_option("FILE", file, "The settings file to write")->required();
    }

    int run(const Options& options) override
    {
        Device d = open_board(board);
        try {
            save_settings_file(*d, QString::fromLocal8Bit(file.c_str()));
        } catch (const QString& message) {
            throw Failure(local(message));
        }
        if (options.json)
            print_json(Json{{"board", d->get_serial()}, {"file", file}, {"registers", d->get_registers()}});
        else
            std::cout << "saved the settings of " << d->get_chip_name() << " board " << d->get_serial() << " to "
                      << file << std::endl;
        return EXIT_OK;
    }

private:
    std::string board;
    std::string file;
};

// The crystal values a settings file would change: the board keeps them only
// in its stored defaults, so the host's copy goes when the command ends and
// the next command would read the carrier and rates wrong. Read by applying
// the file to a scratch board that holds the board's values, so the file is
// parsed as the load itself parses it.
std::vector<std::string> crystal_changes(KORVIK::USBDevice& d, const QDomDocument& document)
{
    Device scratch = open_scratch_board(d.get_chip_name());
    scratch->set_xtal_frequency(d.get_xtal_frequency());
    scratch->set_xtal_tolerance(d.get_xtal_tolerance());
    try {
        apply_settings_document(*scratch, document);
    } catch (const QString&) {
        return {}; // the load itself refuses the file and says why
    }
    std::vector<std::string> changed;
    if (scratch->get_xtal_frequency() != d.get_xtal_frequency())
        changed.push_back("xtal_frequency");
    // the file keeps six digits of the tolerance
    const double tol = d.get_xtal_tolerance();
    if (std::fabs(scratch->get_xtal_tolerance() - tol) > 1e-5 * std::max(1.0, std::fabs(tol)))
        changed.push_back("xtal_tolerance");
    return changed;
}

/// The board's identity (serial, MACs) as its host copy holds it.
struct Identity {
    std::string serial;
    unsigned char ethmac[6];
    unsigned char radiomac[6];

    explicit Identity(const KORVIK::USBDevice& d) : serial(d.get_nv_serial())
    {
        std::memcpy(ethmac, d.get_nv_ethernet_mac(), 6);
        std::memcpy(radiomac, d.get_nv_radio_ethernet_mac(), 6);
    }
};

class LoadCommand : public Command {
public:
    const char* name() const override { return "load"; }
    const char* summary() const override
    {
        return "Applies a settings file (or an older .set file); a refused file changes nothing";
    }
    void setup(CLI::App& app) override
    {
        app.add_option("BOARD", board, "The board")->required();
        app.add_option("FILE", file, "The settings file to apply")->required();
        add_save_option(app, save_file);
        app.add_flag("--store", store,
                     "Also store the settings as the board's defaults (needed when the file changes the crystal, "
                     "serial or MACs, which only the stored defaults keep)");
    }

    int run(const Options& options) override
    {
        Device d = open_board(board);
        if (!store) {
            const std::vector<std::string> changed = crystal_changes(*d, read_settings(file));
            if (!changed.empty()) {
                std::string names;
                for (const std::string& n : changed)
                    names += (names.empty() ? "" : " and ") + n;
                throw Failure(file + " changes " + names +
                              ", which the board keeps only in its stored defaults: loaded alone it would be "
                              "lost when this command ends (the next one reads it from the board again, and "
                              "the carrier and rates with it). Nothing was changed; add --store to store the "
                              "file's settings as the board's defaults");
            }
        }
        // a file saved from another board carries that board's serial and
        // MACs: this board keeps its own (storing them would make two boards
        // one), `set nv_...=... --store` changes them on purpose
        const Identity own(*d);
        SettingsReport report;
        const CommitResult result = tracked_commit(*d, [&] {
            try {
                report = load_settings_file(*d, QString::fromLocal8Bit(file.c_str()));
            } catch (const QString& message) {
                throw Failure(file + ": " + local(message) + " (nothing was changed)");
            }
        });
        if (result.board_failed)
            throw Failure("board '" + board + "' failed while loading " + file + ".\n  registers written: " +
                          register_names(*d, result.reached) + "\n  registers lost:    " +
                          register_names(*d, result.not_reached));
        const Identity loaded(*d);
        if (loaded.serial != own.serial || std::memcmp(loaded.ethmac, own.ethmac, 6) != 0 ||
            std::memcmp(loaded.radiomac, own.radiomac, 6) != 0) {
            d->set_nv_serial(own.serial);
            d->set_nv_ethmac(own.ethmac);
            d->set_nv_radio_ethmac(own.radiomac);
            report.notes.push_back(QString::fromStdString(
                "the file's serial and MACs (of board " + printable(loaded.serial) + ") were not taken: board " +
                printable(own.serial) + " keeps its own (`korvik set BOARD nv_serial=... --store` changes them)"));
        }
        if (store) {
            try {
                d->store_boarddefaults();
            } catch (const std::exception& e) {
                throw Failure(std::string("the settings reached the board, but storing them as its defaults "
                                          "failed: ") + e.what());
            }
            if (d->is_dead())
                throw Failure("the settings reached the board, but it stopped answering while they were stored "
                              "as its defaults");
        }
        if (!save_file.empty())
            save_settings(*d, save_file);
        Json notes = Json::array();
        for (const QString& n : report.notes)
            notes.push_back(local(n));
        if (options.json) {
            print_json(Json{{"board", d->get_serial()},
                            {"file", file},
                            {"registers_written", result.reached.size()},
                            {"stored", store},
                            {"notes", notes},
                            {"saved", save_file.empty() ? Json() : Json(save_file)}});
            return EXIT_OK;
        }
        // what was skipped or cut to range is worth a look, but the rest is applied
        for (const Json& n : notes)
            messages() << "korvik load: " << n.get<std::string>() << std::endl;
        std::cout << "loaded " << file << " into " << d->get_chip_name() << " board " << d->get_serial() << " ("
                  << result.reached.size() << " registers written)" << std::endl;
        if (store)
            std::cout << "(stored as the board's defaults)" << std::endl;
        if (!save_file.empty())
            std::cout << "(settings saved to " << save_file << ")" << std::endl;
        return EXIT_OK;
    }

private:
    std::string board;
    std::string file;
    std::string save_file;
    bool store = false;
};

} // namespace

std::unique_ptr<Command> make_save_command()
{
    return std::make_unique<SaveCommand>();
}

std::unique_ptr<Command> make_load_command()
{
    return std::make_unique<LoadCommand>();
}

} // namespace korvik_cli
