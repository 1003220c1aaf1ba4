#include "ui/MainWindow.h"

#include <algorithm>
#include <cmath>
#include <iostream>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QSpinBox>
#include <QTableView>
#include <QWhatsThis>

#include <korvik/USBDevice.h>

#include "shell/BoardList.h"
#include "shell/EvUSBBoard.h"
#include "core/HexBytes.h"
#include "ui/SettingsFileDialog.h"
#include "ui/AboutDialog.h"
#include "ui/StepNotifySpinBox.h"
#include "ui/TxPowerSpinBox.h"
#include "ui_MainWindow.h"

// Marks a numeric edit in progress, so the device's change notifications do
// not rewrite the field under the user's typing. Cleared even when the
// library throws, or every later refresh would be skipped.
class UpdatingGuard {
public:
    explicit UpdatingGuard(MainWindow* w) : window(w) { window->updating = true; }
    ~UpdatingGuard() { window->updating = false; }
    UpdatingGuard(const UpdatingGuard&) = delete;
    UpdatingGuard& operator=(const UpdatingGuard&) = delete;

private:
    MainWindow* window;
};

namespace {

void fill_combo(QComboBox* combo, const std::list<std::string>& items)
{
    for (const std::string& item : items)
        combo->addItem(QString::fromStdString(item));
}

QString hex_padded(unsigned int value, int digits)
{
    return QStringLiteral("%1").arg(value, digits, 16, QLatin1Char('0')).toUpper();
}

} // namespace

MainWindow::MainWindow(QObject* application_, QWidget* parent)
    : QMainWindow(parent), application(application_), ui(new Ui::MainWindow)
{
    ui->setupUi(this);

    ui->devicelist->verticalHeader()->hide();
    ui->devicelist->setSelectionBehavior(QAbstractItemView::SelectRows);
    ui->devicelist->setSelectionMode(QAbstractItemView::SingleSelection);
    ui->registertable->verticalHeader()->hide();
    ui->bitfieldtable->verticalHeader()->hide();
    ui->registertable->setItemDelegate(&register_delegate);
    ui->bitfieldtable->setItemDelegate(&bitfield_delegate);
    // compact rows: the register and bitfield lists are long
    const int row_height = fontMetrics().height() + 6;
    for (QTableView* table : {ui->devicelist, ui->registertable, ui->bitfieldtable})
        table->verticalHeader()->setDefaultSectionSize(row_height);
    ui->bitfieldtable->horizontalHeader()->setStretchLastSection(true);
    ui->radio_txpower->step_handler = [this](int steps) { valchanged_radio_txpower_stepby(steps); };
    // the CRC and sync word rows come and go with the framing mode; keep the
    // caption column as wide as its widest caption so the mode box stays put
    int caption_width = 0;
    for (QWidget* caption : std::initializer_list<QWidget*>{ui->framing_modelabel, ui->framing_crclabel, ui->framing_preamblelabel})
        caption_width = std::max(caption_width, caption->sizeHint().width());
    ui->framingparamslayout->setColumnMinimumWidth(0, caption_width);
    ui->splitter->setStretchFactor(1, 1);
    ui->splitter->setSizes({335, 600});

    connect(ui->actionQuit, &QAction::triggered, this, &MainWindow::quit);
    connect(ui->actionRefresh, &QAction::triggered, this, &MainWindow::refresh);
    connect(ui->actionSimulateFile, &QAction::triggered, this, qOverload<>(&MainWindow::simulate_board));
    connect(ui->actionHandbook, &QAction::triggered, this, &MainWindow::assistant_requested);
    connect(ui->actionAbout, &QAction::triggered, this, &MainWindow::action_about);
    connect(ui->loadchipdefaults, &QPushButton::clicked, this, &MainWindow::click_loadchipdefaults);
    connect(ui->loadboarddefaults, &QPushButton::clicked, this, &MainWindow::click_loadboarddefaults);
    connect(ui->saveboarddefaults, &QPushButton::clicked, this, &MainWindow::click_saveboarddefaults);
    connect_edits();

    ui->edittabs->setEnabled(false);
    for (QMenu* menu : {ui->menuRC800CodeSnippets, ui->menuCodeSnippets})
        menu->setEnabled(false);
    for (QAction* a : {ui->actionRC800CodeSnippetsStraight, ui->actionRC800CodeSnippetsTable,
                       ui->actionRC800CodeSnippetsBurstTable, ui->actionCodeSnippetsStraight,
                       ui->actionCodeSnippetsTable, ui->actionCodeSnippetsBurstTable,
                       ui->actionEvalboardCodeSnippets, ui->actionDebugRegisterDump, ui->actionLoadFile,
                       ui->actionSaveFile})
        a->setEnabled(false);
    ui->actionSimulateFile->setEnabled(true);

    QAction* whatsthis = QWhatsThis::createAction(this);
    // our own picture: a desktop theme's would look foreign beside the other menu icons
    whatsthis->setIcon(QIcon(QStringLiteral(":/images/contexthelp.png")));
    const QList<QAction*> helpentries = ui->menuHelp->actions();
    if (helpentries.size() >= 2)
        ui->menuHelp->insertAction(helpentries.at(1), whatsthis);
    else
        ui->menuHelp->addAction(whatsthis);

    ui->menuSimulateDevice->clear();
    for (const std::string& name : KORVIK::USBDevice::get_supported_chips()) {
        const QString chip = QString::fromStdString(name);
        QAction* entry = ui->menuSimulateDevice->addAction(chip);
        auto* bind = new MainWindowSimNewDeviceBind(this, chip);
        connect(entry, &QAction::triggered, bind, &MainWindowSimNewDeviceBind::simulate_new_board);
    }

    // the channel-access and device pages stay built and refreshed, but hidden
    for (int page : {3, 2}) {
        QWidget* w = ui->edittabs->widget(page);
        w->setEnabled(false);
        w->hide();
        ui->edittabs->removeTab(page);
    }

    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_QuitOnClose);
    update_framing_warning();
}

MainWindow::~MainWindow()
{
    set_board(nullptr);
    if (boardlist)
        boardlist->clear();
    // snippet windows and dialogs go with the main window
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w != this && w->isVisible())
            w->close();
    delete ui;
}

EvUSBBoard* MainWindow::get_current_board() const
{
    return current_board;
}

KORVIK::USBDevice* MainWindow::device() const
{
    return current_board ? current_board->get_device() : nullptr;
}

void MainWindow::set_board_model(BoardList* model)
{
    boardlist = model;
    QItemSelectionModel* old = ui->devicelist->selectionModel();
    ui->devicelist->setModel(model);
    delete old;
    connect(ui->devicelist->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &MainWindow::devicelist_selection_changed);
    // a board that leaves the list while selected must not stay wired to the window
    connect(model, &QAbstractItemModel::rowsRemoved, this, [this]() {
        if (current_board && boardlist && boardlist->row_of(current_board) < 0)
            set_board(nullptr);
        // a long name that left must not keep its column wide
        resize_devicelist();
    });
    ui->devicelist->resizeColumnsToContents();
}

void MainWindow::resize_devicelist()
{
    ui->devicelist->resizeColumnsToContents();
    ui->devicelist->resizeRowsToContents();
}

void MainWindow::devicelist_selection_changed(const QItemSelection&, const QItemSelection&)
{
    EvUSBBoard* found = nullptr;
    int count = 0;
    if (boardlist && ui->devicelist->selectionModel()) {
        for (const QModelIndex& index : ui->devicelist->selectionModel()->selectedIndexes()) {
            if (index.column() != 0)
                continue;
            if (EvUSBBoard* board = boardlist->board_at(index.row())) {
                if (++count == 2)
                    std::cerr << "MainWindow::devicelist_selection_changed: multiple selection??" << std::endl;
                found = board;
            }
        }
    }
    set_board(found);
    if (found && found->get_device())
        std::cerr << "MainWindow::devicelist_selection_changed: device " << found->get_device()->get_serial()
                  << " selected" << std::endl;
    else
        std::cerr << "MainWindow::devicelist_selection_changed: no device selected" << std::endl;
}

