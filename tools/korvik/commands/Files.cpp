// save and load: the graphical program's settings files, through its core.

#include <iostream>
#include <string>

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
    }

    int run(const Options& options) override
    {
        Device d = open_board(board);
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
        if (!save_file.empty())
            save_settings(*d, save_file);
        Json notes = Json::array();
        for (const QString& n : report.notes)
            notes.push_back(local(n));
        if (options.json) {
            print_json(Json{{"board", d->get_serial()},
                            {"file", file},
                            {"registers_written", result.reached.size()},
                            {"notes", notes},
                            {"saved", save_file.empty() ? Json() : Json(save_file)}});
            return EXIT_OK;
        }
        // what was skipped or cut to range is worth a look, but the rest is applied
        for (const Json& n : notes)
            messages() << "korvik load: " << n.get<std::string>() << std::endl;
        std::cout << "loaded " << file << " into " << d->get_chip_name() << " board " << d->get_serial() << " ("
                  << result.reached.size() << " registers written)" << std::endl;
        if (!save_file.empty())
            std::cout << "(settings saved to " << save_file << ")" << std::endl;
        return EXIT_OK;
    }

private:
    std::string board;
    std::string file;
    std::string save_file;
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
