#include "Application.h"

#include <cstdlib>
#include <exception>
#include <memory>
#include <iostream>
#include <stdexcept>
#include <vector>

#include <QDebug>
#include <QFileInfo>
#include <QStatusBar>
#include <QPixmap>
#include <QSettings>
#include <QSocketNotifier>
#include <QSplashScreen>
#include <QTextBrowser>

#include <korvik/BoardHolding.h>
#include <korvik/Servers.h>
#include <korvik/USBDevice.h>

#include "shell/EvUSBBoard.h"
#include "core/HexBytes.h"
#include "core/SettingsFile.h"
#include "ui/BoardWindows.h"
#include "ui/MainWindow.h"

Application::Application(int& argc, char** argv)
    : QApplication(argc, argv)
{
    setOrganizationName(QStringLiteral("korvik"));
    setApplicationName(QStringLiteral("paramcalc"));
    // settings of earlier versions were stored without an organisation
    QSettings settings;
    if (settings.allKeys().isEmpty()) {
        QSettings earlier(QStringLiteral("Unknown Organization"), QStringLiteral("paramcalc"));
        for (const QString& key : earlier.allKeys())
            settings.setValue(key, earlier.value(key));
    }
    setApplicationDisplayName(tr("RC Parameter Calculator"));
    qRegisterMetaType<EvUSBHIDStatus>("EvUSBHIDStatus");

    // The library tells us when to pump again; one shot per pump, so a pump
    // that reports no timeout never leaves a timer spinning.
    pump_timer.setParent(this);
    pump_timer.setSingleShot(true);
    connect(&pump_timer, &QTimer::timeout, this, &Application::poll);

    splash = new QSplashScreen(QPixmap(QStringLiteral(":/images/CORVANE_Splash.png")));
    splash->show();

    window = new MainWindow(this);
    window->set_board_model(&boards);
    connect(window, &MainWindow::rescan_requested, this, &Application::rescan);
    connect(window, &MainWindow::simulate_file_requested, this, &Application::simulate_board_from_file);
    connect(window, &MainWindow::simulate_chip_requested, this, &Application::simulate_board_from_chip);
    connect(window, &MainWindow::assistant_requested, this, &Application::open_assistant);
    connect(window, &MainWindow::remove_board_requested, this, &Application::remove_simulated_board);
    connect(window, &MainWindow::replay_capture_requested, this, &Application::replay_capture);
    connect(window, &MainWindow::connect_server_requested, this, &Application::connect_server);
    connect(window, &MainWindow::disconnect_server_requested, this, &Application::disconnect_server);
    window->show();

    connect(this, &QApplication::lastWindowClosed, this, &QApplication::quit);
    // the main window takes every other window with it: its end is the program's end
    connect(window, &QObject::destroyed, this, &QApplication::quit);

    // packets between simulated boards, as KORVIK_VIRTUAL_AIR=1 does; Qt
    // leaves options it does not know alone
    if (arguments().contains(QStringLiteral("--virtual-air")))
        KORVIK::USBDevice::set_virtual_air(true);

    // The first call creates the library, which scans and replays every board.
    connect_connection = KORVIK::USBDevice::notify_device_connect(
        sigc::slot<void(const std::string&, const std::string&)>(sigc::mem_fun(*this, &Application::device_connected)));
    disconnect_connection = KORVIK::USBDevice::notify_device_disconnect(
        sigc::slot<void(const std::string&, const std::string&)>(sigc::mem_fun(*this, &Application::device_disconnected)));

    // Start pumping now rather than at the first manual refresh, so frames
    // from boards present at start are not left waiting.
    poll();
}

Application::~Application()
{
    // an asker posts back to this object: it must be done before the object goes
    for (auto& asker : askers)
        asker.second.join();
    askers.clear();
    connect_connection.disconnect();
    disconnect_connection.disconnect();
    pump_timer.stop();
    for (auto& entry : notifiers)
        delete entry.second;
    notifiers.clear();
    delete window.data();
    delete handbook.data();
    delete splash;
    splash = nullptr;
    boards.clear();
    // boards that left the list but whose deferred deletion never ran
    qDeleteAll(findChildren<EvUSBBoard*>(Qt::FindDirectChildrenOnly));
}

