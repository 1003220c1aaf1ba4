#include <gtest/gtest.h>

#include "board/Protocol.h"

using namespace KORVIK;
using Bytes = std::vector<uint8_t>;

TEST(Padding, OnlyLengthsOfSixModuloSixtyFourGrowByOneZero)
{
    const unsigned cases[][2] = {{6, 7}, {70, 71}, {134, 135}, {7, 7}, {0, 0}, {5, 5}, {64, 64}};
    for (const auto& c : cases)
        EXPECT_EQ(c[1], protocol::padded_length(c[0])) << c[0];
    Bytes six = {1, 2, 3, 4, 5, 6};
    EXPECT_EQ((Bytes{1, 2, 3, 4, 5, 6, 0}), protocol::pad_payload(six.data(), 6));
}

TEST(VendorRequests, SetAndGetBytes)
{
    uint8_t v = 0x30;
    EXPECT_EQ((Bytes{0x00, 0x03, 0x09, 0x21, 0x30}), protocol::build_set_report(0x21, &v, 1));
    EXPECT_EQ((Bytes{0x00, 0x02, 0x01, 0xE2}), protocol::build_get_report(0xE2));
    Bytes big(300, 0xAB);
    Bytes p = protocol::build_set_report(0x20, big.data(), 300);
    EXPECT_EQ(0x01, p[0]); // length 302 is big-endian
    EXPECT_EQ(0x2E, p[1]);
}

TEST(VendorReplies, ClassificationChecksLengths)
{
    Bytes entry;
    // reply: L bytes from offset 2 go to the queue, trailing padding is not part of it
    Bytes reply = {0x00, 0x04, 0x01, 0xE2, 0x34, 0x12, 0x00, 0x00};
    EXPECT_EQ(protocol::VendorKind::Reply, protocol::classify_vendor_packet(reply.data(), 8, &entry));
    EXPECT_EQ((Bytes{0x01, 0xE2, 0x34, 0x12}), entry);

    // shorter than its length field, or too short to hold one
    EXPECT_EQ(protocol::VendorKind::Invalid, protocol::classify_vendor_packet(reply.data(), 5, &entry));
    EXPECT_EQ(protocol::VendorKind::Invalid, protocol::classify_vendor_packet(reply.data(), 2, &entry));
    EXPECT_EQ(protocol::VendorKind::Invalid, protocol::classify_vendor_packet(nullptr, 0, &entry));

    // L of 1 or 0: a (useless) reply, never read beyond the buffer
    Bytes tiny = {0x00, 0x01, 0x01};
    EXPECT_EQ(protocol::VendorKind::Reply, protocol::classify_vendor_packet(tiny.data(), 3, &entry));
    EXPECT_EQ(Bytes{0x01}, entry);

    Bytes status(18, 0);
    status[1] = 16;
    status[2] = 0x01;
    status[3] = 0x01;
    EXPECT_EQ(protocol::VendorKind::Status, protocol::classify_vendor_packet(status.data(), 18, nullptr));
    status[1] = 15;
    EXPECT_EQ(protocol::VendorKind::DroppedStatus, protocol::classify_vendor_packet(status.data(), 18, nullptr));
}

TEST(StatusReports, FieldsRoundTripAndShortPacketsAreRefused)
{
    USBDeviceStatus s;
    s.flag0 = true;
    s.flag3 = true;
    s.flag7 = true;
    s.progstate = 5;
    s.progdetail = 0x77;
    s.ticks = 0xFFF0;
    s.aux1 = 1;
    s.aux2 = 2;
    s.aux3 = 3;
    s.value1 = 0x1234;
    s.value2 = 0xBEEF;
    s.value3 = 0x0102;
    Bytes p = protocol::build_status_packet(s);
    ASSERT_EQ(18u, p.size());
    EXPECT_EQ(0x89, p[4]);
    EXPECT_EQ(0xF0, p[7]); // ticks little-endian
    EXPECT_EQ(0xFF, p[8]);

    USBDeviceStatus r;
    ASSERT_TRUE(protocol::parse_status(p.data(), unsigned(p.size()), r));
    EXPECT_TRUE(r.flag0 && r.flag3 && r.flag7);
    EXPECT_FALSE(r.flag1 || r.flag2 || r.flag4 || r.flag5 || r.flag6);
    EXPECT_EQ(5, r.progstate);
    EXPECT_EQ(0x77, r.progdetail);
    EXPECT_EQ(0xFFF0, r.ticks);
    EXPECT_EQ(3, r.aux3);
    EXPECT_EQ(0x1234, r.value1);
    EXPECT_EQ(0xBEEF, r.value2);
    EXPECT_EQ(0x0102, r.value3);
    EXPECT_FALSE(protocol::parse_status(p.data(), 17, r));
}

TEST(RadioRecords, RebuiltWithLengthWordRssiAndOffset)
{
    Bytes rec = {0x03, 0x00, 0xF6, 0xFF, 0xC4, 0xAA, 0xBB, 0xCC};
    protocol::RadioPacket p;
    ASSERT_TRUE(protocol::parse_radio_record(rec.data(), unsigned(rec.size()), p));
    EXPECT_EQ((Bytes{0x08, 0x00, 0xAA, 0xBB, 0xCC}), p.data);
    EXPECT_EQ(-60, p.rssi);
    EXPECT_EQ(-10, p.frequency_offset);

    EXPECT_FALSE(protocol::parse_radio_record(rec.data(), 4, p));
    ASSERT_TRUE(protocol::parse_radio_record(rec.data(), 5, p));
    EXPECT_EQ((Bytes{0x08, 0x00}), p.data);

    // a length word near 0xFFFF wraps in the 16-bit field instead of overflowing
    Bytes wide = {0xFE, 0xFF, 0x00, 0x80, 0x7F, 0x01};
    ASSERT_TRUE(protocol::parse_radio_record(wide.data(), 6, p));
    EXPECT_EQ((Bytes{0x03, 0x00, 0x01}), p.data);
    EXPECT_EQ(-32768, p.frequency_offset);
    EXPECT_EQ(127, p.rssi);

    Bytes payload = {0xAA, 0xBB, 0xCC};
    EXPECT_EQ(rec, protocol::build_radio_record(-10, -60, payload.data(), 3));
}

