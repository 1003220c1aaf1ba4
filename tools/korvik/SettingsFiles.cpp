#include "SettingsFiles.h"

#include <memory>

#include <QDomDocument>
#include <QtGlobal>
#include <QString>

#include <CLI/App.hpp>

#include <korvik/USBDevice.h>

#include "core/SettingsFile.h"

namespace korvik_cli {

namespace {

QString qt(const std::string& s)
{
    return QString::fromLocal8Bit(s.data(), int(s.size()));
}

std::string local(const QString& s)
{
    return s.toLocal8Bit().toStdString();
}

} // namespace

QDomDocument read_settings(const std::string& file)
{
    try {
        return read_settings_file(qt(file), true);
    } catch (const QString& message) {
        // a parse error says where in the file, not which file
        const std::string text = local(message);
        throw Failure(text.find(file) == std::string::npos ? file + ": " + text : text);
    }
}

std::string settings_chip(const QDomDocument& document)
{
    try {
        const QString model = settings_identity(document).model;
        return model.isEmpty() ? "RC1200" : local(model);
    } catch (const QString& message) {
        throw Failure(local(message));
    }
}

Device board_from_file(const std::string& file)
{
    const QDomDocument document = read_settings(file);
    std::string chip;
    try {
        chip = settings_chip(document);
    } catch (const Failure& e) {
        throw Failure(file + ": " + e.what());
    }
    Device d = open_scratch_board(chip);
    try {
        apply_settings_document(*d, document);
    } catch (const QString& message) {
        throw Failure(file + ": " + local(message));
    }
    d->commit_registers();
    return d;
}

void add_save_option(CLI::App& app, std::string& file)
{
    app.add_option("-o,--save", file,
                   "Then write the board's settings file FILE (with sim:CHIP:FILE, the same FILE changes it offline)")
        ->option_text("FILE");
}

void save_settings(KORVIK::USBDevice& device, const std::string& file)
{
    try {
        save_settings_file(device, qt(file));
    } catch (const QString& message) {
        throw Failure(local(message));
    }
}

void route_program_diagnostics(bool verbose)
{
    if (!verbose)
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
}

Device simulate_from_file(const std::string& chip, const std::string& file)
{
    try {
        // as the graphical program: XML only, identity from the file
        const QDomDocument document = read_settings_file(qt(file), false);
        const SettingsIdentity id = settings_identity(document);
        const QString model = id.model.isEmpty() ? QStringLiteral("RC1200") : id.model;
        if (local(model) != chip)
            throw Failure("'" + file + "' holds the settings of an " + local(model) + ", not of an " + chip);
        const QString ethmac = id.ethmac.isEmpty() ? QStringLiteral("40:00:12:34:56:00") : id.ethmac;
        const QString wanted = id.serial.isEmpty() ? QStringLiteral("0123456") : id.serial;
        // the file's serial may be a connected board's: that board must stay untouched
        const QString serial = qt(free_serial(local(wanted), 1230000));
        QString display = serial + QStringLiteral(" (file ") + qt(file) + QStringLiteral(")");
        if (serial != wanted) {
            display = serial + QStringLiteral(" (file ") + qt(file) + QStringLiteral(", serial ") + wanted +
                      QStringLiteral(" in use)");
            messages() << "korvik: serial " << local(wanted) << " of " << file
                       << " is a connected board's; the simulated " << chip << " is serial " << local(serial)
                       << std::endl;
        }
        Device d;
        try {
            d.reset(KORVIK::USBDevice::open_simulation(local(serial), local(display), chip, local(ethmac)));
        } catch (const std::exception&) {
            d.reset();
        }
        if (!d)
            throw Failure("cannot open a simulated " + chip);
        if (!(d->get_boardflags() & 1))
            throw Failure("serial " + local(serial) + " is a real board's; no simulated " + chip + " was made");
        apply_settings_document(*d, document);
        d->commit_registers();
        d->store_boarddefaults();
        return d;
    } catch (const QString& message) {
        throw Failure(file + ": " + local(message));
    }
}

} // namespace korvik_cli
