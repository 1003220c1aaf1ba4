// Nothing a user does to a board is lost: every change is one step of the
// board's undo stack, undo and redo leave every field showing the board, the
// undo keys work from inside a field, and leaving with unsaved settings asks.
#include <cmath>
#include <functional>

#include <QAbstractItemView>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QUndoStack>

#include <korvik/USBDevice.h>

#include "Application.h"
#include "ProgramTestSupport.h"
#include "core/SettingsFile.h"
#include "shell/BoardState.h"
#include "ui/Confirm.h"
#include "ui/FieldBindings.h"

class HistoryTest : public QObject {
    Q_OBJECT
public:
    explicit HistoryTest(Application* app) : app(app) {}

private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void every_change_is_one_step_and_undo_shows_the_board();
    void a_loaded_file_undoes_to_the_typed_crystal();
    void undo_keys_work_inside_a_field();
    void quit_and_remove_ask_naming_the_boards();
    void every_stored_setting_counts_as_unsaved_until_saved();

private:
    MainWindow* window() const { return app->get_window(); }
    template <class T> T* widget(const char* name) const { return window_widget<T>(*app, name); }
    KORVIK::USBDevice& dev() const { return *window()->get_current_board()->get_device(); }
    QUndoStack* stack() const { return window()->get_current_board()->undo_stack(); }
    // every bound field shows what the board holds; the first that does not, or ""
    QString stale_field() const;
    QString write_settings_file(const std::function<void(KORVIK::USBDevice&)>& change, const QString& name);
    void edit_cell(const char* table, int column);

    Application* app;
    QTemporaryDir dir;
};

void HistoryTest::initTestCase()
{
    window()->set_advanced_pages_shown(true);
}

void HistoryTest::cleanup()
{
    remove_all_boards(*app);
}

QString HistoryTest::stale_field() const
{
    for (const FieldBinding& b : window()->field_bindings().all()) {
        if (!b.get)
            continue;
        const QVariant v = b.get(dev());
        bool same = true;
        QString shown;
        if (auto* d = qobject_cast<QDoubleSpinBox*>(b.widget)) {
            same = std::fabs(d->value() - v.toDouble()) <= 0.5 * std::pow(10.0, -d->decimals()) + 1e-9;
            shown = d->text();
        } else if (auto* s = qobject_cast<QSpinBox*>(b.widget)) {
            same = s->value() == v.toInt();
            shown = s->text();
        } else if (auto* c = qobject_cast<QComboBox*>(b.widget)) {
            same = c->currentIndex() == v.toInt();
            shown = c->currentText();
        } else if (auto* x = qobject_cast<QCheckBox*>(b.widget)) {
            same = x->isChecked() == v.toBool();
        } else if (auto* e = qobject_cast<QLineEdit*>(b.widget)) {
            shown = e->text();
            QString a = shown, want = v.toString();
            for (QString* t : {&a, &want}) {
                t->remove(QLatin1Char(' '));
                t->remove(QLatin1Char(':'));
            }
            same = a.compare(want, Qt::CaseInsensitive) == 0;
        }
        if (!same)
            return QStringLiteral("%1 shows \"%2\", the board holds %3").arg(b.label, shown, v.toString());
    }
    return QString();
}

QString HistoryTest::write_settings_file(const std::function<void(KORVIK::USBDevice&)>& change, const QString& name)
{
    // a second board of the same chip writes the file, as a colleague's would
    std::unique_ptr<KORVIK::USBDevice> other(
        KORVIK::USBDevice::open_simulation("7654321", "other", dev().get_chip_name(), "40:07:65:43:21:00"));
    change(*other);
    other->commit_registers();
    const QString fn = dir.filePath(name);
    save_settings_file(*other, fn);
    other->get_board()->leave_registry();
    return fn;
}

