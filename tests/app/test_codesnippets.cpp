// Generated microcontroller source from register facts, without a board.
#include <iostream>
#include <sstream>

#include <QRegularExpression>
#include <QTest>

#include "core/CodeSnippets.h"

namespace {

SnippetRegister reg(const char* name, unsigned addr, unsigned value, bool rx, bool tx, unsigned oaddr = 0, bool shared = false)
{
    SnippetRegister r;
    r.name = name;
    r.chipaddr = addr;
    r.operatingaddr = oaddr ? oaddr : addr;
    r.value = value;
    r.receive = rx;
    r.transmit = tx;
    r.shared = shared;
    return r;
}

// a receive and a transmit copy of one chip register
SnippetChip shared_pair(unsigned rxvalue, unsigned txvalue)
{
    SnippetChip chip;
    chip.chip = "RC1200";
    chip.registers = {reg("MODE", 0x02, 0x11, true, true), reg("FREQ3", 0x20, rxvalue, true, false, 0x90, true),
                      reg("FREQ3", 0x20, txvalue, false, true, 0xA0, true)};
    return chip;
}

// a name define: the name padded to 30 columns, two spaces, the address
QString define(const char* name, const char* value)
{
    QString n = QString::fromLatin1(name);
    return QStringLiteral("#define ") + n + QString(qMax(0, 30 - int(n.size())), QLatin1Char(' ')) + QStringLiteral("  0x")
        + QLatin1String(value) + QStringLiteral("\n");
}

} // namespace

class CodeSnippetsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void single_register_straight();
    void shared_register_same_or_split();
    void groups_in_order();
    void burst_runs_and_gaps();
    void spi_target();
    void wide_addressing();
    void evaluation_board_area();
    void conflicting_names_are_reported();
};

void CodeSnippetsTest::single_register_straight()
{
    SnippetChip chip;
    chip.chip = "rc-1200";
    chip.registers = {reg("Mode reg", 0x05, 0xAB, true, true)};
    QCOMPARE(rc800_code_snippet(chip, 1),
             QStringLiteral("// RC_1200 register settings\n\n\n// Both Receive and Transmit\nRC_1200_MODE_REG = 0xab;\n"));
    QCOMPARE(spi_code_snippet(chip, 1),
             QStringLiteral("// RC_1200 register names\n") + define("RC_1200_REG_MODE_REG", "05")
                 + QStringLiteral("\n\n// Both Receive and Transmit\nspi_write(RC_1200_REG_MODE_REG, 0xab);\n"));
}

void CodeSnippetsTest::shared_register_same_or_split()
{
    const QString same = rc800_code_snippet(shared_pair(0x39, 0x39), 3);
    QVERIFY(same.contains(QStringLiteral("// Both Receive and Transmit\nRC1200_MODE = 0x11;\nRC1200_FREQ3 = 0x39;\n")));
    QVERIFY(!same.contains(QStringLiteral("Transmit only")));
    QVERIFY(!same.contains(QStringLiteral("transceiver_tx_reg_init")));

    const QString split = rc800_code_snippet(shared_pair(0x39, 0x3A), 3);
    QVERIFY(split.contains(QStringLiteral("\n\n// Transmit only\nRC1200_FREQ3 = 0x3a;\n\n\n// Receive only\nRC1200_FREQ3 = 0x39;\n")));
    QVERIFY(split.contains(QStringLiteral("// Transmit only\nstatic const code uint8_t transceiver_tx_reg_init[] = {\n"
                                          "\t0x20, 0x3a, /* RC1200_FREQ3 */\n\t0xff /* end marker */\n};\n\n")));
    QVERIFY(split.endsWith(QStringLiteral("reg_write_table(transceiver_reg_init);\nreg_write_table(transceiver_tx_reg_init);\n"
                                          "reg_write_table(transceiver_rx_reg_init);\n")));
    QVERIFY(split.contains(QStringLiteral("they are alternatives")));

    // a chip without one direction gets no block for it: pasted as is, the
    // receive copies would overwrite a transmitter's carrier
    struct Case {
        unsigned int flags;
        const char* kept;
        const char* dropped;
    };
    for (const Case& c : {Case{2, "transceiver_tx_reg", "transceiver_rx_reg"}, Case{1, "transceiver_rx_reg", "transceiver_tx_reg"}}) {
        SnippetChip chip = shared_pair(0x39, 0x3A);
        chip.chipflags = c.flags;
        for (const QString& text : {rc800_code_snippet(chip, 7), spi_code_snippet(chip, 7)}) {
            QVERIFY(text.contains(QLatin1String(c.kept)));
            QVERIFY2(!text.contains(QLatin1String(c.dropped)), c.dropped);
            QVERIFY(!text.contains(QLatin1String(c.flags == 2 ? "// Receive only" : "// Transmit only")));
            QVERIFY(!text.contains(QStringLiteral("alternatives")));
        }
    }
}

