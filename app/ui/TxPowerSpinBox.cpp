#include "ui/TxPowerSpinBox.h"

void TxPowerSpinBox::stepBy(int steps)
{
    if (step_handler)
        step_handler(steps);
    else
        QDoubleSpinBox::stepBy(steps);
}
