#include "ui/RadioPage.h"

#include <algorithm>
#include <cmath>

#include <korvik/USBDevice.h>

#include "ui/FieldBindings.h"
#include "ui/Silently.h"
#include "ui/PageForms.h"

namespace {

void fill_combo(QComboBox* combo, const std::list<std::string>& items)
{
    combo->clear();
    for (const std::string& item : items)
        combo->addItem(QString::fromStdString(item));
}

double four_fsk_factor(KORVIK::USBDevice& d)
{
    return d.is_modulation_4fsk(d.get_rx_modulation()) ? 3.0 : 1.0;
}

double tx_factor(KORVIK::USBDevice& d)
{
    const double b = d.get_tx_bitrate();
    return b < 1.0 ? 0.0 : d.get_tx_deviation() / b;
}

} // namespace

double RadioPage::rx_modulation_factor(KORVIK::USBDevice& d)
{
    const double b = d.get_rx_bitrate();
    if (b < 1.0)
        return 0.0;
    return (d.get_rx_bandwidth() / b - 1.0) / four_fsk_factor(d);
}

RadioPage::RadioPage(PageForms* ui_, FieldBindings& bindings_, QObject* parent)
    : QObject(parent), ui(ui_), bindings(bindings_)
{
    using D = KORVIK::USBDevice;
    using V = QVariant;
    auto* u = ui;
    const std::vector<FieldBinding> table = {
        {u->framing.radio_xtalfreq, tr("Crystal frequency"), tr("MHz"), [](D& d) { return V(d.get_xtal_frequency() * 1e-6); },
         [u](D& d, const V& v) {
             // round, not truncate: 16.000002 MHz times a million lands just below 16000002
             d.set_xtal_frequency(static_cast<unsigned int>(std::llround(v.toDouble() * 1e6)));
             // the carrier words depend on the crystal: apply the shown carriers again
             d.set_rx_carrierfrequency(u->radio.radio_rxfreq->value() * 1e6);
             d.set_tx_carrierfrequency(u->radio.radio_txfreq->value() * 1e6);
             return true;
         },
         true, {&EvUSBBoard::changed_xtal_frequency}, {u->radio.radio_rxfreq, u->radio.radio_txfreq}, {}},
        {u->framing.radio_xtaltol, tr("Crystal tolerance"), tr("ppm"), [](D& d) { return V(d.get_xtal_tolerance()); },
         [](D& d, const V& v) { d.set_xtal_tolerance(v.toDouble()); return true; }, false,
         {&EvUSBBoard::changed_xtal_tolerance}, {}, {}},
        {u->radio.radio_rxmodulation, tr("Receiver modulation"), QString(), [](D& d) { return V(d.get_rx_modulation()); },
         [](D& d, const V& v) { d.set_rx_modulation(v.toInt()); return true; }, true,
         {&EvUSBBoard::changed_rx_modulation}, {}, {}},
        {u->radio.radio_txmodulation, tr("Transmitter modulation"), QString(), [](D& d) { return V(d.get_tx_modulation()); },
         [](D& d, const V& v) { d.set_tx_modulation(v.toInt()); return true; }, true,
         {&EvUSBBoard::changed_tx_modulation}, {}, {}},
        {u->radio.radio_rxfreq, tr("Receiver carrier frequency"), tr("MHz"),
         [](D& d) { return V(d.get_rx_carrierfrequency() * 1e-6); },
         [](D& d, const V& v) { d.set_rx_carrierfrequency(v.toDouble() * 1e6); return true; }, true,
         {&EvUSBBoard::changed_rx_carrierfrequency}, {}, {}},
        {u->radio.radio_txfreq, tr("Transmitter carrier frequency"), tr("MHz"),
         [](D& d) { return V(d.get_tx_carrierfrequency() * 1e-6); },
         [](D& d, const V& v) { d.set_tx_carrierfrequency(v.toDouble() * 1e6); return true; }, true,
         {&EvUSBBoard::changed_tx_carrierfrequency}, {}, {}},
        {u->radio.radio_rxbandwidth, tr("Receiver bandwidth"), tr("kHz"), [](D& d) { return V(d.get_rx_bandwidth() * 1e-3); },
         [](D& d, const V& v) { d.set_rx_bandwidth(v.toDouble() * 1e3); return true; }, true,
         {&EvUSBBoard::changed_rx_bandwidth, &EvUSBBoard::changed_rx_bitrate}, {u->radio.radio_rxh}, {}},
        {u->radio.radio_rxh, tr("Receiver modulation factor"), QString(), [](D& d) { return V(rx_modulation_factor(d)); },
         [](D& d, const V& v) {
             d.set_rx_bandwidth(d.get_rx_bitrate() * (1.0 + four_fsk_factor(d) * v.toDouble()));
             return true;
         },
         true, {&EvUSBBoard::changed_rx_bandwidth, &EvUSBBoard::changed_rx_bitrate}, {u->radio.radio_rxbandwidth}, {}},
        {u->radio.radio_rxbitrate, tr("Receiver bitrate"), tr("kbit/s"), [](D& d) { return V(d.get_rx_bitrate() * 1e-3); },
         [u](D& d, const V& v) {
             // the modulation factor stays; the bandwidth follows the bitrate
             const double b = v.toDouble() * 1e3;
             d.set_rx(b * (1.0 + four_fsk_factor(d) * u->radio.radio_rxh->value()), b, d.get_rx_modulation(), d.get_rx_btr());
             return true;
         },
         true, {&EvUSBBoard::changed_rx_bitrate}, {u->radio.radio_rxbandwidth, u->radio.radio_rxh}, {}},
        {u->radio.radio_txhalfdev, tr("Transmitter half deviation"), tr("kHz"), [](D& d) { return V(d.get_tx_deviation() * 5e-4); },
         [](D& d, const V& v) { d.set_tx(v.toDouble() * 2e3, d.get_tx_bitrate(), d.get_tx_modulation()); return true; },
         true, {&EvUSBBoard::changed_tx_deviation, &EvUSBBoard::changed_tx_bitrate}, {u->radio.radio_txh}, {}},
        {u->radio.radio_txh, tr("Transmitter modulation factor"), QString(), [](D& d) { return V(tx_factor(d)); },
         [](D& d, const V& v) {
             const double b = d.get_tx_bitrate();
             d.set_tx(b * v.toDouble(), b, d.get_tx_modulation());
             return true;
         },
         true, {&EvUSBBoard::changed_tx_deviation, &EvUSBBoard::changed_tx_bitrate}, {u->radio.radio_txhalfdev}, {}},
        {u->radio.radio_txbitrate, tr("Transmitter bitrate"), tr("kbit/s"), [](D& d) { return V(d.get_tx_bitrate() * 1e-3); },
         [u](D& d, const V& v) {
             const double b = v.toDouble() * 1e3;
             d.set_tx(u->radio.radio_txh->value() * b, b, d.get_tx_modulation());
             return true;
         },
         true, {&EvUSBBoard::changed_tx_bitrate}, {u->radio.radio_txhalfdev, u->radio.radio_txh}, {}},
        {u->radio.radio_rxbtr, tr("Bit-timing recovery"), QString(), [](D& d) { return V(d.get_rx_btr()); },
         [](D& d, const V& v) {
             d.set_rx_btr(v.toInt());
             d.commit_registers();
             // the chosen recovery needs this many preamble bits; the channel access sends bytes
             d.set_chacc_preamble(static_cast<unsigned char>((unsigned(d.get_rx_btr_preamble()) >> 3) & 0xFF));
             return true;
         },
         false, {&EvUSBBoard::changed_rx_btr}, {u->chacc.chacc_preamble}, {}},
        {u->radio.radio_txpower, tr("Transmit power"), tr("dBm"), [](D& d) { return V(d.get_tx_power()); },
         [](D& d, const V& v) { d.set_tx_power(v.toDouble()); return true; }, true, {&EvUSBBoard::changed_tx_power}, {}, {}},
        {u->framing.radio_iffreq, tr("Intermediate frequency"), tr("MHz"), [](D& d) { return V(d.get_iffrequency() * 1e-6); },
         [](D& d, const V& v) { d.set_iffrequency(v.toDouble() * 1e6); return true; }, true,
         {&EvUSBBoard::changed_iffrequency}, {}, {}},
    };
    for (const FieldBinding& b : table)
        bindings.add(b);
    // the library parameter behind each field, in the field's unit: the
    // Radio page's fields name theirs in the form, and a field there with
    // no binding above is bound through its parameter alone
    by_name = bindings.bind_by_name(ui->radio_page);
    bindings.link(u->framing.radio_xtalfreq, "xtal_frequency", 1e-6);
    bindings.link(u->framing.radio_xtaltol, "xtal_tolerance");
    bindings.link(u->framing.radio_iffreq, "iffrequency", 1e-6);

    ui->radio.radio_txpower->step_handler = [this](int steps) { step_tx_power(steps); };
    connect(ui->radio.radio_copytxtorx, &QPushButton::clicked, this, &RadioPage::copy_tx_to_rx);
    connect(ui->radio.radio_copyrxtotx, &QPushButton::clicked, this, &RadioPage::copy_rx_to_tx);
}