void CodeSnippetsTest::groups_in_order()
{
    SnippetChip chip;
    chip.chip = "RC1100";
    chip.registers = {reg("RXONLY", 0x01, 1, true, false), reg("TXONLY", 0x03, 2, false, true), reg("BOTH", 0x07, 3, true, true),
                      reg("NONE", 0x09, 4, false, false)};
    const QString text = rc800_code_snippet(chip, 1);
    const qsizetype both = text.indexOf(QStringLiteral("// Both Receive and Transmit\nRC1100_BOTH = 0x03;"));
    const qsizetype tx = text.indexOf(QStringLiteral("// Transmit, Receive unused\nRC1100_TXONLY = 0x02;"));
    const qsizetype rx = text.indexOf(QStringLiteral("// Receive, Transmit unused\nRC1100_RXONLY = 0x01;"));
    QVERIFY(both >= 0 && tx > both && rx > tx);
    QVERIFY(!text.contains(QStringLiteral("NONE")));
}

void CodeSnippetsTest::burst_runs_and_gaps()
{
    SnippetChip chip;
    chip.chip = "RC1200";
    chip.registers = {reg("A", 0x10, 0xA0, true, true), reg("B", 0x11, 0xB0, true, true), reg("C", 0x12, 0xC0, true, true),
                      reg("D", 0x14, 0xD0, true, true)};
    const QString text = rc800_code_snippet(chip, 4);
    QVERIFY2(text.contains(QStringLiteral("static const code uint8_t transceiver_reg_burstinit[] = {\n"
                                          "\t// Both Receive and Transmit\n"
                                          "\t0xfc, /* length */\n\t0x10, /* address */\n"
                                          "\t0xa0, /* RC1200_A */\n\t0xb0, /* RC1200_B */\n\t0xc0, /* RC1200_C */\n"
                                          "\t0xfe, /* length */\n\t0x14, /* address */\n\t0xd0, /* RC1200_D */\n"
                                          "\t0xff /* end marker */\n};\n\nreg_write_bursttable(transceiver_reg_burstinit);\n")),
             qPrintable(text));
    QVERIFY(text.contains(QStringLiteral("\tuint8_t addr;\n")));
    // sections keep the order straight, table, burst whatever bits are set
    const QString all = rc800_code_snippet(chip, 7);
    QVERIFY(all.indexOf(QStringLiteral("RC1200_A = 0xa0;")) < all.indexOf(QStringLiteral("reg_write_table(const")));
    QVERIFY(all.indexOf(QStringLiteral("reg_write_table(const")) < all.indexOf(QStringLiteral("reg_write_bursttable(const")));
}

void CodeSnippetsTest::spi_target()
{
    SnippetChip chip = shared_pair(0x39, 0x3A);
    const QString text = spi_code_snippet(chip, 6);
    QVERIFY(text.startsWith(QStringLiteral("// RC1200 register names\n") + define("RC1200_REG_MODE", "02")
                            + define("RC1200_REG_FREQ3", "20")));
    QVERIFY(text.contains(QStringLiteral("\tRC1200_REG_MODE, 0x11,\n")));
    QVERIFY(text.contains(QStringLiteral("\t\tspi_write(addr, *ptr++);\n")));
    QVERIFY(text.contains(QStringLiteral("\tRC1200_REG_FREQ3, /* address */\n")));
    QVERIFY(text.contains(QStringLiteral("spi_write_bursttable(transceiver_tx_reg_burstinit);\n")));
    QVERIFY(!text.contains(QStringLiteral("RC800_RADIOBASE")));
}

