#pragma once

#include <QSpinBox>

// A spin box that also announces every step made by arrows, keys or wheel.
class StepNotifySpinBox : public QSpinBox {
    Q_OBJECT
public:
    explicit StepNotifySpinBox(QWidget* parent = nullptr) : QSpinBox(parent) {}

    void stepBy(int steps) override
    {
        QSpinBox::stepBy(steps);
        Q_EMIT step();
    }

Q_SIGNALS:
    void step();
};
