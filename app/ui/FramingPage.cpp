#include "ui/FramingPage.h"

#include <algorithm>
#include <iostream>

#include <korvik/USBDevice.h>

#include "core/HexBytes.h"
#include "ui/FieldBindings.h"
#include "ui/Silently.h"
#include "ui/PageForms.h"

namespace {

QString hex_padded(unsigned int value, int digits)
{
    return QStringLiteral("%1").arg(value, digits, 16, QLatin1Char('0')).toUpper();
}

QString address_text(KORVIK::USBDevice& d, bool second)
{
    unsigned char mac[6] = {};
    if (second)
        d.get_chacc_addr2(mac);
    else
        d.get_chacc_addr1(mac);
    return format_hex_bytes(mac, 6, QString());
}

} // namespace

bool parse_hex_field(const QString& text, unsigned int& value)
{
    QString digits = text;
    digits.remove(QLatin1Char(' '));
    bool ok = false;
    value = digits.toUInt(&ok, 16);
    return ok && !digits.isEmpty();
}

FramingPage::FramingPage(PageForms* ui_, FieldBindings& bindings_, QObject* parent)
    : QObject(parent), ui(ui_), bindings(bindings_)
{
    using D = KORVIK::USBDevice;
    using V = QVariant;
    auto* u = ui;
    auto encoding = [](QCheckBox* box, const QString& label, bool (D::*get)() const, void (D::*set)(bool),
                       BoardSignal signal) {
        return FieldBinding{box, label, QString(), [get](D& d) { return V((d.*get)()); },
                            [set](D& d, const V& v) { (d.*set)(v.toBool()); return true; }, true, {signal}, {}, {}};
    };
    // on refused text the device keeps its value and the field shows it again
    auto hex_text = [](const char* what, void (D::*set)(unsigned int)) {
        return [what, set](D& d, const V& v) {
            unsigned int value = 0;
            if (!parse_hex_field(v.toString(), value)) {
                std::cerr << what << ": invalid text: \"" << v.toString().toStdString() << "\"" << std::endl;
                return false;
            }
            (d.*set)(value);
            return true;
        };
    };
    const std::vector<FieldBinding> table = {
        {u->framing.framing_mode, tr("Framing mode"), QString(), [](D& d) { return V(d.get_framingmode()); },
         [](D& d, const V& v) { d.set_framingmode(v.toInt()); return true; }, true, {&EvUSBBoard::changed_framingmode},
         {}, [this](D& d) { update_mode_controls(d); }},
        encoding(u->framing.framing_invert, tr("Invert"), &D::get_enc_invert, &D::set_enc_invert, &EvUSBBoard::changed_enc_invert),
        encoding(u->framing.framing_diff, tr("Differential encoding"), &D::get_enc_diff, &D::set_enc_diff, &EvUSBBoard::changed_enc_diff),
        encoding(u->framing.framing_scrambler, tr("Scrambler"), &D::get_enc_scrambler, &D::set_enc_scrambler,
                 &EvUSBBoard::changed_enc_scrambler),
        encoding(u->framing.framing_manchester, tr("Manchester encoding"), &D::get_enc_manchester, &D::set_enc_manchester,
                 &EvUSBBoard::changed_enc_manchester),
        {u->framing.framing_crcmode, tr("CRC mode"), QString(), [](D& d) { return V(d.get_crcmode()); },
         [](D& d, const V& v) { d.set_crcmode(v.toInt()); return true; }, true, {&EvUSBBoard::changed_crcmode}, {}, {}},
        {u->framing.framing_crcinit, tr("CRC init"), QString(), [](D& d) { return V(hex_padded(d.get_crcinit(), 8)); },
         hex_text("valchanged_framing_crcinit", &D::set_crcinit), true,
         {&EvUSBBoard::changed_crcinit}, {}, {}},
        {u->framing.framing_preamblelength, tr("Sync word length"), tr("bits"), [](D& d) { return V(int(d.get_preamble_length())); },
         [](D& d, const V& v) { d.set_preamble_length(unsigned(std::max(0, v.toInt()))); return true; }, true,
         {&EvUSBBoard::changed_preamble_length}, {u->framing.framing_preamblepattern}, {}},
        {u->framing.framing_preamblepattern, tr("Sync word"), QString(),
         [u](D& d) {
             // as many digits as the length needs, shown through the mask
             const int n = int((d.get_preamble_length() + 3) / 4);
             set_silently_mask(u->framing.framing_preamblepattern, QString(n, QLatin1Char('h')) + QStringLiteral(";_"));
             return V(hex_padded(d.get_preamble(), n));
         },
         hex_text("valchanged_framing_preamblepattern", &D::set_preamble), true,
         {&EvUSBBoard::changed_preamble, &EvUSBBoard::changed_preamble_length}, {}, {}},
        {u->device.framing_addresslength, tr("Address length"), tr("bytes"), [](D& d) { return V(int(std::min(6u, d.get_chacc_addrlength()))); },
         [](D& d, const V& v) { d.set_chacc_addrlength(static_cast<unsigned char>(std::clamp(v.toInt(), 0, 6))); return true; },
         false, {&EvUSBBoard::changed_chacc_addrlength}, {u->device.framing_address1, u->device.framing_address2},
         [u](D& d) {
             QStringList groups;
             for (unsigned int i = 0; i < std::min(6u, d.get_chacc_addrlength()); ++i)
                 groups << QStringLiteral("HH");
             const QString mask = groups.join(QLatin1Char(':')) + QStringLiteral(";_");
             set_silently_mask(u->device.framing_address1, mask);
             set_silently_mask(u->device.framing_address2, mask);
         }},
        {u->device.framing_addressmatch1, tr("Address match 1"), QString(), [](D& d) { return V(d.get_chacc_addrmatch1()); },
         [](D& d, const V& v) { d.set_chacc_addrmatch1(v.toBool()); return true; }, false,
         {&EvUSBBoard::changed_chacc_addrmatch1}, {}, [this](D& d) { update_addressmatch(d); }},
        {u->device.framing_addressmatch2, tr("Address match 2"), QString(), [](D& d) { return V(d.get_chacc_addrmatch2()); },
         [](D& d, const V& v) { d.set_chacc_addrmatch2(v.toBool()); return true; }, false,
         {&EvUSBBoard::changed_chacc_addrmatch2}, {}, [this](D& d) { update_addressmatch(d); }},
        {u->device.framing_address1, tr("Address 1"), QString(), [](D& d) { return V(address_text(d, false)); },
         [](D& d, const V& v) {
             unsigned char mac[6];
             parse_hex_bytes(v.toString(), mac, 6);
             d.set_chacc_addr1(mac);
             return true;
         },
         false, {&EvUSBBoard::changed_chacc_addr1, &EvUSBBoard::changed_chacc_addrlength}, {}, {}},
        {u->device.framing_address2, tr("Address 2"), QString(), [](D& d) { return V(address_text(d, true)); },
         [](D& d, const V& v) {
             unsigned char mac[6];
             parse_hex_bytes(v.toString(), mac, 6);
             d.set_chacc_addr2(mac);
             return true;
         },
         false, {&EvUSBBoard::changed_chacc_addr2, &EvUSBBoard::changed_chacc_addrlength}, {}, {}},
    };
    for (const FieldBinding& b : table)
        bindings.add(b);
    // the library parameter behind each field
    bindings.link(u->framing.framing_mode, "framingmode");
    bindings.link(u->framing.framing_invert, "enc_invert");
    bindings.link(u->framing.framing_diff, "enc_diff");
    bindings.link(u->framing.framing_scrambler, "enc_scrambler");
    bindings.link(u->framing.framing_manchester, "enc_manchester");
    bindings.link(u->framing.framing_crcmode, "crcmode");
    bindings.link(u->framing.framing_crcinit, "crcinit");
    bindings.link(u->framing.framing_preamblelength, "preamble_length");
    bindings.link(u->framing.framing_preamblepattern, "preamble");
    bindings.link(u->device.framing_addresslength, "chacc_addrlength");
    bindings.link(u->device.framing_addressmatch1, "chacc_addrmatch1");
    bindings.link(u->device.framing_addressmatch2, "chacc_addrmatch2");
    bindings.link(u->device.framing_address1, "chacc_addr1");
    bindings.link(u->device.framing_address2, "chacc_addr2");

    auto radio_mac = [this](bool second) {
        bindings.record(tr("Address from Radio MAC"), [second](KORVIK::USBDevice& d) {
            if (second)
                d.set_chacc_addr2(d.get_radio_ethernet_mac());
            else
                d.set_chacc_addr1(d.get_radio_ethernet_mac());
            d.set_chacc_addrlength(6);
        });
    };
    connect(ui->device.framing_address1radiomac, &QPushButton::clicked, this, [radio_mac]() { radio_mac(false); });
    connect(ui->device.framing_address2radiomac, &QPushButton::clicked, this, [radio_mac]() { radio_mac(true); });
}

