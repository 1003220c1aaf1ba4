#include "shell/EvUSBBoard.h"

#include <iostream>

#include <QDebug>
#include <QDomDocument>
#include <QFileInfo>
#include <QMetaMethod>
#include <QPointer>
#include <QUndoCommand>
#include <QUndoStack>

#include <korvik/ChangeList.h>
#include <korvik/USBDevice.h>

#include "core/CodeSnippets.h"
#include "core/SettingsFile.h"
#include "shell/BoardState.h"

namespace {

// One change of one board: the states before and after it. The first redo is
// the change itself, already made.
class StateCommand : public QUndoCommand {
public:
    StateCommand(EvUSBBoard* board, DeviceState before, DeviceState after, const QString& text)
        : QUndoCommand(text), board(board), before(std::move(before)), after(std::move(after))
    {
    }
    void undo() override { apply(before); }
    void redo() override
    {
        if (!first)
            apply(after);
        first = false;
    }

private:
    void apply(const DeviceState& state)
    {
        if (!board || !board->get_device())
            return;
        state.restore(*board->get_device());
        Q_EMIT board->settings_replaced();
    }

    QPointer<EvUSBBoard> board;
    DeviceState before, after;
    bool first = true;
};

} // namespace

EvUSBBoard::EvUSBBoard(QObject* owner_, KORVIK::USBDevice* device_)
    : owner(owner_), device(device_), registermodel(device_), bitfieldmodel(device_), history(new QUndoStack(this))
{
    if (!device)
        return;
    KORVIK::USBDevice& d = *device;
    auto& subs = subscriptions;
    subs.push_back(d.notify_status([this](const KORVIK::USBDeviceStatus& s) { Q_EMIT update_hid_status(s); }));
    subs.push_back(d.notify_receive_packet(sigc::slot<void(const unsigned char*, unsigned int, const unsigned char*, short, int)>(
        [this](const unsigned char* pkt, unsigned int len, const unsigned char* mac, short rssi, int offset) {
            Q_EMIT packet_counts_changed();
            Q_EMIT new_packet(pkt, len, mac, rssi, offset);
        })));
    subs.push_back(d.notify_transmit_packet([this](const unsigned char* pkt, unsigned int len, const unsigned char* mac) {
        Q_EMIT packet_counts_changed();
        Q_EMIT new_transmit_packet(pkt, len, mac);
    }));

    // every plain change notification of the library's own list, relayed by
    // name: one that the library adds needs nothing here
    using Notify = sigc::connection (KORVIK::USBDevice::*)(const sigc::slot<void()>&);
#define KORVIK_RELAY(name) {&KORVIK::USBDevice::notify_changed_##name, #name},
    static const std::pair<Notify, const char*> relays[] = {KORVIK_CHANGES(KORVIK_RELAY)};
#undef KORVIK_RELAY
    for (const auto& relay : relays) {
        const char* name = relay.second;
        const int own = own_signal(name);
        subs.push_back((d.*relay.first)([this, name, own]() { relay_change(name, own); }));
    }
    subs.push_back(d.notify_terminate_autoranging([this](int rx, int tx) { Q_EMIT terminate_autoranging(rx, tx); }));
    subs.push_back(d.notify_changed_register([this](unsigned int index, unsigned char, unsigned char) {
        registermodel.row_changed(index);
    }));
    subs.push_back(d.notify_changed_bitfield([this](unsigned int index, unsigned int) {
        bitfieldmodel.row_changed(index);
    }));
    // a board arrives with what its memory holds
    remember_stored();
}

int EvUSBBoard::own_signal(const char* notification) const
{
    // the signal of the same name, for the views that still follow one
    return metaObject()->indexOfSignal((QByteArray("changed_") + notification + "()").constData());
}

void EvUSBBoard::relay_change(const char* notification, int own)
{
    if (own >= 0)
        metaObject()->method(own).invoke(this, Qt::DirectConnection);
    Q_EMIT changed(QString::fromLatin1(notification));
}

