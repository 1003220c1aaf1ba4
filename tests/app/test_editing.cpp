// The editing policy as a user meets it: typed values land when the edit is
// finished, focused fields are left alone, clamped values are reported,
// edits undo, settings are not replaced or overwritten without asking.
#include <cmath>
#include <functional>
#include <set>

#include <QAction>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <korvik/USBDevice.h>

#include "Application.h"
#include "ProgramTestSupport.h"
#include "board/EvUSBBoard.h"
#include "core/SettingsFile.h"
#include "shell/BoardList.h"
#include "shell/EvUSBBoard.h"
#include "shell/GFRegisterModel.h"
#include "ui/CodeWindow.h"
#include "ui/Confirm.h"
#include "ui/FieldBindings.h"
#include "ui/MainWindow.h"

class EditingTest : public QObject {
    Q_OBJECT
public:
    explicit EditingTest(Application* app) : app(app) {}

private Q_SLOTS:
    void cleanup();
    void typed_values_reach_the_chip_when_finished();
    void focused_field_keeps_what_is_typed();
    void clamped_value_is_shown_and_reported();
    void undo_and_redo_per_board();
    void replacing_unsaved_settings_asks_first();
    void flash_column_follows_a_save();
    void open_chip_settings_never_overwrites_a_board();
    void tips_name_range_unit_and_step_and_change_nothing();
    void empty_list_hint_selection_removal_and_advanced_pages();
    void filter_code_window_titles_and_recent_files();

private:
    MainWindow* window() const { return app->get_window(); }
    template <class T> T* widget(const char* name) const { return window_widget<T>(*app, name); }
    EvUSBBoard* simulate(const QString& chip) { return simulate_from_menu(*app, chip); }
    KORVIK::USBDevice* dev() const { return window()->get_current_board()->get_device(); }
    // types into a field the way a user does: focus, select all, keys
    void type(QWidget* field, const QString& keys);
    void choose(const char* combo, const std::function<bool(KORVIK::USBDevice&)>& wanted);

    Application* app;
    QTemporaryDir dir;
};

void EditingTest::cleanup()
{
    BoardList& boards = app->get_boards();
    while (boards.rowCount() > 0) {
        EvUSBBoard* board = boards.board_at(0);
        board->get_device()->get_board()->leave_registry();
        if (boards.board_at(0) == board)
            boards.remove_row(0);
    }
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w != window() && w->isVisible())
            w->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void EditingTest::type(QWidget* field, const QString& keys)
{
    window()->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window()));
    field->setFocus();
    QVERIFY(field->hasFocus());
    QTest::keyClick(field, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(field, keys);
}

void EditingTest::choose(const char* name, const std::function<bool(KORVIK::USBDevice&)>& wanted)
{
    auto* combo = widget<QComboBox>(name);
    for (int i = 0; i < combo->count() && !wanted(*dev()); ++i) {
        combo->setCurrentIndex(i);
        Q_EMIT combo->activated(i);
    }
}

void EditingTest::typed_values_reach_the_chip_when_finished()
{
    struct Case {
        const char* chip;
        std::function<void(EditingTest&)> setup;
        const char* field;
        const char* keys;
        std::function<double(KORVIK::USBDevice&)> read;
        double want;
    };
    using D = KORVIK::USBDevice;
    const Case cases[] = {
        {"RC1200", {}, "radio_xtalfreq", "15.99", [](D& d) { return double(d.get_xtal_frequency()); }, 15990000.0},
        {"RC1200", [](EditingTest& t) { t.choose("framing_mode", [](D& d) { return d.is_framingmode_hdlc(); }); },
         "framing_crcinit", "1234abcd", [](D& d) { return double(d.get_crcinit()); }, double(0x1234ABCD)},
        {"RC1400",
         [](EditingTest& t) {
             t.choose("framing_mode", [](D& d) { return d.is_framingmode_rawpreamblematch(); });
             t.widget<QSpinBox>("framing_preamblelength")->setValue(16);
         },
         "framing_preamblepattern", "a5c3", [](D& d) { return double(d.get_preamble()); }, double(0xA5C3)},
        {"RC1400", [](EditingTest& t) { t.choose("framing_mode", [](D& d) { return d.is_framingmode_rawpreamblematch(); }); },
         "framing_preamblelength", "16", [](D& d) { return double(d.get_preamble_length()); }, 16.0},
        {"RC1200", {}, "radio_txfreq", "433.92", [](D& d) { return std::round(d.get_tx_carrierfrequency() / 1e4) * 1e4; }, 433920000.0},
    };
    for (const Case& c : cases) {
        const QString what = QStringLiteral("%1 %2").arg(QLatin1String(c.chip), QLatin1String(c.field));
        EvUSBBoard* board = simulate(QLatin1String(c.chip));
        QVERIFY2(board, qPrintable(what));
        window()->select_board(board);
        if (c.setup)
            c.setup(*this);
        QWidget* field = window()->findChild<QWidget*>(QLatin1String(c.field));
        widget<QTabWidget>("edittabs")->setCurrentWidget(field->parentWidget());
        const double before = c.read(*dev());
        QSignalSpy carrier(board, &EvUSBBoard::changed_tx_carrierfrequency);
        type(field, QLatin1String(c.keys));
        QVERIFY2(c.read(*dev()) == before, qPrintable(what + QStringLiteral(": changed while typing")));
        QTest::keyClick(field, Qt::Key_Return);
        QVERIFY2(c.read(*dev()) == c.want, qPrintable(what + QStringLiteral(": got %1").arg(c.read(*dev()), 0, 'f')));
        // a typed carrier is one change of it (one reprogramming), not one per key
        if (QLatin1String(c.field) == QLatin1String("radio_txfreq"))
            QCOMPARE(carrier.size(), 1);
        cleanup();
    }
}

