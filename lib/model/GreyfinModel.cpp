#include "model/GreyfinModel.h"

#include "model/ModelRevision.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <stdexcept>

#include "model/common/Diagnostics.h"

namespace KORVIK {

Register::Register(const std::string& name_, uint16_t chipaddr_, uint16_t operatingaddr_,
                   uint8_t defaultvalue_, uint8_t mask_, uint32_t flags_)
    : name(name_), flags(flags_), chipaddr(chipaddr_), operatingaddr(operatingaddr_), mask(mask_),
      chipvalue(defaultvalue_), committedvalue(defaultvalue_), nvvalue(defaultvalue_),
      defaultvalue(defaultvalue_)
{
}

namespace {

// never reused, not even by a model built where a deleted one was
std::atomic<uint64_t> last_revision{0};

} // namespace

void GreyfinModel::touch_revision(const GreyfinModel* model)
{
    model->revision.store(last_revision.fetch_add(1, std::memory_order_relaxed) + 1, std::memory_order_release);
}

uint64_t model_revision(const GreyfinModel* model)
{
    return model ? model->revision.load(std::memory_order_acquire) : 0;
}

namespace {
std::atomic<uint64_t> last_serial{0};
}

GreyfinModel::GreyfinModel(ChipBus* board_) : board(board_), serial(++last_serial)
{
    touch_revision(this);
}

GreyfinModel::~GreyfinModel() = default;

namespace {

void warn_not_found(unsigned address)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "%x", address);
    diag() << "GreyfinModel::set_nvarea: register 0x" << buf << " not found\n";
}

} // namespace

// ---------------------------------------------------------------- registers

std::string GreyfinModel::get_register_name(unsigned i) const
{
    return i < registers.size() ? registers[i].name : std::string();
}

uint16_t GreyfinModel::get_register_chipaddr(unsigned i) const
{
    return i < registers.size() ? registers[i].chipaddr : 0;
}

uint16_t GreyfinModel::get_register_operatingaddr(unsigned i) const
{
    return i < registers.size() ? registers[i].operatingaddr : 0;
}

uint8_t GreyfinModel::get_register_mask(unsigned i) const
{
    return i < registers.size() ? registers[i].mask : 0;
}

uint8_t GreyfinModel::get_register_chipvalue(unsigned i) const
{
    if (i >= registers.size())
        return 0;
    mark_read(i);
    return registers[i].chipvalue;
}

uint8_t GreyfinModel::get_register_nvvalue(unsigned i) const
{
    return i < registers.size() ? registers[i].nvvalue : 0;
}

uint8_t GreyfinModel::get_register_defaultvalue(unsigned i) const
{
    return i < registers.size() ? registers[i].defaultvalue : 0;
}

uint8_t GreyfinModel::get_register_changemask(unsigned i) const
{
    if (i >= registers.size())
        return 0;
    mark_read(i, false);
    const Register& r = registers[i];
    return uint8_t((r.committedvalue ^ r.chipvalue) & r.mask);
}

bool GreyfinModel::is_register_receive(unsigned i) const
{
    return i < registers.size() && (registers[i].flags & REG_RECEIVE);
}

bool GreyfinModel::is_register_transmit(unsigned i) const
{
    return i < registers.size() && (registers[i].flags & REG_TRANSMIT);
}

bool GreyfinModel::is_register_shared(unsigned i) const
{
    return i < registers.size() && (registers[i].flags & REG_SHARED);
}

void GreyfinModel::set_register_chipvalue(unsigned i, uint8_t v)
{
    if (i >= registers.size())
        return;
    mark_overwritten(i);
    // a write of the value already there changes nothing to follow (and
    // settings copies write every register)
    const uint8_t value = registers[i].masked(v);
    if (registers[i].chipvalue == value)
        return;
    if (chip_journal)
        chip_journal->push_back({uint16_t(i), registers[i].chipvalue});
    registers[i].chipvalue = value;
    mark_written(i);
    touch_revision(this);
}

void GreyfinModel::undo_chip_values(const std::vector<ChipValueChange>& journal)
{
    std::vector<ChipValueChange>* keep = chip_journal;
    chip_journal = nullptr;
    for (auto it = journal.rbegin(); it != journal.rend(); ++it)
        set_register_chipvalue(it->index, it->before);
    chip_journal = keep;
}

