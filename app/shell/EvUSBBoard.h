#pragma once

#include <cstdint>
#include <functional>
#include <list>

#include <QObject>
#include <QString>

#include <QDomDocument>

#include <sigc++/connection.h>

#include <korvik/USBDeviceStatus.h>

#include "shell/BoardState.h"
#include "shell/GFBitfieldModel.h"
#include "shell/GFRegisterModel.h"

namespace KORVIK {
class USBDevice;
}
struct SettingsReport;
class QUndoStack;

typedef KORVIK::USBDeviceStatus EvUSBHIDStatus;
Q_DECLARE_METATYPE(EvUSBHIDStatus)

// The program's side of one listed board: owns the library handle, relays the
// library's notifications as Qt signals and owns the board's table models. It
// builds no window: it asks for them with the *_requested signals, which the
// program's window layer answers.
class EvUSBBoard : public QObject {
    Q_OBJECT
public:
    // What a code window shows.
    enum CodeTarget { TargetRC800, TargetSPI, TargetEvalboard, TargetRegisterDump };

    // `owner` takes over a removed board whose deferred deletion the event
    // loop never reached; it is not the parent.
    EvUSBBoard(QObject* owner, KORVIK::USBDevice* device);
    ~EvUSBBoard() override;

    KORVIK::USBDevice* get_device() const { return device; }
    GFRegisterModel* register_model() { return &registermodel; }
    GFBitfieldModel* bitfield_model() { return &bitfieldmodel; }
    bool is_removed() const { return removed; }

    // The library reported that the board has gone.
    void board_removed();

    // Applies a settings document and refreshes the views of the values it
    // may have set (identity and channel access have no change notification).
    SettingsReport apply_settings(const QDomDocument& document, bool exact_registers = false);

