// The virtual air between simulated boards: who hears a packet, what it
// hears, and that the link model's randomness is seeded and statistically
// what its description says.
#include <gtest/gtest.h>

#include <glib.h>
#include <poll.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

#include "board/AirLink.h"
#include "board/MainLoop.h"
#include "board/SimBoard.h"
#include "board/VirtualAir.h"
#include "model/GreyfinModel.h"

using namespace KORVIK;

namespace {

struct Heard {
    std::vector<uint8_t> data;
    uint8_t source[6];
    int rssi;
    int offset;
};

bool pump_until(const std::function<bool()>& done, int ms)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        main_context_dispatch_pending();
        if (done())
            return true;
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::microseconds(300));
    }
}

class VirtualAirTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        air.set_enabled(true);
        air.set_seed(1);
        air.set_path_loss(60);
        tx = make("TX-1", "sim-a", "RC1200");
        rx = make("RX-1", "sim-b", "RC1200");
    }
    void TearDown() override
    {
        air.set_enabled(false);
    }

    std::unique_ptr<SimBoard> make(const std::string& serial, const std::string& iface, const std::string& chip)
    {
        auto b = std::make_unique<SimBoard>(serial, iface, "board " + serial, chip, "0012340A0B0C", nullptr);
        GreyfinModel* m = b->get_model();
        m->load_chipdefaults();
        m->set_tx_carrierfrequency(868.3e6);
        m->set_rx_carrierfrequency(868.3e6);
        m->set_tx(0, 1e6, 8, true);
        m->set_rx(0, 1e6, 8, true, 0);
        m->set_framingmode(0);
        m->set_crcmode(0);
        m->commit_registers();
        b->signal_receive.connect([this, p = b.get()](const uint8_t* d, unsigned n, const uint8_t* src, int16_t rssi,
                                                      int32_t off) {
            Heard h{std::vector<uint8_t>(d, d + n), {}, rssi, off};
            std::memcpy(h.source, src, 6);
            heard[p].push_back(h);
        });
        return b;
    }

    /// Sends `count` packets numbered in their first byte and waits until the air is empty.
    void send(SimBoard& from, unsigned count, unsigned len = 8)
    {
        for (unsigned i = 0; i < count; ++i) {
            std::vector<uint8_t> p(len, 0xA5);
            p[0] = uint8_t(i);
            from.send_packet(p.data(), len, nullptr);
        }
        ASSERT_TRUE(pump_until([&] { return air.in_flight() == 0; }, 20000));
    }

    VirtualAir& air = VirtualAir::instance();
    std::map<SimBoard*, std::vector<Heard>> heard;
    std::unique_ptr<SimBoard> tx, rx;
};

