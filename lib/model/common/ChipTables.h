#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "model/GreyfinModel.h"
#include "model/common/ChipMath.h"

namespace KORVIK {

/// One row of a chip's register table, kept as const data beside the model.
struct RegisterRow {
    const char* name;
    uint16_t chipaddr;
    uint16_t operatingaddr;
    uint8_t defaultvalue;
    uint8_t mask;
    uint32_t flags;
};

/// One row of a chip's bitfield table. Segments are least significant first;
/// unused segment slots have width 0. A null tooltip repeats the description.
struct BitfieldRow {
    const char* name;
    const char* description;
    const char* tooltip;
    BitfieldSegment segments[4];
};

/// Fills a model's tables from its rows: the register vector is first sized to
/// the row count with "??" placeholders, then every index gets its record;
/// bitfields are appended in row order.
void build_chip_tables(std::vector<Register>& registers, std::vector<Bitfield>& bitfields,
                       const RegisterRow* register_rows, std::size_t register_count,
                       const BitfieldRow* bitfield_rows, std::size_t bitfield_count);

template <std::size_t R, std::size_t B>
void build_chip_tables(std::vector<Register>& registers, std::vector<Bitfield>& bitfields,
                       const RegisterRow (&register_rows)[R], const BitfieldRow (&bitfield_rows)[B])
{
    build_chip_tables(registers, bitfields, register_rows, R, bitfield_rows, B);
}

/// Index of the first register named `name` that serves `direction`
/// (REG_RECEIVE or REG_TRANSMIT), or NO_REG.
int find_register(const GreyfinModel& m, const char* name, uint32_t direction);

/// Registers of a multi-byte value by name, most significant first; names the
/// table lacks are skipped.
RegGroup find_register_group(const GreyfinModel& m, std::initializer_list<const char*> names, uint32_t direction);

/// The register indexes the shared arithmetic works on, found by name in a
/// model's table (receive or transmit copy as the role needs); roles the
/// chip lacks stay NO_REG or empty. Chips with unusual roles adjust the result.
ChipRegs find_chip_regs(const GreyfinModel& m, uint8_t modulation_bits);
/// find_chip_regs for a model built from `register_rows`, worked out once
/// per table: the roles follow from the table alone, and a search by name
/// for each model made (a listing of many boards makes many) costs more
/// than the rest of building it.
ChipRegs find_chip_regs(const GreyfinModel& m, const RegisterRow* register_rows, uint8_t modulation_bits);

} // namespace KORVIK
