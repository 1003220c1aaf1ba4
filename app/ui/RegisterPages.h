#pragma once

#include <map>
#include <vector>

#include <QObject>
#include <QPointer>
#include <QString>

#include "ui/SpinBoxDelegate.h"

class ChipTableModel;
class EvUSBBoard;
class FieldBindings;
class QLineEdit;
class QTableView;

namespace Ui {
class MainWindow;
}

// The "Registers" and "Bitfields" pages: the board's tables with their hex
// editors, and one filter box over both. A table takes the selected board's
// model only while its page is the one shown: swapping a view's model costs
// hundreds of signal disconnections, too much to pay on every board switch
// for pages most switches never show.
class RegisterPages : public QObject {
    Q_OBJECT
public:
    RegisterPages(Ui::MainWindow* ui, FieldBindings& bindings, QObject* parent = nullptr);

    void set_board(EvUSBBoard* board);
    QLineEdit* filter_box() const { return filter; }

private:
    struct Table {
        QTableView* view;
        bool registers;
        // what the view's rows were last hidden by: the filter's text over this model
        QString filtered_by;
        const ChipTableModel* filtered_model = nullptr;
    };

    // The table of the page shown, or null when another page is.
    Table* shown_table();
    // Brings the shown table up to date: the board's model, its column
    // widths and the filter.
    void show_current();
    void apply_filter(Table& table);
    static void filter_table(QTableView* table, const QString& text);
    // Fits the columns to the chip's rows once per chip type and table; a
    // board of a chip seen before takes the same widths without measuring.
    void fit_columns(QTableView* table, const QString& key);

    Ui::MainWindow* ui;
    FieldBindings& bindings;
    SpinBoxDelegate register_delegate;
    SpinBoxDelegate bitfield_delegate;
    QLineEdit* filter;
    QPointer<EvUSBBoard> board;
    Table tables[2];
    std::map<QString, std::vector<int>> column_widths;
};
