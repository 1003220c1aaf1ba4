// The real main window over simulated boards, driven as a user would.
#include <cmath>
#include <functional>
#include <iostream>
#include <set>
#include <sstream>
#include <stdexcept>

#include <QAbstractItemView>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMap>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QSocketNotifier>
#include <QSpinBox>
#include <QSplitter>
#include <QStyledItemDelegate>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <korvik/USBDevice.h>

#include "api/Library.h"
#include "board/EvUSBBoard.h"
#include "board/SimBoard.h"
#include "Application.h"
#include "ProgramTestSupport.h"
#include "shell/BoardList.h"
#include "shell/EvUSBBoard.h"
#include "core/SettingsFile.h"
#include "ui/AboutDialog.h"
#include "ui/BoardWindows.h"
#include "ui/SettingsFileDialog.h"
#include "ui/CodeWindow.h"
#include "ui/MainWindow.h"
#include "ui/SpinBoxDelegate.h"

namespace {

QStringList debug_lines;
QtMessageHandler test_handler = nullptr;

// Keeps the program's debug lines for the tests to read; Qt Test still sees warnings.
void record_messages(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    debug_lines << text;
    if (test_handler && type != QtDebugMsg)
        test_handler(type, context, text);
}

// Collects what the program writes to the standard error stream.
class CaptureStderr {
public:
    CaptureStderr() : previous(std::cerr.rdbuf(buffer.rdbuf())) {}
    ~CaptureStderr() { std::cerr.rdbuf(previous); }
    QString text() const { return QString::fromStdString(buffer.str()); }

private:
    std::ostringstream buffer;
    std::streambuf* previous;
};

// Hz as the carrier fields show it: MHz with six decimals
double in_mhz(double hz)
{
    return std::round(hz) / 1000000.0;
}

int count_lines(const QString& prefix)
{
    int n = 0;
    for (const QString& line : debug_lines)
        if (line.startsWith(prefix))
            ++n;
    return n;
}

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
public:
    explicit MainWindowTest(Application* app) : app(app) {}

private Q_SLOTS:
    void init();
    void cleanup();

    void menu_lists_every_chip();
    void simulating_a_chip_adds_a_configured_row();
    void unknown_chip_shows_a_warning_and_adds_nothing();
    void simulated_board_from_a_settings_file();
    void list_is_sorted_and_shows_columns();
    void equal_serials_sort_by_interface();
    void packets_refresh_only_their_row();
    void list_cells_look_as_the_style_draws_them();
    void selecting_switching_and_deselecting();
    void actions_trigger_once_after_switching();
    void rx_carrier_typed_in_mhz_shows_achieved_frequency();
    void tx_power_steps_through_the_device();
    void typed_bitrate_keeps_its_text_while_others_follow();
    void crystal_edit_keeps_every_hz_and_reapplies_carriers();
    void copy_buttons_carry_settings_across();
    void extreme_values_settle_on_what_the_chip_took();
    void exception_in_a_handler_shows_a_warning();
    void four_fsk_bandwidth_from_modulation_factor();
    void transmitter_units_and_modulation_factor();
    void crc_init_text();
    void sync_word_mask_follows_length();
    void channel_access_preamble_bits_to_bytes();
    void framing_mode_controls_and_warning();
    void transmit_only_chip_disables_receiver();
    void register_pages_show_the_selected_board_and_filter();
    void register_edit_in_hex_reaches_device();
    void bitfield_edit_in_hex_reaches_device();
    void hex_editor_ranges();
    void table_headers_alignment_and_wide_fields();
    void vanished_board_leaves_list_and_is_deleted_once();
    void pump_keeps_notifiers_and_timer();
    void about_text_lists_chips();
    void file_dialog_opens_without_a_board();
    void menus_and_buttons_use_the_programs_own_icons();

private:
    MainWindow* window() const { return app->get_window(); }
    template <class T> T* widget(const char* name) const { return window_widget<T>(*app, name); }
    EvUSBBoard* simulate(const QString& chip) { return simulate_from_menu(*app, chip); }
    EvUSBBoard* simulate_with_serial(const std::string& serial, const QString& chip);
    void select(EvUSBBoard* board);
    void remove_all_boards();
    KORVIK::USBDevice* dev() const { return window()->get_current_board()->get_device(); }
    bool has_model(EvUSBBoard* board) const { return board && !board->get_device()->get_chip_name().empty(); }

    Application* app;
};

void MainWindowTest::init()
{
    QtMessageHandler previous = qInstallMessageHandler(record_messages);
    if (previous != record_messages)
        test_handler = previous;
    debug_lines.clear();
}

void MainWindowTest::cleanup()
{
    remove_all_boards();
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w != window() && (qobject_cast<QMessageBox*>(w) || qobject_cast<QFileDialog*>(w)))
            w->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

EvUSBBoard* MainWindowTest::simulate_with_serial(const std::string& serial, const QString& chip)
{
    std::unique_ptr<KORVIK::USBDevice> handle(
        KORVIK::USBDevice::open_simulation(serial, serial + " (sim)", chip.toStdString(), "40:00:00:00:00:00"));
    return handle ? app->get_boards().find_by_interface(QString::fromStdString(handle->get_interface())) : nullptr;
}

void MainWindowTest::select(EvUSBBoard* board)
{
    auto* list = widget<QTableView>("devicelist");
    if (!board) {
        list->clearSelection();
        return;
    }
    list->selectRow(app->get_boards().row_of(board));
}

void MainWindowTest::remove_all_boards()
{
    BoardList& boards = app->get_boards();
    while (boards.rowCount() > 0) {
        EvUSBBoard* board = boards.board_at(0);
        board->get_device()->get_board()->leave_registry();
        if (boards.board_at(0) == board) // not reported: drop it ourselves
            boards.remove_row(0);
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void MainWindowTest::menu_lists_every_chip()
{
    QStringList expected;
    for (const std::string& chip : KORVIK::USBDevice::get_supported_chips())
        expected << QString::fromStdString(chip);
    QStringList shown;
    for (QAction* a : widget<QMenu>("menuSimulateDevice")->actions())
        shown << a->text();
    QCOMPARE(shown, expected);
    QVERIFY(expected.contains(QStringLiteral("RC1200")));

    // without a board only the board-independent entries act
    QVERIFY(!widget<QTabWidget>("edittabs")->isEnabled());
    QVERIFY(widget<QAction>("actionSimulateFile")->isEnabled());
    QVERIFY(!widget<QAction>("actionLoadFile")->isEnabled());
    QVERIFY(!widget<QAction>("actionSaveFile")->isEnabled());
    QVERIFY(!widget<QMenu>("menuCodeSnippets")->isEnabled());

    // visible pages: Radio, Framing, Registers, Bitfields
    auto* tabs = widget<QTabWidget>("edittabs");
    QStringList titles;
    for (int i = 0; i < tabs->count(); ++i)
        titles << tabs->tabText(i);
    QCOMPARE(titles, QStringList({"Radio", "Framing", "Registers", "Bitfields"}));
    QVERIFY(widget<QWidget>("tabchaccparams"));
    QVERIFY(widget<QWidget>("tabdeviceparams"));

    // help menu: handbook (F1), what's this, separator, about
    const QList<QAction*> help = widget<QMenu>("menuHelp")->actions();
    QCOMPARE(help.size(), 4);
    QCOMPARE(help.at(0)->objectName(), QStringLiteral("actionHandbook"));
    QVERIFY(help.at(0)->isVisible() && help.at(0)->isEnabled());
    QVERIFY(help.at(2)->isSeparator());
    QCOMPARE(help.at(3)->objectName(), QStringLiteral("actionAbout"));
}

void MainWindowTest::simulating_a_chip_adds_a_configured_row()
{
    EvUSBBoard* board = simulate(QStringLiteral("RC1200"));
    QVERIFY(board);
    QCOMPARE(count_lines(QStringLiteral("notify connect: ")), 1);
    KORVIK::USBDevice* d = board->get_device();
    const QString serial = QString::fromStdString(d->get_serial());
    QCOMPARE(serial.size(), 7);
    for (QChar c : serial)
        QVERIFY(c.isDigit());
    QCOMPARE(QString::fromStdString(d->get_display_name()), serial + " (sim)");
    QCOMPARE(QString::fromStdString(d->get_chip_name()), QStringLiteral("RC1200"));

    const unsigned char* eth = d->get_nv_ethernet_mac();
    const unsigned char* radio = d->get_nv_radio_ethernet_mac();
    QCOMPARE(int(eth[0]), 0x40);
    QCOMPARE(int(eth[1]), serial.at(0).digitValue());
    QCOMPARE(int(eth[5]), 0x00);
    QCOMPARE(int(radio[5]), 0x01);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(eth), 5), QByteArray(reinterpret_cast<const char*>(radio), 5));
    // digits 1..6 appear as the hexadecimal-looking bytes 2..4
    QCOMPARE(QString::asprintf("%02X%02X%02X", eth[2], eth[3], eth[4]), serial.mid(1));
}

void MainWindowTest::unknown_chip_shows_a_warning_and_adds_nothing()
{
    const int rows = app->get_boards().rowCount();
    app->simulate_board_from_chip(QStringLiteral("RC9999"));
    QCOMPARE(app->get_boards().rowCount(), rows);
    QMessageBox* box = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* b = qobject_cast<ApplicationInfoBox*>(w); b && b->isVisible())
            box = b;
    QVERIFY(box);
    QCOMPARE(box->windowTitle(), QStringLiteral("Error simulating chip"));
    QVERIFY2(box->text().contains(QStringLiteral("RC9999")), qPrintable(box->text()));
    QCOMPARE(box->icon(), QMessageBox::Warning);
    QVERIFY(!box->isModal());
}