TEST_F(VirtualAirTest, DeliveryRules)
{
    const uint8_t prefix[6] = {0x00, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5}; // packet 0's first bytes
    const uint8_t other[6] = {1, 2, 3, 4, 5, 6};
    struct Case {
        const char* what;
        std::function<void(SimBoard&)> change_receiver;
        bool delivered;
    };
    const Case cases[] = {
        {"matching settings", [](SimBoard&) {}, true},
        {"carrier outside the bandwidth",
         [](SimBoard& b) { b.get_model()->set_rx_carrierfrequency(868.3e6 + b.get_model()->get_rx_bandwidth()); },
         false},
        {"other modulation family", [](SimBoard& b) { b.get_model()->set_rx(0, 1e6, 4, true, 0); }, false},
        {"bitrate beyond the tolerance", [](SimBoard& b) { b.get_model()->set_rx(0, 0.9e6, 8, true, 0); }, false},
        {"other framing", [](SimBoard& b) { b.get_model()->set_framingmode(2); }, false},
        {"other CRC", [](SimBoard& b) { b.get_model()->set_crcmode(2); }, false},
        {"address mismatch",
         [&](SimBoard& b) {
             b.set_chacc_addr1(other);
             b.set_chacc_addrmatch1(true);
         },
         false},
        {"second address matches",
         [&](SimBoard& b) {
             b.set_chacc_addr1(other);
             b.set_chacc_addr2(prefix);
             b.set_chacc_addrmatch1(true);
             b.set_chacc_addrmatch2(true);
         },
         true},
        {"receiver sends a continuous wave", [](SimBoard& b) { b.set_transmit_cw(true); }, false},
    };
    // a second listener that always hears: every receiver gets its own copy
    auto bystander = make("RX-2", "sim-e", "RC1200");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        rx = make("RX-1", "sim-b", "RC1200");
        c.change_receiver(*rx);
        rx->get_model()->commit_registers();
        heard.clear();
        send(*tx, 1);
        ASSERT_EQ(heard[rx.get()].size(), c.delivered ? 1u : 0u);
        if (c.delivered) {
            const Heard& h = heard[rx.get()][0];
            EXPECT_EQ(h.data, std::vector<uint8_t>({0, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5, 0xA5}));
            EXPECT_EQ(0, std::memcmp(h.source, tx->get_radio_ethernet_mac(), 6));
            EXPECT_NEAR(h.rssi, tx->get_model()->get_tx_power() - 60, 4 * air::RSSI_SIGMA_DB + 0.5);
            EXPECT_EQ(rx->get_rx_pkt_count(), 1u);
        }
        EXPECT_EQ(heard[bystander.get()].size(), 1u);
        // the sender never hears itself
        EXPECT_TRUE(heard[tx.get()].empty());
        EXPECT_EQ(tx->get_tx_pkt_count(), 1u);
        tx->reset_packetcounters();
    }
}

TEST_F(VirtualAirTest, ChangesToTheSameBoardsApplyFromTheNextPacket)
{
    // what the air knows of a board is kept between packets: every change
    // of either side must reach the very next one
    const uint8_t other[6] = {1, 2, 3, 4, 5, 6};
    GreyfinModel* m = rx->get_model();
    const double carrier = m->get_rx_carrierfrequency();
    const struct {
        const char* what;
        std::function<void()> change;
        bool delivered;
    } steps[] = {
        {"as set up", [] {}, true},
        {"receiver retuned, not committed", [&] { m->set_rx_carrierfrequency(carrier + 4 * m->get_rx_bandwidth()); },
         false},
        {"receiver back", [&] { m->set_rx_carrierfrequency(carrier); }, true},
        {"transmitter retuned", [&] { tx->get_model()->set_tx_carrierfrequency(carrier + 4 * m->get_rx_bandwidth()); },
         false},
        {"transmitter back", [&] { tx->get_model()->set_tx_carrierfrequency(carrier); }, true},
        {"receiver's wave on", [&] { rx->set_transmit_cw(true); }, false},
        {"receiver's wave off", [&] { rx->set_transmit_cw(false); }, true},
        {"address match on", [&] {
             rx->set_chacc_addr1(other);
             rx->set_chacc_addrmatch1(true);
         },
         false},
        {"address match off", [&] { rx->set_chacc_addrmatch1(false); }, true},
        {"receiver's crystal", [&] { m->set_xtal_frequency(m->get_xtal_frequency() / 2); }, false},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        step.change();
        heard.clear();
        send(*tx, 1);
        EXPECT_EQ(heard[rx.get()].size(), step.delivered ? 1u : 0u);
    }
}

TEST_F(VirtualAirTest, ChipsThatCannotSendOrReceive)
{
    auto listener = make("RX-1400", "sim-c", "RC1400");
    auto sender = make("TX-1100", "sim-d", "RC1100");
    std::vector<uint8_t> p(8, 0);
    EXPECT_THROW(listener->send_packet(p.data(), 8, nullptr), std::runtime_error);
    send(*tx, 1);
    EXPECT_TRUE(heard[sender.get()].empty());
    // oversized packets fail like a send error instead of being cut
    std::vector<uint8_t> big(1501, 0);
    EXPECT_THROW(tx->send_packet(big.data(), unsigned(big.size()), nullptr), std::runtime_error);
    // with the air off nothing has packet I/O, as before
    air.set_enabled(false);
    try {
        tx->send_packet(p.data(), 8, nullptr);
        ADD_FAILURE() << "sent without air";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "no packet io");
    }
}

