// The program as a keyboard user and a careful reader meet it: numbers land
// as typed, standard keys and mnemonics work, colours follow the palette, and
// the small things (file names, disabled buttons, status notes) are right.
#include <cmath>
#include <map>
#include <set>

#include <QAbstractButton>
#include <QAction>
#include <QChart>
#include <QChartView>
#include <QValueAxis>
#include <QHeaderView>
#include <QRegularExpression>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>

#include <korvik/USBDevice.h>

#include "Application.h"
#include "ProgramTestSupport.h"
#include "shell/GFRegisterModel.h"
#include "ui/Mnemonics.h"
#include "ui/PacketTestWindow.h"
#include "ui/ProgramSettings.h"

class KeyboardTest : public QObject {
    Q_OBJECT
public:
    explicit KeyboardTest(Application* app) : app(app) {}

private Q_SLOTS:
    void cleanup();
    void typed_numbers_are_never_cut();
    void standard_keys_and_unique_mnemonics();
    void labels_take_their_fields_and_tab_leaves_the_list();
    void colours_follow_the_palette();
    void buttons_recent_files_and_status_notes();
    void board_list_fits_new_rows_only();
    void fields_of_stacked_groups_line_up();
    void every_page_fits_800x600();

private:
    MainWindow* window() const { return app->get_window(); }
    template <class T> T* widget(const char* name) const { return window_widget<T>(*app, name); }
    KORVIK::USBDevice& dev() const { return *window()->get_current_board()->get_device(); }
    void show_page_of(QWidget* field) { widget<QTabWidget>("edittabs")->setCurrentWidget(field->parentWidget()->parentWidget()); }

    Application* app;
    QTemporaryDir dir;
};

void KeyboardTest::cleanup()
{
    remove_all_boards(*app);
}

void KeyboardTest::typed_numbers_are_never_cut()
{
    window()->select_board(simulate_from_menu(*app, QStringLiteral("RC1200")));
    struct Case {
        const char* field;
        const char* keys;
        double want; // what the field then shows (NaN: the chip's limit, reported)
    };
    const double limit = std::nan("");
    const Case cases[] = {
        {"radio_xtalfreq", "26", 26.0},
        {"radio_xtalfreq", "33", limit},
        {"radio_xtalfreq", "99999", limit},
        {"radio_xtalfreq", "15,5", 15.5},
        {"radio_rxfreq", "868,3", 868.3},
        {"radio_txbitrate", "1000000", limit},
    };
    for (const Case& c : cases) {
        const QString what = QStringLiteral("%1 \"%2\"").arg(QLatin1String(c.field), QLatin1String(c.keys));
        auto* field = window()->findChild<QDoubleSpinBox*>(QLatin1String(c.field));
        show_page_of(field);
        window()->statusBar()->clearMessage();
        QVERIFY(type_into(field, QLatin1String(c.keys)));
        // every digit stays while typing
        QCOMPARE(field->cleanText(), QLatin1String(c.keys));
        QTest::keyClick(field, Qt::Key_Return);
        const double shown = field->value();
        const QString message = window()->statusBar()->currentMessage();
        if (std::isnan(c.want)) {
            // the chip's limit, and one message naming what was typed and what was set
            QVERIFY2(message.contains(QString(QLatin1String(c.keys)).replace(QLatin1Char(','), QLatin1Char('.'))) && message.contains(QStringLiteral("above")),
                     qPrintable(what + QStringLiteral(": ") + message));
            QVERIFY2(message.contains(field->textFromValue(shown).remove(QRegularExpression(QStringLiteral("0+$"))).remove(QRegularExpression(QStringLiteral("\\.$")))),
                     qPrintable(what + QStringLiteral(": ") + message));
        } else {
            QVERIFY2(std::fabs(shown - c.want) < 0.01, qPrintable(what + QStringLiteral(": %1").arg(shown)));
        }
        QCOMPARE(field->text(), field->textFromValue(shown));
    }
    // letters are refused, digits never
    auto* rx = widget<QDoubleSpinBox>("radio_rxfreq");
    QVERIFY(type_into(rx, QStringLiteral("4x3y4")));
    QCOMPARE(rx->cleanText(), QStringLiteral("434"));
    QTest::keyClick(rx, Qt::Key_Escape);
}