void EditingTest::focused_field_keeps_what_is_typed()
{
    window()->select_board(simulate(QStringLiteral("RC1200")));
    choose("framing_mode", [](KORVIK::USBDevice& d) { return d.is_framingmode_hdlc(); });
    auto* crc = widget<QLineEdit>("framing_crcinit");
    widget<QTabWidget>("edittabs")->setCurrentWidget(crc->parentWidget());
    type(crc, QStringLiteral("ab"));
    const QString typed = crc->text();
    // the device changes under the user's typing: the field is left alone
    dev()->set_crcinit(0x11111111);
    dev()->commit_registers();
    QCOMPARE(crc->text(), typed);
    // leaving it finishes the edit, and the field shows the device again
    crc->clearFocus();
    QCoreApplication::processEvents();
    QCOMPARE(crc->text().remove(QLatin1Char(' ')), QStringLiteral("%1").arg(dev()->get_crcinit(), 8, 16, QLatin1Char('0')).toUpper());
}

void EditingTest::clamped_value_is_shown_and_reported()
{
    window()->select_board(simulate(QStringLiteral("RC1200")));
    auto* xtal = widget<QDoubleSpinBox>("radio_xtalfreq");
    type(xtal, QStringLiteral("1"));
    QTest::keyClick(xtal, Qt::Key_Return);
    const double held = dev()->get_xtal_frequency() * 1e-6;
    QVERIFY(held > 1.0);
    QCOMPARE(xtal->value(), held);
    const QString message = window()->statusBar()->currentMessage();
    QVERIFY2(message.startsWith(QStringLiteral("Crystal frequency 1 MHz is below")) && message.contains(QStringLiteral("set to")),
             qPrintable(message));
}

void EditingTest::undo_and_redo_per_board()
{
    EvUSBBoard* first = simulate(QStringLiteral("RC1200"));
    EvUSBBoard* second = simulate(QStringLiteral("RC1200"));
    window()->select_board(first);
    auto* rx = widget<QDoubleSpinBox>("radio_rxfreq");
    QAction* undo = window()->findChild<QAction*>(QStringLiteral("actionUndo"));
    QAction* redo = window()->findChild<QAction*>(QStringLiteral("actionRedo"));
    QCOMPARE(undo->shortcut(), QKeySequence(QStringLiteral("Ctrl+Z")));
    QCOMPARE(redo->shortcut(), QKeySequence(QStringLiteral("Ctrl+Y")));
    const double before = dev()->get_rx_carrierfrequency();
    rx->setValue(868.3);
    const double after = dev()->get_rx_carrierfrequency();
    QVERIFY(after != before);
    // another board's stack is its own
    window()->select_board(second);
    QVERIFY(!undo->isEnabled());
    window()->select_board(first);
    undo->trigger();
    QCOMPARE(dev()->get_rx_carrierfrequency(), before);
    QCOMPARE(rx->value(), std::round(before) / 1e6);
    redo->trigger();
    QCOMPARE(dev()->get_rx_carrierfrequency(), after);
}

