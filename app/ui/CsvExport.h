#pragma once

#include <functional>

#include <QString>

class QWidget;

// Opens the save dialog for a CSV export (.csv added when left out) and hands
// the chosen file to `write`; the dialog deletes itself.
void ask_csv_export(QWidget* parent, const std::function<void(const QString&)>& write);