void KeyboardTest::standard_keys_and_unique_mnemonics()
{
    QCOMPARE(widget<QAction>("actionSaveFile")->shortcut(), QKeySequence(QKeySequence::Save));
    QCOMPARE(widget<QAction>("actionSimulateFile")->shortcut(), QKeySequence(QKeySequence::Open));
    QCOMPARE(widget<QAction>("actionQuit")->shortcut(), QKeySequence(QKeySequence::Quit));
    QCOMPARE(widget<QAction>("actionHandbook")->shortcut(), QKeySequence(QKeySequence::HelpContents));
    window()->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window()));
    QTest::keyClick(window(), Qt::Key_F1);
    QTextBrowser* handbook = nullptr;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String("handbook") && w->isVisible())
            handbook = qobject_cast<QTextBrowser*>(w);
    QVERIFY(handbook);
    QVERIFY(handbook->toPlainText().contains(QStringLiteral("Ctrl+Z")));
    handbook->close();

    // every entry of the menu bar's menus and the snippet menus has a
    // mnemonic of its own within its menu
    std::vector<QMenu*> menus;
    for (QAction* top : window()->menuBar()->actions())
        if (top->menu())
            menus.push_back(top->menu());
    menus.push_back(widget<QMenu>("menuRC800CodeSnippets"));
    menus.push_back(widget<QMenu>("menuCodeSnippets"));
    for (QMenu* menu : menus) {
        std::set<QChar> seen;
        for (QAction* a : menu->actions()) {
            if (a->isSeparator() || !a->isVisible())
                continue;
            const QChar m = mnemonic_of(a->text());
            QVERIFY2(!m.isNull(), qPrintable(menu->title() + QStringLiteral(": ") + a->text()));
            QVERIFY2(seen.insert(m).second, qPrintable(menu->title() + QStringLiteral(": ") + a->text() + QStringLiteral(" repeats ") + m));
        }
    }
    // the file menu's entries named in the reports: New Chip Settings, Open Recent and Refresh
    QCOMPARE(mnemonic_of(widget<QMenu>("menuSimulateDevice")->title()), QChar('N'));
    QVERIFY(mnemonic_of(widget<QMenu>("menuRecentFiles")->title()) != mnemonic_of(widget<QAction>("actionRefresh")->text()));
}

void KeyboardTest::labels_take_their_fields_and_tab_leaves_the_list()
{
    window()->set_advanced_pages_shown(true);
    EvUSBBoard* first = simulate_from_menu(*app, QStringLiteral("RC1200"));
    simulate_from_menu(*app, QStringLiteral("RC1200"));
    window()->select_board(first);
    auto* tabs = widget<QTabWidget>("edittabs");
    int captions = 0;
    for (int page = 0; page < tabs->count(); ++page) {
        std::set<QChar> seen {QChar('F'), QChar('E'), QChar('V'), QChar('W'), QChar('H'), QChar('C'), QChar('L'), QChar('S')};
        for (QLabel* label : tabs->widget(page)->findChildren<QLabel*>()) {
            if (!label->buddy())
                continue;
            ++captions;
            const QChar m = mnemonic_of(label->text());
            QVERIFY2(!m.isNull(), qPrintable(label->text()));
            QVERIFY2(seen.insert(m).second, qPrintable(tabs->tabText(page) + QStringLiteral(": ") + label->text()));
        }
    }
    QVERIFY2(captions >= 20, qPrintable(QString::number(captions)));

    // Alt and a caption's letter go to its field
    QLabel* caption = window()->findChild<QLabel*>(QStringLiteral("radio_freqlabel"));
    tabs->setCurrentWidget(caption->parentWidget()->parentWidget());
    window()->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window()));
    auto* list = widget<QTableView>("devicelist");
    list->setFocus();
    QTest::keyClick(window(), mnemonic_of(caption->text()).toLatin1(), Qt::AltModifier);
    QCOMPARE(QApplication::focusWidget(), caption->buddy());

    // Tab goes from the list to the next control, not the next cell
    list->setFocus();
    list->setCurrentIndex(list->model()->index(0, 0));
    QTest::keyClick(list, Qt::Key_Tab);
    QVERIFY(!list->hasFocus());
    window()->set_advanced_pages_shown(false);
}

