#include "hexlayout.h"

#include <QRandomGenerator>
#include <QtTest>

namespace {

QString blanks(int n)
{
    return QString(n, QLatin1Char(' '));
}

QByteArray bytes(const char *hex)
{
    return QByteArray::fromHex(hex);
}

QByteArray sequence(int size, int first = 1)
{
    QByteArray b;
    for (int i = 0; i < size; ++i)
        b.append(char(first + i));
    return b;
}

const QString D8Header = QStringLiteral("<<    Source Data    >>   <<     Echo Data     >>\n");
const QString D16Header = QStringLiteral("<<  Source Data  >>   <<   Echo Data   >>\n");
const QString D32Header = QStringLiteral("<< Source Data >>   <<  Echo Data  >>\n");

} // namespace

class TestHexLayout : public QObject
{
    Q_OBJECT
private slots:
    void plain_data();
    void plain();
    void echo_data();
    void echo();
    void rowParts_data();
    void rowParts();
    void bytesFromColumn();
    void echoLabelsLineUpWithColumns();
    void roundTrip_data();
    void roundTrip();
    void readText_data();
    void readText();
    void addresses_data();
    void addresses();
    void lengths_data();
    void lengths();
};

void TestHexLayout::plain_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("width");
    QTest::addColumn<bool>("showAddress");
    QTest::addColumn<quint32>("start");
    QTest::addColumn<QString>("text");

    QTest::newRow("D8 01..0A") << sequence(10) << 0 << false << 0u
                               << QStringLiteral("01 02 03 04 05 06 07 08\n09 0A ");
    QTest::newRow("D8 with addresses") << sequence(10) << 0 << true << 0x1000u
                                       << QStringLiteral("[0x00001000] 01 02 03 04 05 06 07 08\n"
                                                         "[0x00001008] 09 0A ");
    QTest::newRow("D8 full row ends with its line feed") << sequence(8) << 0 << false << 0u
                                                         << QStringLiteral("01 02 03 04 05 06 07 08\n");
    QTest::newRow("D8 upper-case items, lower-case addresses")
        << bytes("abcdef") << 0 << true << 0xABCDEF00u << QStringLiteral("[0xabcdef00] AB CD EF ");
    QTest::newRow("D16 lone last byte") << bytes("123456") << 1 << false << 0u << QStringLiteral("1234 56   \n");
    QTest::newRow("D16 two rows with addresses")
        << bytes("00112233445566778899") << 1 << true << 0x10u
        << QStringLiteral("[0x00000010] 0011 2233 4455 6677 \n[0x00000018] 8899 \n");
    QTest::newRow("D32 one byte over") << bytes("123456789a") << 2 << false << 0u
                                       << QStringLiteral("12345678 9A       \n");
    QTest::newRow("D32 two bytes over") << bytes("123456789abc") << 2 << false << 0u
                                        << QStringLiteral("12345678 9ABC     \n");
    QTest::newRow("D32 three bytes over") << bytes("123456789abcde") << 2 << false << 0u
                                          << QStringLiteral("12345678 9ABCDE   \n");
    QTest::newRow("D32 rows of two items") << bytes("deadbeef0000000112") << 2 << false << 0u
                                           << QStringLiteral("DEADBEEF 00000001 \n12       \n");
    QTest::newRow("row addresses wrap at 32 bits")
        << sequence(9) << 2 << true << 0xFFFFFFF8u
        << QStringLiteral("[0xfffffff8] 01020304 05060708 \n[0x00000000] 09       \n");
    QTest::newRow("empty") << QByteArray() << 1 << true << 0u << QString();
}

void TestHexLayout::plain()
{
    QFETCH(QByteArray, data);
    QFETCH(int, width);
    QFETCH(bool, showAddress);
    QFETCH(quint32, start);
    QFETCH(QString, text);
    QCOMPARE(HexLayout::plainText(data, width, showAddress, start), text);
}

void TestHexLayout::echo_data()
{
    QTest::addColumn<QByteArray>("source");
    QTest::addColumn<QByteArray>("echo");
    QTest::addColumn<int>("width");
    QTest::addColumn<bool>("showAddress");
    QTest::addColumn<QString>("text");

    QTest::newRow("D8 three bytes each")
        << bytes("010203") << bytes("010203") << 0 << false
        << D8Header + QStringLiteral("01 02 03 ") + blanks(15) + QStringLiteral("  01 02 03 \n");
    QTest::newRow("D8 echo shorter than the source")
        << sequence(10) << bytes("010203") << 0 << false
        << D8Header + QStringLiteral("01 02 03 04 05 06 07 08   01 02 03 \n09 0A ") + blanks(18) +
            QStringLiteral("  \n");
    QTest::newRow("D16 with addresses")
        << bytes("1234567890") << bytes("1234567890") << 1 << true
        << blanks(13) + D16Header + QStringLiteral("[0x00002000] 1234 5678 90   ") + blanks(5) +
            QStringLiteral("  1234 5678 90   \n");
    QTest::newRow("D32 echo differs")
        << bytes("0000000100000002") << bytes("00000001ffffffff") << 2 << false
        << D32Header + QStringLiteral("00000001 00000002   00000001 FFFFFFFF \n");
    QTest::newRow("D32 short last item")
        << bytes("0102030405") << bytes("01020304") << 2 << false
        << D32Header + QStringLiteral("01020304 05         01020304 \n");
    QTest::newRow("no source: the header alone") << QByteArray() << bytes("01") << 0 << false << D8Header;
}

