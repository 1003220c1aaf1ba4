#include "core/CodeSnippets.h"

#include <algorithm>
#include <iostream>
#include <set>

#include <QDebug>

#include <korvik/USBDevice.h>

namespace {

// upper case, everything but digits and letters becomes "_"
QString c_identifier(const std::string& text)
{
    QString out;
    for (char c : text) {
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
        out += (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') ? QChar(c) : QChar('_');
    }
    return out;
}

QString vv(unsigned int value)
{
    return QString::asprintf("%02x", value);
}

QString macro_name(const SnippetChip& chip, const SnippetRegister& reg, const char* prefix)
{
    return c_identifier(chip.chip + prefix + reg.name);
}

QString shadow_name(const SnippetChip& chip, const SnippetRegister& reg)
{
    QString name = macro_name(chip, reg, "_SHADOW_REG_");
    if (reg.shared) {
        if (reg.receive)
            name += QStringLiteral("RX");
        else if (reg.transmit)
            name += QStringLiteral("TX");
    }
    return name;
}

bool wide_addressing(const SnippetChip& chip)
{
    return std::any_of(chip.registers.begin(), chip.registers.end(),
                       [](const SnippetRegister& r) { return r.chipaddr >= 0x80; });
}

struct CodeReg {
    QString name;
    unsigned int address;
    unsigned int tx;
    unsigned int rx;
    unsigned int flags;

    unsigned int group() const
    {
        unsigned int g = flags & 3;
        if (g == 3 && tx != rx)
            g |= 0x80;
        return g;
    }
};

const unsigned int SPLIT = 0x83;

std::vector<CodeReg> code_register_list(const SnippetChip& chip, const char* prefix)
{
    std::vector<CodeReg> list;
    for (const SnippetRegister& r : chip.registers) {
        const unsigned int flags = (r.receive ? 1u : 0u) | (r.transmit ? 2u : 0u);
        if (!flags)
            continue;
        list.push_back({macro_name(chip, r, prefix), r.chipaddr & 0xFF, r.value & 0xFF, r.value & 0xFF, flags});
    }
    std::stable_sort(list.begin(), list.end(), [](const CodeReg& a, const CodeReg& b) { return a.address < b.address; });
    // receive and transmit copies of one chip register become one entry
    for (size_t i = 0; i < list.size(); ++i) {
        while (i + 1 < list.size() && list[i + 1].address == list[i].address) {
            CodeReg& cur = list[i];
            const CodeReg& next = list[i + 1];
            if (cur.flags & next.flags & 3)
                std::cerr << "EvUSBBoard::CodeRegList::merge_tx_rx: Register " << cur.name.toStdString()
                          << " has multiple definitions" << std::endl;
            if (cur.name != next.name)
                std::cerr << "EvUSBBoard::CodeRegList::merge_tx_rx: Register Address 0x" << std::hex << cur.address
                          << std::dec << " has multiple names: " << cur.name.toStdString() << " and "
                          << next.name.toStdString() << std::endl;
            cur.flags |= next.flags;
            if (next.flags & 1)
                cur.rx = next.rx;
            if (next.flags & 2)
                cur.tx = next.tx;
            list.erase(list.begin() + std::ptrdiff_t(i + 1));
        }
    }
    std::stable_sort(list.begin(), list.end(), [](const CodeReg& a, const CodeReg& b) {
        const unsigned int ga = a.group(), gb = b.group();
        const bool sa = ga == SPLIT, sb = gb == SPLIT;
        if (sa != sb)
            return !sa;
        if (ga != gb)
            return ga > gb;
        return a.address < b.address;
    });
    return list;
}

QString straight_caption(unsigned int group)
{
    switch (group) {
    case 3: return QStringLiteral("// Both Receive and Transmit\n");
    case 2: return QStringLiteral("// Transmit, Receive unused\n");
    case 1: return QStringLiteral("// Receive, Transmit unused\n");
    }
    return QString();
}

QString table_caption(unsigned int group)
{
    const QString caption = straight_caption(group);
    return caption.isEmpty() ? caption : QStringLiteral("\t") + caption;
}

// What differs between the two targets.
struct Target {
    bool spi;
    bool wide;
    bool rx = true; // the chip receives
    bool tx = true; // the chip transmits

    // Registers whose receive and transmit copies differ come in two blocks
    // that set the same chip registers: one block per direction the chip
    // has, said to be alternatives when it has both.
    QString split_blocks(const QString& txblock, const QString& rxblock, const QString& lead, bool comment = true) const
    {
        QString out;
        if (rx && tx && comment)
            out += lead + QStringLiteral("// The Transmit only and Receive only blocks set the same registers:\n"
                                         "// they are alternatives, use the one for the direction in use.\n");
        if (tx)
            out += txblock;
        if (rx)
            out += rxblock;
        return out;
    }

    QString statement(const CodeReg& e, unsigned int value) const
    {
        return spi ? QStringLiteral("spi_write(%1, 0x%2);\n").arg(e.name, vv(value))
                   : QStringLiteral("%1 = 0x%2;\n").arg(e.name, vv(value));
    }

    QString table_line(const CodeReg& e, unsigned int value) const
    {
        QString line = QStringLiteral("\t");
        const bool escape = wide && e.address > 0x6F;
        if (spi) {
            if (escape)
                line += QStringLiteral("(%1 >> 8) | 0x70, ").arg(e.name);
            return line + QStringLiteral("%1, 0x%2,\n").arg(e.name, vv(value));
        }
        if (escape)
            line += QStringLiteral("0x70, ");
        return line + QStringLiteral("0x%1, 0x%2, /* %3 */\n").arg(vv(e.address), vv(value), e.name);
    }

    QString burst_address(const CodeReg& first) const
    {
        const bool escape = wide && first.address > 0x6F;
        if (spi)
            return escape ? QStringLiteral("\t(%1 >> 8) | 0x70, /* address high */\n\t%1, /* address low */\n").arg(first.name)
                          : QStringLiteral("\t%1, /* address */\n").arg(first.name);
        return escape ? QStringLiteral("\t0x70, /* address high */\n\t0x%1, /* address low */\n").arg(vv(first.address))
                      : QStringLiteral("\t0x%1, /* address */\n").arg(vv(first.address));
    }

    QString address_declaration() const { return wide ? QStringLiteral("\tuint16_t addr;\n") : QStringLiteral("\tuint8_t addr;\n"); }

    QString address_escape() const
    {
        return wide ? QStringLiteral("\t\tif (!(0x70 & ~addr)) {\n\t\t\taddr &= 0x0F;\n\t\t\taddr <<= 8;\n\t\t\taddr |= *ptr++;\n\t\t}\n")
                    : QString();
    }

    QString prefix() const { return spi ? QStringLiteral("spi_write") : QStringLiteral("reg_write"); }
};

const QString END = QStringLiteral("\t0xff /* end marker */\n};\n\n");

QString straight_section(const std::vector<CodeReg>& list, const Target& t)
{
    QString out = QStringLiteral("\n\n"), tx, rx;
    unsigned int previous = ~0u;
    bool split = false;
    for (const CodeReg& e : list) {
        const unsigned int g = e.group();
        if (g != previous) {
            if (g == SPLIT) {
                tx += QStringLiteral("\n\n// Transmit only\n");
                rx += QStringLiteral("\n\n// Receive only\n");
            } else {
                out += straight_caption(g);
            }
            previous = g;
        }
        if (g == SPLIT) {
            tx += t.statement(e, e.tx);
            rx += t.statement(e, e.rx);
            split = true;
        } else {
            out += t.statement(e, (g & 2) ? e.tx : e.rx);
        }
    }
    if (split)
        out += t.split_blocks(tx, rx, QStringLiteral("\n\n"));
    return out;
}

QString table_section(const std::vector<CodeReg>& list, const Target& t)
{
    QString out = QStringLiteral("\n\n/*\n * The following method is table driven and thus more compact\n */\n\nvoid ")
        + t.prefix() + QStringLiteral("_table(const code uint8_t *ptr)\n{\n") + t.address_declaration()
        + QStringLiteral("\tfor (;;) {\n\t\taddr = *ptr++;\n\t\tif (addr == 0xFF)\n\t\t\tbreak;\n") + t.address_escape()
        + (t.spi ? QStringLiteral("\t\tspi_write(addr, *ptr++);\n") : QStringLiteral("\t\t*(__xdata uint8_t *)(RC800_RADIOBASE + addr) = *ptr++;\n"))
        + QStringLiteral("\t}\n}\n\nstatic const code uint8_t transceiver_reg_init[] = {\n");
    QString tx = QStringLiteral("// Transmit only\nstatic const code uint8_t transceiver_tx_reg_init[] = {\n");
    QString rx = QStringLiteral("// Receive only\nstatic const code uint8_t transceiver_rx_reg_init[] = {\n");
    unsigned int previous = ~0u;
    bool split = false;
    for (const CodeReg& e : list) {
        const unsigned int g = e.group();
        if (g != previous) {
            out += table_caption(g);
            previous = g;
        }
        if (g == SPLIT) {
            tx += t.table_line(e, e.tx);
            rx += t.table_line(e, e.rx);
            split = true;
        } else {
            out += t.table_line(e, (g & 2) ? e.tx : e.rx);
        }
    }
    out += END;
    if (split)
        out += t.split_blocks(tx + END, rx + END, QString());
    out += t.prefix() + QStringLiteral("_table(transceiver_reg_init);\n");
    if (split)
        out += t.split_blocks(t.prefix() + QStringLiteral("_table(transceiver_tx_reg_init);\n"),
                              t.prefix() + QStringLiteral("_table(transceiver_rx_reg_init);\n"), QString(), false);
    return out;
}

QString burst_section(const std::vector<CodeReg>& list, const Target& t)
{
    QString out = QStringLiteral("\n\n/*\n * The following method uses burst tables and is thus even more compact\n"
                                 " * (at the expense of more complicated code)\n */\n\nvoid ")
        + t.prefix() + QStringLiteral("_bursttable(const code uint8_t *ptr)\n{\n\tuint8_t len;\n") + t.address_declaration()
        + QStringLiteral("\tfor (;;) {\n\t\tlen = ~*ptr++;\n\t\tif (!len)\n\t\t\tbreak;\n\t\taddr = *ptr++;\n") + t.address_escape()
        + (t.spi ? QStringLiteral("\t\tdo {\n\t\t\tspi_write(addr++, *ptr++);\n\t\t} while (--len);\n")
                 : QStringLiteral("\t\tdo {\n\t\t\t*(__xdata uint8_t *)(RC800_RADIOBASE + addr) = *ptr++;\n\t\t\taddr++;\n\t\t} while (--len);\n"))
        + QStringLiteral("\t}\n}\n\nstatic const code uint8_t transceiver_reg_burstinit[] = {\n");
    QString tx = QStringLiteral("// Transmit only\nstatic const code uint8_t transceiver_tx_reg_burstinit[] = {\n");
    QString rx = QStringLiteral("// Receive only\nstatic const code uint8_t transceiver_rx_reg_burstinit[] = {\n");
    unsigned int previous = ~0u;
    bool split = false;
    for (size_t start = 0; start < list.size();) {
        const unsigned int g = list[start].group();
        // a run ends at a gap, a change of group, or where its length byte would no longer fit
        size_t end = start + 1;
        while (end < list.size() && end - start < 254 && list[end].group() == g
               && list[end].address == list[end - 1].address + 1)
            ++end;
        if (g != previous) {
            out += table_caption(g);
            previous = g;
        }
        const QString head = QStringLiteral("\t0x%1, /* length */\n").arg(vv(~unsigned(end - start) & 0xFF))
            + t.burst_address(list[start]);
        if (g == SPLIT) {
            tx += head;
            rx += head;
            split = true;
        } else {
            out += head;
        }
        for (size_t i = start; i < end; ++i) {
            const CodeReg& e = list[i];
            const auto line = [&e](unsigned int v) { return QStringLiteral("\t0x%1, /* %2 */\n").arg(vv(v), e.name); };
            if (g == SPLIT) {
                tx += line(e.tx);
                rx += line(e.rx);
            } else {
                out += line((g & 2) ? e.tx : e.rx);
            }
        }
        start = end;
    }
    out += END;
    if (split)
        out += t.split_blocks(tx + END, rx + END, QString());
    out += t.prefix() + QStringLiteral("_bursttable(transceiver_reg_burstinit);\n");
    if (split)
        out += t.split_blocks(t.prefix() + QStringLiteral("_bursttable(transceiver_tx_reg_burstinit);\n"),
                              t.prefix() + QStringLiteral("_bursttable(transceiver_rx_reg_burstinit);\n"), QString(), false);
    return out;
}

QString sections(const SnippetChip& chip, unsigned int styles, bool spi)
{
    const Target target{spi, wide_addressing(chip), (chip.chipflags & 1) != 0, (chip.chipflags & 2) != 0};
    const std::vector<CodeReg> list = code_register_list(chip, spi ? "_REG_" : "_");
    QString out;
    if (styles & 1)
        out += straight_section(list, target);
    if (styles & 2)
        out += table_section(list, target);
    if (styles & 4)
        out += burst_section(list, target);
    return out;
}

QString define_line(const QString& name, const QString& value)
{
    return QStringLiteral("#define ") + name.leftJustified(30, QLatin1Char(' ')) + QStringLiteral("  0x") + value
        + QStringLiteral("\n");
}

QString name_defines(const SnippetChip& chip)
{
    const bool wide = wide_addressing(chip);
    QString out;
    std::set<unsigned int> listed;
    for (const SnippetRegister& r : chip.registers)
        if (listed.insert(r.chipaddr).second)
            out += define_line(macro_name(chip, r, "_REG_"), QString::asprintf(wide ? "%03x" : "%02x", r.chipaddr));
    return out;
}

QString shadow_defines(const SnippetChip& chip)
{
    const unsigned int base = wide_addressing(chip) ? 0x8000 : 0x80;
    QString out;
    std::set<unsigned int> listed;
    unsigned int count = 0;
    for (const SnippetRegister& r : chip.registers) {
        if (r.operatingaddr < base || !listed.insert(r.operatingaddr).second)
            continue;
        out += define_line(shadow_name(chip, r), vv(r.operatingaddr - base));
        count = std::max(count, r.operatingaddr - base + 1);
    }
    return out + define_line(c_identifier(chip.chip) + QStringLiteral("_NR_SHADOW_REGISTERS"), vv(count));
}

} // namespace

SnippetChip snippet_chip(const KORVIK::USBDevice& d)
{
    SnippetChip chip;
    chip.chip = d.get_chip_name();
    chip.chipflags = d.get_chipflags();
    for (unsigned int r = 0; r < d.get_registers(); ++r) {
        SnippetRegister reg;
        reg.name = d.get_register_name(r);
        reg.chipaddr = d.get_register_chipaddr(r);
        reg.operatingaddr = d.get_register_operatingaddr(r);
        reg.value = d.get_register_chipvalue(r);
        reg.receive = d.is_register_receive(r);
        reg.transmit = d.is_register_transmit(r);
        reg.shared = d.is_register_shared(r);
        chip.registers.push_back(reg);
    }
    return chip;
}

QString rc800_code_snippet(const SnippetChip& chip, unsigned int styles)
{
    return QStringLiteral("// ") + c_identifier(chip.chip) + QStringLiteral(" register settings\n") + sections(chip, styles, false);
}

QString spi_code_snippet(const SnippetChip& chip, unsigned int styles)
{
    return QStringLiteral("// ") + c_identifier(chip.chip) + QStringLiteral(" register names\n") + name_defines(chip)
        + sections(chip, styles, true);
}

QString evalboard_code_snippet(const SnippetChip& chip)
{
    const bool wide = wide_addressing(chip);
    QString out = QStringLiteral("// ") + c_identifier(chip.chip) + QStringLiteral(" register names\n") + name_defines(chip)
        + QStringLiteral("\n") + shadow_defines(chip);

    const size_t size = 384;
    std::vector<unsigned char> area(size, 0xFF);
    size_t pos = 0;
    if (!wide) {
        for (const SnippetRegister& r : chip.registers) {
            if (pos + 2 <= size) {
                area[pos++] = static_cast<unsigned char>(r.operatingaddr & 0xFF);
                area[pos++] = static_cast<unsigned char>(r.value & 0xFF);
            } else {
                qDebug().noquote() << QStringLiteral("Register \"%1\" does not fit into parameter area").arg(QString::fromStdString(r.name));
            }
        }
    } else {
        std::vector<std::pair<unsigned int, unsigned int>> regs; // distinct operating addresses, ascending
        std::set<unsigned int> seen;
        for (const SnippetRegister& r : chip.registers)
            if (seen.insert(r.operatingaddr).second)
                regs.emplace_back(r.operatingaddr, r.value & 0xFF);
        std::sort(regs.begin(), regs.end());
        for (size_t start = 0; start < regs.size();) {
            size_t end = start + 1;
            while (end < regs.size() && end - start < 255 && regs[end].first == regs[end - 1].first + 1)
                ++end;
            const unsigned int addr = regs[start].first;
            std::vector<unsigned char> run;
            run.push_back(static_cast<unsigned char>(~unsigned(end - start) & 0xFF));
            if (addr & 0x8000) {
                run.push_back(static_cast<unsigned char>(0x80 | (addr & 0x7F)));
            } else if (addr < 0x70) {
                run.push_back(static_cast<unsigned char>(addr));
            } else {
                run.push_back(static_cast<unsigned char>((addr >> 8) | 0x70));
                run.push_back(static_cast<unsigned char>(addr & 0xFF));
            }
            for (size_t i = start; i < end; ++i)
                run.push_back(static_cast<unsigned char>(regs[i].second));
            if (pos + run.size() <= size) {
                std::copy(run.begin(), run.end(), area.begin() + std::ptrdiff_t(pos));
                pos += run.size();
            } else {
                qDebug().noquote() << QStringLiteral("Register 0x%1 (%2 registers) does not fit into parameter area")
                                          .arg(addr, 0, 16)
                                          .arg(end - start);
            }
            start = end;
        }
    }
    out += QStringLiteral("\n\n// Parameter Area\nconst code uint8_t gf_register_settings[%1] = {").arg(size);
    for (size_t i = 0; i < size; ++i) {
        if (i)
            out += QStringLiteral(", ");
        if (i % 8 == 0)
            out += QStringLiteral("\n\t");
        out += QStringLiteral("0x") + vv(area[i]);
    }
    out += QStringLiteral("\n};\n\n// Receive\n");
    const unsigned int threshold = wide ? 0x1000 : 0x80;
    for (const SnippetRegister& r : chip.registers)
        if (r.operatingaddr >= threshold && r.receive)
            out += QStringLiteral("spi_write_shadow(%1, %2);\n").arg(macro_name(chip, r, "_REG_"), shadow_name(chip, r));
    out += QStringLiteral("\n\n// Transmit\n");
    for (const SnippetRegister& r : chip.registers)
        if (r.operatingaddr >= threshold && r.transmit)
            out += QStringLiteral("spi_write_shadow(%1, %2);\n").arg(macro_name(chip, r, "_REG_"), shadow_name(chip, r));
    return out;
}
