// Ending the program with a board's windows open: the event loop must end,
// every board object must go exactly once, and no window may hold it up.
#include <cstdio>
#include <memory>

#include <QAction>
#include <QMenu>
#include <QPointer>
#include <QTableView>
#include <QTimer>
#include <QWindow>

#include <korvik/USBDevice.h>

#include "board/EvUSBBoard.h"
#include "Application.h"
#include "shell/EvUSBBoard.h"
#include "ui/MainWindow.h"

#define CHECK(cond)                                                          \
    do {                                                                     \
        if (!(cond)) {                                                       \
            std::fprintf(stderr, "FAIL %s:%d: %s\n", __FILE__, __LINE__, #cond); \
            return 1;                                                        \
        }                                                                    \
    } while (0)

int main(int argc, char** argv)
{
    int destroyed = 0;
    QPointer<EvUSBBoard> kept, gone;
    {
        Application app(argc, argv);
        MainWindow* window = app.get_window();
        for (QAction* a : window->findChild<QMenu*>(QStringLiteral("menuSimulateDevice"))->actions())
            if (a->text() == QStringLiteral("RC1200")) {
                a->trigger();
                a->trigger();
            }
        CHECK(app.get_boards().rowCount() == 2);
        kept = app.get_boards().board_at(0);
        gone = app.get_boards().board_at(1);
        for (EvUSBBoard* b : {kept.data(), gone.data()})
            QObject::connect(b, &QObject::destroyed, [&destroyed]() { ++destroyed; });
        window->findChild<QTableView*>(QStringLiteral("devicelist"))->selectRow(0);

        // windows of the board that stays until the end
        kept->open_code_snippet_window(1);
        kept->message_box(QStringLiteral("caption"), QStringLiteral("text"));
        kept->save_file();
        // a board that leaves the library first: deleted later, once
        gone->get_device()->get_board()->leave_registry();
        CHECK(app.get_boards().rowCount() == 1);

        bool timed_out = false;
        QTimer::singleShot(50, window, &MainWindow::quit);
        QTimer::singleShot(5000, &app, [&]() {
            timed_out = true;
            for (QWidget* w : QApplication::topLevelWidgets())
                if (w->isVisible())
                    std::fprintf(stderr, "still open: %s %s\n", w->metaObject()->className(), qPrintable(w->windowTitle()));
            for (QWindow* w : QGuiApplication::topLevelWindows())
                std::fprintf(stderr, "qwindow: %s visible=%d\n", w->objectName().toLatin1().constData(), w->isVisible());
            QCoreApplication::exit(2);
        });
        const int code = app.run();
        CHECK(!timed_out);
        CHECK(code == 0);
        CHECK(!kept);
    }
    CHECK(!gone);
    CHECK(destroyed == 2);
    std::printf("shutdown: ok\n");
    return 0;
}
