#include "ui/MainWindow.h"

#include <algorithm>
#include <iostream>

#include <QAction>
#include <QCloseEvent>
#include <QFileDialog>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QMenu>
#include <QResizeEvent>
#include <QMenuBar>
#include <QPushButton>
#include <QMessageBox>
#include <QStatusBar>
#include <QTableView>
#include <QUndoGroup>
#include <QUndoStack>
#include <QVBoxLayout>
#include <QWhatsThis>

#include <korvik/Servers.h>
#include <korvik/USBDevice.h>

#include "shell/BoardList.h"
#include "shell/EvUSBBoard.h"
#include "ui/AboutDialog.h"
#include "ui/ChannelAccessPage.h"
#include "ui/Confirm.h"
#include "ui/FieldBindings.h"
#include "ui/FramingPage.h"
#include "ui/Mnemonics.h"
#include "ui/PacketTestWindow.h"
#include "ui/PageForms.h"
#include "ui/PreparedTextDelegate.h"
#include "ui/ProgramSettings.h"
#include "ui/RadioPage.h"
#include "ui/RegisterPages.h"
#include "ui/SettingsFileDialog.h"
#include "ui_MainWindow.h"

MainWindow::MainWindow(QObject* application_, QWidget* parent)
    : QMainWindow(parent), application(application_), ui(new Ui::MainWindow)
{
    ui->setupUi(this);
    forms = new PageForms(ui->edittabs);
    // Radio and Framing lead; Channel Access and Device are shown on request
    ui->edittabs->insertTab(0, forms->radio_page, forms->radio_page->windowTitle());
    ui->edittabs->insertTab(1, forms->framing_page, forms->framing_page->windowTitle());
    ui->edittabs->setCurrentIndex(0);
    for (QWidget* page : {forms->chacc_page, forms->device_page}) {
        advanced_pages.emplace_back(page, page->windowTitle());
        page->setEnabled(false);
        page->hide();
    }
    bindings = new FieldBindings(this);
    // table order is refresh order: identity, channel access, radio, framing
    device_page = new DevicePage(forms, *bindings, this);
    chacc_page = new ChannelAccessPage(forms, *bindings, this);
    radio_page = new RadioPage(forms, *bindings, this);
    framing_page = new FramingPage(forms, *bindings, this);
    register_pages = new RegisterPages(ui, *bindings, this);
    undo_group = new QUndoGroup(this);
    connect(bindings, &FieldBindings::status_message, this, [this](const QString& text) { statusBar()->showMessage(text, 15000); });

    ui->devicelist->verticalHeader()->hide();
    ui->devicelist->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    ui->devicelist->setSelectionBehavior(QAbstractItemView::SelectRows);
    ui->devicelist->setSelectionMode(QAbstractItemView::SingleSelection);
    // compact rows: the register and bitfield lists are long
    const int row_height = fontMetrics().height() + 6;
    for (QTableView* table : {ui->devicelist, ui->registertable, ui->bitfieldtable})
        table->verticalHeader()->setDefaultSectionSize(row_height);
    // the CRC and sync word rows come and go with the framing mode; keep the
    // caption column as wide as its widest caption so the mode box stays put
    int caption_width = 0;
    for (QWidget* caption : std::initializer_list<QWidget*>{forms->framing.framing_modelabel, forms->framing.framing_crclabel, forms->framing.framing_preamblelabel})
        caption_width = std::max(caption_width, caption->sizeHint().width());
    forms->framing.framingparamslayout->setColumnMinimumWidth(0, caption_width);
    // the pages' captions break onto a second line where the window is too
    // narrow for them (it must fit a 800x600 screen; see resizeEvent); the
    // splitter's first widths are weights that leave the pages their
    // one-line width at the window's usual 937 pixels
    ui->devicelist->setMinimumWidth(140);
    ui->splitter->setStretchFactor(1, 1);
    ui->splitter->setSizes({268, 646});

    empty_hint = new QLabel(tr("No evaluation boards found. Plug one in, or File > New Chip Settings to simulate one."), this);
    empty_hint->setObjectName(QStringLiteral("emptyhint"));
    empty_hint->setWordWrap(true);
    empty_hint->setAlignment(Qt::AlignCenter);
    empty_hint->setMargin(12);
    if (auto* layout = qobject_cast<QBoxLayout*>(ui->devicelist->parentWidget()->layout()))
        layout->insertWidget(layout->indexOf(ui->devicelist) + 1, empty_hint);

    ui->devicelist->setItemDelegate(new PreparedTextDelegate(ui->devicelist));
    // Tab moves on to the pages instead of walking the list's cells
    ui->devicelist->setTabKeyNavigation(false);
    ui->loadchipdefaults->setText(tr("Load &Chip Defaults"));
    ui->loadboarddefaults->setText(tr("&Load Defaults"));
    ui->saveboarddefaults->setText(tr("&Save Defaults"));

    connect(ui->loadchipdefaults, &QPushButton::clicked, this, &MainWindow::click_loadchipdefaults);
    connect(ui->loadboarddefaults, &QPushButton::clicked, this, &MainWindow::click_loadboarddefaults);
    connect(ui->saveboarddefaults, &QPushButton::clicked, this, &MainWindow::click_saveboarddefaults);
    build_menus();
    QSet<QChar> taken;
    for (QAction* menu : menuBar()->actions())
        taken.insert(mnemonic_of(menu->text()));
    for (QPushButton* button : {ui->loadchipdefaults, ui->loadboarddefaults, ui->saveboarddefaults})
        taken.insert(mnemonic_of(button->text()));
    for (QWidget* page : {forms->radio_page, forms->framing_page, forms->chacc_page, forms->device_page})
        assign_label_mnemonics(page, taken);

    setAttribute(Qt::WA_DeleteOnClose);
    setAttribute(Qt::WA_QuitOnClose);
    set_board(nullptr);
    restore_settings();
    update_empty_hint();
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
    // the pages not shown are no tab's, but still the tab widget's children
    delete forms;
    delete ui;
}

