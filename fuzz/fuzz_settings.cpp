// Feeds arbitrary files to the chip settings reader of the program's core (XML
// within its limits, or the older ".set" lines) and applies what it reads to a
// simulated board. A refused file must leave the board as it was; a loaded
// one, saved and loaded into a fresh board, must give the same file again.
// Input: one byte choosing the chip, then the file.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <korvik/USBDevice.h>

#include "board/SimBoard.h"
#include "core/SettingsFile.h"

namespace {

const char* const CHIPS[] = {"RC1200", "RC1400", "RC1100", "RC1300"};
std::unique_ptr<QTemporaryDir> dir;

void require(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "fuzz_settings: %s\n", what);
        std::abort();
    }
}

std::unique_ptr<KORVIK::USBDevice> make_device(const char* chip)
{
    auto* board = new KORVIK::SimBoard("1234567", "fuzz0", "fuzz", chip, "40:00:00:00:00:00", nullptr);
    auto device = std::make_unique<KORVIK::USBDevice>(board);
    device->load_chipdefaults();
    return device;
}

QString put_file(const char* name, const QByteArray& bytes)
{
    const QString path = dir->filePath(QString::fromLatin1(name));
    QFile file(path);
    require(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size(), "cannot write the input file");
    return path;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // the board and the ".set" reader log every step
    std::cerr.rdbuf(nullptr);
    // a RAM-backed directory where there is one: every run writes files
    const QString base = QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
    dir = std::make_unique<QTemporaryDir>(base + QStringLiteral("/fuzz_settings.XXXXXX"));
    require(dir->isValid(), "cannot create a work directory");
    std::atexit([] { dir.reset(); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const char* chip = CHIPS[data[0] & 3];
    const QString input = put_file("in", QByteArray(reinterpret_cast<const char*>(data + 1), int(size - 1)));

    std::unique_ptr<KORVIK::USBDevice> device = make_device(chip);
    const QByteArray before = settings_file_text(*device);
    try {
        load_settings_file(*device, input);
    } catch (const QString&) {
        require(settings_file_text(*device) == before, "a refused file changed the board");
        return 0;
    }

    const QByteArray saved = settings_file_text(*device);
    std::unique_ptr<KORVIK::USBDevice> copy = make_device(chip);
    try {
        load_settings_file(*copy, put_file("saved", saved));
    } catch (const QString& e) {
        std::fprintf(stderr, "fuzz_settings: %s\n", e.toLocal8Bit().constData());
        require(false, "a saved file is refused");
    }
    require(settings_file_text(*copy) == saved, "a saved file loads as other settings");
    return 0;
}