void MainWindowTest::simulated_board_from_a_settings_file()
{
    EvUSBBoard* source = simulate(QStringLiteral("RC1300"));
    KORVIK::USBDevice* s = source->get_device();
    s->set_rx_carrierfrequency(869000000.0);
    s->commit_registers();
    QDomDocument doc = build_settings_document(*s);
    doc.documentElement().setAttribute(QStringLiteral("serial"), QStringLiteral("7000001"));
    QTemporaryDir dir;
    const QString fn = dir.filePath(QStringLiteral("saved.xml"));
    {
        QFile file(fn);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(doc.toByteArray(1));
    }
    window()->simulate_board(fn);
    EvUSBBoard* made = app->get_boards().find_by_serial(QStringLiteral("7000001"));
    QVERIFY(made);
    KORVIK::USBDevice* d = made->get_device();
    // the list names the file, not its folder
    QCOMPARE(QString::fromStdString(d->get_display_name()), QStringLiteral("7000001 (file saved.xml)"));
    QCOMPARE(QString::fromStdString(d->get_chip_name()), QStringLiteral("RC1300"));
    QCOMPARE(d->get_rx_carrierfrequency(), s->get_rx_carrierfrequency());
    // the file became the board's stored defaults
    for (unsigned r = 0; r < d->get_registers(); ++r)
        QCOMPARE(d->get_register_nvvalue(r), d->get_register_chipvalue(r));

    // a broken file adds nothing and says why
    const int rows = app->get_boards().rowCount();
    {
        QFile file(fn);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("<evusb><chip></evusb>");
    }
    app->simulate_board_from_file(fn);
    QCOMPARE(app->get_boards().rowCount(), rows);
    ApplicationInfoBox* box = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* b = qobject_cast<ApplicationInfoBox*>(w); b && b->isVisible())
            box = b;
    QVERIFY(box);
    QCOMPARE(box->windowTitle(), QStringLiteral("Error reading XML file"));
    QVERIFY2(box->text().startsWith(QStringLiteral("Cannot open %1 as a simulated board.").arg(QFileInfo(fn).fileName())), qPrintable(box->text()));
}

void MainWindowTest::list_is_sorted_and_shows_columns()
{
    EvUSBBoard* mid = simulate_with_serial("0123456", QStringLiteral("RC1200"));
    EvUSBBoard* last = simulate_with_serial("1000000", QStringLiteral("RC1200"));
    EvUSBBoard* first = simulate_with_serial("012345", QStringLiteral("RC1200"));
    QVERIFY(mid && last && first);
    BoardList& boards = app->get_boards();
    QCOMPARE(boards.rowCount(), 3);
    QCOMPARE(boards.board_at(0), first);
    QCOMPARE(boards.board_at(1), mid);
    QCOMPARE(boards.board_at(2), last);
    QCOMPARE(boards.add_board(mid), -1);
    QCOMPARE(boards.add_board(nullptr), -1);
    QCOMPARE(boards.rowCount(), 3);

    const QStringList headers = {"USB Eval Boards", "Chip", "Interface", "Rx Pkt", "Tx Pkt"};
    QCOMPARE(boards.columnCount(), 5);
    for (int c = 0; c < 5; ++c)
        QCOMPARE(boards.headerData(c, Qt::Horizontal).toString(), headers.at(c));
    QVERIFY(!boards.headerData(0, Qt::Vertical).isValid());

    KORVIK::USBDevice* d = mid->get_device();
    QCOMPARE(boards.data(boards.index(1, 0)).toString(), QStringLiteral("0123456 (sim)"));
    QCOMPARE(boards.data(boards.index(1, 1)).toString(), QStringLiteral("RC1200"));
    QCOMPARE(boards.data(boards.index(1, 2)).toString(), QString::fromStdString(d->get_interface()));
    const QString rx = d->is_net_up() ? QString::number(d->get_rx_pkt_count()) : QStringLiteral("--");
    QCOMPARE(boards.data(boards.index(1, 3)).toString(), rx);
    QCOMPARE(boards.data(boards.index(1, 3), Qt::TextAlignmentRole).value<Qt::Alignment>(), Qt::AlignRight | Qt::AlignVCenter);
    QCOMPARE(boards.data(boards.index(1, 0), Qt::TextAlignmentRole).value<Qt::Alignment>(), Qt::AlignLeft | Qt::AlignVCenter);
    QVERIFY(!boards.data(boards.index(7, 0)).isValid());

    // the name column fits its longest name, also once that board has gone
    auto* list = widget<QTableView>("devicelist");
    const int narrow = list->columnWidth(0);
    std::unique_ptr<KORVIK::USBDevice> wide(KORVIK::USBDevice::open_simulation(
        "2000000", "2000000 a board with a much longer display name (sim)", "RC1200", "40:00:00:00:00:00"));
    QVERIFY(wide);
    QVERIFY(list->columnWidth(0) > narrow);
    wide->get_board()->leave_registry();
    wide.reset();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(list->columnWidth(0), narrow);

    QCOMPARE(boards.find_by_serial(QStringLiteral("1000000")), last);
    QCOMPARE(boards.row_of_serial(QStringLiteral("nope")), -1);
    QCOMPARE(boards.row_of_interface(QString::fromStdString(d->get_interface())), 1);

    QSignalSpy changed(&boards, &QAbstractItemModel::dataChanged);
    boards.packets_changed(1);
    boards.packets_changed(9);
    QCOMPARE(changed.size(), 1);
    QCOMPARE(changed.at(0).at(0).toModelIndex(), boards.index(1, 3));
    QCOMPARE(changed.at(0).at(1).toModelIndex(), boards.index(1, 4));
}

namespace {

// Where each shown cell of a list has its text: the box of the pixels that
// differ clearly from the cell's background.
QList<QRect> ink_boxes(QTableView* list)
{
    const QImage shown = list->viewport()->grab().toImage();
    QList<QRect> boxes;
    for (int row = 0; row < list->model()->rowCount(); ++row)
        for (int column = 0; column < list->model()->columnCount(); ++column) {
            const QRect cell = list->visualRect(list->model()->index(row, column)).adjusted(1, 1, -2, -2) & shown.rect();
            const QColor ground = shown.pixelColor(cell.topLeft());
            QRect box;
            for (int y = cell.top(); y <= cell.bottom(); ++y)
                for (int x = cell.left(); x <= cell.right(); ++x) {
                    const QColor c = shown.pixelColor(x, y);
                    if (qAbs(c.red() - ground.red()) + qAbs(c.green() - ground.green()) + qAbs(c.blue() - ground.blue()) > 150)
                        box |= QRect(x, y, 1, 1);
                }
            boxes << box;
        }
    return boxes;
}

} // namespace

void MainWindowTest::list_cells_look_as_the_style_draws_them()
{
    // the list draws its cells' text itself: where, in what colour and cut
    // as the style would, whatever the font or the column width
    EvUSBBoard* a = simulate_with_serial("0000011", QStringLiteral("RC1200"));
    std::unique_ptr<KORVIK::USBDevice> wide(KORVIK::USBDevice::open_simulation(
        "0000012", "0000012 a board with a much longer display name (sim)", "RC1300", "40:00:00:00:00:00"));
    QVERIFY(a && wide);
    select(a);
    auto* list = widget<QTableView>("devicelist");
    const QSize size = window()->size();
    const QList<int> split = widget<QSplitter>("splitter")->sizes();
    window()->resize(1600, 700); // room for every column
    widget<QSplitter>("splitter")->setSizes({1000, 600});
    QAbstractItemDelegate* own = list->itemDelegate();
    QStyledItemDelegate style_drawn;
    QFont large = list->font();
    large.setPointSizeF(large.pointSizeF() * 1.8);
    const std::vector<std::pair<const char*, std::function<void()>>> cases = {
        {"as listed", [] {}},
        {"name column too narrow, cut with an ellipsis", [&] { list->setColumnWidth(0, list->columnWidth(0) / 2); }},
        {"a larger font", [&] { list->setFont(large); list->resizeColumnsToContents(); }},
    };
    for (const auto& [what, change] : cases) {
        change();
        QCoreApplication::processEvents();
        const QList<QRect> ours = ink_boxes(list);
        list->setItemDelegate(&style_drawn);
        const QList<QRect> theirs = ink_boxes(list);
        list->setItemDelegate(own);
        QCOMPARE(ours.size(), theirs.size());
        for (int i = 0; i < ours.size(); ++i) {
            const QRect& o = ours[i];
            const QRect& t = theirs[i];
            QVERIFY2(o.isEmpty() == t.isEmpty() && qAbs(o.left() - t.left()) <= 1 && qAbs(o.right() - t.right()) <= 1
                         && qAbs(o.top() - t.top()) <= 1 && qAbs(o.bottom() - t.bottom()) <= 1,
                     qPrintable(QString("%1, cell %2").arg(what).arg(i)));
        }
        QVERIFY2(std::count_if(theirs.begin(), theirs.end(), [](const QRect& r) { return !r.isEmpty(); }) >= 6, what);
    }
    list->setFont(QFont());
    window()->resize(size);
    widget<QSplitter>("splitter")->setSizes(split);
    wide->get_board()->leave_registry();
}