void TestHexLayout::echo()
{
    QFETCH(QByteArray, source);
    QFETCH(QByteArray, echo);
    QFETCH(int, width);
    QFETCH(bool, showAddress);
    QFETCH(QString, text);
    QCOMPARE(HexLayout::echoText(source, echo, width, showAddress, 0x2000), text);
}

void TestHexLayout::rowParts_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("start");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("text");

    QTest::newRow("D8 padded") << 0 << bytes("0a0b") << 0 << 4 << QStringLiteral("0A 0B ") + blanks(6);
    QTest::newRow("D8 past the end") << 0 << bytes("0a0b") << 8 << 8 << blanks(24);
    QTest::newRow("D8 count 0") << 0 << bytes("0a0b") << 0 << 0 << QString();
    QTest::newRow("D8 count negative") << 0 << bytes("0a0b") << 0 << -3 << QString();
    QTest::newRow("D16 from the middle") << 1 << bytes("00112233") << 2 << 8
                                         << QStringLiteral("2233 ") + blanks(15);
    QTest::newRow("D16 lone byte then pads") << 1 << bytes("001122") << 0 << 8
                                             << QStringLiteral("0011 22   ") + blanks(10);
    QTest::newRow("D32 full row part") << 2 << bytes("0011223344556677") << 0 << 8
                                       << QStringLiteral("00112233 44556677 ");
    QTest::newRow("D32 one byte then a pad item") << 2 << bytes("ff") << 0 << 8
                                                  << QStringLiteral("FF       ") + blanks(9);
    QTest::newRow("count stops inside the data") << 0 << bytes("0102030405") << 1 << 2
                                                 << QStringLiteral("02 03 ");
}

void TestHexLayout::rowParts()
{
    QFETCH(int, width);
    QFETCH(QByteArray, data);
    QFETCH(int, start);
    QFETCH(int, count);
    QFETCH(QString, text);
    QString out = QStringLiteral(">");
    HexLayout::dumpRowPart(out, data, start, count, width);
    QCOMPARE(out, QStringLiteral(">") + text);
}

void TestHexLayout::bytesFromColumn()
{
    // Continuing a row at position 5: three bytes finish it, the next row starts with its address.
    QString out;
    HexLayout::dumpBytes(out, sequence(6), 1, 5, true, 0x100);
    QCOMPARE(out, QStringLiteral("02 03 04\n[0x00000104] 05 06 "));
}

void TestHexLayout::echoLabelsLineUpWithColumns()
{
    // The echo label starts in the column where the echo items start.
    for (int width = 0; width < 3; ++width) {
        for (bool showAddress : {false, true}) {
            const QStringList lines =
                HexLayout::echoText(sequence(16), sequence(16, 0x41), width, showAddress, 0).split(QLatin1Char('\n'));
            const int label = int(lines.at(0).lastIndexOf(QLatin1String("<<")));
            const int column = (showAddress ? 13 : 0) + HexLayout::rowPartWidth(width) + 2;
            QCOMPARE(label, column);
            QCOMPARE(lines.at(1).mid(column - 2, 2), QStringLiteral("  "));
            QCOMPARE(lines.at(1).mid(column, 2), QStringLiteral("41"));
        }
    }
}

void TestHexLayout::roundTrip_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<bool>("showAddress");
    QTest::addColumn<bool>("showEcho");
    const char *names[] = {"D8", "D16", "D32"};
    for (int width = 0; width < 3; ++width)
        for (bool a : {false, true})
            for (bool e : {false, true})
                QTest::addRow("%s%s%s", names[width], a ? " address" : "", e ? " echo" : "") << width << a << e;
}

void TestHexLayout::roundTrip()
{
    QFETCH(int, width);
    QFETCH(bool, showAddress);
    QFETCH(bool, showEcho);
    QRandomGenerator random(42);
    QList<int> sizes;
    for (int s = 0; s <= 33; ++s)
        sizes << s;
    sizes << 252 << 254 << 255 << 4096;
    for (int size : sizes) {
        QByteArray data(size, '\0');
        for (char &c : data)
            c = char(random.bounded(256));
        if (size > 3) {
            data[0] = ' '; // a blank, a line feed and a zero byte are data like any other
            data[1] = '\n';
            data[2] = '\0';
        }
        const QByteArray echo = data.left(size / 2);
        const QString text = showEcho ? HexLayout::echoText(data, echo, width, showAddress, 0xFFFFFF00)
                                      : HexLayout::plainText(data, width, showAddress, 0xFFFFFF00);
        const QByteArray back = HexLayout::readText(text, showAddress, showEcho);
        if (back != data)
            QFAIL(qPrintable(QStringLiteral("size %1 came back as %2 bytes").arg(size).arg(back.size())));
    }
}

