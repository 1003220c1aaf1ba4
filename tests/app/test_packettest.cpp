// The packet test shared by paramcalc and the command-line tool: matching by
// sequence number, the statistics and the CSV, and a run between two
// simulated boards on the virtual air.
#include <QtTest>

#include <cmath>
#include <memory>
#include <thread>

#include <korvik/USBDevice.h>

#include "core/PacketTest.h"

using KORVIK::USBDevice;

class PacketTestTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void matching_and_statistics();
    void run_on_the_virtual_air();
    void late_calls_move_the_schedule_instead_of_bursting();
};

void PacketTestTest::matching_and_statistics()
{
    PacketLog log(10, 12, 0x1234);
    for (unsigned i = 0; i < 10; ++i)
        log.mark_sent(i, i * 0.1);
    auto frame = [&](unsigned seq) {
        std::vector<uint8_t> p = log.payload(seq);
        // reserved first: growing a two-byte vector by insert trips a false
        // -Warray-bounds in GCC 12's optimised builds
        std::vector<uint8_t> f;
        f.reserve(p.size() + 2);
        f.push_back(uint8_t(p.size() + 5));
        f.push_back(0);
        f.insert(f.end(), p.begin(), p.end());
        return f;
    };
    const int rssi[] = {-60, -62, 0, 0, -70, 0, -64, 0, 0, -64};
    // delivered 0.2 s after the board had them, except packet 9 whose
    // board time is unknown (delivery time then)
    for (unsigned seq : {0u, 1u, 4u, 6u, 9u}) {
        std::vector<uint8_t> f = frame(seq);
        const double board = seq == 9 ? -1 : seq * 0.1 + 0.05;
        QVERIFY(log.take(f.data(), unsigned(f.size()), seq * 0.1 + 0.25, rssi[seq], 100.0 * seq, nullptr, board));
    }
    // repeats, other runs, wrong bytes and out-of-range numbers do not count
    std::vector<uint8_t> again = frame(4);
    QVERIFY(!log.take(again.data(), unsigned(again.size()), 1.0, -50, 0));
    PacketLog other(10, 12, 0x4321);
    std::vector<uint8_t> foreign = other.payload(2);
    QVERIFY(!log.take(foreign.data(), unsigned(foreign.size()), 1.0, -50, 0));
    std::vector<uint8_t> bad = frame(2);
    bad.back() ^= 1;
    QVERIFY(!log.take(bad.data(), unsigned(bad.size()), 1.0, -50, 0));
    std::vector<uint8_t> bare = log.payload(7); // without the length word
    bare[4] = 99;
    QVERIFY(!log.take(bare.data(), unsigned(bare.size()), 1.0, -50, 0));

    const PacketTestSummary s = log.summary();
    QCOMPARE(s.sent, 10u);
    QCOMPARE(s.received, 5u);
    QCOMPARE(s.corrupted, 1u);
    QCOMPARE(s.per, 0.5);
    QCOMPARE(QString::fromStdString(format_ranges(s.lost_ranges)), QString("2-3, 5, 7-8"));
    QCOMPARE(s.rssi_min, -70.0);
    QCOMPARE(s.rssi_max, -60.0);
    QCOMPARE(s.rssi_mean, -64.0);
    QVERIFY(std::fabs(s.rssi_stddev - std::sqrt(11.2)) < 1e-9);
    QCOMPARE(s.offset_mean, 400.0);
    // 5 packets of 12 bytes from the first send (0 s) to the last reception (1.15 s)
    QVERIFY(std::fabs(s.throughput - 5 * 12 * 8 / 1.15) < 1e-6);

    const QStringList rows = QString::fromStdString(log.csv()).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(rows.size(), 11);
    QCOMPARE(rows[0], QString("sequence,send_time,board_receive_time,receive_time,rssi,offset,received"));
    QCOMPARE(rows[2], QString("1,0.100000,0.150000,0.350000,-62,100.0,1"));
    QCOMPARE(rows[3], QString("2,0.200000,,,,,0"));
    QCOMPARE(rows[10], QString("9,0.900000,1.150000,1.150000,-64,900.0,1"));
}