void GreyfinModel::copy_register_chipvalues(const GreyfinModel& from, const uint64_t* only)
{
    bool changed = false;
    const size_t n = std::min(registers.size(), from.registers.size());
    auto copy = [&](size_t i) {
        const uint8_t value = registers[i].masked(from.registers[i].chipvalue);
        const bool moved = registers[i].chipvalue != value;
        if (moved) {
            registers[i].chipvalue = value;
            changed = true;
        }
        // what a commit would write, and what it starts (a retune), follows
        // from the values committed: a copy must commit as its original would
        if (moved || registers[i].committedvalue != from.registers[i].committedvalue) {
            registers[i].committedvalue = from.registers[i].committedvalue;
            mark_written(unsigned(i), moved ? 0 : COMMITTED_ONLY);
        }
    };
    if (only) {
        for (size_t w = 0; w * 64 < n; ++w)
            for (uint64_t bits = only[w]; bits; bits &= bits - 1) {
                const size_t i = w * 64 + size_t(__builtin_ctzll(bits));
                if (i < n)
                    copy(i);
            }
    } else {
        for (size_t i = 0; i < n; ++i)
            copy(i);
    }
    if (changed)
        touch_revision(this);
}

bool GreyfinModel::registers_written_since(uint64_t since, uint64_t* set, bool committed) const
{
    if (since > writes || writes - since > WRITE_LOG)
        return false;
    for (uint64_t g = since; g < writes; ++g) {
        const unsigned e = write_log[g % WRITE_LOG];
        if (committed || !(e & COMMITTED_ONLY)) {
            const unsigned i = e & ~unsigned(COMMITTED_ONLY);
            set[i >> 6] |= uint64_t(1) << (i & 63);
        }
    }
    return true;
}

void GreyfinModel::frob_register_chipvalue(unsigned i, uint8_t x, uint8_t clear)
{
    if (i >= registers.size())
        return;
    mark_read(i); // the bits it keeps are an input
    Register& r = registers[i];
    const uint8_t value = r.masked(uint8_t((r.chipvalue & ~clear) ^ x));
    if (r.chipvalue == value)
        return;
    if (chip_journal)
        chip_journal->push_back({uint16_t(i), r.chipvalue});
    r.chipvalue = value;
    mark_written(i);
    touch_revision(this);
}

void GreyfinModel::set_register_nvvalue(unsigned i, uint8_t v)
{
    if (i < registers.size())
        registers[i].nvvalue = registers[i].masked(v);
}

int GreyfinModel::find_register_by_operatingaddr(uint16_t operatingaddr) const
{
    for (size_t i = 0; i < registers.size(); ++i)
        if (registers[i].operatingaddr == operatingaddr)
            return int(i);
    return -1;
}

// ---------------------------------------------------------------- bitfields

namespace {

enum class Quantity { chip, nv, def, change };

uint8_t quantity_of(const Register& r, Quantity q)
{
    switch (q) {
    case Quantity::chip: return r.chipvalue;
    case Quantity::nv: return r.nvvalue;
    case Quantity::def: return r.defaultvalue;
    case Quantity::change: return uint8_t((r.committedvalue ^ r.chipvalue) & r.mask);
    }
    return 0;
}

unsigned read_bitfield(const std::vector<Register>& regs, const Bitfield& bf, Quantity q)
{
    uint64_t acc = 0;
    for (auto it = bf.segments.rbegin(); it != bf.segments.rend(); ++it) {
        // a malformed segment reads as zero bits rather than out of bounds
        unsigned width = std::min<unsigned>(it->width, 8);
        uint8_t v = it->reg < regs.size() ? quantity_of(regs[it->reg], q) : 0;
        acc = (acc << width) | ((unsigned(v) >> (it->lowbit & 7)) & ((1u << width) - 1));
    }
    return unsigned(acc);
}

} // namespace

std::string GreyfinModel::get_bitfield_name(unsigned i) const
{
    return i < bitfields.size() ? bitfields[i].name : std::string();
}

std::string GreyfinModel::get_bitfield_description(unsigned i) const
{
    return i < bitfields.size() ? bitfields[i].description : std::string();
}