void EditingTest::replacing_unsaved_settings_asks_first()
{
    window()->select_board(simulate(QStringLiteral("RC1200")));
    QStringList questions;
    bool answer = false;
    const auto saved = confirm_replace;
    confirm_replace = [&](QWidget*, const QString& q) {
        questions << q;
        return answer;
    };
    auto* chipdefaults = widget<QPushButton>("loadchipdefaults");
    chipdefaults->click();
    QCOMPARE(questions.size(), 0); // nothing unsaved: no question
    // the chip defaults keep the board's own MAC, given in colon form at creation
    QCOMPARE(dev()->get_nv_ethernet_mac()[0], (unsigned char)0x40);
    QVERIFY(dev()->get_nv_ethernet_mac()[5] != 0xFF);
    widget<QDoubleSpinBox>("radio_rxfreq")->setValue(868.3);
    const double edited = dev()->get_rx_carrierfrequency();
    for (const char* button : {"loadchipdefaults", "loadboarddefaults"})
        widget<QPushButton>(button)->click();
    QCOMPARE(questions.size(), 2);
    QCOMPARE(dev()->get_rx_carrierfrequency(), edited);
    answer = true;
    widget<QPushButton>("loadboarddefaults")->click();
    QVERIFY(dev()->get_rx_carrierfrequency() != edited);
    confirm_replace = saved;
}

void EditingTest::flash_column_follows_a_save()
{
    EvUSBBoard* board = simulate(QStringLiteral("RC1200"));
    window()->select_board(board);
    auto* model = board->register_model();
    // a new board is stored as it is: nothing marked as unsaved
    for (int r = 0; r < model->rowCount(); ++r)
        QVERIFY(!model->data(model->index(r, 0), Qt::FontRole).isValid());
    widget<QDoubleSpinBox>("radio_rxfreq")->setValue(868.3);
    int row = -1;
    for (unsigned r = 0; r < dev()->get_registers() && row < 0; ++r)
        if (dev()->get_register_chipvalue(r) != dev()->get_register_nvvalue(r))
            row = int(r);
    QVERIFY(row >= 0);
    QVERIFY(model->data(model->index(row, 0), Qt::FontRole).value<QFont>().bold());
    QSignalSpy changed(model, &QAbstractItemModel::dataChanged);
    widget<QPushButton>("saveboarddefaults")->click();
    bool flash_announced = false;
    for (const auto& args : changed)
        flash_announced |= args.at(0).toModelIndex().row() <= row && args.at(1).toModelIndex().row() >= row
            && args.at(0).toModelIndex().column() <= GFRegisterModel::ColFlash
            && args.at(1).toModelIndex().column() >= GFRegisterModel::ColFlash;
    QVERIFY(flash_announced);
    QCOMPARE(model->data(model->index(row, GFRegisterModel::ColFlash)), model->data(model->index(row, GFRegisterModel::ColValue)));
    QVERIFY(!model->data(model->index(row, 0), Qt::FontRole).isValid());
}

void EditingTest::open_chip_settings_never_overwrites_a_board()
{
    EvUSBBoard* listed = simulate(QStringLiteral("RC1200"));
    KORVIK::USBDevice& d = *listed->get_device();
    const QString file = dir.filePath(QStringLiteral("listed.xml"));
    save_settings_file(d, file);
    std::vector<unsigned char> stored;
    for (unsigned r = 0; r < d.get_registers(); ++r)
        stored.push_back(d.get_register_nvvalue(r));
    d.set_framingmode(0);
    d.commit_registers();

    BoardList& boards = app->get_boards();
    window()->simulate_board(file);
    QCOMPARE(boards.rowCount(), 2);
    for (unsigned r = 0; r < d.get_registers(); ++r)
        QCOMPARE(d.get_register_nvvalue(r), stored[r]);
    EvUSBBoard* added = window()->get_current_board();
    QVERIFY(added && added != listed);
    const QString name = QString::fromStdString(added->get_device()->get_display_name());
    QVERIFY2(name.endsWith(QStringLiteral("(file %1)").arg(QFileInfo(file).fileName())), qPrintable(name));
    const QString note = window()->statusBar()->currentMessage();
    QVERIFY2(note.contains(QStringLiteral("is in use")), qPrintable(note));

    // files refused after reading add nothing, and say why
    const QByteArray text = settings_file_text(d);
    const std::pair<QByteArray, const char*> refused[] = {
        {QByteArray(text).replace("model=\"RC1200\"", ""), "no model attribute"},
        {QByteArray(text).replace("ethmac=\"", "ethmac=\"4::"), "MAC address parse error"},
        {QByteArray(text).replace("<reg ", "<reg/><reg "), "register entries"},
    };
    for (const auto& r : refused) {
        const QString bad = dir.filePath(QStringLiteral("bad.xml"));
        QFile f(bad);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(r.first);
        f.close();
        window()->simulate_board(bad);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(boards.rowCount(), 2);
        QString box;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* b = qobject_cast<QMessageBox*>(w); b && b->isVisible())
                box = b->text();
        QVERIFY2(box.contains(QLatin1String(r.second)), qPrintable(box));
        for (QWidget* w : QApplication::topLevelWidgets())
            if (qobject_cast<QMessageBox*>(w))
                w->close();
    }
}

