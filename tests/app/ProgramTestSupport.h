#pragma once

// What the program's window tests share: a named widget of the main window,
// and a simulated board made through the menu, as a user makes one.

#include <set>

#include <QAction>
#include <QMenu>

#include "Application.h"
#include "shell/BoardList.h"
#include "shell/EvUSBBoard.h"
#include "ui/MainWindow.h"

template <class T> T* window_widget(Application& app, const char* name)
{
    T* w = app.get_window()->findChild<T*>(QLatin1String(name));
    if (!w)
        qFatal("no widget %s", name);
    return w;
}

// The board that "Simulate Device" > `chip` added, or null.
inline EvUSBBoard* simulate_from_menu(Application& app, const QString& chip)
{
    BoardList& boards = app.get_boards();
    std::set<EvUSBBoard*> before;
    for (int row = 0; row < boards.rowCount(); ++row)
        before.insert(boards.board_at(row));
    for (QAction* a : window_widget<QMenu>(app, "menuSimulateDevice")->actions())
        if (a->text() == chip)
            a->trigger();
    for (int row = 0; row < boards.rowCount(); ++row)
        if (!before.count(boards.board_at(row)))
            return boards.board_at(row);
    return nullptr;
}
