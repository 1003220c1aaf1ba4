#include "ui/Confirm.h"

#include <QCoreApplication>
#include <QMessageBox>

#include <korvik/USBDevice.h>

#include "shell/EvUSBBoard.h"

std::function<bool(QWidget*, const QString&)> confirm_replace = [](QWidget* parent, const QString& question) {
    return QMessageBox::question(parent, QCoreApplication::translate("Confirm", "Unsaved Changes"), question,
                                 QMessageBox::Yes | QMessageBox::Cancel, QMessageBox::Cancel)
        == QMessageBox::Yes;
};

bool has_unsaved_changes(EvUSBBoard& board)
{
    KORVIK::USBDevice* d = board.get_device();
    if (!d)
        return false;
    for (unsigned int r = 0; r < d->get_registers(); ++r)
        if (d->get_register_chipvalue(r) != d->get_register_nvvalue(r))
            return true;
    return board.stored_settings_differ();
}
