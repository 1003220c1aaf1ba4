// File > Connect to Server...: a korvikd's boards join the list as a user
// types the server's URI, a refused one says why, and the boards leave the
// list when their server goes away.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QComboBox>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QStatusBar>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include <korvik/Servers.h>

#include "ProgramTestSupport.h"
#include "ui/Confirm.h"
#include "ui/FieldBindings.h"
#include "ui/MainWindow.h"

extern char** environ;

namespace {

struct Korvikd {
    std::string dir, socket;
    pid_t pid = -1;

    Korvikd()
    {
        char tmpl[] = "/tmp/korvikd-app-XXXXXX";
        dir = mkdtemp(tmpl);
        socket = dir + "/korvikd.sock";
        std::vector<std::string> args = {KORVIKD_PATH, "--socket", socket, "--sim", "RC1200", "--sim", "RC1300"};
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        if (posix_spawn(&pid, KORVIKD_PATH, nullptr, nullptr, argv.data(), environ) != 0)
            qFatal("cannot start korvikd");
        struct stat st;
        for (int i = 0; i < 400 && stat(socket.c_str(), &st) != 0; ++i)
            QTest::qWait(25);
    }
    void kill()
    {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        pid = -1;
    }
    ~Korvikd()
    {
        kill();
        std::system(("rm -rf " + dir).c_str());
    }
};

bool wait_for(const std::function<bool()>& done, int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < ms)
        QTest::qWait(20);
    return done();
}

// The message box the program shows, once it does (within `ms`), or null.
QMessageBox* message_box(int ms)
{
    QMessageBox* box = nullptr;
    wait_for(
        [&] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* b = qobject_cast<QMessageBox*>(w); b && b->isVisible())
                    box = b;
            return box != nullptr;
        },
        ms);
    return box;
}

QStringList server_boards(Application& app, const std::string& socket)
{
    QStringList found;
    BoardList& boards = app.get_boards();
    for (int row = 0; row < boards.rowCount(); ++row) {
        const QString iface = boards.data(boards.index(row, BoardList::ColInterface)).toString();
        if (iface.startsWith(QString::fromStdString(socket) + QLatin1Char('/')))
            found << boards.data(boards.index(row, BoardList::ColChip)).toString();
    }
    found.sort();
    return found;
}

// Triggers the menu entry and returns the dialog it opened, if any (the
// visible one: an earlier one may wait for its deletion).
QInputDialog* dialog_of(Application& app, const char* action, const QString& dialog_name)
{
    window_widget<QAction>(app, action)->trigger();
    QInputDialog* dialog = nullptr;
    for (auto* d : app.get_window()->findChildren<QInputDialog*>(dialog_name))
        if (d->isVisible())
            dialog = d;
    return dialog;
}

// File > Connect to Server..., the URI typed into the dialog, Enter
QString connect_through_menu(Application& app, const QString& uri)
{
    QInputDialog* dialog = dialog_of(app, "actionConnectServer", QStringLiteral("connectServerDialog"));
    if (!dialog)
        qFatal("no connect dialog");
    const QString offered = dialog->textValue();
    QLineEdit* field = dialog->findChild<QLineEdit*>();
    if (!field || !QTest::qWaitForWindowExposed(dialog))
        qFatal("no field in the connect dialog");
    // keys go straight to the field: an offscreen dialog need not get focus
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(field, uri);
    QTest::keyClick(field, Qt::Key_Return);
    return offered;
}

// File > Disconnect from Server..., Enter on the first server offered;
// false when no dialog came (not connected)
bool disconnect_through_menu(Application& app)
{
    QInputDialog* dialog = dialog_of(app, "actionDisconnectServer", QStringLiteral("disconnectServerDialog"));
    if (!dialog)
        return false;
    QComboBox* choice = dialog->findChild<QComboBox*>();
    if (!choice || !QTest::qWaitForWindowExposed(dialog))
        qFatal("no server choice in the disconnect dialog");
    QTest::keyClick(choice, Qt::Key_Return);
    return true;
}