void MainWindow::set_board(EvUSBBoard* board)
{
    if (board == current_board)
        return;
    if (current_board) {
        ui->registertable->setModel(nullptr);
        ui->bitfieldtable->setModel(nullptr);
        disconnect(current_board, nullptr, this, nullptr);
    }
    for (const QMetaObject::Connection& c : action_connections)
        disconnect(c);
    action_connections.clear();

    updating = false;
    deferred_refreshes.clear();
    current_board = board;

    for (QComboBox* combo : {ui->radio_rxmodulation, ui->radio_txmodulation, ui->radio_rxbtr, ui->framing_mode,
                             ui->framing_crcmode, ui->chacc_channelacc})
        combo->clear();
    QAction* const snippet_actions[] = {ui->actionRC800CodeSnippetsStraight, ui->actionRC800CodeSnippetsTable,
                                        ui->actionRC800CodeSnippetsBurstTable, ui->actionCodeSnippetsStraight,
                                        ui->actionCodeSnippetsTable, ui->actionCodeSnippetsBurstTable};
    ui->menuRC800CodeSnippets->setEnabled(false);
    ui->menuCodeSnippets->setEnabled(false);
    for (QAction* a : snippet_actions)
        a->setEnabled(false);
    for (QAction* a : {ui->actionEvalboardCodeSnippets, ui->actionDebugRegisterDump, ui->actionLoadFile, ui->actionSaveFile})
        a->setEnabled(false);

    KORVIK::USBDevice* dev = device();
    if (!dev) {
        ui->edittabs->setEnabled(false);
        update_framing_warning();
        return;
    }

    ui->registertable->setModel(board->register_model());
    ui->registertable->resizeColumnsToContents();
    ui->bitfieldtable->setModel(board->bitfield_model());
    ui->bitfieldtable->resizeColumnsToContents();

    const std::list<std::string> modulations = dev->get_supported_modulations();
    fill_combo(ui->radio_rxmodulation, modulations);
    fill_combo(ui->radio_txmodulation, modulations);
    fill_combo(ui->radio_rxbtr, dev->get_supported_rx_btr_settings());
    fill_combo(ui->framing_mode, dev->get_supported_framingmodes());
    fill_combo(ui->framing_crcmode, dev->get_supported_crcmodes());
    fill_combo(ui->chacc_channelacc, dev->get_chacc_supported_channelaccessmodes());

    const unsigned int enc = dev->get_supported_encodingmodes();
    ui->framing_invert->setEnabled(enc & 1);
    ui->framing_diff->setEnabled(enc & 2);
    ui->framing_scrambler->setEnabled(enc & 4);
    ui->framing_manchester->setEnabled(enc & 8);

    EvUSBBoard* b = board;
    connect(b, &EvUSBBoard::changed_nv_ethmac, this, &MainWindow::changed_ethmac);
    connect(b, &EvUSBBoard::changed_nv_radio_ethmac, this, &MainWindow::changed_radio_ethmac);
    connect(b, &EvUSBBoard::changed_nv_serial, this, &MainWindow::changed_serial);
    connect(b, &EvUSBBoard::changed_chacc_channelaccessmode, this, &MainWindow::changed_chacc_channelaccessmode);
    connect(b, &EvUSBBoard::changed_chacc_ppersistence, this, &MainWindow::changed_chacc_ppersistence);
    connect(b, &EvUSBBoard::changed_chacc_slottime, this, &MainWindow::changed_chacc_slottime);
    connect(b, &EvUSBBoard::changed_chacc_rssithreshold, this, &MainWindow::changed_chacc_rssithreshold);
    connect(b, &EvUSBBoard::changed_chacc_bgndthreshold, this, &MainWindow::changed_chacc_bgndthreshold);
    connect(b, &EvUSBBoard::changed_chacc_preamble, this, &MainWindow::changed_chacc_preamble);
    connect(b, &EvUSBBoard::changed_chacc_addrmatch1, this, &MainWindow::changed_chacc_addrmatch1);
    connect(b, &EvUSBBoard::changed_chacc_addrmatch2, this, &MainWindow::changed_chacc_addrmatch2);
    connect(b, &EvUSBBoard::changed_chacc_addrlength, this, &MainWindow::changed_chacc_addrlength);
    connect(b, &EvUSBBoard::changed_chacc_addr1, this, &MainWindow::changed_chacc_addr1);
    connect(b, &EvUSBBoard::changed_chacc_addr2, this, &MainWindow::changed_chacc_addr2);
    connect(b, &EvUSBBoard::changed_xtal_frequency, this, &MainWindow::changed_radio_xtal_frequency);
    // the tolerance field would otherwise keep the last board's or the last
    // file's value: it follows the device like every other field
    connect(b, &EvUSBBoard::changed_xtal_tolerance, this, &MainWindow::changed_radio_xtal_tolerance);
    connect(b, &EvUSBBoard::changed_rx_modulation, this, &MainWindow::changed_radio_rx_modulation);
    connect(b, &EvUSBBoard::changed_tx_modulation, this, &MainWindow::changed_radio_tx_modulation);
    connect(b, &EvUSBBoard::changed_rx_carrierfrequency, this, &MainWindow::changed_radio_rx_carrierfrequency);
    connect(b, &EvUSBBoard::changed_tx_carrierfrequency, this, &MainWindow::changed_radio_tx_carrierfrequency);
    connect(b, &EvUSBBoard::changed_rx_bandwidth, this, &MainWindow::changed_radio_rx_bandwidth);
    connect(b, &EvUSBBoard::changed_tx_deviation, this, &MainWindow::changed_radio_tx_deviation);
    connect(b, &EvUSBBoard::changed_rx_bitrate, this, &MainWindow::changed_radio_rx_bitrate);
    connect(b, &EvUSBBoard::changed_tx_bitrate, this, &MainWindow::changed_radio_tx_bitrate);
    connect(b, &EvUSBBoard::changed_rx_btr, this, &MainWindow::changed_radio_rx_btr);
    connect(b, &EvUSBBoard::changed_tx_power, this, &MainWindow::changed_radio_tx_power);
    connect(b, &EvUSBBoard::changed_iffrequency, this, &MainWindow::changed_radio_iffrequency);
    connect(b, &EvUSBBoard::changed_framingmode, this, &MainWindow::changed_radio_framingmode);
    connect(b, &EvUSBBoard::changed_enc_invert, this, &MainWindow::changed_radio_enc_invert);
    connect(b, &EvUSBBoard::changed_enc_diff, this, &MainWindow::changed_radio_enc_diff);
    connect(b, &EvUSBBoard::changed_enc_scrambler, this, &MainWindow::changed_radio_enc_scrambler);
    connect(b, &EvUSBBoard::changed_enc_manchester, this, &MainWindow::changed_radio_enc_manchester);
    connect(b, &EvUSBBoard::changed_crcmode, this, &MainWindow::changed_radio_crcmode);
    connect(b, &EvUSBBoard::changed_crcinit, this, &MainWindow::changed_radio_crcinit);
    connect(b, &EvUSBBoard::changed_preamble, this, &MainWindow::changed_radio_preamble);
    connect(b, &EvUSBBoard::changed_preamble_length, this, &MainWindow::changed_radio_preamble_length);

    refresh_all();

    const bool hdlc = dev->is_framingmode_hdlc();
    const bool rawmatch = dev->is_framingmode_rawpreamblematch();
    apply_addressmatch_enabling(hdlc);
    ui->framing_crcmode->setEnabled(hdlc);
    ui->framing_crcinit->setEnabled(hdlc);
    ui->framing_preamblelength->setEnabled(rawmatch);
    ui->framing_preamblepattern->setEnabled(rawmatch);
    ui->edittabs->setEnabled(true);

    action_connections = {
        connect(ui->actionRC800CodeSnippetsStraight, &QAction::triggered, this, &MainWindow::open_rc800_code_snippet_straight_window),
        connect(ui->actionRC800CodeSnippetsTable, &QAction::triggered, this, &MainWindow::open_rc800_code_snippet_table_window),
        connect(ui->actionRC800CodeSnippetsBurstTable, &QAction::triggered, this, &MainWindow::open_rc800_code_snippet_bursttable_window),
        connect(ui->actionCodeSnippetsStraight, &QAction::triggered, this, &MainWindow::open_code_snippet_straight_window),
        connect(ui->actionCodeSnippetsTable, &QAction::triggered, this, &MainWindow::open_code_snippet_table_window),
        connect(ui->actionCodeSnippetsBurstTable, &QAction::triggered, this, &MainWindow::open_code_snippet_bursttable_window),
        connect(ui->actionEvalboardCodeSnippets, &QAction::triggered, b, &EvUSBBoard::open_evalboard_code_snippet_window),
        connect(ui->actionDebugRegisterDump, &QAction::triggered, b, &EvUSBBoard::debug_register_dump),
        connect(ui->actionLoadFile, &QAction::triggered, b, qOverload<>(&EvUSBBoard::load_file)),
        connect(ui->actionSaveFile, &QAction::triggered, b, qOverload<>(&EvUSBBoard::save_file)),
    };

    const unsigned int chipflags = dev->get_chipflags();
    const bool rx = chipflags & 1;
    const bool tx = chipflags & 2;
    for (QWidget* w : std::initializer_list<QWidget*>{ui->radio_rxmodulation, ui->radio_rxfreq, ui->radio_rxh,
                                                      ui->radio_rxbandwidth, ui->radio_rxbitrate, ui->radio_rxbtr})
        set_silently_enabled(w, rx);
    for (QWidget* w : std::initializer_list<QWidget*>{ui->radio_txmodulation, ui->radio_txfreq, ui->radio_txh,
                                                      ui->radio_txhalfdev, ui->radio_txbitrate, ui->radio_txpower})
        set_silently_enabled(w, tx);
    set_silently_enabled(ui->radio_copytxtorx, rx && tx);
    set_silently_enabled(ui->radio_copyrxtotx, rx && tx);

    ui->menuRC800CodeSnippets->setEnabled(true);
    ui->menuCodeSnippets->setEnabled(true);
    for (QAction* a : snippet_actions)
        a->setEnabled(true);
    ui->actionEvalboardCodeSnippets->setEnabled(true);
    ui->actionLoadFile->setEnabled(true);
    ui->actionSaveFile->setEnabled(true);
    ui->actionDebugRegisterDump->setEnabled(!(dev->get_boardflags() & 1));
}

