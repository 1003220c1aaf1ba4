#include "ui/FieldBindings.h"

#include <cmath>

#include <QEvent>
#include <QTimer>
#include <QUndoCommand>
#include <QUndoStack>

#include <korvik/USBDevice.h>

#include "ui/Silently.h"

DeviceState DeviceState::of(KORVIK::USBDevice& d)
{
    DeviceState s;
    s.registers.resize(d.get_registers());
    for (unsigned int r = 0; r < s.registers.size(); ++r)
        s.registers[r] = d.get_register_chipvalue(r);
    s.xtal_frequency = d.get_xtal_frequency();
    s.xtal_tolerance = d.get_xtal_tolerance();
    return s;
}

void DeviceState::restore(KORVIK::USBDevice& d) const
{
    // the crystal first: setting it recomputes registers, which are then
    // overwritten with the remembered ones
    if (d.get_xtal_frequency() != xtal_frequency)
        d.set_xtal_frequency(xtal_frequency);
    if (d.get_xtal_tolerance() != xtal_tolerance)
        d.set_xtal_tolerance(xtal_tolerance);
    for (unsigned int r = 0; r < registers.size() && r < d.get_registers(); ++r)
        d.set_register_chipvalue(r, registers[r]);
    d.commit_registers();
}

bool DeviceState::operator==(const DeviceState& o) const
{
    return registers == o.registers && xtal_frequency == o.xtal_frequency && xtal_tolerance == o.xtal_tolerance;
}

namespace {

// One edit on one board: the states before and after it. The first redo is
// the edit itself, already made.
class StateCommand : public QUndoCommand {
public:
    StateCommand(EvUSBBoard* board, DeviceState before, DeviceState after, const QString& text)
        : QUndoCommand(text), board(board), before(std::move(before)), after(std::move(after))
    {
    }
    void undo() override { apply(before); }
    void redo() override
    {
        if (!first)
            apply(after);
        first = false;
    }

private:
    void apply(const DeviceState& state)
    {
        if (board && board->get_device())
            state.restore(*board->get_device());
    }

    QPointer<EvUSBBoard> board;
    DeviceState before, after;
    bool first = true;
};

QString number_text(double v, int decimals)
{
    QString text = QString::number(v, 'f', std::max(0, decimals));
    if (text.contains(QLatin1Char('.'))) {
        while (text.endsWith(QLatin1Char('0')))
            text.chop(1);
        if (text.endsWith(QLatin1Char('.')))
            text.chop(1);
    }
    return text;
}

int decimals_of(const QWidget* w)
{
    if (auto* d = qobject_cast<const QDoubleSpinBox*>(w))
        return d->decimals();
    return 0;
}

bool is_numeric(const QWidget* w)
{
    return qobject_cast<const QDoubleSpinBox*>(w) || qobject_cast<const QSpinBox*>(w);
}

} // namespace

FieldBindings::FieldBindings(QObject* parent) : QObject(parent) {}

void FieldBindings::add(const FieldBinding& binding)
{
    bindings.push_back(binding);
    connect_widget(binding);
}

const FieldBinding* FieldBindings::find(const QWidget* widget) const
{
    for (const FieldBinding& b : bindings)
        if (b.widget == widget)
            return &b;
    return nullptr;
}

KORVIK::USBDevice* FieldBindings::device() const
{
    return board ? board->get_device() : nullptr;
}