void MainWindow::build_menus()
{
    // the desktop's own keys for the usual entries
    ui->actionSimulateFile->setShortcut(QKeySequence::Open);
    ui->actionSaveFile->setShortcut(QKeySequence::Save);
    ui->actionQuit->setShortcut(QKeySequence::Quit);
    ui->actionHandbook->setShortcut(QKeySequence::HelpContents);
    ui->actionHandbook->setVisible(true);
    ui->actionHandbook->setEnabled(true);
    ui->actionRefresh->setShortcut(QKeySequence::Refresh);
    ui->menuSimulateDevice->setTitle(tr("&New Chip Settings"));
    for (QAction* a : {ui->actionRC800CodeSnippetsStraight, ui->actionCodeSnippetsStraight})
        a->setText(tr("&Straight Code"));
    for (QAction* a : {ui->actionRC800CodeSnippetsTable, ui->actionCodeSnippetsTable})
        a->setText(tr("&Table Driven"));
    for (QAction* a : {ui->actionRC800CodeSnippetsBurstTable, ui->actionCodeSnippetsBurstTable})
        a->setText(tr("&Burst Table"));
    connect(ui->actionQuit, &QAction::triggered, this, &MainWindow::quit);
    connect(ui->actionRefresh, &QAction::triggered, this, &MainWindow::refresh);
    connect(ui->actionSimulateFile, &QAction::triggered, this, qOverload<>(&MainWindow::simulate_board));
    connect(ui->actionHandbook, &QAction::triggered, this, &MainWindow::assistant_requested);
    connect(ui->actionAbout, &QAction::triggered, this, &MainWindow::action_about);
    QAction* packettest = ui->menuWindows->addAction(tr("&Packet Test"));
    packettest->setObjectName("actionPacketTest");
    connect(packettest, &QAction::triggered, this, &MainWindow::open_packet_test);
    ui->actionSimulateFile->setEnabled(true);

    recent_menu = new QMenu(tr("Open R&ecent Chip Settings"), this);
    recent_menu->setObjectName(QStringLiteral("menuRecentFiles"));
    ui->menuFile->insertMenu(ui->menuSimulateDevice->menuAction(), recent_menu);
    remove_board_action = new QAction(tr("Re&move Simulated Board"), this);
    remove_board_action->setObjectName(QStringLiteral("actionRemoveBoard"));
    remove_board_action->setToolTip(tr("Takes the selected simulated board out of the list"));
    ui->menuFile->insertAction(ui->actionLoadFile, remove_board_action);
    ui->menuFile->insertSeparator(ui->actionLoadFile);
    connect(remove_board_action, &QAction::triggered, this, [this]() {
        if (current_board && may_discard({current_board.data()}, tr("Remove it anyway?")))
            Q_EMIT remove_board_requested(current_board);
    });
    update_recent_menu();

    // a capture of a board, replayed as a simulated board that answers as
    // the recorded one did
    QAction* replay = new QAction(tr("Replay &Capture..."), this);
    replay->setObjectName(QStringLiteral("actionReplayCapture"));
    replay->setToolTip(tr("Opens a capture file of a board (korvik capture) as a simulated board"));
    ui->menuFile->insertAction(ui->actionLoadFile, replay);
    connect(replay, &QAction::triggered, this, &MainWindow::replay_capture);

    // boards of a korvikd, local or on another host, listed like the others
    QAction* server = new QAction(tr("Connect to Ser&ver..."), this);
    server->setObjectName(QStringLiteral("actionConnectServer"));
    server->setToolTip(tr("Lists the boards a korvikd serves (unix:PATH, tls://HOST:PORT, tcp://HOST:PORT)"));
    ui->menuFile->insertAction(ui->actionLoadFile, server);
    connect(server, &QAction::triggered, this, &MainWindow::connect_server);
    QAction* unserve = new QAction(tr("&Disconnect from Server..."), this);
    unserve->setObjectName(QStringLiteral("actionDisconnectServer"));
    unserve->setToolTip(tr("Ends the connection to a korvikd; its boards leave the list"));
    ui->menuFile->insertAction(ui->actionLoadFile, unserve);
    connect(unserve, &QAction::triggered, this, &MainWindow::disconnect_server);

    QMenu* edit = new QMenu(tr("&Edit"), this);
    edit->setObjectName(QStringLiteral("menuEdit"));
    menuBar()->insertMenu(ui->menuWindows->menuAction(), edit);
    QAction* undo = undo_group->createUndoAction(this, tr("&Undo"));
    undo->setObjectName(QStringLiteral("actionUndo"));
    undo->setShortcut(QKeySequence(QStringLiteral("Ctrl+Z")));
    QAction* redo = undo_group->createRedoAction(this, tr("&Redo"));
    redo->setObjectName(QStringLiteral("actionRedo"));
    // Ctrl+Y as the program always had it, and the desktop's own redo key
    QList<QKeySequence> redo_keys {QKeySequence(QStringLiteral("Ctrl+Y"))};
    for (const QKeySequence& key : QKeySequence::keyBindings(QKeySequence::Redo))
        if (!redo_keys.contains(key))
            redo_keys << key;
    redo->setShortcuts(redo_keys);
    edit->addAction(undo);
    edit->addAction(redo);

    QMenu* view = new QMenu(tr("&View"), this);
    view->setObjectName(QStringLiteral("menuView"));
    menuBar()->insertMenu(ui->menuWindows->menuAction(), view);
    advanced_action = view->addAction(tr("Show &advanced pages"));
    advanced_action->setObjectName(QStringLiteral("actionAdvancedPages"));
    advanced_action->setCheckable(true);
    advanced_action->setToolTip(tr("Channel Access and Device pages: MAC addresses, serial and channel access"));
    connect(advanced_action, &QAction::toggled, this, &MainWindow::set_advanced_pages_shown);

    QAction* whatsthis = QWhatsThis::createAction(this);
    whatsthis->setText(tr("What's &This?"));
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
}

