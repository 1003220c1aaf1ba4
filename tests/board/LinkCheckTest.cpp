// The link check and the virtual air answer from one rule evaluator: the
// check names the rule that refuses, the air refuses for the same rule, and
// a random corpus of settings over every chip shows no disagreement. Also
// the air's simulated time and its bit errors.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <vector>
#include <algorithm>

#include "board/AirLink.h"
#include "board/LinkReport.h"
#include "board/MainLoop.h"
#include "board/SimBoard.h"
#include "board/VirtualAir.h"
#include "model/GreyfinModel.h"
#include "model/common/Diagnostics.h"

using namespace KORVIK;

namespace {

const char* const CHIPS[4] = {"RC1200", "RC1300", "RC1400", "RC1100"};

int framing_id(GreyfinModel& m, const std::string& name)
{
    int id = 0;
    for (const std::string& n : m.get_supported_framingmodes()) {
        if (n == name)
            return id;
        ++id;
    }
    return -1;
}

void pump_until_quiet(VirtualAir& air)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (air.in_flight() > 0 && std::chrono::steady_clock::now() < end)
        main_context_dispatch_pending();
    main_context_dispatch_pending();
}

// The air refuses more than about a second of waiting packets: a refused
// one goes again once the air has caught up.
void send_paced(SimBoard& tx, const std::vector<uint8_t>& p)
{
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    for (;;) {
        try {
            tx.send_packet(p.data(), unsigned(p.size()), nullptr);
            return;
        } catch (const std::runtime_error&) {
            if (std::chrono::steady_clock::now() > end)
                throw;
            main_context_dispatch_pending();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
}

class LinkCheckTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        air.set_enabled(true);
        air.set_fast(true);
        air.set_seed(3);
        air.set_path_loss(60);
    }
    void TearDown() override
    {
        air.set_fast(false);
        air.set_enabled(false);
    }

    std::unique_ptr<SimBoard> make(const std::string& serial, const std::string& iface, const std::string& chip)
    {
        auto b = std::make_unique<SimBoard>(serial, iface, "board " + serial, chip, "0012340A0B0C", nullptr);
        b->get_model()->load_chipdefaults();
        b->signal_receive.connect([this, p = b.get()](const uint8_t* d, unsigned n, const uint8_t*, int16_t, int32_t) {
            heard[p].push_back(std::vector<uint8_t>(d, d + n));
        });
        return b;
    }

    /// Both boards on one carrier, FSK at 100 kbit/s, the given framing.
    void tune(SimBoard& tx, SimBoard& rx, const std::string& framing)
    {
        for (SimBoard* b : {&tx, &rx}) {
            GreyfinModel* m = b->get_model();
            m->set_tx_carrierfrequency(868.3e6);
            m->set_rx_carrierfrequency(868.3e6);
            m->set_tx(50e3, 100e3, MOD_FSK, true);
            m->set_rx(200e3, 100e3, MOD_FSK, true, 0);
            m->set_framingmode(framing_id(*m, framing));
            m->commit_registers();
        }
    }

    VirtualAir& air = VirtualAir::instance();
    std::map<SimBoard*, std::vector<std::vector<uint8_t>>> heard;
};