std::string GreyfinModel::get_bitfield_tooltip(unsigned i) const
{
    return i < bitfields.size() ? bitfields[i].tooltip : std::string();
}

unsigned GreyfinModel::get_bitfield_bitlength(unsigned i) const
{
    if (i >= bitfields.size())
        return 0;
    unsigned n = 0;
    for (const BitfieldSegment& s : bitfields[i].segments)
        n += s.width;
    return n;
}

void GreyfinModel::mark_bitfield_read(unsigned i, bool chip_only) const
{
    if (read_set)
        for (const BitfieldSegment& s : bitfields[i].segments)
            if (s.reg < registers.size())
                mark_read(s.reg, chip_only);
}

unsigned GreyfinModel::get_bitfield_chipvalue(unsigned i) const
{
    if (i >= bitfields.size())
        return 0;
    if (read_set)
        mark_bitfield_read(i);
    return read_bitfield(registers, bitfields[i], Quantity::chip);
}

unsigned GreyfinModel::get_bitfield_nvvalue(unsigned i) const
{
    return i < bitfields.size() ? read_bitfield(registers, bitfields[i], Quantity::nv) : 0;
}

unsigned GreyfinModel::get_bitfield_defaultvalue(unsigned i) const
{
    return i < bitfields.size() ? read_bitfield(registers, bitfields[i], Quantity::def) : 0;
}

unsigned GreyfinModel::get_bitfield_changemask(unsigned i) const
{
    if (i >= bitfields.size())
        return 0;
    if (read_set)
        mark_bitfield_read(i, false);
    return read_bitfield(registers, bitfields[i], Quantity::change);
}

void GreyfinModel::set_bitfield_chipvalue(unsigned i, unsigned value)
{
    if (i >= bitfields.size())
        return;
    touch_revision(this);
    uint64_t v = value;
    for (const BitfieldSegment& s : bitfields[i].segments) {
        unsigned width = std::min<unsigned>(s.width, 8);
        unsigned low = s.lowbit & 7;
        if (s.reg < registers.size()) {
            Register& r = registers[s.reg];
            unsigned m = (((1u << width) - 1) & 0xFF) << low;
            mark_read(s.reg); // the bits outside the field are kept
            unsigned nv = (r.chipvalue & ~m) | ((unsigned(v) << low) & m);
            r.chipvalue = r.masked(uint8_t(nv));
            mark_written(s.reg);
        }
        v >>= width;
    }
}

// ---------------------------------------------------------------- loads and commit

void GreyfinModel::load_chipdefaults()
{
    touch_revision(this);
    for (unsigned i = 0; i < registers.size(); ++i) {
        registers[i].chipvalue = registers[i].defaultvalue;
        mark_written(i);
    }
}

void GreyfinModel::load_boarddefaults()
{
    touch_revision(this);
    for (unsigned i = 0; i < registers.size(); ++i) {
        registers[i].chipvalue = registers[i].masked(registers[i].nvvalue);
        mark_written(i);
    }
}

void GreyfinModel::load_chipoperating()
{
    touch_revision(this);
    if (!board)
        throw std::runtime_error("GreyfinModel::evusb_read16");
    // all at once: over a network link each read alone is a round trip
    std::vector<uint16_t> addresses(registers.size()), values(registers.size(), 0);
    for (size_t i = 0; i < registers.size(); ++i)
        addresses[i] = registers[i].operatingaddr;
    board->evusb_read16_many(addresses.data(), unsigned(addresses.size()), values.data());
    for (unsigned i = 0; i < registers.size(); ++i) {
        registers[i].chipvalue = registers[i].masked(uint8_t(values[i] & 0xFF));
        mark_written(i);
    }
}

namespace {

void write_diagnostic(const Register& r)
{
    // one line per register written: built directly, without a formatting stream
    static const char digits[] = "0123456789abcdef";
    std::string line;
    line.reserve(r.name.size() + 14);
    line += r.name;
    line += ": value 0x";
    line += digits[r.chipvalue >> 4];
    line += digits[r.chipvalue & 15];
    line += '\n';
    diag_text(line);
}

} // namespace