void KeyboardTest::colours_follow_the_palette()
{
    const QPalette light = QApplication::palette();
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(40, 40, 40));
    dark.setColor(QPalette::WindowText, Qt::white);
    dark.setColor(QPalette::Base, QColor(25, 25, 25));
    dark.setColor(QPalette::Text, Qt::white);
    dark.setColor(QPalette::Highlight, QColor(42, 130, 218));
    QApplication::setPalette(dark);
    window()->select_board(simulate_from_menu(*app, QStringLiteral("RC1200")));
    dev().set_rx_carrierfrequency(869.5e6);
    dev().commit_registers();
    GFRegisterModel* model = window()->get_current_board()->register_model();
    int tinted = 0;
    for (int row = 0; row < model->rowCount(); ++row) {
        const QVariant brush = model->index(row, 0).data(Qt::BackgroundRole);
        if (!brush.isValid())
            continue;
        ++tinted;
        // the palette's light text stays readable on the mark of a changed row
        QVERIFY(brush.value<QBrush>().color().lightness() < 100);
    }
    QVERIFY(tinted > 0);
    widget<QAction>("actionPacketTest")->trigger();
    auto* packets = window()->findChild<PacketTestWindow*>();
    QVERIFY(packets);
    auto* view = packets->findChild<QChartView*>("packet_chart");
    QVERIFY(view);
    QCOMPARE(view->chart()->theme(), QChart::ChartThemeDark);
    // the Sweep page's chart follows the palette as well
    QCOMPARE(packets->findChild<QChartView*>("sweep_chart")->chart()->theme(), QChart::ChartThemeDark);
    // the empty chart's axis reads in whole, distinct packet numbers, not "0 0 0 0 1"
    const QList<QAbstractAxis*> axes = view->chart()->axes(Qt::Horizontal);
    QCOMPARE(axes.size(), 1);
    auto* x = qobject_cast<QValueAxis*>(axes.front());
    QVERIFY(x && x->min() == 0 && x->max() >= 4);
    const double step = (x->max() - x->min()) / (x->tickCount() - 1);
    QVERIFY2(step >= 1 && step == std::floor(step), qPrintable(QString::number(step)));
    packets->close();
    QApplication::setPalette(light);
}

void KeyboardTest::buttons_recent_files_and_status_notes()
{
    for (const char* name : {"loadchipdefaults", "loadboarddefaults", "saveboarddefaults"})
        QVERIFY2(!widget<QPushButton>(name)->isEnabled(), name);
    EvUSBBoard* board = simulate_from_menu(*app, QStringLiteral("RC1200"));
    window()->select_board(board);
    for (const char* name : {"loadchipdefaults", "loadboarddefaults", "saveboarddefaults"})
        QVERIFY2(widget<QPushButton>(name)->isEnabled(), name);

    const QString fn = dir.filePath(QStringLiteral("saved settings.xml"));
    board->save_file(fn);
    QVERIFY2(window()->statusBar()->currentMessage().contains(fn), qPrintable(window()->statusBar()->currentMessage()));

    // opened once, then deleted: the failed open takes it out of Open Recent
    window()->simulate_board(fn);
    QStringList recent = QSettings().value(settings_key::recent_files).toStringList();
    QVERIFY(recent.contains(QFileInfo(fn).absoluteFilePath()));
    // the list names the file, not its folder
    EvUSBBoard* opened = window()->get_current_board();
    QVERIFY(opened && opened != board);
    QVERIFY(!QString::fromStdString(opened->get_device()->get_display_name()).contains(dir.path()));
    QFile::remove(fn);
    window()->simulate_board(fn);
    recent = QSettings().value(settings_key::recent_files).toStringList();
    QVERIFY(!recent.contains(QFileInfo(fn).absoluteFilePath()));
    QCOMPARE(widget<QMenu>("menuRecentFiles")->actions().size(), recent.size());
}

void KeyboardTest::board_list_fits_new_rows_only()
{
    auto* list = widget<QTableView>("devicelist");
    simulate_from_menu(*app, QStringLiteral("RC1200"));
    const int narrow = list->horizontalHeader()->sectionSize(0);
    // a long name widens its column when it arrives
    const QString fn = dir.filePath(QStringLiteral("a settings file with a rather long name.xml"));
    window()->get_current_board()->save_file(fn);
    window()->simulate_board(fn);
    QVERIFY(list->horizontalHeader()->sectionSize(0) > narrow);
    QVERIFY(list->horizontalHeader()->sectionSize(0)
            >= list->sizeHintForIndex(list->model()->index(app->get_boards().row_of(window()->get_current_board()), 0)).width());
}