void MainWindow::refresh_all()
{
    changed_ethmac();
    changed_radio_ethmac();
    changed_serial();
    changed_chacc_channelaccessmode();
    changed_chacc_ppersistence();
    changed_chacc_slottime();
    changed_chacc_rssithreshold();
    changed_chacc_bgndthreshold();
    changed_chacc_preamble();
    changed_chacc_addrmatch1();
    changed_chacc_addrmatch2();
    changed_chacc_addrlength();
    changed_radio_xtal_frequency();
    changed_radio_xtal_tolerance();
    changed_radio_rx_modulation();
    changed_radio_tx_modulation();
    changed_radio_rx_carrierfrequency();
    changed_radio_tx_carrierfrequency();
    changed_radio_rx_bandwidth();
    changed_radio_tx_deviation();
    changed_radio_rx_bitrate();
    changed_radio_tx_bitrate();
    changed_radio_rx_btr();
    changed_radio_tx_power();
    changed_radio_iffrequency();
    changed_radio_framingmode();
    changed_radio_enc_invert();
    changed_radio_enc_diff();
    changed_radio_enc_scrambler();
    changed_radio_enc_manchester();
    changed_radio_crcmode();
    changed_radio_crcinit();
    changed_radio_preamble_length();
    changed_radio_preamble();
}

void MainWindow::connect_edits()
{
    auto* u = ui;
    connect(u->radio_rxmodulation, &QComboBox::activated, this, &MainWindow::valchanged_radio_rxmodulation);
    connect(u->radio_txmodulation, &QComboBox::activated, this, &MainWindow::valchanged_radio_txmodulation);
    connect(u->radio_rxfreq, &QDoubleSpinBox::valueChanged, this, &MainWindow::valchanged_radio_rxfreq);
    connect(u->radio_txfreq, &QDoubleSpinBox::valueChanged, this, &MainWindow::valchanged_radio_txfreq);
    connect(u->radio_rxh, &QDoubleSpinBox::valueChanged, this, &MainWindow::valchanged_radio_rxh);
    connect(u->radio_txh, &QDoubleSpinBox::valueChanged, this, &MainWindow::valchanged_radio_txh);
    connect(u->radio_rxbandwidth, &QDoubleSpinBox::valueChanged, this, &MainWindow::valchanged_radio_rxbandwidth);
    connect(u->radio_txhalfdev, &QDoubleSpinBox::valueChanged, this, &MainWindow::valchanged_radio_txhalfdev);
    connect(u->radio_rxbitrate, &QDoubleSpinBox::valueChanged, this, &MainWindow::valchanged_radio_rxbitrate);
    connect(u->radio_txbitrate, &QDoubleSpinBox::valueChanged, this, &MainWindow::valchanged_radio_txbitrate);
    connect(u->radio_rxbtr, &QComboBox::activated, this, &MainWindow::valchanged_radio_rxbtr);
    connect(u->radio_txpower, &QDoubleSpinBox::valueChanged, this, &MainWindow::valchanged_radio_txpower);
    connect(u->radio_iffreq, &QDoubleSpinBox::valueChanged, this, &MainWindow::valchanged_radio_iffreq);
    connect(u->radio_xtalfreq, &QDoubleSpinBox::valueChanged, this, &MainWindow::valchanged_radio_xtal_frequency);
    connect(u->radio_xtaltol, &QDoubleSpinBox::valueChanged, this, &MainWindow::valchanged_radio_xtal_tolerance);
    connect(u->framing_mode, &QComboBox::activated, this, &MainWindow::valchanged_framing_mode);
    connect(u->framing_invert, &QCheckBox::stateChanged, this, &MainWindow::valchanged_framing_invert);
    connect(u->framing_diff, &QCheckBox::stateChanged, this, &MainWindow::valchanged_framing_diff);
    connect(u->framing_scrambler, &QCheckBox::stateChanged, this, &MainWindow::valchanged_framing_scrambler);
    connect(u->framing_manchester, &QCheckBox::stateChanged, this, &MainWindow::valchanged_framing_manchester);
    connect(u->framing_crcmode, &QComboBox::activated, this, &MainWindow::valchanged_framing_crcmode);
    connect(u->framing_crcinit, &QLineEdit::textChanged, this, &MainWindow::valchanged_framing_crcinit);
    connect(u->framing_preamblelength, &QSpinBox::valueChanged, this, &MainWindow::valchanged_framing_preamblelength);
    connect(u->framing_preamblepattern, &QLineEdit::textChanged, this, &MainWindow::valchanged_framing_preamblepattern);

    // a finished edit shows what the chip really took
    connect(u->radio_rxfreq, &QAbstractSpinBox::editingFinished, this, &MainWindow::changed_radio_rx_carrierfrequency);
    connect(u->radio_txfreq, &QAbstractSpinBox::editingFinished, this, &MainWindow::changed_radio_tx_carrierfrequency);
    connect(u->radio_rxh, &QAbstractSpinBox::editingFinished, this, &MainWindow::changed_radio_rx_bandwidth);
    connect(u->radio_rxbandwidth, &QAbstractSpinBox::editingFinished, this, &MainWindow::changed_radio_rx_bandwidth);
    connect(u->radio_rxbitrate, &QAbstractSpinBox::editingFinished, this, &MainWindow::changed_radio_rx_bitrate);
    connect(u->radio_txh, &QAbstractSpinBox::editingFinished, this, &MainWindow::changed_radio_tx_deviation);
    connect(u->radio_txhalfdev, &QAbstractSpinBox::editingFinished, this, &MainWindow::changed_radio_tx_deviation);
    connect(u->radio_txbitrate, &QAbstractSpinBox::editingFinished, this, &MainWindow::changed_radio_tx_bitrate);
    connect(u->radio_txpower, &QAbstractSpinBox::editingFinished, this, &MainWindow::changed_radio_tx_power);
    connect(u->radio_iffreq, &QAbstractSpinBox::editingFinished, this, &MainWindow::changed_radio_iffrequency);
    connect(u->radio_xtalfreq, &QAbstractSpinBox::editingFinished, this, &MainWindow::changed_radio_xtal_frequency);
    connect(u->radio_xtaltol, &QAbstractSpinBox::editingFinished, this, &MainWindow::changed_radio_xtal_tolerance);

    connect(u->radio_copytxtorx, &QPushButton::clicked, this, &MainWindow::click_radio_copytxtorx);
    connect(u->radio_copyrxtotx, &QPushButton::clicked, this, &MainWindow::click_radio_copyrxtotx);

    connect(u->chacc_channelacc, &QComboBox::activated, this, &MainWindow::valchanged_chacc_channelacc);
    connect(u->chacc_ppersist, &QDoubleSpinBox::valueChanged, this, &MainWindow::valchanged_chacc_ppersist);
    connect(u->chacc_ppersist, &QAbstractSpinBox::editingFinished, this, &MainWindow::changed_chacc_ppersistence);
    connect(u->chacc_slottime, &QSpinBox::valueChanged, this, &MainWindow::valchanged_chacc_slottime);
    connect(u->chacc_rssithreshold, &QDoubleSpinBox::valueChanged, this, &MainWindow::valchanged_chacc_rssithreshold);
    connect(u->chacc_bgndthreshold, &QDoubleSpinBox::valueChanged, this, &MainWindow::valchanged_chacc_bgndthreshold);
    connect(u->chacc_preamble, &QSpinBox::valueChanged, this, &MainWindow::valchanged_chacc_preamble);

    // MAC and serial fields apply once the text is complete
    connect(u->device_usbserial, &QLineEdit::editingFinished, this, [this]() { valchanged_usbserial(ui->device_usbserial->text()); });
    connect(u->device_interfacemac, &QLineEdit::editingFinished, this, [this]() { valchanged_interfacemac(ui->device_interfacemac->text()); });
    connect(u->device_radiomac, &QLineEdit::editingFinished, this, [this]() { valchanged_radiomac(ui->device_radiomac->text()); });
    connect(u->device_generateinterfacemac, &QPushButton::clicked, this, &MainWindow::click_device_generateinterfacemac);
    connect(u->device_generateradiomac, &QPushButton::clicked, this, &MainWindow::click_device_generateradiomac);
    connect(u->device_generatemacs, &QPushButton::clicked, this, &MainWindow::click_device_generatemacs);
    connect(u->framing_addresslength, &QSpinBox::valueChanged, this, &MainWindow::valchanged_framing_addresslength);
    connect(u->framing_addressmatch1, &QCheckBox::stateChanged, this, &MainWindow::valchanged_framing_addressmatch1);
    connect(u->framing_addressmatch2, &QCheckBox::stateChanged, this, &MainWindow::valchanged_framing_addressmatch2);
    connect(u->framing_address1, &QLineEdit::editingFinished, this, [this]() { valchanged_framing_address1(ui->framing_address1->text()); });
    connect(u->framing_address2, &QLineEdit::editingFinished, this, [this]() { valchanged_framing_address2(ui->framing_address2->text()); });
    connect(u->framing_address1radiomac, &QPushButton::clicked, this, &MainWindow::click_framing_address1radiomac);
    connect(u->framing_address2radiomac, &QPushButton::clicked, this, &MainWindow::click_framing_address2radiomac);
}