void FieldBindings::connect_widget(const FieldBinding& binding)
{
    QWidget* w = binding.widget;
    w->installEventFilter(this);
    if (auto* d = qobject_cast<QDoubleSpinBox*>(w)) {
        // typing changes nothing until Enter or focus out; arrows and wheel apply at once
        d->setKeyboardTracking(false);
        connect(d, &QDoubleSpinBox::valueChanged, this, [this, w](double v) { write(w, v); });
        connect(d, &QAbstractSpinBox::editingFinished, this, [this, w]() { refresh(w, true); });
    } else if (auto* s = qobject_cast<QSpinBox*>(w)) {
        s->setKeyboardTracking(false);
        connect(s, &QSpinBox::valueChanged, this, [this, w](int v) { write(w, v); });
        connect(s, &QAbstractSpinBox::editingFinished, this, [this, w]() { refresh(w, true); });
    } else if (auto* c = qobject_cast<QComboBox*>(w)) {
        connect(c, &QComboBox::activated, this, [this, w](int index) { write(w, index); });
    } else if (auto* b = qobject_cast<QCheckBox*>(w)) {
        connect(b, &QCheckBox::stateChanged, this, [this, w](int state) { write(w, state == Qt::Checked); });
    } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
        connect(e, &QLineEdit::editingFinished, this, [this, e]() { write(e, e->text()); });
    }
}

void FieldBindings::set_board(EvUSBBoard* b, QUndoStack* u)
{
    for (const QMetaObject::Connection& c : board_connections)
        disconnect(c);
    board_connections.clear();
    board = b;
    undo = u;
    if (!b)
        return;
    for (const FieldBinding& binding : bindings) {
        QWidget* w = binding.widget;
        for (BoardSignal signal : binding.notifications)
            board_connections.push_back(connect(b, signal, this, [this, w]() { refresh(w, false); }));
    }
    refresh_all();
}

void FieldBindings::refresh_all()
{
    for (const FieldBinding& b : bindings)
        refresh(b, true);
}

void FieldBindings::refresh(QWidget* widget, bool force)
{
    if (const FieldBinding* b = find(widget))
        refresh(*b, force);
}

void FieldBindings::refresh(const FieldBinding& b, bool force)
{
    KORVIK::USBDevice* dev = device();
    if (!dev || !b.get)
        return;
    // what the user is typing stays until the edit is finished
    if (!force && b.widget->hasFocus())
        return;
    const QVariant v = b.get(*dev);
    QWidget* w = b.widget;
    if (auto* d = qobject_cast<QDoubleSpinBox*>(w))
        set_silently(d, v.toDouble());
    else if (auto* s = qobject_cast<QSpinBox*>(w))
        set_silently(s, v.toInt());
    else if (auto* c = qobject_cast<QComboBox*>(w))
        set_silently(c, v.toInt());
    else if (auto* x = qobject_cast<QCheckBox*>(w))
        set_silently(x, v.toBool());
    else if (auto* e = qobject_cast<QLineEdit*>(w))
        set_silently(e, v.toString());
    if (b.after_refresh)
        b.after_refresh(*dev);
}

void FieldBindings::write(QWidget* widget, const QVariant& value)
{
    const FieldBinding* b = find(widget);
    KORVIK::USBDevice* dev = device();
    if (!b || !dev || !b->set || writing)
        return;
    const FieldBinding binding = *b; // the table may not change, but stay safe across signals
    bool ok = false;
    record(binding.label, [&](KORVIK::USBDevice& d) {
        ok = binding.set(d, value);
        if (ok && binding.commit)
            d.commit_registers();
    });
    refresh(binding, true);
    for (QWidget* dependant : binding.dependants)
        refresh(dependant, false);
    if (ok && is_numeric(binding.widget) && binding.get)
        report_clamp(binding, value.toDouble(), binding.get(*dev).toDouble());
}

void FieldBindings::record(const QString& text, const std::function<void(KORVIK::USBDevice&)>& change)
{
    KORVIK::USBDevice* dev = device();
    if (!dev)
        return;
    const DeviceState before = DeviceState::of(*dev);
    ++writing;
    try {
        change(*dev);
    } catch (...) {
        --writing;
        throw;
    }
    --writing;
    // the board may have left during the exchange
    dev = device();
    if (!dev || !undo)
        return;
    DeviceState after = DeviceState::of(*dev);
    if (!(before == after))
        undo->push(new StateCommand(board, before, std::move(after), text));
}