void EvUSBBoard::remember_stored()
{
    if (!device)
        return;
    stored = DeviceState::of(*device);
    stored.registers.clear();
}

bool EvUSBBoard::stored_settings_differ() const
{
    if (!device)
        return false;
    DeviceState now = DeviceState::of(*device);
    now.registers.clear();
    return now != stored;
}

EvUSBBoard::~EvUSBBoard()
{
    std::cerr << "EvUSBBoard::~EvUSBBoard" << std::endl;
    for (auto& c : subscriptions)
        c.disconnect();
    subscriptions.clear();
    Q_EMIT delete_subwindows();
    Q_EMIT leaving();
    registermodel.detach();
    bitfieldmodel.detach();
    delete device;
    device = nullptr;
}

void EvUSBBoard::board_removed()
{
    Q_EMIT leaving();
    if (!removed) {
        // the application deletes what the event loop did not get to before the end
        if (owner)
            setParent(owner);
        deleteLater();
    }
    removed = true;
}

// Every slot forwards to the handle; a board object always has one, but a
// missing handle must not crash a slot that a stray signal reaches.
#define WITH_DEVICE(expr) \
    do {                  \
        if (device)       \
            device->expr; \
    } while (0)

void EvUSBBoard::record(const QString& text, const std::function<void()>& change)
{
    if (!device || recording) {
        change();
        return;
    }
    const DeviceState before = DeviceState::of(*device);
    ++recording;
    try {
        change();
    } catch (...) {
        --recording;
        // what got through before the failure is still a change the user can take back
        if (device && DeviceState::of(*device) != before)
            history->push(new StateCommand(this, before, DeviceState::of(*device), text));
        throw;
    }
    --recording;
    // the board may have left during the exchange
    if (!device)
        return;
    DeviceState after = DeviceState::of(*device);
    if (after != before)
        history->push(new StateCommand(this, before, std::move(after), text));
}