TEST(LinkRules, EveryRuleWithItsMarginAndTheFirstFailureDecides)
{
    air::Emission tx;
    tx.carrier = tx.nominal_carrier = 868.3e6;
    tx.bitrate = 9600;
    tx.family = air::Family::FSK;
    tx.framing = air::Framing::HDLC;
    tx.crc = 1;
    tx.crcinit = 0xFFFF;
    tx.xtal_tolerance = 10;
    air::Reception rx;
    rx.can_receive = true;
    rx.carrier = rx.nominal_carrier = 868.3e6 + 20e3;
    rx.bandwidth = 100e3;
    rx.bitrate = 9600 * 1.015;
    rx.family = air::Family::FSK;
    rx.framing = air::Framing::HDLC;
    rx.crc = 1;
    rx.crcinit = 0xFFFF;
    rx.xtal_tolerance = 20;

    air::Evaluation e = air::evaluate(tx, rx, nullptr, 0);
    ASSERT_TRUE(e.heard());
    EXPECT_DOUBLE_EQ(e[air::Rule::CARRIER].margin, 50e3 - 20e3);
    EXPECT_NEAR(e[air::Rule::BITRATE].margin, 0.02 - 0.015 / 1.015, 1e-12);
    EXPECT_FALSE(e[air::Rule::SYNC].applies);
    // worst case: both tolerances count against the window
    e = air::evaluate(tx, rx, nullptr, 0, air::Crystal::WORST_CASE);
    EXPECT_NEAR(e.crystal_allowance, 30 * 868.3 + 20 * 0.02, 1e-6);
    EXPECT_NEAR(e[air::Rule::CARRIER].margin, 30e3 - e.crystal_allowance, 1e-6);

    struct Case {
        const char* what;
        std::function<void(air::Emission&, air::Reception&)> change;
        air::Rule cause;
    };
    const Case cases[] = {
        {"transmit-only sender fails first", [](air::Emission& t, air::Reception& r) { t.can_transmit = false; r.framing = air::Framing::RAW; }, air::Rule::TRANSMITTER},
        {"receiver off", [](air::Emission&, air::Reception& r) { r.can_receive = false; }, air::Rule::RECEIVER},
        {"carrier past half the bandwidth", [](air::Emission& t, air::Reception&) { t.carrier += 80e3; }, air::Rule::CARRIER},
        {"NaN carrier", [](air::Emission& t, air::Reception&) { t.carrier = NAN; }, air::Rule::CARRIER},
        {"ASK against FSK", [](air::Emission& t, air::Reception&) { t.family = air::Family::ASK; }, air::Rule::MODULATION},
        {"bitrate 3 % off", [](air::Emission& t, air::Reception& r) { t.bitrate = r.bitrate * 1.03; }, air::Rule::BITRATE},
        {"3 % off with Fast recovery", [](air::Emission& t, air::Reception& r) { t.bitrate = r.bitrate * 1.03; r.fast_btr = true; r.framing = air::Framing::RAW; }, air::Rule::FRAMING},
        {"CRC preset", [](air::Emission& t, air::Reception&) { t.crcinit = 0; }, air::Rule::CRC},
        {"Manchester on one side", [](air::Emission& t, air::Reception&) { t.encoding = ENC_MANCHESTER; }, air::Rule::ENCODING},
        {"sync length", [](air::Emission& t, air::Reception& r) {
             t.framing = r.framing = air::Framing::RAW_PREAMBLE_MATCH;
             t.crc = r.crc = -1;
             t.sync_length = 8;
             r.sync_length = 16;
         }, air::Rule::SYNC},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        air::Emission t = tx;
        air::Reception r = rx;
        c.change(t, r);
        const air::Evaluation ev = air::evaluate(t, r, nullptr, 0);
        EXPECT_EQ(ev.cause, c.cause);
        EXPECT_EQ(ev.verdict, air::verdict_of(c.cause));
        EXPECT_FALSE(ev[c.cause].ok);
        EXPECT_EQ(air::judge(t, r, nullptr, 0), ev.verdict);
    }

    // the address filter reads the packet
    rx.match_flags = 2;
    rx.addrlength = 2;
    rx.address_match = true;
    rx.addr2[0] = 0x12;
    rx.addr2[1] = 0x34;
    const uint8_t to[3] = {0x12, 0x34, 0}, other[3] = {0x12, 0x35, 0};
    EXPECT_TRUE(air::evaluate(tx, rx, to, 3).heard());
    EXPECT_EQ(air::evaluate(tx, rx, other, 3).cause, air::Rule::ADDRESS);
    EXPECT_EQ(air::evaluate(tx, rx, to, 1).cause, air::Rule::ADDRESS);
    // without a packet the filter is not asked
    EXPECT_FALSE(air::evaluate(tx, rx, nullptr, 0, air::Crystal::ACTUAL, false)[air::Rule::ADDRESS].applies);
}

