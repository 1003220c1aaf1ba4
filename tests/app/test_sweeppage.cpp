// The Packet Test window's Sweep page over simulated boards on the virtual
// air, driven as a user would: the tab, the variable chosen with the arrow
// keys, values typed into the fields, the buttons.
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineSeries>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QChart>
#include <QChartView>

#include <korvik/LinkTools.h>
#include <korvik/USBDevice.h>

#include "Application.h"
#include "board/EvUSBBoard.h"
#include "shell/BoardList.h"
#include "shell/EvUSBBoard.h"
#include "ui/MainWindow.h"
#include "ui/Mnemonics.h"
#include "ui/PacketTestWindow.h"
#include "ui/SweepPage.h"

class SweepPageTest : public QObject {
    Q_OBJECT
public:
    explicit SweepPageTest(Application* app) : app(app) {}

private Q_SLOTS:
    void initTestCase();
    void fast_path_loss_sweep_plots_every_point();
    void search_reports_the_value_and_its_interval();
    void refusals_stop_and_a_leaving_board();

private:
    EvUSBBoard* simulate();
    void open_sweep_page();
    void choose_variable(const QString& caption);
    void type(QAbstractSpinBox* box, const QString& text);
    void set_range(const QString& from, const QString& to, const QString& step, const QString& count);
    template <class T> T* widget(const char* name)
    {
        T* w = window->findChild<T*>(QLatin1String(name));
        if (!w)
            qFatal("no widget %s", name);
        return w;
    }
    QList<QPointF> series(const QString& name);
    void wait_done();

    Application* app;
    PacketTestWindow* window = nullptr;
    SweepPage* page = nullptr;
};

void SweepPageTest::initTestCase()
{
    KORVIK::USBDevice::set_virtual_air(true);
    KORVIK::USBDevice::set_virtual_air_seed(7);
    KORVIK::USBDevice::set_virtual_air_path_loss(60);
    // the air starts in real time; the page's check box asks for simulated time
    QVERIFY(!KORVIK::is_virtual_air_fast());
    QVERIFY(simulate() && simulate());
    open_sweep_page();
}

EvUSBBoard* SweepPageTest::simulate()
{
    const int before = app->get_boards().rowCount();
    for (QAction* a : app->get_window()->findChild<QMenu*>("menuSimulateDevice")->actions())
        if (a->text() == "RC1200")
            a->trigger();
    if (app->get_boards().rowCount() != before + 1)
        return nullptr;
    EvUSBBoard* b = app->get_boards().board_at(app->get_boards().rowCount() - 1);
    b->get_device()->load_chipdefaults();
    return b;
}

void SweepPageTest::open_sweep_page()
{
    for (QAction* a : app->get_window()->findChild<QMenu*>("menuWindows")->actions())
        if (a->objectName() == "actionPacketTest")
            a->trigger();
    window = app->get_window()->findChild<PacketTestWindow*>();
    QVERIFY(window);
    QVERIFY(QTest::qWaitForWindowExposed(window));
    auto* pages = widget<QTabWidget>("pages");
    // the tab's mnemonic
    QTest::keyClick(window, Qt::Key_W, Qt::AltModifier);
    page = window->get_sweep_page();
    QCOMPARE(pages->currentWidget(), static_cast<QWidget*>(page));
    // every mnemonic in sight reaches one widget
    QMap<QChar, QString> seen;
    auto take = [&](const QString& text) {
        const QChar m = mnemonic_of(text);
        if (m.isNull())
            return;
        QVERIFY2(!seen.contains(m), qPrintable(seen.value(m) + " / " + text));
        seen.insert(m, text);
    };
    for (QLabel* l : window->findChildren<QLabel*>())
        if (l->isVisible())
            take(l->text());
    for (QAbstractButton* b : window->findChildren<QAbstractButton*>())
        if (b->isVisible())
            take(b->text());
    for (int i = 0; i < pages->count(); ++i)
        take(pages->tabText(i));
    QVERIFY(seen.size() >= 10);
}

void SweepPageTest::choose_variable(const QString& caption)
{
    auto* box = widget<QComboBox>("sweep_variable");
    box->setFocus();
    QTest::keyClick(box, Qt::Key_Home);
    for (int i = 0; i < box->count() && !box->currentText().startsWith(caption); ++i)
        QTest::keyClick(box, Qt::Key_Down);
    QVERIFY2(box->currentText().startsWith(caption), qPrintable(box->currentText()));
}

void SweepPageTest::type(QAbstractSpinBox* box, const QString& text)
{
    box->setFocus();
    box->selectAll();
    QTest::keyClicks(box, text);
    QTest::keyClick(box, Qt::Key_Enter);
}

void SweepPageTest::set_range(const QString& from, const QString& to, const QString& step, const QString& count)
{
    type(widget<QDoubleSpinBox>("sweep_from"), from);
    type(widget<QDoubleSpinBox>("sweep_to"), to);
    type(widget<QDoubleSpinBox>("sweep_step"), step);
    type(widget<QSpinBox>("sweep_count"), count);
}

