#include "ui/RegisterPages.h"

#include <exception>

#include <QHeaderView>
#include <QLineEdit>
#include <QTabWidget>
#include <QTableView>

#include <korvik/USBDevice.h>

#include "shell/ChipTableModel.h"
#include "shell/EvUSBBoard.h"
#include "ui/FieldBindings.h"
#include "ui_MainWindow.h"

RegisterPages::RegisterPages(Ui::MainWindow* ui_, FieldBindings& bindings_, QObject* parent)
    : QObject(parent), ui(ui_), bindings(bindings_), tables{{ui_->registertable, true, {}}, {ui_->bitfieldtable, false, {}}}
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
    filter->setToolTip(tr("Shows only the registers and bitfields whose name or description contains this text; "
                          "NAME@0xADDRESS shows the one register of that name and operating address"));
    ui->edittabs->setCornerWidget(filter, Qt::TopRightCorner);
    connect(filter, &QLineEdit::textChanged, this, &RegisterPages::show_current);
    connect(ui->edittabs, &QTabWidget::currentChanged, this, &RegisterPages::show_current);
}

void RegisterPages::set_board(EvUSBBoard* board_)
{
    board = board_;
    show_current();
}

RegisterPages::Table* RegisterPages::shown_table()
{
    for (Table& table : tables)
        if (ui->edittabs->currentWidget() == table.view->parentWidget())
            return &table;
    return nullptr;
}

void RegisterPages::show_current()
{
    Table* table = shown_table();
    if (!table)
        return;
    ChipTableModel* model = nullptr;
    if (board && board->get_device())
        model = table->registers ? static_cast<ChipTableModel*>(board->register_model()) : board->bitfield_model();
    if (table->view->model() != model) {
        // a new model's rows all start shown
        table->view->setModel(model);
        table->filtered_by.clear();
        table->filtered_model = model;
        if (model) {
            const QString chip = QString::fromStdString(board->get_device()->get_chip_name());
            fit_columns(table->view, (table->registers ? QStringLiteral("registers ") : QStringLiteral("bitfields ")) + chip);
        }
    }
    if (model && (table->filtered_by != filter->text() || table->filtered_model != model))
        apply_filter(*table);
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

void RegisterPages::apply_filter(Table& table)
{
    table.filtered_by = filter->text();
    table.filtered_model = static_cast<const ChipTableModel*>(table.view->model());
    // "FREQ2@0x089", as other tools print a name the chip has twice, picks that one register
    const QString text = filter->text().trimmed();
    KORVIK::USBDevice* dev = board ? board->get_device() : nullptr;
    if (text.contains(QLatin1Char('@')) && dev) {
        if (!table.registers) {
            filter_table(table.view, text.section(QLatin1Char('@'), 0, 0));
            return;
        }
        int index = -1;
        try {
            index = dev->find_register(text.toStdString());
        } catch (const std::exception&) {
        }
        const QAbstractItemModel* model = table.view->model();
        for (int row = 0; row < model->rowCount(); ++row)
            table.view->setRowHidden(row, row != index);
        return;
    }
    filter_table(table.view, filter->text());
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