// ---- shell slots ----

void MainWindow::quit()
{
    close();
}

void MainWindow::refresh()
{
    Q_EMIT rescan_requested();
}

void MainWindow::simulate_board()
{
    auto* dialog = new MainWindowFileDialog(this, false);
    connect(this, &QObject::destroyed, dialog, &MainWindowFileDialog::quit);
    dialog->show();
}

void MainWindow::simulate_board(QString filename)
{
    Q_EMIT simulate_file_requested(filename);
}

void MainWindow::simulate_new_board(QString chip)
{
    Q_EMIT simulate_chip_requested(chip);
}

void MainWindow::click_loadchipdefaults(bool)
{
    if (KORVIK::USBDevice* dev = device())
        dev->load_chipdefaults();
}

void MainWindow::click_loadboarddefaults(bool)
{
    if (KORVIK::USBDevice* dev = device())
        dev->load_boarddefaults();
}

void MainWindow::click_saveboarddefaults(bool)
{
    if (KORVIK::USBDevice* dev = device())
        dev->store_boarddefaults();
}

void MainWindow::action_about()
{
    auto* dialog = new AboutDialog(application);
    connect(this, &QObject::destroyed, dialog, &AboutDialog::quit);
    dialog->show();
}

void MainWindow::open_rc800_code_snippet_straight_window()
{
    if (current_board)
        current_board->open_rc800_code_snippet_window(1);
}

void MainWindow::open_rc800_code_snippet_table_window()
{
    if (current_board)
        current_board->open_rc800_code_snippet_window(2);
}

void MainWindow::open_rc800_code_snippet_bursttable_window()
{
    if (current_board)
        current_board->open_rc800_code_snippet_window(4);
}

void MainWindow::open_code_snippet_straight_window()
{
    if (current_board)
        current_board->open_code_snippet_window(1);
}

void MainWindow::open_code_snippet_table_window()
{
    if (current_board)
        current_board->open_code_snippet_window(2);
}

void MainWindow::open_code_snippet_bursttable_window()
{
    if (current_board)
        current_board->open_code_snippet_window(4);
}

// ---- silent setters: a refresh never re-enters an edit handler ----

void MainWindow::set_silently(QCheckBox* w, bool checked)
{
    if (w && w->isChecked() != checked) {
        const QSignalBlocker block(w);
        w->setChecked(checked);
    }
}

void MainWindow::set_silently(QComboBox* w, int index)
{
    if (w && w->currentIndex() != index) {
        const QSignalBlocker block(w);
        w->setCurrentIndex(index);
    }
}

void MainWindow::set_silently(QDoubleSpinBox* w, double value)
{
    if (w && w != editing_field && w->value() != value) {
        const QSignalBlocker block(w);
        // the chip may hold more than the field's usual range; show it rather than a clamped lie
        if (std::isfinite(value) && value > w->maximum())
            w->setMaximum(value);
        if (std::isfinite(value) && value < w->minimum())
            w->setMinimum(value);
        w->setValue(value);
    }
}

void MainWindow::set_silently(QSpinBox* w, int value)
{
    if (w && w->value() != value) {
        const QSignalBlocker block(w);
        w->setValue(value);
    }
}

void MainWindow::set_silently(QLineEdit* w, const QString& text)
{
    if (!w)
        return;
    // a masked field shows its separators itself: compare the digits only,
    // so a refresh after each keystroke does not move the cursor
    QString shown = w->text(), wanted = text;
    if (!w->inputMask().isEmpty()) {
        for (QString* t : {&shown, &wanted}) {
            t->remove(QLatin1Char(' '));
            t->remove(QLatin1Char(':'));
        }
        if (shown.compare(wanted, Qt::CaseInsensitive) == 0)
            return;
    } else if (shown == wanted) {
        return;
    }
    const QSignalBlocker block(w);
    const int cursor = w->cursorPosition();
    w->setText(text);
    if (w->hasFocus())
        w->setCursorPosition(cursor);
}

void MainWindow::set_silently_mask(QLineEdit* w, const QString& mask)
{
    if (w && w->inputMask() != mask) {
        const QSignalBlocker block(w);
        w->setInputMask(mask);
    }
}

