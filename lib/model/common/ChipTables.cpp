#include "model/common/ChipTables.h"

#include <map>
#include <mutex>
#include <utility>

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

int find_register(const GreyfinModel& m, const char* name, uint32_t direction)
{
    for (unsigned i = 0; i < m.get_registers(); ++i) {
        uint32_t flags = (m.is_register_receive(i) ? uint32_t(REG_RECEIVE) : 0u) |
                         (m.is_register_transmit(i) ? uint32_t(REG_TRANSMIT) : 0u);
        if ((flags & direction) && m.get_register_name(i) == name)
            return int(i);
    }
    return NO_REG;
}

RegGroup find_register_group(const GreyfinModel& m, std::initializer_list<const char*> names, uint32_t direction)
{
    RegGroup g;
    for (const char* name : names) {
        int i = find_register(m, name, direction);
        if (i != NO_REG && g.n < 4)
            g.idx[g.n++] = uint8_t(i);
    }
    return g;
}

ChipRegs find_chip_regs(const GreyfinModel& m, uint8_t modulation_bits)
{
    const uint32_t rx = REG_RECEIVE, tx = REG_TRANSMIT;
    ChipRegs r;
    r.ifmode = find_register(m, "IFMODE", rx | tx);
    r.modulation_rx = find_register(m, "MODULATION", rx);
    r.modulation_tx = find_register(m, "MODULATION", tx);
    r.modulation_bits = modulation_bits;
    r.encoding = find_register(m, "ENCODING", rx | tx);
    r.framing = find_register(m, "FRAMING", rx | tx);
    r.fec = find_register(m, "FEC", rx | tx);
    r.crcinit = find_register_group(m, {"CRCINIT3", "CRCINIT2", "CRCINIT1", "CRCINIT0"}, rx | tx);
    r.freq_rx = find_register_group(m, {"FREQ3", "FREQ2", "FREQ1", "FREQ0"}, rx);
    r.freq_tx = find_register_group(m, {"FREQ3", "FREQ2", "FREQ1", "FREQ0"}, tx);
    r.pllloop_rx = find_register(m, "PLLLOOP", rx);
    r.pllloop_tx = find_register(m, "PLLLOOP", tx);
    r.pllranging_rx = find_register(m, "PLLRANGING", rx);
    r.pllranging_tx = find_register(m, "PLLRANGING", tx);
    r.fskdev = find_register_group(m, {"FSKDEV2", "FSKDEV1", "FSKDEV0"}, tx);
    r.txrate = find_register_group(m, {"TXRATEHI", "TXRATEMID", "TXRATELO"}, tx);
    r.iffreq = find_register_group(m, {"IFFREQHI", "IFFREQLO"}, rx);
    r.txpwr = find_register(m, "TXPWR", tx);
    r.adcmisc = find_register(m, "ADCMISC", rx);
    r.agctarget = find_register(m, "AGCTARGET", rx);
    r.agcattack = find_register(m, "AGCATTACK", rx);
    r.agcdecay = find_register(m, "AGCDECAY", rx);
    r.cicdec = find_register_group(m, {"CICDECHI", "CICDECLO"}, rx);
    r.datarate = find_register_group(m, {"DATARATEHI", "DATARATELO"}, rx);
    r.tmggain = find_register_group(m, {"TMGGAINHI", "TMGGAINLO"}, rx);
    r.phasegain = find_register(m, "PHASEGAIN", rx);
    r.freqgain = find_register(m, "FREQGAIN", rx);
    r.freqgain2 = find_register(m, "FREQGAIN2", rx);
    r.amplgain = find_register(m, "AMPLGAIN", rx);
    return r;
}

ChipRegs find_chip_regs(const GreyfinModel& m, const RegisterRow* register_rows, uint8_t modulation_bits)
{
    // models are built on several threads while a scan opens boards
    static std::mutex mutex;
    static std::map<std::pair<const RegisterRow*, uint8_t>, ChipRegs> found;
    const auto key = std::make_pair(register_rows, modulation_bits);
    std::lock_guard<std::mutex> lock(mutex);
    auto it = found.find(key);
    if (it == found.end())
        it = found.emplace(key, find_chip_regs(m, modulation_bits)).first;
    return it->second;
}

} // namespace KORVIK
