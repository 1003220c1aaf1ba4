// paramcalc figures: start-up to the shown main window, one carrier edit
// until every refresh has run, and the idle cost of eight listed boards.
// With "--screenshots DIR [PATH_LOSS_DB]" it instead saves a picture of every page
// for each chip and a packet test over that path loss (102 dB: a few packets lost);
// with "--small-and-dark DIR" the main window at 800x600 and with a dark palette.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

#include <unistd.h>
#include <string>
#include <vector>

#include <QAction>
#include <QDir>
#include <QDoubleSpinBox>
#include <QEventLoop>
#include <QComboBox>
#include <QMenu>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>

#include <korvik/USBDevice.h>

#include "Application.h"
#include "shell/BoardList.h"
#include "shell/EvUSBBoard.h"
#include "ui/FieldBindings.h"
#include "ui/MainWindow.h"
#include "ui/PacketTestWindow.h"
#include <QApplication>

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double cpu_ms()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec * 1e3 + usage.ru_utime.tv_usec / 1e3 + usage.ru_stime.tv_sec * 1e3
        + usage.ru_stime.tv_usec / 1e3;
}

// milliseconds since the kernel started this process (includes loading the libraries)
double ms_since_process_start()
{
    std::ifstream stat("/proc/self/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const size_t close = text.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    unsigned long long start_ticks = 0;
    for (int i = 3; i <= 22 && fields >> field; ++i)
        if (i == 22)
            start_ticks = std::stoull(field);
    std::ifstream uptime_file("/proc/uptime");
    double uptime = 0;
    uptime_file >> uptime;
    return (uptime - double(start_ticks) / double(sysconf(_SC_CLK_TCK))) * 1000.0;
}

long resident_kb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

void simulate(MainWindow* window, const QString& chip)
{
    for (QAction* a : window->findChild<QMenu*>(QStringLiteral("menuSimulateDevice"))->actions())
        if (a->text() == chip)
            a->trigger();
}

void select_row(MainWindow* window, int row)
{
    window->findChild<QTableView*>(QStringLiteral("devicelist"))->selectRow(row);
}

int screenshots(Application& app, const QString& dir, double path_loss)
{
    QDir().mkpath(dir);
    MainWindow* window = app.get_window();
    window->resize(937, 576);
    auto* tabs = window->findChild<QTabWidget*>(QStringLiteral("edittabs"));
    window->set_advanced_pages_shown(false);
    // the first start: no board yet
    QCoreApplication::processEvents();
    window->grab().save(dir + QStringLiteral("/first-start.png"));
    for (const std::string& name : KORVIK::USBDevice::get_supported_chips()) {
        const QString chip = QString::fromStdString(name);
        simulate(window, chip);
        for (int row = 0; row < app.get_boards().rowCount(); ++row) {
            EvUSBBoard* board = app.get_boards().board_at(row);
            if (QString::fromStdString(board->get_device()->get_chip_name()) == chip)
                select_row(window, row);
        }
        for (int page = 0; page < tabs->count(); ++page) {
            tabs->setCurrentIndex(page);
            QCoreApplication::processEvents();
            const QString file = QStringLiteral("%1/%2-%3.png").arg(dir, chip, tabs->tabText(page).toLower());
            window->grab().save(file);
            std::printf("%s\n", qPrintable(file));
        }
    }
    // the framing warning and a code window, on the first board
    for (int row = 0; row < app.get_boards().rowCount(); ++row)
        if (app.get_boards().board_at(row)->get_device()->get_chip_name() == "RC1200")
            select_row(window, row);
    EvUSBBoard* board = window->get_current_board();
    for (int m = 0; m < 8; ++m) {
        board->get_device()->set_framingmode(m);
        board->get_device()->commit_registers();
        if (board->get_device()->is_framingmode_hdlc_fec())
            break;
    }
    tabs->setCurrentIndex(1);
    QCoreApplication::processEvents();
    window->grab().save(dir + QStringLiteral("/framing-warning.png"));
    // a crystal the chip cannot take: the field shows what it holds, the status bar why
    tabs->setCurrentIndex(1);
    window->field_bindings().write(window->findChild<QDoubleSpinBox*>(QStringLiteral("radio_xtalfreq")), 1.0);
    QCoreApplication::processEvents();
    window->grab().save(dir + QStringLiteral("/clamped-value.png"));
    // the advanced pages, shown from the View menu
    window->set_advanced_pages_shown(true);
    for (int page = 0; page < tabs->count(); ++page)
        if (tabs->tabText(page) == QStringLiteral("Device"))
            tabs->setCurrentIndex(page);
    QCoreApplication::processEvents();
    window->grab().save(dir + QStringLiteral("/advanced-pages.png"));
    window->set_advanced_pages_shown(false);
    board->open_code_snippet_window(2);
    QCoreApplication::processEvents();
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->inherits("CodeWindow") && w->isVisible())
            w->grab().save(dir + QStringLiteral("/code-window.png"));
    // the about box, and a register being edited in hexadecimal
    window->findChild<QAction*>(QStringLiteral("actionAbout"))->trigger();
    QCoreApplication::processEvents();
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->inherits("AboutDialog") && w->isVisible())
            w->grab().save(dir + QStringLiteral("/about.png"));
    tabs->setCurrentIndex(2);
    auto* table = window->findChild<QTableView*>(QStringLiteral("registertable"));
    for (int row = 0; row < table->model()->rowCount(); ++row) {
        const QModelIndex cell = table->model()->index(row, 2);
        if (table->model()->flags(cell) & Qt::ItemIsEditable) {
            table->setCurrentIndex(cell);
            table->edit(cell);
            break;
        }
    }
    QCoreApplication::processEvents();
    window->grab().save(dir + QStringLiteral("/register-editor.png"));
    tabs->setCurrentIndex(0);

    // a packet test between two new RC1200 boards (the first one's crystal
    // was clamped above) over a link near the receiver's limit, so that most
    // packets arrive and a few are lost
    KORVIK::USBDevice::set_virtual_air(true);
    KORVIK::USBDevice::set_virtual_air_path_loss(path_loss);
    std::vector<EvUSBBoard*> before;
    for (int row = 0; row < app.get_boards().rowCount(); ++row)
        before.push_back(app.get_boards().board_at(row));
    simulate(window, QStringLiteral("RC1200"));
    simulate(window, QStringLiteral("RC1200"));
    std::vector<EvUSBBoard*> pair;
    for (int row = 0; row < app.get_boards().rowCount(); ++row)
        if (std::find(before.begin(), before.end(), app.get_boards().board_at(row)) == before.end())
            pair.push_back(app.get_boards().board_at(row));
    if (pair.size() != 2)
        return 1;
    for (QAction* a : window->findChild<QMenu*>(QStringLiteral("menuWindows"))->actions())
        if (a->objectName() == QStringLiteral("actionPacketTest"))
            a->trigger();
    auto* packets = window->findChild<PacketTestWindow*>();
    if (!packets)
        return 1;
    for (int end = 0; end < 2; ++end) {
        auto* choice = packets->findChild<QComboBox*>(QLatin1String(end == 0 ? "transmitter" : "receiver"));
        const int index = choice->findData(QString::fromStdString(pair[size_t(end)]->get_device()->get_interface()));
        if (index < 0)
            return 1;
        choice->setCurrentIndex(index);
    }
    packets->findChild<QSpinBox*>(QStringLiteral("count"))->setValue(200);
    packets->findChild<QSpinBox*>(QStringLiteral("interval"))->setValue(10);
    packets->resize(640, 560);
    QEventLoop done;
    QObject::connect(packets, &PacketTestWindow::finished, &done, &QEventLoop::quit);
    packets->start();
    done.exec();
    QCoreApplication::processEvents();
    packets->grab().save(dir + QStringLiteral("/packet-test.png"));
    return 0;
}

} // namespace

