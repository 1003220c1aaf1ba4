#include "core/SettingsFile.h"

#include <climits>
#include <iostream>
#include <map>
#include <vector>

#include <unistd.h>

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QRegularExpression>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

#include <korvik/USBDevice.h>

#include "../../lib/file/SafeWrite.h" // the one file writer, shared with the library
#include "core/HexBytes.h"

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("SettingsFile", text);
}

QString mac_text(const unsigned char* bytes)
{
    return format_hex_bytes(bytes, 6, QStringLiteral(":"));
}

// "reg at line 12" for parsed files, "reg 3" for built documents
QString where(const QDomElement& e, int index = -1)
{
    if (e.lineNumber() > 0)
        return tr("%1 at line %2").arg(e.tagName()).arg(e.lineNumber());
    if (index >= 0)
        return QStringLiteral("%1 %2").arg(e.tagName()).arg(index + 1);
    return e.tagName();
}

// Reads the attributes of one element and collects what could not be used.
class Reader {
public:
    Reader(const QDomElement& e, QStringList& notes, int index = -1) : e(e), notes(notes), index(index) {}

    bool has(const char* name) const { return e.hasAttribute(QLatin1String(name)); }
    QString text(const char* name) const { return e.attribute(QLatin1String(name)); }

    // A present MAC attribute must hold all six bytes.
    bool mac(const char* name, unsigned char out[6]) const
    {
        if (!has(name))
            return false;
        if (parse_hex_bytes(text(name), out, 6) != 6)
            throw tr("MAC address parse error: %1 %2=\"%3\" is not six hexadecimal bytes")
                .arg(where(e, index), QLatin1String(name), text(name));
        return true;
    }

    bool uint_in(const char* name, unsigned int& out, unsigned int max = ~0u)
    {
        return number(name, out, [](const QString& s, bool* ok) { return s.toUInt(ok, 10); }, 0u, max);
    }
    // A byte value: what lies above 255 is cut to its low 8 bits, as files
    // have always been read, but said so.
    bool byte(const char* name, unsigned int& out)
    {
        if (!number(name, out, [](const QString& s, bool* ok) { return s.toUInt(ok, 10); }, 0u, ~0u))
            return false;
        if (out > 0xFF) {
            notes << tr("%1: %2=\"%3\" is above 255; its low 8 bits (%4) were used")
                         .arg(where(e, index), QLatin1String(name), text(name))
                         .arg(out & 0xFF);
            out &= 0xFF;
        }
        return true;
    }
    bool int_in(const char* name, int& out, int min, int max)
    {
        return number(name, out, [](const QString& s, bool* ok) { return s.toInt(ok, 10); }, min, max);
    }
    bool real(const char* name, double& out)
    {
        return number(name, out, [](const QString& s, bool* ok) { return s.toDouble(ok); }, -1e300, 1e300);
    }

private:
    template <class T, class Parse>
    bool number(const char* name, T& out, Parse parse, T min, T max)
    {
        if (!has(name))
            return false;
        bool ok = false;
        const T v = T(parse(text(name), &ok));
        if (!ok) {
            notes << tr("%1: %2=\"%3\" is not a number; skipped").arg(where(e, index), QLatin1String(name), text(name));
            return false;
        }
        if (v < min || v > max) {
            notes << tr("%1: %2=\"%3\" is out of range (%4 to %5); skipped")
                         .arg(where(e, index), QLatin1String(name), text(name))
                         .arg(min)
                         .arg(max);
            return false;
        }
        out = v;
        return true;
    }

    QDomElement e;
    QStringList& notes;
    int index;
};

QDomElement first_below(const QDomElement& parent, const QString& name)
{
    const QDomNodeList list = parent.elementsByTagName(name);
    return list.isEmpty() ? QDomElement() : list.at(0).toElement();
}

QDomElement settings_root(const QDomDocument& document)
{
    const QDomNodeList roots = document.elementsByTagName(QStringLiteral("evusb"));
    if (roots.isEmpty())
        throw tr("Root element not found");
    return roots.at(0).toElement();
}

QDomElement settings_chip(const QDomElement& root)
{
    const QDomElement chip = first_below(root, QStringLiteral("chip"));
    if (chip.isNull())
        throw tr("chip element not found");
    return chip;
}

