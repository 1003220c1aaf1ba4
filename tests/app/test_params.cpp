// paramcalc on the library's parameter table: tips come from read-only
// answers (hovering changes nothing, not even the undo stack), clamp
// messages name the levels, every change notification reaches the views by
// name, and a field bound by its parameter's name alone reads, writes and
// follows it. With --dump-fields it prints the field rows for the test that
// holds every front end against the table.
#include <cmath>
#include <cstdio>
#include <memory>
#include <map>
#include <set>
#include <string>

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QSpinBox>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QUndoStack>

#include <korvik/ChangeList.h>
#include <korvik/USBDevice.h>

#include "Application.h"
#include "ProgramTestSupport.h"
#include "board/EvUSBBoard.h"
#include "model/GreyfinModel.h"
#include "shell/BoardList.h"
#include "shell/EvUSBBoard.h"
#include "ui/FieldBindings.h"
#include "ui/MainWindow.h"

namespace {

// The kind of editor a field is, for the front-end test that compares
// every front end with the parameter table (tests/python/test_params.py).
QString editor_kind(const QWidget* w)
{
    if (qobject_cast<const QDoubleSpinBox*>(w) || qobject_cast<const QSpinBox*>(w))
        return QStringLiteral("spin");
    if (qobject_cast<const QComboBox*>(w))
        return QStringLiteral("combo");
    if (qobject_cast<const QCheckBox*>(w))
        return QStringLiteral("check");
    if (qobject_cast<const QLineEdit*>(w))
        return QStringLiteral("line");
    return QString::fromLatin1(w ? w->metaObject()->className() : "none");
}

} // namespace

class ParamsTest : public QObject {
    Q_OBJECT
public:
    explicit ParamsTest(Application* app) : app(app) {}

private Q_SLOTS:
    void cleanup();
    void hovering_changes_nothing();
    void power_between_levels_says_so();
    void every_notification_is_relayed_by_name();
    void a_field_bound_by_name_follows_its_parameter();

private:
    MainWindow* window() const { return app->get_window(); }
    KORVIK::USBDevice* dev() const { return window()->get_current_board()->get_device(); }
    Application* app;
};

void ParamsTest::cleanup()
{
    BoardList& boards = app->get_boards();
    while (boards.rowCount() > 0) {
        EvUSBBoard* board = boards.board_at(0);
        board->get_device()->get_board()->leave_registry();
        if (boards.board_at(0) == board)
            boards.remove_row(0);
    }
}

void ParamsTest::hovering_changes_nothing()
{
    window()->select_board(simulate_from_menu(*app, QStringLiteral("RC1200")));
    FieldBindings& bindings = window()->field_bindings();
    QUndoStack* undo = window()->undo_stack(window()->get_current_board());
    const int steps = undo->count();
    const DeviceState before = DeviceState::of(*dev());
    const double slot = dev()->get_chacc_slottime(), p = dev()->get_chacc_ppersistence();
    const double rssi = dev()->get_chacc_rssithreshold(), bgnd = dev()->get_chacc_bgndthreshold();
    const unsigned preamble = dev()->get_chacc_preamble();
    QString tip;
    for (int hover = 0; hover < 5; ++hover)
        tip = bindings.tooltip(window_widget<QWidget>(*app, "chacc_slottime"));
    QVERIFY2(tip.contains(QStringLiteral("One chip step here: 1 ms")), qPrintable(tip));
    for (const FieldBinding& b : bindings.all())
        bindings.tooltip(b.widget);
    QCOMPARE(dev()->get_chacc_slottime(), slot);
    QCOMPARE(dev()->get_chacc_ppersistence(), p);
    QCOMPARE(dev()->get_chacc_rssithreshold(), rssi);
    QCOMPARE(dev()->get_chacc_bgndthreshold(), bgnd);
    QCOMPARE(dev()->get_chacc_preamble(), preamble);
    QVERIFY(DeviceState::of(*dev()) == before);
    QCOMPARE(undo->count(), steps);
    const QString power = bindings.tooltip(window_widget<QDoubleSpinBox>(*app, "radio_txpower"));
    QVERIFY2(power.contains(QStringLiteral("Levels")), qPrintable(power));
}