void MainWindow::restore_settings()
{
    QSettings settings;
    if (settings.contains(settings_key::geometry))
        restoreGeometry(settings.value(settings_key::geometry).toByteArray());
    if (settings.contains(settings_key::state))
        restoreState(settings.value(settings_key::state).toByteArray());
    if (settings.contains(settings_key::splitter))
        ui->splitter->restoreState(settings.value(settings_key::splitter).toByteArray());
    advanced_action->setChecked(settings.value(settings_key::advanced_pages, false).toBool());
}

bool MainWindow::may_discard(const std::vector<EvUSBBoard*>& boards, const QString& question)
{
    QStringList names;
    for (EvUSBBoard* board : boards)
        if (board && board->get_device() && has_unsaved_changes(*board))
            names << QString::fromStdString(board->get_device()->get_display_name());
    if (names.isEmpty())
        return true;
    const QString intro = names.size() == 1 ? tr("This board has settings that are not stored as its defaults:")
                                            : tr("These boards have settings that are not stored as their defaults:");
    return confirm_replace(this, intro + QStringLiteral("\n\n") + names.join(QLatin1Char('\n')) + QStringLiteral("\n\n") + question);
}

void MainWindow::closeEvent(QCloseEvent* event)
{
    std::vector<EvUSBBoard*> listed;
    for (int row = 0; boardlist && row < boardlist->rowCount(); ++row)
        listed.push_back(boardlist->board_at(row));
    if (!may_discard(listed, tr("Quit anyway?"))) {
        event->ignore();
        return;
    }
    QSettings settings;
    settings.setValue(settings_key::geometry, saveGeometry());
    settings.setValue(settings_key::state, saveState());
    settings.setValue(settings_key::splitter, ui->splitter->saveState());
    QMainWindow::closeEvent(event);
}