void EvUSBBoard::load_chipoperating() { WITH_DEVICE(load_chipoperating()); }
void EvUSBBoard::load_chipdefaults()
{
    record(tr("Load Chip Defaults"), [this]() { WITH_DEVICE(load_chipdefaults()); });
    Q_EMIT settings_replaced();
}
void EvUSBBoard::load_boarddefaults()
{
    record(tr("Load Defaults"), [this]() { WITH_DEVICE(load_boarddefaults()); });
    remember_stored();
    registermodel.nv_changed();
    bitfieldmodel.nv_changed();
    Q_EMIT settings_replaced();
}
void EvUSBBoard::store_boarddefaults()
{
    WITH_DEVICE(store_boarddefaults());
    remember_stored();
    // the Flash columns show what was just stored
    registermodel.nv_changed();
    bitfieldmodel.nv_changed();
}
void EvUSBBoard::set_nv_ethmac(const uint8_t* macaddr) { WITH_DEVICE(set_nv_ethmac(macaddr)); }
void EvUSBBoard::set_nv_radio_ethmac(const uint8_t* macaddr) { WITH_DEVICE(set_nv_radio_ethmac(macaddr)); }
void EvUSBBoard::set_nv_serial(QString ser) { WITH_DEVICE(set_nv_serial(ser.toLocal8Bit().toStdString())); }
void EvUSBBoard::set_chacc_channelaccessmode(int m) { WITH_DEVICE(set_chacc_channelaccessmode(m)); }
void EvUSBBoard::set_chacc_ppersistence(double pp) { WITH_DEVICE(set_chacc_ppersistence(pp)); }
void EvUSBBoard::set_chacc_slottime(double s) { WITH_DEVICE(set_chacc_slottime(s)); }
void EvUSBBoard::set_chacc_rssithreshold(double s) { WITH_DEVICE(set_chacc_rssithreshold(s)); }
void EvUSBBoard::set_chacc_bgndthreshold(double s) { WITH_DEVICE(set_chacc_bgndthreshold(s)); }
void EvUSBBoard::set_chacc_preamble(uint8_t t) { WITH_DEVICE(set_chacc_preamble(t)); }
void EvUSBBoard::set_chacc_addrlength(uint8_t t) { WITH_DEVICE(set_chacc_addrlength(t)); }
void EvUSBBoard::set_chacc_addrmatch1(bool am) { WITH_DEVICE(set_chacc_addrmatch1(am)); }
void EvUSBBoard::set_chacc_addrmatch2(bool am) { WITH_DEVICE(set_chacc_addrmatch2(am)); }
void EvUSBBoard::set_chacc_addr1(const uint8_t* mac) { WITH_DEVICE(set_chacc_addr1(mac)); }
void EvUSBBoard::set_chacc_addr2(const uint8_t* mac) { WITH_DEVICE(set_chacc_addr2(mac)); }
void EvUSBBoard::set_transmit_cw(bool cwtx) { WITH_DEVICE(set_transmit_cw(cwtx)); }
void EvUSBBoard::set_transmit_cw() { set_transmit_cw(false); }
void EvUSBBoard::set_xtal_frequency(uint32_t freq) { WITH_DEVICE(set_xtal_frequency(freq)); }
void EvUSBBoard::set_xtal_frequency() { set_xtal_frequency(16000000); }
void EvUSBBoard::set_xtal_tolerance(double tol) { WITH_DEVICE(set_xtal_tolerance(tol)); }
void EvUSBBoard::set_xtal_tolerance() { set_xtal_tolerance(10.0); }
void EvUSBBoard::set_rx(double bw, double br, int mod, int btr) { WITH_DEVICE(set_rx(bw, br, mod, btr)); }
void EvUSBBoard::set_tx(double dev, double br, int mod) { WITH_DEVICE(set_tx(dev, br, mod)); }
void EvUSBBoard::set_rx_modulation(int mod) { WITH_DEVICE(set_rx_modulation(mod)); }
void EvUSBBoard::set_tx_modulation(int mod) { WITH_DEVICE(set_tx_modulation(mod)); }
void EvUSBBoard::set_rx_carrierfrequency(double f) { WITH_DEVICE(set_rx_carrierfrequency(f)); }
void EvUSBBoard::set_tx_carrierfrequency(double f) { WITH_DEVICE(set_tx_carrierfrequency(f)); }
void EvUSBBoard::set_rx_bandwidth(double bw) { WITH_DEVICE(set_rx_bandwidth(bw)); }
void EvUSBBoard::set_tx_deviation(double dev) { WITH_DEVICE(set_tx_deviation(dev)); }
void EvUSBBoard::set_rx_bitrate(double b) { WITH_DEVICE(set_rx_bitrate(b)); }
void EvUSBBoard::set_tx_bitrate(double b) { WITH_DEVICE(set_tx_bitrate(b)); }
void EvUSBBoard::set_rx_btr(int btr) { WITH_DEVICE(set_rx_btr(btr)); }
void EvUSBBoard::set_tx_power(double dbm) { WITH_DEVICE(set_tx_power(dbm)); }
void EvUSBBoard::step_tx_power(int steps) { WITH_DEVICE(step_tx_power(steps)); }
void EvUSBBoard::set_rx_range(uint range) { WITH_DEVICE(set_rx_range(range)); }
void EvUSBBoard::set_tx_range(uint range) { WITH_DEVICE(set_tx_range(range)); }
void EvUSBBoard::set_iffrequency(double f) { WITH_DEVICE(set_iffrequency(f)); }
void EvUSBBoard::set_framingmode(int m) { WITH_DEVICE(set_framingmode(m)); }
void EvUSBBoard::set_enc_invert(bool x) { WITH_DEVICE(set_enc_invert(x)); }
void EvUSBBoard::set_enc_diff(bool x) { WITH_DEVICE(set_enc_diff(x)); }
void EvUSBBoard::set_enc_scrambler(bool x) { WITH_DEVICE(set_enc_scrambler(x)); }
void EvUSBBoard::set_enc_manchester(bool x) { WITH_DEVICE(set_enc_manchester(x)); }
void EvUSBBoard::set_crcmode(int m) { WITH_DEVICE(set_crcmode(m)); }
void EvUSBBoard::set_crcinit(uint32_t x) { WITH_DEVICE(set_crcinit(x)); }
void EvUSBBoard::set_preamble(uint32_t x) { WITH_DEVICE(set_preamble(x)); }
void EvUSBBoard::set_preamble_length(uint32_t x) { WITH_DEVICE(set_preamble_length(x)); }