bool GreyfinModel::take_committed(unsigned i)
{
    Register& r = registers[i];
    const uint8_t old = r.committedvalue;
    r.committedvalue = r.chipvalue;
    if (old != r.chipvalue)
        mark_written(i, COMMITTED_ONLY);
    return (r.chipvalue ^ old) & r.mask;
}

void GreyfinModel::commit_registers()
{
    std::vector<unsigned> changed_fields;
    for (unsigned i = 0; i < bitfields.size(); ++i)
        if (get_bitfield_changemask(i))
            changed_fields.push_back(i);

    if (!signal_changed_register.empty() || !board) {
        // someone follows the writes: each register's signal comes right
        // after its own write (a watcher may end the link between two)
        for (unsigned i = 0; i < registers.size(); ++i) {
            if (!take_committed(i))
                continue;
            const Register& r = registers[i];
            evusb_write(r.operatingaddr, r.chipvalue);
            signal_changed_register.emit(i, uint8_t(r.operatingaddr & 0xFF), r.chipvalue);
            write_diagnostic(r);
        }
    } else {
        // nobody can tell the writes apart (a board being opened): they go
        // out together, in register order
        std::vector<unsigned> written;
        std::vector<uint16_t> addresses;
        std::vector<uint8_t> values;
        for (unsigned i = 0; i < registers.size(); ++i) {
            if (!take_committed(i))
                continue;
            const Register& r = registers[i];
            written.push_back(i);
            addresses.push_back(r.operatingaddr);
            values.push_back(r.chipvalue);
        }
        if (!written.empty())
            board->evusb_write_many(addresses.data(), values.data(), unsigned(written.size()));
        for (unsigned i : written)
            write_diagnostic(registers[i]);
    }

    for (unsigned i : changed_fields)
        signal_changed_bitfield.emit(i, get_bitfield_chipvalue(i));
}

void GreyfinModel::commit_all_registers()
{
    std::vector<unsigned> changed_fields;
    for (unsigned i = 0; i < bitfields.size(); ++i)
        if (get_bitfield_changemask(i))
            changed_fields.push_back(i);

    for (unsigned i = 0; i < registers.size(); ++i) {
        const bool changed = take_committed(i);
        const Register& r = registers[i];
        evusb_write(r.operatingaddr, r.chipvalue);
        if (changed)
            signal_changed_register.emit(i, uint8_t(r.operatingaddr & 0xFF), r.chipvalue);
        write_diagnostic(r);
    }

    for (unsigned i : changed_fields)
        signal_changed_bitfield.emit(i, get_bitfield_chipvalue(i));
}

void GreyfinModel::mark_shared_registers()
{
    std::map<uint16_t, std::vector<unsigned>> groups;
    for (unsigned i = 0; i < registers.size(); ++i)
        groups[registers[i].chipaddr].push_back(i);
    for (auto& g : groups) {
        if (g.second.size() < 2)
            continue;
        uint32_t seen = 0;
        bool first = true;
        for (unsigned i : g.second) {
            Register& r = registers[i];
            uint32_t dir = r.flags & (REG_RECEIVE | REG_TRANSMIT);
            if (!first && (seen & dir))
                diag() << "Register " << r.name << " shared, but flag error\n";
            r.flags |= REG_SHARED;
            seen |= dir;
            first = false;
        }
    }
}

// ---------------------------------------------------------------- NV area

std::vector<uint8_t> GreyfinModel::get_nvarea()
{
    std::vector<uint8_t> out;
    out.reserve(registers.size() * 2 + 1);
    for (const Register& r : registers) {
        out.push_back(uint8_t(r.operatingaddr & 0xFF));
        out.push_back(r.chipvalue);
    }
    out.push_back(0xFF);
    return out;
}

void GreyfinModel::set_nvarea(const std::vector<uint8_t>& bytes)
{
    for (size_t pos = 0; pos + 1 < bytes.size(); pos += 2) {
        uint8_t address = bytes[pos];
        if (address == 0xFF)
            break;
        int i = find_register_by_operatingaddr(address);
        if (i < 0) {
            warn_not_found(address);
            continue;
        }
        set_register_nvvalue(unsigned(i), bytes[pos + 1]);
    }
}

