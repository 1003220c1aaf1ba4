#pragma once

#include <cmath>

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QSpinBox>

// Refreshes set a widget without its change signal, so that a value read
// from the device never comes back as an edit.

inline void set_silently(QCheckBox* w, bool checked)
{
    if (w && w->isChecked() != checked) {
        const QSignalBlocker block(w);
        w->setChecked(checked);
    }
}

inline void set_silently(QComboBox* w, int index)
{
    if (w && w->currentIndex() != index) {
        const QSignalBlocker block(w);
        w->setCurrentIndex(index);
    }
}

inline void set_silently(QDoubleSpinBox* w, double value)
{
    if (w && w->value() != value) {
        const QSignalBlocker block(w);
        // the chip may hold more than the field's usual range; show it rather than a clamped lie
        if (std::isfinite(value) && value > w->maximum())
            w->setMaximum(value);
        if (std::isfinite(value) && value < w->minimum())
            w->setMinimum(value);
        w->setValue(value);
    }
}

inline void set_silently(QSpinBox* w, int value)
{
    if (w && w->value() != value) {
        const QSignalBlocker block(w);
        w->setValue(value);
    }
}

inline void set_silently(QLineEdit* w, const QString& text)
{
    if (!w)
        return;
    // a masked field shows its separators itself: compare the digits only
    QString shown = w->text(), wanted = text;
    if (!w->inputMask().isEmpty()) {
        for (QString* t : {&shown, &wanted}) {
            t->remove(QLatin1Char(' '));
            t->remove(QLatin1Char(':'));
        }
        if (shown.compare(wanted, Qt::CaseInsensitive) == 0)
            return;
    } else if (shown == wanted) {
        return;
    }
    const QSignalBlocker block(w);
    w->setText(text);
}

inline void set_silently_mask(QLineEdit* w, const QString& mask)
{
    if (w && w->inputMask() != mask) {
        const QSignalBlocker block(w);
        w->setInputMask(mask);
    }
}

inline void set_silently_enabled(QWidget* w, bool enabled)
{
    if (w && w->testAttribute(Qt::WA_ForceDisabled) == enabled) {
        const QSignalBlocker block(w);
        w->setEnabled(enabled);
    }
}

inline void set_silently_visible(QWidget* w, bool visible)
{
    if (w && w->isHidden() == visible) {
        const QSignalBlocker block(w);
        w->setVisible(visible);
    }
}
