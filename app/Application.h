#pragma once

#include <map>
#include <thread>
#include <string>

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

#include <sigc++/connection.h>

#include "shell/BoardList.h"
#include "ui/MainWindow.h"

class QSocketNotifier;
class QSplashScreen;

// The program: splash screen, main window, board arrival and removal, and the
// pump that drives the library's event loop from Qt's.
class Application : public QApplication {
    Q_OBJECT
public:
    Application(int& argc, char** argv);
    ~Application() override;

    int run();
    void rescan();
    void show_info_box(const QString& caption, const QString& text, QMessageBox::Icon icon);

    BoardList& get_boards() { return boards; }
    MainWindow* get_window() const { return window; }
    // Library exceptions escaping a slot end up here and become a warning box.
    bool notify(QObject* receiver, QEvent* event) override;

    // The pump's state, for tests and benchmarks.
    const std::map<quintptr, QSocketNotifier*>& get_notifiers() const { return notifiers; }
    QTimer& get_pump_timer() { return pump_timer; }
    unsigned long get_pump_count() const { return pump_count; }

public Q_SLOTS:
    void open_assistant();
    void show_assistant_page(QString page);
    void simulate_board_from_file(QString fn);
    void simulate_board_from_chip(QString chip);
    // Opens a capture file as a replayed board and selects it.
    void replay_capture(QString fn);
    // Connects to a korvikd; its boards then arrive as plugged-in ones do.
    // The server is first asked on a thread of its own, so that the window
    // stays responsive while one does not answer (up to 2 s).
    void connect_server(QString uri);
    void disconnect_server(QString uri);
    // Takes a simulated board out of the library and the list.
    void remove_simulated_board(EvUSBBoard* board);

private Q_SLOTS:
    void poll();

private:
    static bool serial_in_use(const QString& serial);
    static QString free_serial();
    void refused_file(const QString& fn, const QString& text);
    void device_connected(const std::string& interface, const std::string& serial);
    void device_disconnected(const std::string& interface, const std::string& serial);
    // The second half of connect_server, once the server answered (or not).
    void finish_connect(const QString& uri, const QString& error);

    QPointer<MainWindow> window;
    BoardList boards;
    QSplashScreen* splash = nullptr;
    QPointer<QWidget> handbook;
    sigc::connection connect_connection;
    sigc::connection disconnect_connection;
    QTimer pump_timer;
    std::map<quintptr, QSocketNotifier*> notifiers;
    unsigned long pump_count = 0;
    // the threads asking servers, by URI; each is joined when its answer
    // has come, the rest when the application ends
    std::map<QString, std::thread> askers;
};

// Non-modal message box of the application; deletes itself when closed.
class ApplicationInfoBox : public QMessageBox {
    Q_OBJECT
public:
    ApplicationInfoBox(const QString& caption, const QString& text, QMessageBox::Icon icon);

private Q_SLOTS:
    void quit();
};
