// The "Packet Test" window over simulated boards on the virtual air, driven
// as a user would: menu, typed values, buttons, the export file chooser.
#include <QAction>
#include <QApplication>
#include <QChartView>
#include <QScatterSeries>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <korvik/USBDevice.h>

#include "Application.h"
#include "ProgramTestSupport.h"
#include "board/EvUSBBoard.h"
#include "shell/BoardList.h"
#include "shell/EvUSBBoard.h"
#include "ui/MainWindow.h"
#include "ui/PacketTestWindow.h"

class PacketWindowTest : public QObject {
    Q_OBJECT
public:
    explicit PacketWindowTest(Application* app) : app(app) {}

private Q_SLOTS:
    void initTestCase();
    void short_test_exports_its_rows();
    void leaving_board_or_closing_stops_the_test();
    void many_packets_keep_the_chart_bounded_and_stop_at_once();
    void rssi_points_show_in_the_theme_colour();

private:
    PacketTestWindow* open_window();
    EvUSBBoard* simulate(const QString& chip);
    void type(QSpinBox* box, const QString& text);
    QPushButton* button(const QString& text);

    Application* app;
    PacketTestWindow* window = nullptr;
};

void PacketWindowTest::initTestCase()
{
    KORVIK::USBDevice::set_virtual_air(true);
    KORVIK::USBDevice::set_virtual_air_path_loss(60);
}

EvUSBBoard* PacketWindowTest::simulate(const QString& chip)
{
    // the list is sorted: the new board is the one not listed before, wherever it went
    EvUSBBoard* b = simulate_from_menu(*app, chip);
    if (b)
        b->get_device()->load_chipdefaults();
    return b;
}

PacketTestWindow* PacketWindowTest::open_window()
{
    for (QAction* a : app->get_window()->findChild<QMenu*>("menuWindows")->actions())
        if (a->objectName() == "actionPacketTest")
            a->trigger();
    return app->get_window()->findChild<PacketTestWindow*>();
}

void PacketWindowTest::type(QSpinBox* box, const QString& text)
{
    box->setFocus();
    box->selectAll();
    QTest::keyClicks(box, text);
    QTest::keyClick(box, Qt::Key_Enter);
}

QPushButton* PacketWindowTest::button(const QString& name)
{
    return window->findChild<QPushButton*>(name);
}

void PacketWindowTest::short_test_exports_its_rows()
{
    EvUSBBoard* a = simulate("RC1200");
    EvUSBBoard* b = simulate("RC1200");
    QVERIFY(a && b && a != b);
    QVERIFY(a->get_device()->get_serial() != b->get_device()->get_serial());
    window = open_window();
    QVERIFY(window);
    QVERIFY(window->isVisible());
    auto* tx = window->findChild<QComboBox*>("transmitter");
    auto* rx = window->findChild<QComboBox*>("receiver");
    QCOMPARE(tx->count(), 2);
    // the two boards are the test's two ends, one each
    const QSet<QString> ends = {tx->currentData().toString(), rx->currentData().toString()};
    QCOMPARE(ends, (QSet<QString>{QString::fromStdString(a->get_device()->get_interface()),
                                  QString::fromStdString(b->get_device()->get_interface())}));
    QVERIFY(!button("export")->isEnabled());
    type(window->findChild<QSpinBox*>("count"), "12");
    type(window->findChild<QSpinBox*>("interval"), "5");
    QCOMPARE(window->findChild<QSpinBox*>("count")->value(), 12);

    QTest::mouseClick(button("start"), Qt::LeftButton);
    QVERIFY(window->is_running());
    // the program stalls while the first packet is in the air: it is
    // delivered late, but the board had it on time
    QTimer::singleShot(0, [] { QThread::msleep(300); });
    QTRY_VERIFY_WITH_TIMEOUT(!window->is_running(), 10000);
    // the chart was drawn a few times, not once per packet
    QVERIFY(window->redraws() >= 1 && window->redraws() < 12);
    const QString summary = window->findChild<QLabel*>("summary")->text();
    QVERIFY2(summary.startsWith("PER 0.0 % (0 of 12 lost)"), qPrintable(summary));

    QTemporaryDir dir;
    const QString file = dir.filePath("per.csv");
    QTest::mouseClick(button("export"), Qt::LeftButton);
    auto* dialog = window->findChild<QFileDialog*>();
    QVERIFY(dialog);
    dialog->selectFile(file);
    QVERIFY(QMetaObject::invokeMethod(dialog, "accept")); // the Save button
    QFile f(file);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QStringList rows = QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
    // comment lines first: both boards' settings, then the rows under a header with units
    QStringList comments;
    while (!rows.isEmpty() && rows.front().startsWith('#'))
        comments << rows.takeFirst();
    QVERIFY2(comments.size() >= 3, qPrintable(comments.join('\n')));
    for (EvUSBBoard* board : {a, b})
        QVERIFY(comments.join('\n').contains(QString::fromStdString(board->get_device()->get_serial())));
    QVERIFY(comments.join('\n').contains(" MHz, modulation "));
    QCOMPARE(rows.size(), 13);
    QCOMPARE(rows[0], QString("sequence,send_time_s,board_receive_time_s,receive_time_s,rssi_dBm,offset_Hz,received"));
    const std::vector<PacketRecord>& records = window->last_log()->records();
    double most_late = 0;
    for (int i = 1; i < rows.size(); ++i) {
        const QStringList cells = rows[i].split(',');
        QCOMPARE(cells.size(), 7);
        const PacketRecord& r = records[size_t(i - 1)];
        QCOMPARE(cells[0].toUInt(), r.sequence);
        QCOMPARE(cells[6], QString("1"));
        QCOMPARE(cells[4].toInt(), r.rssi);
        QVERIFY(qAbs(cells[1].toDouble() - r.send_time) < 1e-5);
        QVERIFY(qAbs(cells[2].toDouble() - r.board_time) < 1e-5);
        // sent, then at the board, then handed to the window
        QVERIFY2(cells[2].toDouble() >= cells[1].toDouble() && cells[3].toDouble() >= cells[2].toDouble(),
                 qPrintable(rows[i]));
        most_late = std::max(most_late, r.receive_time - r.board_time);
    }
    QVERIFY2(most_late > 0.2, qPrintable(QString::number(most_late)));
}

