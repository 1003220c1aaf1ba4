// paramcalc on the library's parameter table: every field's parameter is a
// row of the table with a matching unit and kind, every parameter a user
// sets has a field, tips come from read-only answers (hovering changes
// nothing, not even the undo stack), clamp messages name the levels.
#include <cmath>
#include <map>
#include <set>
#include <string>

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QSpinBox>
#include <QStatusBar>
#include <QTest>
#include <QUndoStack>

#include <korvik/USBDevice.h>

#include "Application.h"
#include "ProgramTestSupport.h"
#include "board/EvUSBBoard.h"
#include "shell/BoardList.h"
#include "shell/EvUSBBoard.h"
#include "ui/FieldBindings.h"
#include "ui/MainWindow.h"

namespace {

// The program's unit for a field: the table's unit scaled as the field shows it.
const std::map<QString, std::pair<std::string, double>> DISPLAY_UNITS = {
    {QStringLiteral("MHz"), {"Hz", 1e-6}},     {QStringLiteral("kHz"), {"Hz", 1e-3}},
    {QStringLiteral("kbit/s"), {"bit/s", 1e-3}}, {QStringLiteral("ms"), {"s", 1e3}},
    {QStringLiteral("dBm"), {"dBm", 1}},       {QStringLiteral("ppm"), {"ppm", 1}},
    {QStringLiteral("bits"), {"bit", 1}},      {QStringLiteral("bytes"), {"byte", 1}},
};

// The transmitter's half deviation and the channel-access preamble in bits
// show their parameter in other units on purpose.
bool unit_matches(const FieldBinding& b, const KORVIK::ParamInfo& p)
{
    if (std::string(b.param) == "tx_deviation")
        return b.unit == QStringLiteral("kHz") && b.scale == 5e-4;
    if (std::string(b.param) == "chacc_preamble")
        return b.unit == QStringLiteral("bits") && b.scale == 8;
    // the page labels the background threshold in dB; the table keeps it a plain number, as the tool shows it
    if (std::string(b.param) == "chacc_bgndthreshold")
        return b.unit == QStringLiteral("dB") && b.scale == 1 && std::string(p.unit).empty();
    if (b.unit.isEmpty())
        return b.scale == 1;
    const auto it = DISPLAY_UNITS.find(b.unit);
    return it != DISPLAY_UNITS.end() && it->second.first == p.unit && it->second.second == b.scale;
}

bool kind_matches(const QWidget* w, const KORVIK::ParamInfo& p)
{
    switch (p.kind) {
    case KORVIK::ParamKind::quantity:
        return qobject_cast<const QDoubleSpinBox*>(w) || qobject_cast<const QSpinBox*>(w) ||
               (p.hex && qobject_cast<const QLineEdit*>(w));
    case KORVIK::ParamKind::choice:
        return qobject_cast<const QComboBox*>(w);
    case KORVIK::ParamKind::flag:
        return qobject_cast<const QCheckBox*>(w);
    case KORVIK::ParamKind::address:
    case KORVIK::ParamKind::text:
        return qobject_cast<const QLineEdit*>(w);
    }
    return false;
}

// What paramcalc leaves to the register view: the VCO ranges.
const std::set<std::string> NOT_ON_A_PAGE = {"rx_range", "tx_range"};

} // namespace

class ParamsTest : public QObject {
    Q_OBJECT
public:
    explicit ParamsTest(Application* app) : app(app) {}

private Q_SLOTS:
    void cleanup();
    void fields_and_table_agree();
    void hovering_changes_nothing();
    void power_between_levels_says_so();

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

void ParamsTest::fields_and_table_agree()
{
    std::set<std::string> shown;
    for (const FieldBinding& b : window()->field_bindings().all()) {
        if (!b.param)
            continue;
        const KORVIK::ParamInfo* p = KORVIK::USBDevice::find_param(b.param);
        QVERIFY2(p, b.param);
        QVERIFY2(unit_matches(b, *p), qPrintable(QStringLiteral("%1: unit %2").arg(QLatin1String(b.param), b.unit)));
        QVERIFY2(kind_matches(b.widget, *p), b.param);
        shown.insert(b.param);
    }
    for (const KORVIK::ParamInfo& p : KORVIK::USBDevice::get_param_table())
        if (p.writable && !NOT_ON_A_PAGE.count(p.name))
            QVERIFY2(shown.count(p.name), qPrintable(QStringLiteral("no field for %1").arg(QLatin1String(p.name))));
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

int main(int argc, char** argv)
{
    Application app(argc, argv);
    ParamsTest test(&app);
    return QTest::qExec(&test, argc, argv);
}

#include "test_params.moc"
