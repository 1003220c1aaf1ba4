// Sweeps and the sensitivity search on simulated boards over the fast
// virtual air: PN9 payloads, the binomial interval, a stepped sweep that
// restores what it changed, and a search that finds the loss model's
// sensitivity for every modulation family.
#include <QtTest>

#include <cmath>
#include <memory>
#include <string>

#include <korvik/LinkTools.h>
#include <korvik/USBDevice.h>

#include "board/AirLink.h"
#include "core/Sweep.h"

using KORVIK::USBDevice;

namespace {

int framing_id(const USBDevice& d, const std::string& name)
{
    int id = 0;
    for (const std::string& n : d.get_supported_framingmodes()) {
        if (n == name)
            return id;
        ++id;
    }
    return -1;
}

void run(Sweep& sweep)
{
    QElapsedTimer timer;
    timer.start();
    while (sweep.poll() >= 0 && timer.elapsed() < 240000)
        USBDevice::periodic();
    QVERIFY(sweep.finished());
}

} // namespace

class SweepTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        USBDevice::set_virtual_air(true);
        KORVIK::set_virtual_air_fast(true);
        USBDevice::set_virtual_air_seed(4);
        USBDevice::set_virtual_air_path_loss(60);
    }
    void pn9_and_binomial_interval();
    void stepped_sweep_restores_the_setting();
    void refuses_what_cannot_be_swept();
    void finds_the_sensitivity_of_each_family_data();
    void finds_the_sensitivity_of_each_family();
};

void SweepTest::pn9_and_binomial_interval()
{
    // the sequence of x^9 + x^5 + 1: b[n + 9] = b[n] xor b[n + 5], period 511
    const std::vector<uint8_t> p = pn9(130);
    auto bit = [&](unsigned n) { return (p[n / 8] >> (n % 8)) & 1; };
    QCOMPARE(p[0], uint8_t(0xFF));
    for (unsigned n = 0; n + 9 < 130 * 8; ++n)
        QCOMPARE(bit(n + 9), bit(n) ^ bit(n + 5));
    for (unsigned n = 0; n + 511 < 130 * 8; ++n)
        QCOMPARE(bit(n + 511), bit(n));

    struct Case {
        unsigned k, n;
        double low, high;
    } cases[] = {{0, 100, 0, 0.0370}, {50, 100, 0.4038, 0.5962}, {100, 100, 0.9630, 1}, {1, 1000, 0.00018, 0.00565}};
    for (const Case& c : cases) {
        const Proportion w = wilson_interval(c.k, c.n);
        QVERIFY2(std::fabs(w.low - c.low) < 1e-4 && std::fabs(w.high - c.high) < 1e-4,
                 qPrintable(QString("%1/%2: %3 %4").arg(c.k).arg(c.n).arg(w.low).arg(w.high)));
    }
    QCOMPARE(wilson_interval(0, 0).high, 1.0);
}

void SweepTest::stepped_sweep_restores_the_setting()
{
    std::unique_ptr<USBDevice> tx(USBDevice::open_simulation("SW-TX", "tx", "RC1200", "020000000501"));
    std::unique_ptr<USBDevice> rx(USBDevice::open_simulation("SW-RX", "rx", "RC1200", "020000000601"));
    tx->load_chipdefaults();
    rx->load_chipdefaults();
    const KORVIK::LinkCheck link = KORVIK::check_link(*tx, *rx);
    QVERIFY2(link.works, link.fix.c_str());
    const double power = tx->get_tx_power();

    Sweep::Settings s;
    s.variable = SweepVariable::PATH_LOSS;
    s.start = 60;
    s.stop = power - link.sensitivity + 20;
    s.step = (s.stop - s.start) / 4;
    s.count = 50;
    Sweep sweep(*tx, *rx, s);
    QVERIFY(sweep.on_virtual_air());
    unsigned signalled = 0;
    sweep.signal_point.connect([&](const SweepPoint&) { ++signalled; });
    run(sweep);
    QCOMPARE(sweep.error(), std::string());
    const auto& points = sweep.points();
    QCOMPARE(points.size(), size_t(5));
    QCOMPARE(signalled, 5u);
    QCOMPARE(points.front().per, 0.0);
    QCOMPARE(points.back().per, 1.0);
    for (const SweepPoint& p : points) {
        QCOMPARE(p.sent, 50u);
        QVERIFY(p.per_interval.low <= p.per && p.per <= p.per_interval.high);
        if (p.received)
            QVERIFY(std::fabs(p.rssi_mean - (power - p.value)) < 2);
    }
    // CSV: a header and one row per point
    QVERIFY(sweep_csv_row(SweepVariable::PATH_LOSS, points[0]).rfind("path_loss,60,60,50,50,50,0,", 0) == 0);
    QCOMPARE(KORVIK::get_virtual_air_path_loss("tx", "rx"), 60.0);

    // a power sweep puts the power back as well
    s.variable = SweepVariable::POWER;
    s.start = power - 10;
    s.stop = power;
    s.step = 5;
    {
        Sweep p(*tx, *rx, s);
        run(p);
        QCOMPARE(p.points().size(), size_t(3));
        // the chip's power steps are coarse: what it holds, in the order asked
        QVERIFY(p.points()[0].actual < power);
        QVERIFY(p.points()[0].actual <= p.points()[1].actual && p.points()[1].actual <= p.points()[2].actual);
    }
    QCOMPARE(tx->get_tx_power(), power);
}

