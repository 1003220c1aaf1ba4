// Chip settings files: save and load through the program's board object,
// the older ".set" format, and the refusals.
#include <memory>

#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QRegularExpression>
#include <QTest>

#include <korvik/USBDevice.h>

#include "api/Library.h"
#include "board/SimBoard.h"
#include "shell/EvUSBBoard.h"
#include "core/HexBytes.h"
#include "core/SettingsFile.h"
#include "ui/BoardWindows.h"

namespace {

// A board outside the registry: nothing else sees it, the test owns it.
std::unique_ptr<EvUSBBoard> make_board(const char* serial, const char* chip)
{
    static int counter = 0;
    const std::string iface = "filesim" + std::to_string(counter++);
    auto* board = new KORVIK::SimBoard(serial, iface, std::string(serial) + " (sim)", chip, "40:00:00:00:00:00",
                                       KORVIK::Library::instance());
    auto gui = std::make_unique<EvUSBBoard>(nullptr, new KORVIK::USBDevice(board));
    new BoardWindows(gui.get());
    gui->get_device()->load_chipdefaults();
    return gui;
}

QString last_box_text()
{
    QString text;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<EvUSBInfoBox*>(w); box && box->isVisible())
            text = box->text();
    return text;
}

QByteArray registers_of(KORVIK::USBDevice& d)
{
    QByteArray values;
    for (unsigned r = 0; r < d.get_registers(); ++r)
        values.append(char(d.get_register_chipvalue(r)));
    return values;
}

int find_register(KORVIK::USBDevice& d, const std::string& name, bool transmit)
{
    for (unsigned r = 0; r < d.get_registers(); ++r)
        if (d.get_register_name(r) == name && d.is_register_transmit(r) == transmit)
            return int(r);
    return -1;
}

} // namespace

class SettingsFileTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { QVERIFY(dir.isValid()); }
    void cleanup();
    void save_and_load_round_trip();
    void document_shape();
    void wrong_model_is_refused_and_changes_nothing();
    void register_entries_by_operating_or_chip_address();
    void mac_texts();
    void set_file_format();
    void unreadable_files();
    void missing_channel_access_still_refreshes();
    void saved_text_is_stable_in_the_format_order();
    void hostile_files_are_refused_before_parsing();
    void skipped_and_cut_entries_are_reported();

private:
    QString path(const char* name) const { return dir.filePath(QLatin1String(name)); }
    void write(const QString& file, const QByteArray& text)
    {
        QFile f(file);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    QTemporaryDir dir;
};

void SettingsFileTest::cleanup()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (qobject_cast<QMessageBox*>(w))
            w->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void SettingsFileTest::save_and_load_round_trip()
{
    auto source = make_board("1111111", "RC1200");
    KORVIK::USBDevice& s = *source->get_device();
    s.set_rx_carrierfrequency(433920000.0);
    s.set_tx_power(-5.0);
    s.set_crcinit(0x1234ABCD);
    s.commit_registers();
    const unsigned char eth[6] = {0x40, 0x01, 0x02, 0x03, 0x04, 0x00};
    const unsigned char radio[6] = {0x40, 0x01, 0x02, 0x03, 0x04, 0x01};
    const unsigned char a1[6] = {1, 2, 3, 4, 5, 6};
    s.set_nv_ethmac(eth);
    s.set_nv_radio_ethmac(radio);
    s.set_nv_serial("7654321");
    s.set_chacc_channelaccessmode(1);
    s.set_chacc_preamble(9);
    s.set_chacc_addrmatch2(true);
    s.set_chacc_addrlength(4);
    s.set_chacc_addr1(a1);
    s.set_xtal_tolerance(25.0);
    source->save_file(path("board.xml"));
    QCOMPARE(last_box_text(), QString());

    auto target = make_board("2222222", "RC1200");
    KORVIK::USBDevice& t = *target->get_device();
    QVERIFY(registers_of(t) != registers_of(s));
    target->load_file(path("board.xml"));
    QCOMPARE(last_box_text(), QString());
    QCOMPARE(registers_of(t), registers_of(s));
    QCOMPARE(t.get_rx_carrierfrequency(), s.get_rx_carrierfrequency());
    QCOMPARE(t.get_crcinit(), 0x1234ABCDu);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(t.get_nv_ethernet_mac()), 6), QByteArray(reinterpret_cast<const char*>(eth), 6));
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(t.get_nv_radio_ethernet_mac()), 6), QByteArray(reinterpret_cast<const char*>(radio), 6));
    QCOMPARE(t.get_nv_serial(), std::string("7654321"));
    QCOMPARE(t.get_chacc_channelaccessmode(), 1);
    QCOMPARE(t.get_chacc_preamble(), 9u);
    QCOMPARE(t.get_chacc_addrmatch1(), false);
    QCOMPARE(t.get_chacc_addrmatch2(), true);
    QCOMPARE(t.get_chacc_addrlength(), 4u);
    unsigned char back[6];
    t.get_chacc_addr1(back);
    QCOMPARE(QByteArray(reinterpret_cast<char*>(back), 6), QByteArray(reinterpret_cast<const char*>(a1), 6));
    QCOMPARE(t.get_xtal_frequency(), s.get_xtal_frequency());
    QCOMPARE(t.get_xtal_tolerance(), 25.0);
    QCOMPARE(t.get_chacc_slottime(), s.get_chacc_slottime());
}