TEST_F(VirtualAirTest, SameSeedSameRssiAndLosses)
{
    // a weak link, so that both the RSSI and the losses vary
    const air::Reception r = air.reception_of(rx.get());
    air.set_path_loss(tx->get_model()->get_tx_power() - air::noise_floor(r.bandwidth) - 8);
    auto run = [&](uint64_t seed) {
        air.set_seed(seed);
        heard.clear();
        send(*tx, 60);
        std::vector<std::pair<int, int>> seen;
        for (const Heard& h : heard[rx.get()])
            seen.emplace_back(h.data[0], h.rssi);
        return seen;
    };
    auto first = run(7);
    EXPECT_GT(first.size(), 5u);
    EXPECT_LT(first.size(), 55u);
    EXPECT_EQ(first, run(7));
    EXPECT_NE(first, run(8));
}

TEST_F(VirtualAirTest, LossAndRssiFollowTheLinkModel)
{
    const unsigned n = 1500, len = 8;
    const air::Emission e = air.emission_of(tx.get());
    const air::Reception r = air.reception_of(rx.get());
    const double floor = air::noise_floor(r.bandwidth);
    const double mean_level = e.power - (e.power - floor - 9);
    air.set_path_loss(e.power - floor - 9);
    const double bits = e.head_bits + e.tail_bits + 8.0 * len;

    // expected loss, and RSSI mean and deviation of what arrives, by
    // integrating the model over the Gaussian part of the level
    double lost = 0, kept = 0, sum = 0, sum2 = 0;
    for (double x = -8; x <= 8; x += 0.001) {
        const double w = std::exp(-x * x / 2) / std::sqrt(2 * M_PI) * 0.001;
        const double level = mean_level + air::RSSI_SIGMA_DB * x;
        const double per = air::packet_error_rate(r.family, level - floor, r.bandwidth, r.bitrate, bits);
        lost += w * per;
        kept += w * (1 - per);
        sum += w * (1 - per) * level;
        sum2 += w * (1 - per) * level * level;
    }
    const double mean = sum / kept;
    const double sd = std::sqrt(sum2 / kept - mean * mean);
    ASSERT_GT(lost, 0.1);
    ASSERT_LT(lost, 0.9);

    send(*tx, n, len);
    const std::vector<Heard>& got = heard[rx.get()];
    const double per = 1.0 - double(got.size()) / n;
    // four standard deviations of a binomial count
    EXPECT_NEAR(per, lost, 4 * std::sqrt(lost * (1 - lost) / n));
    double s = 0, s2 = 0;
    for (const Heard& h : got) {
        s += h.rssi;
        s2 += double(h.rssi) * h.rssi;
    }
    const double m = s / got.size();
    const double d = std::sqrt(s2 / got.size() - m * m);
    // mean within four standard errors (plus the rounding to whole dBm);
    // deviation within 15 %
    EXPECT_NEAR(m, mean, 4 * sd / std::sqrt(double(got.size())) + 0.1);
    EXPECT_NEAR(d, sd, 0.15 * sd);
}

TEST_F(VirtualAirTest, FrequencyOffsetFollowsCarriersAndCrystals)
{
    tx->get_model()->set_tx_carrierfrequency(868.3e6 + 5000);
    tx->get_model()->commit_registers();
    auto offset_hz = [&] {
        heard.clear();
        send(*tx, 1);
        EXPECT_EQ(heard[rx.get()].size(), 1u);
        return heard[rx.get()].empty() ? NAN : rx->get_model()->convert_frequencyoffset(heard[rx.get()][0].offset);
    };
    const double unit = rx->get_model()->convert_frequencyoffset(1);
    // with the crystal errors drawn from the tolerance
    EXPECT_NEAR(offset_hz(), air.emission_of(tx.get()).carrier - air.reception_of(rx.get()).carrier, unit);
    // exact crystals: only the carrier difference is left
    tx->get_model()->set_xtal_tolerance(0);
    rx->get_model()->set_xtal_tolerance(0);
    EXPECT_NEAR(offset_hz(), tx->get_model()->get_tx_carrierfrequency() - rx->get_model()->get_rx_carrierfrequency(),
                unit);
    EXPECT_NEAR(offset_hz(), 5000, 100);
}

