#pragma once

#include <QDomDocument>
#include <QFileDialog>

class EvUSBBoard;
class QIODevice;

namespace KORVIK {
class USBDevice;
}

// Chip settings files: everything a user set on one board, as XML with the
// document type and root "evusb". Failures are thrown as translated text.

// The settings of the board behind `device`.
QDomDocument build_settings_document(KORVIK::USBDevice& device);

// Applies a settings document to the board; throws QString when the document
// is not for this board. Nothing is changed when the check fails.
void apply_settings_document(EvUSBBoard& board, const QDomDocument& document);

// Reads the older line-based ".set" format from an open device; throws QString
// when it is not one.
QDomDocument convert_set_file(QIODevice& device);

// Common set-up of the program's settings file choosers: non-modal, detail
// view, "xml" as default suffix, asks before overwriting, deletes itself on
// close; `save` chooses a new file, otherwise an existing one.
void setup_settings_file_dialog(QFileDialog& dialog, bool save);

// File chooser of a board's "Load File..." and "Save File..." entries.
class EvUSBFileDialog : public QFileDialog {
    Q_OBJECT
public:
    EvUSBFileDialog(EvUSBBoard* owner, bool save);

public Q_SLOTS:
    void quit();

private Q_SLOTS:
    void filedialog_ok();

private:
    EvUSBBoard* owner;
    bool save;
};