void KeyboardTest::fields_of_stacked_groups_line_up()
{
    window()->select_board(simulate_from_menu(*app, QStringLiteral("RC1200")));
    window()->set_advanced_pages_shown(true);
    auto* mode = widget<QComboBox>("framing_mode");
    // each page's fields start at one edge in every group, whatever the
    // framing mode shows and at the smallest window size as well
    struct Case {
        const char* mode; // typed into the framing mode box first; null: none
        QSize size;
        std::vector<const char*> fields;
    };
    const std::vector<const char*> framing = {"framing_mode", "framing_crcmode", "framing_preamblelength",
                                              "radio_xtalfreq", "radio_xtaltol", "radio_iffreq"};
    const std::vector<const char*> device = {"device_usbserial", "device_interfacemac", "device_radiomac",
                                             "framing_addresslength", "framing_address1", "framing_address2"};
    const Case cases[] = {
        {"HDLC", {937, 576}, framing},
        {"Raw", {937, 576}, framing},
        {"HDLC FEC", {800, 600}, framing},
        {nullptr, {937, 576}, device},
        {nullptr, {800, 600}, device},
    };
    std::map<const char*, int> edge_of_page; // by the page's first field
    for (const Case& c : cases) {
        window()->resize(c.size);
        if (c.mode) {
            const int index = mode->findText(QString::fromLatin1(c.mode));
            QVERIFY2(index >= 0, c.mode);
            mode->setFocus();
            QTest::keyClick(mode, Qt::Key_Home);
            for (int i = 0; i < index; ++i)
                QTest::keyClick(mode, Qt::Key_Down);
            QCOMPARE(mode->currentText(), QString::fromLatin1(c.mode));
        }
        show_page_of(widget<QWidget>(c.fields.front()));
        window()->show();
        QCoreApplication::processEvents();
        int shown = 0;
        const int edge = widget<QWidget>(c.fields.front())->mapTo(window(), QPoint()).x();
        for (const char* name : c.fields) {
            QWidget* field = widget<QWidget>(name);
            if (!field->isVisible())
                continue;
            ++shown;
            QVERIFY2(field->mapTo(window(), QPoint()).x() == edge, name);
        }
        QVERIFY(shown >= 4);
        // the same edge in every mode of a page at one size
        if (c.size == QSize(937, 576)) {
            const auto [it, fresh] = edge_of_page.emplace(c.fields.front(), edge);
            QCOMPARE(edge, it->second);
        }
    }
    // the choice is stored: the next test starts with the usual pages
    window()->set_advanced_pages_shown(false);
}

void KeyboardTest::every_page_fits_800x600()
{
    window()->set_advanced_pages_shown(true);
    auto* tabs = widget<QTabWidget>("edittabs");
    for (const std::string& chip : KORVIK::USBDevice::get_supported_chips()) {
        window()->select_board(simulate_from_menu(*app, QString::fromStdString(chip)));
        window()->resize(800, 600);
        QCoreApplication::processEvents();
        QVERIFY2(window()->width() <= 800 && window()->height() <= 600,
                 qPrintable(QStringLiteral("%1: %2x%3").arg(QString::fromStdString(chip)).arg(window()->width()).arg(window()->height())));
        for (int page = 0; page < tabs->count(); ++page) {
            const QString title = tabs->tabText(page).remove(QLatin1Char('&'));
            QVERIFY2(show_page(*app, title), qPrintable(title));
            QCoreApplication::processEvents();
            // every caption, field and button of the page in full view
            for (QWidget* w : tabs->currentWidget()->findChildren<QWidget*>()) {
                if (!w->isVisible() || !(qobject_cast<QLabel*>(w) || qobject_cast<QAbstractSpinBox*>(w) || qobject_cast<QComboBox*>(w)
                                         || qobject_cast<QLineEdit*>(w) || qobject_cast<QAbstractButton*>(w))
                    || qobject_cast<QAbstractSpinBox*>(w->parentWidget()) || qobject_cast<QComboBox*>(w->parentWidget()))
                    continue;
                QVERIFY2(w->visibleRegion().boundingRect() == w->rect(),
                         qPrintable(QStringLiteral("%1, %2: %3 cut").arg(QString::fromStdString(chip), title, w->objectName())));
                // the list gave way first: a caption takes two lines at most
                if (auto* caption = qobject_cast<QLabel*>(w); caption && caption->wordWrap())
                    QVERIFY2(caption->heightForWidth(caption->width()) < 3 * caption->fontMetrics().lineSpacing(), qPrintable(caption->text()));
            }
        }
        remove_all_boards(*app);
    }
    window()->set_advanced_pages_shown(false);
}

int main(int argc, char** argv)
{
    Application app(argc, argv);
    KeyboardTest test(&app);
    return QTest::qExec(&test, argc, argv);
}

#include "test_keyboard.moc"