TEST_F(VirtualAirTest, SendWakesALoopWaitingOnTheContext)
{
    // a program's loop asked what to wait on before the send: nothing timed
    main_context_dispatch_pending();
    GMainContext* context = main_context()->gobj();
    ASSERT_TRUE(g_main_context_acquire(context));
    gint priority = 0, timeout = 0;
    g_main_context_prepare(context, &priority);
    GPollFD fds[16];
    const gint n = g_main_context_query(context, G_MAXINT, &timeout, fds, 16);
    g_main_context_release(context);
    ASSERT_EQ(timeout, -1);
    ASSERT_LE(n, 16);
    std::vector<pollfd> wait;
    for (gint i = 0; i < n; ++i)
        wait.push_back({fds[i].fd, short(fds[i].events), 0});

    std::vector<uint8_t> p(8, 0);
    tx->send_packet(p.data(), 8, nullptr);
    // woken at once, so it asks again and learns of the delivery's timeout
    EXPECT_GT(::poll(wait.data(), wait.size(), 1000), 0);
    ASSERT_TRUE(pump_until([&] { return !heard[rx.get()].empty(); }, 2000));
}

TEST_F(VirtualAirTest, ContinuousWaveRaisesRssiInOthersStatus)
{
    std::vector<int> levels;
    rx->signal_status.connect([&](const USBDeviceStatus& s) { levels.push_back(int16_t(s.value1)); });
    tx->set_transmit_cw(true);
    ASSERT_TRUE(pump_until([&] { return levels.size() >= 3; }, 2000)); // repeated while the wave is on
    const double floor = air::noise_floor(air.reception_of(rx.get()).bandwidth);
    for (int l : levels)
        EXPECT_NEAR(l, tx->get_model()->get_tx_power() - 60, 4 * air::RSSI_SIGMA_DB + 0.5);
    tx->set_transmit_cw(false);
    EXPECT_NEAR(levels.back(), floor, 0.5);
    const size_t after_off = levels.size();
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    main_context_dispatch_pending();
    EXPECT_EQ(levels.size(), after_off); // no reports once the air is quiet
}

} // namespace

// A sender faster than its air time fills a bounded queue; what does not fit
// is refused the way a full transmit buffer refuses it, and nothing of what
// was taken is lost.
TEST_F(VirtualAirTest, BacklogIsBoundedAndRefusalsAreReported)
{
    // 8 kbit/s: an 8-byte packet takes some 10 ms of air; exact crystals keep
    // the narrow receive band on the carrier
    tx->get_model()->set_xtal_tolerance(0);
    rx->get_model()->set_xtal_tolerance(0);
    tx->get_model()->set_tx(0, 8000, 8, true);
    rx->get_model()->set_rx(0, 8000, 8, true, 0);
    tx->get_model()->commit_registers();
    rx->get_model()->commit_registers();
    const uint64_t refused_before = air.get_refused();
    unsigned taken = 0, refused = 0;
    for (unsigned i = 0; i < 1000; ++i) {
        std::vector<uint8_t> p(8, 0xA5);
        try {
            tx->send_packet(p.data(), unsigned(p.size()), nullptr);
            ++taken;
        } catch (const std::runtime_error&) {
            ++refused;
        }
    }
    EXPECT_GT(refused, 0u);
    EXPECT_LT(taken, 1000u); // about a second of air
    EXPECT_EQ(air.get_refused() - refused_before, refused);
    EXPECT_EQ(air.in_flight(), taken);
    EXPECT_EQ(tx->get_tx_pkt_count(), taken);
    ASSERT_TRUE(pump_until([&] { return air.in_flight() == 0; }, 5000));
    EXPECT_EQ(heard[rx.get()].size(), taken);
}
