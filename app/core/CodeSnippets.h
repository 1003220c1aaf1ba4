#pragma once

#include <string>
#include <vector>

#include <QString>

namespace KORVIK {
class USBDevice;
}

// Source text that programs a board's present register values from a
// microcontroller: the RC800 (registers in external data memory), any
// controller with spi_write(), and the evaluation board's parameter area.

struct SnippetRegister {
    std::string name;
    unsigned int chipaddr = 0;
    unsigned int operatingaddr = 0;
    unsigned int value = 0;
    bool receive = false;
    bool transmit = false;
    bool shared = false;
};

struct SnippetChip {
    std::string chip;
    // 1 the chip receives, 2 it transmits: a direction it lacks gets no block
    unsigned int chipflags = 3;
    std::vector<SnippetRegister> registers; // in register-index order
};

// The register facts of the board behind the handle; reads only.
SnippetChip snippet_chip(const KORVIK::USBDevice& device);

// Styles are bits: 1 straight code, 2 table driven, 4 burst table.
QString rc800_code_snippet(const SnippetChip& chip, unsigned int styles);
QString spi_code_snippet(const SnippetChip& chip, unsigned int styles);
// Debug lines about registers that do not fit go to Qt's debug output.
QString evalboard_code_snippet(const SnippetChip& chip);