void MainWindow::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    // the splitter takes a narrower window from the pages, which then break
    // their captions; the list gives way first, down to its least width
    if (event->oldSize().isValid() && event->size().width() >= event->oldSize().width())
        return;
    const QList<int> sizes = ui->splitter->sizes();
    if (sizes.size() != 2)
        return;
    const int move = std::min(ui->rightpane->sizeHint().width() - sizes[1], sizes[0] - ui->leftpane->minimumSizeHint().width());
    if (move > 0)
        ui->splitter->setSizes({sizes[0] - move, sizes[1] + move});
}

void MainWindow::set_advanced_pages_shown(bool shown)
{
    if (advanced_action && advanced_action->isChecked() != shown)
        advanced_action->setChecked(shown); // comes back here through toggled
    QSettings().setValue(settings_key::advanced_pages, shown);
    for (std::size_t i = 0; i < advanced_pages.size(); ++i) {
        QWidget* page = advanced_pages[i].first;
        const int index = ui->edittabs->indexOf(page);
        if (shown && index < 0) {
            ui->edittabs->insertTab(int(2 + i), page, advanced_pages[i].second);
            page->setEnabled(true);
        } else if (!shown && index >= 0) {
            ui->edittabs->removeTab(index);
            page->setEnabled(false);
            page->hide();
        }
    }
}

void MainWindow::add_recent_file(const QString& filename)
{
    QSettings settings;
    QStringList files = settings.value(settings_key::recent_files).toStringList();
    const QString path = QFileInfo(filename).absoluteFilePath();
    files.removeAll(path);
    files.prepend(path);
    while (files.size() > recent_files_kept)
        files.removeLast();
    settings.setValue(settings_key::recent_files, files);
    remember_folder_of(path);
    update_recent_menu();
}

void MainWindow::remove_recent_file(const QString& filename)
{
    QSettings settings;
    QStringList files = settings.value(settings_key::recent_files).toStringList();
    files.removeAll(QFileInfo(filename).absoluteFilePath());
    settings.setValue(settings_key::recent_files, files);
    update_recent_menu();
}

void MainWindow::update_recent_menu()
{
    recent_menu->clear();
    const QStringList files = QSettings().value(settings_key::recent_files).toStringList();
    for (const QString& file : files) {
        QAction* entry = recent_menu->addAction(QFileInfo(file).fileName());
        entry->setToolTip(file);
        connect(entry, &QAction::triggered, this, [this, file]() { simulate_board(file); });
    }
    recent_menu->setEnabled(!files.isEmpty());
}

void MainWindow::update_empty_hint()
{
    empty_hint->setVisible(!boardlist || boardlist->rowCount() == 0);
}

EvUSBBoard* MainWindow::get_current_board() const
{
    return current_board;
}

KORVIK::USBDevice* MainWindow::device() const
{
    return current_board ? current_board->get_device() : nullptr;
}

QUndoStack* MainWindow::undo_stack(EvUSBBoard* board)
{
    if (!board)
        return nullptr;
    // one stack per board, going with it; the group forgets a deleted stack
    QUndoStack* stack = board->undo_stack();
    if (!undo_group->stacks().contains(stack))
        undo_group->addStack(stack);
    return stack;
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
        update_empty_hint();
    });
    connect(model, &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex&, int first, int last) {
        fit_devicelist_rows(first, last);
        update_empty_hint();
    });
    ui->devicelist->resizeColumnsToContents();
    update_empty_hint();
}

void MainWindow::resize_devicelist()
{
    // rows keep the fixed compact height; only the columns follow the names
    ui->devicelist->resizeColumnsToContents();
}

