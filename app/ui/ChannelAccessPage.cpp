#include "ui/ChannelAccessPage.h"

#include <algorithm>
#include <cmath>

#include <korvik/USBDevice.h>

#include "core/HexBytes.h"
#include "ui/FieldBindings.h"
#include "ui/PageForms.h"

unsigned char ChannelAccessPage::preamble_bytes(int bits)
{
    return static_cast<unsigned char>(bits < 0 ? 0 : std::min(255, (bits + 7) / 8));
}

ChannelAccessPage::ChannelAccessPage(PageForms* ui_, FieldBindings& bindings, QObject* parent)
    : QObject(parent), ui(ui_)
{
    using D = KORVIK::USBDevice;
    using V = QVariant;
    auto* u = ui;
    auto preamble_ms = [u](D& d) { u->chacc.chacc_preamble_ms->setText(tr("%1 ms").arg(d.get_chacc_preamble_sec() * 1000.0, 0, 'f', 1)); };
    const std::vector<FieldBinding> table = {
        {u->chacc.chacc_channelacc, tr("Channel access"), QString(), [](D& d) { return V(d.get_chacc_channelaccessmode()); },
         [](D& d, const V& v) { d.set_chacc_channelaccessmode(v.toInt()); return true; }, false,
         {&EvUSBBoard::changed_chacc_channelaccessmode}, {}, {}},
        {u->chacc.chacc_ppersist, tr("p-persistence"), QString(), [](D& d) { return V(d.get_chacc_ppersistence()); },
         [](D& d, const V& v) { d.set_chacc_ppersistence(v.toDouble()); return true; }, false,
         {&EvUSBBoard::changed_chacc_ppersistence}, {}, {}},
        {u->chacc.chacc_slottime, tr("Slot time"), tr("ms"), [](D& d) { return V(int(d.get_chacc_slottime() * 1000.0 + 0.5)); },
         [](D& d, const V& v) { d.set_chacc_slottime(v.toInt() * 0.001); return true; }, false,
         {&EvUSBBoard::changed_chacc_slottime}, {}, {}},
        {u->chacc.chacc_rssithreshold, tr("RSSI threshold"), tr("dBm"), [](D& d) { return V(d.get_chacc_rssithreshold()); },
         [](D& d, const V& v) { d.set_chacc_rssithreshold(v.toDouble()); return true; }, false,
         {&EvUSBBoard::changed_chacc_rssithreshold}, {}, {}},
        {u->chacc.chacc_bgndthreshold, tr("Background threshold"), tr("dB"), [](D& d) { return V(d.get_chacc_bgndthreshold()); },
         [](D& d, const V& v) { d.set_chacc_bgndthreshold(v.toDouble()); return true; }, false,
         {&EvUSBBoard::changed_chacc_bgndthreshold}, {}, {}},
        {u->chacc.chacc_preamble, tr("Preamble"), tr("bits"), [](D& d) { return V(int(d.get_chacc_preamble() * 8)); },
         [](D& d, const V& v) { d.set_chacc_preamble(preamble_bytes(v.toInt())); return true; }, false,
         {&EvUSBBoard::changed_chacc_preamble, &EvUSBBoard::changed_tx_bitrate}, {}, preamble_ms},
    };
    for (const FieldBinding& b : table)
        bindings.add(b);
    // the library parameter behind each field, in the field's unit
    bindings.link(u->chacc.chacc_channelacc, "chacc_channelaccessmode");
    bindings.link(u->chacc.chacc_ppersist, "chacc_ppersistence");
    bindings.link(u->chacc.chacc_slottime, "chacc_slottime", 1e3);
    bindings.link(u->chacc.chacc_rssithreshold, "chacc_rssithreshold");
    bindings.link(u->chacc.chacc_bgndthreshold, "chacc_bgndthreshold");
    bindings.link(u->chacc.chacc_preamble, "chacc_preamble", 8);
}

void ChannelAccessPage::set_device(KORVIK::USBDevice* dev)
{
    ui->chacc.chacc_channelacc->clear();
    if (!dev)
        return;
    for (const std::string& item : dev->get_chacc_supported_channelaccessmodes())
        ui->chacc.chacc_channelacc->addItem(QString::fromStdString(item));
}

DevicePage::DevicePage(PageForms* ui_, FieldBindings& bindings_, QObject* parent)
    : QObject(parent), ui(ui_), bindings(bindings_)
{
    using D = KORVIK::USBDevice;
    using V = QVariant;
    auto mac = [](QWidget* field, const QString& label, const unsigned char* (D::*get)() const,
                  void (D::*set)(const unsigned char*), BoardSignal signal) {
        return FieldBinding{field, label, QString(), [get](D& d) { return V(format_hex_bytes((d.*get)(), 6, QString())); },
                            [set](D& d, const V& v) {
                                unsigned char bytes[6];
                                // an incomplete address would write 0xFF into the missing bytes
                                if (parse_hex_bytes(v.toString(), bytes, 6) != 6)
                                    return false;
                                (d.*set)(bytes);
                                return true;
                            },
                            false, {signal}, {}, {}};
    };
    const std::vector<FieldBinding> table = {
        {ui->device.device_usbserial, tr("Serial"), QString(), [](D& d) { return V(QString::fromStdString(d.get_nv_serial())); },
         [](D& d, const V& v) {
             if (v.toString().size() < 7)
                 return false;
             d.set_nv_serial(v.toString().toStdString());
             return true;
         },
         false, {&EvUSBBoard::changed_nv_serial}, {}, {}},
        mac(ui->device.device_interfacemac, tr("Interface MAC"), &D::get_nv_ethernet_mac, &D::set_nv_ethmac, &EvUSBBoard::changed_nv_ethmac),
        mac(ui->device.device_radiomac, tr("Radio MAC"), &D::get_nv_radio_ethernet_mac, &D::set_nv_radio_ethmac,
            &EvUSBBoard::changed_nv_radio_ethmac),
    };
    for (const FieldBinding& b : table)
        bindings.add(b);
    bindings.link(ui->device.device_usbserial, "nv_serial");
    bindings.link(ui->device.device_interfacemac, "nv_ethmac");
    bindings.link(ui->device.device_radiomac, "nv_radio_ethmac");
    connect(ui->device.device_generateinterfacemac, &QPushButton::clicked, this, [this]() { generate_macs(true, false); });
    connect(ui->device.device_generateradiomac, &QPushButton::clicked, this, [this]() { generate_macs(false, true); });
    connect(ui->device.device_generatemacs, &QPushButton::clicked, this, [this]() { generate_macs(true, true); });
}

void DevicePage::generate_macs(bool interface_mac, bool radio_mac)
{
    KORVIK::USBDevice* dev = bindings.device();
    const QString serial = ui->device.device_usbserial->text();
    if (!dev || serial.size() > 7)
        return;
    bool ok = false;
    const uint v = serial.left(7).toUInt(&ok, 16);
    if (!ok)
        return;
    unsigned char mac[6] = {0x40, static_cast<unsigned char>((v >> 24) & 0xFF), static_cast<unsigned char>((v >> 16) & 0xFF),
                            static_cast<unsigned char>((v >> 8) & 0xFF), static_cast<unsigned char>(v & 0xFF), 0};
    bindings.record(tr("Generate MAC Addresses"), [&](KORVIK::USBDevice& d) {
        if (interface_mac)
            d.set_nv_ethmac(mac);
        mac[5] = 1;
        if (radio_mac)
            d.set_nv_radio_ethmac(mac);
    });
}
