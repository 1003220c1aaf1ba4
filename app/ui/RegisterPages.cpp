#include "ui/RegisterPages.h"

#include <QHeaderView>
#include <QLineEdit>
#include <QTableView>

#include <korvik/USBDevice.h>

#include "shell/EvUSBBoard.h"
#include "ui/FieldBindings.h"
#include "ui_MainWindow.h"

RegisterPages::RegisterPages(Ui::MainWindow* ui_, FieldBindings& bindings_, QObject* parent)
    : QObject(parent), ui(ui_), bindings(bindings_)
{
    ui->registertable->verticalHeader()->hide();
    ui->bitfieldtable->verticalHeader()->hide();
    ui->registertable->setItemDelegate(&register_delegate);
    ui->bitfieldtable->setItemDelegate(&bitfield_delegate);
    ui->bitfieldtable->horizontalHeader()->setStretchLastSection(true);
    for (SpinBoxDelegate* delegate : {&register_delegate, &bitfield_delegate})
        delegate->around_write = [this](const QModelIndex& index, const std::function<void()>& write) {
            const QString name = index.model()->index(index.row(), 0).data().toString();
            bindings.record(tr("Set %1").arg(name), [&write](KORVIK::USBDevice&) { write(); });
        };

    filter = new QLineEdit(ui->edittabs);
    filter->setObjectName(QStringLiteral("tablefilter"));
    filter->setPlaceholderText(tr("Filter registers and bitfields"));
    filter->setClearButtonEnabled(true);
    // leave the tabs their room: a wide filter pushed them behind scroll arrows
    filter->setMaximumWidth(filter->fontMetrics().averageCharWidth() * 24);
    filter->setToolTip(tr("Shows only the registers and bitfields whose name or description contains this text"));
    ui->edittabs->setCornerWidget(filter, Qt::TopRightCorner);
    connect(filter, &QLineEdit::textChanged, this, &RegisterPages::apply_filter);
}

void RegisterPages::set_board(EvUSBBoard* board)
{
    ui->registertable->setModel(board ? board->register_model() : nullptr);
    ui->bitfieldtable->setModel(board ? board->bitfield_model() : nullptr);
    if (!board || !board->get_device())
        return;
    const QString chip = QString::fromStdString(board->get_device()->get_chip_name());
    fit_columns(ui->registertable, QStringLiteral("registers ") + chip);
    fit_columns(ui->bitfieldtable, QStringLiteral("bitfields ") + chip);
    if (!filter->text().isEmpty())
        apply_filter();
}

void RegisterPages::fit_columns(QTableView* table, const QString& key)
{
    std::vector<int>& widths = column_widths[key];
    QHeaderView* header = table->horizontalHeader();
    if (widths.empty()) {
        table->resizeColumnsToContents();
        for (int c = 0; c < header->count(); ++c)
            widths.push_back(header->sectionSize(c));
        return;
    }
    for (int c = 0; c < header->count() && c < int(widths.size()); ++c)
        header->resizeSection(c, widths[size_t(c)]);
}

void RegisterPages::apply_filter()
{
    filter_table(ui->registertable, filter->text());
    filter_table(ui->bitfieldtable, filter->text());
}

void RegisterPages::filter_table(QTableView* table, const QString& text)
{
    const QAbstractItemModel* model = table->model();
    if (!model)
        return;
    for (int row = 0; row < model->rowCount(); ++row) {
        bool shown = text.isEmpty();
        for (int column = 0; column < model->columnCount() && !shown; ++column)
            shown = model->index(row, column).data().toString().contains(text, Qt::CaseInsensitive);
        table->setRowHidden(row, !shown);
    }
}
