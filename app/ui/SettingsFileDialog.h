#pragma once

#include <QFileDialog>

class EvUSBBoard;

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
