// core_writer CHIP DIR: what the graphical program's core writes for a
// simulated board with a few settings changed: DIR/board.xml (its settings
// file) and the text of every code window (DIR/rc800-N.c, DIR/spi-N.c for
// styles N = 1, 2, 4, 7 and DIR/evalboard.c). The korvik tests compare the
// tool's output with these files.

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>

#include <QString>

#include <korvik/USBDevice.h>

#include "core/CodeSnippets.h"
#include "core/SettingsFile.h"

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s CHIP DIR\n", argv[0]);
        return 2;
    }
    const std::string chip = argv[1], dir = argv[2];
    std::unique_ptr<KORVIK::USBDevice> d(
        KORVIK::USBDevice::open_simulation("7654321", "core writer", chip, "40:00:12:34:56:10"));
    if (!d)
        return 1;
    // a new simulated chip as the program makes one: defaults loaded, committed and stored
    d->load_chipdefaults();
    d->commit_registers();
    d->store_boarddefaults();
    const unsigned flags = d->get_chipflags();
    if (flags & 1) {
        d->set_rx_carrierfrequency(869.525e6);
        d->set_rx_bitrate(38400);
    }
    if (flags & 2) {
        d->set_tx_carrierfrequency(869.525e6);
        d->set_tx_bitrate(38400);
        d->set_tx_power(5);
    }
    d->set_chacc_slottime(0.005);
    d->set_nv_serial("7654321");
    d->commit_registers();

    try {
        save_settings_file(*d, QString::fromStdString(dir + "/board.xml"));
    } catch (const QString& message) {
        std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
        return 1;
    }
    const SnippetChip facts = snippet_chip(*d);
    auto write = [&](const std::string& name, const QString& text) {
        std::ofstream(dir + "/" + name, std::ios::binary) << text.toStdString();
    };
    for (unsigned styles : {1u, 2u, 4u, 7u}) {
        write("rc800-" + std::to_string(styles) + ".c", rc800_code_snippet(facts, styles));
        write("spi-" + std::to_string(styles) + ".c", spi_code_snippet(facts, styles));
    }
    write("evalboard.c", evalboard_code_snippet(facts));
    return 0;
}
