#include "shell/SettingsFile.h"

#include <iostream>

#include <QCoreApplication>
#include <QIODevice>
#include <QRegularExpression>

#include <korvik/USBDevice.h>

#include "shell/EvUSBBoard.h"
#include "shell/HexBytes.h"

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("SettingsFile", text);
}

QString mac_text(const unsigned char* bytes)
{
    return format_hex_bytes(bytes, 6, QStringLiteral(":"));
}

// A present MAC attribute must hold all six bytes.
bool read_mac(const QDomElement& e, const char* name, unsigned char out[6])
{
    if (!e.hasAttribute(QLatin1String(name)))
        return false;
    if (parse_hex_bytes(e.attribute(QLatin1String(name)), out, 6) != 6)
        throw tr("MAC address parse error");
    return true;
}

template <class T, class Parse>
bool read_number(const QDomElement& e, const char* name, T& out, Parse parse)
{
    if (!e.hasAttribute(QLatin1String(name)))
        return false;
    bool ok = false;
    const auto v = parse(e.attribute(QLatin1String(name)), &ok);
    if (ok)
        out = T(v);
    return ok;
}

bool read_uint(const QDomElement& e, const char* name, unsigned int& out)
{
    return read_number(e, name, out, [](const QString& s, bool* ok) { return s.toUInt(ok, 10); });
}

bool read_int(const QDomElement& e, const char* name, int& out)
{
    return read_number(e, name, out, [](const QString& s, bool* ok) { return s.toInt(ok, 10); });
}

bool read_double(const QDomElement& e, const char* name, double& out)
{
    return read_number(e, name, out, [](const QString& s, bool* ok) { return s.toDouble(ok); });
}

QDomElement first_below(const QDomElement& parent, const QString& name)
{
    const QDomNodeList list = parent.elementsByTagName(name);
    return list.isEmpty() ? QDomElement() : list.at(0).toElement();
}

} // namespace

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