void FieldBindings::report_clamp(const FieldBinding& b, double wanted, double got)
{
    const int decimals = decimals_of(b.widget);
    if (std::fabs(got - wanted) <= 0.5 * std::pow(10.0, -decimals) + 1e-12)
        return;
    const QString unit = b.unit.isEmpty() ? QString() : QStringLiteral(" ") + b.unit;
    const QString w = number_text(wanted, decimals) + unit, g = number_text(got, decimals) + unit;
    QString text;
    // a small difference is the chip's step; a large one its limit
    if (std::fabs(got - wanted) > 0.01 * std::max(std::fabs(wanted), std::fabs(got)))
        text = (wanted < got ? tr("%1 %2 is below what the chip can hold: set to %3")
                             : tr("%1 %2 is above what the chip can hold: set to %3"))
                   .arg(b.label, w, g);
    else
        text = tr("%1 %2 is between the chip's steps: set to %3").arg(b.label, w, g);
    Q_EMIT status_message(text);
}

double FieldBindings::quantisation_step(const FieldBinding& b)
{
    KORVIK::USBDevice* dev = device();
    if (!dev || !b.get || !b.set || !is_numeric(b.widget))
        return 0;
    // try ever larger moves until the chip's value changes, then put every
    // register back; nothing is committed, so the chip never sees the trial
    const DeviceState saved = DeviceState::of(*dev);
    const double v0 = b.get(*dev).toDouble();
    double step = 0;
    ++writing;
    try {
        for (double d = std::max(std::fabs(v0), 1.0) * 1e-7; d < std::max(std::fabs(v0), 1.0) * 2 && step == 0; d *= 2) {
            b.set(*dev, v0 + d);
            const double v1 = b.get(*dev).toDouble();
            if (std::fabs(v1 - v0) > 1e-12 * std::max(1.0, std::fabs(v0)))
                step = std::fabs(v1 - v0);
        }
    } catch (...) {
    }
    if (dev->get_xtal_frequency() != saved.xtal_frequency)
        dev->set_xtal_frequency(saved.xtal_frequency);
    if (dev->get_xtal_tolerance() != saved.xtal_tolerance)
        dev->set_xtal_tolerance(saved.xtal_tolerance);
    for (unsigned int r = 0; r < saved.registers.size(); ++r)
        dev->set_register_chipvalue(r, saved.registers[r]);
    --writing;
    return step;
}

QString FieldBindings::tooltip(const QWidget* widget)
{
    const FieldBinding* b = find(widget);
    if (!b)
        return QString();
    QString tip = b->label;
    const QString unit = b->unit.isEmpty() ? QString() : QStringLiteral(" ") + b->unit;
    const int decimals = decimals_of(widget) + 3;
    if (auto* d = qobject_cast<const QDoubleSpinBox*>(widget))
        tip += tr("\nRange %1 to %2%3").arg(number_text(d->minimum(), decimals), number_text(d->maximum(), decimals), unit);
    else if (auto* s = qobject_cast<const QSpinBox*>(widget))
        tip += tr("\nRange %1 to %2%3").arg(s->minimum()).arg(s->maximum()).arg(unit);
    const double step = quantisation_step(*b);
    if (step > 0)
        tip += tr("\nOne chip step here: %1%2").arg(number_text(step, decimals + 3), unit);
    return tip;
}

bool FieldBindings::eventFilter(QObject* watched, QEvent* event)
{
    auto* w = qobject_cast<QWidget*>(watched);
    if (w && event->type() == QEvent::ToolTip)
        w->setToolTip(tooltip(w));
    // a text the field would not take as finished stays until focus leaves;
    // then the field shows the device again
    if (w && event->type() == QEvent::FocusOut && qobject_cast<QLineEdit*>(w))
        QTimer::singleShot(0, this, [this, guard = QPointer<QWidget>(w)]() {
            if (guard)
                refresh(guard, false);
        });
    return QObject::eventFilter(watched, event);
}