void MainWindow::set_silently_enabled(QWidget* w, bool enabled)
{
    if (w && w->testAttribute(Qt::WA_ForceDisabled) == enabled) {
        const QSignalBlocker block(w);
        w->setEnabled(enabled);
    }
}

void MainWindow::set_silently_visible(QWidget* w, bool visible)
{
    if (w && w->isHidden() == visible) {
        const QSignalBlocker block(w);
        w->setVisible(visible);
    }
}

// ---- radio page: edits ----

bool MainWindow::deferred(Refresh refresh)
{
    if (!updating)
        return false;
    if (std::find(deferred_refreshes.begin(), deferred_refreshes.end(), refresh) == deferred_refreshes.end())
        deferred_refreshes.push_back(refresh);
    return true;
}

void MainWindow::settle(QAbstractSpinBox* field, Refresh refresh)
{
    // One edit can move other quantities too (a bandwidth can pull the
    // bitrate along): run every refresh held back during the edit. Only the
    // field being typed in keeps its text until editing finishes.
    if (updating)
        return;
    if (std::find(deferred_refreshes.begin(), deferred_refreshes.end(), refresh) == deferred_refreshes.end())
        deferred_refreshes.push_back(refresh);
    const std::vector<Refresh> pending = std::move(deferred_refreshes);
    deferred_refreshes.clear();
    editing_field = field && field->hasFocus() ? field : nullptr;
    for (Refresh r : pending)
        (this->*r)();
    editing_field = nullptr;
}

template <typename Write>
void MainWindow::write_device(Write&& write, void (MainWindow::*refresh)())
{
    KORVIK::USBDevice* dev = device();
    if (!dev)
        return;
    write(*dev);
    dev->commit_registers();
    (this->*refresh)();
}

void MainWindow::valchanged_radio_rxmodulation(int index)
{
    write_device([&](KORVIK::USBDevice& dev) { dev.set_rx_modulation(index); }, &MainWindow::changed_radio_rx_modulation);
}

void MainWindow::valchanged_radio_txmodulation(int index)
{
    write_device([&](KORVIK::USBDevice& dev) { dev.set_tx_modulation(index); }, &MainWindow::changed_radio_tx_modulation);
}

void MainWindow::valchanged_radio_rxfreq(double mhz)
{
    KORVIK::USBDevice* dev = device();
    if (!dev)
        return;
    {
        UpdatingGuard guard(this);
        dev->set_rx_carrierfrequency(mhz * 1000000.0);
        dev->commit_registers();
    }
    settle(ui->radio_rxfreq, &MainWindow::changed_radio_rx_carrierfrequency);
}

void MainWindow::valchanged_radio_txfreq(double mhz)
{
    KORVIK::USBDevice* dev = device();
    if (!dev)
        return;
    {
        UpdatingGuard guard(this);
        dev->set_tx_carrierfrequency(mhz * 1000000.0);
        dev->commit_registers();
    }
    settle(ui->radio_txfreq, &MainWindow::changed_radio_tx_carrierfrequency);
}

void MainWindow::valchanged_radio_rxh(double h)
{
    KORVIK::USBDevice* dev = device();
    if (!dev)
        return;
    {
        UpdatingGuard guard(this);
        const double k = dev->is_modulation_4fsk(dev->get_rx_modulation()) ? 3.0 : 1.0;
        dev->set_rx_bandwidth(dev->get_rx_bitrate() * (1.0 + k * h));
        dev->commit_registers();
    }
    settle(ui->radio_rxh, &MainWindow::changed_radio_rx_bandwidth);
}

void MainWindow::valchanged_radio_txh(double h)
{
    KORVIK::USBDevice* dev = device();
    if (!dev)
        return;
    {
        UpdatingGuard guard(this);
        const double bitrate = dev->get_tx_bitrate();
        dev->set_tx(bitrate * h, bitrate, dev->get_tx_modulation());
        dev->commit_registers();
    }
    settle(ui->radio_txh, &MainWindow::changed_radio_tx_deviation);
}

void MainWindow::valchanged_radio_rxbandwidth(double khz)
{
    KORVIK::USBDevice* dev = device();
    if (!dev)
        return;
    {
        UpdatingGuard guard(this);
        dev->set_rx_bandwidth(khz * 1000.0);
        dev->commit_registers();
    }
    settle(ui->radio_rxbandwidth, &MainWindow::changed_radio_rx_bandwidth);
}

void MainWindow::valchanged_radio_txhalfdev(double khz)
{
    KORVIK::USBDevice* dev = device();
    if (!dev)
        return;
    {
        UpdatingGuard guard(this);
        dev->set_tx(khz * 2000.0, dev->get_tx_bitrate(), dev->get_tx_modulation());
        dev->commit_registers();
    }
    settle(ui->radio_txhalfdev, &MainWindow::changed_radio_tx_deviation);
}

void MainWindow::valchanged_radio_rxbitrate(double kbps)
{
    KORVIK::USBDevice* dev = device();
    if (!dev)
        return;
    {
        UpdatingGuard guard(this);
        const double b = kbps * 1000.0;
        const double h = ui->radio_rxh->value();
        const double k = dev->is_modulation_4fsk(dev->get_rx_modulation()) ? 3.0 : 1.0;
        dev->set_rx(b * (1.0 + k * h), b, dev->get_rx_modulation(), dev->get_rx_btr());
        dev->commit_registers();
    }
    settle(ui->radio_rxbitrate, &MainWindow::changed_radio_rx_bitrate);
}

void MainWindow::valchanged_radio_txbitrate(double kbps)
{
    KORVIK::USBDevice* dev = device();
    if (!dev)
        return;
    {
        UpdatingGuard guard(this);
        const double b = kbps * 1000.0;
        dev->set_tx(ui->radio_txh->value() * b, b, dev->get_tx_modulation());
        dev->commit_registers();
    }
    settle(ui->radio_txbitrate, &MainWindow::changed_radio_tx_bitrate);
}

void MainWindow::valchanged_radio_rxbtr(int index)
{
    KORVIK::USBDevice* dev = device();
    if (!dev)
        return;
    dev->set_rx_btr(index);
    dev->commit_registers();
    // the chosen recovery needs this many preamble bits; the channel access sends bytes
    dev->set_chacc_preamble(static_cast<unsigned char>((unsigned(dev->get_rx_btr_preamble()) >> 3) & 0xFF));
    changed_radio_rx_btr();
}

void MainWindow::valchanged_radio_txpower(double dbm)
{
    KORVIK::USBDevice* dev = device();
    if (!dev)
        return;
    {
        UpdatingGuard guard(this);
        dev->set_tx_power(dbm);
        dev->commit_registers();
    }
    settle(ui->radio_txpower, &MainWindow::changed_radio_tx_power);
}

void MainWindow::valchanged_radio_txpower_stepby(int step)
{
    write_device([&](KORVIK::USBDevice& dev) { dev.step_tx_power(step); }, &MainWindow::changed_radio_tx_power);
}

void MainWindow::valchanged_radio_iffreq(double mhz)
{
    KORVIK::USBDevice* dev = device();
    if (!dev)
        return;
    {
        UpdatingGuard guard(this);
        dev->set_iffrequency(mhz * 1000000.0);
        dev->commit_registers();
    }
    settle(ui->radio_iffreq, &MainWindow::changed_radio_iffrequency);
}

void MainWindow::valchanged_radio_xtal_frequency(double mhz)
{
    KORVIK::USBDevice* dev = device();
    if (!dev)
        return;
    {
        UpdatingGuard guard(this);
        // round, not truncate: 16.000002 MHz times a million lands just below 16000002
        dev->set_xtal_frequency(static_cast<unsigned int>(std::llround(mhz * 1000000.0)));
    }
    // the carrier words depend on the crystal: apply the shown carriers again
    valchanged_radio_rxfreq(ui->radio_rxfreq->value());
    valchanged_radio_txfreq(ui->radio_txfreq->value());
    changed_radio_rx_carrierfrequency();
    changed_radio_tx_carrierfrequency();
    settle(ui->radio_xtalfreq, &MainWindow::changed_radio_xtal_frequency);
}