void ParamsTest::power_between_levels_says_so()
{
    window()->select_board(simulate_from_menu(*app, QStringLiteral("RC1200")));
    const KORVIK::ParamLimits l = dev()->get_param_limits("tx_power");
    QVERIFY(l.levels.size() >= 2);
    const double top = l.levels.back(), below = l.levels[l.levels.size() - 2];
    const double wanted = std::floor(top - (top - below) / 4);
    auto* power = window_widget<QDoubleSpinBox>(*app, "radio_txpower");
    window()->field_bindings().write(power, wanted);
    QCOMPARE(dev()->get_tx_power(), top);
    const QString expected = QStringLiteral("%1 dBm lies between the levels %2 and %3 dBm: set to %3 dBm")
                                 .arg(wanted)
                                 .arg(below)
                                 .arg(top);
    QCOMPARE(window()->statusBar()->currentMessage(), expected);
}

// Table-driven over the library's list: each notification arrives once as
// EvUSBBoard::changed(name), and once as its own signal where it has one.
void ParamsTest::every_notification_is_relayed_by_name()
{
    window()->select_board(simulate_from_menu(*app, QStringLiteral("RC1200")));
    EvUSBBoard* board = window()->get_current_board();
    KORVIK::EvUSBBoard* library_board = dev()->get_board();
    QVERIFY(library_board->get_model());
    std::vector<std::pair<const char*, sigc::signal<void()>*>> cases;
#define BOARD_CASE(name) cases.emplace_back(#name, &library_board->signal_changed_##name);
#define CHIP_CASE(name) cases.emplace_back(#name, &library_board->get_model()->signal_changed_##name);
    KORVIK_BOARD_CHANGES(BOARD_CASE)
    KORVIK_CHIP_CHANGES(CHIP_CASE)
#undef BOARD_CASE
#undef CHIP_CASE
    QSignalSpy by_name(board, &EvUSBBoard::changed);
    int own_signals = 0;
    for (const auto& [name, signal] : cases) {
        const int index = board->metaObject()->indexOfSignal(QByteArray("changed_") + name + "()");
        std::unique_ptr<QSignalSpy> own;
        if (index >= 0) {
            own = std::make_unique<QSignalSpy>(board, board->metaObject()->method(index));
            ++own_signals;
        }
        by_name.clear();
        signal->emit();
        QCOMPARE(by_name.count(), 1);
        QCOMPARE(by_name.at(0).at(0).toString(), QString::fromLatin1(name));
        if (own)
            QCOMPARE(own->count(), 1);
    }
    // the views of today still follow the signals of their own
    QCOMPARE(own_signals, 38);
}