void MainWindow::fit_devicelist_rows(int first, int last)
{
    // widen for the new rows only: measuring every row on each arrival
    // makes adding n boards cost n squared
    if (!boardlist)
        return;
    QHeaderView* header = ui->devicelist->horizontalHeader();
    for (int column = 0; column < boardlist->columnCount(); ++column) {
        int width = header->sectionSize(column);
        for (int row = first; row <= last; ++row)
            width = std::max(width, ui->devicelist->sizeHintForIndex(boardlist->index(row, column)).width() + 1);
        if (width > header->sectionSize(column))
            header->resizeSection(column, width);
    }
}

void MainWindow::select_board(EvUSBBoard* board)
{
    if (boardlist && board && boardlist->row_of(board) >= 0)
        ui->devicelist->selectRow(boardlist->row_of(board));
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
    if (board && board == current_board)
        return;
    for (const QMetaObject::Connection& c : action_connections)
        disconnect(c);
    action_connections.clear();
    current_board = board;
    KORVIK::USBDevice* dev = device();

    register_pages->set_board(dev ? board : nullptr);
    radio_page->set_device(dev);
    framing_page->set_device(dev);
    chacc_page->set_device(dev);
    QUndoStack* stack = dev ? undo_stack(board) : nullptr;
    undo_group->setActiveStack(stack);
    bindings->set_board(dev ? board : nullptr);
    ui->edittabs->setEnabled(dev != nullptr);

    if (dev) {
        action_connections = {
            connect(ui->actionRC800CodeSnippetsStraight, &QAction::triggered, this, &MainWindow::open_rc800_code_snippet_straight_window),
            connect(ui->actionRC800CodeSnippetsTable, &QAction::triggered, this, &MainWindow::open_rc800_code_snippet_table_window),
            connect(ui->actionRC800CodeSnippetsBurstTable, &QAction::triggered, this, &MainWindow::open_rc800_code_snippet_bursttable_window),
            connect(ui->actionCodeSnippetsStraight, &QAction::triggered, this, &MainWindow::open_code_snippet_straight_window),
            connect(ui->actionCodeSnippetsTable, &QAction::triggered, this, &MainWindow::open_code_snippet_table_window),
            connect(ui->actionCodeSnippetsBurstTable, &QAction::triggered, this, &MainWindow::open_code_snippet_bursttable_window),
            connect(ui->actionEvalboardCodeSnippets, &QAction::triggered, board, &EvUSBBoard::open_evalboard_code_snippet_window),
            connect(ui->actionDebugRegisterDump, &QAction::triggered, board, &EvUSBBoard::debug_register_dump),
            connect(ui->actionLoadFile, &QAction::triggered, board, qOverload<>(&EvUSBBoard::load_file)),
            connect(ui->actionSaveFile, &QAction::triggered, board, qOverload<>(&EvUSBBoard::save_file)),
            connect(board, &EvUSBBoard::status_message, this, [this](const QString& text) { statusBar()->showMessage(text, 10000); }),
        };
    }
    update_board_actions();
}