void MainWindow::valchanged_radio_xtal_tolerance(double ppm)
{
    KORVIK::USBDevice* dev = device();
    if (!dev)
        return;
    {
        UpdatingGuard guard(this);
        dev->set_xtal_tolerance(ppm);
    }
    settle(ui->radio_xtaltol, &MainWindow::changed_radio_xtal_tolerance);
}

void MainWindow::click_radio_copytxtorx(bool)
{
    KORVIK::USBDevice* dev = device();
    if (!dev)
        return;
    const int m = dev->get_tx_modulation();
    const double f = dev->get_tx_carrierfrequency();
    const double d = dev->get_tx_deviation();
    const double b = dev->get_tx_bitrate();
    const double h = b < 1.0 ? 0.0 : d / b;
    dev->set_rx_carrierfrequency(f);
    const double k = dev->is_modulation_4fsk(dev->get_rx_modulation()) ? 3.0 : 1.0;
    dev->set_rx(b * (1.0 + k * h), b, m, dev->get_rx_btr());
    dev->commit_registers();
}

void MainWindow::click_radio_copyrxtotx(bool)
{
    KORVIK::USBDevice* dev = device();
    if (!dev)
        return;
    const int m = dev->get_rx_modulation();
    const double f = dev->get_rx_carrierfrequency();
    const double b = dev->get_rx_bitrate();
    const double h = std::max(0.0, rx_modulation_factor());
    dev->set_tx_carrierfrequency(f);
    dev->set_tx(b * h, b, m);
    dev->commit_registers();
}

// ---- radio page: refreshes ----

double MainWindow::rx_modulation_factor() const
{
    KORVIK::USBDevice* dev = device();
    if (!dev)
        return 0.0;
    const double w = dev->get_rx_bandwidth();
    const double b = dev->get_rx_bitrate();
    if (b < 1.0)
        return 0.0;
    double h = w / b - 1.0;
    if (dev->is_modulation_4fsk(dev->get_rx_modulation()))
        h /= 3.0;
    return h;
}

void MainWindow::changed_radio_rx_modulation()
{
    if (KORVIK::USBDevice* dev = device())
        set_silently(ui->radio_rxmodulation, dev->get_rx_modulation());
}

void MainWindow::changed_radio_tx_modulation()
{
    if (KORVIK::USBDevice* dev = device())
        set_silently(ui->radio_txmodulation, dev->get_tx_modulation());
}

void MainWindow::changed_radio_rx_carrierfrequency()
{
    KORVIK::USBDevice* dev = device();
    if (!dev || deferred(&MainWindow::changed_radio_rx_carrierfrequency))
        return;
    set_silently(ui->radio_rxfreq, dev->get_rx_carrierfrequency() * 0.000001);
}

void MainWindow::changed_radio_tx_carrierfrequency()
{
    KORVIK::USBDevice* dev = device();
    if (!dev || deferred(&MainWindow::changed_radio_tx_carrierfrequency))
        return;
    set_silently(ui->radio_txfreq, dev->get_tx_carrierfrequency() * 0.000001);
}

void MainWindow::changed_radio_rx_bandwidth()
{
    KORVIK::USBDevice* dev = device();
    if (!dev || deferred(&MainWindow::changed_radio_rx_bandwidth))
        return;
    set_silently(ui->radio_rxh, rx_modulation_factor());
    set_silently(ui->radio_rxbandwidth, dev->get_rx_bandwidth() * 0.001);
}

void MainWindow::changed_radio_rx_bitrate()
{
    KORVIK::USBDevice* dev = device();
    if (!dev || deferred(&MainWindow::changed_radio_rx_bitrate))
        return;
    set_silently(ui->radio_rxh, rx_modulation_factor());
    set_silently(ui->radio_rxbandwidth, dev->get_rx_bandwidth() * 0.001);
    set_silently(ui->radio_rxbitrate, dev->get_rx_bitrate() * 0.001);
}

void MainWindow::changed_radio_tx_deviation()
{
    KORVIK::USBDevice* dev = device();
    if (!dev || deferred(&MainWindow::changed_radio_tx_deviation))
        return;
    const double b = dev->get_tx_bitrate();
    const double d = dev->get_tx_deviation();
    set_silently(ui->radio_txh, b < 1.0 ? 0.0 : d / b);
    set_silently(ui->radio_txhalfdev, d * 0.0005);
}

void MainWindow::changed_radio_tx_bitrate()
{
    KORVIK::USBDevice* dev = device();
    if (!dev || deferred(&MainWindow::changed_radio_tx_bitrate))
        return;
    changed_radio_tx_deviation();
    set_silently(ui->radio_txbitrate, dev->get_tx_bitrate() * 0.001);
    update_preamble_ms();
}

void MainWindow::changed_radio_rx_btr()
{
    if (KORVIK::USBDevice* dev = device())
        set_silently(ui->radio_rxbtr, dev->get_rx_btr());
}

void MainWindow::changed_radio_tx_power()
{
    KORVIK::USBDevice* dev = device();
    if (!dev || deferred(&MainWindow::changed_radio_tx_power))
        return;
    set_silently(ui->radio_txpower, dev->get_tx_power());
}

void MainWindow::changed_radio_iffrequency()
{
    KORVIK::USBDevice* dev = device();
    if (!dev || deferred(&MainWindow::changed_radio_iffrequency))
        return;
    set_silently(ui->radio_iffreq, dev->get_iffrequency() * 0.000001);
}

void MainWindow::changed_radio_xtal_frequency()
{
    if (deferred(&MainWindow::changed_radio_xtal_frequency))
        return;
    KORVIK::USBDevice* dev = device();
    set_silently(ui->radio_xtalfreq, dev ? dev->get_xtal_frequency() * 0.000001 : 16.0);
}

void MainWindow::changed_radio_xtal_tolerance()
{
    if (deferred(&MainWindow::changed_radio_xtal_tolerance))
        return;
    KORVIK::USBDevice* dev = device();
    set_silently(ui->radio_xtaltol, dev ? dev->get_xtal_tolerance() : 10.0);
}

// ---- framing page ----

void MainWindow::update_framing_warning()
{
    KORVIK::USBDevice* dev = device();
    const bool show = dev && dev->is_framingmode_hdlc_fec() && !dev->get_chacc_addrmatch1() && !dev->get_chacc_addrmatch2();
    set_silently_visible(ui->framing_messageicon, show);
    set_silently_visible(ui->framing_messagetext, show);
}

void MainWindow::apply_addressmatch_enabling(bool hdlc)
{
    const bool m1 = ui->framing_addressmatch1->isChecked();
    const bool m2 = ui->framing_addressmatch2->isChecked();
    set_silently_enabled(ui->framing_addresslength, hdlc);
    set_silently_enabled(ui->framing_addressmatch1, hdlc);
    set_silently_enabled(ui->framing_addressmatch2, hdlc);
    set_silently_enabled(ui->framing_address1, hdlc && m1);
    set_silently_enabled(ui->framing_address1radiomac, hdlc && m1);
    set_silently_enabled(ui->framing_address2, hdlc && m2);
    set_silently_enabled(ui->framing_address2radiomac, hdlc && m2);
}

void MainWindow::changed_radio_framingmode()
{
    KORVIK::USBDevice* dev = device();
    if (!dev)
        return;
    update_framing_warning();
    set_silently(ui->framing_mode, dev->get_framingmode());
    const bool hdlc = dev->is_framingmode_hdlc();
    const bool rawmatch = dev->is_framingmode_rawpreamblematch();
    set_silently_enabled(ui->framing_crcmode, hdlc);
    set_silently_enabled(ui->framing_crcinit, hdlc);
    set_silently_enabled(ui->framing_preamblelength, rawmatch);
    set_silently_enabled(ui->framing_preamblepattern, rawmatch);
    for (QWidget* w : std::initializer_list<QWidget*>{ui->framing_crclabel, ui->framing_crcmode, ui->framing_crcinit})
        set_silently_visible(w, hdlc);
    for (QWidget* w : std::initializer_list<QWidget*>{ui->framing_preamblelabel, ui->framing_preamblelength,
                                                      ui->framing_preamblepattern})
        set_silently_visible(w, rawmatch);
    // FEC framing fixes the encoding; otherwise only what the chip supports is offered
    const bool fec = dev->is_framingmode_hdlc_fec();
    const unsigned int enc = dev->get_supported_encodingmodes();
    set_silently_enabled(ui->framing_invert, !fec && (enc & 1));
    set_silently_enabled(ui->framing_diff, !fec && (enc & 2));
    set_silently_enabled(ui->framing_scrambler, !fec && (enc & 4));
    set_silently_enabled(ui->framing_manchester, !fec && (enc & 8));
}