QList<QPointF> SweepPageTest::series(const QString& name)
{
    for (QAbstractSeries* s : widget<QChartView>("sweep_chart")->chart()->series())
        if (s->name().startsWith(name))
            return static_cast<QLineSeries*>(s)->points();
    return {};
}

void SweepPageTest::wait_done()
{
    QTRY_VERIFY_WITH_TIMEOUT(!page->is_running(), 120000);
}

void SweepPageTest::fast_path_loss_sweep_plots_every_point()
{
    choose_variable("Path loss");
    QVERIFY(widget<QDoubleSpinBox>("sweep_from")->suffix().contains("dB"));
    set_range("60", "140", "10", "200");
    auto* fast = widget<QCheckBox>("sweep_fast");
    QVERIFY(fast->isEnabled());
    fast->setFocus();
    QTest::keyClick(fast, Qt::Key_Space);
    QVERIFY(fast->isChecked());

    QTest::mouseClick(widget<QPushButton>("sweep_start"), Qt::LeftButton);
    QVERIFY(page->is_running());
    // one measurement at a time, on boards that stay chosen
    QVERIFY(!widget<QPushButton>("start")->isEnabled());
    QVERIFY(!widget<QComboBox>("transmitter")->isEnabled());
    QVERIFY(KORVIK::is_virtual_air_fast());
    wait_done();

    const std::vector<SweepPoint>& points = page->points();
    QCOMPARE(points.size(), size_t(9));
    const QList<QPointF> per = series("Packet error rate");
    const QList<QPointF> rssi = series("Mean RSSI");
    QCOMPARE(per.size(), 9);
    for (int i = 0; i < 9; ++i) {
        QCOMPARE(per[i].x(), 60.0 + 10 * i);
        QCOMPARE(per[i].y(), 100 * points[size_t(i)].per);
        QCOMPARE(points[size_t(i)].sent, 200u);
    }
    // a strong signal gets through, one far below the sensitivity does not
    QCOMPARE(per.front().y(), 0.0);
    QCOMPARE(per.back().y(), 100.0);
    // the RSSI falls with the loss, dB for dB, where every packet gets
    // through (nearer the sensitivity only the luckier ones arrive)
    QVERIFY(rssi.size() >= 3);
    for (int i = 1; i < rssi.size() && per[i].y() == 0; ++i)
        QVERIFY2(std::fabs(rssi[i - 1].y() - rssi[i].y() - (rssi[i].x() - rssi[i - 1].x())) < 1.5,
                 qPrintable(QString("%1 %2").arg(rssi[i - 1].y()).arg(rssi[i].y())));
    auto* progress = widget<QProgressBar>("sweep_progress");
    QCOMPARE(progress->value(), progress->maximum());
    const QString text = widget<QLabel>("sweep_result")->text();
    QVERIFY2(text.startsWith("9 points of 200 packets, PER 0.0 % to 100.0 %"), qPrintable(text));
    // the air's time and the swept loss are as they were
    QVERIFY(!KORVIK::is_virtual_air_fast());
    const auto [tx, rx] = std::make_pair(app->get_boards().board_at(0), app->get_boards().board_at(1));
    QCOMPARE(KORVIK::get_virtual_air_path_loss(tx->get_device()->get_interface(), rx->get_device()->get_interface()), 60.0);
    QVERIFY(widget<QPushButton>("start")->isEnabled());

    // the rows go out as `korvik sweep --csv` writes them
    QTemporaryDir dir;
    const QString file = dir.filePath("sweep.csv");
    QTest::mouseClick(widget<QPushButton>("sweep_export"), Qt::LeftButton);
    auto* dialog = window->findChild<QFileDialog*>();
    QVERIFY(dialog);
    dialog->selectFile(file);
    QVERIFY(QMetaObject::invokeMethod(dialog, "accept"));
    QFile f(file);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QStringList rows = QString::fromUtf8(f.readAll()).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(rows.size(), 10);
    QVERIFY(rows[0].startsWith("variable,value,actual,sent,received,intact,per,"));
    for (int i = 1; i < rows.size(); ++i) {
        const QStringList cells = rows[i].split(',');
        QCOMPARE(cells[0], QString("path_loss"));
        QCOMPARE(cells[1].toDouble(), 60.0 + 10 * (i - 1));
        QCOMPARE(cells[5].toUInt(), points[size_t(i - 1)].intact);
    }
    // a file that cannot be written says so
    QVERIFY(!page->write_csv(dir.filePath("no such folder/sweep.csv")));
    auto* box = window->findChild<QMessageBox*>();
    QVERIFY(box && box->text().startsWith("Cannot write "));
    box->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void SweepPageTest::search_reports_the_value_and_its_interval()
{
    choose_variable("Path loss");
    set_range("60", "150", "0.5", "200");
    auto* find = widget<QCheckBox>("sweep_find");
    QVERIFY(!widget<QDoubleSpinBox>("sweep_target")->isEnabled());
    find->setFocus();
    QTest::keyClick(find, Qt::Key_Space);
    QVERIFY(widget<QDoubleSpinBox>("sweep_target")->isEnabled());
    type(widget<QDoubleSpinBox>("sweep_target"), "10");
    QCOMPARE(widget<QDoubleSpinBox>("sweep_target")->value(), 10.0);
    QVERIFY(widget<QCheckBox>("sweep_fast")->isChecked());

    QTest::mouseClick(widget<QPushButton>("sweep_start"), Qt::LeftButton);
    QVERIFY(page->is_running());
    wait_done();
    const Sweep::Found& f = page->found();
    QVERIFY(f.found);
    QVERIFY(f.low <= f.value && f.value <= f.high && f.high - f.low <= 0.5 + 1e-9);
    // every measured point lies on its side of the value found
    for (const SweepPoint& p : page->points()) {
        if (p.per_interval.high < 0.1)
            QVERIFY2(p.value <= f.high, qPrintable(QString::number(p.value)));
        if (p.per_interval.low > 0.1)
            QVERIFY2(p.value >= f.low, qPrintable(QString::number(p.value)));
    }
    const QString text = widget<QLabel>("sweep_result")->text();
    QVERIFY2(text.startsWith(QString("PER 10 % at %1 dB (between ").arg(f.value, 0, 'f', 1)), qPrintable(text));
    const QList<QPointF> marker = series("Found");
    QCOMPARE(marker.size(), 2);
    QCOMPARE(marker[0].x(), f.value);
    // a search measures out of order; the plot joins neighbours in the variable
    const QList<QPointF> per = series("Packet error rate");
    QCOMPARE(per.size(), int(page->points().size()));
    for (int i = 1; i < per.size(); ++i)
        QVERIFY(per[i - 1].x() <= per[i].x());
    QTest::keyClick(find, Qt::Key_Space);
    QVERIFY(!find->isChecked());
}

void SweepPageTest::refusals_stop_and_a_leaving_board()
{
    // a step away from STOP is refused before anything is sent
    choose_variable("Path loss");
    set_range("60", "140", "-5", "10");
    QCOMPARE(widget<QDoubleSpinBox>("sweep_step")->value(), -5.0);
    QTest::mouseClick(widget<QPushButton>("sweep_start"), Qt::LeftButton);
    QVERIFY(!page->is_running());
    auto* box = window->findChild<QMessageBox*>();
    QVERIFY(box);
    QVERIFY2(box->text().contains("step goes away from STOP"), qPrintable(box->text()));
    box->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    // a power sweep in real time, stopped by the user: the power is put back
    EvUSBBoard* tx = app->get_boards().board_at(0);
    const double power = tx->get_device()->get_tx_power();
    choose_variable("Transmit power");
    QVERIFY(widget<QDoubleSpinBox>("sweep_step")->suffix().contains("dB"));
    QVERIFY(widget<QDoubleSpinBox>("sweep_from")->suffix().contains("dBm"));
    set_range("-10", "10", "5", "100000");
    auto* fast = widget<QCheckBox>("sweep_fast");
    fast->setFocus();
    QTest::keyClick(fast, Qt::Key_Space);
    QVERIFY(!fast->isChecked());
    QTest::mouseClick(widget<QPushButton>("sweep_start"), Qt::LeftButton);
    QVERIFY(page->is_running());
    QVERIFY(!KORVIK::is_virtual_air_fast());
    // the first point's power (as the chip's steps allow) is set at once
    QVERIFY2(tx->get_device()->get_tx_power() != power && tx->get_device()->get_tx_power() <= -10,
             qPrintable(QString::number(tx->get_device()->get_tx_power())));
    QTest::qWait(200);
    QTest::mouseClick(widget<QPushButton>("sweep_stop"), Qt::LeftButton);
    QVERIFY(!page->is_running());
    QCOMPARE(tx->get_device()->get_tx_power(), power);

    // a board that leaves ends the sweep with a message
    QTest::mouseClick(widget<QPushButton>("sweep_start"), Qt::LeftButton);
    QVERIFY(page->is_running());
    const QString rx_interface = widget<QComboBox>("receiver")->currentData().toString();
    EvUSBBoard* rx = app->get_boards().find_by_interface(rx_interface);
    QVERIFY(rx);
    QTest::qWait(50);
    rx->get_device()->get_board()->leave_registry();
    QTRY_VERIFY(!page->is_running());
    box = window->findChild<QMessageBox*>();
    QVERIFY(box);
    QVERIFY2(box->text().contains("has left; the sweep stopped."), qPrintable(box->text()));
    box->close();
}

int main(int argc, char** argv)
{
    Application app(argc, argv);
    SweepPageTest test(&app);
    return QTest::qExec(&test, argc, argv);
}

#include "test_sweeppage.moc"