void MainWindowTest::packets_refresh_only_their_row()
{
    EvUSBBoard* a = simulate_with_serial("0000001", QStringLiteral("RC1200"));
    EvUSBBoard* b = simulate_with_serial("0000002", QStringLiteral("RC1200"));
    QVERIFY(a && b);
    BoardList& boards = app->get_boards();
    const int row = boards.row_of(b);
    QTest::qWait(250); // counts announced earlier are through
    QSignalSpy changed(&boards, &QAbstractItemModel::dataChanged);
    QSignalSpy received(b, &EvUSBBoard::new_packet);
    QSignalSpy sent(b, &EvUSBBoard::new_transmit_packet);
    QSignalSpy other(a, &EvUSBBoard::new_packet);
    const uint8_t packet[3] = {1, 2, 3};
    const uint8_t mac[6] = {0x40, 0, 0, 0, 0, 1};
    b->get_device()->get_board()->signal_receive.emit(packet, 3, mac, -70, 1200);
    QCOMPARE(changed.size(), 1);
    QCOMPARE(changed.at(0).at(0).toModelIndex(), boards.index(row, 3));
    QCOMPARE(changed.at(0).at(1).toModelIndex(), boards.index(row, 4));
    QCOMPARE(received.size(), 1);
    QCOMPARE(received.at(0).at(1).toUInt(), 3u);
    QCOMPARE(received.at(0).at(3).value<int16_t>(), int16_t(-70));
    QCOMPARE(received.at(0).at(4).value<int32_t>(), 1200);
    QCOMPARE(other.size(), 0);
    // the next count within a fifth of a second follows together with any others
    b->get_device()->get_board()->signal_transmit.emit(packet, 3, mac);
    b->get_device()->get_board()->signal_transmit.emit(packet, 3, mac);
    QCOMPARE(changed.size(), 1);
    QTRY_COMPARE(changed.size(), 2);
    QCOMPARE(changed.at(1).at(0).toModelIndex(), boards.index(row, 3));
    QCOMPARE(sent.size(), 2);
}

void MainWindowTest::equal_serials_sort_by_interface()
{
    // boards outside the registry, so serials may repeat
    auto make = [](const char* serial, const char* iface) {
        auto* board = new KORVIK::SimBoard(serial, iface, std::string(serial) + " (sim)", "RC1200", "40:00:00:00:00:00",
                                           KORVIK::Library::instance());
        return new EvUSBBoard(nullptr, new KORVIK::USBDevice(board));
    };
    QPointer<EvUSBBoard> b1 = make("0123456", "tsim1");
    QPointer<EvUSBBoard> b0 = make("0123456", "tsim0");
    QPointer<EvUSBBoard> shorter = make("012345", "tsim2");
    {
        BoardList list;
        QCOMPARE(list.add_board(b1), 0);
        QCOMPARE(list.add_board(b0), 0);
        QCOMPARE(list.add_board(shorter), 0);
        QCOMPARE(list.board_at(0), shorter.data());
        QCOMPARE(list.board_at(1), b0.data());
        QCOMPARE(list.board_at(2), b1.data());
        QCOMPARE(list.find_by_serial(QStringLiteral("0123456")), b0.data());
        list.remove_row(5);
        list.remove_row(-1);
        QCOMPARE(list.rowCount(), 3);
    }
    // the list owned them
    QVERIFY(!b0 && !b1 && !shorter);
}

void MainWindowTest::selecting_switching_and_deselecting()
{
    EvUSBBoard* a = simulate(QStringLiteral("RC1200"));
    EvUSBBoard* b = simulate(QStringLiteral("RC1300"));
    QVERIFY(a && b);
    select(a);
    QCOMPARE(window()->get_current_board(), a);
    QVERIFY(widget<QTabWidget>("edittabs")->isEnabled());
    QVERIFY(widget<QAction>("actionSaveFile")->isEnabled());
    // simulated boards keep the register dump off
    QVERIFY(!widget<QAction>("actionDebugRegisterDump")->isEnabled());

    auto combo_items = [](QComboBox* c) {
        QStringList items;
        for (int i = 0; i < c->count(); ++i)
            items << c->itemText(i);
        return items;
    };
    auto as_list = [](const std::list<std::string>& l) {
        QStringList items;
        for (const std::string& s : l)
            items << QString::fromStdString(s);
        return items;
    };
    auto check_combos = [&](EvUSBBoard* board) {
        KORVIK::USBDevice* d = board->get_device();
        QCOMPARE(combo_items(widget<QComboBox>("radio_rxmodulation")), as_list(d->get_supported_modulations()));
        QCOMPARE(combo_items(widget<QComboBox>("radio_txmodulation")), as_list(d->get_supported_modulations()));
        QCOMPARE(combo_items(widget<QComboBox>("framing_mode")), as_list(d->get_supported_framingmodes()));
        QCOMPARE(combo_items(widget<QComboBox>("framing_crcmode")), as_list(d->get_supported_crcmodes()));
        QCOMPARE(combo_items(widget<QComboBox>("radio_rxbtr")), as_list(d->get_supported_rx_btr_settings()));
        QCOMPARE(widget<QComboBox>("framing_mode")->currentIndex(), d->get_framingmode());
        QCOMPARE(widget<QDoubleSpinBox>("radio_rxfreq")->value(), in_mhz(d->get_rx_carrierfrequency()));
        QCOMPARE(widget<QDoubleSpinBox>("radio_txfreq")->value(), in_mhz(d->get_tx_carrierfrequency()));
        QVERIFY(show_page(*app, "Registers"));
        QCOMPARE(widget<QTableView>("registertable")->model(), board->register_model());
        QVERIFY(show_page(*app, "Bitfields"));
        QCOMPARE(widget<QTableView>("bitfieldtable")->model(), board->bitfield_model());
        QVERIFY(show_page(*app, "Radio"));
    };
    check_combos(a);
    select(b);
    QCOMPARE(window()->get_current_board(), b);
    check_combos(b);

    // the old board no longer drives the window
    a->get_device()->set_rx_carrierfrequency(433000000.0);
    a->get_device()->commit_registers();
    QCOMPARE(widget<QDoubleSpinBox>("radio_rxfreq")->value(), in_mhz(b->get_device()->get_rx_carrierfrequency()));

    select(nullptr);
    QCOMPARE(window()->get_current_board(), static_cast<EvUSBBoard*>(nullptr));
    QVERIFY(!widget<QTabWidget>("edittabs")->isEnabled());
    QVERIFY(!widget<QAction>("actionSaveFile")->isEnabled());
    QCOMPARE(widget<QComboBox>("framing_mode")->count(), 0);
}

void MainWindowTest::actions_trigger_once_after_switching()
{
    EvUSBBoard* a = simulate(QStringLiteral("RC1200"));
    EvUSBBoard* b = simulate(QStringLiteral("RC1200"));
    select(a);
    select(b);
    select(a);
    widget<QAction>("actionSaveFile")->trigger();
    int dialogs = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* d = qobject_cast<EvUSBFileDialog*>(w); d && d->isVisible()) {
            ++dialogs;
            QCOMPARE(d->windowTitle(), QStringLiteral("Save File..."));
        }
    QCOMPARE(dialogs, 1);

    // a snippet action opens the selected board's window, once, and reuses it
    auto code_windows = []() {
        int n = 0;
        for (QWidget* w : QApplication::topLevelWidgets())
            n += qobject_cast<CodeWindow*>(w) != nullptr;
        return n;
    };
    const int before = code_windows();
    widget<QAction>("actionCodeSnippetsTable")->trigger();
    QCOMPARE(code_windows(), before + 1);
    CodeWindow* window_a = BoardWindows::of(a)->find_code_window(EvUSBBoard::TargetSPI, 2);
    QVERIFY(window_a && window_a->isVisible());
    QVERIFY(!BoardWindows::of(b)->find_code_window(EvUSBBoard::TargetSPI, 2));
    QVERIFY(window_a->text().contains(QStringLiteral("spi_write_table(transceiver_reg_init);")));
    QVERIFY(window_a->windowTitle().endsWith(QString::fromStdString(a->get_device()->get_display_name())));
    window_a->set_text(QString());
    window_a->close();
    widget<QAction>("actionCodeSnippetsTable")->trigger();
    QCOMPARE(code_windows(), before + 1);
    QCOMPARE(BoardWindows::of(a)->find_code_window(EvUSBBoard::TargetSPI, 2), window_a);
    QVERIFY(window_a->isVisible());
    QVERIFY(!window_a->text().isEmpty());
    widget<QAction>("actionRC800CodeSnippetsBurstTable")->trigger();
    QVERIFY(BoardWindows::of(a)->find_code_window(EvUSBBoard::TargetRC800, 4)->text().contains(QStringLiteral("reg_write_bursttable(transceiver_reg_burstinit);")));
    QCOMPARE(code_windows(), before + 2);
}

