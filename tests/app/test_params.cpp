// paramcalc on the library's parameter table: tips come from read-only
// answers (hovering changes nothing, not even the undo stack), clamp
// messages name the levels. With --dump-fields it prints the field rows
// for the test that holds every front end against the table.
#include <cmath>
#include <cstdio>
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