void CodeSnippetsTest::wide_addressing()
{
    SnippetChip chip;
    chip.chip = "RC9";
    chip.registers = {reg("LOW", 0x05, 1, true, true), reg("HIGH", 0x85, 2, true, true)};
    const QString rc800 = rc800_code_snippet(chip, 6);
    QVERIFY(rc800.contains(QStringLiteral("\tuint16_t addr;\n")));
    QVERIFY(rc800.contains(QStringLiteral("\t\tif (!(0x70 & ~addr)) {\n")));
    QVERIFY(rc800.contains(QStringLiteral("\t0x70, 0x85, 0x02, /* RC9_HIGH */\n")));
    QVERIFY(rc800.contains(QStringLiteral("\t0x05, 0x01, /* RC9_LOW */\n")));
    QVERIFY(rc800.contains(QStringLiteral("\t0x70, /* address high */\n\t0x85, /* address low */\n")));
    const QString spi = spi_code_snippet(chip, 2);
    QVERIFY(spi.contains(define("RC9_REG_HIGH", "085")));
    QVERIFY(spi.contains(QStringLiteral("\t(RC9_REG_HIGH >> 8) | 0x70, RC9_REG_HIGH, 0x02,\n")));
}

void CodeSnippetsTest::evaluation_board_area()
{
    const QString text = evalboard_code_snippet(shared_pair(0x39, 0x3A));
    QVERIFY(text.contains(define("RC1200_SHADOW_REG_FREQ3RX", "10")));
    QVERIFY(text.contains(define("RC1200_SHADOW_REG_FREQ3TX", "20")));
    QVERIFY(text.contains(define("RC1200_NR_SHADOW_REGISTERS", "21")));
    const qsizetype start = text.indexOf(QStringLiteral("const code uint8_t gf_register_settings[384] = {"));
    QVERIFY(start >= 0);
    const qsizetype end = text.indexOf(QStringLiteral("\n};"), start);
    const QString body = text.mid(start, end - start);
    QCOMPARE(body.count(QRegularExpression(QStringLiteral("0x[0-9a-f]{2}"))), 384);
    const QStringList lines = body.split(QLatin1Char('\n')).mid(1);
    QCOMPARE(lines.size(), 48);
    for (const QString& line : lines)
        QCOMPARE(line.count(QStringLiteral("0x")), 8);
    // (operating address, value) pairs, then the 0xff fill
    QVERIFY(lines.front().startsWith(QStringLiteral("\t0x02, 0x11, 0x90, 0x39, 0xa0, 0x3a, 0xff, 0xff,")));
    QVERIFY(text.contains(QStringLiteral("// Receive\nspi_write_shadow(RC1200_REG_FREQ3, RC1200_SHADOW_REG_FREQ3RX);\n")));
    QVERIFY(text.endsWith(QStringLiteral("// Transmit\nspi_write_shadow(RC1200_REG_FREQ3, RC1200_SHADOW_REG_FREQ3TX);\n")));

    // more registers than the area holds: the area stays 384 bytes
    SnippetChip big;
    big.chip = "RC1200";
    for (unsigned i = 0; i < 200; ++i)
        big.registers.push_back(reg("R", i % 0x80, i & 0xFF, true, true));
    const QString full = evalboard_code_snippet(big);
    const qsizetype s2 = full.indexOf(QStringLiteral("gf_register_settings[384]"));
    QCOMPARE(full.mid(s2, full.indexOf(QStringLiteral("\n};"), s2) - s2).count(QRegularExpression(QStringLiteral("0x[0-9a-f]{2}"))), 384);
}

void CodeSnippetsTest::conflicting_names_are_reported()
{
    SnippetChip chip;
    chip.chip = "RC1200";
    chip.registers = {reg("FIRST", 0x20, 1, true, false), reg("SECOND", 0x20, 2, true, true)};
    std::ostringstream err;
    std::streambuf* old = std::cerr.rdbuf(err.rdbuf());
    const QString text = rc800_code_snippet(chip, 1);
    std::cerr.rdbuf(old);
    QVERIFY(err.str().find("Register RC1200_FIRST has multiple definitions") != std::string::npos);
    QVERIFY(err.str().find("Register Address 0x20 has multiple names: RC1200_FIRST and RC1200_SECOND") != std::string::npos);
    // the later entry's values win; the first name stays
    QVERIFY(text.contains(QStringLiteral("RC1200_FIRST = 0x02;")));
}

QTEST_GUILESS_MAIN(CodeSnippetsTest)
#include "test_codesnippets.moc"