void MainWindowTest::rx_carrier_typed_in_mhz_shows_achieved_frequency()
{
    select(simulate(QStringLiteral("RC1200")));
    auto* field = widget<QDoubleSpinBox>("radio_rxfreq");
    widget<QTabWidget>("edittabs")->setCurrentIndex(0);
    window()->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window()));
    field->setFocus();
    QVERIFY(field->hasFocus());
    field->selectAll();
    const double before = dev()->get_rx_carrierfrequency();
    QTest::keyClicks(field, QStringLiteral("434.0"));
    // nothing goes out while typing: "4", "43", "434" are no carriers
    QCOMPARE(dev()->get_rx_carrierfrequency(), before);
    QTest::keyClick(field, Qt::Key_Return);
    // the typed value went out in Hz
    QVERIFY2(std::fabs(dev()->get_rx_carrierfrequency() - 434000000.0) < 50.0,
             qPrintable(QString::number(dev()->get_rx_carrierfrequency())));
    QCOMPARE(field->value(), in_mhz(dev()->get_rx_carrierfrequency()));

    // out of range input is clamped by the field, never sent as typed
    field->selectAll();
    QTest::keyClicks(field, QStringLiteral("5000"));
    QVERIFY(field->value() <= 2999.0);
    Q_EMIT field->editingFinished();
    QCOMPARE(field->value(), in_mhz(dev()->get_rx_carrierfrequency()));
}

void MainWindowTest::tx_power_steps_through_the_device()
{
    select(simulate(QStringLiteral("RC1200")));
    auto* power = widget<QDoubleSpinBox>("radio_txpower");
    const double before = dev()->get_tx_power();
    power->stepBy(-1);
    QCOMPARE(power->value(), dev()->get_tx_power());
    QVERIFY(dev()->get_tx_power() <= before);
    power->setValue(-3.0);
    Q_EMIT power->editingFinished();
    QCOMPARE(power->value(), dev()->get_tx_power());
}

void MainWindowTest::typed_bitrate_keeps_its_text_while_others_follow()
{
    select(simulate(QStringLiteral("RC1200")));
    auto* bitrate = widget<QDoubleSpinBox>("radio_rxbitrate");
    auto* bandwidth = widget<QDoubleSpinBox>("radio_rxbandwidth");
    auto* h = widget<QDoubleSpinBox>("radio_rxh");
    widget<QTabWidget>("edittabs")->setCurrentIndex(0);
    window()->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window()));
    bitrate->setFocus();
    bitrate->selectAll();
    const double before = dev()->get_rx_bitrate();
    QTest::keyClicks(bitrate, QStringLiteral("37.5"));
    // the typed text waits for Enter; the chip keeps its bitrate meanwhile
    QCOMPARE(dev()->get_rx_bitrate(), before);
    QTest::keyClick(bitrate, Qt::Key_Return);
    QVERIFY(std::fabs(dev()->get_rx_bitrate() - 37500.0) < 0.05 * 37500.0);
    // the fields the edit moved along show the device
    QCOMPARE(bandwidth->value(), std::round(dev()->get_rx_bandwidth()) / 1000.0);
    QCOMPARE(h->value(), std::round((dev()->get_rx_bandwidth() / dev()->get_rx_bitrate() - 1.0) * 100.0) / 100.0);
    QCOMPARE(bitrate->value(), std::round(dev()->get_rx_bitrate()) / 1000.0);
}

void MainWindowTest::extreme_values_settle_on_what_the_chip_took()
{
    for (const char* chip : {"RC1200", "RC1300"}) {
        EvUSBBoard* board = simulate(QString::fromLatin1(chip));
        if (!has_model(board))
            continue;
        select(board);
        auto* rxfreq = widget<QDoubleSpinBox>("radio_rxfreq");
        auto* rxbitrate = widget<QDoubleSpinBox>("radio_rxbitrate");
        auto* txbitrate = widget<QDoubleSpinBox>("radio_txbitrate");
        auto* txhalfdev = widget<QDoubleSpinBox>("radio_txhalfdev");
        auto* rxbandwidth = widget<QDoubleSpinBox>("radio_rxbandwidth");
        auto* iffreq = widget<QDoubleSpinBox>("radio_iffreq");
        auto* power = widget<QDoubleSpinBox>("radio_txpower");
        for (QDoubleSpinBox* field : {rxfreq, rxbitrate, txbitrate, txhalfdev, rxbandwidth, iffreq, power}) {
            for (double v : {field->minimum(), field->maximum()}) {
                field->setValue(v);
                const KORVIK::USBDevice* d = dev();
                const QString what = QStringLiteral("%1 %2 = %3").arg(QLatin1String(chip), field->objectName()).arg(v);
                QVERIFY2(std::isfinite(field->value()), qPrintable(what));
                QCOMPARE(rxfreq->value(), in_mhz(d->get_rx_carrierfrequency()));
                QCOMPARE(rxbitrate->value(), std::round(d->get_rx_bitrate()) / 1000.0);
                QCOMPARE(txbitrate->value(), std::round(d->get_tx_bitrate()) / 1000.0);
                QCOMPARE(rxbandwidth->value(), std::round(d->get_rx_bandwidth()) / 1000.0);
                QCOMPARE(power->value(), std::round(d->get_tx_power() * 10.0) / 10.0);
            }
        }
    }
}

void MainWindowTest::exception_in_a_handler_shows_a_warning()
{
    class Throwing : public QObject {
    public:
        bool event(QEvent* e) override
        {
            if (e->type() == QEvent::User)
                throw std::runtime_error("board went away during the exchange");
            return QObject::event(e);
        }
    } target;
    QCoreApplication::postEvent(&target, new QEvent(QEvent::User));
    QCoreApplication::sendPostedEvents(&target, QEvent::User);
    ApplicationInfoBox* box = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* b = qobject_cast<ApplicationInfoBox*>(w); b && b->isVisible())
            box = b;
    QVERIFY(box);
    QCOMPARE(box->text(), QStringLiteral("board went away during the exchange"));
    QCOMPARE(box->icon(), QMessageBox::Warning);
    QVERIFY(!box->isModal());
    QVERIFY(window()->isVisible());
}

void MainWindowTest::four_fsk_bandwidth_from_modulation_factor()
{
    EvUSBBoard* board = simulate(QStringLiteral("RC1400"));
    if (!has_model(board))
        QSKIP("no RC1400 model yet");
    select(board);
    int fourfsk = -1;
    for (int m = 0; m < widget<QComboBox>("radio_rxmodulation")->count(); ++m)
        if (dev()->is_modulation_4fsk(m))
            fourfsk = m;
    if (fourfsk < 0)
        QSKIP("no 4-FSK modulation offered");
    auto* modulation = widget<QComboBox>("radio_rxmodulation");
    modulation->setCurrentIndex(fourfsk);
    Q_EMIT modulation->activated(fourfsk);
    QCOMPARE(dev()->get_rx_modulation(), fourfsk);

    widget<QDoubleSpinBox>("radio_rxbitrate")->setValue(10.0);
    auto* h = widget<QDoubleSpinBox>("radio_rxh");
    h->setValue(0.0);
    h->setValue(0.5);
    // 10 kbit/s x (1 + 3 x 0.5)
    QVERIFY2(std::fabs(dev()->get_rx_bandwidth() - 25000.0) < 1.0, qPrintable(QString::number(dev()->get_rx_bandwidth())));
    Q_EMIT h->editingFinished();
    const double w = dev()->get_rx_bandwidth(), b = dev()->get_rx_bitrate();
    QCOMPARE(h->value(), std::round((w / b - 1.0) / 3.0 * 100.0) / 100.0);
    QCOMPARE(h->value(), 0.5);
    QCOMPARE(widget<QDoubleSpinBox>("radio_rxbandwidth")->value(), std::round(w) / 1000.0);
}

void MainWindowTest::transmitter_units_and_modulation_factor()
{
    select(simulate(QStringLiteral("RC1200")));
    KORVIK::USBDevice* d = dev();
    auto* modulation = widget<QComboBox>("radio_txmodulation");
    for (int m = 0; m < modulation->count(); ++m)
        if (modulation->itemText(m) == QStringLiteral("FSK")) {
            modulation->setCurrentIndex(m);
            Q_EMIT modulation->activated(m);
        }
    auto* bitrate = widget<QDoubleSpinBox>("radio_txbitrate");
    auto* h = widget<QDoubleSpinBox>("radio_txh");
    auto* halfdev = widget<QDoubleSpinBox>("radio_txhalfdev");
    auto near = [](double got, double want) { return std::fabs(got - want) <= 0.03 * want; };

    // kbit/s in, bit/s out; the factor carries the deviation along
    h->setValue(1.0);
    bitrate->setValue(20.0);
    QVERIFY2(near(d->get_tx_bitrate(), 20000.0), qPrintable(QString::number(d->get_tx_bitrate())));
    QVERIFY2(near(d->get_tx_deviation(), d->get_tx_bitrate()), qPrintable(QString::number(d->get_tx_deviation())));
    // half the deviation in kHz is the full deviation in Hz over two thousand
    halfdev->setValue(5.0);
    QVERIFY2(near(d->get_tx_deviation(), 10000.0), qPrintable(QString::number(d->get_tx_deviation())));
    Q_EMIT halfdev->editingFinished();
    QCOMPARE(halfdev->value(), std::round(d->get_tx_deviation() * 0.5) / 1000.0);
    QCOMPARE(h->value(), std::round(d->get_tx_deviation() / d->get_tx_bitrate() * 100.0) / 100.0);
    // the factor times the bitrate is the deviation
    h->setValue(2.0);
    QVERIFY2(near(d->get_tx_deviation(), 2.0 * d->get_tx_bitrate()), qPrintable(QString::number(d->get_tx_deviation())));
    QCOMPARE(halfdev->value(), std::round(d->get_tx_deviation() * 0.5) / 1000.0);

    // the receiver: kHz of bandwidth, and the factor derived from it
    auto* bandwidth = widget<QDoubleSpinBox>("radio_rxbandwidth");
    bandwidth->setValue(100.0);
    QVERIFY2(near(d->get_rx_bandwidth(), 100000.0), qPrintable(QString::number(d->get_rx_bandwidth())));
    QCOMPARE(widget<QDoubleSpinBox>("radio_rxh")->value(),
             std::round((d->get_rx_bandwidth() / d->get_rx_bitrate() - 1.0) * 100.0) / 100.0);
}