// the mistakes people make on the bench, each named with what to change
TEST_F(LinkCheckTest, RealLookingMistakesNameTheirCauseAndFix)
{
    struct Case {
        const char* what;
        const char* tx_chip;
        const char* rx_chip;
        const char* framing;
        std::function<void(SimBoard&, SimBoard&)> change;
        std::vector<uint8_t> packet;
        const char* cause; ///< "" when it works
        const char* fix;
    };
    const uint8_t home[6] = {0xC0, 0xFF, 0xEE, 0, 0, 0};
    const Case cases[] = {
        {"matched HDLC pair", "RC1200", "RC1300", "HDLC", [](SimBoard&, SimBoard&) {}, {1, 2, 3}, "", ""},
        {"8-bit sync word against a 16-bit detector", "RC1300", "RC1400", "Raw Preamble Match",
         [](SimBoard& t, SimBoard& r) {
             t.get_model()->set_preamble_length(8);
             t.get_model()->set_preamble(0xAA);
             r.get_model()->set_preamble_length(16);
             r.get_model()->set_preamble(0xAAAA);
         },
         {1, 2, 3}, "sync", "set preamble_length on the receiver to 8 and preamble to 0xAA"},
        {"bitrate 3 % off", "RC1200", "RC1200", "HDLC",
         [](SimBoard& t, SimBoard&) { t.get_model()->set_tx_bitrate(103e3); }, {1, 2, 3}, "bitrate",
         "or rx_btr to Fast"},
        {"carriers one bandwidth apart", "RC1200", "RC1300", "HDLC",
         [](SimBoard&, SimBoard& r) {
             r.get_model()->set_rx_carrierfrequency(868.3e6 + r.get_model()->get_rx_bandwidth());
         },
         {1, 2, 3}, "carrier", "set rx_carrierfrequency to"},
        {"HDLC address mismatch", "RC1200", "RC1200", "HDLC",
         [&](SimBoard&, SimBoard& r) {
             r.set_chacc_addrlength(3);
             r.set_chacc_addr1(home);
             r.set_chacc_addrmatch1(true);
         },
         {0xC0, 0xFF, 0xEF, 9}, "address", "address the packet to C0:FF:EE"},
        {"HDLC address that matches", "RC1200", "RC1200", "HDLC",
         [&](SimBoard&, SimBoard& r) {
             r.set_chacc_addrlength(3);
             r.set_chacc_addr1(home);
             r.set_chacc_addrmatch1(true);
         },
         {0xC0, 0xFF, 0xEE, 9}, "", ""},
        {"receive-only sender", "RC1400", "RC1300", "Raw", [](SimBoard&, SimBoard&) {}, {1, 2, 3}, "transmitter",
         "send from a board that can transmit"},
        {"transmit-only listener", "RC1200", "RC1100", "Raw", [](SimBoard&, SimBoard&) {}, {1, 2, 3}, "receiver",
         "listen with a board that can receive"},
        {"ASK against GFSK", "RC1200", "RC1300", "HDLC",
         [](SimBoard& t, SimBoard&) { t.get_model()->set_tx_modulation(MOD_ASK); }, {1, 2, 3}, "modulation",
         "set rx_modulation to 'ASK'"},
        {"CRC-16 against CRC-32", "RC1200", "RC1300", "HDLC",
         [](SimBoard& t, SimBoard& r) {
             t.get_model()->set_crcmode(1);
             r.get_model()->set_crcmode(2);
         },
         {1, 2, 3}, "crc", "set crcmode on the receiver to 'CRC-16'"},
        {"scrambler on one side", "RC1300", "RC1200", "HDLC",
         [](SimBoard& t, SimBoard& r) {
             t.get_model()->set_enc_scrambler(true);
             r.get_model()->set_enc_scrambler(false);
         },
         {1, 2, 3}, "encoding", "set enc_scrambler on on the receiver"},
        {"too far", "RC1200", "RC1200", "HDLC", [&](SimBoard& t, SimBoard& r) {
             air.set_path_loss(t.get_interface(), r.get_interface(), 170);
         }, {1, 2, 3}, "budget", "raise tx_power by"},
    };
    unsigned n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto tx = make("LT" + std::to_string(n), "sim-lt" + std::to_string(n), c.tx_chip);
        auto rx = make("LR" + std::to_string(n), "sim-lr" + std::to_string(n), c.rx_chip);
        ++n;
        tune(*tx, *rx, c.framing);
        c.change(*tx, *rx);
        tx->get_model()->commit_registers();
        rx->get_model()->commit_registers();

        LinkCheckOptions o;
        o.data = c.packet.data();
        o.len = unsigned(c.packet.size());
        const LinkCheck check = check_link(*tx, *rx, o);
        EXPECT_TRUE(check.crystal_errors_known);
        EXPECT_EQ(check.works, std::string(c.cause).empty());
        EXPECT_EQ(check.cause, c.cause);
        EXPECT_NE(check.fix.find(c.fix), std::string::npos) << check.fix;
        ASSERT_EQ(check.rules.size(), air::RULE_COUNT + 1);
        for (const LinkRule& r : check.rules) {
            EXPECT_FALSE(r.detail.empty()) << r.name;
            EXPECT_EQ(r.fix.empty(), r.ok) << r.name;
        }

        // and the air does what the check says
        heard.clear();
        try {
            tx->send_packet(c.packet.data(), unsigned(c.packet.size()), nullptr);
        } catch (const std::runtime_error&) {
            EXPECT_EQ(check.cause, "transmitter");
        }
        pump_until_quiet(air);
        EXPECT_EQ(heard[rx.get()].size(), check.works ? 1u : 0u);
    }
}

