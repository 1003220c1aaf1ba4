#include <QTest>

#include "core/HexBytes.h"

class HexBytesTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void format_with_and_without_separator();
    void parse_data();
    void parse();
    void parse_guards_buffer();
    void round_trip();
};

void HexBytesTest::format_with_and_without_separator()
{
    const unsigned char mac[6] = {0x40, 0x00, 0x12, 0x34, 0x56, 0x00};
    QCOMPARE(format_hex_bytes(mac, 6, QStringLiteral(":")), QStringLiteral("40:00:12:34:56:00"));
    QCOMPARE(format_hex_bytes(mac, 6, QString()), QStringLiteral("400012345600"));
    const unsigned char low[2] = {0xab, 0x0f};
    QCOMPARE(format_hex_bytes(low, 2, QStringLiteral("-")), QStringLiteral("AB-0F"));
    QCOMPARE(format_hex_bytes(mac, 0, QStringLiteral(":")), QString());
}

void HexBytesTest::parse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<uint>("count");
    QTest::addColumn<QByteArray>("bytes");
    const QByteArray mac("\x40\x00\x12\x34\x56\x00", 6);
    QTest::newRow("colons") << "40:00:12:34:56:00" << 6u << mac;
    QTest::newRow("bare digits") << "400012345600" << 6u << mac;
    QTest::newRow("lower case") << "40:00:12:34:56:ab" << 6u << QByteArray("\x40\x00\x12\x34\x56\xab", 6);
    QTest::newRow("empty group stops") << "40::12:34:56:00" << 1u << QByteArray("\x40\xff\xff\xff\xff\xff", 6);
    QTest::newRow("bad digit first") << "4G:00:12:34:56:00" << 0u << QByteArray(6, '\xff');
    QTest::newRow("seven groups") << "01:02:03:04:05:06:07" << 6u << QByteArray("\x01\x02\x03\x04\x05\x06", 6);
    QTest::newRow("odd bare digits") << "4000123" << 4u << QByteArray("\x40\x00\x12\x03\xff\xff", 6);
    QTest::newRow("short text") << "12:34" << 2u << QByteArray("\x12\x34\xff\xff\xff\xff", 6);
    QTest::newRow("empty") << "" << 0u << QByteArray(6, '\xff');
    QTest::newRow("wide group keeps low byte") << "123:45" << 2u << QByteArray("\x23\x45\xff\xff\xff\xff", 6);
    // spaces inside the digits must not shift the bytes into a wrong but whole address
    QTest::newRow("spaced digits") << "40 00 12 34 56 00" << 1u << QByteArray("\x40\xff\xff\xff\xff\xff", 6);
    QTest::newRow("space in a group") << "40:0 :12:34:56:00" << 1u << QByteArray("\x40\xff\xff\xff\xff\xff", 6);
    QTest::newRow("signed group") << "+4:00:12:34:56:00" << 0u << QByteArray(6, '\xff');
    QTest::newRow("prefixed group") << "0x40:00" << 0u << QByteArray(6, '\xff');
    QTest::newRow("surrounding blanks") << " 40:00:12:34:56:00\n" << 6u << mac;
}

void HexBytesTest::parse()
{
    QFETCH(QString, text);
    QFETCH(uint, count);
    QFETCH(QByteArray, bytes);
    unsigned char buffer[6] = {0, 0, 0, 0, 0, 0};
    QCOMPARE(parse_hex_bytes(text, buffer, 6), count);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(buffer), 6), bytes);
}

void HexBytesTest::parse_guards_buffer()
{
    QCOMPARE(parse_hex_bytes(QStringLiteral("40:00"), nullptr, 6), 0u);
    unsigned char guard[4] = {1, 2, 3, 4};
    QCOMPARE(parse_hex_bytes(QStringLiteral("40:00"), guard, 0), 0u);
    QCOMPARE(int(guard[0]), 1);
    // never writes past count, even with more groups
    unsigned char small[3] = {0, 0, 0x77};
    QCOMPARE(parse_hex_bytes(QStringLiteral("aa:bb:cc:dd"), small, 2), 2u);
    QCOMPARE(int(small[2]), 0x77);
}

void HexBytesTest::round_trip()
{
    for (int seed = 0; seed < 64; ++seed) {
        unsigned char mac[6];
        for (int i = 0; i < 6; ++i)
            mac[i] = static_cast<unsigned char>((seed * 37 + i * 91) & 0xFF);
        for (const QString& sep : {QStringLiteral(":"), QString()}) {
            unsigned char back[6];
            QCOMPARE(parse_hex_bytes(format_hex_bytes(mac, 6, sep), back, 6), 6u);
            QCOMPARE(QByteArray(reinterpret_cast<char*>(back), 6), QByteArray(reinterpret_cast<char*>(mac), 6));
        }
    }
}

QTEST_GUILESS_MAIN(HexBytesTest)
#include "test_hexbytes.moc"
