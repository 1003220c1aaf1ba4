#pragma once

#include <map>
#include <vector>

#include <QObject>
#include <QString>

#include "ui/SpinBoxDelegate.h"

class EvUSBBoard;
class FieldBindings;
class QLineEdit;
class QTableView;

namespace Ui {
class MainWindow;
}

// The "Registers" and "Bitfields" pages: the board's tables with their hex
// editors, and one filter box over both.
class RegisterPages : public QObject {
    Q_OBJECT
public:
    RegisterPages(Ui::MainWindow* ui, FieldBindings& bindings, QObject* parent = nullptr);

    void set_board(EvUSBBoard* board);
    QLineEdit* filter_box() const { return filter; }

private:
    void apply_filter();
    static void filter_table(QTableView* table, const QString& text);
    // Fits the columns to the chip's rows once per chip type and table; a
    // board of a chip seen before takes the same widths without measuring.
    void fit_columns(QTableView* table, const QString& key);

    Ui::MainWindow* ui;
    FieldBindings& bindings;
    SpinBoxDelegate register_delegate;
    SpinBoxDelegate bitfield_delegate;
    QLineEdit* filter;
    std::map<QString, std::vector<int>> column_widths;
};
