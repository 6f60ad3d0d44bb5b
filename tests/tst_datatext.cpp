// The program editor's texts: data items of each width, interval texts, numbers and vector
// lists. The fuzz replay checks that they read back what they write; here are the values.
#include "datatext.h"

#include <QtTest>

#include <algorithm>
#include <tuple>

using namespace Qt::StringLiterals;

namespace {

QList<int> sorted(const QSet<unsigned char> &set)
{
    QList<int> list(set.begin(), set.end());
    std::sort(list.begin(), list.end());
    return list;
}

} // namespace

class TestDataText : public QObject
{
    Q_OBJECT
private slots:
    void readText_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("bytes"); // hex digits
        QTest::addColumn<int>("count");     // -1: invalid

        QTest::newRow("D8 12 0xAB 7") << 0 << u"12 0xAB 7"_s << u"12ab07"_s << 3;
        QTest::newRow("D8 100 is decimal") << 0 << u"100"_s << u"64"_s << 1;
        QTest::newRow("D8 255 is decimal") << 0 << u"255"_s << u"ff"_s << 1;
        QTest::newRow("D8 1FF") << 0 << u"1FF"_s << u""_s << -1;
        QTest::newRow("D8 010 is hex") << 0 << u"010"_s << u"10"_s << 1;
        QTest::newRow("D16 1234 5") << 1 << u"1234 5"_s << u"12340005"_s << 2;
        QTest::newRow("D16 65535 is decimal") << 1 << u"65535"_s << u"ffff"_s << 1;
        QTest::newRow("D32 1 abcdef01") << 2 << u"1 abcdef01"_s << u"00000001abcdef01"_s << 2;
        QTest::newRow("D32 4294967295 is decimal") << 2 << u"4294967295"_s << u"ffffffff"_s << 1;
        QTest::newRow("only spaces") << 1 << u"   "_s << u""_s << 0;
        QTest::newRow("D8 0x100 both ways") << 0 << u"0x100"_s << u""_s << -1;
        QTest::newRow("D8 bytes before a bad item stay") << 0 << u"  1   2 zz 3"_s << u"0102"_s << -1;
        QTest::newRow("D8 0377 falls back to octal") << 0 << u"0377"_s << u"ff"_s << 1;
        QTest::newRow("D16 65536") << 1 << u"65536"_s << u""_s << -1;
        QTest::newRow("D32 4294967296") << 2 << u"4294967296"_s << u""_s << -1;
    }
    void readText()
    {
        QFETCH(int, width);
        QFETCH(QString, text);
        QFETCH(QString, bytes);
        QFETCH(int, count);
        QByteArray out;
        QCOMPARE(DataText::data(width, out, text), count >= 0);
        QCOMPARE(out, QByteArray::fromHex(bytes.toLatin1()));
        QCOMPARE(DataText::check(width, text), count);
    }
    void writeText()
    {
        const QList<std::tuple<int, const char *, QString>> cases{
            {0, "12ab07", u"0x12 0xab 0x07 "_s}, {1, "12340005", u"0x1234 0x0005 "_s}, {2, "12340005", u"0x12340005 "_s},
            {1, "12ab07", u"0x12ab "_s},         {2, "12ab07", QString()},
            {2, "00000000ffffffff010203", u"0x00000000 0xffffffff "_s}};
        for (const auto &[width, bytes, text] : cases) {
            QString out = u"x"_s; // appended to what the caller passes
            DataText::strData(width, QByteArray::fromHex(bytes), out);
            QCOMPARE(out, u"x"_s + text);
        }
    }
    void removeZeros()
    {
        const QList<QPair<QString, QString>> cases{{u"1.500000"_s, u"1.5"_s},     {u"2.000000"_s, u"2"_s},
                                                   {u"0.000100"_s, u"0.0001"_s},  {u"1000.000"_s, u"1000"_s},
                                                   {u"1.000001"_s, u"1.000001"_s}, {u"1000"_s, u"1000"_s}};
        for (auto [text, trimmed] : cases) {
            DataText::removeZeros(text);
            QCOMPARE(text, trimmed);
        }
    }
    void numbers_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("uint32"); // checkUInt32; -1: refused
        QTest::addColumn<uint>("max");
        QTest::addColumn<int>("uchar"); // checkUChar with max; -1: refused

        QTest::newRow("1000") << u"1000"_s << qint64(0x1000) << 255u << -1;
        QTest::newRow("FFFFFFFF") << u"FFFFFFFF"_s << qint64(0xFFFFFFFF) << 255u << -1;
        QTest::newRow("100000000 as hex") << u"100000000"_s << qint64(-1) << 255u << -1;
        QTest::newRow("0x100000000") << u"0x100000000"_s << qint64(-1) << 255u << -1;
        QTest::newRow("010") << u"010"_s << qint64(0x10) << 255u << 8;
        QTest::newRow("empty") << QString() << qint64(-1) << 255u << -1;
        QTest::newRow("256 over 255") << u"256"_s << qint64(0x256) << 255u << -1;
        QTest::newRow("255 at 255") << u"255"_s << qint64(0x255) << 255u << 255;
        QTest::newRow("0 with max 63") << u"0"_s << qint64(0) << 63u << 0;
        QTest::newRow("64 over 63") << u"64"_s << qint64(0x64) << 63u << -1;
    }
    void numbers()
    {
        QFETCH(QString, text);
        QFETCH(qint64, uint32);
        QFETCH(uint, max);
        QFETCH(int, uchar);
        unsigned int value = 12345;
        QCOMPARE(DataText::checkUInt32(text, value), uint32 >= 0);
        QCOMPARE(qint64(value), uint32 >= 0 ? uint32 : 12345);
        unsigned char byte = 99;
        QCOMPARE(DataText::checkUChar(text, byte, max), uchar >= 0);
        QCOMPARE(int(byte), uchar >= 0 ? uchar : 99);
    }
    void vectorList_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<QList<int>>("vectors");
        QTest::addColumn<QString>("rebuilt"); // the list text rebuilt from the vectors stored in order

        QTest::newRow("0x10,3-5") << u"0x10,3-5"_s << true << QList<int>{3, 4, 5, 16} << u"3-5,16"_s;
        QTest::newRow("3-5,9") << u"3-5,9"_s << true << QList<int>{3, 4, 5, 9} << u"3-5,9"_s;
        QTest::newRow("3,5-6") << u"3,5-6"_s << true << QList<int>{3, 5, 6} << u"3,5-6"_s;
        QTest::newRow("9-8,3-4 reversed") << u"9-8,3-4"_s << true << QList<int>{3, 4, 8, 9} << u"3-4,8-9"_s;
        QTest::newRow("7") << u"7"_s << true << QList<int>{7} << u"7"_s;
        QTest::newRow("1-5-9 uses the ends") << u"1-5-9"_s << true << QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 9} << u"1-9"_s;
        QTest::newRow("up to 255") << u"253-255"_s << true << QList<int>{253, 254, 255} << u"253-255"_s;
        QTest::newRow("300") << u"300"_s << false << QList<int>{} << QString();
        QTest::newRow("3-x") << u"3-x"_s << false << QList<int>{} << QString();
        QTest::newRow("lone dash") << u"4,-,6"_s << false << QList<int>{4} << QString();
        QTest::newRow("earlier numbers stay") << u"1,2-3,256"_s << false << QList<int>{1, 2, 3} << QString();
        QTest::newRow("range end too large") << u"250-256"_s << false << QList<int>{} << QString();
    }
    void vectorList()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(QList<int>, vectors);
        QFETCH(QString, rebuilt);
        QSet<unsigned char> out;
        QCOMPARE(DataText::checkVectorNum(text, out), valid);
        QCOMPARE(sorted(out), vectors);
        if (valid) {
            QByteArray stored;
            for (int v : vectors)
                stored.append(char(v));
            QCOMPARE(DataText::vectorText(vectors.first() + 1, stored), rebuilt);
        }
    }
};

QTEST_APPLESS_MAIN(TestDataText)
#include "tst_datatext.moc"
