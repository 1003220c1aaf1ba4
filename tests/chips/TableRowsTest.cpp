#include <memory>

#include "chips/ChipSupport.h"
#include "chips/TableRows.h"
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

} // namespace
} // namespace chips_test
} // namespace KORVIK