void PacketTestTest::run_on_the_virtual_air()
{
    USBDevice::set_virtual_air(true);
    USBDevice::set_virtual_air_path_loss(60);
    std::unique_ptr<USBDevice> tx(USBDevice::open_simulation("PT-TX", "tx", "RC1200", "020000000301"));
    std::unique_ptr<USBDevice> rx(USBDevice::open_simulation("PT-RX", "rx", "RC1200", "020000000401"));
    tx->load_chipdefaults();
    rx->load_chipdefaults();
    PacketTest::Settings settings;
    settings.count = 20;
    settings.length = 16;
    settings.interval = 0.002;
    PacketTest test(*tx, *rx, settings);
    unsigned signalled = 0;
    test.signal_received.connect([&](const PacketRecord&) { ++signalled; });
    QElapsedTimer timer;
    timer.start();
    while (test.poll() >= 0 && timer.elapsed() < 10000) {
        USBDevice::periodic();
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    QVERIFY(test.finished());
    QCOMPARE(test.error(), std::string());
    const PacketTestSummary s = test.log().summary();
    QCOMPARE(s.sent, 20u);
    QCOMPARE(s.received, 20u); // 60 dB of path loss: far above the noise
    QCOMPARE(signalled, 20u);
    QVERIFY(std::fabs(s.rssi_mean - (tx->get_tx_power() - 60)) < 2);

    // without the air the first send fails and says why
    USBDevice::set_virtual_air(false);
    PacketTest dry(*tx, *rx, settings);
    QCOMPARE(dry.poll(), -1);
    QCOMPARE(dry.error(), std::string("cannot send: no packet io"));
}

void PacketTestTest::late_calls_move_the_schedule_instead_of_bursting()
{
    USBDevice::set_virtual_air(true);
    std::unique_ptr<USBDevice> tx(USBDevice::open_simulation("PT-TX2", "tx", "RC1200", "020000000501"));
    std::unique_ptr<USBDevice> rx(USBDevice::open_simulation("PT-RX2", "rx", "RC1200", "020000000601"));
    PacketTest::Settings settings;
    settings.count = 12;
    settings.length = 16;
    settings.interval = 0.005;
    PacketTest test(*tx, *rx, settings);
    // a caller that stalls for 40 ms (eight intervals) after the fourth packet
    for (int call = 0; test.sent() < settings.count && call < 10000; ++call) {
        if (test.sent() == 4)
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
        // and a delay too small to report, which must still not squeeze the next packet
        if (test.sent() == 8)
            std::this_thread::sleep_for(std::chrono::microseconds(4500));
        const int wait = test.poll();
        USBDevice::periodic();
        std::this_thread::sleep_for(std::chrono::milliseconds(std::max(0, wait)));
    }
    QCOMPARE(test.sent(), settings.count);
    const std::vector<PacketRecord>& r = test.log().records();
    // no two packets closer than the interval (less a timer's jitter), even after the stall
    for (unsigned i = 1; i < settings.count; ++i)
        QVERIFY2(r[i].send_time - r[i - 1].send_time > settings.interval * 0.8,
                 qPrintable(QString("packets %1 and %2: %3 s apart").arg(i - 1).arg(i).arg(r[i].send_time - r[i - 1].send_time)));
    // and the stall is reported, not hidden
    QVERIFY(test.late_sends() >= 1);
    QVERIFY(test.max_lateness() > 0.030 && test.max_lateness() < 0.2);
    QVERIFY(test.schedule_slip() >= test.max_lateness());
    test.stop();
    USBDevice::set_virtual_air(false);
}

QTEST_GUILESS_MAIN(PacketTestTest)
#include "test_packettest.moc"