class ServerMenu : public QObject {
    Q_OBJECT
public:
    explicit ServerMenu(Application& app_) : app(app_) {}

private Q_SLOTS:
    void boards_of_a_server_are_listed_and_leave_with_it()
    {
        Korvikd daemon;
        const QString uri = QStringLiteral("unix:") + QString::fromStdString(daemon.socket);
        connect_through_menu(app, uri);
        QVERIFY(wait_for([&] { return server_boards(app, daemon.socket).size() == 2; }, 5000));
        QCOMPARE(server_boards(app, daemon.socket), (QStringList{QStringLiteral("RC1200"), QStringLiteral("RC1300")}));
        QVERIFY(KORVIK::Servers::list().size() == 1);

        // a server's board opens and reads like any other
        BoardList& boards = app.get_boards();
        EvUSBBoard* remote = nullptr;
        for (int row = 0; row < boards.rowCount(); ++row)
            if (boards.board_at(row)->get_device()->get_interface().rfind(daemon.socket, 0) == 0)
                remote = boards.board_at(row);
        QVERIFY(remote);
        QVERIFY(KORVIK::Servers::is_remote(*remote->get_device()));
        app.get_window()->select_board(remote);
        QVERIFY(!remote->get_device()->is_dead());
        QVERIFY(remote->get_device()->get_chip_name().size() > 0);

        // the dialog offers the last server next time
        const QString offered = connect_through_menu(app, uri);
        QCOMPARE(offered, uri);
        QCOMPARE(server_boards(app, daemon.socket).size(), 2); // connected once only

        // File > Disconnect: a board with settings not stored as its
        // defaults is named, and kept when the user says no
        app.get_window()->field_bindings().write(window_widget<QDoubleSpinBox>(app, "radio_txpower"), -4.0);
        QStringList asked;
        bool keep = true;
        const auto saved = confirm_replace;
        confirm_replace = [&](QWidget*, const QString& q) {
            asked << q;
            return !keep;
        };
        QVERIFY(disconnect_through_menu(app));
        QCOMPARE(asked.size(), 1);
        QVERIFY2(asked[0].contains(QString::fromStdString(remote->get_device()->get_display_name())), qPrintable(asked[0]));
        QCOMPARE(server_boards(app, daemon.socket).size(), 2);
        keep = false;
        QVERIFY(disconnect_through_menu(app));
        confirm_replace = saved;
        QVERIFY(wait_for([&] { return server_boards(app, daemon.socket).isEmpty(); }, 4000));
        QVERIFY(KORVIK::Servers::list().empty());
        QVERIFY(!disconnect_through_menu(app)); // nothing left to disconnect
        QCOMPARE(app.get_window()->statusBar()->currentMessage(), QStringLiteral("Not connected to any server"));

        // connected again, the server goes away: its boards leave the list as unplugged ones do
        connect_through_menu(app, uri);
        QVERIFY(wait_for([&] { return server_boards(app, daemon.socket).size() == 2; }, 5000));
        daemon.kill();
        QVERIFY(wait_for([&] { return server_boards(app, daemon.socket).isEmpty(); }, 4000));
        KORVIK::Servers::disconnect(uri.toStdString());
    }

    void a_refused_server_says_why()
    {
        const int rows = app.get_boards().rowCount();
        connect_through_menu(app, QStringLiteral("unix:/nonexistent/korvikd.sock"));
        QMessageBox* box = message_box(5000);
        QVERIFY(box);
        QVERIFY(box->text().contains(QStringLiteral("cannot connect")));
        QCOMPARE(app.get_boards().rowCount(), rows);
        box->close();

        // a malformed URI changes nothing either
        connect_through_menu(app, QStringLiteral("http://bench7:80"));
        box = message_box(2000);
        QVERIFY(box);
        QVERIFY(box->text().contains(QStringLiteral("unknown scheme")));
        box->close();
        QCOMPARE(app.get_boards().rowCount(), rows);
    }

    // A server that takes the connection and never answers: the window
    // goes on (the answer is awaited on a thread of its own) and then says why.
    void a_silent_server_leaves_the_window_responsive()
    {
        char tmpl[] = "/tmp/korvikd-silent-XXXXXX";
        const std::string dir = mkdtemp(tmpl);
        const std::string path = dir + "/korvikd.sock";
        const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
        QVERIFY(bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0);
        QVERIFY(listen(listener, 8) == 0);
        const int rows = app.get_boards().rowCount();
        const QString uri = QStringLiteral("unix:") + QString::fromStdString(path);

        QElapsedTimer clock;
        clock.start();
        connect_through_menu(app, uri);
        QVERIFY2(clock.elapsed() < 500, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(app.get_window()->statusBar()->currentMessage(), QStringLiteral("Connecting to %1...").arg(uri));
        bool ticked = false;
        QTimer::singleShot(50, &app, [&] { ticked = true; });
        QVERIFY(wait_for([&] { return ticked; }, 1000));
        QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));

        QMessageBox* box = message_box(6000);
        QVERIFY(box);
        QVERIFY2(box->text().contains(QStringLiteral("cannot connect")), qPrintable(box->text()));
        QCOMPARE(app.get_boards().rowCount(), rows);
        QVERIFY(KORVIK::Servers::list().empty());
        box->close();
        ::close(listener);
        unlink(path.c_str());
        rmdir(dir.c_str());
    }

private:
    Application& app;
};

} // namespace

int main(int argc, char** argv)
{
    Application app(argc, argv);
    ServerMenu test(app);
    return QTest::qExec(&test, argc, argv);
}

#include "test_servers.moc"