TEST(BpqPackets, LengthWordIsDataPlusFive)
{
    Bytes d = {1, 2, 3};
    EXPECT_EQ((Bytes{0x08, 0x00, 1, 2, 3}), protocol::build_bpq_packet(d.data(), 3));
}

TEST(Identification, RequestAndAnswer)
{
    Bytes req = protocol::build_ident_request();
    EXPECT_EQ((Bytes{1, 1, 1, 1, 1, 1, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x09, 0x00, 0x00, 0x02, 0x01, 0x30}),
              req);

    const uint8_t mac[6] = {0x00, 0x12, 0x34, 0x0A, 0x0B, 0xFF};
    Bytes answer = protocol::build_ident_answer("4711", mac);
    std::string serial;
    uint8_t src[6] = {};
    ASSERT_TRUE(protocol::parse_ident_answer(answer.data(), unsigned(answer.size()), serial, src));
    EXPECT_EQ("4711000", serial);
    EXPECT_EQ(0, memcmp(mac, src, 6));
    EXPECT_EQ("0012340A0BFF", protocol::format_mac_string(src));
}

TEST(Identification, AnswersThatDoNotMatch)
{
    const uint8_t mac[6] = {2, 0, 0, 0, 0, 1};
    Bytes good = protocol::build_ident_answer("1234567", mac);
    std::string serial;
    uint8_t src[6];
    Bytes b = good;
    b[17] = 0x31; // another report
    EXPECT_FALSE(protocol::parse_ident_answer(b.data(), unsigned(b.size()), serial, src));
    b = good;
    b[15] = 0x11; // fewer than 16 data bytes
    EXPECT_FALSE(protocol::parse_ident_answer(b.data(), unsigned(b.size()), serial, src));
    b = good;
    b[14] = 0x01; // length high byte
    EXPECT_FALSE(protocol::parse_ident_answer(b.data(), unsigned(b.size()), serial, src));
    b = good;
    b[13] = 0x01; // ethertype 0x0901
    EXPECT_FALSE(protocol::parse_ident_answer(b.data(), unsigned(b.size()), serial, src));
    // truncated before the last serial character
    EXPECT_FALSE(protocol::parse_ident_answer(good.data(), 32, serial, src));
    EXPECT_TRUE(protocol::parse_ident_answer(good.data(), 33, serial, src));
    // our own request never matches
    Bytes req = protocol::build_ident_request();
    EXPECT_FALSE(protocol::parse_ident_answer(req.data(), unsigned(req.size()), serial, src));
}

TEST(Discovery, MakerAndChipNames)
{
    EXPECT_TRUE(protocol::description_names_maker("Zelvane Inc. RC1200 Evaluation Board"));
    EXPECT_TRUE(protocol::description_names_maker("Corvane AG EV1300"));
    EXPECT_FALSE(protocol::description_names_maker("Zelvane RC1200"));
    EXPECT_FALSE(protocol::description_names_maker("Intel Ethernet"));

    std::list<std::string> chips = {"RC1200", "RC1400", "RC1100", "RC1300"};
    EXPECT_EQ("RC1400", protocol::select_chip("Zelvane Inc. RC1400 board", chips));
    EXPECT_EQ("", protocol::select_chip("Zelvane Inc. RC9999 board", chips));
    // a name contained in another: the longer one wins wherever it stands
    std::list<std::string> nested = {"RC12", "RC1200", "RC1"};
    EXPECT_EQ("RC1200", protocol::select_chip("Zelvane Inc. RC1200", nested));
    EXPECT_EQ("RC12", protocol::select_chip("Zelvane Inc. RC12x", nested));
    // equally long names: the later one
    EXPECT_EQ("RC1300", protocol::select_chip("Zelvane Inc. RC1200 and RC1300", chips));
}

TEST(Diagnostics, ReportLineIsLowerCaseHex)
{
    Bytes p = protocol::build_set_report(0xF0, Bytes{0x1A, 0x00, 0x01, 0xFF}.data(), 4);
    EXPECT_EQ("report_io: reportid 0xf0 dir out dlen 4 out: 00 06 09 f0 1a 00 01 ff",
              protocol::format_report_line(0xF0, false, 4, p));
    EXPECT_EQ("report_io: reportid 0x0a dir in dlen 15 out: 00 02 01 0a",
              protocol::format_report_line(0x0A, true, 21, protocol::build_get_report(0x0A)));
    EXPECT_EQ("report_io: reportid 0x00 dir out dlen 0 out: 00 02 09 00",
              protocol::format_report_line(0x00, false, 0, protocol::build_set_report(0x00, nullptr, 0)));
    // appended whole, line end included, after what the buffer held
    std::string held = "before\n";
    protocol::append_report_line(held, 0xFF, true, 0x1F4, Bytes{0xAB});
    EXPECT_EQ("before\nreport_io: reportid 0xff dir in dlen 1f4 out: ab\n", held);
}
