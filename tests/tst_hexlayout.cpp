// The interactive tab's text forms on plain strings: the hex dump rows, the source and echo
// columns, and the reading of any of them back into bytes.
#include "hexlayout.h"

#include <QRandomGenerator>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

QString blanks(int n)
{
    return QString(n, QLatin1Char(' '));
}

const QString D8Header = u"<<    Source Data    >>   <<     Echo Data     >>\n"_s;
const QString D32Header = u"<< Source Data >>   <<  Echo Data  >>\n"_s;

} // namespace

class TestHexLayout : public QObject
{
    Q_OBJECT
private slots:
    void layout_data();
    void layout();
    void everyLayoutReadsBack();
    void readText_data();
    void readText();
};

void TestHexLayout::layout_data()
{
    QTest::addColumn<QString>("data"); // hex digits
    QTest::addColumn<QString>("echo"); // hex digits of the echo column; null: the plain layout
    QTest::addColumn<int>("width");
    QTest::addColumn<bool>("showAddress");
    QTest::addColumn<quint32>("start");
    QTest::addColumn<QString>("text");

    const QString one10 = u"0102030405060708090a"_s;
    const QString plain;
    QTest::newRow("D8 01..0A") << one10 << plain << 0 << false << 0u << u"01 02 03 04 05 06 07 08\n09 0A "_s;
    QTest::newRow("D8 with addresses")
        << one10 << plain << 0 << true << 0x1000u
        << u"[0x00001000] 01 02 03 04 05 06 07 08\n[0x00001008] 09 0A "_s;
    QTest::newRow("D16 lone last byte") << u"123456"_s << plain << 1 << false << 0u << u"1234 56   \n"_s;
    QTest::newRow("D16 two rows with addresses")
        << u"00112233445566778899"_s << plain << 1 << true << 0x10u
        << u"[0x00000010] 0011 2233 4455 6677 \n[0x00000018] 8899 \n"_s;
    QTest::newRow("D32 three bytes over") << u"123456789abcde"_s << plain << 2 << false << 0u
                                          << u"12345678 9ABCDE   \n"_s;
    QTest::newRow("row addresses wrap at 32 bits")
        << one10.left(18) << plain << 2 << true << 0xFFFFFFF8u
        << u"[0xfffffff8] 01020304 05060708 \n[0x00000000] 09       \n"_s;
    QTest::newRow("empty") << QString() << plain << 1 << true << 0u << QString();

    QTest::newRow("echo D8 three bytes") << u"010203"_s << u"010203"_s << 0 << false << 0u
                                         << D8Header + u"01 02 03 "_s + blanks(15) + u"  01 02 03 \n"_s;
    QTest::newRow("echo shorter than the source")
        << one10 << u"010203"_s << 0 << false << 0u
        << D8Header + u"01 02 03 04 05 06 07 08   01 02 03 \n09 0A "_s + blanks(18) + u"  \n"_s;
    QTest::newRow("echo D16 with addresses")
        << u"1234567890"_s << u"1234567890"_s << 1 << true << 0x2000u
        << blanks(13) + u"<<  Source Data  >>   <<   Echo Data   >>\n[0x00002000] 1234 5678 90   "_s + blanks(5) +
            u"  1234 5678 90   \n"_s;
    QTest::newRow("echo D32 differs") << u"0000000100000002"_s << u"00000001ffffffff"_s << 2 << false << 0u
                                      << D32Header + u"00000001 00000002   00000001 FFFFFFFF \n"_s;
    QTest::newRow("echo D32 short last item") << u"0102030405"_s << u"01020304"_s << 2 << false << 0u
                                              << D32Header + u"01020304 05         01020304 \n"_s;
}

void TestHexLayout::layout()
{
    QFETCH(QString, data);
    QFETCH(QString, echo);
    QFETCH(int, width);
    QFETCH(bool, showAddress);
    QFETCH(quint32, start);
    QFETCH(QString, text);
    const QByteArray bytes = QByteArray::fromHex(data.toLatin1());
    QCOMPARE(echo.isNull() ? HexLayout::plainText(bytes, width, showAddress, start)
                           : HexLayout::echoText(bytes, QByteArray::fromHex(echo.toLatin1()), width, showAddress, start),
             text);
}

// Whatever the tab shows, a write or a data file takes the same bytes back out of it.
void TestHexLayout::everyLayoutReadsBack()
{
    QRandomGenerator random(42);
    for (int size : {0, 1, 2, 3, 5, 7, 8, 9, 15, 16, 17, 31, 33, 255, 4096}) {
        QByteArray data(size, '\0');
        for (char &c : data)
            c = char(random.bounded(256));
        for (int width = 0; width < 3; ++width) {
            for (int options = 0; options < 4; ++options) {
                const bool address = options & 1;
                const bool echo = options & 2;
                const QString text = echo ? HexLayout::echoText(data, data.left(size / 2), width, address, 0xFFFFFF00)
                                          : HexLayout::plainText(data, width, address, 0xFFFFFF00);
                if (HexLayout::readText(text, address, echo) != data)
                    QFAIL(qPrintable(u"%1 bytes, D%2, address %3, echo %4"_s
                                         .arg(size).arg(8 << width).arg(address).arg(echo)));
            }
        }
    }
}

void TestHexLayout::readText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("showAddress");
    QTest::addColumn<bool>("showEcho");
    QTest::addColumn<QString>("data"); // hex digits

    QTest::newRow("pairs") << u"0A 0B 0C"_s << false << false << u"0a0b0c"_s;
    QTest::newRow("one piece, odd: the first digit alone") << u"ABC"_s << false << false << u"0abc"_s;
    QTest::newRow("odd pieces do not borrow digits") << u"01 2 03"_s << false << false << u"010203"_s;
    QTest::newRow("D16 words with an odd piece") << u"1234 567"_s << false << false << u"12340567"_s;
    QTest::newRow("line breaks and tabs end a piece") << u"1\n2\t3"_s << false << false << u"010203"_s;
    QTest::newRow("other characters are skipped") << u"zz 1g2 ? １２"_s << false << false << u"12"_s;
    QTest::newRow("address: first piece of every line dropped")
        << u"01 02 03\n[0x8] 04\n"_s << true << false << u"020304"_s;
    QTest::newRow("address: odd pieces") << u"[0x0] 12 3 45\n[0x8] 6"_s << true << false << u"12034506"_s;
    QTest::newRow("address: a line without blank is all address") << u"[0x0]\n[0x8] 05"_s << true << false << u"05"_s;
    QTest::newRow("echo: header skipped, echo column ignored")
        << D8Header + u"01 2 03"_s + blanks(17) + u"  FF FF FF \n"_s << false << true << u"010203"_s;
    QTest::newRow("echo: a line without two blanks is all source")
        << u"header 12\n01 02\n03"_s << false << true << u"010203"_s;
}

void TestHexLayout::readText()
{
    QFETCH(QString, text);
    QFETCH(bool, showAddress);
    QFETCH(bool, showEcho);
    QFETCH(QString, data);
    QCOMPARE(HexLayout::readText(text, showAddress, showEcho), QByteArray::fromHex(data.toLatin1()));
}

QTEST_APPLESS_MAIN(TestHexLayout)
#include "tst_hexlayout.moc"
