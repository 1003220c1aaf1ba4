#pragma once

#include <QObject>

class FieldBindings;

namespace KORVIK {
class USBDevice;
}
struct PageForms;

// The "Framing" page: framing mode, encoding, CRC, sync word, and the
// address matching of the channel access that HDLC framing uses.
class FramingPage : public QObject {
    Q_OBJECT
public:
    FramingPage(PageForms* ui, FieldBindings& bindings, QObject* parent = nullptr);

    void set_device(KORVIK::USBDevice* device);
    // The warning about FEC framing without address matching.
    void update_warning(KORVIK::USBDevice* device);

private:
    void update_mode_controls(KORVIK::USBDevice& device);
    void update_addressmatch(KORVIK::USBDevice& device);

    PageForms* ui;
    FieldBindings& bindings;
};

// Hexadecimal text of a CRC init or sync word field: spaces are ignored;
// false for text without a hexadecimal number.
bool parse_hex_field(const QString& text, unsigned int& value);
