// Packet Test at scale: N packets (100,000 by default) between two simulated
// boards on the virtual air at the fastest interval the air allows, through
// the Packet Test window, against a floor measured in the same process: the
// same test driven by a bare loop over the library, as `korvik per` drives it.
// Each run reports CPU time, wall time, the window's redraws and drawn points,
// and the worst delay of a 50 ms probe timer (how long a click such as Stop
// waits at most). A last pass clicks Stop half-way and times until the test
// has ended.
//
//   bench_packettest [packets] [runs]
#include <poll.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <QAction>
#include <QComboBox>
#include <QEventLoop>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <korvik/USBDevice.h>

#include "Application.h"
#include "board/AirLink.h"
#include "board/EvUSBBoard.h"
#include "board/SimBoard.h"
#include "board/VirtualAir.h"
#include "core/PacketTest.h"
#include "shell/BoardList.h"
#include "shell/EvUSBBoard.h"
#include "ui/MainWindow.h"
#include "ui/PacketTestWindow.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point t)
{
    return std::chrono::duration<double>(Clock::now() - t).count();
}

double cpu_seconds()
{
    rusage u {};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

struct Figures {
    double cpu = 0, wall = 0, worst_probe_ms = 0;
    unsigned received = 0, late = 0;
    double slip = 0;
    unsigned long redraws = 0;
    int points = 0;
};

// the library's own: poll(2) on its descriptors, periodic(), the test's poll
Figures run_floor(KORVIK::USBDevice& tx, KORVIK::USBDevice& rx, const PacketTest::Settings& settings)
{
    Figures f;
    const double cpu0 = cpu_seconds();
    const auto t0 = Clock::now();
    PacketTest test(tx, rx, settings);
    for (int wait = test.poll(); wait >= 0; wait = test.poll()) {
        std::vector<void*> handles;
        int timeout = KORVIK::USBDevice::get_poll_handles(handles);
        timeout = timeout < 0 ? wait : std::min(timeout, wait);
        std::vector<pollfd> fds;
        for (void* h : handles)
            fds.push_back(pollfd {int(reinterpret_cast<intptr_t>(h)), POLLIN, 0});
        ::poll(fds.data(), fds.size(), timeout);
        KORVIK::USBDevice::periodic();
    }
    f.wall = seconds_since(t0);
    f.cpu = cpu_seconds() - cpu0;
    f.received = test.log().received();
    f.late = test.late_sends();
    f.slip = test.schedule_slip();
    return f;
}

Figures run_window(PacketTestWindow* window, unsigned count, int stop_after_ms, double* stop_ms)
{
    Figures f;
    window->findChild<QSpinBox*>(QStringLiteral("count"))->setValue(int(count));
    QEventLoop loop;
    QObject::connect(window, &PacketTestWindow::finished, &loop, &QEventLoop::quit);
    // a probe every 50 ms: how late it runs is how long a click waits
    auto last = Clock::now();
    auto t0 = Clock::now();
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    QObject::connect(&probe, &QTimer::timeout, [&]() {
        const double late = seconds_since(last) * 1000 - 50;
        if (late > f.worst_probe_ms && std::getenv("BENCH_VERBOSE"))
            std::fprintf(stderr, "probe %.1f ms late at %.3f s, %u sent\n", late, seconds_since(t0), window->last_log() ? window->last_log()->received() : 0);
        f.worst_probe_ms = std::max(f.worst_probe_ms, late);
        last = Clock::now();
    });
    Clock::time_point clicked;
    if (stop_after_ms >= 0)
        QTimer::singleShot(stop_after_ms, window, [&]() {
            clicked = Clock::now();
            QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("stop")), Qt::LeftButton);
        });
    const double cpu0 = cpu_seconds();
    t0 = Clock::now();
    QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("start")), Qt::LeftButton);
    probe.start(50);
    last = Clock::now();
    if (window->is_running())
        loop.exec();
    if (stop_ms)
        *stop_ms = seconds_since(clicked) * 1000;
    f.wall = seconds_since(t0);
    f.cpu = cpu_seconds() - cpu0;
    f.received = window->last_log() ? window->last_log()->received() : 0;
    f.redraws = window->redraws();
    f.points = window->drawn_points();
    const QString summary = window->findChild<QLabel*>(QStringLiteral("summary"))->text();
    const int at = summary.indexOf(QStringLiteral("could not be kept: "));
    if (at >= 0)
        f.late = summary.mid(at + 19).section(QLatin1Char(' '), 0, 0).toUInt();
    return f;
}

void summarise(const char* what, std::vector<double> v, const char* unit)
{
    std::sort(v.begin(), v.end());
    const double median = v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
    std::printf("%-28s median %9.3f %s  range %.3f to %.3f  (%zu runs)\n", what, median, unit, v.front(), v.back(), v.size());
}

} // namespace