int Application::run()
{
    QCoreApplication::processEvents();
    if (splash) {
        if (window)
            splash->finish(window);
        delete splash;
        splash = nullptr;
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    // closed before the loop began: nothing would ever end the loop
    if (!window)
        return 0;
    return QApplication::exec();
}

void Application::rescan()
{
    KORVIK::USBDevice::rescan_devices();
    poll();
}

void Application::show_info_box(const QString& caption, const QString& text, QMessageBox::Icon icon)
{
    auto* box = new ApplicationInfoBox(caption, text, icon);
    box->show();
}

bool Application::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        qDebug() << "exception in event handler:" << e.what();
        show_info_box(tr("Error"), QString::fromLocal8Bit(e.what()), QMessageBox::Warning);
    } catch (const QString& text) {
        show_info_box(tr("Error"), text, QMessageBox::Warning);
    }
    return false;
}

void Application::open_assistant()
{
    if (!handbook) {
        auto* browser = new QTextBrowser;
        browser->setObjectName(QStringLiteral("handbook"));
        browser->setAttribute(Qt::WA_DeleteOnClose);
        browser->setWindowTitle(tr("RC Parameter Calculator Handbook"));
        browser->setSource(QUrl(QStringLiteral("qrc:/handbook.html")));
        browser->resize(560, 520);
        if (window)
            connect(window, &QObject::destroyed, browser, &QWidget::close);
        handbook = browser;
    }
    handbook->show();
    handbook->raise();
    handbook->activateWindow();
}

void Application::show_assistant_page(QString) {}

void Application::simulate_board_from_file(QString fn)
{
    const QString name = QFileInfo(fn).fileName();
    try {
        const QDomDocument document = read_settings_file(fn, false);
        const SettingsIdentity id = settings_identity(document);
        const QString model = id.model.isEmpty() ? QStringLiteral("RC1200") : id.model;
        const QString ethmac = id.ethmac.isEmpty() ? QStringLiteral("40:00:12:34:56:00") : id.ethmac;
        QString serial = id.serial.isEmpty() ? QStringLiteral("0123456") : id.serial;
        // refuse what would be refused after the board exists, so a bad file adds nothing
        check_settings_document(document);
        QStringList chips;
        for (const std::string& chip : KORVIK::USBDevice::get_supported_chips())
            chips << QString::fromStdString(chip);
        if (!chips.contains(model))
            throw tr("The file is for a chip called \"%1\", which this program does not know (it knows %2).")
                .arg(model, chips.join(QStringLiteral(", ")));
        // The library hands out the board it has under a serial: a listed
        // board, or a real one, would get the file's settings and its stored
        // defaults overwritten. The simulation gets a serial of its own.
        QString moved;
        if (serial_in_use(serial)) {
            const QString taken = serial;
            serial = free_serial();
            moved = tr("Serial %1 of %2 is in use: its board got serial %3").arg(taken, name, serial);
        }
        // the list shows the file's name; its folder is in the recent files
        const QString display = serial + QStringLiteral(" (file ") + name + QStringLiteral(")");
        std::unique_ptr<KORVIK::USBDevice> dev(KORVIK::USBDevice::open_simulation(
            serial.toLocal8Bit().toStdString(), display.toLocal8Bit().toStdString(),
            model.toLocal8Bit().toStdString(), ethmac.toLocal8Bit().toStdString()));
        if (!dev)
            throw tr("Cannot open simulation for chip %1").arg(model);
        const QString interface = QString::fromStdString(dev->get_interface());
        EvUSBBoard* board = boards.find_by_interface(interface);
        if (!board || !board->get_device())
            throw tr("Cannot find board with serial %1 interface %2").arg(serial, interface);
        try {
            board->apply_settings(document, true);
        } catch (...) {
            // nothing of a refused file stays in the list
            board->board_removed();
            throw;
        }
        board->get_device()->commit_registers();
        board->store_boarddefaults();
        if (window) {
            window->add_recent_file(fn);
            window->select_board(board);
            if (!moved.isEmpty())
                window->statusBar()->showMessage(moved, 15000);
        }
    } catch (const QString& text) {
        refused_file(fn, text);
    } catch (const std::exception& e) {
        refused_file(fn, QString::fromLocal8Bit(e.what()));
    }
}

