#pragma once

#include <QObject>

class FieldBindings;

namespace KORVIK {
class USBDevice;
}
struct PageForms;

// The "Channel Access" page: access mode, p-persistence, slot time,
// thresholds and the preamble the board sends. Its values are the board's,
// not the chip's: nothing here commits.
class ChannelAccessPage : public QObject {
    Q_OBJECT
public:
    ChannelAccessPage(PageForms* ui, FieldBindings& bindings, QObject* parent = nullptr);

    void set_device(KORVIK::USBDevice* device);
    // bits as typed, bytes as the board takes them
    static unsigned char preamble_bytes(int bits);

private:
    PageForms* ui;
};

// The "Device" page: the board's serial and its two MAC addresses.
class DevicePage : public QObject {
    Q_OBJECT
public:
    DevicePage(PageForms* ui, FieldBindings& bindings, QObject* parent = nullptr);

    // MACs from the serial's digits read as hexadecimal: 40 and four bytes,
    // then 00 for the interface and 01 for the radio.
    void generate_macs(bool interface_mac, bool radio_mac);

private:
    PageForms* ui;
    FieldBindings& bindings;
};