void MainWindowTest::crc_init_text()
{
    select(simulate(QStringLiteral("RC1200")));
    auto* field = widget<QLineEdit>("framing_crcinit");
    window()->valchanged_framing_crcinit(QStringLiteral("12 34"));
    QCOMPARE(dev()->get_crcinit(), 0x1234u);
    QCOMPARE(field->text().remove(QLatin1Char(' ')), QStringLiteral("00001234"));

    CaptureStderr err;
    window()->valchanged_framing_crcinit(QStringLiteral("    "));
    QCOMPARE(dev()->get_crcinit(), 0x1234u);
    QVERIFY2(err.text().contains(QStringLiteral("valchanged_framing_crcinit: invalid text: \"    \"")), qPrintable(err.text()));
    QCOMPARE(field->text().remove(QLatin1Char(' ')), QStringLiteral("00001234"));

    // typing into the masked field goes the same way, key by key
    field->setText(QStringLiteral("ABCD0001"));
    Q_EMIT field->editingFinished();
    QCOMPARE(dev()->get_crcinit(), 0xABCD0001u);
    auto* mode = widget<QComboBox>("framing_mode");
    for (int m = 0; m < mode->count() && !dev()->is_framingmode_hdlc(); ++m)
        Q_EMIT mode->activated(m);
    QVERIFY(field->isEnabled());
    widget<QTabWidget>("edittabs")->setCurrentIndex(1);
    window()->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window()));
    field->setFocus();
    field->setCursorPosition(0);
    QTest::keyClicks(field, QStringLiteral("12345678"));
    QTest::keyClick(field, Qt::Key_Return);
    QCOMPARE(dev()->get_crcinit(), 0x12345678u);
    QCOMPARE(field->text(), QStringLiteral("1234 5678"));
}

void MainWindowTest::sync_word_mask_follows_length()
{
    auto* length = widget<QSpinBox>("framing_preamblelength");
    auto* pattern = widget<QLineEdit>("framing_preamblepattern");
    bool tested = false;
    for (const std::string& chip : KORVIK::USBDevice::get_supported_chips()) {
        EvUSBBoard* board = simulate(QString::fromStdString(chip));
        if (!has_model(board))
            continue;
        select(board);
        length->setValue(length->value() == 13 ? 12 : 13);
        length->setValue(13);
        // a chip may round up to whole nibbles; 13 bits still need four digits
        const unsigned taken = dev()->get_preamble_length();
        if (taken < 13 || taken > 16)
            continue;
        tested = true;
        QCOMPARE(length->value(), int(taken));
        QCOMPARE(pattern->inputMask(), QStringLiteral("hhhh;_"));
        QCOMPARE(pattern->text().size(), 4);
        QCOMPARE(pattern->text().toUInt(nullptr, 16), dev()->get_preamble());
        length->setValue(32);
        if (dev()->get_preamble_length() == 32) {
            QCOMPARE(pattern->inputMask(), QStringLiteral("hhhhhhhh;_"));
            pattern->setText(QStringLiteral("1234ABCD"));
            Q_EMIT pattern->editingFinished();
            QCOMPARE(dev()->get_preamble(), 0x1234ABCDu);
            QCOMPARE(pattern->text(), QStringLiteral("1234ABCD"));
        }
        break;
    }
    if (!tested)
        QSKIP("no chip takes a 13-bit sync word");
}

void MainWindowTest::channel_access_preamble_bits_to_bytes()
{
    select(simulate(QStringLiteral("RC1200")));
    const std::pair<int, unsigned> cases[] = {{2040, 255}, {1, 1}, {8, 1}, {9, 2}, {0, 0}, {-5, 0}, {5000, 255}};
    for (const auto& c : cases) {
        window()->valchanged_chacc_preamble(c.first);
        QCOMPARE(dev()->get_chacc_preamble(), c.second);
    }
    window()->valchanged_chacc_preamble(32);
    window()->changed_chacc_preamble();
    QCOMPARE(widget<QSpinBox>("chacc_preamble")->value(), 32);
}

void MainWindowTest::framing_mode_controls_and_warning()
{
    select(simulate(QStringLiteral("RC1200")));
    auto* mode = widget<QComboBox>("framing_mode");
    bool saw_hidden_crc = false, saw_warning = false;
    dev()->set_chacc_addrmatch1(false);
    dev()->set_chacc_addrmatch2(false);
    widget<QTabWidget>("edittabs")->setCurrentIndex(1);
    std::set<int> mode_x; // where the mode box sits, whichever rows are shown
    for (int m = 0; m < mode->count(); ++m) {
        mode->setCurrentIndex(m);
        Q_EMIT mode->activated(m);
        QCoreApplication::processEvents();
        mode_x.insert(mode->mapTo(window(), QPoint()).x());
        QCOMPARE(dev()->get_framingmode(), m);
        const bool hdlc = dev()->is_framingmode_hdlc();
        const bool match = dev()->is_framingmode_rawpreamblematch();
        QCOMPARE(!widget<QWidget>("framing_crclabel")->isHidden(), hdlc);
        QCOMPARE(!widget<QWidget>("framing_crcinit")->isHidden(), hdlc);
        QCOMPARE(!widget<QWidget>("framing_preamblepattern")->isHidden(), match);
        QCOMPARE(widget<QWidget>("framing_preamblelength")->isEnabled(), match);
        const bool warn = dev()->is_framingmode_hdlc_fec();
        QCOMPARE(!widget<QWidget>("framing_messagetext")->isHidden(), warn);
        QCOMPARE(!widget<QWidget>("framing_messageicon")->isHidden(), warn);
        const char* encodings[] = {"framing_invert", "framing_diff", "framing_scrambler", "framing_manchester"};
        for (int bit = 0; bit < 4; ++bit)
            QCOMPARE(widget<QWidget>(encodings[bit])->testAttribute(Qt::WA_ForceDisabled),
                     warn || !(dev()->get_supported_encodingmodes() & (1u << bit)));
        saw_hidden_crc |= !hdlc;
        saw_warning |= warn;
        if (warn) {
            // an address match silences the warning
            dev()->set_chacc_addrmatch1(true);
            QVERIFY(widget<QWidget>("framing_messagetext")->isHidden());
            dev()->set_chacc_addrmatch1(false);
            QVERIFY(!widget<QWidget>("framing_messagetext")->isHidden());
        }
    }
    QVERIFY(saw_hidden_crc);
    QVERIFY(saw_warning);
    QCOMPARE(mode_x.size(), size_t(1));
    select(nullptr);
    QVERIFY(widget<QWidget>("framing_messagetext")->isHidden());
}

void MainWindowTest::transmit_only_chip_disables_receiver()
{
    EvUSBBoard* tx_only = simulate(QStringLiteral("RC1100"));
    EvUSBBoard* both = simulate(QStringLiteral("RC1200"));
    if (!has_model(tx_only))
        QSKIP("no RC1100 model yet");
    const char* receiver[] = {"radio_rxmodulation", "radio_rxfreq", "radio_rxh", "radio_rxbandwidth", "radio_rxbitrate", "radio_rxbtr"};
    const char* transmitter[] = {"radio_txmodulation", "radio_txfreq", "radio_txh", "radio_txhalfdev", "radio_txbitrate", "radio_txpower"};
    select(tx_only);
    QCOMPARE(tx_only->get_device()->get_chipflags() & 3u, 2u);
    for (const char* name : receiver)
        QVERIFY2(!widget<QWidget>(name)->isEnabled(), name);
    for (const char* name : transmitter)
        QVERIFY2(widget<QWidget>(name)->isEnabled(), name);
    QVERIFY(!widget<QWidget>("radio_copytxtorx")->isEnabled());
    QVERIFY(!widget<QWidget>("radio_copyrxtotx")->isEnabled());
    select(both);
    for (const char* name : receiver)
        QVERIFY2(widget<QWidget>(name)->isEnabled(), name);
    QVERIFY(widget<QWidget>("radio_copytxtorx")->isEnabled());
}

