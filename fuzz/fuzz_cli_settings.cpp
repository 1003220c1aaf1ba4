// Feeds arbitrary files to korvik's own settings loading: the reader that
// `load` and `diff` use, the chip a file names, and the simulated board that
// sim:CHIP:FILE builds from it (serial choice, settings applied and stored).
// A file is either refused with korvik's Failure or gives a simulated board
// of the chip it names, whatever serial it claims.
// Input: the file.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <QDomDocument>

#include <korvik/USBDevice.h>

#include "Context.h"
#include "../lib/file/SafeWrite.h" // the one file writer, shared with the library
#include "SettingsFiles.h"

namespace {

std::string path;

void require(bool ok, const char* what)
{
    if (!ok) {
        std::fprintf(stderr, "fuzz_cli_settings: %s\n", what);
        std::abort();
    }
}

} // namespace

// The command objects construct parsers; in the program main.cpp's parser is
// where CLI11's formatter and config get their vtables, and here there is none.
static const CLI::App parser_parts;

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // the board and the program core log every step
    korvik_cli::route_diagnostics(false);
    char dir[] = "/dev/shm/fuzz_cli_settings.XXXXXX";
    require(mkdtemp(dir) != nullptr, "cannot create a work directory");
    path = std::string(dir) + "/in.xml";
    std::atexit([] {
        ::unlink(path.c_str());
        ::rmdir(path.substr(0, path.rfind('/')).c_str());
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    require(korvik_file::write_file(path, data, size).empty(), "cannot write the input file");
    std::string chip;
    try {
        chip = korvik_cli::settings_chip(korvik_cli::read_settings(path));
    } catch (const korvik_cli::Failure&) {
        return 0;
    }
    try {
        korvik_cli::Device d = korvik_cli::simulate_from_file(chip, path);
        require(d != nullptr, "no board and no failure");
        require((d->get_boardflags() & 1) != 0, "a file gave a board that is not simulated");
        require(d->get_chip_name() == chip, "a file gave a board of another chip");
    } catch (const korvik_cli::Failure&) {
    }
    return 0;
}
