#include "ui/CsvExport.h"

#include <QCoreApplication>
#include <QFileDialog>

void ask_csv_export(QWidget* parent, const std::function<void(const QString&)>& write)
{
    auto* dialog = new QFileDialog(parent, QCoreApplication::translate("CsvExport", "Export CSV"), QString(),
                                   QCoreApplication::translate("CsvExport", "CSV files (*.csv)"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setDefaultSuffix(QStringLiteral("csv"));
    QObject::connect(dialog, &QFileDialog::fileSelected, parent, [write](const QString& f) { write(f); });
    dialog->open();
}