// The order in which the format lists each element's attributes.
const std::map<QString, std::vector<const char*>>& attribute_order()
{
    static const std::map<QString, std::vector<const char*>> order = {
        {QStringLiteral("evusb"), {"ethmac", "radiomac", "serial"}},
        {QStringLiteral("channelaccess"),
         {"mode", "ppersistence", "slottime", "rssithreshold", "bgndthreshold", "preamble", "addrmatchflags",
          "addrlength", "addr1", "addr2"}},
        {QStringLiteral("chip"), {"model", "xtal", "xtaltol"}},
        {QStringLiteral("reg"), {"mask", "caddr", "oaddr", "val", "rx", "tx"}},
    };
    return order;
}

void write_element(QXmlStreamWriter& out, const QDomElement& e)
{
    const QDomElement first = e.firstChildElement();
    if (first.isNull())
        out.writeEmptyElement(e.tagName());
    else
        out.writeStartElement(e.tagName());
    QStringList names;
    const QDomNamedNodeMap attributes = e.attributes();
    for (int i = 0; i < attributes.count(); ++i)
        names << attributes.item(i).nodeName();
    const auto known = attribute_order().find(e.tagName());
    if (known != attribute_order().end())
        for (const char* name : known->second)
            if (names.removeAll(QLatin1String(name)))
                out.writeAttribute(QLatin1String(name), e.attribute(QLatin1String(name)));
    // anything the format does not list follows in name order
    names.sort();
    for (const QString& name : names)
        out.writeAttribute(name, e.attribute(name));
    if (first.isNull())
        return;
    for (QDomElement child = first; !child.isNull(); child = child.nextSiblingElement())
        write_element(out, child);
    out.writeEndElement();
}

// Depth and size are checked on the raw text before any document is built;
// a text that is not XML at all is left to the parser's own message.
void check_limits(const QString& filename, const QByteArray& bytes)
{
    QXmlStreamReader reader(bytes);
    reader.setNamespaceProcessing(false);
    int depth = 0;
    while (!reader.atEnd()) {
        const auto token = reader.readNext();
        if (token == QXmlStreamReader::StartElement && ++depth > settings_file_max_depth)
            throw tr("File %1 is nested deeper than %2 levels: not a chip settings file")
                .arg(filename)
                .arg(settings_file_max_depth);
        if (token == QXmlStreamReader::EndElement)
            --depth;
    }
}

} // namespace

QString SettingsReport::text() const
{
    return notes.join(QLatin1Char('\n'));
}

QDomDocument build_settings_document(KORVIK::USBDevice& d)
{
    QDomDocument doc(QStringLiteral("evusb"));
    QDomElement root = doc.createElement(QStringLiteral("evusb"));
    doc.appendChild(root);
    root.setAttribute(QStringLiteral("ethmac"), mac_text(d.get_nv_ethernet_mac()));
    root.setAttribute(QStringLiteral("radiomac"), mac_text(d.get_nv_radio_ethernet_mac()));
    root.setAttribute(QStringLiteral("serial"), QString::fromStdString(d.get_nv_serial()));

    QDomElement chacc = doc.createElement(QStringLiteral("channelaccess"));
    root.appendChild(chacc);
    chacc.setAttribute(QStringLiteral("mode"), d.get_chacc_channelaccessmode());
    chacc.setAttribute(QStringLiteral("ppersistence"), d.get_chacc_ppersistence());
    chacc.setAttribute(QStringLiteral("slottime"), d.get_chacc_slottime());
    chacc.setAttribute(QStringLiteral("rssithreshold"), d.get_chacc_rssithreshold());
    chacc.setAttribute(QStringLiteral("bgndthreshold"), d.get_chacc_bgndthreshold());
    chacc.setAttribute(QStringLiteral("preamble"), int(d.get_chacc_preamble()));
    chacc.setAttribute(QStringLiteral("addrmatchflags"),
                       (d.get_chacc_addrmatch1() ? 1 : 0) | (d.get_chacc_addrmatch2() ? 2 : 0));
    chacc.setAttribute(QStringLiteral("addrlength"), int(d.get_chacc_addrlength()));
    unsigned char addr[6];
    d.get_chacc_addr1(addr);
    chacc.setAttribute(QStringLiteral("addr1"), mac_text(addr));
    d.get_chacc_addr2(addr);
    chacc.setAttribute(QStringLiteral("addr2"), mac_text(addr));

    QDomElement chip = doc.createElement(QStringLiteral("chip"));
    root.appendChild(chip);
    chip.setAttribute(QStringLiteral("model"), QString::fromStdString(d.get_chip_name()));
    chip.setAttribute(QStringLiteral("xtal"), d.get_xtal_frequency());
    chip.setAttribute(QStringLiteral("xtaltol"), d.get_xtal_tolerance());
    for (unsigned int r = 0; r < d.get_registers(); ++r) {
        QDomElement reg = doc.createElement(QStringLiteral("reg"));
        reg.setAttribute(QStringLiteral("mask"), unsigned(d.get_register_mask(r)));
        reg.setAttribute(QStringLiteral("caddr"), unsigned(d.get_register_chipaddr(r)));
        reg.setAttribute(QStringLiteral("oaddr"), unsigned(d.get_register_operatingaddr(r)));
        reg.setAttribute(QStringLiteral("val"), unsigned(d.get_register_chipvalue(r)));
        reg.setAttribute(QStringLiteral("rx"), d.is_register_receive(r) ? 1u : 0u);
        reg.setAttribute(QStringLiteral("tx"), d.is_register_transmit(r) ? 1u : 0u);
        chip.appendChild(reg);
    }
    return doc;
}

