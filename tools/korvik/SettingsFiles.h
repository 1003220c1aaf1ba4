#pragma once

// korvik's side of the program core's settings files and code snippets:
// the same functions the graphical program calls, with their failures
// (translated text) turned into korvik's.

#include <string>

#include "Context.h"

class QDomDocument;

namespace CLI {
class App;
}

namespace korvik_cli {

/// A simulated board made from a settings file the way the graphical program
/// makes one (identity from the file, settings applied and stored as the
/// board's defaults); the file must be one of `chip`.
Device simulate_from_file(const std::string& chip, const std::string& file);

/// Reads a settings file (the older ".set" format too); throws Failure.
QDomDocument read_settings(const std::string& file);

/// The chip a settings document is for ("RC1200" when it names none, as the
/// graphical program assumes).
std::string settings_chip(const QDomDocument& document);

/// A scratch simulated board holding a settings file's settings, as a board
/// of its chip shows them; throws Failure naming the file.
Device board_from_file(const std::string& file);

/// The -o FILE / --save FILE option of commands that change a board.
void add_save_option(CLI::App& app, std::string& file);

/// Writes the board's settings file (whole or not at all); throws Failure.
void save_settings(KORVIK::USBDevice& device, const std::string& file);

/// Shows the program core's Qt debug lines only with -v.
void route_program_diagnostics(bool verbose);

} // namespace korvik_cli