void HistoryTest::edit_cell(const char* name, int column)
{
    auto* table = widget<QTableView>(name);
    QVERIFY(show_page(*app, table == widget<QTableView>("registertable") ? "Registers" : "Bitfields"));
    // the first cell that takes a new value (some bits of a register are the chip's own)
    const DeviceState before = DeviceState::of(dev());
    for (int row = 0; row < table->model()->rowCount() && DeviceState::of(dev()) == before; ++row) {
        const QModelIndex index = table->model()->index(row, column);
        if (!(table->model()->flags(index) & Qt::ItemIsEditable))
            continue;
        const uint value = index.data(Qt::EditRole).toUInt();
        const uint width = index.data(Qt::UserRole).toUInt();
        const QString keys = QString::number(width >= 32 ? value ^ 1u : (value + 1) % (1u << width), 16);
        table->setCurrentIndex(index);
        table->edit(index);
        QWidget* editor = QApplication::focusWidget();
        QVERIFY(editor && editor != table);
        QTest::keyClick(editor, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(editor, keys);
        QTest::keyClick(editor, Qt::Key_Return);
    }
}

void HistoryTest::every_change_is_one_step_and_undo_shows_the_board()
{
    struct Case {
        const char* what;
        std::function<void(HistoryTest&)> act;
    };
    const QString file = [this]() {
        window()->select_board(simulate_from_menu(*app, QStringLiteral("RC1200")));
        return write_settings_file(
            [](KORVIK::USBDevice& d) {
                d.set_xtal_frequency(14000000);
                d.set_rx_carrierfrequency(433.92e6);
                d.set_chacc_slottime(0.02);
            },
            QStringLiteral("other.xml"));
    }();
    cleanup();
    auto answer_yes = [](QWidget*, const QString&) { return true; };
    const Case cases[] = {
        {"Load File", [&](HistoryTest&) { window()->get_current_board()->load_file(file); }},
        {"Load Defaults", [](HistoryTest& t) { t.widget<QPushButton>("loadboarddefaults")->click(); }},
        {"Load Chip Defaults", [](HistoryTest& t) { t.widget<QPushButton>("loadchipdefaults")->click(); }},
        {"slot time typed",
         [](HistoryTest& t) {
             auto* f = t.widget<QSpinBox>("chacc_slottime");
             t.widget<QTabWidget>("edittabs")->setCurrentWidget(f->parentWidget()->parentWidget());
             QVERIFY(type_into(f, QStringLiteral("37")));
             QTest::keyClick(f, Qt::Key_Return);
         }},
        {"serial typed",
         [](HistoryTest& t) {
             auto* f = t.widget<QLineEdit>("device_usbserial");
             t.widget<QTabWidget>("edittabs")->setCurrentWidget(f->parentWidget()->parentWidget());
             QVERIFY(type_into(f, QStringLiteral("1234567")));
             QTest::keyClick(f, Qt::Key_Return);
         }},
        {"register edited", [](HistoryTest& t) { t.edit_cell("registertable", 2); }},
        {"bitfield edited", [](HistoryTest& t) { t.edit_cell("bitfieldtable", 1); }},
    };
    const auto saved = confirm_replace;
    confirm_replace = answer_yes;
    for (const Case& c : cases) {
        EvUSBBoard* board = simulate_from_menu(*app, QStringLiteral("RC1200"));
        window()->select_board(board);
        // something to replace: an edit the defaults do not have
        dev().set_rx_carrierfrequency(869.5e6);
        dev().set_chacc_slottime(0.005);
        dev().commit_registers();
        stack()->clear();
        const DeviceState before = DeviceState::of(dev());
        c.act(*this);
        const DeviceState after = DeviceState::of(dev());
        QVERIFY2(after != before, c.what);
        QVERIFY2(stack()->count() == 1, qPrintable(QStringLiteral("%1: %2 steps").arg(QLatin1String(c.what)).arg(stack()->count())));
        widget<QAction>("actionUndo")->trigger();
        QVERIFY2(DeviceState::of(dev()) == before, c.what);
        QVERIFY2(stale_field().isEmpty(), qPrintable(QLatin1String(c.what) + QStringLiteral(" undone: ") + stale_field()));
        widget<QAction>("actionRedo")->trigger();
        QVERIFY2(DeviceState::of(dev()) == after, c.what);
        QVERIFY2(stale_field().isEmpty(), qPrintable(QLatin1String(c.what) + QStringLiteral(" redone: ") + stale_field()));
        cleanup();
    }
    confirm_replace = saved;
}

void HistoryTest::a_loaded_file_undoes_to_the_typed_crystal()
{
    window()->select_board(simulate_from_menu(*app, QStringLiteral("RC1200")));
    const QString file = write_settings_file([](KORVIK::USBDevice& d) { d.set_xtal_frequency(14000000); }, QStringLiteral("xtal14.xml"));
    auto* xtal = widget<QDoubleSpinBox>("radio_xtalfreq");
    widget<QTabWidget>("edittabs")->setCurrentWidget(xtal->parentWidget()->parentWidget());
    QVERIFY(type_into(xtal, QStringLiteral("15")));
    QTest::keyClick(xtal, Qt::Key_Return);
    QCOMPARE(dev().get_xtal_frequency(), 15000000u);
    const auto saved = confirm_replace;
    confirm_replace = [](QWidget*, const QString&) { return true; };
    window()->get_current_board()->load_file(file);
    confirm_replace = saved;
    QCOMPARE(dev().get_xtal_frequency(), 14000000u);
    QCOMPARE(widget<QAction>("actionUndo")->text(), QStringLiteral("&Undo Load File xtal14.xml"));
    QTest::keyClick(window(), Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(dev().get_xtal_frequency(), 15000000u);
    QCOMPARE(xtal->value(), 15.0);
    QVERIFY2(stale_field().isEmpty(), qPrintable(stale_field()));
    QTest::keyClick(window(), Qt::Key_Y, Qt::ControlModifier);
    QCOMPARE(dev().get_xtal_frequency(), 14000000u);
    QCOMPARE(xtal->value(), 14.0);
    QVERIFY2(stale_field().isEmpty(), qPrintable(stale_field()));
}

void HistoryTest::undo_keys_work_inside_a_field()
{
    window()->select_board(simulate_from_menu(*app, QStringLiteral("RC1200")));
    auto* rx = widget<QDoubleSpinBox>("radio_rxfreq");
    widget<QTabWidget>("edittabs")->setCurrentWidget(rx->parentWidget()->parentWidget());
    const double before = dev().get_rx_carrierfrequency();
    QVERIFY(type_into(rx, QStringLiteral("869.5")));
    QTest::keyClick(rx, Qt::Key_Return);
    const double after = dev().get_rx_carrierfrequency();
    QVERIFY(std::fabs(after - 869.5e6) < 1e4);
    QVERIFY(rx->hasFocus());
    QTest::keyClick(rx, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(dev().get_rx_carrierfrequency(), before);
    QVERIFY(rx->hasFocus());
    QCOMPARE(rx->text(), rx->textFromValue(before * 1e-6));
    QTest::keyClick(rx, Qt::Key_Y, Qt::ControlModifier);
    QCOMPARE(dev().get_rx_carrierfrequency(), after);
    QCOMPARE(rx->text(), rx->textFromValue(after * 1e-6));
    // typed but not applied: undo takes back the last change and the field
    // drops the typing for what the board holds
    QTest::keyClicks(rx, QStringLiteral("1"));
    QTest::keyClick(rx, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(dev().get_rx_carrierfrequency(), before);
    QCOMPARE(rx->text(), rx->textFromValue(before * 1e-6));
}

void HistoryTest::quit_and_remove_ask_naming_the_boards()
{
    EvUSBBoard* a = simulate_from_menu(*app, QStringLiteral("RC1200"));
    EvUSBBoard* b = simulate_from_menu(*app, QStringLiteral("RC1400"));
    EvUSBBoard* c = simulate_from_menu(*app, QStringLiteral("RC1300"));
    const auto name = [](EvUSBBoard* board) { return QString::fromStdString(board->get_device()->get_display_name()); };
    QStringList questions;
    bool answer = false;
    const auto saved = confirm_replace;
    confirm_replace = [&](QWidget*, const QString& q) {
        questions << q;
        return answer;
    };
    for (EvUSBBoard* board : {a, b}) {
        window()->select_board(board);
        auto* rx = widget<QDoubleSpinBox>("radio_rxfreq");
        rx->setValue(rx->value() + 1.0);
    }
    // a stored board leaves without a question
    window()->select_board(c);
    widget<QAction>("actionRemoveBoard")->trigger();
    QCOMPARE(questions.size(), 0);
    QVERIFY(app->get_boards().row_of(c) < 0);

    window()->select_board(a);
    widget<QAction>("actionRemoveBoard")->trigger();
    QCOMPARE(questions.size(), 1);
    QVERIFY(questions[0].contains(name(a)) && !questions[0].contains(name(b)));
    QVERIFY(app->get_boards().row_of(a) >= 0);

    widget<QAction>("actionQuit")->trigger();
    QCOMPARE(questions.size(), 2);
    QVERIFY2(questions[1].contains(name(a)) && questions[1].contains(name(b)), qPrintable(questions[1]));
    QVERIFY(window()->isVisible());

    answer = true;
    window()->select_board(a);
    widget<QAction>("actionRemoveBoard")->trigger();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(app->get_boards().rowCount(), 1);
    confirm_replace = saved;
}

void HistoryTest::every_stored_setting_counts_as_unsaved_until_saved()
{
    // what Save Defaults writes beside the registers, each typed as a user does
    struct Case {
        const char* field;
        QString typed;
    };
    const Case cases[] = {
        {"chacc_slottime", "37"},
        {"device_usbserial", "1234567"},
        {"radio_xtaltol", "12"},
    };
    QStringList questions;
    const auto saved = confirm_replace;
    confirm_replace = [&](QWidget*, const QString& q) {
        questions << q;
        return false;
    };
    for (const Case& c : cases) {
        EvUSBBoard* board = simulate_from_menu(*app, QStringLiteral("RC1200"));
        window()->select_board(board);
        auto* field = widget<QWidget>(c.field);
        widget<QTabWidget>("edittabs")->setCurrentWidget(field->parentWidget()->parentWidget());
        QVERIFY2(type_into(field, c.typed), c.field);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        questions.clear();
        widget<QAction>("actionRemoveBoard")->trigger();
        QVERIFY2(questions.size() == 1, c.field);
        QVERIFY2(questions[0].contains(QString::fromStdString(dev().get_display_name())), qPrintable(questions[0]));
        QVERIFY2(app->get_boards().row_of(board) >= 0, c.field);
        // stored, it leaves without a question
        widget<QPushButton>("saveboarddefaults")->click();
        questions.clear();
        widget<QAction>("actionRemoveBoard")->trigger();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY2(questions.isEmpty(), qPrintable(QLatin1String(c.field) + QStringLiteral(": ") + questions.join(QLatin1Char('|'))));
        QCOMPARE(app->get_boards().rowCount(), 0);
    }
    confirm_replace = saved;
}

int main(int argc, char** argv)
{
    Application app(argc, argv);
    HistoryTest test(&app);
    return QTest::qExec(&test, argc, argv);
}

#include "test_history.moc"
