#pragma once

#include <QByteArray>
#include <QDomDocument>
#include <QString>
#include <QStringList>

class QIODevice;

namespace KORVIK {
class USBDevice;
}

// Chip settings files: everything a user set on one board, as XML with the
// document type and root "evusb". Failures are thrown as translated text
// (QString). Nothing here touches a widget, so the command-line tool saves and
// loads exactly the same files as the program.

// Files larger or deeper than this are refused before they are parsed: a
// saved file is some ten kilobytes and three levels deep, and the document
// parser's time grows with the square of the depth.
constexpr qint64 settings_file_max_bytes = 1024 * 1024;
constexpr int settings_file_max_depth = 16;

// The settings of the board behind `device`.
QDomDocument build_settings_document(KORVIK::USBDevice& device);

// The text of a settings document as saved: document type, one space of
// indentation per level, UTF-8, and every element's attributes in one fixed
// order, so two saves of the same settings are the same bytes.
QByteArray settings_document_text(const QDomDocument& document);

// build_settings_document and settings_document_text in one.
QByteArray settings_file_text(KORVIK::USBDevice& device);

// Writes the board's settings to `filename`; the failure names the system's
// reason ("Permission denied").
void save_settings_file(KORVIK::USBDevice& device, const QString& filename);

// What loading a settings file did not apply: one line per attribute that did
// not parse or lay out of range, empty when all was applied as written.
struct SettingsReport {
    QStringList notes;
    // the whole report as one text for a message box or the error stream
    QString text() const;
};

// Applies a settings document to the board; throws when the document is not
// for this board, and then nothing is changed. Entries that do not parse are
// skipped and reported, values out of range are applied cut to range and
// reported. `exact_registers`: refuse a document whose register list is not
// one entry per register of the chip (what a saved file holds).
SettingsReport apply_settings_document(KORVIK::USBDevice& device, const QDomDocument& document,
                                       bool exact_registers = false);

// The checks of apply_settings_document that need no board: root, chip
// element, its model, and every MAC text. Throws what apply would.
void check_settings_document(const QDomDocument& document);

// Reads the older line-based ".set" format from an open device; throws when it
// is not one.
QDomDocument convert_set_file(QIODevice& device);

// Reads a settings file: XML within the size and depth limits or, when
// `accept_set` and the text is not XML, the older ".set" format. Sets
// `was_set` (when given) to whether the ".set" format was read.
QDomDocument read_settings_file(const QString& filename, bool accept_set = true, bool* was_set = nullptr);

// read_settings_file then apply_settings_document, with a saved file's
// register count required of XML files.
SettingsReport load_settings_file(KORVIK::USBDevice& device, const QString& filename);

// What a settings file says about the board it came from; empty strings for
// attributes the file does not hold.
struct SettingsIdentity {
    QString model;
    QString ethmac;
    QString radiomac;
    QString serial;
};
// Throws "Root element not found" / "chip element not found".
SettingsIdentity settings_identity(const QDomDocument& document);