void MainWindowTest::register_pages_show_the_selected_board_and_filter()
{
    EvUSBBoard* a = simulate(QStringLiteral("RC1200"));
    EvUSBBoard* b = simulate(QStringLiteral("RC1300"));
    QVERIFY(a && b && a != b);
    auto* filter = widget<QLineEdit>("tablefilter");
    // a register of a's by the name and address form the filter takes
    KORVIK::USBDevice& da = *a->get_device();
    unsigned pick = 0;
    while (pick < da.get_registers() && da.get_register_mask(pick) == 0)
        ++pick;
    const QString one = QString::asprintf("%s@0x%X", da.get_register_name(pick).c_str(), da.get_register_chipaddr(pick));
    QCOMPARE(da.find_register(one.toStdString()), int(pick));

    // the page shown while the board or the filter changes, then the page clicked
    struct Step {
        const char* what;
        const char* page_before;
        EvUSBBoard* board;
        QString filter;
        const char* page;
    };
    const Step steps[] = {
        {"board switched on the page", "Registers", a, "", "Registers"},
        {"board switched on the page", "Registers", b, "", "Registers"},
        {"board switched on another page", "Radio", a, "", "Registers"},
        {"first look at bitfields", "Radio", b, "", "Bitfields"},
        {"filter typed on another page", "Radio", a, "FREQ", "Bitfields"},
        {"filter typed on one table's page", "Registers", a, "AGC", "Bitfields"},
        {"board switched under a filter", "Bitfields", b, "AGC", "Registers"},
        {"filter changed on the other board", "Bitfields", a, "PLL", "Registers"},
        {"back to the board the hidden table holds", "Bitfields", b, "PLL", "Bitfields"},
        {"back to the board the hidden table holds", "Bitfields", a, "FREQ", "Registers"},
        {"one register by name and address", "Radio", a, one, "Registers"},
        {"and its bitfields by name", "Registers", a, one, "Bitfields"},
        {"other board under that filter", "Bitfields", b, one, "Registers"},
        {"the first board again", "Bitfields", a, one, "Registers"},
        {"filter cleared on another page", "Framing", a, "", "Registers"},
    };
    for (const Step& step : steps) {
        QVERIFY2(show_page(*app, step.page_before), step.what);
        select(step.board);
        QVERIFY(type_into(filter, step.filter));
        if (step.filter.isEmpty())
            QTest::keyClick(filter, Qt::Key_Backspace);
        QCOMPARE(filter->text(), step.filter);
        QVERIFY2(show_page(*app, step.page), step.what);
        const bool registers = QLatin1String(step.page) == QLatin1String("Registers");
        auto* table = widget<QTableView>(registers ? "registertable" : "bitfieldtable");
        const QAbstractItemModel* model = table->model();
        QVERIFY2(model == (registers ? static_cast<QAbstractItemModel*>(step.board->register_model()) : step.board->bitfield_model()),
                 step.what);
        // the registers by name and address pick one row; otherwise a row
        // shows when any of its cells holds the text
        const bool by_address = registers && step.filter.contains(QLatin1Char('@'));
        const QString text = step.filter.section(QLatin1Char('@'), 0, 0);
        int picked = -1;
        if (by_address) {
            try {
                picked = step.board->get_device()->find_register(step.filter.toStdString());
            } catch (const std::exception&) {
            }
        }
        int shown = 0;
        for (int row = 0; row < model->rowCount(); ++row) {
            bool match = by_address && row == picked;
            for (int column = 0; !by_address && !match && column < model->columnCount(); ++column)
                match = model->index(row, column).data().toString().contains(text, Qt::CaseInsensitive);
            shown += !table->isRowHidden(row);
            QVERIFY2(table->isRowHidden(row) != match,
                     qPrintable(QStringLiteral("%1: row %2 under \"%3\"").arg(QLatin1String(step.what)).arg(row).arg(step.filter)));
        }
        QVERIFY2(shown > 0, step.what);
    }

    // a board leaving while a page not shown still holds its table
    QVERIFY(show_page(*app, "Radio"));
    select(b);
    a->get_device()->get_board()->leave_registry();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(show_page(*app, "Registers"));
    QCOMPARE(widget<QTableView>("registertable")->model(), b->register_model());
    select(nullptr);
    QCOMPARE(widget<QTableView>("registertable")->model(), static_cast<QAbstractItemModel*>(nullptr));
    filter->clear();
    widget<QTabWidget>("edittabs")->setCurrentIndex(0);
}

void MainWindowTest::register_edit_in_hex_reaches_device()
{
    EvUSBBoard* board = simulate(QStringLiteral("RC1200"));
    select(board);
    QVERIFY(show_page(*app, "Registers"));
    auto* table = widget<QTableView>("registertable");
    GFRegisterModel* model = board->register_model();
    KORVIK::USBDevice* d = dev();
    QCOMPARE(model->rowCount(), int(d->get_registers()));
    int row = -1;
    for (unsigned r = 0; r < d->get_registers() && row < 0; ++r)
        if (d->get_register_mask(r) == 0xFF)
            row = int(r);
    QVERIFY(row >= 0);
    const QModelIndex cell = model->index(row, GFRegisterModel::ColValue);
    QVERIFY(model->flags(cell) & Qt::ItemIsEditable);
    QVERIFY(!(model->flags(model->index(row, GFRegisterModel::ColName)) & Qt::ItemIsEditable));
    QCOMPARE(model->data(model->index(row, GFRegisterModel::ColAddress)).toString(),
             QString::asprintf("%02X", d->get_register_chipaddr(unsigned(row))));

    const unsigned char target = d->get_register_chipvalue(unsigned(row)) == 0xA5 ? 0x5A : 0xA5;
    QSignalSpy changed(model, &QAbstractItemModel::dataChanged);
    table->setCurrentIndex(cell);
    table->edit(cell);
    auto* editor = table->findChild<HexSpinBox*>();
    QVERIFY(editor);
    QCOMPARE(editor->nrbits(), 8u);
    editor->selectAll();
    QTest::keyClicks(editor, QString::asprintf("%X", target));
    QTest::keyClick(editor, Qt::Key_Return);
    QCoreApplication::processEvents(); // the delegate commits from a queued call
    QCOMPARE(d->get_register_chipvalue(unsigned(row)), target);
    QVERIFY(changed.size() >= 1);
    bool cell_announced = false;
    for (const auto& args : changed)
        cell_announced |= args.at(0).toModelIndex() == cell;
    QVERIFY(cell_announced);
    QCOMPARE(model->data(cell).toString(), QString::asprintf("%02X", target));

    // read-only cells and other roles refuse
    QVERIFY(!model->setData(model->index(row, GFRegisterModel::ColFlash), 1, Qt::EditRole));
    QVERIFY(!model->setData(cell, 1, Qt::DisplayRole));
    QVERIFY(!model->setData(model->index(9999, 2), 1, Qt::EditRole));
    for (unsigned r = 0; r < d->get_registers(); ++r)
        if (d->get_register_mask(r) == 0) {
            QVERIFY(!(model->flags(model->index(int(r), GFRegisterModel::ColValue)) & Qt::ItemIsEditable));
            break;
        }
    // shared registers carry their direction
    for (unsigned r = 0; r < d->get_registers(); ++r)
        if (d->is_register_shared(r)) {
            const QString name = model->data(model->index(int(r), 0)).toString();
            QVERIFY2(name.endsWith(QStringLiteral(" (Rx)")) || name.endsWith(QStringLiteral(" (Tx)")), qPrintable(name));
        }
}

void MainWindowTest::bitfield_edit_in_hex_reaches_device()
{
    EvUSBBoard* board = simulate(QStringLiteral("RC1200"));
    select(board);
    QVERIFY(show_page(*app, "Bitfields"));
    auto* table = widget<QTableView>("bitfieldtable");
    GFBitfieldModel* model = board->bitfield_model();
    KORVIK::USBDevice* d = dev();
    int row = -1;
    for (unsigned r = 0; r < d->get_bitfields() && row < 0; ++r)
        if (d->get_bitfield_bitlength(r) >= 8 && d->get_bitfield_bitlength(r) < 32)
            row = int(r);
    QVERIFY(row >= 0);
    const unsigned bits = d->get_bitfield_bitlength(unsigned(row));
    const QModelIndex cell = model->index(row, GFBitfieldModel::ColValue);
    QCOMPARE(model->data(cell).toString().size(), int((bits + 3) / 4));
    QCOMPARE(model->data(cell, Qt::UserRole).toUInt(), bits);
    QCOMPARE(model->data(model->index(row, 0), Qt::ToolTipRole).toString(),
             QString::fromStdString(d->get_bitfield_tooltip(unsigned(row))));

    const unsigned target = d->get_bitfield_chipvalue(unsigned(row)) == 0x5A ? 0xA5 : 0x5A;
    QSignalSpy changed(model, &QAbstractItemModel::dataChanged);
    table->setCurrentIndex(cell);
    table->edit(cell);
    auto* editor = table->findChild<HexSpinBox*>();
    QVERIFY(editor);
    QCOMPARE(editor->nrbits(), bits);
    editor->selectAll();
    QTest::keyClicks(editor, QString::asprintf("%X", target));
    QTest::keyClick(editor, Qt::Key_Return);
    QCoreApplication::processEvents();
    QCOMPARE(d->get_bitfield_chipvalue(unsigned(row)), target);
    bool cell_announced = false;
    for (const auto& args : changed)
        cell_announced |= args.at(0).toModelIndex() == cell;
    QVERIFY(cell_announced);
    QCOMPARE(model->data(cell).toString().toUInt(nullptr, 16), target);
}