void PacketWindowTest::leaving_board_or_closing_stops_the_test()
{
    window = open_window();
    QVERIFY(window);
    type(window->findChild<QSpinBox*>("count"), "100000");
    type(window->findChild<QSpinBox*>("interval"), "20");
    QTest::mouseClick(button("start"), Qt::LeftButton);
    QVERIFY(window->is_running());
    const QString rx_interface = window->findChild<QComboBox*>("receiver")->currentData().toString();
    EvUSBBoard* rx = app->get_boards().find_by_interface(rx_interface);
    QVERIFY(rx);
    QTest::qWait(50);
    rx->get_device()->get_board()->leave_registry();
    QTRY_VERIFY(!window->is_running());
    auto* box = window->findChild<QMessageBox*>();
    QVERIFY(box);
    QVERIFY(box->text().contains("has left; the test stopped."));
    box->close();

    // closing the window ends a running test with it
    simulate("RC1200");
    QTest::mouseClick(button("start"), Qt::LeftButton);
    QVERIFY(window->is_running());
    QPointer<PacketTestWindow> guard(window);
    window->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!guard);
}

void PacketWindowTest::many_packets_keep_the_chart_bounded_and_stop_at_once()
{
    simulate("RC1200");
    simulate("RC1200");
    window = open_window();
    QVERIFY(window);
    type(window->findChild<QSpinBox*>("count"), "3000");
    type(window->findChild<QSpinBox*>("interval"), "1");
    QTest::mouseClick(button("start"), Qt::LeftButton);
    QVERIFY(window->is_running());
    // past the first bucket boundaries, well before the end
    QTRY_VERIFY_WITH_TIMEOUT(window->last_log() && window->last_log()->received() > 1200, 20000);
    QVERIFY(window->is_running());
    QTest::mouseClick(button("stop"), Qt::LeftButton);
    QVERIFY(!window->is_running());
    QVERIFY(window->drawn_points() > 0);
    QVERIFY(window->drawn_points() <= 3 * PacketTestWindow::chart_buckets);
    // the statistics come from every packet, not from the drawn ones
    const PacketTestSummary s = window->last_log()->summary();
    const QString summary = window->findChild<QLabel*>("summary")->text();
    QVERIFY2(summary.contains(QString("of %1 lost").arg(s.sent)), qPrintable(summary));
    QVERIFY(s.sent > 1200 && s.sent < 3000);
}

void PacketWindowTest::rssi_points_show_in_the_theme_colour()
{
    QVERIFY(simulate("RC1200") && simulate("RC1200"));
    window = open_window();
    QVERIFY(window);
    window->resize(640, 560);
    type(window->findChild<QSpinBox*>("count"), "60");
    type(window->findChild<QSpinBox*>("interval"), "2");
    QTest::mouseClick(button("start"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!window->is_running(), 10000);
    auto* view = window->findChild<QChartView*>("packet_chart");
    QScatterSeries* rssi = view ? qobject_cast<QScatterSeries*>(view->chart()->series().value(0)) : nullptr;
    QVERIFY(rssi && rssi->count() > 0);
    // on a light and then a dark palette every point is on the screen in
    // the series' (and its legend's) colour, not in the other theme's
    const QPalette light = QApplication::palette();
    QPalette dark = light;
    dark.setColor(QPalette::Window, QColor(40, 40, 40));
    for (const QPalette& palette : {light, dark}) {
        QApplication::setPalette(palette);
        QCoreApplication::processEvents();
        const QImage shown = view->viewport()->grab().toImage();
        for (const QPointF& p : rssi->points()) {
            const QPoint at = view->mapFromScene(view->chart()->mapToScene(view->chart()->mapToPosition(p, rssi)));
            const QColor pixel = shown.pixelColor(at * shown.devicePixelRatio()), colour = rssi->color();
            QVERIFY2(qAbs(pixel.red() - colour.red()) + qAbs(pixel.green() - colour.green()) + qAbs(pixel.blue() - colour.blue()) < 40,
                     qPrintable(pixel.name() + " where the series is " + colour.name()));
        }
    }
    QApplication::setPalette(light);
    window->close();
}

int main(int argc, char** argv)
{
    Application app(argc, argv);
    PacketWindowTest test(&app);
    return QTest::qExec(&test, argc, argv);
}

#include "test_packetwindow.moc"
