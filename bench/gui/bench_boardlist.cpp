// The board list as it grows: 64 simulated boards added through "New Chip
// Settings" (each add also selects the new board, as the menu does), then
// selections at 64 boards, against a floor in the same run: the same 64
// boards opened and selected through the library alone. Reports the total
// for 64 adds, the cost of an add at 1 to 4 boards and at 61 to 64, and of a
// select at 1 and at 64 boards.
//
//   bench_boardlist [runs]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <QAction>
#include <QMenu>
#include <QTableView>

#include <korvik/USBDevice.h>

#include "Application.h"
#include "board/EvUSBBoard.h"
#include "shell/BoardList.h"
#include "shell/EvUSBBoard.h"
#include "ui/MainWindow.h"

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point t)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

constexpr int boards = 64;

void remove_all(Application& app)
{
    BoardList& list = app.get_boards();
    while (list.rowCount() > 0) {
        EvUSBBoard* board = list.board_at(0);
        board->get_device()->get_board()->leave_registry();
        if (list.board_at(0) == board)
            list.remove_row(0);
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

struct Figures {
    double total = 0, add_first = 0, add_last = 0, select_one = 0, select_many = 0;
};

// selecting a row and letting the window lay out and paint
double select_ms(MainWindow* window, int row)
{
    auto* list = window->findChild<QTableView*>(QStringLiteral("devicelist"));
    const auto t = Clock::now();
    list->selectRow(row);
    QCoreApplication::processEvents();
    return ms_since(t);
}

Figures run_window(Application& app)
{
    Figures f;
    MainWindow* window = app.get_window();
    QAction* rc1200 = nullptr;
    for (QAction* a : window->findChild<QMenu*>(QStringLiteral("menuSimulateDevice"))->actions())
        if (a->text() == QStringLiteral("RC1200"))
            rc1200 = a;
    std::vector<double> adds;
    const auto t0 = Clock::now();
    for (int i = 0; i < boards; ++i) {
        const auto t = Clock::now();
        rc1200->trigger();
        QCoreApplication::processEvents();
        adds.push_back(ms_since(t));
        if (i == 0) {
            // selects at one board: away (none) and back
            const auto s = Clock::now();
            window->findChild<QTableView*>(QStringLiteral("devicelist"))->clearSelection();
            QCoreApplication::processEvents();
            f.select_one = ms_since(s) + select_ms(window, 0);
        }
    }
    f.total = ms_since(t0) - f.select_one;
    for (int i = 0; i < 4; ++i) {
        f.add_first += adds[size_t(i)] / 4;
        f.add_last += adds[size_t(boards - 4 + i)] / 4;
    }
    // selects at 64 boards, alternating ends of the list
    double sum = 0;
    for (int i = 0; i < 8; ++i)
        sum += select_ms(window, i % 2 ? 0 : boards - 1);
    f.select_many = sum / 4; // one pair (away and back) like the one-board figure
    remove_all(app);
    return f;
}

double run_floor()
{
    // the library alone: open 64 simulations and read what a row shows
    std::vector<std::unique_ptr<KORVIK::USBDevice>> opened;
    const auto t0 = Clock::now();
    for (int i = 0; i < boards; ++i) {
        const std::string serial = std::to_string(8000000 + i);
        opened.emplace_back(KORVIK::USBDevice::open_simulation(serial, serial + " (sim)", "RC1200", "40:08:00:00:00:00"));
        opened.back()->load_chipdefaults();
        opened.back()->commit_registers();
        (void)opened.back()->get_display_name();
    }
    const double ms = ms_since(t0);
    for (auto& d : opened)
        d->get_board()->leave_registry();
    opened.clear();
    QCoreApplication::processEvents();
    return ms;
}

void summarise(const char* what, std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const double median = v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
    std::printf("%-34s median %8.2f ms  range %.2f to %.2f  (%zu runs)\n", what, median, v.front(), v.back(), v.size());
}

} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::stoi(argv[1]) : 5;
    Application app(argc, argv);
    app.get_window()->resize(937, 576);
    QCoreApplication::processEvents();
    std::vector<double> floor, total, first, last, one, many;
    for (int run = 0; run < runs; ++run) {
        floor.push_back(run_floor());
        const Figures f = run_window(app);
        total.push_back(f.total);
        first.push_back(f.add_first);
        last.push_back(f.add_last);
        one.push_back(f.select_one);
        many.push_back(f.select_many);
        std::printf("run %d: floor %.1f ms, 64 adds %.1f ms, add at 1-4 %.2f ms, at 61-64 %.2f ms, select at 1 %.2f ms, at 64 %.2f ms\n",
                    run + 1, floor.back(), f.total, f.add_first, f.add_last, f.select_one, f.select_many);
    }
    summarise("floor: 64 boards, library alone", floor);
    summarise("64 boards added in the window", total);
    summarise("one add at 1 to 4 boards", first);
    summarise("one add at 61 to 64 boards", last);
    summarise("select away and back at 1", one);
    summarise("select away and back at 64", many);
    return 0;
}