void MainWindowTest::hex_editor_ranges()
{
    HexSpinBox twelve(nullptr, 12);
    int pos = 0;
    QString text = QStringLiteral("FFF");
    QCOMPARE(twelve.validate(text, pos), QValidator::Acceptable);
    text = QStringLiteral("1000");
    QCOMPARE(twelve.validate(text, pos), QValidator::Invalid);
    text = QString();
    QCOMPARE(twelve.validate(text, pos), QValidator::Invalid);
    text = QStringLiteral("xyz");
    QCOMPARE(twelve.validate(text, pos), QValidator::Invalid);
    twelve.setValue(0xA5u);
    QCOMPARE(twelve.text(), QStringLiteral("0A5"));

    HexSpinBox four(nullptr, 4);
    four.setValue(0xFu);
    four.stepBy(1);
    QCOMPARE(four.value(), 0);
    four.stepBy(-1);
    QCOMPARE(four.value(), 0xF);
    // narrowing keeps only the bits that fit
    four.setNrbits(2);
    QCOMPARE(four.value(), 3);
    // a value above the narrower range is held at its top, not cut to its low bits
    HexSpinBox narrowing(nullptr, 4);
    narrowing.setValue(0xAu);
    narrowing.setNrbits(2);
    QCOMPARE(narrowing.value(), 3);

    // a 32-bit field covers the whole unsigned range and wraps like one
    HexSpinBox wide(nullptr, 32);
    text = QStringLiteral("FFFFFFFF");
    QCOMPARE(wide.validate(text, pos), QValidator::Acceptable);
    text = QStringLiteral("100000000");
    QCOMPARE(wide.validate(text, pos), QValidator::Invalid);
    wide.setValue(0xFFFFFFFFu);
    QCOMPARE(wide.unsignedValue(), 0xFFFFFFFFu);
    QCOMPARE(wide.text(), QStringLiteral("FFFFFFFF"));
    wide.stepBy(1);
    QCOMPARE(wide.unsignedValue(), 0u);
    wide.setValue(0x7FFFFFFFu);
    wide.stepBy(1);
    QCOMPARE(wide.unsignedValue(), 0x80000000u);

    // leaving 32 bits, the unsigned value is what gets held to the new range
    wide.setValue(0xFFFFFFFFu);
    wide.setNrbits(8);
    QCOMPARE(wide.value(), 0xFF);
    QCOMPARE(wide.text(), QStringLiteral("FF"));

    HexSpinBox none(nullptr, 0);
    text = QStringLiteral("1");
    QCOMPARE(none.validate(text, pos), QValidator::Invalid);
}

void MainWindowTest::table_headers_alignment_and_wide_fields()
{
    EvUSBBoard* board = simulate(QStringLiteral("RC1200"));
    select(board);
    KORVIK::USBDevice* d = dev();
    GFRegisterModel* registers = board->register_model();
    GFBitfieldModel* bitfields = board->bitfield_model();
    const Qt::Alignment left = Qt::AlignLeft | Qt::AlignVCenter, right = Qt::AlignRight | Qt::AlignVCenter;
    const QStringList register_headers = {"Register", "Address", "Value", "Flash", "Chip", "Mask"};
    QCOMPARE(registers->columnCount(), 6);
    for (int c = 0; c < 6; ++c) {
        QCOMPARE(registers->headerData(c, Qt::Horizontal).toString(), register_headers.at(c));
        QCOMPARE(registers->headerData(c, Qt::Horizontal, Qt::TextAlignmentRole).value<Qt::Alignment>(), left);
        QCOMPARE(registers->data(registers->index(0, c), Qt::TextAlignmentRole).value<Qt::Alignment>(), c == 0 ? left : right);
        QCOMPARE(registers->data(registers->index(0, c), Qt::UserRole).isValid(), c == 2);
        QVERIFY(!registers->data(registers->index(0, c), Qt::ToolTipRole).isValid());
        QVERIFY(!(registers->flags(registers->index(0, c)) & Qt::ItemIsSelectable) || c == 2);
    }
    QVERIFY(!registers->headerData(0, Qt::Vertical).isValid());
    QVERIFY(!registers->data(registers->index(0, 6)).isValid());
    const QStringList bitfield_headers = {"Bitfield", "Value", "Flash", "Chip", "Description"};
    QCOMPARE(bitfields->columnCount(), 5);
    for (int c = 0; c < 5; ++c) {
        QCOMPARE(bitfields->headerData(c, Qt::Horizontal).toString(), bitfield_headers.at(c));
        const bool number = c >= 1 && c <= 3;
        QCOMPARE(bitfields->data(bitfields->index(0, c), Qt::TextAlignmentRole).value<Qt::Alignment>(), number ? right : left);
        QCOMPARE(bitfields->data(bitfields->index(0, c), Qt::EditRole).isValid(), c == 1);
        QCOMPARE(bool(bitfields->flags(bitfields->index(0, c)) & Qt::ItemIsEditable), c == 1);
    }

    // every shared register is listed once for each direction under one address
    QMap<QString, QStringList> shared;
    for (unsigned r = 0; r < d->get_registers(); ++r)
        if (d->is_register_shared(r))
            shared[QString::fromStdString(d->get_register_name(r))] << registers->data(registers->index(int(r), 0)).toString();
    for (auto it = shared.cbegin(); it != shared.cend(); ++it) {
        QStringList names = it.value();
        names.sort();
        QCOMPARE(names, QStringList({it.key() + QStringLiteral(" (Rx)"), it.key() + QStringLiteral(" (Tx)")}));
    }

    // a 32-bit field takes its whole unsigned range through the table's editor
    int row = -1;
    for (unsigned r = 0; r < d->get_bitfields() && row < 0; ++r)
        if (d->get_bitfield_bitlength(r) == 32)
            row = int(r);
    if (row < 0)
        QSKIP("no 32-bit bitfield");
    auto* table = widget<QTableView>("bitfieldtable");
    QVERIFY(show_page(*app, "Bitfields"));
    const QModelIndex cell = bitfields->index(row, GFBitfieldModel::ColValue);
    for (unsigned target : {0x89ABCDEFu, 0xFFFFFFFFu, 0x00000001u}) {
        table->setCurrentIndex(cell);
        table->edit(cell);
        auto* editor = table->findChild<HexSpinBox*>();
        QVERIFY(editor);
        QCOMPARE(editor->nrbits(), 32u);
        editor->selectAll();
        QTest::keyClicks(editor, QString::asprintf("%X", target));
        QTest::keyClick(editor, Qt::Key_Return);
        QCoreApplication::processEvents();
        QCOMPARE(d->get_bitfield_chipvalue(unsigned(row)), target);
        QCOMPARE(bitfields->data(cell).toString(), QString::asprintf("%08X", target));
        QCOMPARE(bitfields->data(cell, Qt::EditRole).toUInt(), target);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); // the closed editor
    }
}

void MainWindowTest::vanished_board_leaves_list_and_is_deleted_once()
{
    EvUSBBoard* board = simulate(QStringLiteral("RC1200"));
    EvUSBBoard* other = simulate(QStringLiteral("RC1200"));
    select(board);
    QSignalSpy destroyed(board, &QObject::destroyed);
    // the board's own windows go with it
    board->message_box(QStringLiteral("caption"), QStringLiteral("text"));
    board->load_file();
    QPointer<QWidget> box, dialog;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* b = qobject_cast<EvUSBInfoBox*>(w); b && b->isVisible())
            box = b;
        if (auto* d = qobject_cast<EvUSBFileDialog*>(w); d && d->isVisible())
            dialog = d;
    }
    QVERIFY(box && dialog);
    QCOMPARE(box->windowTitle(), QStringLiteral("caption"));
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Load File..."));
    const int rows = app->get_boards().rowCount();
    QPointer<EvUSBBoard> watch(board);
    board->get_device()->get_board()->leave_registry();
    QCOMPARE(count_lines(QStringLiteral("notify disconnect: ")), 1);
    QCOMPARE(app->get_boards().rowCount(), rows - 1);
    QCOMPARE(app->get_boards().row_of(board), -1);
    // the view may move the selection to the neighbour, never keep the gone board
    QVERIFY(window()->get_current_board() != board);
    QVERIFY(window()->get_current_board() == nullptr || window()->get_current_board() == other);
    QVERIFY(watch);
    board->board_removed(); // a second report must not schedule a second deletion
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!watch);
    QCOMPARE(destroyed.size(), 1);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); // they go one pass later
    QVERIFY(!box && !dialog);

    // the last board going leaves the window without a board
    select(other);
    other->get_device()->get_board()->leave_registry();
    QCOMPARE(window()->get_current_board(), static_cast<EvUSBBoard*>(nullptr));
    QVERIFY(!widget<QTabWidget>("edittabs")->isEnabled());
}

void MainWindowTest::pump_keeps_notifiers_and_timer()
{
    app->rescan();
    const std::map<quintptr, QSocketNotifier*> first = app->get_notifiers();
    app->rescan();
    QCOMPARE(app->get_notifiers(), first);
    for (const auto& entry : first)
        QVERIFY(entry.second->isEnabled());
    // the pump timer is one-shot: an idle library leaves nothing spinning
    QVERIFY(app->get_pump_timer().isSingleShot());
}

void MainWindowTest::about_text_lists_chips()
{
    QStringList chips;
    for (const std::string& chip : KORVIK::USBDevice::get_supported_chips())
        chips << QString::fromStdString(chip);
    const QString text = AboutDialog::about_text();
    QVERIFY2(text.contains(QStringLiteral("Supported Chips: ") + chips.join(QStringLiteral(", ")) + QStringLiteral("</p>")), qPrintable(text));
    QVERIFY(text.contains(QStringLiteral("Version V1.7")));
    QVERIFY(text.contains(QString::fromStdString(KORVIK::USBDevice::get_version())));
}