void SettingsFileTest::document_shape()
{
    auto board = make_board("3333333", "RC1200");
    KORVIK::USBDevice& d = *board->get_device();
    const QDomDocument doc = build_settings_document(d);
    const QString text = doc.toString(1);
    QVERIFY(text.startsWith(QStringLiteral("<!DOCTYPE evusb>")));
    const QDomElement root = doc.documentElement();
    QCOMPARE(root.tagName(), QStringLiteral("evusb"));
    QCOMPARE(root.attribute(QStringLiteral("ethmac")), format_hex_bytes(d.get_nv_ethernet_mac(), 6, QStringLiteral(":")));
    const QDomElement chip = root.firstChildElement(QStringLiteral("chip"));
    QCOMPARE(chip.attribute(QStringLiteral("model")), QStringLiteral("RC1200"));
    QCOMPARE(chip.elementsByTagName(QStringLiteral("reg")).size(), int(d.get_registers()));
    const QDomElement reg = chip.firstChildElement(QStringLiteral("reg"));
    QCOMPARE(reg.attribute(QStringLiteral("val")).toUInt(), unsigned(d.get_register_chipvalue(0)));
    QCOMPARE(reg.attribute(QStringLiteral("caddr")).toUInt(), unsigned(d.get_register_chipaddr(0)));
    QVERIFY(!root.firstChildElement(QStringLiteral("channelaccess")).isNull());
}

void SettingsFileTest::wrong_model_is_refused_and_changes_nothing()
{
    auto other = make_board("4444444", "RC1300");
    KORVIK::USBDevice& o = *other->get_device();
    o.set_rx_carrierfrequency(868000000.0);
    o.commit_registers();
    other->save_file(path("rc1300.xml"));

    auto board = make_board("5555555", "RC1200");
    KORVIK::USBDevice& d = *board->get_device();
    const QByteArray before = registers_of(d);
    const std::string serial = d.get_nv_serial();
    board->load_file(path("rc1300.xml"));
    QCOMPARE(last_box_text(), QStringLiteral("rc1300.xml was not loaded: Invalid chip model name: expected RC1200, got RC1300"));
    QCOMPARE(registers_of(d), before);
    QCOMPARE(d.get_nv_serial(), serial);

    // names the library would take for a chip, or that only look like this
    // board's, are still not this board's chip
    QFile saved(path("rc1300.xml"));
    QVERIFY(saved.open(QIODevice::ReadOnly));
    const QString original = QString::fromUtf8(saved.readAll());
    for (const char* model : {"XY1200", "EV1200", "rc1200", "RC1200 ", "", "RC1200\xc3\xa9"}) {
        QString text = original;
        text.replace(QRegularExpression(QStringLiteral("model=\"[^\"]*\"")),
                     QStringLiteral("model=\"%1\"").arg(QString::fromUtf8(model).toHtmlEscaped()));
        QFile file(path("hostile.xml"));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text.toUtf8());
        file.close();
        for (QWidget* w : QApplication::topLevelWidgets())
            if (qobject_cast<EvUSBInfoBox*>(w))
                w->close();
        board->load_file(path("hostile.xml"));
        QCOMPARE(last_box_text(), QStringLiteral("hostile.xml was not loaded: Invalid chip model name: expected RC1200, got %1")
                                      .arg(QString::fromUtf8(model)));
        QCOMPARE(registers_of(d), before);
        QCOMPARE(d.get_nv_serial(), serial);
    }
}

