#pragma once

#include <vector>

#include <QFileDialog>
#include <QItemSelection>
#include <QMainWindow>
#include <QPointer>

#include "ui/SpinBoxDelegate.h"

class BoardList;
class EvUSBBoard;
class QAbstractSpinBox;
class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QLineEdit;
class QSpinBox;
class QWidget;

namespace KORVIK {
class USBDevice;
}

namespace Ui {
class MainWindow;
}

// The editing surface: board list on the left, the selected board's air
// parameters, registers and bitfields on the right. Holds no values of its
// own; every field is re-read from the device after each change.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(QObject* application = nullptr, QWidget* parent = nullptr);
    ~MainWindow() override;

    void set_board_model(BoardList* model);
    void resize_devicelist();
    EvUSBBoard* get_current_board() const;
    void set_board(EvUSBBoard* board);

Q_SIGNALS:
    // what the program does for the window: rescan the boards, simulate a
    // board from a settings file or of a chip type, open the handbook
    void rescan_requested();
    void simulate_file_requested(QString filename);
    void simulate_chip_requested(QString chip);
    void assistant_requested();

public Q_SLOTS:
    virtual void devicelist_selection_changed(const QItemSelection& selected, const QItemSelection& deselected);
    virtual void quit();
    virtual void refresh();
    void simulate_board();
    void simulate_board(QString filename);
    void simulate_new_board(QString chip);
    void click_loadchipdefaults(bool checked = false);
    void click_loadboarddefaults(bool checked = false);
    void click_saveboarddefaults(bool checked = false);
    void click_device_generateinterfacemac(bool checked = false);
    void click_device_generateradiomac(bool checked = false);
    void click_device_generatemacs(bool checked = false);
    void click_radio_copytxtorx(bool checked = false);
    void click_radio_copyrxtotx(bool checked = false);

    void valchanged_radio_rxmodulation(int index);
    void valchanged_radio_txmodulation(int index);
    void valchanged_radio_rxfreq(double mhz);
    void valchanged_radio_txfreq(double mhz);
    void valchanged_radio_rxh(double h);
    void valchanged_radio_txh(double h);
    void valchanged_radio_rxbandwidth(double khz);
    void valchanged_radio_txhalfdev(double khz);
    void valchanged_radio_rxbitrate(double kbps);
    void valchanged_radio_txbitrate(double kbps);
    void valchanged_radio_rxbtr(int index);
    void valchanged_radio_txpower(double dbm);
    void valchanged_radio_txpower_stepby(int step);
    void valchanged_radio_iffreq(double mhz);
    void valchanged_radio_xtal_frequency(double mhz);
    void valchanged_radio_xtal_tolerance(double ppm);
    void valchanged_framing_mode(int index);
    void valchanged_framing_invert(int state);
    void valchanged_framing_diff(int state);
    void valchanged_framing_scrambler(int state);
    void valchanged_framing_manchester(int state);
    void valchanged_framing_crcmode(int index);
    void valchanged_framing_crcinit(QString text);
    void valchanged_framing_preamblelength(int bits);
    void valchanged_framing_preamblepattern(QString text);

    void changed_radio_rx_modulation();
    void changed_radio_tx_modulation();
    void changed_radio_rx_carrierfrequency();
    void changed_radio_tx_carrierfrequency();
    void changed_radio_rx_bandwidth();
    void changed_radio_rx_bitrate();
    void changed_radio_tx_deviation();
    void changed_radio_tx_bitrate();
    void changed_radio_rx_btr();
    void changed_radio_tx_power();
    void changed_radio_iffrequency();
    void changed_radio_xtal_frequency();
    void changed_radio_xtal_tolerance();
    void changed_radio_framingmode();
    void changed_radio_enc_invert();
    void changed_radio_enc_diff();
    void changed_radio_enc_scrambler();
    void changed_radio_enc_manchester();
    void changed_radio_crcmode();
    void changed_radio_crcinit();
    void changed_radio_preamble();
    void changed_radio_preamble_length();

    void valchanged_chacc_channelacc(int index);
    void valchanged_chacc_ppersist(double p);
    void valchanged_chacc_slottime(int ms);
    void valchanged_chacc_rssithreshold(double dbm);
    void valchanged_chacc_bgndthreshold(double db);
    void valchanged_chacc_preamble(int bits);
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

    void valchanged_usbserial(QString text);
    void valchanged_interfacemac(QString text);
    void valchanged_radiomac(QString text);
    void changed_ethmac();
    void changed_radio_ethmac();
    void changed_serial();
    void valchanged_framing_addresslength(int n);
    void valchanged_framing_addressmatch1(int state);
    void valchanged_framing_addressmatch2(int state);
    void valchanged_framing_address1(QString text);
    void valchanged_framing_address2(QString text);
    void click_framing_address1radiomac(bool checked = false);
    void click_framing_address2radiomac(bool checked = false);

private Q_SLOTS:
    void action_about();
    void open_rc800_code_snippet_straight_window();
    void open_rc800_code_snippet_table_window();
    void open_rc800_code_snippet_bursttable_window();
    void open_code_snippet_straight_window();
    void open_code_snippet_table_window();
    void open_code_snippet_bursttable_window();

private:
    /// Writes one setting through the device, commits, and refreshes the
    /// field from what the chip now holds.
    template <typename Write>
    void write_device(Write&& write, void (MainWindow::*refresh)());

    KORVIK::USBDevice* device() const;
    void connect_edits();
    void refresh_all();
    void update_framing_warning();
    void apply_addressmatch_enabling(bool hdlc);
    void update_preamble_ms();
    void generate_mac(bool interface_mac, bool radio_mac);
    double rx_modulation_factor() const;
    using Refresh = void (MainWindow::*)();
    bool deferred(Refresh refresh);
    void settle(QAbstractSpinBox* field, Refresh refresh);

    static void set_silently(QCheckBox* w, bool checked);
    static void set_silently(QComboBox* w, int index);
    void set_silently(QDoubleSpinBox* w, double value);
    static void set_silently(QSpinBox* w, int value);
    static void set_silently(QLineEdit* w, const QString& text);
    static void set_silently_mask(QLineEdit* w, const QString& mask);
    static void set_silently_enabled(QWidget* w, bool enabled);
    static void set_silently_visible(QWidget* w, bool visible);

    QObject* application;
    Ui::MainWindow* ui;
    QPointer<EvUSBBoard> current_board;
    BoardList* boardlist = nullptr;
    bool updating = false;
    std::vector<Refresh> deferred_refreshes; // refreshes held back while updating
    QAbstractSpinBox* editing_field = nullptr;
    SpinBoxDelegate register_delegate;
    SpinBoxDelegate bitfield_delegate;
    std::vector<QMetaObject::Connection> action_connections;

    friend class UpdatingGuard;
};

// Entry of "New Chip Settings": remembers its chip name.
class MainWindowSimNewDeviceBind : public QObject {
    Q_OBJECT
public:
    MainWindowSimNewDeviceBind(MainWindow* window, const QString& chip);

public Q_SLOTS:
    void simulate_new_board();

private:
    MainWindow* window;
    QString chip;
};

// Non-modal file chooser for opening a chip settings file as a simulated board.
class MainWindowFileDialog : public QFileDialog {
    Q_OBJECT
public:
    MainWindowFileDialog(MainWindow* window, bool new_file);

public Q_SLOTS:
    void quit();

private Q_SLOTS:
    void filedialog_ok();

private:
    QPointer<MainWindow> window;
};