int main(int argc, char** argv)
{
    const unsigned count = argc > 1 ? unsigned(std::stoul(argv[1])) : 100000;
    const int runs = argc > 2 ? std::stoi(argv[2]) : 5;
    Application app(argc, argv);
    MainWindow* window = app.get_window();
    KORVIK::USBDevice::set_virtual_air(true);
    KORVIK::USBDevice::set_virtual_air_path_loss(60);
    for (int i = 0; i < 2; ++i)
        app.simulate_board_from_chip(QStringLiteral("RC1200"));
    if (app.get_boards().rowCount() != 2)
        return 1;
    KORVIK::USBDevice& tx = *app.get_boards().board_at(0)->get_device();
    KORVIK::USBDevice& rx = *app.get_boards().board_at(1)->get_device();
    // the chip's highest bitrate and the shortest packet: the shortest air time
    const unsigned length = PacketLog::MIN_LENGTH;
    for (KORVIK::USBDevice* d : {&tx, &rx}) {
        d->set_tx(d->get_tx_deviation(), 1e7, d->get_tx_modulation());
        d->set_rx(d->get_rx_bandwidth() * 10, 1e7, d->get_rx_modulation(), d->get_rx_btr());
        d->commit_registers();
    }
    auto* sim = dynamic_cast<KORVIK::SimBoard*>(tx.get_board());
    const double air_ms = sim ? KORVIK::air::air_time(KORVIK::VirtualAir::instance().emission_of(sim), length + 2) * 1000 : NAN;
    // the window takes whole milliseconds
    const int interval_ms = std::max(1, int(std::ceil(air_ms)));
    std::printf("packets %u of %u bytes, bitrate %.0f bit/s, air time %.3f ms, interval %d ms\n", count, length,
                tx.get_tx_bitrate(), air_ms, interval_ms);

    for (QAction* a : window->findChild<QMenu*>(QStringLiteral("menuWindows"))->actions())
        if (a->objectName() == QStringLiteral("actionPacketTest"))
            a->trigger();
    auto* packets = window->findChild<PacketTestWindow*>();
    if (!packets)
        return 1;
    packets->resize(640, 560);
    packets->findChild<QSpinBox*>(QStringLiteral("length"))->setValue(int(length));
    packets->findChild<QSpinBox*>(QStringLiteral("interval"))->setValue(interval_ms);
    auto* tx_box = packets->findChild<QComboBox*>(QStringLiteral("transmitter"));
    auto* rx_box = packets->findChild<QComboBox*>(QStringLiteral("receiver"));
    tx_box->setCurrentIndex(tx_box->findData(QString::fromStdString(tx.get_interface())));
    rx_box->setCurrentIndex(rx_box->findData(QString::fromStdString(rx.get_interface())));
    // the window is on the screen, laid out and painted, before anyone clicks Start
    QTest::qWait(500);

    PacketTest::Settings settings;
    settings.count = count;
    settings.length = length;
    settings.interval = interval_ms / 1000.0;
    std::vector<double> floor_cpu, window_cpu, ratio, window_wall, floor_wall, probe, stops;
    for (int run = 0; run < runs; ++run) {
        const Figures lib = run_floor(tx, rx, settings);
        const Figures win = run_window(packets, count, -1, nullptr);
        std::printf("run %d: library %.2f s CPU %.2f s wall %u received %u late | window %.2f s CPU %.2f s wall %u received "
                    "%u late, %lu redraws, %d points drawn, worst probe delay %.1f ms\n",
                    run + 1, lib.cpu, lib.wall, lib.received, lib.late, win.cpu, win.wall, win.received, win.late, win.redraws,
                    win.points, win.worst_probe_ms);
        std::fflush(stdout);
        floor_cpu.push_back(lib.cpu);
        window_cpu.push_back(win.cpu);
        ratio.push_back(win.cpu / lib.cpu);
        floor_wall.push_back(lib.wall);
        window_wall.push_back(win.wall);
        probe.push_back(win.worst_probe_ms);
    }
    for (int run = 0; run < runs; ++run) {
        double stop_ms = 0;
        run_window(packets, count, 3000, &stop_ms);
        stops.push_back(stop_ms);
    }
    summarise("floor CPU (library alone)", floor_cpu, "s");
    summarise("window CPU", window_cpu, "s");
    summarise("window / floor CPU", ratio, "x");
    summarise("floor wall", floor_wall, "s");
    summarise("window wall", window_wall, "s");
    summarise("worst probe delay", probe, "ms");
    summarise("Stop click to end", stops, "ms");
    return 0;
}