QByteArray settings_document_text(const QDomDocument& document)
{
    QByteArray bytes;
    QXmlStreamWriter out(&bytes);
    out.setAutoFormatting(true);
    out.setAutoFormattingIndent(1);
    if (!document.doctype().isNull())
        out.writeDTD(QStringLiteral("<!DOCTYPE %1>").arg(document.doctype().name()));
    for (QDomElement e = document.firstChildElement(); !e.isNull(); e = e.nextSiblingElement())
        write_element(out, e);
    out.writeEndDocument();
    // the writer opens a formatted document type with a line break the
    // saved files never had
    if (bytes.startsWith('\n'))
        bytes.remove(0, 1);
    return bytes;
}

QByteArray settings_file_text(KORVIK::USBDevice& device)
{
    return settings_document_text(build_settings_document(device));
}

void save_settings_file(KORVIK::USBDevice& device, const QString& filename)
{
    const QByteArray text = settings_file_text(device);
    // a failed save leaves the old file whole; a device is written, not replaced
    const std::string error = korvik_file::write_file(filename.toLocal8Bit().toStdString(), text.constData(),
                                                      std::size_t(text.size()));
    if (!error.empty()) {
        // the file's own message, with the reason after the name the library repeats
        QString reason = QString::fromLocal8Bit(error.c_str());
        const QString named = filename + QStringLiteral(": ");
        if (reason.startsWith(named))
            reason.remove(0, named.size());
        throw tr("Cannot open file %1 for writing: %2").arg(filename, reason);
    }
}

void check_settings_document(const QDomDocument& document)
{
    QStringList notes;
    const QDomElement root = settings_root(document);
    const QDomElement chip = settings_chip(root);
    if (!chip.hasAttribute(QStringLiteral("model")))
        throw tr("The file does not name its chip (no model attribute)");
    const QDomElement chacc = first_below(root, QStringLiteral("channelaccess"));
    unsigned char mac[6];
    Reader(root, notes).mac("ethmac", mac);
    Reader(root, notes).mac("radiomac", mac);
    if (!chacc.isNull()) {
        Reader(chacc, notes).mac("addr1", mac);
        Reader(chacc, notes).mac("addr2", mac);
    }
}

