// The RC1200 finds the registers the shared chip code drives by name, while
// its own rules address them by index: both must name the same registers.

#include <gtest/gtest.h>

#include <initializer_list>

#include "ModelSupport.h"
#include "model/common/ChipMath.h"

using namespace KORVIK;
using namespace KORVIK::model_test;
namespace R = KORVIK::RC1200;

namespace {

class RoleProbe : public RC1200Model {
public:
    using RC1200Model::RC1200Model;
    using RC1200Model::regs;
};

void expect_group(const RegGroup& g, std::initializer_list<int> idx, const char* role)
{
    ASSERT_EQ(g.n, idx.size()) << role;
    unsigned k = 0;
    for (int i : idx)
        EXPECT_EQ(g.idx[k++], i) << role << " byte " << k;
}

TEST(RC1200Roles, RolesFoundByNameAreTheIndexedRegisters)
{
    MemoryBoard board;
    RoleProbe m(&board);
    const ChipRegs& r = m.regs();

    EXPECT_EQ(r.ifmode, R::IFMODE);
    EXPECT_EQ(r.modulation_rx, R::MODULATION_RX);
    EXPECT_EQ(r.modulation_tx, R::MODULATION_TX);
    EXPECT_EQ(r.modulation_bits, 0x0F);
    EXPECT_EQ(r.encoding, R::ENCODING);
    EXPECT_EQ(r.framing, R::FRAMING);
    EXPECT_EQ(r.fec, R::FEC);
    EXPECT_EQ(r.pllloop_rx, R::PLLLOOP_RX);
    EXPECT_EQ(r.pllloop_tx, R::PLLLOOP_TX);
    EXPECT_EQ(r.pllranging_rx, R::PLLRANGING_RX);
    EXPECT_EQ(r.pllranging_tx, R::PLLRANGING_TX);
    EXPECT_EQ(r.txpwr, R::TXPWR);
    EXPECT_EQ(r.adcmisc, R::ADCMISC);
    EXPECT_EQ(r.agctarget, R::AGCTARGET);
    EXPECT_EQ(r.agcattack, R::AGCATTACK);
    EXPECT_EQ(r.agcdecay, R::AGCDECAY);
    EXPECT_EQ(r.phasegain, R::PHASEGAIN);
    EXPECT_EQ(r.freqgain, R::FREQGAIN);
    EXPECT_EQ(r.freqgain2, R::FREQGAIN2);
    EXPECT_EQ(r.amplgain, R::AMPLGAIN);

    expect_group(r.crcinit, {R::CRCINIT3, R::CRCINIT2, R::CRCINIT1, R::CRCINIT0}, "crcinit");
    expect_group(r.freq_rx, {R::FREQ3_RX, R::FREQ2_RX, R::FREQ1_RX, R::FREQ0_RX}, "freq rx");
    expect_group(r.freq_tx, {R::FREQ3_TX, R::FREQ2_TX, R::FREQ1_TX, R::FREQ0_TX}, "freq tx");
    expect_group(r.fskdev, {R::FSKDEV2, R::FSKDEV1, R::FSKDEV0}, "fskdev");
    expect_group(r.txrate, {R::TXRATEHI, R::TXRATEMID, R::TXRATELO}, "txrate");
    expect_group(r.iffreq, {R::IFFREQHI, R::IFFREQLO}, "iffreq");
    expect_group(r.cicdec, {R::CICDECHI, R::CICDECLO}, "cicdec");
    expect_group(r.datarate, {R::DATARATEHI, R::DATARATELO}, "datarate");
    expect_group(r.tmggain, {R::TMGGAINHI, R::TMGGAINLO}, "tmggain");
    EXPECT_EQ(r.txcic.n, 0u) << "the RC1200 has no transmit CIC";
}

} // namespace