void RadioPage::set_device(KORVIK::USBDevice* dev)
{
    // fields bound by name: on when the chip has the parameter, choices from the table
    for (QWidget* w : by_name) {
        const FieldBinding* b = bindings.find(w);
        const bool has = dev && b && dev->has_param(b->param);
        if (auto* c = qobject_cast<QComboBox*>(w)) {
            if (has) {
                const std::vector<std::string> choices = dev->get_param_limits(b->param).choices;
                fill_combo(c, std::list<std::string>(choices.begin(), choices.end()));
            } else {
                c->clear();
            }
        }
        set_silently_enabled(w, has);
    }
    if (!dev) {
        for (QComboBox* c : {ui->radio.radio_rxmodulation, ui->radio.radio_txmodulation, ui->radio.radio_rxbtr})
            c->clear();
        return;
    }
    const std::list<std::string> modulations = dev->get_supported_modulations();
    fill_combo(ui->radio.radio_rxmodulation, modulations);
    fill_combo(ui->radio.radio_txmodulation, modulations);
    fill_combo(ui->radio.radio_rxbtr, dev->get_supported_rx_btr_settings());
    const unsigned int chipflags = dev->get_chipflags();
    const bool rx = chipflags & 1;
    const bool tx = chipflags & 2;
    for (QWidget* w : std::initializer_list<QWidget*>{ui->radio.radio_rxmodulation, ui->radio.radio_rxfreq, ui->radio.radio_rxh,
                                                      ui->radio.radio_rxbandwidth, ui->radio.radio_rxbitrate, ui->radio.radio_rxbtr})
        set_silently_enabled(w, rx);
    for (QWidget* w : std::initializer_list<QWidget*>{ui->radio.radio_txmodulation, ui->radio.radio_txfreq, ui->radio.radio_txh,
                                                      ui->radio.radio_txhalfdev, ui->radio.radio_txbitrate, ui->radio.radio_txpower})
        set_silently_enabled(w, tx);
    set_silently_enabled(ui->radio.radio_copytxtorx, rx && tx);
    set_silently_enabled(ui->radio.radio_copyrxtotx, rx && tx);
}