void Application::replay_capture(QString fn)
{
    try {
        std::unique_ptr<KORVIK::USBDevice> dev(KORVIK::USBDevice::open_replay(fn.toLocal8Bit().toStdString()));
        if (!dev)
            throw tr("Cannot replay %1").arg(fn);
        EvUSBBoard* board = boards.find_by_interface(QString::fromStdString(dev->get_interface()));
        if (board && window)
            window->select_board(board);
    } catch (const QString& text) {
        show_info_box(tr("Error replaying capture"), text, QMessageBox::Warning);
    } catch (const std::exception& e) {
        show_info_box(tr("Error replaying capture"), QString::fromLocal8Bit(e.what()), QMessageBox::Warning);
    }
}

void Application::connect_server(QString uri)
{
    // asked again while the first answer is awaited: one answer serves both
    if (askers.count(uri))
        return;
    if (window)
        window->statusBar()->showMessage(tr("Connecting to %1...").arg(uri));
    askers.emplace(uri, [this, uri] {
        const QString error = QString::fromLocal8Bit(KORVIK::Servers::check(uri.toStdString()).c_str());
        QMetaObject::invokeMethod(this, [this, uri, error] { finish_connect(uri, error); }, Qt::QueuedConnection);
    });
}

void Application::finish_connect(const QString& uri, const QString& error)
{
    auto asker = askers.find(uri);
    if (asker != askers.end()) {
        // it posted this answer as its last act
        asker->second.join();
        askers.erase(asker);
    }
    if (!error.isEmpty()) {
        if (window)
            window->statusBar()->clearMessage();
        show_info_box(tr("Cannot connect to server"), error, QMessageBox::Warning);
        return;
    }
    const int before = boards.rowCount();
    try {
        KORVIK::Servers::connect(uri.toStdString());
    } catch (const std::exception& e) {
        show_info_box(tr("Cannot connect to server"), QString::fromLocal8Bit(e.what()), QMessageBox::Warning);
        return;
    }
    // the server's boards came with the connection; the pump picks up its
    // descriptors from now on
    poll();
    if (window)
        window->statusBar()->showMessage(tr("Connected to %1: %n board(s)", nullptr, boards.rowCount() - before).arg(uri),
                                         15000);
}

void Application::disconnect_server(QString uri)
{
    const int before = boards.rowCount();
    const bool was = KORVIK::Servers::disconnect(uri.toStdString());
    poll();
    if (window)
        window->statusBar()->showMessage(was ? tr("Disconnected from %1: %n board(s) left", nullptr, before - boards.rowCount()).arg(uri)
                                             : tr("Not connected to %1").arg(uri),
                                         15000);
}

void Application::refused_file(const QString& fn, const QString& text)
{
    // a file that is gone has no place among the recent files
    if (window && !QFileInfo::exists(fn))
        window->remove_recent_file(fn);
    show_info_box(tr("Error reading XML file"), tr("Cannot open %1 as a simulated board.\n\n%2").arg(QFileInfo(fn).fileName(), text),
                  QMessageBox::Warning);
}

void Application::simulate_board_from_chip(QString chip)
{
    try {
        // a serial that names a board already there would open that board
        // and overwrite its defaults
        const std::string serial = free_serial().toStdString();
        const char* digits = serial.c_str();
        std::string mac = "40:0";
        for (int i = 0; i < 7; ++i) {
            mac += digits[i];
            if (i % 2 == 0)
                mac += ':';
        }
        const std::string ethmac = mac + "00";
        const std::string radiomac = mac + "01";
        std::cerr << "MAC str: " << ethmac << std::endl;
        const std::string display = serial + " (sim)";

        KORVIK::USBDevice* dev = KORVIK::USBDevice::open_simulation(serial, display, chip.toStdString(), ethmac);
        if (!dev)
            throw tr("Cannot open simulation for chip %1").arg(chip);
        // the handle from open_simulation is ours alone; the board object keeps its own
        std::unique_ptr<KORVIK::USBDevice> guard(dev);
        EvUSBBoard* board = boards.find_by_interface(QString::fromStdString(dev->get_interface()));
        if (board && board->get_device()) {
            KORVIK::USBDevice* d = board->get_device();
            unsigned char bytes[6];
            d->load_chipdefaults();
            parse_hex_bytes(QString::fromStdString(ethmac), bytes, 6);
            d->set_nv_ethmac(bytes);
            parse_hex_bytes(QString::fromStdString(radiomac), bytes, 6);
            d->set_nv_radio_ethmac(bytes);
            d->commit_registers();
            board->store_boarddefaults();
            if (window)
                window->select_board(board);
        }
    } catch (const QString& text) {
        show_info_box(tr("Error simulating chip"), text, QMessageBox::Warning);
    } catch (const std::exception& e) {
        show_info_box(tr("Error simulating chip"), QString::fromLocal8Bit(e.what()), QMessageBox::Warning);
    }
}

