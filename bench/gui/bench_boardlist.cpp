// The board list as it grows: 64 simulated boards arrive one after the other
// as at a scan (the window repaints once at the end), against a floor
// in the same run: the same 64 boards opened through the library alone, in a
// process without the program. Reports the total for 64 arrivals, the cost
// of one at 1 to 4 boards and at 61 to 64, and of a selection (with its
// repaint) at 1 and at 64 boards: between the first and the last row, which
// scrolls the list, and between two neighbouring rows, which does not.
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
#include <QProcess>
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
    double total = 0, add_first = 0, add_last = 0, select_one = 0, select_many = 0, select_near = 0;
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

// 64 boards arrive as at a scan: the library reports each, the application
// lists it; the window lays out and repaints once they are all there
Figures run_window(Application& app)
{
    Figures f;
    MainWindow* window = app.get_window();
    std::vector<std::unique_ptr<KORVIK::USBDevice>> opened;
    std::vector<double> adds;
    const auto t0 = Clock::now();
    for (int i = 0; i < boards; ++i) {
        const auto t = Clock::now();
        const std::string serial = std::to_string(8100000 + i);
        opened.emplace_back(KORVIK::USBDevice::open_simulation(serial, serial + " (sim)", "RC1200", "40:08:10:00:00:00"));
        adds.push_back(ms_since(t));
    }
    QCoreApplication::processEvents();
    f.total = ms_since(t0);
    for (int i = 0; i < 4; ++i) {
        f.add_first += adds[size_t(i)] / 4;
        f.add_last += adds[size_t(boards - 4 + i)] / 4;
    }
    // selecting: the first board at 64 boards, against the same with one board
    double sum = 0;
    for (int i = 0; i < 8; ++i)
        sum += select_ms(window, i % 2 ? 0 : boards - 1);
    f.select_many = sum / 8;
    sum = 0;
    for (int i = 0; i < 8; ++i)
        sum += select_ms(window, i % 2 ? 0 : 1);
    f.select_near = sum / 8;
    for (auto& d : opened)
        d->get_board()->leave_registry();
    opened.clear();
    remove_all(app);
    opened.emplace_back(KORVIK::USBDevice::open_simulation("8199999", "8199999 (sim)", "RC1200", "40:08:19:99:99:00"));
    QCoreApplication::processEvents();
    sum = 0;
    auto* list = window->findChild<QTableView*>(QStringLiteral("devicelist"));
    for (int i = 0; i < 8; ++i) {
        if (i % 2) {
            list->clearSelection();
            QCoreApplication::processEvents();
        } else {
            sum += select_ms(window, 0);
        }
    }
    f.select_one = sum / 4;
    opened.front()->get_board()->leave_registry();
    opened.clear();
    remove_all(app);
    return f;
}

// the library alone, in a process of its own without the program
double run_floor(const char* self)
{
    QProcess floor;
    floor.start(QString::fromLocal8Bit(self), {QStringLiteral("--floor")});
    floor.waitForFinished(60000);
    return QString::fromLocal8Bit(floor.readAllStandardOutput()).trimmed().toDouble();
}

double floor_only()
{
    std::vector<std::unique_ptr<KORVIK::USBDevice>> opened;
    const auto t0 = Clock::now();
    for (int i = 0; i < boards; ++i) {
        const std::string serial = std::to_string(8200000 + i);
        opened.emplace_back(KORVIK::USBDevice::open_simulation(serial, serial + " (sim)", "RC1200", "40:08:20:00:00:00"));
    }
    return ms_since(t0);
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
    if (argc > 1 && std::string(argv[1]) == "--floor") {
        std::printf("%.3f\n", floor_only());
        return 0;
    }
    const int runs = argc > 1 ? std::stoi(argv[1]) : 5;
    Application app(argc, argv);
    app.get_window()->resize(937, 576);
    QCoreApplication::processEvents();
    std::vector<double> floor, total, first, last, one, many, near;
    for (int run = 0; run < runs; ++run) {
        floor.push_back(run_floor(argv[0]));
        const Figures f = run_window(app);
        total.push_back(f.total);
        first.push_back(f.add_first);
        last.push_back(f.add_last);
        one.push_back(f.select_one);
        many.push_back(f.select_many);
        near.push_back(f.select_near);
        std::printf("run %d: floor %.1f ms, 64 arrivals %.1f ms, one at 1-4 %.2f ms, at 61-64 %.2f ms, select at 1 %.2f ms, at 64 %.2f ms, neighbour at 64 %.2f ms\n",
                    run + 1, floor.back(), f.total, f.add_first, f.add_last, f.select_one, f.select_many, f.select_near);
    }
    summarise("floor: 64 boards, library alone", floor);
    summarise("64 boards added in the window", total);
    summarise("one add at 1 to 4 boards", first);
    summarise("one add at 61 to 64 boards", last);
    summarise("one select at 1 board", one);
    summarise("one select at 64 boards", many);
    summarise("one select at 64, neighbouring row", near);
    return 0;
}