std::vector<uint8_t> GreyfinModelAddr12::get_nvarea()
{
    std::map<uint16_t, uint8_t> values;
    for (const Register& r : registers)
        values[r.operatingaddr] = r.chipvalue;

    std::vector<uint8_t> out;
    auto it = values.begin();
    while (it != values.end()) {
        auto run_end = it;
        unsigned length = 0;
        uint16_t next = it->first;
        while (run_end != values.end() && run_end->first == next && length < 255) {
            ++length;
            ++next;
            ++run_end;
            if (next == 0) // wrapped past 0xFFFF: the run cannot continue
                break;
        }
        out.push_back(uint8_t(255 - length));
        uint16_t a = it->first;
        if (a & 0x8000)
            out.push_back(uint8_t(0x80 | (a & 0x7F)));
        else if (a < 0x70)
            out.push_back(uint8_t(a));
        else {
            out.push_back(uint8_t(0x70 | (a >> 8)));
            out.push_back(uint8_t(a & 0xFF));
        }
        for (; it != run_end; ++it)
            out.push_back(it->second);
    }
    out.push_back(0xFF);
    return out;
}

void GreyfinModelAddr12::set_nvarea(const std::vector<uint8_t>& bytes)
{
    size_t pos = 0;
    while (pos < bytes.size()) {
        uint8_t count = bytes[pos++];
        if (count == 0xFF || pos >= bytes.size())
            break;
        uint8_t first = bytes[pos++];
        unsigned address;
        if (first & 0x80)
            address = 0x8000 | (first & 0x7F);
        else if ((first & 0x70) == 0x70) {
            if (pos >= bytes.size())
                break;
            address = (unsigned(first & 0x0F) << 8) | bytes[pos++];
        } else
            address = first;
        unsigned n = 255u - count;
        for (unsigned k = 0; k < n && pos < bytes.size(); ++k, ++address) {
            int i = find_register_by_operatingaddr(uint16_t(address));
            uint8_t v = bytes[pos++];
            if (i < 0)
                warn_not_found(address & 0xFFFF);
            else
                set_register_nvvalue(unsigned(i), v);
        }
    }
}

// ---------------------------------------------------------------- board access

void GreyfinModel::evusb_write(uint16_t operatingaddr, uint8_t value)
{
    if (!board)
        throw std::runtime_error("GreyfinModel::evusb_write");
    board->evusb_write(operatingaddr, value);
}

uint16_t GreyfinModel::evusb_read16(uint16_t operatingaddr)
{
    if (!board)
        throw std::runtime_error("GreyfinModel::evusb_read16");
    return board->evusb_read16(operatingaddr);
}

void GreyfinModel::evusb_set_ethstate(uint8_t state)
{
    if (!board)
        throw std::runtime_error("GreyfinModel::evusb_set_ethstate");
    board->evusb_set_ethstate(state);
}

uint8_t GreyfinModel::evusb_get_ethstate()
{
    if (!board)
        throw std::runtime_error("GreyfinModel::evusb_get_ethstate");
    return uint8_t(board->evusb_get_ethstate());
}

void GreyfinModel::start_chip_reprogramming(unsigned flags)
{
    if (board)
        board->start_reprogramming(flags);
}

std::string GreyfinModel::debug_register_dump()
{
    std::string out = "Register Dump\n";
    char buf[16];
    for (unsigned a = 0; a < 0xA0; ++a) {
        if (a % 16 == 0) {
            if (a)
                out += "\n";
            std::snprintf(buf, sizeof buf, "%03X:", a);
            out += buf;
        }
        std::snprintf(buf, sizeof buf, " %02X", unsigned(evusb_read16(uint16_t(a)) & 0xFF));
        out += buf;
    }
    out += "\n";
    return out;
}

// ---------------------------------------------------------------- vocabulary

std::list<std::string> GreyfinModel::get_supported_rx_btr_settings()
{
    return {"Normal"};
}

std::list<std::string> GreyfinModel::get_supported_modulations()
{
    return {"ASK", "FSK", "PSK"};
}

std::list<std::string> GreyfinModel::get_supported_framingmodes()
{
    return {"HDLC"};
}

std::list<std::string> GreyfinModel::get_supported_crcmodes()
{
    return {"CRC-CCITT"};
}