void FramingPage::set_device(KORVIK::USBDevice* dev)
{
    for (QComboBox* c : {ui->framing.framing_mode, ui->framing.framing_crcmode})
        c->clear();
    if (!dev) {
        update_warning(nullptr);
        return;
    }
    for (const std::string& item : dev->get_supported_framingmodes())
        ui->framing.framing_mode->addItem(QString::fromStdString(item));
    for (const std::string& item : dev->get_supported_crcmodes())
        ui->framing.framing_crcmode->addItem(QString::fromStdString(item));
}

void FramingPage::update_warning(KORVIK::USBDevice* dev)
{
    const bool show = dev && dev->is_framingmode_hdlc_fec() && !dev->get_chacc_addrmatch1() && !dev->get_chacc_addrmatch2();
    set_silently_visible(ui->framing.framing_messageicon, show);
    set_silently_visible(ui->framing.framing_messagetext, show);
}

void FramingPage::update_mode_controls(KORVIK::USBDevice& d)
{
    update_warning(&d);
    const bool hdlc = d.is_framingmode_hdlc();
    const bool rawmatch = d.is_framingmode_rawpreamblematch();
    set_silently_enabled(ui->framing.framing_crcmode, hdlc);
    set_silently_enabled(ui->framing.framing_crcinit, hdlc);
    set_silently_enabled(ui->framing.framing_preamblelength, rawmatch);
    set_silently_enabled(ui->framing.framing_preamblepattern, rawmatch);
    for (QWidget* w : std::initializer_list<QWidget*>{ui->framing.framing_crclabel, ui->framing.framing_crcmode, ui->framing.framing_crcinit})
        set_silently_visible(w, hdlc);
    for (QWidget* w : std::initializer_list<QWidget*>{ui->framing.framing_preamblelabel, ui->framing.framing_preamblelength,
                                                      ui->framing.framing_preamblepattern})
        set_silently_visible(w, rawmatch);
    // FEC framing fixes the encoding; otherwise only what the chip supports is offered
    const bool fec = d.is_framingmode_hdlc_fec();
    const unsigned int enc = d.get_supported_encodingmodes();
    set_silently_enabled(ui->framing.framing_invert, !fec && (enc & 1));
    set_silently_enabled(ui->framing.framing_diff, !fec && (enc & 2));
    set_silently_enabled(ui->framing.framing_scrambler, !fec && (enc & 4));
    set_silently_enabled(ui->framing.framing_manchester, !fec && (enc & 8));
    update_addressmatch(d);
}

void FramingPage::update_addressmatch(KORVIK::USBDevice& d)
{
    update_warning(&d);
    const bool hdlc = d.is_framingmode_hdlc();
    const bool m1 = d.get_chacc_addrmatch1();
    const bool m2 = d.get_chacc_addrmatch2();
    set_silently_enabled(ui->device.framing_addresslength, hdlc);
    set_silently_enabled(ui->device.framing_addressmatch1, hdlc);
    set_silently_enabled(ui->device.framing_addressmatch2, hdlc);
    set_silently_enabled(ui->device.framing_address1, hdlc && m1);
    set_silently_enabled(ui->device.framing_address1radiomac, hdlc && m1);
    set_silently_enabled(ui->device.framing_address2, hdlc && m2);
    set_silently_enabled(ui->device.framing_address2radiomac, hdlc && m2);
}