SettingsReport apply_settings_document(KORVIK::USBDevice& d, const QDomDocument& document, bool exact_registers)
{
    SettingsReport report;
    QStringList& notes = report.notes;
    const QDomElement root = settings_root(document);
    const QDomElement chip = settings_chip(root);
    const QString expected = QString::fromStdString(d.get_chip_name());
    if (!chip.hasAttribute(QStringLiteral("model")))
        throw tr("The file does not name its chip (no model attribute); this board has an %1").arg(expected);
    const QString model = chip.attribute(QStringLiteral("model"));
    if (model != expected)
        throw tr("Invalid chip model name: expected %1, got %2").arg(expected, model);
    const unsigned int count = d.get_registers();
    const QDomNodeList regs = chip.elementsByTagName(QStringLiteral("reg"));
    if (exact_registers && unsigned(regs.size()) != count)
        throw tr("The file holds %1 register entries, but an %2 has %3 registers").arg(regs.size()).arg(expected).arg(count);

    // check every address text before changing anything, so a refused file
    // leaves no half-applied settings behind
    const QDomElement chacc = first_below(root, QStringLiteral("channelaccess"));
    Reader rootr(root, notes);
    Reader chaccr(chacc, notes);
    Reader chipr(chip, notes);
    unsigned char ethmac[6], radiomac[6], addr1[6], addr2[6];
    const bool has_ethmac = rootr.mac("ethmac", ethmac);
    const bool has_radiomac = rootr.mac("radiomac", radiomac);
    const bool has_addr1 = !chacc.isNull() && chaccr.mac("addr1", addr1);
    const bool has_addr2 = !chacc.isNull() && chaccr.mac("addr2", addr2);

    unsigned int xtal = 0;
    if (chipr.uint_in("xtal", xtal))
        d.set_xtal_frequency(xtal);
    double xtaltol = 0;
    if (chipr.real("xtaltol", xtaltol))
        d.set_xtal_tolerance(xtaltol);

    for (int i = 0; i < regs.size(); ++i) {
        Reader reg(regs.at(i).toElement(), notes, i);
        unsigned int caddr = 0, oaddr = 0, val = 0, rx = 1, tx = 1;
        const bool has_caddr = reg.uint_in("caddr", caddr, 0xFFFF);
        const bool has_oaddr = reg.uint_in("oaddr", oaddr, 0xFFFF);
        if (!reg.byte("val", val))
            continue;
        if (!(has_caddr || has_oaddr)) {
            if (!reg.has("caddr") && !reg.has("oaddr"))
                notes << tr("%1: no register address; skipped").arg(where(regs.at(i).toElement(), i));
            continue;
        }
        reg.uint_in("rx", rx);
        reg.uint_in("tx", tx);
        const unsigned char value = static_cast<unsigned char>(val);
        for (unsigned int r = 0; r < count; ++r) {
            if (has_oaddr) {
                if (d.get_register_operatingaddr(r) == oaddr)
                    d.set_register_chipvalue(r, value);
            } else if (d.get_register_chipaddr(r) == caddr) {
                if ((d.is_register_receive(r) && rx != 0) || (d.is_register_transmit(r) && tx != 0))
                    d.set_register_chipvalue(r, value);
            }
        }
    }

    if (has_ethmac)
        d.set_nv_ethmac(ethmac);
    if (has_radiomac)
        d.set_nv_radio_ethmac(radiomac);
    if (root.hasAttribute(QStringLiteral("serial")))
        d.set_nv_serial(root.attribute(QStringLiteral("serial")).toLocal8Bit().toStdString());

    if (!chacc.isNull()) {
        int i = 0;
        double v = 0;
        if (chaccr.int_in("mode", i, INT_MIN, INT_MAX))
            d.set_chacc_channelaccessmode(i);
        if (chaccr.real("ppersistence", v))
            d.set_chacc_ppersistence(v);
        if (chaccr.real("slottime", v))
            d.set_chacc_slottime(v);
        if (chaccr.real("rssithreshold", v))
            d.set_chacc_rssithreshold(v);
        if (chaccr.real("bgndthreshold", v))
            d.set_chacc_bgndthreshold(v);
        unsigned int b = 0;
        if (chaccr.byte("preamble", b))
            d.set_chacc_preamble(static_cast<unsigned char>(b));
        if (chaccr.int_in("addrmatchflags", i, 0, 3)) {
            d.set_chacc_addrmatch1(i & 1);
            d.set_chacc_addrmatch2(i & 2);
        }
        if (chaccr.byte("addrlength", b))
            d.set_chacc_addrlength(static_cast<unsigned char>(b));
        if (has_addr1)
            d.set_chacc_addr1(addr1);
        if (has_addr2)
            d.set_chacc_addr2(addr2);
    }
    d.commit_registers();
    return report;
}