unsigned GreyfinModel::get_supported_encodingmodes()
{
    return ENC_INVERT | ENC_DIFF | ENC_SCRAMBLER | ENC_MANCHESTER;
}

bool GreyfinModel::is_modulation_shaped(int m)
{
    return m == MOD_ASK_SHAPED || m == MOD_ASK_SHAPED_COHERENT || m == MOD_PSK_SHAPED || m == MOD_GFSK;
}

bool GreyfinModel::is_modulation_ask(int m)
{
    return m < MOD_PSK;
}

bool GreyfinModel::is_modulation_psk(int m)
{
    return m >= MOD_PSK && m < MOD_MSK;
}

bool GreyfinModel::is_modulation_fsk(int m)
{
    return m >= MOD_MSK && m < MOD_4FSK;
}

bool GreyfinModel::is_modulation_4fsk(int)
{
    return false;
}

int GreyfinModel::get_rx_btr()
{
    return 0;
}

int GreyfinModel::get_rx_btr_preamble()
{
    return 100;
}

bool GreyfinModel::is_framingmode_hdlc_fec()
{
    return false;
}

bool GreyfinModel::is_framingmode_zigbee()
{
    return is_framingmode_zigbee_900() || is_framingmode_zigbee_2g4();
}

unsigned GreyfinModel::get_crclength()
{
    if (is_crcmode_ccitt() || is_crcmode_crc16() || is_crcmode_dnp())
        return 2;
    if (is_crcmode_crc32())
        return 4;
    return 0;
}

uint8_t GreyfinModel::get_txkeyup()
{
    // alternating on air after the encoders: indexed by the encoding options
    static const uint8_t keyup[16] = {0x55, 0x55, 0xFF, 0x00, 0x55, 0x55, 0x55, 0x55,
                                      0x00, 0x00, 0x00, 0xFF, 0x55, 0x55, 0x55, 0x55};
    unsigned index = (get_enc_invert() ? 1 : 0) + (get_enc_diff() ? 2 : 0) + (get_enc_scrambler() ? 4 : 0) +
                     (get_enc_manchester() ? 8 : 0);
    return keyup[index];
}

USBDeviceCurrents GreyfinModel::get_currents()
{
    USBDeviceCurrents c;
    double rx = get_rx_bitrate();
    if (rx > 0)
        c.values[5] = 1.0 / rx;
    double tx = get_tx_bitrate();
    if (tx > 0)
        c.values[6] = 1.0 / tx;
    double head = get_txkeyup_length();
    double tail = get_postamble_length();
    if (is_framingmode_rawpreamblematch())
        head += get_preamble_length();
    if (is_framingmode_hdlc() || is_framingmode_hdlc_fec()) {
        head += 8;
        tail += 8;
    }
    if (is_framingmode_zigbee())
        head = 40;
    if (is_framingmode_crcsupported())
        tail += get_crclength();
    c.values[8] = head * c.values[6];
    c.values[9] = tail * c.values[6];
    return c;
}

// ---------------------------------------------------------------- base setters

void GreyfinModel::set_xtal_frequency(unsigned hz)
{
    if (hz == xtal_frequency)
        return;
    xtal_frequency = hz;
    touch_revision(this);
    signal_changed_xtal_frequency.emit();
}

void GreyfinModel::set_xtal_tolerance(double ppm)
{
    // NaN or a negative tolerance would silently disable the tolerance checks
    if (!(ppm >= 0))
        ppm = 0;
    else if (ppm > 1000000)
        ppm = 1000000;
    if (ppm == xtal_tolerance)
        return;
    xtal_tolerance = ppm;
    touch_revision(this);
    signal_changed_xtal_tolerance.emit();
}

void GreyfinModel::set_rx(double bandwidth, double bitrate, int modulation, bool, int btr)
{
    set_rx_modulation(modulation);
    set_rx_bandwidth(bandwidth);
    set_rx_bitrate(bitrate);
    set_rx_btr(btr);
}

void GreyfinModel::set_tx(double deviation, double bitrate, int modulation, bool)
{
    set_tx_modulation(modulation);
    set_tx_deviation(deviation);
    set_tx_bitrate(bitrate);
}

void GreyfinModel::set_rx_btr(int) {}

} // namespace KORVIK