void MainWindow::valchanged_framing_mode(int index)
{
    write_device([&](KORVIK::USBDevice& dev) { dev.set_framingmode(index); }, &MainWindow::changed_radio_framingmode);
}

void MainWindow::valchanged_framing_invert(int state)
{
    write_device([&](KORVIK::USBDevice& dev) { dev.set_enc_invert(state == Qt::Checked); }, &MainWindow::changed_radio_enc_invert);
}

void MainWindow::valchanged_framing_diff(int state)
{
    write_device([&](KORVIK::USBDevice& dev) { dev.set_enc_diff(state == Qt::Checked); }, &MainWindow::changed_radio_enc_diff);
}

void MainWindow::valchanged_framing_scrambler(int state)
{
    write_device([&](KORVIK::USBDevice& dev) { dev.set_enc_scrambler(state == Qt::Checked); }, &MainWindow::changed_radio_enc_scrambler);
}

void MainWindow::valchanged_framing_manchester(int state)
{
    write_device([&](KORVIK::USBDevice& dev) { dev.set_enc_manchester(state == Qt::Checked); }, &MainWindow::changed_radio_enc_manchester);
}

void MainWindow::valchanged_framing_crcmode(int index)
{
    write_device([&](KORVIK::USBDevice& dev) { dev.set_crcmode(index); }, &MainWindow::changed_radio_crcmode);
}

void MainWindow::valchanged_framing_crcinit(QString text)
{
    KORVIK::USBDevice* dev = device();
    if (!dev)
        return;
    QString digits = text;
    digits.remove(QLatin1Char(' '));
    bool ok = false;
    const uint value = digits.toUInt(&ok, 16);
    if (ok && !digits.isEmpty()) {
        dev->set_crcinit(value);
        dev->commit_registers();
    } else {
        std::cerr << "valchanged_framing_crcinit: invalid text: \"" << text.toStdString() << "\"" << std::endl;
    }
    changed_radio_crcinit();
}

void MainWindow::valchanged_framing_preamblelength(int bits)
{
    KORVIK::USBDevice* dev = device();
    if (!dev)
        return;
    std::cerr << "MainWindow::valchanged_framing_preamblelength" << std::endl;
    dev->set_preamble_length(unsigned(std::max(0, bits)));
    dev->commit_registers();
    changed_radio_preamble_length();
}

void MainWindow::valchanged_framing_preamblepattern(QString text)
{
    KORVIK::USBDevice* dev = device();
    if (!dev)
        return;
    QString digits = text;
    digits.remove(QLatin1Char(' '));
    bool ok = false;
    const uint value = digits.toUInt(&ok, 16);
    if (ok && !digits.isEmpty()) {
        dev->set_preamble(value);
        dev->commit_registers();
    } else {
        std::cerr << "valchanged_framing_preamblepattern: invalid text: \"" << text.toStdString() << "\"" << std::endl;
    }
}

void MainWindow::changed_radio_enc_invert()
{
    if (KORVIK::USBDevice* dev = device())
        set_silently(ui->framing_invert, dev->get_enc_invert());
}

void MainWindow::changed_radio_enc_diff()
{
    if (KORVIK::USBDevice* dev = device())
        set_silently(ui->framing_diff, dev->get_enc_diff());
}

void MainWindow::changed_radio_enc_scrambler()
{
    if (KORVIK::USBDevice* dev = device())
        set_silently(ui->framing_scrambler, dev->get_enc_scrambler());
}

void MainWindow::changed_radio_enc_manchester()
{
    if (KORVIK::USBDevice* dev = device())
        set_silently(ui->framing_manchester, dev->get_enc_manchester());
}

void MainWindow::changed_radio_crcmode()
{
    if (KORVIK::USBDevice* dev = device())
        set_silently(ui->framing_crcmode, dev->get_crcmode());
}

void MainWindow::changed_radio_crcinit()
{
    if (KORVIK::USBDevice* dev = device())
        set_silently(ui->framing_crcinit, hex_padded(dev->get_crcinit(), 8));
}

void MainWindow::changed_radio_preamble()
{
    KORVIK::USBDevice* dev = device();
    if (!dev)
        return;
    const int n = int((dev->get_preamble_length() + 3) / 4);
    set_silently_mask(ui->framing_preamblepattern, QString(n, QLatin1Char('h')) + QStringLiteral(";_"));
    set_silently(ui->framing_preamblepattern, hex_padded(dev->get_preamble(), n));
}

void MainWindow::changed_radio_preamble_length()
{
    KORVIK::USBDevice* dev = device();
    if (!dev)
        return;
    set_silently(ui->framing_preamblelength, int(dev->get_preamble_length()));
    changed_radio_preamble();
}

// ---- channel-access page (not shown, kept in step) ----

void MainWindow::valchanged_chacc_channelacc(int index)
{
    if (KORVIK::USBDevice* dev = device())
        dev->set_chacc_channelaccessmode(index);
}

void MainWindow::valchanged_chacc_ppersist(double p)
{
    KORVIK::USBDevice* dev = device();
    if (!dev)
        return;
    {
        UpdatingGuard guard(this);
        dev->set_chacc_ppersistence(p);
    }
    settle(ui->chacc_ppersist, &MainWindow::changed_chacc_ppersistence);
}

void MainWindow::valchanged_chacc_slottime(int ms)
{
    if (KORVIK::USBDevice* dev = device())
        dev->set_chacc_slottime(ms * 0.001);
}

void MainWindow::valchanged_chacc_rssithreshold(double dbm)
{
    if (KORVIK::USBDevice* dev = device())
        dev->set_chacc_rssithreshold(dbm);
}

void MainWindow::valchanged_chacc_bgndthreshold(double db)
{
    if (KORVIK::USBDevice* dev = device())
        dev->set_chacc_bgndthreshold(db);
}

void MainWindow::valchanged_chacc_preamble(int bits)
{
    KORVIK::USBDevice* dev = device();
    if (!dev)
        return;
    const int bytes = bits < 0 ? 0 : std::min(255, (bits + 7) / 8);
    dev->set_chacc_preamble(static_cast<unsigned char>(bytes));
}

void MainWindow::changed_chacc_channelaccessmode()
{
    if (KORVIK::USBDevice* dev = device())
        set_silently(ui->chacc_channelacc, dev->get_chacc_channelaccessmode());
}

void MainWindow::changed_chacc_ppersistence()
{
    if (KORVIK::USBDevice* dev = device())
        set_silently(ui->chacc_ppersist, dev->get_chacc_ppersistence());
}

void MainWindow::changed_chacc_slottime()
{
    if (KORVIK::USBDevice* dev = device())
        set_silently(ui->chacc_slottime, int(dev->get_chacc_slottime() * 1000.0 + 0.5));
}

void MainWindow::changed_chacc_rssithreshold()
{
    if (KORVIK::USBDevice* dev = device())
        set_silently(ui->chacc_rssithreshold, dev->get_chacc_rssithreshold());
}

void MainWindow::changed_chacc_bgndthreshold()
{
    if (KORVIK::USBDevice* dev = device())
        set_silently(ui->chacc_bgndthreshold, dev->get_chacc_bgndthreshold());
}

