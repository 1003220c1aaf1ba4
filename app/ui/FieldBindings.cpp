#include "ui/FieldBindings.h"

#include <algorithm>
#include <cmath>

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QEvent>
#include <QKeyEvent>
#include <QLocale>
#include <QRegularExpression>
#include <QStringList>
#include <QTimer>
#include <QValidator>

#include <korvik/USBDevice.h>

#include "ui/Silently.h"

namespace {

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

// What a numeric field lets the user type: any number, in or out of the
// field's range, with a point or a comma. A spin box's own validator drops a
// digit that would leave its range ("26" in a 1 to 24 field stays "2"); the
// range is the chip's business, applied once the edit is finished.
class TypedNumberValidator : public QValidator {
public:
    TypedNumberValidator(bool decimals, QObject* parent) : QValidator(parent), decimals(decimals) {}
    State validate(QString& input, int&) const override
    {
        static const QRegularExpression real(QStringLiteral(R"(^\s*[+-]?(\d+([.,]\d*)?|[.,]\d+)\s*$)"));
        static const QRegularExpression integer(QStringLiteral(R"(^\s*[+-]?\d+\s*$)"));
        static const QRegularExpression start(QStringLiteral(R"(^\s*[+-]?[.,]?\s*$)"));
        if ((decimals ? real : integer).match(input).hasMatch())
            return Acceptable;
        if (start.match(input).hasMatch() && (decimals || !input.contains(QLatin1Char('.'))))
            return Intermediate;
        return Invalid;
    }

private:
    bool decimals;
};

// The typed number, comma or point, in the C locale or the user's.
bool parse_typed(QString text, double& value)
{
    text = text.trimmed();
    bool ok = false;
    value = QLocale().toDouble(text, &ok);
    if (!ok)
        value = QLocale::c().toDouble(text.replace(QLatin1Char(','), QLatin1Char('.')), &ok);
    return ok && std::isfinite(value);
}

bool is_undo_key(const QKeyEvent* key)
{
    const QKeySequence typed(key->keyCombination());
    return key->matches(QKeySequence::Undo) || key->matches(QKeySequence::Redo)
        || typed == QKeySequence(QStringLiteral("Ctrl+Z")) || typed == QKeySequence(QStringLiteral("Ctrl+Y"))
        || typed == QKeySequence(QStringLiteral("Ctrl+Shift+Z"));
}

// Field value per table value for a field shown in `shown` of a parameter in
// `unit`, and its inverse (each exact, so a field reads and writes as a typed
// binding that multiplies by the same power of ten would); 0 when the
// units do not fit together.
struct UnitScale {
    double field_per_si = 0, si_per_field = 0;
};

UnitScale unit_scale(const QString& shown, const QString& unit)
{
    if (shown == unit)
        return {1, 1};
    static const struct {
        char prefix;
        double field_per_si, si_per_field;
    } prefixes[] = {{'M', 1e-6, 1e6}, {'k', 1e-3, 1e3}, {'m', 1e3, 1e-3}};
    for (const auto& p : prefixes) {
        const QString prefixed = QString(QLatin1Char(p.prefix)) + unit;
        if (!unit.isEmpty() && shown == prefixed)
            return {p.field_per_si, p.si_per_field};
    }
    return {};
}

} // namespace

FieldBindings::FieldBindings(QObject* parent) : QObject(parent) {}

std::vector<QWidget*> FieldBindings::bind_by_name(QWidget* page)
{
    std::vector<QWidget*> generic;
    for (QWidget* w : page->findChildren<QWidget*>()) {
        const QByteArray name = w->property("param").toByteArray();
        if (name.isEmpty())
            continue;
        const KORVIK::ParamInfo* row = KORVIK::USBDevice::find_param(name.toStdString());
        if (!row) {
            qWarning("field %s shows the unknown parameter %s", qPrintable(w->objectName()), name.constData());
            continue;
        }
        const QString unit = w->property("unit").toString();
        UnitScale scale = unit_scale(unit, QString::fromUtf8(row->unit));
        if (w->property("scale").isValid()) {
            const double s = w->property("scale").toDouble();
            scale = {s, 1 / s};
        }
        if (!(scale.field_per_si > 0)) {
            qWarning("field %s shows %s in %s, which is no unit of %s", qPrintable(w->objectName()), name.constData(),
                     qPrintable(unit), row->unit);
            continue;
        }
        if (find(w)) {
            link(w, row->name, scale.field_per_si);
            continue;
        }
        const char* param = row->name;
        const bool text = row->kind == KORVIK::ParamKind::address || row->kind == KORVIK::ParamKind::text;
        FieldBinding b;
        b.widget = w;
        b.label = w->property("label").toString();
        if (b.label.isEmpty()) {
            b.label = QString::fromUtf8(row->help);
            if (!b.label.isEmpty())
                b.label[0] = b.label[0].toUpper();
        }
        b.unit = unit;
        b.get = [param, text, scale, w](KORVIK::USBDevice& d) -> QVariant {
            // a chip without the parameter leaves the (disabled) field alone
            if (!d.has_param(param))
                return QVariant();
            const KORVIK::ParamValue v = d.get_param(param);
            if (text)
                return QString::fromStdString(v.text);
            const double shown = v.number * scale.field_per_si;
            if (qobject_cast<QDoubleSpinBox*>(w))
                return shown;
            if (qobject_cast<QCheckBox*>(w))
                return shown != 0;
            return int(std::llround(shown));
        };
        b.set = [this, param, text, scale, label = b.label](KORVIK::USBDevice& d, const QVariant& v) {
            if (!d.has_param(param))
                return false;
            KORVIK::ParamValue value;
            if (text) {
                value.text = v.toString().toStdString();
                value.is_text = true;
            } else {
                value.number = v.toDouble() * scale.si_per_field;
            }
            try {
                d.set_param(param, value);
            } catch (const std::invalid_argument& e) {
                // a text the parameter cannot take: the field shows the chip's value again
                Q_EMIT status_message(tr("%1: %2").arg(label, QString::fromUtf8(e.what())));
                return false;
            }
            return true;
        };
        if (row->notification)
            b.changes << QString::fromLatin1(row->notification);
        b.param = param;
        b.scale = scale.field_per_si;
        add(b);
        generic.push_back(w);
    }
    return generic;
}