TEST_F(LinkCheckTest, WorstCaseCrystalsOffTheAir)
{
    auto tx = make("WT", "sim-wt", "RC1200");
    auto rx = make("WR", "sim-wr", "RC1200");
    tune(*tx, *rx, "HDLC");
    const double window = rx->get_model()->get_rx_bandwidth() / 2;
    // a nominal difference just inside the window, which 2 x 10 ppm crystals can push out
    rx->get_model()->set_rx_carrierfrequency(868.3e6 - window + 5e3);
    rx->get_model()->commit_registers();
    air.set_enabled(false);
    const LinkCheck check = check_link(*tx, *rx, LinkCheckOptions());
    EXPECT_FALSE(check.crystal_errors_known);
    EXPECT_NEAR(check.crystal_allowance, 20 * 868.3, 50);
    EXPECT_EQ(check.cause, "carrier");
    const LinkRule* carrier = check.rule("carrier");
    ASSERT_NE(carrier, nullptr);
    EXPECT_LT(carrier->margin, 0);
    EXPECT_EQ(carrier->unit, "kHz");
    EXPECT_NE(carrier->detail.find("ppm"), std::string::npos);
    air.set_enabled(true);
}

// Random setting pairs over all four chips, one packet each: the check's
// verdict is what the air does, and the air refuses for the rule the check names.
TEST_F(LinkCheckTest, RandomCorpusAgreesWithTheAir)
{
    const unsigned PAIRS = 10000;
    std::mt19937_64 rng(20261208);
    auto uniform = [&](double a, double b) { return std::uniform_real_distribution<double>(a, b)(rng); };
    auto pick = [&](unsigned n) { return unsigned(std::uniform_int_distribution<unsigned>(0, n - 1)(rng)); };
    auto chance = [&](double p) { return uniform(0, 1) < p; };

    // one sender and one listener per chip, retuned for every pair
    std::vector<std::unique_ptr<SimBoard>> senders, listeners;
    for (unsigned c = 0; c < 4; ++c) {
        senders.push_back(make(std::string("CT") + char('0' + c), std::string("sim-ct") + char('0' + c), CHIPS[c]));
        listeners.push_back(make(std::string("CR") + char('0' + c), std::string("sim-cr") + char('0' + c), CHIPS[c]));
    }
    std::map<std::pair<SimBoard*, SimBoard*>, air::Verdict> verdicts;
    sigc::connection judged = air.signal_judged.connect(
        [&](SimBoard* from, SimBoard* to, air::Verdict v) { verdicts[{from, to}] = v; });

    // commits write a line per register: ten thousand pairs would spend their time there
    set_diagnostic_sink([](const std::string&) {});
    const double rates[] = {4800, 9600, 19200, 38400, 100000, 250000};
    // mostly chips that can send and receive; now and then the wrong one
    auto sender = [&] { return chance(0.1) ? 2u : std::vector<unsigned>{0, 1, 3}[pick(3)]; };
    auto listener = [&] { return chance(0.1) ? 3u : pick(3); };
    std::map<std::string, unsigned> causes;
    unsigned disagreements = 0;
    for (unsigned i = 0; i < PAIRS && disagreements < 10; ++i) {
        SimBoard& tx = *senders[sender()];
        SimBoard& rx = *listeners[listener()];
        GreyfinModel* tm = tx.get_model();
        GreyfinModel* rm = rx.get_model();
        tm->load_chipdefaults();
        rm->load_chipdefaults();
        rx.set_chacc_addrmatch1(false);
        rx.set_chacc_addrmatch2(false);
        rx.set_transmit_cw(chance(0.01));

        const double f = uniform(863e6, 870e6);
        const double rate = rates[pick(6)];
        const int mod = int(pick(10));
        tm->set_tx_carrierfrequency(f);
        rm->set_rx_carrierfrequency(chance(0.3) ? f + uniform(-1.2, 1.2) * 2 * rate : f);
        tm->set_tx(rate / 2, chance(0.3) ? rate * uniform(0.88, 1.12) : rate, chance(0.1) ? int(pick(11)) : mod, true);
        rm->set_rx(rate * uniform(1.5, 4), rate, chance(0.1) ? int(pick(11)) : mod, true, int(pick(2)));
        for (GreyfinModel* m : {tm, rm})
            m->set_xtal_tolerance(chance(0.5) ? uniform(0, 60) : 10);

        // a framing both chips list, now and then another on one side
        const std::list<std::string> tf = tm->get_supported_framingmodes();
        std::vector<std::string> common;
        for (const std::string& name : tf)
            if (framing_id(*rm, name) >= 0 && name.find("Wiremode") == std::string::npos)
                common.push_back(name);
        // the framings with an address filter or a sync word a third of the time
        std::string framing = common.empty() ? tf.front() : common[pick(unsigned(common.size()))];
        for (const char* f : {"HDLC", "Raw Preamble Match"})
            if (chance(0.2) && std::find(common.begin(), common.end(), f) != common.end())
                framing = f;
        tm->set_framingmode(framing_id(*tm, framing));
        rm->set_framingmode(chance(0.1) ? int(pick(unsigned(rm->get_supported_framingmodes().size())))
                                        : std::max(0, framing_id(*rm, framing)));
        const int crc = int(pick(3));
        tm->set_crcmode(crc);
        rm->set_crcmode(chance(0.1) ? int(pick(3)) : crc);
        const unsigned crcinit = chance(0.5) ? 0xFFFFFFFFu : 0;
        tm->set_crcinit(crcinit);
        rm->set_crcinit(chance(0.05) ? 0x1234u : crcinit);
        const unsigned enc = pick(16);
        const unsigned renc = chance(0.1) ? pick(16) : enc;
        tm->set_enc_invert(enc & 1);
        tm->set_enc_diff(enc & 2);
        tm->set_enc_scrambler(enc & 4);
        tm->set_enc_manchester(enc & 8);
        rm->set_enc_invert(renc & 1);
        rm->set_enc_diff(renc & 2);
        rm->set_enc_scrambler(renc & 4);
        rm->set_enc_manchester(renc & 8);
        const unsigned sync_len = 4 + 4 * pick(8);
        const unsigned sync = unsigned(rng()) & 0xFFFFFFFFu;
        tm->set_preamble_length(sync_len);
        tm->set_preamble(sync);
        rm->set_preamble_length(chance(0.1) ? 4 + 4 * pick(8) : sync_len);
        rm->set_preamble(chance(0.1) ? unsigned(rng()) : sync);
        tm->commit_registers();
        rm->commit_registers();

        std::vector<uint8_t> packet(4 + pick(60));
        for (uint8_t& b : packet)
            b = uint8_t(rng());
        if (chance(0.3)) {
            uint8_t a[6];
            for (uint8_t& b : a)
                b = uint8_t(rng());
            if (chance(0.5))
                std::memcpy(packet.data(), a, std::min<size_t>(6, packet.size()));
            rx.set_chacc_addrlength(uint8_t(1 + pick(6)));
            if (chance(0.5)) {
                rx.set_chacc_addr1(a);
                rx.set_chacc_addrmatch1(true);
            } else {
                rx.set_chacc_addr2(a);
                rx.set_chacc_addrmatch2(true);
            }
        }

        // a budget well above or well below the sensitivity: the loss model
        // is random in between
        LinkCheckOptions o;
        o.data = packet.data();
        o.len = unsigned(packet.size());
        o.packet_length = unsigned(packet.size());
        o.path_loss = 0;
        const LinkCheck probe = check_link(tx, rx, o);
        const double margin = chance(0.8) ? uniform(10, 40) : -uniform(10, 40);
        air.set_path_loss(tx.get_interface(), rx.get_interface(),
                          std::isfinite(probe.sensitivity) ? probe.tx_power - probe.sensitivity - margin : 60);
        o.path_loss = NAN;
        const LinkCheck check = check_link(tx, rx, o);

        heard.clear();
        verdicts.clear();
        bool sent = true;
        try {
            tx.send_packet(packet.data(), unsigned(packet.size()), nullptr);
        } catch (const std::runtime_error&) {
            sent = false;
        }
        pump_until_quiet(air);
        const auto& got = heard[&rx];
        const bool delivered = got.size() == 1 && got[0] == packet;

        ++causes[check.works ? "works" : check.cause];
        bool agree = check.works == delivered;
        if (!sent) {
            agree = agree && check.cause == "transmitter";
        } else {
            const auto v = verdicts.find({&tx, &rx});
            const bool judged_here = v != verdicts.end();
            if (!judged_here || (check.works || check.cause == "budget") != (v->second == air::Verdict::HEARD))
                agree = false;
            else if (!check.works && check.cause != "budget")
                agree = agree && v->second == air::verdict_of(air::Rule([&] {
                                    for (unsigned r = 0; r < air::RULE_COUNT; ++r)
                                        if (check.cause == air::rule_name(air::Rule(r)))
                                            return r;
                                    return 0u;
                                }()));
        }
        if (!agree) {
            ++disagreements;
            ADD_FAILURE() << "pair " << i << " " << tm->get_chip_name() << " -> " << rm->get_chip_name()
                          << ": check says " << (check.works ? "works" : check.cause) << ", air delivered "
                          << delivered << " (received " << got.size() << ")";
        }
    }
    judged.disconnect();
    set_diagnostic_sink(nullptr);
    EXPECT_EQ(disagreements, 0u);
    // the corpus reaches every verdict
    for (const char* c : {"works", "transmitter", "receiver", "carrier", "modulation", "bitrate", "framing", "crc",
                          "encoding", "sync", "address", "budget"})
        EXPECT_GT(causes[c], 0u) << c;
    for (const auto& c : causes)
        std::printf("%-12s %u\n", c.first.c_str(), c.second);
}

