#pragma once

#include <functional>
#include <vector>

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QVariant>

#include "shell/BoardState.h"
#include "shell/EvUSBBoard.h"

class QWidget;

namespace KORVIK {
class USBDevice;
}

using BoardSignal = void (EvUSBBoard::*)();

// One editable field bound to the device.
struct FieldBinding {
    QWidget* widget = nullptr;
    QString label; // "Crystal frequency", for tips and the status bar
    QString unit;  // shown unit, "MHz"
    // the value as the field shows it (double, int, bool or QString)
    std::function<QVariant(KORVIK::USBDevice&)> get;
    // writes a finished edit without committing; false refuses the input
    std::function<bool(KORVIK::USBDevice&, const QVariant&)> set;
    bool commit = true;
    // board signals after which the field is read again
    std::vector<BoardSignal> notifications;
    // fields read again after a write, for values without a notification
    std::vector<QWidget*> dependants;
    // what follows the value on the page (enabling, masks, labels)
    std::function<void(KORVIK::USBDevice&)> after_refresh;
    // the library parameter the field shows, as parameter value * scale
    // (set by FieldBindings::link); null for derived fields such as the
    // modulation factors
    const char* param = nullptr;
    double scale = 1;
    // change notifications by name (EvUSBBoard::changed) after which the
    // field is read again, as `notifications` by signal
    QStringList changes = {};
};

// The program's editing policy, in one place for every field of the pages:
// - a typed value is applied when the edit is finished (Enter, focus out),
//   arrows, wheel, combo boxes and check boxes at once; never per keystroke;
// - a refresh never rewrites the field that has the keyboard focus, except
//   right after its own edit, when it shows what the chip took;
// - a value the chip cannot hold is applied as the nearest one it can, the
//   field shows that, and the status bar says so;
// - every change of registers or crystal lands on the board's undo stack.
class FieldBindings : public QObject {
    Q_OBJECT
public:
    explicit FieldBindings(QObject* parent = nullptr);

    void add(const FieldBinding& binding);
    const FieldBinding* find(const QWidget* widget) const;
    // The field shows the library parameter `param` times `scale`: its tip,
    // steps and clamp messages come from the parameter table's answers.
    void link(QWidget* widget, const char* param, double scale = 1);
    const std::vector<FieldBinding>& all() const { return bindings; }
    // Binds the fields of `page` by name: a widget with the dynamic property
    // "param" shows that parameter, in its "unit" (the table's unit with an
    // M, k or m prefix, or "scale" times the table's value), its "label" in
    // tips and messages. A widget bound here already only gets the
    // parameter; any other is read, written and refreshed through the
    // parameter alone. Returns the widgets bound through the parameter alone.
    std::vector<QWidget*> bind_by_name(QWidget* page);

    // Follows this board from now on (null: none) and refreshes every field.
    void set_board(EvUSBBoard* board);
    KORVIK::USBDevice* device() const;

    // Writes `value` through the field's binding as a finished edit would.
    void write(QWidget* widget, const QVariant& value);
    // Reads the field again; `force` also rewrites a focused field.
    void refresh(QWidget* widget, bool force = false);
    void refresh_all();

    // Runs a change of the device as one undoable step named `text`.
    void record(const QString& text, const std::function<void(KORVIK::USBDevice&)>& change);

    // The field's tip: what it is, its range (or levels) and unit, and the
    // change one chip step makes at the present setting, as the library
    // works them out without writing to the board.
    QString tooltip(const QWidget* widget);

Q_SIGNALS:
    void status_message(const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void connect_widget(const FieldBinding& binding);
    // Applies the number typed into a spin box, whatever its range.
    void apply_typed(QWidget* widget);
    void refresh(const FieldBinding& binding, bool force);
    void report_clamp(const FieldBinding& binding, double wanted, double got);
    double quantisation_step(const FieldBinding& binding);

    std::vector<FieldBinding> bindings;
    QPointer<EvUSBBoard> board;
    std::vector<QMetaObject::Connection> board_connections;
    int writing = 0;
};
