#pragma once

#include <vector>

#include <QObject>

class FieldBindings;
class QWidget;

namespace KORVIK {
class USBDevice;
}
struct PageForms;

// The "Radio" page: carriers, modulations and factors, bandwidth and
// deviation, bitrates, bit-timing recovery, power, crystal and IF.
class RadioPage : public QObject {
    Q_OBJECT
public:
    RadioPage(PageForms* ui, FieldBindings& bindings, QObject* parent = nullptr);

    // Lists and enabling for the selected board's chip.
    void set_device(KORVIK::USBDevice* device);

    // The receiver's modulation factor from its bandwidth and bitrate.
    static double rx_modulation_factor(KORVIK::USBDevice& device);

    void step_tx_power(int steps);
    void copy_tx_to_rx();
    void copy_rx_to_tx();

private:
    PageForms* ui;
    FieldBindings& bindings;
    // fields bound through their parameter alone (FieldBindings::bind_by_name)
    std::vector<QWidget*> by_name;
};
