#pragma once

// What the program's window tests share: a named widget of the main window,
// and a simulated board made through the menu, as a user makes one.

#include <set>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

#include <korvik/USBDevice.h>

#include "Application.h"
#include "board/EvUSBBoard.h"
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

// Brings up the board's page titled `title` with a click on its tab, as a
// user does; false when the tab is not there to click.
inline bool show_page(Application& app, const QString& title)
{
    QTabBar* bar = window_widget<QTabWidget>(app, "edittabs")->tabBar();
    for (int i = 0; i < bar->count(); ++i)
        if (bar->tabText(i).remove(QLatin1Char('&')) == title) {
            QTest::mouseClick(bar, Qt::LeftButton, {}, bar->tabRect(i).center());
            return bar->currentIndex() == i;
        }
    return false;
}

// Takes every board out of the list and closes every other window, as
// between two cases.
inline void remove_all_boards(Application& app)
{
    BoardList& boards = app.get_boards();
    while (boards.rowCount() > 0) {
        EvUSBBoard* board = boards.board_at(0);
        board->get_device()->get_board()->leave_registry();
        if (boards.board_at(0) == board)
            boards.remove_row(0);
    }
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w != app.get_window() && w->isVisible())
            w->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Types into a field as a user does: focus, select all, keys (no Enter).
inline bool type_into(QWidget* field, const QString& keys)
{
    QWidget* window = field->window();
    window->activateWindow();
    if (!QTest::qWaitForWindowActive(window))
        return false;
    field->setFocus();
    if (!field->hasFocus())
        return false;
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(field, keys);
    return true;
}