void SettingsFileTest::register_entries_by_operating_or_chip_address()
{
    auto board = make_board("6666666", "RC1200");
    KORVIK::USBDevice& d = *board->get_device();
    const int rx = find_register(d, "FREQ3", false);
    const int tx = find_register(d, "FREQ3", true);
    QVERIFY(rx >= 0 && tx >= 0 && rx != tx);
    QCOMPARE(d.get_register_chipaddr(unsigned(rx)), d.get_register_chipaddr(unsigned(tx)));
    const unsigned caddr = d.get_register_chipaddr(unsigned(tx));
    const unsigned rx_before = d.get_register_chipvalue(unsigned(rx));

    QDomDocument doc;
    QVERIFY(doc.setContent(QStringLiteral("<evusb><chip model=\"RC1200\"><reg caddr=\"%1\" val=\"%2\" rx=\"0\"/></chip></evusb>")
                               .arg(caddr)
                               .arg(rx_before ^ 0x11)));
    apply_settings_document(*board, doc);
    QCOMPARE(unsigned(d.get_register_chipvalue(unsigned(tx))), rx_before ^ 0x11);
    QCOMPARE(unsigned(d.get_register_chipvalue(unsigned(rx))), rx_before);

    // an operating address wins over chip address and directions
    const unsigned oaddr = d.get_register_operatingaddr(unsigned(rx));
    QVERIFY(doc.setContent(QStringLiteral("<evusb><chip model=\"RC1200\"><reg caddr=\"9999\" oaddr=\"%1\" val=\"%2\" rx=\"0\" tx=\"0\"/>"
                                          "<reg val=\"1\"/><reg caddr=\"x\" val=\"2\"/></chip></evusb>")
                               .arg(oaddr)
                               .arg(0x15A)));
    apply_settings_document(*board, doc);
    QCOMPARE(unsigned(d.get_register_chipvalue(unsigned(rx))), 0x5Au);
}

void SettingsFileTest::mac_texts()
{
    auto board = make_board("7777777", "RC1200");
    KORVIK::USBDevice& d = *board->get_device();
    QDomDocument doc;
    QVERIFY(doc.setContent(QStringLiteral("<evusb ethmac=\"400012345600\"><chip model=\"RC1200\"/></evusb>")));
    apply_settings_document(*board, doc);
    QCOMPARE(format_hex_bytes(d.get_nv_ethernet_mac(), 6, QStringLiteral(":")), QStringLiteral("40:00:12:34:56:00"));

    // refused before anything changes
    const QByteArray before = registers_of(d);
    const int reg = find_register(d, "FREQ3", true);
    QVERIFY(doc.setContent(QStringLiteral("<evusb ethmac=\"40::12:34:56:00\"><chip model=\"RC1200\" xtal=\"15000000\">"
                                          "<reg caddr=\"%1\" val=\"%2\"/></chip></evusb>")
                               .arg(d.get_register_chipaddr(unsigned(reg)))
                               .arg(d.get_register_chipvalue(unsigned(reg)) ^ 0xFF)));
    QString error;
    try {
        apply_settings_document(*board, doc);
    } catch (const QString& text) {
        error = text;
    }
    QVERIFY2(error.startsWith(QStringLiteral("MAC address parse error")) && error.contains(QStringLiteral("ethmac")), qPrintable(error));
    QCOMPARE(registers_of(d), before);
    QCOMPARE(format_hex_bytes(d.get_nv_ethernet_mac(), 6, QStringLiteral(":")), QStringLiteral("40:00:12:34:56:00"));
    QVERIFY(d.get_xtal_frequency() != 15000000u);
}

