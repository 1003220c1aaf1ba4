#include "model/common/ChipTables.h"

namespace KORVIK {

void build_chip_tables(std::vector<Register>& registers, std::vector<Bitfield>& bitfields,
                       const RegisterRow* register_rows, std::size_t register_count,
                       const BitfieldRow* bitfield_rows, std::size_t bitfield_count)
{
    registers.assign(register_count, Register());
    for (std::size_t i = 0; i < register_count; ++i) {
        const RegisterRow& r = register_rows[i];
        registers[i] = Register(r.name, r.chipaddr, r.operatingaddr, r.defaultvalue, r.mask, r.flags);
    }
    bitfields.reserve(bitfields.size() + bitfield_count);
    for (std::size_t i = 0; i < bitfield_count; ++i) {
        const BitfieldRow& row = bitfield_rows[i];
        Bitfield b;
        b.name = row.name;
        b.description = row.description;
        b.tooltip = row.tooltip ? row.tooltip : row.description;
        for (const BitfieldSegment& s : row.segments)
            if (s.width)
                b.segments.push_back(s);
        bitfields.push_back(std::move(b));
    }
}

} // namespace KORVIK