// The main window at the smallest size it must work at, and with a dark
// palette, for the README.
int small_and_dark(Application& app, const QString& dir)
{
    QDir().mkpath(dir);
    MainWindow* window = app.get_window();
    simulate(window, QStringLiteral("RC1200"));
    simulate(window, QStringLiteral("RC1400"));
    select_row(window, 0);
    window->resize(800, 600);
    QCoreApplication::processEvents();
    window->grab().save(dir + QStringLiteral("/main-800x600.png"));
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(45, 45, 48));
    dark.setColor(QPalette::WindowText, QColor(230, 230, 230));
    dark.setColor(QPalette::Base, QColor(30, 30, 32));
    dark.setColor(QPalette::AlternateBase, QColor(45, 45, 48));
    dark.setColor(QPalette::Text, QColor(230, 230, 230));
    dark.setColor(QPalette::Button, QColor(53, 53, 56));
    dark.setColor(QPalette::ButtonText, QColor(230, 230, 230));
    dark.setColor(QPalette::Highlight, QColor(42, 130, 218));
    dark.setColor(QPalette::HighlightedText, Qt::white);
    dark.setColor(QPalette::ToolTipBase, QColor(30, 30, 32));
    dark.setColor(QPalette::ToolTipText, QColor(230, 230, 230));
    dark.setColor(QPalette::PlaceholderText, QColor(150, 150, 150)); // else the light palette's, unreadable on the dark base
    dark.setColor(QPalette::Disabled, QPalette::Text, QColor(130, 130, 130));
    dark.setColor(QPalette::Disabled, QPalette::WindowText, QColor(130, 130, 130));
    dark.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(130, 130, 130));
    QApplication::setStyle(QStringLiteral("Fusion"));
    QApplication::setPalette(dark);
    // changed registers show their mark on the dark base
    EvUSBBoard* board = window->get_current_board();
    board->get_device()->set_rx_carrierfrequency(869.525e6);
    board->get_device()->commit_registers();
    window->resize(937, 576);
    auto* tabs = window->findChild<QTabWidget*>(QStringLiteral("edittabs"));
    for (int page = 0; page < tabs->count(); ++page)
        if (tabs->tabText(page) == QStringLiteral("Registers"))
            tabs->setCurrentIndex(page);
    QCoreApplication::processEvents();
    window->grab().save(dir + QStringLiteral("/main-dark.png"));
    std::printf("%s/main-800x600.png\n%s/main-dark.png\n", qPrintable(dir), qPrintable(dir));
    return 0;
}