void SettingsFileTest::set_file_format()
{
    auto board = make_board("8888888", "RC1200");
    KORVIK::USBDevice& d = *board->get_device();
    const int reg = find_register(d, "FREQ3", true);
    const unsigned caddr = d.get_register_chipaddr(unsigned(reg));
    const unsigned value = d.get_register_chipvalue(unsigned(reg)) ^ 0x0F;
    const QByteArray body = QString::asprintf("-- a title\n-- comment\nrevision 0 01 01\nFREQ3 %x 39 %x\nnonsense line\n", caddr, value).toLatin1();
    write(path("old.set"), body);
    board->load_file(path("old.set"));
    QCOMPARE(last_box_text(), QString());
    QCOMPARE(unsigned(d.get_register_chipvalue(unsigned(reg))), value);

    // without the revision line the file names no chip
    write(path("norev.set"), "-- a title\nFREQ3 20 39 11\n");
    board->load_file(path("norev.set"));
    QCOMPARE(last_box_text(), QStringLiteral("norev.set was not loaded: The file does not name its chip (no model attribute); this board has an RC1200"));

    QBuffer notset;
    notset.setData("-x\n");
    notset.open(QIODevice::ReadOnly);
    QString error;
    try {
        convert_set_file(notset);
    } catch (const QString& text) {
        error = text;
    }
    QCOMPARE(error, QStringLiteral("File does not seem to be a .set file"));

    // an over-long line is read in pieces and must not stop the load
    QBuffer longline;
    longline.setData("-- t\n" + QByteArray(600, 'a') + "\nrevision 0 1 2\n");
    longline.open(QIODevice::ReadOnly);
    const QDomDocument doc = convert_set_file(longline);
    QCOMPARE(doc.elementsByTagName(QStringLiteral("reg")).size(), 1);
    QCOMPARE(doc.elementsByTagName(QStringLiteral("chip")).at(0).toElement().attribute(QStringLiteral("model")), QStringLiteral("RC1200"));
}

void SettingsFileTest::unreadable_files()
{
    auto board = make_board("9999999", "RC1200");
    write(path("broken.xml"), "<evusb>\n  <chip model=\"RC1200\">\n</evusb>\n");
    board->load_file(path("broken.xml"));
    const QString text = last_box_text();
    QVERIFY2(text.startsWith(QStringLiteral("File %1 is not a chip settings file: ").arg(path("broken.xml"))) && text.contains(QStringLiteral("(line 3, column")), qPrintable(text));
    cleanup();
    board->load_file(path("missing.xml"));
    QCOMPARE(last_box_text(), QStringLiteral("Cannot open file %1 for reading: No such file or directory").arg(path("missing.xml")));
    cleanup();
    board->save_file(dir.filePath(QStringLiteral("no/such/dir/x.xml")));
    QVERIFY(last_box_text().startsWith(QStringLiteral("Cannot open file ")));
}

void SettingsFileTest::missing_channel_access_still_refreshes()
{
    auto board = make_board("1212121", "RC1200");
    KORVIK::USBDevice& d = *board->get_device();
    d.set_chacc_preamble(77);
    int signals_seen = 0;
    for (auto signal : {&EvUSBBoard::changed_nv_ethmac, &EvUSBBoard::changed_nv_radio_ethmac, &EvUSBBoard::changed_nv_serial,
                        &EvUSBBoard::changed_chacc_channelaccessmode, &EvUSBBoard::changed_chacc_ppersistence,
                        &EvUSBBoard::changed_chacc_slottime, &EvUSBBoard::changed_chacc_rssithreshold,
                        &EvUSBBoard::changed_chacc_bgndthreshold, &EvUSBBoard::changed_chacc_preamble,
                        &EvUSBBoard::changed_chacc_addrmatch1, &EvUSBBoard::changed_chacc_addrmatch2,
                        &EvUSBBoard::changed_chacc_addrlength, &EvUSBBoard::changed_chacc_addr1, &EvUSBBoard::changed_chacc_addr2})
        connect(board.get(), signal, this, [&signals_seen]() { ++signals_seen; });
    QDomDocument doc;
    QVERIFY(doc.setContent(QStringLiteral("<evusb><chip model=\"RC1200\"/></evusb>")));
    const int before = signals_seen;
    apply_settings_document(*board, doc);
    QVERIFY(signals_seen - before >= 14);
    QCOMPARE(d.get_chacc_preamble(), 77u);
}