void EditingTest::tips_name_range_unit_and_step_and_change_nothing()
{
    window()->select_board(simulate(QStringLiteral("RC1200")));
    FieldBindings& bindings = window()->field_bindings();
    const DeviceState before = DeviceState::of(*dev());
    const double carrier = dev()->get_rx_carrierfrequency();
    const QString tip = bindings.tooltip(widget<QDoubleSpinBox>("radio_rxfreq"));
    QVERIFY2(tip.contains(QStringLiteral("MHz")) && tip.contains(QStringLiteral("Range")) && tip.contains(QStringLiteral("One chip step")),
             qPrintable(tip));
    for (const char* name : {"radio_txbitrate", "radio_rxbandwidth", "radio_txpower", "radio_xtalfreq", "radio_txh"})
        QVERIFY2(!bindings.tooltip(window()->findChild<QWidget*>(QLatin1String(name))).isEmpty(), name);
    QVERIFY(DeviceState::of(*dev()) == before);
    QCOMPARE(dev()->get_rx_carrierfrequency(), carrier);
    for (unsigned r = 0; r < dev()->get_registers(); ++r)
        QCOMPARE(dev()->get_register_changemask(r), 0);
}

void EditingTest::empty_list_hint_selection_removal_and_advanced_pages()
{
    auto* hint = widget<QLabel>("emptyhint");
    QVERIFY(hint->isVisible());
    QVERIFY(hint->text().startsWith(QStringLiteral("No evaluation boards found.")));
    EvUSBBoard* board = simulate(QStringLiteral("RC1300"));
    QVERIFY(!hint->isVisible());
    QCOMPARE(window()->get_current_board(), board);
    QAction* remove = window()->findChild<QAction*>(QStringLiteral("actionRemoveBoard"));
    QVERIFY(remove->isEnabled());
    remove->trigger();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(app->get_boards().rowCount(), 0);
    QVERIFY(hint->isVisible());

    auto* tabs = widget<QTabWidget>("edittabs");
    auto titles = [tabs]() {
        QStringList t;
        for (int i = 0; i < tabs->count(); ++i)
            t << tabs->tabText(i);
        return t;
    };
    QAction* advanced = window()->findChild<QAction*>(QStringLiteral("actionAdvancedPages"));
    advanced->setChecked(false);
    QCOMPARE(titles(), (QStringList{"Radio", "Framing", "Registers", "Bitfields"}));
    advanced->setChecked(true);
    QCOMPARE(titles(), (QStringList{"Radio", "Framing", "Channel Access", "Device", "Registers", "Bitfields"}));
    advanced->setChecked(false);
}

void EditingTest::filter_code_window_titles_and_recent_files()
{
    EvUSBBoard* board = simulate(QStringLiteral("RC1200"));
    window()->select_board(board);
    QVERIFY(show_page(*app, "Registers"));
    auto* filter = widget<QLineEdit>("tablefilter");
    auto* table = widget<QTableView>("registertable");
    filter->setText(QStringLiteral("FREQ3"));
    int shown = 0;
    for (int r = 0; r < table->model()->rowCount(); ++r)
        if (!table->isRowHidden(r)) {
            ++shown;
            QVERIFY(table->model()->index(r, 0).data().toString().contains(QStringLiteral("FREQ3")));
        }
    QVERIFY(shown >= 1);
    filter->clear();
    QVERIFY(show_page(*app, "Radio"));

    board->open_rc800_code_snippet_window(4);
    CodeWindow* code = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* c = qobject_cast<CodeWindow*>(w); c && c->isVisible())
            code = c;
    QVERIFY(code);
    QVERIFY2(code->windowTitle().startsWith(QStringLiteral("RC800 Code Snippets: Burst Table - ")), qPrintable(code->windowTitle()));
    const QString saved = dir.filePath(QStringLiteral("code.c"));
    QCOMPARE(code->save_to(saved), QString());
    QFile f(saved);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(f.readAll()), code->text());
    QVERIFY(code->save_to(dir.filePath(QStringLiteral("no/dir/code.c"))).endsWith(QStringLiteral("No such file or directory")));

    const QString file = dir.filePath(QStringLiteral("recent.xml"));
    save_settings_file(*board->get_device(), file);
    window()->simulate_board(file);
    const QList<QAction*> recent = widget<QMenu>("menuRecentFiles")->actions();
    QVERIFY(!recent.isEmpty());
    QCOMPARE(recent.front()->toolTip(), QFileInfo(file).absoluteFilePath());
}

int main(int argc, char** argv)
{
    Application app(argc, argv);
    EditingTest test(&app);
    return QTest::qExec(&test, argc, argv);
}

#include "test_editing.moc"