bool Application::serial_in_use(const QString& serial)
{
    std::unique_ptr<KORVIK::USBDevice> existing(KORVIK::USBDevice::open(serial.toLocal8Bit().toStdString()));
    return existing != nullptr;
}

QString Application::free_serial()
{
    for (;;) {
        QString serial;
        for (int i = 0; i < 7; ++i)
            serial += QChar('0' + std::rand() % 10);
        if (!serial_in_use(serial))
            return serial;
    }
}

void Application::remove_simulated_board(EvUSBBoard* board)
{
    KORVIK::USBDevice* dev = board ? board->get_device() : nullptr;
    // a real board leaves when it is unplugged, not on request; the library
    // keeps the simulation's serial taken, so a file of it gets a new one
    if (dev && (dev->get_boardflags() & 1))
        board->board_removed();
}

void Application::poll()
{
    ++pump_count;
    KORVIK::USBDevice::periodic();
    std::map<quintptr, QSocketNotifier*> previous;
    previous.swap(notifiers);
    std::vector<void*> handles;
    const int timeout = KORVIK::USBDevice::get_poll_handles(handles);
    for (void* handle : handles) {
        const quintptr key = reinterpret_cast<quintptr>(handle);
        if (notifiers.count(key))
            continue;
        auto kept = previous.find(key);
        if (kept != previous.end()) {
            notifiers.insert(*kept);
            previous.erase(kept);
            continue;
        }
        auto* notifier = new QSocketNotifier(qintptr(key), QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, &Application::poll);
        notifiers.emplace(key, notifier);
    }
    // this pump may run inside a notifier's own activated signal: never delete it here
    for (auto& entry : previous) {
        entry.second->setEnabled(false);
        entry.second->deleteLater();
    }
    if (timeout >= 0)
        pump_timer.start(timeout);
}

void Application::device_connected(const std::string& interface, const std::string& serial)
{
    qDebug().noquote() << "notify connect: " + QString::fromStdString(interface) + " / "
            + QString::fromStdString(serial);
    KORVIK::USBDevice* dev = KORVIK::USBDevice::open_iface(interface);
    if (!dev)
        return;
    auto* board = new EvUSBBoard(this, dev);
    new BoardWindows(board);
    // the window widens the list for the new row itself
    if (boards.add_board(board) < 0) {
        delete board;
        return;
    }
    if (KORVIK::is_nv_interrupted(*dev))
        show_info_box(tr("Stored defaults"),
                      tr("Board %1: its stored defaults are a store that did not finish (the board stopped "
                         "answering while storing), so they were not loaded. Store the defaults again to write "
                         "them whole.")
                          .arg(QString::fromStdString(serial)),
                      QMessageBox::Warning);
}

void Application::device_disconnected(const std::string& interface, const std::string& serial)
{
    qDebug().noquote() << "notify disconnect: " + QString::fromStdString(interface) + " / "
            + QString::fromStdString(serial);
    if (EvUSBBoard* board = boards.find_by_interface(QString::fromStdString(interface)))
        board->board_removed();
}

ApplicationInfoBox::ApplicationInfoBox(const QString& caption, const QString& text, QMessageBox::Icon icon)
    : QMessageBox(icon, caption, text, QMessageBox::Ok, nullptr,
                  Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_QuitOnClose);
    setModal(false);
    connect(this, &QMessageBox::finished, this, &ApplicationInfoBox::quit);
}

void ApplicationInfoBox::quit()
{
    deleteLater();
}
