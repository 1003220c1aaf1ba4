#include "ui/TxPowerSpinBox.h"

#include "ui/MainWindow.h"

void TxPowerSpinBox::stepBy(int steps)
{
    if (mainwindow)
        mainwindow->valchanged_radio_txpower_stepby(steps);
    else
        QDoubleSpinBox::stepBy(steps);
}