void SettingsFileTest::saved_text_is_stable_in_the_format_order()
{
    auto board = make_board("1313131", "RC1300");
    KORVIK::USBDevice& d = *board->get_device();
    board->save_file(path("a.xml"));
    board->save_file(path("b.xml"));
    QFile a(path("a.xml")), b(path("b.xml"));
    QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
    const QByteArray text = a.readAll();
    QCOMPARE(text, b.readAll());
    QCOMPARE(text, settings_file_text(d));

    // the document library's own text, but for the order inside each tag
    auto sorted_tokens = [](const QByteArray& all) {
        QList<QByteArrayList> lines;
        for (QByteArray line : all.split('\n')) {
            const QByteArray end = line.endsWith("/>") ? "/>" : line.endsWith(">") ? ">" : "";
            line.chop(end.size());
            QByteArrayList tokens = line.split(' ');
            tokens << end;
            std::sort(tokens.begin(), tokens.end());
            lines << tokens;
        }
        return lines;
    };
    QCOMPARE(sorted_tokens(text), sorted_tokens(build_settings_document(d).toByteArray(1)));
    const QList<QByteArray> lines = text.split('\n');
    QVERIFY(lines.at(1).startsWith("<evusb ethmac="));
    QVERIFY(lines.at(2).startsWith(" <channelaccess mode="));
    QVERIFY(lines.at(3).startsWith(" <chip model="));
    QVERIFY(lines.at(4).startsWith("  <reg mask=\"") && lines.at(4).contains("\" caddr=\"") && lines.at(4).endsWith("\" tx=\"0\"/>") == !d.is_register_transmit(0));
}

void SettingsFileTest::hostile_files_are_refused_before_parsing()
{
    auto board = make_board("1414141", "RC1200");
    KORVIK::USBDevice& d = *board->get_device();
    const QByteArray saved = settings_file_text(d);
    const int deep = 100000;
    const std::pair<QByteArray, const char*> cases[] = {
        {QByteArray("<evusb><chip model=\"RC1200\">") + QByteArray("<a>").repeated(deep) + QByteArray("</a>").repeated(deep)
             + "</chip></evusb>",
         "nested deeper than"},
        {saved + QByteArray(settings_file_max_bytes, ' '), "larger than 1 MiB"},
        {QByteArray(" \n"), "is empty"},
        {QByteArray(saved).replace("</chip>", QByteArray("<reg caddr=\"1\" val=\"2\"/>").repeated(200) + "</chip>"),
         "register entries"},
    };
    const QByteArray before = registers_of(d);
    for (const auto& c : cases) {
        write(path("hostile.xml"), c.first);
        QElapsedTimer timer;
        timer.start();
        board->load_file(path("hostile.xml"));
        QVERIFY2(timer.elapsed() < 10000, c.second);
        QVERIFY2(last_box_text().contains(QLatin1String(c.second)), qPrintable(last_box_text()));
        QCOMPARE(registers_of(d), before);
        cleanup();
    }
}

void SettingsFileTest::skipped_and_cut_entries_are_reported()
{
    auto board = make_board("1515151", "RC1200");
    KORVIK::USBDevice& d = *board->get_device();
    const int reg = find_register(d, "FREQ3", true);
    QByteArray text = settings_file_text(d);
    const QByteArray entry = QStringLiteral("oaddr=\"%1\" val=\"%2\"")
                                 .arg(d.get_register_operatingaddr(unsigned(reg)))
                                 .arg(d.get_register_chipvalue(unsigned(reg)))
                                 .toUtf8();
    QVERIFY(text.contains(entry));
    text.replace(entry, QStringLiteral("oaddr=\"%1\" val=\"999\"").arg(d.get_register_operatingaddr(unsigned(reg))).toUtf8());
    text.replace("slottime=\"", "slottime=\"x");
    write(path("odd.xml"), text);
    board->load_file(path("odd.xml"));
    const QString box = last_box_text();
    // one message naming both, and the cut value written as before
    QVERIFY2(box.contains(QStringLiteral("val=\"999\" is above 255")) && box.contains(QStringLiteral("slottime=\"x")),
             qPrintable(box));
    QCOMPARE(unsigned(d.get_register_chipvalue(unsigned(reg))), 999u & 0xFF);
    cleanup();
    // saving where it cannot be written says why
    board->save_file(dir.filePath(QStringLiteral("no/such/dir/x.xml")));
    QVERIFY2(last_box_text().endsWith(QStringLiteral("No such file or directory")), qPrintable(last_box_text()));
}

QTEST_MAIN(SettingsFileTest)
#include "test_settingsfile.moc"