QDomDocument convert_set_file(QIODevice& device)
{
    // lines are read in pieces of at most 255 characters
    const qint64 limit = 256;
    const QString first = QString::fromLocal8Bit(device.readLine(limit));
    if (first.size() < 3 || !first.startsWith(QStringLiteral("-- ")))
        throw tr("File does not seem to be a .set file");
    QDomDocument doc(QStringLiteral("evusb"));
    QDomElement root = doc.createElement(QStringLiteral("evusb"));
    doc.appendChild(root);
    QDomElement chip = doc.createElement(QStringLiteral("chip"));
    root.appendChild(chip);
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    while (!device.atEnd()) {
        const QString line = QString::fromLocal8Bit(device.readLine(limit));
        if (line.startsWith(QStringLiteral("--")))
            continue;
        const QStringList fields = line.trimmed().split(blanks, Qt::SkipEmptyParts);
        // a line that is not a name and three numbers contributes nothing
        if (fields.size() < 4)
            continue;
        bool ok_addr = false, ok_default = false, ok_actual = false;
        const uint addr = fields.at(1).toUInt(&ok_addr, 16);
        const uint def = fields.at(2).toUInt(&ok_default, 16);
        const uint actual = fields.at(3).toUInt(&ok_actual, 16);
        if (!ok_addr || !ok_default || !ok_actual)
            continue;
        QDomElement reg = doc.createElement(QStringLiteral("reg"));
        reg.setAttribute(QStringLiteral("caddr"), addr);
        reg.setAttribute(QStringLiteral("val"), actual);
        reg.setAttribute(QStringLiteral("rx"), 1u);
        reg.setAttribute(QStringLiteral("tx"), 1u);
        chip.appendChild(reg);
        const QString& name = fields.at(0);
        if (name == QStringLiteral("revision") && addr == 0)
            chip.setAttribute(QStringLiteral("model"), QStringLiteral("RC1200"));
        std::cerr << "Set: Reg name " << name.toStdString() << " addr " << addr << " default " << def << " actual "
                  << actual << std::endl;
    }
    return doc;
}

QDomDocument read_settings_file(const QString& filename, bool accept_set, bool* was_set)
{
    if (was_set)
        *was_set = false;
    // a FIFO or a device would block the program in open or never end
    std::string reason;
    const int fd = korvik_file::open_regular_for_reading(filename.toLocal8Bit().toStdString(), reason);
    if (fd < 0)
        throw tr("Cannot open file %1 for reading: %2").arg(filename, QString::fromLocal8Bit(reason.c_str()));
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly | QIODevice::Text, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        throw tr("Cannot open file %1 for reading: %2").arg(filename, file.errorString());
    }
    // settings files are a few kilobytes; the limit is a whole number of MiB
    const QString too_large = tr("File %1 is larger than %2 MiB: not a chip settings file").arg(filename).arg(settings_file_max_bytes / (1024 * 1024));
    if (file.size() > settings_file_max_bytes)
        throw too_large;
    const QByteArray bytes = file.read(settings_file_max_bytes + 1);
    if (bytes.size() > settings_file_max_bytes)
        throw too_large;
    if (bytes.trimmed().isEmpty())
        throw tr("File %1 is empty: not a chip settings file").arg(filename);
    file.close();
    check_limits(filename, bytes);

    QDomDocument document;
    QString error;
    int line = 0, column = 0;
    if (document.setContent(bytes, false, &error, &line, &column))
        return document;
    if (accept_set) {
        // not XML: perhaps the older line format
        try {
            QBuffer buffer;
            buffer.setData(bytes);
            buffer.open(QIODevice::ReadOnly | QIODevice::Text);
            document = convert_set_file(buffer);
            if (was_set)
                *was_set = true;
            return document;
        } catch (const QString&) {
        }
    }
    // in the reader's words only where they add something: "premature end
    // of document" means the text stops before its elements are closed
    const QString why = error.contains(QLatin1String("Premature end"), Qt::CaseInsensitive)
        ? tr("the text stops before the settings are complete")
        : tr("the text is not well-formed XML (%1)").arg(error.toLower());
    throw tr("File %1 is not a chip settings file: %2 (line %3, column %4)").arg(filename, why).arg(line).arg(column);
}

SettingsReport load_settings_file(KORVIK::USBDevice& device, const QString& filename)
{
    bool was_set = false;
    const QDomDocument document = read_settings_file(filename, true, &was_set);
    return apply_settings_document(device, document, !was_set);
}

SettingsIdentity settings_identity(const QDomDocument& document)
{
    const QDomElement root = settings_root(document);
    const QDomElement chip = settings_chip(root);
    SettingsIdentity id;
    id.model = chip.attribute(QStringLiteral("model"));
    id.ethmac = root.attribute(QStringLiteral("ethmac"));
    id.radiomac = root.attribute(QStringLiteral("radiomac"));
    id.serial = root.attribute(QStringLiteral("serial"));
    return id;
}