void SweepTest::refuses_what_cannot_be_swept()
{
    std::unique_ptr<USBDevice> tx(USBDevice::open_simulation("SW-TX", "tx", "RC1200", "020000000501"));
    std::unique_ptr<USBDevice> rx(USBDevice::open_simulation("SW-RX", "rx", "RC1200", "020000000601"));
    Sweep::Settings s;
    s.variable = SweepVariable::OFFSET;
    s.start = 0;
    s.stop = 10;
    s.step = -1;
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, Sweep(*tx, *rx, s));
    s.step = 0;
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, Sweep(*tx, *rx, s));
    USBDevice::set_virtual_air(false);
    s.variable = SweepVariable::PATH_LOSS;
    s.step = 1;
    QVERIFY_THROWS_EXCEPTION(std::runtime_error, Sweep(*tx, *rx, s));
    USBDevice::set_virtual_air(true);
    KORVIK::set_virtual_air_fast(true);
}

void SweepTest::finds_the_sensitivity_of_each_family_data()
{
    QTest::addColumn<QString>("tx_chip");
    QTest::addColumn<QString>("rx_chip");
    QTest::addColumn<int>("modulation");
    QTest::addColumn<int>("family");
    QTest::newRow("ASK") << "RC1200" << "RC1300" << 0 << int(KORVIK::air::Family::ASK);
    QTest::newRow("PSK") << "RC1200" << "RC1200" << 4 << int(KORVIK::air::Family::PSK);
    QTest::newRow("FSK") << "RC1300" << "RC1200" << 8 << int(KORVIK::air::Family::FSK);
    QTest::newRow("4-FSK") << "RC1100" << "RC1400" << 10 << int(KORVIK::air::Family::FSK4);
}

void SweepTest::finds_the_sensitivity_of_each_family()
{
    QFETCH(QString, tx_chip);
    QFETCH(QString, rx_chip);
    QFETCH(int, modulation);
    QFETCH(int, family);
    static unsigned serial = 0;
    ++serial;
    std::unique_ptr<USBDevice> tx(USBDevice::open_simulation("SS-TX" + std::to_string(serial), "stx", tx_chip.toStdString(),
                                                             "020000000701"));
    std::unique_ptr<USBDevice> rx(USBDevice::open_simulation("SS-RX" + std::to_string(serial), "srx", rx_chip.toStdString(),
                                                             "020000000801"));
    for (USBDevice* d : {tx.get(), rx.get()}) {
        d->load_chipdefaults();
        d->set_tx_carrierfrequency(868.3e6);
        d->set_rx_carrierfrequency(868.3e6);
        d->set_tx(25e3, 50e3, modulation);
        d->set_rx(150e3, 50e3, modulation, 0);
        d->set_framingmode(framing_id(*d, "Raw"));
        d->set_enc_scrambler(false);
        d->commit_registers();
    }
    const KORVIK::LinkCheck link = KORVIK::check_link(*tx, *rx);
    QVERIFY2(link.works, (link.cause + ": " + link.fix).c_str());

    Sweep::Settings s;
    s.variable = SweepVariable::PATH_LOSS;
    s.length = 24;
    // the packet on the air: the data and the two-byte length word
    const KORVIK::USBDeviceCurrents c = tx->get_currents();
    const double bits = (c.values[8] + c.values[9]) / c.values[6] + 8.0 * (s.length + 2);
    const double analytic = KORVIK::air::sensitivity(KORVIK::air::Family(family), rx->get_rx_bandwidth(),
                                                     rx->get_rx_bitrate(), bits, 0.01);
    const double power = tx->get_tx_power();
    s.start = power - analytic - 12;
    s.stop = power - analytic + 12;
    s.step = 0.1;
    s.find = true;
    s.target_per = 0.01;
    s.count = 400;
    s.max_packets = 40000;
    Sweep sweep(*tx, *rx, s);
    run(sweep);
    QCOMPARE(sweep.error(), std::string());
    const Sweep::Found& f = sweep.found();
    QVERIFY(f.found);
    QVERIFY(f.low <= f.value && f.value <= f.high);
    const double found = power - f.value;
    QVERIFY2(std::fabs(found - analytic) <= 0.5,
             qPrintable(QString("found %1 dBm, analytic %2 dBm").arg(found).arg(analytic)));
}

QTEST_GUILESS_MAIN(SweepTest)
#include "test_sweep.moc"