int main(int argc, char** argv)
{
    const Clock::time_point start = Clock::now();
    Application app(argc, argv);
    QCoreApplication::processEvents();
    MainWindow* window = app.get_window();
    const double startup = ms_since(start);

    const QStringList args = QCoreApplication::arguments();
    const int small = int(args.indexOf(QStringLiteral("--small-and-dark")));
    if (small >= 0 && small + 1 < args.size())
        return small_and_dark(app, args.at(small + 1));
    const int shot = int(args.indexOf(QStringLiteral("--screenshots")));
    if (shot >= 0 && shot + 1 < args.size())
        return screenshots(app, args.at(shot + 1), args.size() > shot + 2 ? args.at(shot + 2).toDouble() : 102.0);

    std::printf("start-up to main window shown: %.1f ms from main(), %.0f ms from process start (window %s)\n", startup,
                ms_since_process_start(), window && window->isVisible() ? "visible" : "NOT visible");

    // eight boards listed, the first one selected
    for (int i = 0; i < 8; ++i)
        simulate(window, QStringLiteral("RC1200"));
    select_row(window, 0);
    auto* field = window->findChild<QDoubleSpinBox*>(QStringLiteral("radio_rxfreq"));
    std::vector<double> edits;
    for (int i = 0; i < 200; ++i) {
        const Clock::time_point t = Clock::now();
        field->setValue(433.0 + (i % 50) * 0.1);
        Q_EMIT field->editingFinished();
        QCoreApplication::processEvents();
        edits.push_back(ms_since(t));
    }
    std::sort(edits.begin(), edits.end());
    std::printf("carrier edit until refreshed: median %.3f ms, max %.3f ms (%zu edits, %d boards)\n",
                edits[edits.size() / 2], edits.back(), edits.size(), app.get_boards().rowCount());

    // idle: the loop runs with nothing happening
    const double idle_seconds = 3.0;
    // (a local loop: quitting the application would close the window first)
    QCoreApplication::processEvents();
    const unsigned long pumps_before = app.get_pump_count();
    const double cpu_before = cpu_ms();
    const Clock::time_point idle_start = Clock::now();
    QEventLoop idle;
    QTimer::singleShot(int(idle_seconds * 1000), &idle, &QEventLoop::quit);
    idle.exec();
    const double wall = ms_since(idle_start);
    const double cpu = cpu_ms() - cpu_before;
    std::printf("idle with %d boards: %.1f ms CPU in %.0f ms (%.2f %%), %lu pumps, %zu pump notifiers, resident %ld kB\n",
                app.get_boards().rowCount(), cpu, wall, 100.0 * cpu / wall, app.get_pump_count() - pumps_before,
                app.get_notifiers().size(), resident_kb());
    return 0;
}
