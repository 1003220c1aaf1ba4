#include <list>
#include <memory>
#include <string>
#include <vector>

#include "ChipSupport.h"
#include "TableRows.h"
#include "model/rc1200/RC1200Model.h"

namespace KORVIK {
namespace chips_test {
namespace {

/// Opens the bitfield records so that every segment can be compared.
template <class Model>
class Open : public Model {
public:
    using Model::Model;
    const std::vector<Bitfield>& rows() const { return this->bitfields; }
};

template <class Model, size_t NR, size_t NB>
void check_tables(const RegisterRow (&regs)[NR], const BitfieldRow (&bfs)[NB])
{
    CerrCapture cerr;
    Open<Model> m(nullptr);
    EXPECT_EQ(cerr.text(), "");
    ASSERT_EQ(m.get_registers(), NR);
    for (const RegisterRow& r : regs) {
        SCOPED_TRACE(std::string(m.get_chip_name()) + " register " + std::to_string(r.index) + " " + r.name);
        unsigned i = r.index;
        EXPECT_EQ(m.get_register_name(i), r.name);
        EXPECT_EQ(m.get_register_chipaddr(i), r.chipaddr);
        EXPECT_EQ(m.get_register_operatingaddr(i), r.operatingaddr);
        EXPECT_EQ(m.get_register_defaultvalue(i), r.defaultvalue);
        EXPECT_EQ(m.get_register_chipvalue(i), r.defaultvalue);
        EXPECT_EQ(m.get_register_mask(i), r.mask);
        EXPECT_EQ(m.is_register_receive(i), (r.direction & 1) != 0);
        EXPECT_EQ(m.is_register_transmit(i), (r.direction & 2) != 0);
        // shared exactly when another row names the same chip register
        bool twin = false;
        for (const RegisterRow& o : regs)
            twin = twin || (o.index != r.index && o.chipaddr == r.chipaddr);
        EXPECT_EQ(m.is_register_shared(i), twin);
    }
    ASSERT_EQ(m.get_bitfields(), NB);
    for (const BitfieldRow& b : bfs) {
        SCOPED_TRACE(std::string(m.get_chip_name()) + " bitfield " + std::to_string(b.index) + " " + b.name);
        unsigned i = b.index;
        EXPECT_EQ(m.get_bitfield_name(i), b.name);
        EXPECT_EQ(m.get_bitfield_description(i), b.description);
        EXPECT_EQ(m.get_bitfield_tooltip(i), b.tooltip);
        const std::vector<BitfieldSegment>& segs = m.rows()[i].segments;
        ASSERT_EQ(segs.size(), b.nsegments);
        unsigned bits = 0;
        for (unsigned s = 0; s < b.nsegments; ++s) {
            EXPECT_EQ(segs[s].reg, b.segments[s].reg) << "segment " << s;
            EXPECT_EQ(segs[s].lowbit, b.segments[s].lowbit) << "segment " << s;
            EXPECT_EQ(segs[s].width, b.segments[s].width) << "segment " << s;
            bits += b.segments[s].width;
        }
        EXPECT_EQ(m.get_bitfield_bitlength(i), bits);
    }
}

TEST(TableRows, RC1200) { check_tables<RC1200Model>(rc1200_registers, rc1200_bitfields); }
TEST(TableRows, RC1400) { check_tables<RC1400Model>(rc1400_registers, rc1400_bitfields); }
TEST(TableRows, RC1300) { check_tables<RC1300Model>(rc1300_registers, rc1300_bitfields); }
TEST(TableRows, RC1100) { check_tables<RC1100Model>(rc1100_registers, rc1100_bitfields); }


// Names in id order: an id is the position of its name, so order matters as much as spelling.
struct Vocabulary {
    ModelFactory factory;
    const char* chip;
    unsigned chipflags;
    std::vector<std::string> modulations, framings, crcs, btrs;
    bool fourfsk;
};

TEST(TableRows, SupportedListsInIdOrder)
{
    const std::vector<std::string> mods = {"ASK", "ASK Coherent", "ASK Shaped", "ASK Shaped Coherent", "PSK",
                                           "PSK Shaped", "OQPSK", "MSK", "FSK", "GFSK", "4-FSK"};
    const std::vector<std::string> mods9(mods.begin(), mods.end() - 1);
    const std::vector<std::string> crcs = {"CRC-CCITT", "CRC-16", "CRC-32"};
    const std::vector<std::string> btrs = {"Normal", "Fast"};
    const Vocabulary chips[] = {
        {create_rc1200_model, "RC1200", 3, mods9,
         {"HDLC", "HDLC FEC", "Raw", "Raw Soft", "802.15.4 (900M)", "802.15.4 (2G4)", "Synchronous Wiremode",
          "Asynchronous Wiremode"},
         crcs, btrs, false},
        {create_rc1300_model, "RC1300", 3, mods9,
         {"HDLC", "Raw", "Raw Soft", "Raw Preamble Match", "802.15.4 (900M)", "802.15.4 (2G4)"}, crcs, btrs, false},
        {create_rc1400_model, "RC1400", 1, mods, {"Raw", "Raw Soft", "Raw Preamble Match", "Synchronous Wiremode"},
         {}, btrs, true},
        {create_rc1100_model, "RC1100", 2, mods,
         {"HDLC", "HDLC FEC", "Raw", "Raw Soft", "Raw Preamble Match", "802.15.4 (900M)", "802.15.4 (2G4)",
          "Synchronous Wiremode"},
         crcs, {}, true},
    };
    auto vec = [](const std::list<std::string>& l) { return std::vector<std::string>(l.begin(), l.end()); };
    for (const Vocabulary& v : chips) {
        SCOPED_TRACE(v.chip);
        std::unique_ptr<GreyfinModel> m(v.factory(nullptr));
        EXPECT_EQ(m->get_chip_name(), v.chip);
        EXPECT_EQ(m->get_chipflags(), v.chipflags);
        EXPECT_EQ(vec(m->get_supported_modulations()), v.modulations);
        EXPECT_EQ(vec(m->get_supported_framingmodes()), v.framings);
        EXPECT_EQ(vec(m->get_supported_crcmodes()), v.crcs);
        EXPECT_EQ(vec(m->get_supported_rx_btr_settings()), v.btrs);
        EXPECT_EQ(m->get_supported_encodingmodes(), 15u);
        EXPECT_EQ(m->is_modulation_4fsk(10), v.fourfsk);
        EXPECT_FALSE(m->is_crcmode_dnp());
        for (int id = 0; id <= 10; ++id) {
            EXPECT_EQ(m->is_modulation_ask(id), id < 4) << id;
            EXPECT_EQ(m->is_modulation_psk(id), id >= 4 && id < 7) << id;
            EXPECT_EQ(m->is_modulation_fsk(id), id >= 7 && id < 10) << id;
            EXPECT_EQ(m->is_modulation_shaped(id), id == 2 || id == 3 || id == 5 || id == 9) << id;
        }
    }
}

} // namespace
} // namespace chips_test
} // namespace KORVIK