void TestHexLayout::readText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("showAddress");
    QTest::addColumn<bool>("showEcho");
    QTest::addColumn<QByteArray>("data");

    QTest::newRow("pairs") << QStringLiteral("0A 0B 0C") << false << false << bytes("0a0b0c");
    QTest::newRow("odd count: the first digit alone") << QStringLiteral("ABC") << false << false << bytes("0abc");
    QTest::newRow("garbage is skipped") << QStringLiteral("zz 1 g2 ?") << false << false << bytes("12");
    QTest::newRow("non-Latin-1 digits are not digits") << QStringLiteral("１２ 34") << false << false
                                                       << bytes("34");
    QTest::newRow("empty") << QString() << false << false << QByteArray();
    QTest::newRow("address: first piece of every line dropped")
        << QStringLiteral("01 02 03\n[0x8] 04\n") << true << false << bytes("020304");
    QTest::newRow("address: digits pair per line")
        << QStringLiteral("[0x0] 1 23\n[0x8] 4") << true << false << bytes("012304");
    QTest::newRow("address: a line without blank is all address")
        << QStringLiteral("[0x00000000]\n[0x8] 05") << true << false << bytes("05");
    QTest::newRow("echo: header skipped, echo column ignored")
        << D8Header + QStringLiteral("01 02 03") + blanks(17) + QStringLiteral("  FF FF FF \n") << false << true
        << bytes("010203");
    QTest::newRow("echo: a line without two blanks is all source")
        << QStringLiteral("header 12\n01 02\n03") << false << true << bytes("010203");
    QTest::newRow("echo with addresses")
        << blanks(13) + D32Header + QStringLiteral("[0x00000000] 01020304 05          01020304 \n") << true
        << true << bytes("0102030405");
}

void TestHexLayout::readText()
{
    QFETCH(QString, text);
    QFETCH(bool, showAddress);
    QFETCH(bool, showEcho);
    QFETCH(QByteArray, data);
    QCOMPARE(HexLayout::readText(text, showAddress, showEcho), data);
}

void TestHexLayout::addresses_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<quint32>("address");
    QTest::addColumn<quint32>("row");

    QTest::newRow("hex without prefix") << QStringLiteral("1000") << true << 0x1000u << 0x1000u;
    QTest::newRow("hex with prefix") << QStringLiteral("0x1000") << true << 0x1000u << 0x1000u;
    QTest::newRow("leading zero without 0x is still hex") << QStringLiteral("010") << true << 0x10u << 0x10u;
    QTest::newRow("0x010") << QStringLiteral("0x010") << true << 0x10u << 0x10u;
    QTest::newRow("largest") << QStringLiteral("ffffffff") << true << 0xFFFFFFFFu << 0xFFFFFFFFu;
    QTest::newRow("33 bits: refused, rows truncate") << QStringLiteral("0x100000010") << false << 0u << 0x10u;
    QTest::newRow("empty") << QString() << false << 0u << 0u;
    QTest::newRow("letters") << QStringLiteral("xyz") << false << 0u << 0u;
    QTest::newRow("negative") << QStringLiteral("-1") << false << 0u << 0u;
    QTest::newRow("0x and not a number") << QStringLiteral("10x") << false << 0u << 0u;
}

void TestHexLayout::addresses()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(quint32, address);
    QFETCH(quint32, row);
    quint32 got = 0xDEADBEEF;
    QCOMPARE(HexLayout::parseAddress(text, &got), valid);
    if (valid)
        QCOMPARE(got, address);
    else
        QCOMPARE(got, 0xDEADBEEFu); // untouched
    QCOMPARE(HexLayout::rowAddress(text), row);
}

void TestHexLayout::lengths_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<quint64>("length");

    QTest::newRow("decimal") << QStringLiteral("10") << true << quint64(10);
    QTest::newRow("hex") << QStringLiteral("0x10") << true << quint64(16);
    QTest::newRow("octal") << QStringLiteral("010") << true << quint64(8);
    QTest::newRow("zero") << QStringLiteral("0") << true << quint64(0);
    QTest::newRow("empty") << QString() << false << quint64(0);
    QTest::newRow("negative") << QStringLiteral("-1") << false << quint64(0);
    QTest::newRow("hex digits without prefix") << QStringLiteral("1a") << false << quint64(0);
}

void TestHexLayout::lengths()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(quint64, length);
    quint64 got = 0;
    QCOMPARE(HexLayout::parseLength(text, &got), valid);
    if (valid)
        QCOMPARE(got, length);
}

QTEST_APPLESS_MAIN(TestHexLayout)
#include "tst_hexlayout.moc"