void MainWindow::update_preamble_ms()
{
    if (KORVIK::USBDevice* dev = device())
        ui->chacc_preamble_ms->setText(tr("%1 ms").arg(dev->get_chacc_preamble_sec() * 1000.0, 0, 'f', 1));
}

void MainWindow::changed_chacc_preamble()
{
    KORVIK::USBDevice* dev = device();
    if (!dev)
        return;
    set_silently(ui->chacc_preamble, int(dev->get_chacc_preamble() * 8));
    update_preamble_ms();
}

void MainWindow::changed_chacc_addrmatch1()
{
    KORVIK::USBDevice* dev = device();
    if (!dev)
        return;
    update_framing_warning();
    const bool on = dev->get_chacc_addrmatch1();
    set_silently(ui->framing_addressmatch1, on);
    set_silently_enabled(ui->framing_address1, on);
    set_silently_enabled(ui->framing_address1radiomac, on);
}

void MainWindow::changed_chacc_addrmatch2()
{
    KORVIK::USBDevice* dev = device();
    if (!dev)
        return;
    update_framing_warning();
    const bool on = dev->get_chacc_addrmatch2();
    set_silently(ui->framing_addressmatch2, on);
    set_silently_enabled(ui->framing_address2, on);
    set_silently_enabled(ui->framing_address2radiomac, on);
}

void MainWindow::changed_chacc_addrlength()
{
    KORVIK::USBDevice* dev = device();
    if (!dev)
        return;
    const unsigned int n = std::min(6u, dev->get_chacc_addrlength());
    set_silently(ui->framing_addresslength, int(n));
    QStringList groups;
    for (unsigned int i = 0; i < n; ++i)
        groups << QStringLiteral("HH");
    const QString mask = groups.join(QLatin1Char(':')) + QStringLiteral(";_");
    set_silently_mask(ui->framing_address1, mask);
    set_silently_mask(ui->framing_address2, mask);
    changed_chacc_addr1();
    changed_chacc_addr2();
}

void MainWindow::changed_chacc_addr1()
{
    KORVIK::USBDevice* dev = device();
    if (!dev)
        return;
    unsigned char mac[6] = {};
    dev->get_chacc_addr1(mac);
    set_silently(ui->framing_address1, format_hex_bytes(mac, 6, QString()));
}

void MainWindow::changed_chacc_addr2()
{
    KORVIK::USBDevice* dev = device();
    if (!dev)
        return;
    unsigned char mac[6] = {};
    dev->get_chacc_addr2(mac);
    set_silently(ui->framing_address2, format_hex_bytes(mac, 6, QString()));
}

// ---- device page (not shown, kept in step) ----

void MainWindow::valchanged_usbserial(QString text)
{
    KORVIK::USBDevice* dev = device();
    if (!dev)
        return;
    if (text.size() < 7)
        changed_serial();
    else
        dev->set_nv_serial(text.toStdString());
}

void MainWindow::valchanged_interfacemac(QString text)
{
    KORVIK::USBDevice* dev = device();
    if (!dev)
        return;
    unsigned char mac[6];
    // an incomplete address would write 0xFF into the missing bytes
    if (parse_hex_bytes(text, mac, 6) == 6)
        dev->set_nv_ethmac(mac);
    else
        changed_ethmac();
}

void MainWindow::valchanged_radiomac(QString text)
{
    KORVIK::USBDevice* dev = device();
    if (!dev)
        return;
    unsigned char mac[6];
    if (parse_hex_bytes(text, mac, 6) == 6)
        dev->set_nv_radio_ethmac(mac);
    else
        changed_radio_ethmac();
}

void MainWindow::generate_mac(bool interface_mac, bool radio_mac)
{
    KORVIK::USBDevice* dev = device();
    if (!dev)
        return;
    const QString serial = ui->device_usbserial->text();
    if (serial.size() > 7)
        return;
    bool ok = false;
    const uint v = serial.left(7).toUInt(&ok, 16);
    if (!ok)
        return;
    unsigned char mac[6] = {0x40, static_cast<unsigned char>((v >> 24) & 0xFF), static_cast<unsigned char>((v >> 16) & 0xFF),
                            static_cast<unsigned char>((v >> 8) & 0xFF), static_cast<unsigned char>(v & 0xFF), 0};
    if (interface_mac) {
        mac[5] = 0;
        dev->set_nv_ethmac(mac);
    }
    if (radio_mac) {
        mac[5] = 1;
        dev->set_nv_radio_ethmac(mac);
    }
}

void MainWindow::click_device_generateinterfacemac(bool)
{
    generate_mac(true, false);
}

void MainWindow::click_device_generateradiomac(bool)
{
    generate_mac(false, true);
}

void MainWindow::click_device_generatemacs(bool)
{
    generate_mac(true, true);
}

void MainWindow::changed_ethmac()
{
    if (KORVIK::USBDevice* dev = device())
        set_silently(ui->device_interfacemac, format_hex_bytes(dev->get_nv_ethernet_mac(), 6, QString()));
}

void MainWindow::changed_radio_ethmac()
{
    if (KORVIK::USBDevice* dev = device())
        set_silently(ui->device_radiomac, format_hex_bytes(dev->get_nv_radio_ethernet_mac(), 6, QString()));
}

void MainWindow::changed_serial()
{
    if (KORVIK::USBDevice* dev = device())
        set_silently(ui->device_usbserial, QString::fromStdString(dev->get_nv_serial()));
}

void MainWindow::valchanged_framing_addresslength(int n)
{
    if (KORVIK::USBDevice* dev = device())
        dev->set_chacc_addrlength(static_cast<unsigned char>(std::clamp(n, 0, 6)));
}

void MainWindow::valchanged_framing_addressmatch1(int state)
{
    if (KORVIK::USBDevice* dev = device())
        dev->set_chacc_addrmatch1(state == Qt::Checked);
}

void MainWindow::valchanged_framing_addressmatch2(int state)
{
    if (KORVIK::USBDevice* dev = device())
        dev->set_chacc_addrmatch2(state == Qt::Checked);
}

void MainWindow::valchanged_framing_address1(QString text)
{
    KORVIK::USBDevice* dev = device();
    if (!dev)
        return;
    unsigned char mac[6];
    parse_hex_bytes(text, mac, 6);
    dev->set_chacc_addr1(mac);
}

void MainWindow::valchanged_framing_address2(QString text)
{
    KORVIK::USBDevice* dev = device();
    if (!dev)
        return;
    unsigned char mac[6];
    parse_hex_bytes(text, mac, 6);
    dev->set_chacc_addr2(mac);
}

void MainWindow::click_framing_address1radiomac(bool)
{
    KORVIK::USBDevice* dev = device();
    if (!dev)
        return;
    dev->set_chacc_addr1(dev->get_radio_ethernet_mac());
    dev->set_chacc_addrlength(6);
}

void MainWindow::click_framing_address2radiomac(bool)
{
    KORVIK::USBDevice* dev = device();
    if (!dev)
        return;
    dev->set_chacc_addr2(dev->get_radio_ethernet_mac());
    dev->set_chacc_addrlength(6);
}

// ---- helpers ----

MainWindowSimNewDeviceBind::MainWindowSimNewDeviceBind(MainWindow* window_, const QString& chip_)
    : QObject(window_), window(window_), chip(chip_)
{
}

void MainWindowSimNewDeviceBind::simulate_new_board()
{
    window->simulate_new_board(chip);
}

MainWindowFileDialog::MainWindowFileDialog(MainWindow* window_, bool new_file)
    : QFileDialog(nullptr), window(window_)
{
    setWindowTitle(new_file ? tr("Simulate New File...") : tr("Simulate File..."));
    setNameFilters(QStringList() << tr("XML Files (*.xml)"));
    setup_settings_file_dialog(*this, new_file);
    connect(this, &QDialog::accepted, this, &MainWindowFileDialog::filedialog_ok);
}

void MainWindowFileDialog::quit()
{
    deleteLater();
}

void MainWindowFileDialog::filedialog_ok()
{
    const QStringList files = selectedFiles();
    if (files.size() == 1 && window)
        window->simulate_board(files.front());
}