    // The board's history: every change a user makes goes on this stack.
    QUndoStack* undo_stack() const { return history; }
    // Runs `change` as one undoable step named `text`; a step inside a step
    // belongs to the outer one. Nothing is recorded when nothing changed.
    void record(const QString& text, const std::function<void()>& change);
    // The crystal, channel-access or identity settings, which a store writes
    // beside the registers, differ from the ones last stored or loaded.
    bool stored_settings_differ() const;

Q_SIGNALS:
    void delete_subwindows();
    // the board leaves the list (removed or deleted)
    void leaving();
    void packet_counts_changed();
    void code_window_requested(int target, uint snippet, QString text);
    void file_dialog_requested(bool save);
    void message_requested(QString caption, QString text);
    // a short note on what was done, for a status bar
    void status_message(QString text);
    void update_hid_status(EvUSBHIDStatus status);
    void new_packet(const uint8_t* pkt, uint pktlen, const uint8_t* macaddr, int16_t rssi, int32_t freqoffset);
    void new_transmit_packet(const uint8_t* pkt, uint pktlen, const uint8_t* macaddr);
    // Every value-less change notification of the library, by its name in
    // korvik/ChangeList.h (a parameter row's `notification`): a notification
    // the library adds arrives here without a signal of its own. The older
    // ones below are also relayed under their own names.
    void changed(const QString& notification);
    void changed_nv_ethmac();
    void changed_nv_radio_ethmac();
    void changed_nv_serial();
    void changed_chacc_channelaccessmode();
    void changed_chacc_ppersistence();
    void changed_chacc_slottime();
    void changed_chacc_rssithreshold();
    void changed_chacc_bgndthreshold();
    void changed_chacc_preamble();
    void changed_chacc_addrmatch1();
    void changed_chacc_addrmatch2();
    void changed_chacc_addrlength();
    void changed_chacc_addr1();
    void changed_chacc_addr2();
    void changed_transmit_cw();
    void changed_xtal_frequency();
    void changed_xtal_tolerance();
    void changed_rx_modulation();
    void changed_tx_modulation();
    void changed_rx_carrierfrequency();
    void changed_tx_carrierfrequency();
    void changed_rx_bandwidth();
    void changed_tx_deviation();
    void changed_rx_bitrate();
    void changed_tx_bitrate();
    void changed_rx_btr();
    void changed_tx_power();
    void changed_iffrequency();
    void changed_framingmode();
    void changed_enc_invert();
    void changed_enc_diff();
    void changed_enc_scrambler();
    void changed_enc_manchester();
    void changed_crcmode();
    void changed_crcinit();
    void changed_preamble();
    void changed_preamble_length();
    void terminate_autoranging(int rxrange, int txrange);
    void changed_packetcounters();
    // many values changed at once (undo, redo, a load): every view reads the
    // board again, focused fields included
    void settings_replaced();

public Q_SLOTS:
    void load_chipoperating();
    void load_chipdefaults();
    void load_boarddefaults();
    void store_boarddefaults();
    void set_nv_ethmac(const uint8_t* macaddr);
    void set_nv_radio_ethmac(const uint8_t* macaddr);
    void set_nv_serial(QString ser);
    void set_chacc_channelaccessmode(int m);
    void set_chacc_ppersistence(double pp);
    void set_chacc_slottime(double s);
    void set_chacc_rssithreshold(double s);
    void set_chacc_bgndthreshold(double s);
    void set_chacc_preamble(uint8_t t);
    void set_chacc_addrlength(uint8_t t);
    void set_chacc_addrmatch1(bool am);
    void set_chacc_addrmatch2(bool am);
    void set_chacc_addr1(const uint8_t* mac);
    void set_chacc_addr2(const uint8_t* mac);
    void set_transmit_cw(bool cwtx);
    void set_transmit_cw();
    void set_xtal_frequency(uint32_t freq);
    void set_xtal_frequency();
    void set_xtal_tolerance(double tol);
    void set_xtal_tolerance();
    void set_rx(double bw, double br, int mod, int btr);
    void set_tx(double dev, double br, int mod);
    void set_rx_modulation(int mod);
    void set_tx_modulation(int mod);
    void set_rx_carrierfrequency(double f);
    void set_tx_carrierfrequency(double f);
    void set_rx_bandwidth(double bw);
    void set_tx_deviation(double dev);
    void set_rx_bitrate(double b);
    void set_tx_bitrate(double b);
    void set_rx_btr(int btr);
    void set_tx_power(double dbm);
    void step_tx_power(int steps);
    void set_rx_range(uint range);
    void set_tx_range(uint range);
    void set_iffrequency(double f);
    void set_framingmode(int m);
    void set_enc_invert(bool x);
    void set_enc_diff(bool x);
    void set_enc_scrambler(bool x);
    void set_enc_manchester(bool x);
    void set_crcmode(int m);
    void set_crcinit(uint32_t x);
    void set_preamble(uint32_t x);
    void set_preamble_length(uint32_t x);
    void open_rc800_code_snippet_window(uint snippet);
    void open_rc800_code_snippet_window();
    void open_code_snippet_window(uint snippet);
    void open_code_snippet_window();
    void open_evalboard_code_snippet_window();
    void debug_register_dump();
    void message_box(QString caption, QString text);
    void save_file();
    void load_file();
    void save_file(QString filename);
    void load_file(QString filename);

private:
    // Emits `changed` and the notification's own signal, where it has one.
    void relay_change(const char* notification, int own);
    /// The index of the notification's own signal (changed_<name>), or -1;
    /// looked up once per relay, not per notification.
    int own_signal(const char* notification) const;

    QObject* owner;
    KORVIK::USBDevice* device;
    GFRegisterModel registermodel;
    GFBitfieldModel bitfieldmodel;
    bool removed = false;
    std::list<sigc::connection> subscriptions;
    QUndoStack* history;
    int recording = 0;
    // what stored_settings_differ compares with (registers left out: their
    // stored values are the device's own)
    DeviceState stored;
    void remember_stored();
};

// Tests and older callers apply documents through this name.
SettingsReport apply_settings_document(EvUSBBoard& board, const QDomDocument& document);
