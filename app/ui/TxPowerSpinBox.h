#pragma once

#include <functional>

#include <QDoubleSpinBox>

// Transmit power field: arrows, keys and wheel move in the chip's own power
// steps instead of the field's decimal step.
class TxPowerSpinBox : public QDoubleSpinBox {
    Q_OBJECT
public:
    explicit TxPowerSpinBox(QWidget* parent = nullptr) : QDoubleSpinBox(parent) {}

    void stepBy(int steps) override;

    // takes the steps instead of the field, when set
    std::function<void(int)> step_handler;
};
