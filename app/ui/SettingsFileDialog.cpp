#include "ui/SettingsFileDialog.h"

#include "shell/EvUSBBoard.h"
#include "ui/Confirm.h"
#include "ui/ProgramSettings.h"

void setup_settings_file_dialog(QFileDialog& dialog, bool save)
{
    dialog.setModal(false);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setOption(QFileDialog::ReadOnly, false);
    dialog.setDefaultSuffix(QStringLiteral("xml"));
    dialog.setViewMode(QFileDialog::Detail);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    dialog.setAttribute(Qt::WA_DeleteOnClose);
    dialog.setAttribute(Qt::WA_QuitOnClose);
}

EvUSBFileDialog::EvUSBFileDialog(EvUSBBoard* owner_, bool save_) : QFileDialog(nullptr), owner(owner_), save(save_)
{
    setWindowTitle(save ? tr("Save File...") : tr("Load File..."));
    QStringList filters;
    filters << tr("XML Files (*.xml)");
    if (!save)
        filters << tr("SET Files (*.set)") << tr("Any file (*)");
    setNameFilters(filters);
    setup_settings_file_dialog(*this, save);
    setDirectory(last_folder());
    if (owner)
        connect(owner, &EvUSBBoard::delete_subwindows, this, &EvUSBFileDialog::quit);
    connect(this, &QDialog::accepted, this, &EvUSBFileDialog::filedialog_ok);
}

void EvUSBFileDialog::quit()
{
    owner = nullptr;
    close();
    deleteLater();
}

void EvUSBFileDialog::filedialog_ok()
{
    const QStringList files = selectedFiles();
    if (files.size() != 1 || !owner)
        return;
    remember_folder_of(files.front());
    if (save)
        owner->save_file(files.front());
    else if (!owner->get_device() || !has_unsaved_changes(*owner)
             || confirm_replace(this, tr("The board has settings that are not saved. Load %1 over them?").arg(files.front())))
        owner->load_file(files.front());
}