void MainWindow::update_board_actions()
{
    KORVIK::USBDevice* dev = device();
    const bool on = dev != nullptr;
    ui->menuRC800CodeSnippets->setEnabled(on);
    ui->menuCodeSnippets->setEnabled(on);
    for (QAction* a : {ui->actionRC800CodeSnippetsStraight, ui->actionRC800CodeSnippetsTable,
                       ui->actionRC800CodeSnippetsBurstTable, ui->actionCodeSnippetsStraight,
                       ui->actionCodeSnippetsTable, ui->actionCodeSnippetsBurstTable,
                       ui->actionEvalboardCodeSnippets, ui->actionLoadFile, ui->actionSaveFile})
        a->setEnabled(on);
    for (QPushButton* button : {ui->loadchipdefaults, ui->loadboarddefaults, ui->saveboarddefaults})
        button->setEnabled(on);
    const bool simulated = dev && (dev->get_boardflags() & 1);
    ui->actionDebugRegisterDump->setEnabled(on && !simulated);
    remove_board_action->setEnabled(simulated);
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

void MainWindow::replay_capture()
{
    auto* dialog = new QFileDialog(this, tr("Replay Capture"), QString(),
                                   tr("Captures (*.pcapng *.pcap *.cap);;All files (*)"));
    dialog->setObjectName(QStringLiteral("replayCaptureDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::ExistingFile);
    connect(dialog, &QFileDialog::fileSelected, this, [this](const QString& file) {
        Q_EMIT replay_capture_requested(file);
    });
    dialog->show();
}

void MainWindow::connect_server()
{
    auto* dialog = new QInputDialog(this);
    dialog->setObjectName(QStringLiteral("connectServerDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(tr("Connect to Server"));
    dialog->setLabelText(tr("Server: unix:PATH, tls://HOST:PORT?token=TOKEN&ca=FILE, or tcp://HOST:PORT"));
    dialog->setTextValue(QSettings().value(settings_key::last_server, QStringLiteral("unix:/run/korvik/korvikd.sock")).toString());
    connect(dialog, &QInputDialog::textValueSelected, this, [this](const QString& text) {
        const QString uri = text.trimmed();
        if (uri.isEmpty())
            return;
        QSettings().setValue(settings_key::last_server, uri);
        Q_EMIT connect_server_requested(uri);
    });
    dialog->show();
}

void MainWindow::disconnect_server()
{
    QStringList servers;
    for (const std::string& uri : KORVIK::Servers::list())
        servers << QString::fromStdString(uri);
    if (servers.isEmpty()) {
        statusBar()->showMessage(tr("Not connected to any server"), 5000);
        return;
    }
    auto* dialog = new QInputDialog(this);
    dialog->setObjectName(QStringLiteral("disconnectServerDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(tr("Disconnect from Server"));
    dialog->setLabelText(tr("Server:"));
    dialog->setComboBoxItems(servers);
    dialog->setComboBoxEditable(false);
    connect(dialog, &QInputDialog::textValueSelected, this, [this](const QString& uri) {
        // the settings of its boards live in this program: ask before they go
        std::vector<EvUSBBoard*> served;
        for (int row = 0; boardlist && row < boardlist->rowCount(); ++row) {
            EvUSBBoard* board = boardlist->board_at(row);
            if (board && board->get_device() && KORVIK::Servers::server_of(*board->get_device()) == uri.toStdString())
                served.push_back(board);
        }
        if (may_discard(served, tr("Disconnect anyway?")))
            Q_EMIT disconnect_server_requested(uri);
    });
    dialog->show();
}

void MainWindow::simulate_new_board(QString chip)
{
    Q_EMIT simulate_chip_requested(chip);
}

void MainWindow::click_loadchipdefaults(bool)
{
    KORVIK::USBDevice* dev = device();
    if (!dev || (has_unsaved_changes(*current_board) && !confirm_replace(this, tr("The board has settings that are not saved. Load the chip's defaults over them?"))))
        return;
    current_board->load_chipdefaults();
}

void MainWindow::click_loadboarddefaults(bool)
{
    KORVIK::USBDevice* dev = device();
    if (!dev || (has_unsaved_changes(*current_board) && !confirm_replace(this, tr("The board has settings that are not saved. Load the stored defaults over them?"))))
        return;
    current_board->load_boarddefaults();
}

void MainWindow::click_saveboarddefaults(bool)
{
    if (current_board && device()) {
        current_board->store_boarddefaults();
        statusBar()->showMessage(tr("Defaults stored on the board"), 5000);
    }
}

void MainWindow::valchanged_framing_crcinit(QString text)
{
    bindings->write(forms->framing.framing_crcinit, text);
}

void MainWindow::valchanged_chacc_preamble(int bits)
{
    bindings->write(forms->chacc.chacc_preamble, bits);
}

void MainWindow::changed_chacc_preamble()
{
    bindings->refresh(forms->chacc.chacc_preamble, true);
}

void MainWindow::open_packet_test()
{
    // one window, kept while open; closing deletes it and so ends its test
    if (!packet_test) {
        packet_test = new PacketTestWindow(boardlist, this);
        packet_test->setAttribute(Qt::WA_DeleteOnClose);
    }
    packet_test->show();
    packet_test->raise();
    packet_test->activateWindow();
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
    setDirectory(last_folder());
    connect(this, &QDialog::accepted, this, &MainWindowFileDialog::filedialog_ok);
}

void MainWindowFileDialog::quit()
{
    deleteLater();
}

void MainWindowFileDialog::filedialog_ok()
{
    const QStringList files = selectedFiles();
    if (files.size() == 1 && window) {
        remember_folder_of(files.front());
        window->simulate_board(files.front());
    }
}