// A form field that names a parameter and a unit, with no binding written
// for it: it shows the parameter in that unit, writes through the parameter
// (committed, undoable), follows the parameter's notification, and stays
// alone on a chip without the parameter. A field naming no parameter of the
// table, or a unit that does not fit, is left unbound.
void ParamsTest::a_field_bound_by_name_follows_its_parameter()
{
    window()->select_board(simulate_from_menu(*app, QStringLiteral("RC1200")));
    EvUSBBoard* board = window()->get_current_board();
    QWidget page;
    auto field = [&page](auto* w, const char* param, const char* unit) {
        w->setParent(&page);
        w->setProperty("param", param);
        if (unit)
            w->setProperty("unit", unit);
        return w;
    };
    auto* tolerance = field(new QDoubleSpinBox, "xtal_tolerance", "ppm");
    tolerance->setRange(0, 1e6);
    tolerance->setProperty("label", QStringLiteral("Tolerance"));
    auto* carrier = field(new QDoubleSpinBox, "rx_carrierfrequency", "MHz");
    carrier->setRange(1, 3000);
    carrier->setDecimals(6);
    auto* modulation = field(new QComboBox, "tx_modulation", nullptr);
    for (const std::string& name : dev()->get_param_limits("tx_modulation").choices)
        modulation->addItem(QString::fromStdString(name));
    auto* address = field(new QLineEdit, "chacc_addr1", nullptr);
    field(new QSpinBox, "no_such_parameter", nullptr);
    field(new QDoubleSpinBox, "rx_bandwidth", "MHz/s");

    FieldBindings bindings;
    QCOMPARE(bindings.bind_by_name(&page).size(), size_t(4));
    QSignalSpy messages(&bindings, &FieldBindings::status_message);
    bindings.set_board(board);
    QCOMPARE(tolerance->value(), dev()->get_xtal_tolerance());
    QVERIFY(std::fabs(carrier->value() - dev()->get_rx_carrierfrequency() * 1e-6) < 1e-6);
    QCOMPARE(modulation->currentIndex(), dev()->get_tx_modulation());
    QCOMPARE(address->text(), QString::fromStdString(dev()->get_param("chacc_addr1").text));
    QVERIFY2(bindings.tooltip(carrier).startsWith(QStringLiteral("Receive carrier frequency\nRange")),
             qPrintable(bindings.tooltip(carrier)));
    QVERIFY(bindings.tooltip(carrier).contains(QStringLiteral(" MHz")));

    QUndoStack* undo = window()->undo_stack(board);
    const int steps = undo->count();
    bindings.write(carrier, 869.5);
    QVERIFY(std::fabs(dev()->get_rx_carrierfrequency() - 869.5e6) < 1e3);
    for (unsigned i = 0; i < dev()->get_registers(); ++i)
        QCOMPARE(int(dev()->get_register_changemask(i)), 0); // committed
    QCOMPARE(undo->count(), steps + 1);
    bindings.write(tolerance, 25.0);
    QCOMPARE(dev()->get_xtal_tolerance(), 25.0);
    const int other = modulation->currentIndex() == 0 ? 1 : 0;
    bindings.write(modulation, other);
    QCOMPARE(dev()->get_tx_modulation(), other);

    // changes made elsewhere arrive through the notifications
    dev()->set_xtal_tolerance(40);
    QCOMPARE(tolerance->value(), 40.0);
    KORVIK::ParamValue back;
    back.number = 1 - other;
    dev()->set_param("tx_modulation", back);
    dev()->commit_registers();
    QCOMPARE(modulation->currentIndex(), 1 - other);

    // an address the parameter cannot take writes nothing and says why
    const std::string before = dev()->get_param("chacc_addr1").text;
    bindings.write(address, QStringLiteral("not an address"));
    QCOMPARE(dev()->get_param("chacc_addr1").text, before);
    QCOMPARE(address->text(), QString::fromStdString(before));
    QVERIFY(!messages.isEmpty());
    QVERIFY2(messages.last().at(0).toString().contains(QStringLiteral("not an address")),
             qPrintable(messages.last().at(0).toString()));

    // a receiver has no transmit modulation: the field is left as it was
    window()->select_board(simulate_from_menu(*app, QStringLiteral("RC1400")));
    QVERIFY(!dev()->has_param("tx_modulation"));
    bindings.set_board(window()->get_current_board());
    QCOMPARE(modulation->currentIndex(), 1 - other);
    bindings.write(modulation, other);
    QCOMPARE(modulation->currentIndex(), 1 - other);

    // the Radio page binds every field that names a parameter
    for (QWidget* w : window_widget<QWidget>(*app, "tabradioparams")->findChildren<QWidget*>()) {
        const QByteArray param = w->property("param").toByteArray();
        if (param.isEmpty())
            continue;
        const FieldBinding* b = window()->field_bindings().find(w);
        QVERIFY2(b && b->param && param == b->param, qPrintable(w->objectName()));
    }
}

int main(int argc, char** argv)
{
    Application app(argc, argv);
    if (argc == 2 && QLatin1String(argv[1]) == QLatin1String("--dump-fields")) {
        // the fields of every page with the parameter each shows, as JSON
        QJsonArray rows;
        for (const FieldBinding& b : app.get_window()->field_bindings().all())
            rows.append(QJsonObject{{QStringLiteral("param"), b.param ? QString::fromLatin1(b.param) : QJsonValue()},
                                    {QStringLiteral("label"), b.label},
                                    {QStringLiteral("unit"), b.unit},
                                    {QStringLiteral("scale"), b.scale},
                                    {QStringLiteral("editor"), editor_kind(b.widget)}});
        std::fputs(QJsonDocument(rows).toJson(QJsonDocument::Compact).constData(), stdout);
        return 0;
    }
    ParamsTest test(&app);
    return QTest::qExec(&test, argc, argv);
}

#include "test_params.moc"