#undef WITH_DEVICE

void EvUSBBoard::open_rc800_code_snippet_window(uint snippet)
{
    if (device)
        Q_EMIT code_window_requested(TargetRC800, snippet, rc800_code_snippet(snippet_chip(*device), snippet));
}

void EvUSBBoard::open_rc800_code_snippet_window() { open_rc800_code_snippet_window(7); }

void EvUSBBoard::open_code_snippet_window(uint snippet)
{
    if (device)
        Q_EMIT code_window_requested(TargetSPI, snippet, spi_code_snippet(snippet_chip(*device), snippet));
}

void EvUSBBoard::open_code_snippet_window() { open_code_snippet_window(7); }

void EvUSBBoard::open_evalboard_code_snippet_window()
{
    if (device)
        Q_EMIT code_window_requested(TargetEvalboard, 0, evalboard_code_snippet(snippet_chip(*device)));
}

void EvUSBBoard::debug_register_dump()
{
    if (device)
        Q_EMIT code_window_requested(TargetRegisterDump, 0, QString::fromStdString(device->debug_register_dump()));
}

void EvUSBBoard::message_box(QString caption, QString text)
{
    Q_EMIT message_requested(caption, text);
}

void EvUSBBoard::save_file()
{
    Q_EMIT file_dialog_requested(true);
}

void EvUSBBoard::load_file()
{
    Q_EMIT file_dialog_requested(false);
}

void EvUSBBoard::save_file(QString filename)
{
    try {
        if (device) {
            save_settings_file(*device, filename);
            Q_EMIT status_message(tr("Settings saved to %1").arg(filename));
        }
    } catch (const QString& text) {
        qDebug().noquote() << "Error Saving File" << text;
        message_box(tr("Error Saving File"), text);
    }
}

void EvUSBBoard::load_file(QString filename)
{
    try {
        if (!device)
            return;
        bool was_set = false;
        const QDomDocument document = read_settings_file(filename, true, &was_set);
        SettingsReport report;
        record(tr("Load File %1").arg(QFileInfo(filename).fileName()), [&]() {
            report = apply_settings(document, !was_set);
        });
        Q_EMIT settings_replaced();
        Q_EMIT status_message(tr("Settings loaded from %1").arg(filename));
        if (!report.notes.isEmpty())
            message_box(tr("Settings Partly Applied"),
                        tr("%1 was loaded, but these entries were not applied:\n%2").arg(filename, report.text()));
    } catch (const QString& text) {
        qDebug().noquote() << "Error Loading File" << text;
        // every refusal names the file, whichever check made it
        message_box(tr("Error Loading File"),
                    text.contains(filename) ? text : tr("%1 was not loaded: %2").arg(QFileInfo(filename).fileName(), text));
    }
}

SettingsReport EvUSBBoard::apply_settings(const QDomDocument& document, bool exact_registers)
{
    if (!device)
        return SettingsReport();
    const SettingsReport report = apply_settings_document(*device, document, exact_registers);
    for (const char* name : {"nv_ethmac", "nv_radio_ethmac", "nv_serial", "chacc_channelaccessmode", "chacc_ppersistence",
                             "chacc_slottime", "chacc_rssithreshold", "chacc_bgndthreshold", "chacc_preamble",
                             "chacc_addrmatch1", "chacc_addrmatch2", "chacc_addrlength", "chacc_addr1", "chacc_addr2"})
        relay_change(name, own_signal(name));
    return report;
}

SettingsReport apply_settings_document(EvUSBBoard& board, const QDomDocument& document)
{
    return board.apply_settings(document);
}