// Raw framing has no CRC: data bit errors arrive as flipped bits, as many as
// the loss model's bit error rate says; HDLC drops any damaged packet.
TEST_F(LinkCheckTest, BitErrorsFollowTheModelsCurve)
{
    auto tx = make("BT", "sim-bt", "RC1200");
    auto rx = make("BR", "sim-br", "RC1200");
    tune(*tx, *rx, "Raw");
    const air::Emission e = air.emission_of(tx.get());
    const air::Reception r = air.reception_of(rx.get());
    ASSERT_EQ(r.framing, air::Framing::RAW);
    // the mean level at which a bit is wrong about 3 times in 1000
    double lo = -150, hi = 0;
    for (int i = 0; i < 60; ++i) {
        const double mid = (lo + hi) / 2;
        (air::bit_error_rate_at(r.family, mid, r.bandwidth, r.bitrate) > 3e-3 ? lo : hi) = mid;
    }
    const double level = (lo + hi) / 2;
    air.set_path_loss(tx->get_interface(), rx->get_interface(), e.power - level);

    const unsigned n = 600, len = 64;
    std::mt19937 rng(5);
    std::vector<std::vector<uint8_t>> sent;
    for (unsigned i = 0; i < n; ++i) {
        std::vector<uint8_t> p(len);
        for (uint8_t& b : p)
            b = uint8_t(rng());
        p[0] = uint8_t(i);
        p[1] = uint8_t(i >> 8);
        sent.push_back(p);
    }
    // numbered in their first two bytes; a packet whose number took a hit is
    // matched by the fewest differing bits instead
    heard.clear();
    for (const auto& p : sent)
        send_paced(*tx, p);
    pump_until_quiet(air);
    const auto& got = heard[rx.get()];
    ASSERT_GT(got.size(), n / 2);
    double sum = 0, sum2 = 0;
    unsigned damaged = 0;
    for (const auto& g : got) {
        ASSERT_EQ(g.size(), len);
        unsigned best = 8 * len;
        for (const auto& p : sent) {
            unsigned d = 0;
            for (unsigned i = 0; i < len; ++i)
                d += unsigned(__builtin_popcount(unsigned(g[i] ^ p[i])));
            best = std::min(best, d);
        }
        sum += best;
        sum2 += double(best) * best;
        damaged += best > 0;
    }
    const double mean = sum / got.size();
    const double se = std::sqrt((sum2 / got.size() - mean * mean) / got.size());

    // errors per arrived packet by the model: over the RSSI spread, weighted
    // by the chance that the head and tail bits came through
    const double bits = 8.0 * len, frame = e.head_bits + e.tail_bits;
    double weight = 0, errors = 0;
    for (double z = -8; z <= 8; z += 0.001) {
        const double w = std::exp(-z * z / 2);
        const double ber = air::bit_error_rate_at(r.family, level + air::RSSI_SIGMA_DB * z, r.bandwidth, r.bitrate);
        const double keep = std::pow(1 - ber, frame);
        weight += w * keep;
        errors += w * keep * ber * bits;
    }
    const double expected = errors / weight;
    EXPECT_GT(damaged, 10u);
    EXPECT_NEAR(mean, expected, 4 * se + 0.02) << "expected " << expected;

    // the same level with HDLC: nothing damaged arrives
    for (SimBoard* b : {tx.get(), rx.get()}) {
        b->get_model()->set_framingmode(framing_id(*b->get_model(), "HDLC"));
        b->get_model()->commit_registers();
    }
    heard.clear();
    for (unsigned i = 0; i < 200; ++i)
        send_paced(*tx, sent[i]);
    pump_until_quiet(air);
    ASSERT_LT(heard[rx.get()].size(), 200u);
    for (const auto& g : heard[rx.get()])
        EXPECT_TRUE(std::find(sent.begin(), sent.end(), g) != sent.end());
}