void FieldBindings::add(const FieldBinding& binding)
{
    bindings.push_back(binding);
    connect_widget(binding);
}

void FieldBindings::link(QWidget* widget, const char* param, double scale)
{
    for (FieldBinding& b : bindings)
        if (b.widget == widget) {
            b.param = param;
            b.scale = scale;
        }
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
    if (auto* spin = qobject_cast<QAbstractSpinBox*>(w))
        if (auto* edit = spin->findChild<QLineEdit*>())
            edit->setValidator(new TypedNumberValidator(qobject_cast<QDoubleSpinBox*>(w) != nullptr, edit));
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

void FieldBindings::set_board(EvUSBBoard* b)
{
    for (const QMetaObject::Connection& c : board_connections)
        disconnect(c);
    board_connections.clear();
    board = b;
    if (!b)
        return;
    // undo, redo and loads change what has no notification and what the
    // focused field shows: read everything again
    board_connections.push_back(connect(b, &EvUSBBoard::settings_replaced, this, &FieldBindings::refresh_all));
    board_connections.push_back(connect(b, &EvUSBBoard::changed, this, [this](const QString& name) {
        for (const FieldBinding& binding : bindings)
            if (binding.changes.contains(name))
                refresh(binding, false);
    }));
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
    if (!v.isValid())
        return;
    QWidget* w = b.widget;
    if (auto* d = qobject_cast<QDoubleSpinBox*>(w)) {
        set_silently(d, v.toDouble());
        // a forced refresh also replaces text typed but not applied
        if (force) {
            const QSignalBlocker block(d);
            d->setValue(d->value());
        }
    } else if (auto* s = qobject_cast<QSpinBox*>(w)) {
        set_silently(s, v.toInt());
        if (force) {
            const QSignalBlocker block(s);
            s->setValue(s->value());
        }
    }
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
    ++writing;
    try {
        board->record(text, [&]() { change(*dev); });
    } catch (...) {
        --writing;
        throw;
    }
    --writing;
}

void FieldBindings::report_clamp(const FieldBinding& b, double wanted, double got)
{
    const int decimals = decimals_of(b.widget);
    if (std::fabs(got - wanted) <= 0.5 * std::pow(10.0, -decimals) + 1e-12)
        return;
    const QString unit = b.unit.isEmpty() ? QString() : QStringLiteral(" ") + b.unit;
    const QString w = number_text(wanted, decimals) + unit, g = number_text(got, decimals) + unit;
    KORVIK::ParamLimits limits;
    bool known = false;
    if (KORVIK::USBDevice* dev = device(); dev && b.param && dev->has_param(b.param)) {
        limits = dev->get_param_limits(b.param);
        known = true;
    }
    const double lo = std::min(limits.min, limits.max) * b.scale, hi = std::max(limits.min, limits.max) * b.scale;
    const double tol = 1e-9 * std::max({1.0, std::fabs(lo), std::fabs(hi)});
    QString text;
    if (known ? wanted < lo - tol : (wanted < got && std::fabs(got - wanted) > 0.01 * std::fabs(got)))
        text = tr("%1 %2 is below what the chip can hold: set to %3").arg(b.label, w, g);
    else if (known ? wanted > hi + tol : (wanted > got && std::fabs(got - wanted) > 0.01 * std::fabs(got)))
        text = tr("%1 %2 is above what the chip can hold: set to %3").arg(b.label, w, g);
    else if (!limits.levels.empty()) {
        // the two levels around the wanted value
        double below = limits.levels.front() * b.scale, above = limits.levels.back() * b.scale;
        for (double level : limits.levels) {
            const double v = level * b.scale;
            if (v <= wanted)
                below = v;
            if (v >= wanted) {
                above = v;
                break;
            }
        }
        text = tr("%1 lies between the levels %2 and %3: set to %4")
                   .arg(w, number_text(below, decimals), number_text(above, decimals) + unit, g);
    } else
        text = tr("%1 %2 is between the chip's steps: set to %3").arg(b.label, w, g);
    Q_EMIT status_message(text);
}

double FieldBindings::quantisation_step(const FieldBinding& b)
{
    // the library works the step out on a copy of the settings: a tooltip
    // never touches the board, its registers or the undo stack
    KORVIK::USBDevice* dev = device();
    if (!dev || !b.param || !is_numeric(b.widget) || !dev->has_param(b.param))
        return 0;
    try {
        return std::fabs(dev->get_param_limits(b.param).step * b.scale);
    } catch (const std::exception&) {
        return 0;
    }
}

QString FieldBindings::tooltip(const QWidget* widget)
{
    const FieldBinding* b = find(widget);
    if (!b)
        return QString();
    QString tip = b->label;
    const QString unit = b->unit.isEmpty() ? QString() : QStringLiteral(" ") + b->unit;
    const int decimals = decimals_of(widget) + 3;
    KORVIK::USBDevice* dev = device();
    KORVIK::ParamLimits limits;
    bool known = false;
    if (dev && b->param && is_numeric(widget) && dev->has_param(b->param)) {
        try {
            limits = dev->get_param_limits(b->param);
            known = true;
        } catch (const std::exception&) {
        }
    }
    if (known && !limits.levels.empty()) {
        QStringList levels;
        for (double v : limits.levels)
            levels << number_text(v * b->scale, decimals);
        tip += tr("\nLevels %1%2").arg(levels.join(QStringLiteral(", ")), unit);
    } else if (known) {
        const double lo = std::min(limits.min, limits.max) * b->scale, hi = std::max(limits.min, limits.max) * b->scale;
        tip += tr("\nRange %1 to %2%3").arg(number_text(lo, decimals), number_text(hi, decimals), unit);
    } else if (auto* d = qobject_cast<const QDoubleSpinBox*>(widget))
        tip += tr("\nRange %1 to %2%3").arg(number_text(d->minimum(), decimals), number_text(d->maximum(), decimals), unit);
    else if (auto* s = qobject_cast<const QSpinBox*>(widget))
        tip += tr("\nRange %1 to %2%3").arg(s->minimum()).arg(s->maximum()).arg(unit);
    const double step = known && limits.levels.empty() ? std::fabs(limits.step * b->scale) : 0;
    if (step > 0)
        tip += tr("\nOne chip step here: %1%2").arg(number_text(step, decimals + 3), unit);
    return tip;
}

void FieldBindings::apply_typed(QWidget* widget)
{
    if (!device() || writing)
        return;
    QString text, shown;
    if (auto* d = qobject_cast<QDoubleSpinBox*>(widget)) {
        text = d->cleanText();
        shown = d->textFromValue(d->value());
    } else if (auto* s = qobject_cast<QSpinBox*>(widget)) {
        text = s->cleanText();
        shown = QString::number(s->value());
    } else {
        return;
    }
    // an untouched field writes nothing: its text may round what the chip holds
    if (text.trimmed() == shown.trimmed())
        return;
    double value = 0;
    if (!parse_typed(text, value)) {
        const FieldBinding* b = find(widget);
        Q_EMIT status_message(tr("%1: \"%2\" is not a number; the field shows the chip's value again")
                                  .arg(b ? b->label : QString(), text));
        refresh(widget, true);
        return;
    }
    write(widget, value);
}

bool FieldBindings::eventFilter(QObject* watched, QEvent* event)
{
    auto* w = qobject_cast<QWidget*>(watched);
    if (!w)
        return QObject::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::ToolTip:
        w->setToolTip(tooltip(w));
        break;
    case QEvent::ShortcutOverride:
        // Ctrl+Z in a field undoes the board's last change, as the Edit menu
        // does, not the field's own typing
        if (is_undo_key(static_cast<QKeyEvent*>(event))) {
            event->ignore();
            return true;
        }
        break;
    case QEvent::KeyPress: {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter)
            apply_typed(w);
        break;
    }
    case QEvent::FocusOut:
        apply_typed(w);
        break;
    default:
        break;
    }
    // a text the field would not take as finished stays until focus leaves;
    // then the field shows the device again
    if (w && event->type() == QEvent::FocusOut && qobject_cast<QLineEdit*>(w))
        QTimer::singleShot(0, this, [this, guard = QPointer<QWidget>(w)]() {
            if (guard)
                refresh(guard, false);
        });
    return QObject::eventFilter(watched, event);
}