void MainWindowTest::crystal_edit_keeps_every_hz_and_reapplies_carriers()
{
    select(simulate(QStringLiteral("RC1200")));
    auto* xtal = widget<QDoubleSpinBox>("radio_xtalfreq");
    auto* rxfreq = widget<QDoubleSpinBox>("radio_rxfreq");
    auto* txfreq = widget<QDoubleSpinBox>("radio_txfreq");
    // six decimals of MHz are whole Hz; the product in floating point may fall just short
    for (unsigned hz : {16000002u, 16000006u, 16000009u, 15999977u, 16000000u}) {
        xtal->setValue(hz / 1000000.0);
        QCOMPARE(dev()->get_xtal_frequency(), hz);
        QCOMPARE(xtal->value(), hz / 1000000.0);
    }
    // the carriers shown before the change are sent again against the new crystal
    const double rx_shown = rxfreq->value(), tx_shown = txfreq->value();
    xtal->setValue(15.9);
    QCOMPARE(dev()->get_xtal_frequency(), 15900000u);
    QVERIFY2(std::fabs(dev()->get_rx_carrierfrequency() - rx_shown * 1e6) < 1000.0,
             qPrintable(QString::number(dev()->get_rx_carrierfrequency())));
    QVERIFY(std::fabs(dev()->get_tx_carrierfrequency() - tx_shown * 1e6) < 1000.0);
    QCOMPARE(rxfreq->value(), in_mhz(dev()->get_rx_carrierfrequency()));
    QCOMPARE(txfreq->value(), in_mhz(dev()->get_tx_carrierfrequency()));
    // the tolerance is kept as typed, in ppm, and needs no commit
    auto* tolerance = widget<QDoubleSpinBox>("radio_xtaltol");
    tolerance->setValue(25.0);
    QCOMPARE(dev()->get_xtal_tolerance(), 25.0);
    // and shows what the device holds: after a change elsewhere, and for each board selected
    EvUSBBoard* first = window()->get_current_board();
    dev()->set_xtal_tolerance(40.0);
    QCOMPARE(tolerance->value(), 40.0);
    EvUSBBoard* second = simulate(QStringLiteral("RC1200"));
    second->get_device()->set_xtal_tolerance(12.0);
    select(second);
    QCOMPARE(tolerance->value(), 12.0);
    select(first);
    QCOMPARE(tolerance->value(), 40.0);
}

void MainWindowTest::copy_buttons_carry_settings_across()
{
    select(simulate(QStringLiteral("RC1200")));
    KORVIK::USBDevice* d = dev();
    auto* rxmod = widget<QComboBox>("radio_rxmodulation");
    int fsk = -1;
    for (int m = 0; m < rxmod->count(); ++m)
        if (rxmod->itemText(m) == QStringLiteral("FSK"))
            fsk = m;
    if (fsk < 0)
        QSKIP("no FSK modulation");

    d->set_tx(20000.0, 10000.0, fsk);
    d->set_tx_carrierfrequency(434000000.0);
    d->commit_registers();
    QTest::mouseClick(widget<QPushButton>("radio_copytxtorx"), Qt::LeftButton);
    QCOMPARE(d->get_rx_modulation(), fsk);
    QVERIFY(std::fabs(d->get_rx_carrierfrequency() - d->get_tx_carrierfrequency()) < 1000.0);
    QVERIFY(std::fabs(d->get_rx_bitrate() - d->get_tx_bitrate()) < 0.02 * d->get_tx_bitrate());
    // bandwidth = bitrate x (1 + deviation / bitrate)
    const double want_bw = d->get_tx_bitrate() + d->get_tx_deviation();
    QVERIFY2(std::fabs(d->get_rx_bandwidth() - want_bw) < 0.25 * want_bw, qPrintable(QString::number(d->get_rx_bandwidth())));
    QCOMPARE(rxmod->currentIndex(), fsk);
    QCOMPARE(widget<QDoubleSpinBox>("radio_rxfreq")->value(), in_mhz(d->get_rx_carrierfrequency()));

    // a receiver narrower than its bitrate gives a negative factor: the copy sends no deviation
    d->set_rx(5000.0, 10000.0, fsk, d->get_rx_btr());
    d->set_rx_carrierfrequency(868000000.0);
    d->commit_registers();
    const bool narrow = d->get_rx_bandwidth() < d->get_rx_bitrate();
    QTest::mouseClick(widget<QPushButton>("radio_copyrxtotx"), Qt::LeftButton);
    QCOMPARE(d->get_tx_modulation(), fsk);
    QVERIFY(std::fabs(d->get_tx_carrierfrequency() - d->get_rx_carrierfrequency()) < 1000.0);
    if (narrow) {
        QCOMPARE(d->get_tx_deviation(), 0.0);
        QCOMPARE(widget<QDoubleSpinBox>("radio_txh")->value(), 0.0);
    }
    QCOMPARE(widget<QDoubleSpinBox>("radio_txfreq")->value(), in_mhz(d->get_tx_carrierfrequency()));
}

void MainWindowTest::file_dialog_opens_without_a_board()
{
    select(nullptr);
    QVERIFY(!widget<QTabWidget>("edittabs")->isEnabled());
    QAction* open = window()->findChild<QAction*>(QStringLiteral("actionSimulateFile"));
    QVERIFY(open && open->isEnabled());
    QVERIFY(!window()->findChild<QAction*>(QStringLiteral("actionLoadFile"))->isEnabled());
    open->trigger();
    MainWindowFileDialog* dialog = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* d = qobject_cast<MainWindowFileDialog*>(w))
            dialog = d;
    QVERIFY(dialog);
    QVERIFY(dialog->isVisible());
    QVERIFY(!dialog->isModal());
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Simulate File..."));
    QCOMPARE(dialog->nameFilters(), QStringList{QStringLiteral("XML Files (*.xml)")});
    QCOMPARE(dialog->acceptMode(), QFileDialog::AcceptOpen);
    QCOMPARE(dialog->fileMode(), QFileDialog::ExistingFile);
    QCOMPARE(dialog->defaultSuffix(), QStringLiteral("xml"));
    QVERIFY(!widget<QTabWidget>("edittabs")->isEnabled());
}

void MainWindowTest::menus_and_buttons_use_the_programs_own_icons()
{
    // a desktop icon theme with pictures of its own for the same entries
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("mock/16x16/actions")));
    QFile index(dir.path() + QStringLiteral("/mock/index.theme"));
    QVERIFY(index.open(QIODevice::WriteOnly));
    index.write("[Icon Theme]\nName=mock\nDirectories=16x16/actions\n\n[16x16/actions]\nSize=16\nType=Fixed\n");
    index.close();
    QImage red(16, 16, QImage::Format_ARGB32);
    red.fill(Qt::red);
    for (const char* name : {"help-whatsthis", "window-close", "edit-cut", "edit-copy", "edit-paste", "edit-delete", "edit-select-all"})
        QVERIFY(red.save(dir.path() + QStringLiteral("/mock/16x16/actions/%1.png").arg(QLatin1String(name))));
    const QStringList paths = QIcon::themeSearchPaths();
    const QString theme = QIcon::themeName();
    QIcon::setThemeSearchPaths({dir.path()});
    QIcon::setThemeName(QStringLiteral("mock"));
    QVERIFY(QIcon::hasThemeIcon(QStringLiteral("help-whatsthis")));

    auto* other = new MainWindow(app);
    const QList<QAction*> help = other->findChild<QMenu*>(QStringLiteral("menuHelp"))->actions();
    auto* code = new CodeWindow(nullptr);
    auto* about = new AboutDialog(app);
    auto image = [](const QIcon& icon) {
        return icon.pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32);
    };
    auto resource = [&image](const char* file) {
        return image(QIcon(QStringLiteral(":/images/%1").arg(QLatin1String(file))));
    };
    const QList<std::pair<QIcon, const char*>> shown = {
        {help.value(1) ? help.value(1)->icon() : QIcon(), "contexthelp.png"},
        {code->findChild<QAction*>(QStringLiteral("actionClose"))->icon(), "fileclose.png"},
        {code->findChild<QAction*>(QStringLiteral("actionCut"))->icon(), "editcut.png"},
        {code->findChild<QAction*>(QStringLiteral("actionCopy"))->icon(), "editcopy.png"},
        {code->findChild<QAction*>(QStringLiteral("actionPaste"))->icon(), "editpaste.png"},
        {code->findChild<QAction*>(QStringLiteral("actionDelete"))->icon(), "editdelete.png"},
        {code->findChild<QAction*>(QStringLiteral("actionSelectAll"))->icon(), "pencil.png"},
        {about->findChild<QPushButton*>(QStringLiteral("buttonclose"))->icon(), "fileclose.png"},
    };
    QIcon::setThemeSearchPaths(paths);
    QIcon::setThemeName(theme);
    QCOMPARE(help.size(), 4);
    QVERIFY(help.at(2)->isSeparator());
    for (const auto& entry : shown) {
        QVERIFY2(!resource(entry.second).isNull(), entry.second);
        QVERIFY2(image(entry.first) == resource(entry.second), entry.second);
    }
    delete code;
    delete about;
    // a main window closes the others when it goes: keep the program's own out of reach
    window()->hide();
    delete other;
    window()->show();
}

int main(int argc, char** argv)
{
    Application app(argc, argv);
    MainWindowTest test(&app);
    return QTest::qExec(&test, argc, argv);
}

#include "test_mainwindow.moc"
