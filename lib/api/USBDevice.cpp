#include <korvik/USBDevice.h>
#include <korvik/BoardHolding.h>
#include <korvik/PacketArrival.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <stdexcept>
#include <vector>

#include "registry/Library.h"
#include "board/EvUSBBoard.h"
#include "board/FrameArrival.h"
#include "board/MainLoop.h"
#include "board/ParamTable.h"
#include "board/SimBoard.h"
#include "model/GreyfinModel.h"
#include "model/common/Diagnostics.h"

#include <glib.h>

namespace KORVIK {

namespace {

GreyfinModel* model_of(const EvUSBBoard* board)
{
    return board->get_model();
}

} // namespace

// Every operation that may emit a signal keeps the board busy: a slot may
// delete the last handle, and the board must outlive the operation.

USBDevice::USBDevice(EvUSBBoard* board_) : board(board_)
{
    diag() << "USBDevice::USBDevice start" << std::endl;
    board->reference();
    diag() << "USBDevice::USBDevice end" << std::endl;
}

USBDevice::~USBDevice()
{
    diag() << "USBDevice::~USBDevice start" << std::endl;
    delete param_access;
    // A simulated board exists for its handles: with the last one gone it
    // leaves the registry, or every closed simulation would stay (memory,
    // virtual-air work and results) for the life of the process. Only the
    // process-wide registry holds such boards: with none yet, nothing to do.
    Library* library = Library::existing_instance();
    if (library && (board->get_boardflags() & 1) && board->get_refcount() == 2) {
        auto entry = library->find_interface(board->get_interface());
        if (entry != library->end() && entry->second == board) {
            board->reference(); // the board outlives its disconnect slots
            library->release_board(board);
            board->unreference();
        }
    }
    board->unreference();
    diag() << "USBDevice::~USBDevice end" << std::endl;
}

// ---- Library-wide operations ----

const std::string& USBDevice::get_version()
{
    static const std::string version = "V1.4";
    return version;
}

std::list<std::string> USBDevice::get_supported_chips()
{
    std::list<std::string> names;
    for (const ChipTableEntry& row : chip_table())
        names.emplace_back(row.name);
    return names;
}

void USBDevice::set_diagnostic_sink(const sigc::slot<void(const std::string&)>& sink)
{
    if (sink.empty()) {
        KORVIK::set_diagnostic_sink(nullptr);
        return;
    }
    KORVIK::set_diagnostic_sink([sink](const std::string& line) { sink(line); });
}

USBDevice* USBDevice::open(const std::string& serial)
{
    Library* library = Library::instance();
    if (!library)
        return nullptr;
    auto entry = library->find_board_by_serial(serial);
    return entry == library->end() ? nullptr : new USBDevice(entry->second);
}

USBDevice* USBDevice::open_iface(const std::string& interface)
{
    Library* library = Library::instance();
    if (!library)
        return nullptr;
    auto entry = library->find_interface(interface);
    return entry == library->end() ? nullptr : new USBDevice(entry->second);
}

USBDevice* USBDevice::open_simulation(const std::string& serial, const std::string& display_name,
                                      const std::string& chip, const std::string& ethmac)
{
    Library* library = Library::instance();
    if (!library)
        return nullptr;
    auto entry = library->find_board_by_serial(serial);
    if (entry != library->end())
        return new USBDevice(entry->second);
    // the number is used up even when the chip name is rejected below; a
    // name some adapter already carries is skipped, or the new board could
    // not be registered
    std::string interface = library->next_sim_interface();
    while (library->find_interface(interface) != library->end())
        interface = library->next_sim_interface();
    EvUSBBoard* board = new SimBoard(serial, interface, display_name, chip, ethmac, library);
    // hold the board while the connect slots run, so that a slot cannot
    // delete it under us; the handle then keeps it
    USBDevice* handle = new USBDevice(board);
    library->add_board(board);
    return handle;
}

void USBDevice::rescan_devices()
{
    Library* library = Library::instance();
    if (!library)
        return;
    library->scan_begin();
    library->scan();
    library->scan_end();
}

std::map<std::string, std::string> get_busy_boards()
{
    Library* library = Library::instance();
    return library ? library->get_busy_adapters() : std::map<std::string, std::string>();
}

void release_unopened_boards()
{
    if (Library* library = Library::existing_instance())
        library->release_unopened_boards();
}

void USBDevice::periodic()
{
    if (!Library::instance())
        return;
    GMainContext* context = main_context()->gobj();
    // the thread that iterates the context must own it
    if (!g_main_context_acquire(context))
        return;
    // a source that is ready again after every dispatch (an idle handler that
    // stays installed, a descriptor stuck in hang-up) would keep this loop
    // going for ever; after this many rounds the caller gets control back
    // and, as get_poll_handles() then reports a zero timeout, calls again
    const int max_rounds = 1000;
    // the loop's own steps rather than g_main_context_iteration: only the
    // first round asks the kernel which descriptors are ready. A descriptor
    // that becomes ready while slots run wakes the caller's next wait; what
    // the dispatches made due by time (a delivery, an idle handler) is still
    // handled here, without a system call per round.
    thread_local std::vector<GPollFD> fds(8);
    for (int round = 0; round < max_rounds; ++round) {
        gint max_priority = 0;
        g_main_context_prepare(context, &max_priority);
        gint timeout = 0;
        gint count;
        while ((count = g_main_context_query(context, max_priority, &timeout, fds.data(), gint(fds.size()))) >
               gint(fds.size()))
            fds.resize(size_t(count));
        if (round == 0) {
            if (count > 0 && g_poll(fds.data(), guint(count), 0) < 0)
                for (gint i = 0; i < count; ++i)
                    fds[size_t(i)].revents = 0;
        } else {
            for (gint i = 0; i < count; ++i)
                fds[size_t(i)].revents = 0;
        }
        if (!g_main_context_check(context, max_priority, fds.data(), count))
            break;
        g_main_context_dispatch(context);
    }
    // the caller does not wait on what this call prepared: what changes
    // from now on is seen by its next get_poll_handles()
    note_loop_may_wait(false);
    g_main_context_release(context);
}

int USBDevice::get_poll_handles(std::vector<void*>& handles)
{
    handles.clear();
    if (!Library::instance())
        return -1;
    GMainContext* context = main_context()->gobj();
    // the thread that iterates the context must own it; when another thread
    // does, there is nothing this caller can wait for
    if (!g_main_context_acquire(context))
        return -1;
    // prepare computes the timeout of the current sources (0 when one is
    // ready); query then hands out the descriptors to wait on
    gint max_priority = 0;
    g_main_context_prepare(context, &max_priority);
    std::vector<GPollFD> fds(8);
    gint timeout = -1;
    for (;;) {
        gint needed = g_main_context_query(context, G_MAXINT, &timeout, fds.data(), gint(fds.size()));
        if (needed <= gint(fds.size())) {
            fds.resize(size_t(needed));
            break;
        }
        fds.resize(size_t(needed));
    }
    // from now on a source whose time moves earlier wakes the caller's wait
    note_loop_may_wait(true);
    g_main_context_release(context);
    for (const GPollFD& fd : fds)
        handles.push_back(reinterpret_cast<void*>(static_cast<intptr_t>(fd.fd)));
    return timeout < 0 ? -1 : timeout;
}

sigc::connection USBDevice::notify_device_connect(const sigc::slot<void(const std::string&)>& serial_slot)
{
    return notify_device_connect(Library::DeviceSlot(sigc::hide<0>(serial_slot)));
}

sigc::connection USBDevice::notify_device_connect(
    const sigc::slot<void(const std::string&, const std::string&)>& iface_serial_slot)
{
    Library* library = Library::instance();
    if (!library)
        return sigc::connection();
    return library->notify_device_connect(iface_serial_slot);
}

sigc::connection USBDevice::notify_device_disconnect(const sigc::slot<void(const std::string&)>& serial_slot)
{
    return notify_device_disconnect(Library::DeviceSlot(sigc::hide<0>(serial_slot)));
}

sigc::connection USBDevice::notify_device_disconnect(
    const sigc::slot<void(const std::string&, const std::string&)>& iface_serial_slot)
{
    Library* library = Library::instance();
    if (!library)
        return sigc::connection();
    return library->notify_device_disconnect(iface_serial_slot);
}

// ---- Identity and counters ----

std::string USBDevice::get_serial() const { return board->get_serial(); }
std::string USBDevice::get_interface() const { return board->get_interface(); }
std::string USBDevice::get_display_name() const { return board->get_display_name(); }
std::string USBDevice::get_nv_serial() const { return board->get_nv_serial(); }
const unsigned char* USBDevice::get_ethernet_mac() const { return board->get_ethernet_mac(); }
const unsigned char* USBDevice::get_radio_ethernet_mac() const { return board->get_radio_ethernet_mac(); }
const unsigned char* USBDevice::get_nv_ethernet_mac() const { return board->get_nv_ethernet_mac(); }
const unsigned char* USBDevice::get_nv_radio_ethernet_mac() const { return board->get_nv_radio_ethernet_mac(); }
unsigned int USBDevice::get_rx_pkt_count() const { return board->get_rx_pkt_count(); }
unsigned int USBDevice::get_tx_pkt_count() const { return board->get_tx_pkt_count(); }
bool USBDevice::is_transmit_cw() const { return board->is_transmit_cw(); }

// ---- Board state ----

bool USBDevice::is_dead() const { return board->is_dead(); }
bool is_nv_interrupted(const USBDevice& device) { return device.get_board()->is_nv_interrupted(); }
bool USBDevice::is_net_up() const { return board->is_net_up(); }
unsigned int USBDevice::get_boardflags() const { return board->get_boardflags(); }

// Operations that may emit keep the board busy, so that a handle deleted in
// one of its own slots outlives the operation.
#define KORVIK_BOARD_SET(name, arg_type)                          \
    void USBDevice::name(arg_type arg)                            \
    {                                                             \
        EvUSBBoard::BusyGuard busy(board);                        \
        board->name(arg);                                         \
    }

#define KORVIK_BOARD_DO(name)                                     \
    void USBDevice::name()                                        \
    {                                                             \
        EvUSBBoard::BusyGuard busy(board);                        \
        board->name();                                            \
    }

// ---- NV memory and defaults ----

KORVIK_BOARD_SET(set_nv_ethmac, const unsigned char*)
KORVIK_BOARD_SET(set_nv_radio_ethmac, const unsigned char*)
KORVIK_BOARD_SET(set_nv_serial, const std::string&)
KORVIK_BOARD_DO(load_chipoperating)
KORVIK_BOARD_DO(load_chipdefaults)
KORVIK_BOARD_DO(load_boarddefaults)
KORVIK_BOARD_DO(store_boarddefaults)

// ---- Packets and carrier ----

void USBDevice::send_packet(const unsigned char* data, unsigned int length, const unsigned char* address)
{
    EvUSBBoard::BusyGuard busy(board);
    board->send_packet(data, length, address);
}

void USBDevice::send_bpq_packet(const unsigned char* data, unsigned int length, const unsigned char* address)
{
    EvUSBBoard::BusyGuard busy(board);
    board->send_bpq_packet(data, length, address);
}

KORVIK_BOARD_SET(set_transmit_cw, bool)

// ---- Channel access ----

std::list<std::string> USBDevice::get_chacc_supported_channelaccessmodes() const
{
    return board->get_chacc_supported_channelaccessmodes();
}
int USBDevice::get_chacc_channelaccessmode() const { return board->get_chacc_channelaccessmode(); }
double USBDevice::get_chacc_ppersistence() const { return board->get_chacc_ppersistence(); }
double USBDevice::get_chacc_slottime() const { return board->get_chacc_slottime(); }
double USBDevice::get_chacc_rssithreshold() const { return board->get_chacc_rssithreshold(); }
double USBDevice::get_chacc_bgndthreshold() const { return board->get_chacc_bgndthreshold(); }
unsigned int USBDevice::get_chacc_preamble() const { return board->get_chacc_preamble(); }
double USBDevice::get_chacc_preamble_sec() const { return board->get_chacc_preamble_sec(); }
unsigned int USBDevice::get_chacc_addrlength() const { return board->get_chacc_addrlength(); }
bool USBDevice::get_chacc_addrmatch1() const { return board->get_chacc_addrmatch1(); }
bool USBDevice::get_chacc_addrmatch2() const { return board->get_chacc_addrmatch2(); }
void USBDevice::get_chacc_addr1(unsigned char* out6) const { board->get_chacc_addr1(out6); }
void USBDevice::get_chacc_addr2(unsigned char* out6) const { board->get_chacc_addr2(out6); }
KORVIK_BOARD_SET(set_chacc_channelaccessmode, int)
KORVIK_BOARD_SET(set_chacc_ppersistence, double)
KORVIK_BOARD_SET(set_chacc_slottime, double)
KORVIK_BOARD_SET(set_chacc_rssithreshold, double)
KORVIK_BOARD_SET(set_chacc_bgndthreshold, double)
KORVIK_BOARD_SET(set_chacc_preamble, unsigned char)
KORVIK_BOARD_SET(set_chacc_addrlength, unsigned char)
KORVIK_BOARD_SET(set_chacc_addrmatch1, bool)
KORVIK_BOARD_SET(set_chacc_addrmatch2, bool)
KORVIK_BOARD_SET(set_chacc_addr1, const unsigned char*)
KORVIK_BOARD_SET(set_chacc_addr2, const unsigned char*)

// ---- Board notifications ----

sigc::connection USBDevice::notify_status(const sigc::slot<void(const USBDeviceStatus&)>& slot)
{
    return board->signal_status.connect(slot);
}

sigc::connection USBDevice::notify_receive_packet(
    const sigc::slot<void(const unsigned char*, unsigned int, const unsigned char*, short, int)>& slot)
{
    return board->signal_receive.connect(slot);
}

sigc::connection USBDevice::notify_receive_packet(
    const sigc::slot<void(const unsigned char*, unsigned int, const unsigned char*)>& slot)
{
    // the short form drops rssi and frequency offset
    return board->signal_receive.connect(sigc::hide<-1>(sigc::hide<-1>(slot)));
}

sigc::connection USBDevice::notify_transmit_packet(
    const sigc::slot<void(const unsigned char*, unsigned int, const unsigned char*)>& slot)
{
    return board->signal_transmit.connect(slot);
}

#define KORVIK_BOARD_NOTIFY(name)                                                     \
    sigc::connection USBDevice::notify_changed_##name(const sigc::slot<void()>& slot) \
    {                                                                                 \
        return board->signal_changed_##name.connect(slot);                            \
    }
KORVIK_BOARD_CHANGES(KORVIK_BOARD_NOTIFY)
#undef KORVIK_BOARD_NOTIFY

// ---- Model families: without a chip model they answer neutral defaults ----

#define KORVIK_MODEL_GET(type, name, fallback)                    \
    type USBDevice::name() const                                  \
    {                                                             \
        GreyfinModel* model = model_of(board);                    \
        return model ? static_cast<type>(model->name()) : static_cast<type>(fallback);      \
    }

#define KORVIK_MODEL_GET_AT(type, name, arg_type, fallback)       \
    type USBDevice::name(arg_type arg) const                      \
    {                                                             \
        GreyfinModel* model = model_of(board);                    \
        return model ? static_cast<type>(model->name(arg)) : static_cast<type>(fallback);   \
    }

#define KORVIK_MODEL_SET(name, arg_type)                          \
    void USBDevice::name(arg_type arg)                            \
    {                                                             \
        EvUSBBoard::BusyGuard busy(board);                        \
        if (GreyfinModel* model = model_of(board))                \
            model->name(arg);                                     \
    }

#define KORVIK_MODEL_DO(name)                                     \
    void USBDevice::name()                                        \
    {                                                             \
        EvUSBBoard::BusyGuard busy(board);                        \
        if (GreyfinModel* model = model_of(board))                \
            model->name();                                        \
    }

#define KORVIK_MODEL_NOTIFY(name)                                                     \
    sigc::connection USBDevice::notify_changed_##name(const sigc::slot<void()>& slot) \
    {                                                                                 \
        GreyfinModel* model = model_of(board);                                        \
        return model ? model->signal_changed_##name.connect(slot) : sigc::connection(); \
    }

// ---- Register table ----

KORVIK_MODEL_GET(unsigned int, get_registers, 0)
KORVIK_MODEL_GET_AT(unsigned char, get_register_mask, unsigned int, 0)
KORVIK_MODEL_GET_AT(unsigned short, get_register_chipaddr, unsigned int, 0)
KORVIK_MODEL_GET_AT(unsigned short, get_register_operatingaddr, unsigned int, 0)
KORVIK_MODEL_GET_AT(unsigned char, get_register_chipvalue, unsigned int, 0)
KORVIK_MODEL_GET_AT(unsigned char, get_register_nvvalue, unsigned int, 0)
KORVIK_MODEL_GET_AT(unsigned char, get_register_defaultvalue, unsigned int, 0)
KORVIK_MODEL_GET_AT(unsigned char, get_register_changemask, unsigned int, 0)
KORVIK_MODEL_GET_AT(bool, is_register_shared, unsigned int, false)
KORVIK_MODEL_GET_AT(bool, is_register_receive, unsigned int, false)
KORVIK_MODEL_GET_AT(bool, is_register_transmit, unsigned int, false)
KORVIK_MODEL_GET_AT(std::string, get_register_name, unsigned int, "")

void USBDevice::set_register_chipvalue(unsigned int i, unsigned char v)
{
    EvUSBBoard::BusyGuard busy(board);
    if (GreyfinModel* model = model_of(board))
        model->set_register_chipvalue(i, v);
}

void USBDevice::frob_register_chipvalue(unsigned int i, unsigned char x, unsigned char clear)
{
    EvUSBBoard::BusyGuard busy(board);
    if (GreyfinModel* model = model_of(board))
        model->frob_register_chipvalue(i, x, clear);
}

// a commit's writes leave a batching board as one batch
#define KORVIK_MODEL_COMMIT(name)                                 \
    void USBDevice::name()                                        \
    {                                                             \
        EvUSBBoard::BusyGuard busy(board);                        \
        if (GreyfinModel* model = model_of(board))                \
            model->name();                                        \
        board->flush_writes();                                    \
    }
KORVIK_MODEL_COMMIT(commit_registers)
KORVIK_MODEL_COMMIT(commit_all_registers)
#undef KORVIK_MODEL_COMMIT

std::string USBDevice::debug_register_dump()
{
    GreyfinModel* model = model_of(board);
    return model ? model->debug_register_dump() : std::string();
}

// ---- Bitfield table ----

KORVIK_MODEL_GET(unsigned int, get_bitfields, 0)
KORVIK_MODEL_GET_AT(unsigned int, get_bitfield_chipvalue, unsigned int, 0)
KORVIK_MODEL_GET_AT(unsigned int, get_bitfield_nvvalue, unsigned int, 0)
KORVIK_MODEL_GET_AT(unsigned int, get_bitfield_defaultvalue, unsigned int, 0)
KORVIK_MODEL_GET_AT(unsigned int, get_bitfield_changemask, unsigned int, 0)
KORVIK_MODEL_GET_AT(unsigned int, get_bitfield_bitlength, unsigned int, 0)
KORVIK_MODEL_GET_AT(std::string, get_bitfield_name, unsigned int, "")
KORVIK_MODEL_GET_AT(std::string, get_bitfield_description, unsigned int, "")
KORVIK_MODEL_GET_AT(std::string, get_bitfield_tooltip, unsigned int, "")

void USBDevice::set_bitfield_chipvalue(unsigned int i, unsigned int value)
{
    EvUSBBoard::BusyGuard busy(board);
    if (GreyfinModel* model = model_of(board))
        model->set_bitfield_chipvalue(i, value);
}

// ---- Chip identity and capabilities ----

KORVIK_MODEL_GET(std::string, get_chip_name, "")
KORVIK_MODEL_GET(unsigned int, get_chipflags, 0)
KORVIK_MODEL_GET(unsigned int, get_xtal_frequency, 0)
KORVIK_MODEL_GET(double, get_xtal_tolerance, 0.0)
KORVIK_MODEL_GET(std::list<std::string>, get_supported_rx_btr_settings, std::list<std::string>())
KORVIK_MODEL_GET(std::list<std::string>, get_supported_modulations, std::list<std::string>())
KORVIK_MODEL_GET(std::list<std::string>, get_supported_framingmodes, std::list<std::string>())
KORVIK_MODEL_GET(std::list<std::string>, get_supported_crcmodes, std::list<std::string>())
KORVIK_MODEL_GET(unsigned int, get_supported_encodingmodes, 0)
KORVIK_MODEL_GET(USBDeviceCurrents, get_currents, USBDeviceCurrents())

// ---- Air-interface parameters ----

KORVIK_MODEL_GET(int, get_rx_modulation, 0)
KORVIK_MODEL_GET(int, get_tx_modulation, 0)
KORVIK_MODEL_GET(double, get_rx_carrierfrequency, 0.0)
KORVIK_MODEL_GET(double, get_tx_carrierfrequency, 0.0)
KORVIK_MODEL_GET(double, get_rx_bandwidth, 0.0)
KORVIK_MODEL_GET(double, get_tx_deviation, 0.0)
KORVIK_MODEL_GET(double, get_rx_bitrate, 0.0)
KORVIK_MODEL_GET(double, get_tx_bitrate, 0.0)
KORVIK_MODEL_GET(int, get_rx_btr, 0)
KORVIK_MODEL_GET(int, get_rx_btr_preamble, 0)
KORVIK_MODEL_GET(double, get_tx_power, 0.0)
KORVIK_MODEL_GET(unsigned int, get_rx_range, 0)
KORVIK_MODEL_GET(unsigned int, get_tx_range, 0)
KORVIK_MODEL_GET(double, get_rx_maxfrequencyoffset, 0.0)
KORVIK_MODEL_GET_AT(double, convert_frequencyoffset, int, 0.0)
KORVIK_MODEL_GET(double, get_iffrequency, 0.0)
// the lowest int: no AGC reference known
KORVIK_MODEL_GET(int, get_agcreference, INT32_MIN)
KORVIK_MODEL_GET(int, get_framingmode, 0)
KORVIK_MODEL_GET(bool, get_enc_invert, false)
KORVIK_MODEL_GET(bool, get_enc_diff, false)
KORVIK_MODEL_GET(bool, get_enc_scrambler, false)
KORVIK_MODEL_GET(bool, get_enc_manchester, false)
KORVIK_MODEL_GET(int, get_crcmode, 0)
KORVIK_MODEL_GET(unsigned int, get_crcinit, 0)
KORVIK_MODEL_GET(unsigned int, get_crclength, 0)
// the usual key-up pattern (alternating bits)
KORVIK_MODEL_GET(unsigned char, get_txkeyup, 0x55)
KORVIK_MODEL_GET(unsigned int, get_txkeyup_length, 0)
KORVIK_MODEL_GET(unsigned int, get_preamble, 0)
KORVIK_MODEL_GET(unsigned int, get_preamble_length, 0)
KORVIK_MODEL_GET(unsigned int, get_postamble_length, 0)

KORVIK_MODEL_GET_AT(bool, is_modulation_shaped, int, false)
KORVIK_MODEL_GET_AT(bool, is_modulation_ask, int, false)
KORVIK_MODEL_GET_AT(bool, is_modulation_psk, int, false)
KORVIK_MODEL_GET_AT(bool, is_modulation_fsk, int, false)
KORVIK_MODEL_GET_AT(bool, is_modulation_4fsk, int, false)
KORVIK_MODEL_GET(bool, is_framingmode_raw, false)
KORVIK_MODEL_GET(bool, is_framingmode_rawsoft, false)
KORVIK_MODEL_GET(bool, is_framingmode_rawpreamblematch, false)
KORVIK_MODEL_GET(bool, is_framingmode_hdlc, false)
KORVIK_MODEL_GET(bool, is_framingmode_hdlc_fec, false)
KORVIK_MODEL_GET(bool, is_framingmode_zigbee, false)
KORVIK_MODEL_GET(bool, is_framingmode_zigbee_900, false)
KORVIK_MODEL_GET(bool, is_framingmode_zigbee_2g4, false)
KORVIK_MODEL_GET(bool, is_framingmode_wiremode, false)
KORVIK_MODEL_GET(bool, is_framingmode_crcsupported, false)
KORVIK_MODEL_GET(bool, is_crcmode_ccitt, false)
KORVIK_MODEL_GET(bool, is_crcmode_crc16, false)
KORVIK_MODEL_GET(bool, is_crcmode_dnp, false)
KORVIK_MODEL_GET(bool, is_crcmode_crc32, false)

KORVIK_MODEL_SET(set_xtal_frequency, unsigned int)
KORVIK_MODEL_SET(set_xtal_tolerance, double)

void USBDevice::set_rx(double bandwidth, double bitrate, int modulation, int btr)
{
    EvUSBBoard::BusyGuard busy(board);
    // the facade always derives the bandwidth from the bitrate
    if (GreyfinModel* model = model_of(board))
        model->set_rx(bandwidth, bitrate, modulation, true, btr);
}

void USBDevice::set_tx(double deviation, double bitrate, int modulation)
{
    EvUSBBoard::BusyGuard busy(board);
    // the facade always derives the deviation from the bitrate
    if (GreyfinModel* model = model_of(board))
        model->set_tx(deviation, bitrate, modulation, true);
}

KORVIK_MODEL_SET(set_rx_modulation, int)
KORVIK_MODEL_SET(set_tx_modulation, int)
KORVIK_MODEL_SET(set_rx_carrierfrequency, double)
KORVIK_MODEL_SET(set_tx_carrierfrequency, double)
KORVIK_MODEL_SET(set_rx_bandwidth, double)
KORVIK_MODEL_SET(set_tx_deviation, double)
KORVIK_MODEL_SET(set_rx_bitrate, double)
KORVIK_MODEL_SET(set_tx_bitrate, double)
KORVIK_MODEL_SET(set_rx_btr, int)
KORVIK_MODEL_SET(set_tx_power, double)
KORVIK_MODEL_SET(step_tx_power, int)
KORVIK_MODEL_SET(set_rx_range, unsigned int)
KORVIK_MODEL_SET(set_tx_range, unsigned int)
KORVIK_MODEL_SET(set_iffrequency, double)
KORVIK_MODEL_SET(set_framingmode, int)
KORVIK_MODEL_SET(set_enc_invert, bool)
KORVIK_MODEL_SET(set_enc_diff, bool)
KORVIK_MODEL_SET(set_enc_scrambler, bool)
KORVIK_MODEL_SET(set_enc_manchester, bool)
KORVIK_MODEL_SET(set_crcmode, int)
KORVIK_MODEL_SET(set_crcinit, unsigned int)
KORVIK_MODEL_SET(set_preamble, unsigned int)
KORVIK_MODEL_SET(set_preamble_length, unsigned int)

// ---- Model notifications ----

KORVIK_CHIP_CHANGES(KORVIK_MODEL_NOTIFY)

sigc::connection USBDevice::notify_terminate_autoranging(const sigc::slot<void(int, int)>& slot)
{
    GreyfinModel* model = model_of(board);
    return model ? model->signal_terminate_autoranging.connect(slot) : sigc::connection();
}

sigc::connection USBDevice::notify_changed_register(
    const sigc::slot<void(unsigned int, unsigned char, unsigned char)>& slot)
{
    GreyfinModel* model = model_of(board);
    return model ? model->signal_changed_register.connect(slot) : sigc::connection();
}

sigc::connection USBDevice::notify_changed_bitfield(const sigc::slot<void(unsigned int, unsigned int)>& slot)
{
    GreyfinModel* model = model_of(board);
    return model ? model->signal_changed_bitfield.connect(slot) : sigc::connection();
}

#undef KORVIK_MODEL_GET
#undef KORVIK_MODEL_GET_AT
#undef KORVIK_MODEL_SET
#undef KORVIK_MODEL_NOTIFY
#undef KORVIK_MODEL_DO
#undef KORVIK_BOARD_SET
#undef KORVIK_BOARD_DO

// ---- Registers by name ----

std::string USBDevice::get_register_label(unsigned int i) const
{
    const GreyfinModel* m = model_of(board);
    if (!m || i >= m->get_registers())
        return "";
    const std::string name = m->get_register_name(i);
    for (unsigned k = 0; k < m->get_registers(); ++k) {
        if (k != i && m->get_register_name(k) == name) {
            char at[16];
            std::snprintf(at, sizeof at, "@0x%03x", unsigned(m->get_register_operatingaddr(i)));
            return name + at;
        }
    }
    return name;
}

int USBDevice::find_register(const std::string& name) const
{
    const GreyfinModel* m = model_of(board);
    if (!m)
        return -1;
    const auto at = name.find('@');
    const std::string bare = name.substr(0, at);
    long address = -1;
    if (at != std::string::npos) {
        const std::string digits = name.substr(at + 1);
        char* end = nullptr;
        address = digits.empty() ? -1 : std::strtol(digits.c_str(), &end, 0);
        if (address < 0 || !end || *end)
            throw std::invalid_argument("'" + name + "' is not NAME@0xADDRESS");
    }
    std::vector<unsigned> found;
    for (unsigned i = 0; i < m->get_registers(); ++i)
        if (m->get_register_name(i) == bare && (address < 0 || m->get_register_operatingaddr(i) == address))
            found.push_back(i);
    if (found.size() > 1) {
        std::string choices;
        for (unsigned i : found) {
            char at_text[16];
            std::snprintf(at_text, sizeof at_text, "@0x%03x", unsigned(m->get_register_operatingaddr(i)));
            choices += (choices.empty() ? "" : " or ") + bare + at_text;
        }
        throw std::invalid_argument("register name '" + bare + "' is ambiguous: say " + choices);
    }
    return found.empty() ? -1 : int(found.front());
}

// ---- Parameters by name ----

ParamAccess& USBDevice::params() const
{
    if (!param_access)
        param_access = new ParamAccess(*board);
    return *param_access;
}

const std::vector<ParamInfo>& USBDevice::get_param_table()
{
    return param_infos();
}

const ParamInfo* USBDevice::find_param(const std::string& name)
{
    const std::vector<ParamInfo>& table = param_infos();
    for (const ParamInfo& i : table)
        if (name == i.name)
            return &i;
    return nullptr;
}

bool USBDevice::has_param(const std::string& name) const
{
    return params().has(name);
}

ParamValue USBDevice::get_param(const std::string& name) const
{
    return params().get(name);
}

void USBDevice::set_param(const std::string& name, const ParamValue& value)
{
    EvUSBBoard::BusyGuard busy(board);
    params().set(name, value);
}

ParamLimits USBDevice::get_param_limits(const std::string& name) const
{
    return params().limits(name);
}

ParamValue USBDevice::get_param_achieved(const std::string& name, const ParamValue& value) const
{
    return params().achieved(name, value);
}

ParamReport USBDevice::apply_params(const std::vector<ParamAssignment>& assignments, ParamPolicy policy)
{
    EvUSBBoard::BusyGuard busy(board);
    return params().apply(assignments, policy);
}

ParamReport USBDevice::check_params(const std::vector<ParamAssignment>& assignments, ParamPolicy policy) const
{
    return params().apply(assignments, policy, ParamAccess::Mode::check);
}

ParamReport USBDevice::set_params(const std::vector<ParamAssignment>& assignments, ParamPolicy policy)
{
    EvUSBBoard::BusyGuard busy(board);
    return params().apply(assignments, policy, ParamAccess::Mode::set);
}

sigc::connection USBDevice::notify_changed_param(const std::string& name, const sigc::slot<void()>& slot)
{
    const ParamRow* row = find_param_row(name);
    if (!row)
        throw std::invalid_argument("unknown parameter '" + name + "'");
    sigc::signal<void()>* signal = row->signal ? row->signal(*board) : nullptr;
    return signal ? signal->connect(slot) : sigc::connection();
}

int64_t get_packet_arrival_time()
{
    // here, beside the device class, so that every program linking the
    // static library gets it with the class
    const int64_t t = current_frame_arrival();
    return t ? t : g_get_monotonic_time();
}

} // namespace KORVIK