void apply_settings_document(EvUSBBoard& board, const QDomDocument& document)
{
    KORVIK::USBDevice* dev = board.get_device();
    if (!dev)
        return;
    KORVIK::USBDevice& d = *dev;
    const QDomNodeList roots = document.elementsByTagName(QStringLiteral("evusb"));
    if (roots.isEmpty())
        throw tr("Root element not found");
    const QDomElement root = roots.at(0).toElement();
    const QDomElement chip = first_below(root, QStringLiteral("chip"));
    if (chip.isNull())
        throw tr("chip element not found");
    const QString expected = QString::fromStdString(d.get_chip_name());
    const QString model = chip.attribute(QStringLiteral("model"));
    if (model != expected)
        throw tr("Invalid chip model name: expected %1, got %2").arg(expected, model);

    // check every address text before changing anything, so a refused file
    // leaves no half-applied settings behind
    const QDomElement chacc = first_below(root, QStringLiteral("channelaccess"));
    unsigned char ethmac[6], radiomac[6], addr1[6], addr2[6];
    const bool has_ethmac = read_mac(root, "ethmac", ethmac);
    const bool has_radiomac = read_mac(root, "radiomac", radiomac);
    const bool has_addr1 = !chacc.isNull() && read_mac(chacc, "addr1", addr1);
    const bool has_addr2 = !chacc.isNull() && read_mac(chacc, "addr2", addr2);

    unsigned int xtal = 0;
    if (read_uint(chip, "xtal", xtal))
        d.set_xtal_frequency(xtal);
    double xtaltol = 0;
    if (read_double(chip, "xtaltol", xtaltol))
        d.set_xtal_tolerance(xtaltol);

    const unsigned int count = d.get_registers();
    const QDomNodeList regs = chip.elementsByTagName(QStringLiteral("reg"));
    for (int i = 0; i < regs.size(); ++i) {
        const QDomElement reg = regs.at(i).toElement();
        unsigned int caddr = 0, oaddr = 0, val = 0, rx = 1, tx = 1;
        const bool has_caddr = read_uint(reg, "caddr", caddr);
        const bool has_oaddr = read_uint(reg, "oaddr", oaddr);
        if (!read_uint(reg, "val", val) || !(has_caddr || has_oaddr))
            continue;
        read_uint(reg, "rx", rx);
        read_uint(reg, "tx", tx);
        const unsigned char value = static_cast<unsigned char>(val & 0xFF);
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
        if (read_int(chacc, "mode", i))
            d.set_chacc_channelaccessmode(i);
        if (read_double(chacc, "ppersistence", v))
            d.set_chacc_ppersistence(v);
        if (read_double(chacc, "slottime", v))
            d.set_chacc_slottime(v);
        if (read_double(chacc, "rssithreshold", v))
            d.set_chacc_rssithreshold(v);
        if (read_double(chacc, "bgndthreshold", v))
            d.set_chacc_bgndthreshold(v);
        if (read_int(chacc, "preamble", i))
            d.set_chacc_preamble(static_cast<unsigned char>(i & 0xFF));
        if (read_int(chacc, "addrmatchflags", i)) {
            d.set_chacc_addrmatch1(i & 1);
            d.set_chacc_addrmatch2(i & 2);
        }
        if (read_int(chacc, "addrlength", i))
            d.set_chacc_addrlength(static_cast<unsigned char>(i & 0xFF));
        if (has_addr1)
            d.set_chacc_addr1(addr1);
        if (has_addr2)
            d.set_chacc_addr2(addr2);
    }
    d.commit_registers();

    Q_EMIT board.changed_nv_ethmac();
    Q_EMIT board.changed_nv_radio_ethmac();
    Q_EMIT board.changed_nv_serial();
    Q_EMIT board.changed_chacc_channelaccessmode();
    Q_EMIT board.changed_chacc_ppersistence();
    Q_EMIT board.changed_chacc_slottime();
    Q_EMIT board.changed_chacc_rssithreshold();
    Q_EMIT board.changed_chacc_bgndthreshold();
    Q_EMIT board.changed_chacc_preamble();
    Q_EMIT board.changed_chacc_addrmatch1();
    Q_EMIT board.changed_chacc_addrmatch2();
    Q_EMIT board.changed_chacc_addrlength();
    Q_EMIT board.changed_chacc_addr1();
    Q_EMIT board.changed_chacc_addr2();
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

void setup_settings_file_dialog(QFileDialog& dialog, bool save)
{
    dialog.setModal(false);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setOption(QFileDialog::ReadOnly, false);
    dialog.setDefaultSuffix(QStringLiteral("xml"));
    dialog.setViewMode(QFileDialog::Detail);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    dialog.setAttribute(Qt::WA_DeleteOnClose);
    dialog.setAttribute(Qt::WA_QuitOnClose);
}

EvUSBFileDialog::EvUSBFileDialog(EvUSBBoard* owner_, bool save_) : QFileDialog(nullptr), owner(owner_), save(save_)
{
    setWindowTitle(save ? tr("Save File...") : tr("Load File..."));
    QStringList filters;
    filters << tr("XML Files (*.xml)");
    if (!save)
        filters << tr("SET Files (*.set)") << tr("Any file (*)");
    setNameFilters(filters);
    setup_settings_file_dialog(*this, save);
    if (owner)
        connect(owner, &EvUSBBoard::delete_subwindows, this, &EvUSBFileDialog::quit);
    connect(this, &QDialog::accepted, this, &EvUSBFileDialog::filedialog_ok);
}

void EvUSBFileDialog::quit()
{
    owner = nullptr;
    close();
    deleteLater();
}

void EvUSBFileDialog::filedialog_ok()
{
    const QStringList files = selectedFiles();
    if (files.size() != 1 || !owner)
        return;
    if (save)
        owner->save_file(files.front());
    else
        owner->load_file(files.front());
}