// Simulated time: the same sends give the same arrivals as real time, at
// once, and the air's clock advances by the air time.
TEST_F(LinkCheckTest, FastAirMatchesRealTimeAndAdvancesItsClock)
{
    auto tx = make("FT", "sim-ft", "RC1200");
    auto rx = make("FR", "sim-fr", "RC1200");
    tune(*tx, *rx, "HDLC");
    const air::Emission e = air.emission_of(tx.get());
    const air::Reception r = air.reception_of(rx.get());
    air.set_path_loss(e.power - air::noise_floor(r.bandwidth) - 9);
    auto run = [&](bool fast) {
        air.set_fast(fast);
        air.set_seed(11);
        heard.clear();
        const int64_t t0 = air.clock();
        std::vector<uint8_t> p(16, 0x5A);
        for (unsigned i = 0; i < 40; ++i) {
            p[0] = uint8_t(i);
            tx->send_packet(p.data(), 16, nullptr);
        }
        const auto start = std::chrono::steady_clock::now();
        pump_until_quiet(air);
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        return std::make_tuple(heard[rx.get()], double(air.clock() - t0) * 1e-6, wall);
    };
    const auto fast = run(true);
    const auto real = run(false);
    EXPECT_EQ(std::get<0>(fast), std::get<0>(real));
    EXPECT_GT(std::get<0>(fast).size(), 3u);
    EXPECT_LT(std::get<0>(fast).size(), 38u);
    // 40 back-to-back packets: the last arrives 40 air times after the first send
    const double airtime = air::air_time(e, 16);
    EXPECT_LE(std::get<1>(fast), 40 * airtime * 1.001 + 1e-6);
    EXPECT_GT(std::get<1>(fast), 0.0);
    EXPECT_LT(std::get<2>(fast), std::get<2>(real));
    air.set_fast(true);
}

} // namespace