void RadioPage::step_tx_power(int steps)
{
    bindings.record(tr("Transmit power"), [steps](KORVIK::USBDevice& d) {
        d.step_tx_power(steps);
        d.commit_registers();
    });
    bindings.refresh(ui->radio.radio_txpower, true);
}

void RadioPage::copy_tx_to_rx()
{
    bindings.record(tr("Copy Tx to Rx"), [](KORVIK::USBDevice& d) {
        const int m = d.get_tx_modulation();
        const double f = d.get_tx_carrierfrequency();
        const double b = d.get_tx_bitrate();
        const double h = tx_factor(d);
        d.set_rx_carrierfrequency(f);
        // the receiver modulation in effect before the copy decides the factor
        d.set_rx(b * (1.0 + four_fsk_factor(d) * h), b, m, d.get_rx_btr());
        d.commit_registers();
    });
}

void RadioPage::copy_rx_to_tx()
{
    bindings.record(tr("Copy Rx to Tx"), [](KORVIK::USBDevice& d) {
        const int m = d.get_rx_modulation();
        const double f = d.get_rx_carrierfrequency();
        const double b = d.get_rx_bitrate();
        const double h = std::max(0.0, rx_modulation_factor(d));
        d.set_tx_carrierfrequency(f);
        d.set_tx(b * h, b, m);
        d.commit_registers();
    });
}
