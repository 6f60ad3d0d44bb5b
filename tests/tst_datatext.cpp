#include "datatext.h"

#include <QtTest>

#include <algorithm>

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text));
}

QString str(const char *text)
{
    return QString::fromUtf8(text);
}

using VectorSet = QSet<unsigned char>;

VectorSet setOf(std::initializer_list<int> values)
{
    VectorSet set;
    for (int v : values)
        set.insert(static_cast<unsigned char>(v));
    return set;
}

QList<int> sorted(const VectorSet &set)
{
    QList<int> list;
    for (unsigned char v : set)
        list.append(v);
    std::sort(list.begin(), list.end());
    return list;
}

} // namespace

class TestDataText : public QObject
{
    Q_OBJECT
private slots:
    void readText_data();
    void readText();
    void readByWidthIndex();
    void writeText_data();
    void writeText();
    void roundTrip_data();
    void roundTrip();
    void removeZeros_data();
    void removeZeros();
    void isStrValid_data();
    void isStrValid();
    void checkUInt32_data();
    void checkUInt32();
    void checkUChar_data();
    void checkUChar();
    void vectorList_data();
    void vectorList();
    void vectorText_data();
    void vectorText();
};

void TestDataText::readText_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("count");

    // Worked examples.
    QTest::newRow("D8 12 0xAB 7") << 0 << str("12 0xAB 7") << true << hex("12ab07") << 3;
    QTest::newRow("D8 100 is decimal") << 0 << str("100") << true << hex("64") << 1;
    QTest::newRow("D8 255 is decimal") << 0 << str("255") << true << hex("ff") << 1;
    QTest::newRow("D8 1FF invalid") << 0 << str("1FF") << false << QByteArray() << -1;
    QTest::newRow("D8 010 is hex") << 0 << str("010") << true << hex("10") << 1;
    QTest::newRow("D16 1234 5") << 1 << str("1234 5") << true << hex("12340005") << 2;
    QTest::newRow("D16 65535 is decimal") << 1 << str("65535") << true << hex("ffff") << 1;
    QTest::newRow("D32 1 abcdef01") << 2 << str("1 abcdef01") << true << hex("00000001abcdef01") << 2;
    QTest::newRow("D32 4294967295 is decimal") << 2 << str("4294967295") << true << hex("ffffffff") << 1;
    QTest::newRow("D8 empty") << 0 << QString() << true << QByteArray() << 0;
    QTest::newRow("D16 only spaces") << 1 << str("   ") << true << QByteArray() << 0;
    QTest::newRow("D32 empty") << 2 << QString() << true << QByteArray() << 0;

    // Edge cases.
    QTest::newRow("D8 0x100 invalid both ways") << 0 << str("0x100") << false << QByteArray() << -1;
    QTest::newRow("D8 a D16 word") << 0 << str("0x1234") << false << QByteArray() << -1;
    QTest::newRow("D8 runs of spaces") << 0 << str("  1   2  ") << true << hex("0102") << 2;
    QTest::newRow("D8 tabs around an item") << 0 << str("\t1f\t 2") << true << hex("1f02") << 2;
    QTest::newRow("D8 bytes before a bad item stay") << 0 << str("1 2 zz 3") << false << hex("0102") << -1;
    QTest::newRow("D8 upper-case hex prefix") << 0 << str("0XfE") << true << hex("fe") << 1;
    QTest::newRow("D8 lone prefix") << 0 << str("0x") << false << QByteArray() << -1;
    QTest::newRow("D8 negative") << 0 << str("-1") << false << QByteArray() << -1;
    QTest::newRow("D8 tab between items is one piece") << 0 << str("1\t2") << false << QByteArray() << -1;
    QTest::newRow("D16 0x10000 invalid") << 1 << str("0x10000") << false << QByteArray() << -1;
    QTest::newRow("D16 65536 invalid") << 1 << str("65536") << false << QByteArray() << -1;
    QTest::newRow("D16 10000 is decimal") << 1 << str("10000") << true << hex("2710") << 1;
    QTest::newRow("D32 100000000 is decimal") << 2 << str("100000000") << true << hex("05f5e100") << 1;
    QTest::newRow("D32 4294967296 invalid") << 2 << str("4294967296") << false << QByteArray() << -1;
    QTest::newRow("D8 0377 falls back to octal") << 0 << str("0377") << true << hex("ff") << 1;
    QTest::newRow("D32 017 is hex") << 2 << str("017") << true << hex("00000017") << 1;
    QTest::newRow("D32 written text") << 2 << str("0x12340005 0xffffffff ") << true << hex("12340005ffffffff") << 2;
    QTest::newRow("D8 huge number") << 0 << str("99999999999999999999999") << false << QByteArray() << -1;
}

void TestDataText::readText()
{
    QFETCH(int, width);
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(QByteArray, bytes);
    QFETCH(int, count);

    QByteArray out;
    const bool ok = width == 0 ? DataText::dataD8(out, text)
                  : width == 1 ? DataText::dataD16(out, text)
                               : DataText::dataD32(out, text);
    QCOMPARE(ok, valid);
    QCOMPARE(out, bytes);
    const int n = width == 0 ? DataText::checkD8(text)
                : width == 1 ? DataText::checkD16(text)
                             : DataText::checkD32(text);
    QCOMPARE(n, count);
}

void TestDataText::readByWidthIndex()
{
    // The index forms follow the data-mode list; anything past D16 reads as D32.
    QByteArray out;
    QVERIFY(DataText::data(1, out, str("1234 5")));
    QCOMPARE(out, hex("12340005"));
    out.clear();
    QVERIFY(DataText::data(3, out, str("1")));
    QCOMPARE(out, hex("00000001"));
    QCOMPARE(DataText::check(0, str("0x1234")), -1);
    QCOMPARE(DataText::check(1, str("0x1234")), 1);
    QString text;
    DataText::strData(2, hex("12340005"), text);
    QCOMPARE(text, str("0x12340005 "));
}

void TestDataText::writeText_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");

    QTest::newRow("D8 12 AB 07") << 0 << hex("12ab07") << str("0x12 0xab 0x07 ");
    QTest::newRow("D16 12 34 00 05") << 1 << hex("12340005") << str("0x1234 0x0005 ");
    QTest::newRow("D32 12 34 00 05") << 2 << hex("12340005") << str("0x12340005 ");
    QTest::newRow("D16 12 AB 07") << 1 << hex("12ab07") << str("0x12ab ");
    QTest::newRow("D32 12 AB 07") << 2 << hex("12ab07") << QString();
    QTest::newRow("D16 one byte") << 1 << hex("ff") << QString();
    QTest::newRow("D8 empty") << 0 << QByteArray() << QString();
    QTest::newRow("D32 with 3 trailing bytes") << 2 << hex("00000000ffffffff010203")
                                               << str("0x00000000 0xffffffff ");
}

void TestDataText::writeText()
{
    QFETCH(int, width);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);

    QString out;
    if (width == 0)
        DataText::strDataD8(bytes, out);
    else if (width == 1)
        DataText::strDataD16(bytes, out);
    else
        DataText::strDataD32(bytes, out);
    QCOMPARE(out, text);

    // The text is appended to what the caller passes.
    QString appended = str("x");
    DataText::strData(width, bytes, appended);
    QCOMPARE(appended, str("x") + text);
}

void TestDataText::roundTrip_data()
{
    QTest::addColumn<int>("width");
    QTest::newRow("D8") << 0;
    QTest::newRow("D16") << 1;
    QTest::newRow("D32") << 2;
}

void TestDataText::roundTrip()
{
    QFETCH(int, width);
    const int itemSize = width == 0 ? 1 : width == 1 ? 2 : 4;

    // Every byte value in every position of an item, written out and read back.
    QByteArray bytes;
    for (int i = 0; i < 256 * itemSize; ++i)
        bytes.append(char((i * 7 + i / 256) & 0xFF));
    bytes.append(hex("00000000ffffffff"));
    bytes.truncate(bytes.size() - bytes.size() % itemSize);

    QString text;
    DataText::strData(width, bytes, text);
    QCOMPARE(DataText::check(width, text), int(bytes.size() / itemSize));
    QByteArray back;
    QVERIFY(DataText::data(width, back, text));
    QCOMPARE(back, bytes);
}

void TestDataText::removeZeros_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("trimmed");

    QTest::newRow("1.500000") << str("1.500000") << str("1.5");
    QTest::newRow("2.000000") << str("2.000000") << str("2");
    QTest::newRow("0.000100") << str("0.000100") << str("0.0001");
    QTest::newRow("1000.000") << str("1000.000") << str("1000");
    QTest::newRow("1.000001") << str("1.000001") << str("1.000001");
    QTest::newRow("4294.967295") << str("4294.967295") << str("4294.967295");
    QTest::newRow("0.000000") << str("0.000000") << str("0");
    QTest::newRow("no point keeps its zeros") << str("1000") << str("1000");
    QTest::newRow("empty") << QString() << QString();
}

void TestDataText::removeZeros()
{
    QFETCH(QString, text);
    QFETCH(QString, trimmed);
    DataText::removeZeros(text);
    QCOMPARE(text, trimmed);
}

void TestDataText::isStrValid_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::newRow("empty") << QString() << false;
    QTest::newRow("space") << str(" ") << true;
    QTest::newRow("number") << str("0") << true;
}

void TestDataText::isStrValid()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QCOMPARE(DataText::isStrValid(text), valid);
}

void TestDataText::checkUInt32_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<uint>("value");

    QTest::newRow("1000 is hex") << str("1000") << true << 4096u;
    QTest::newRow("FFFFFFFF") << str("FFFFFFFF") << true << 4294967295u;
    QTest::newRow("0x00001000") << str("0x00001000") << true << 4096u;
    QTest::newRow("0x100000000") << str("0x100000000") << false << 0u;
    QTest::newRow("100000000 as hex") << str("100000000") << false << 0u;
    QTest::newRow("empty") << QString() << false << 0u;
    QTest::newRow("not a number") << str("xyz") << false << 0u;
    QTest::newRow("0x inside a word") << str("10x5") << false << 0u;
    QTest::newRow("010 is hex without prefix") << str("010") << true << 16u;
    QTest::newRow("spaces around") << str(" 0x1002 ") << true << 0x1002u;
}

void TestDataText::checkUInt32()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(uint, value);
    unsigned int out = 12345;
    QCOMPARE(DataText::checkUInt32(text, out), valid);
    QCOMPARE(out, valid ? value : 12345u);
}

void TestDataText::checkUChar_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<uint>("max");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("value");

    QTest::newRow("017 is octal") << str("017") << 255u << true << 15;
    QTest::newRow("0x1F") << str("0x1F") << 255u << true << 31;
    QTest::newRow("empty") << QString() << 255u << false << 0;
    QTest::newRow("256 over 255") << str("256") << 255u << false << 0;
    QTest::newRow("255 at max") << str("255") << 255u << true << 255;
    QTest::newRow("0 with max 63") << str("0") << 63u << true << 0;
    QTest::newRow("64 over 63") << str("64") << 63u << false << 0;
    QTest::newRow("0x7F as 127") << str("0x7F") << 127u << true << 127;
    QTest::newRow("0200 is octal 128") << str("0200") << 127u << false << 0;
    QTest::newRow("08 is no octal") << str("08") << 255u << false << 0;
    QTest::newRow("negative") << str("-1") << 255u << false << 0;
    QTest::newRow("only spaces") << str("  ") << 255u << false << 0;
    QTest::newRow("huge") << str("18446744073709551616") << 255u << false << 0;
}

void TestDataText::checkUChar()
{
    QFETCH(QString, text);
    QFETCH(uint, max);
    QFETCH(bool, valid);
    QFETCH(int, value);
    unsigned char out = 99;
    QCOMPARE(DataText::checkUChar(text, out, max), valid);
    QCOMPARE(int(out), valid ? value : 99);
}

void TestDataText::vectorList_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<VectorSet>("vectors");

    QTest::newRow("0x10,3-5") << str("0x10,3-5") << true << setOf({3, 4, 5, 16});
    QTest::newRow("5,,7,") << str("5,,7,") << true << setOf({5, 7});
    QTest::newRow("300") << str("300") << false << VectorSet();
    QTest::newRow("3-x") << str("3-x") << false << VectorSet();
    QTest::newRow("empty") << QString() << true << VectorSet();
    QTest::newRow("only commas") << str(",,") << true << VectorSet();
    QTest::newRow("9-3 reversed") << str("9-3") << true << setOf({3, 4, 5, 6, 7, 8, 9});
    QTest::newRow("1-5-9 uses the ends") << str("1-5-9") << true << setOf({1, 2, 3, 4, 5, 6, 7, 8, 9});
    QTest::newRow("1-x-3 middle ignored") << str("1-x-3") << true << setOf({1, 2, 3});
    QTest::newRow("lone dash") << str("-") << false << VectorSet();
    QTest::newRow("double dash") << str("--") << false << VectorSet();
    QTest::newRow("dash after a good piece") << str("4,-,6") << false << setOf({4});
    QTest::newRow("leading dash") << str("-5") << true << setOf({5});
    QTest::newRow("double dash inside") << str("3--5") << true << setOf({3, 4, 5});
    QTest::newRow("earlier numbers stay on failure") << str("1,2-3,256") << false << setOf({1, 2, 3});
    QTest::newRow("range end too large") << str("250-256") << false << VectorSet();
    QTest::newRow("spaces around numbers") << str(" 4 , 6 - 7 ") << true << setOf({4, 6, 7});
    QTest::newRow("octal and hex ends") << str("010-0x0a") << true << setOf({8, 9, 10});
    QTest::newRow("whole range") << str("0-255") << true << [] {
        VectorSet all;
        for (int v = 0; v < 256; ++v)
            all.insert(static_cast<unsigned char>(v));
        return all;
    }();
}

void TestDataText::vectorList()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(VectorSet, vectors);
    VectorSet out;
    QCOMPARE(DataText::checkVectorNum(text, out), valid);
    QCOMPARE(sorted(out), sorted(vectors));
}

void TestDataText::vectorText_data()
{
    QTest::addColumn<int>("number");
    QTest::addColumn<QByteArray>("vectors");
    QTest::addColumn<QString>("text");

    QTest::newRow("3, 4, 5, 9") << 4 << hex("03040509") << str("3-5,9");
    QTest::newRow("3, 5, 6") << 4 << hex("030506") << str("3,5-6");
    QTest::newRow("3, 4, 8, 9") << 4 << hex("03040809") << str("3-4,8-9");
    QTest::newRow("7 alone") << 8 << hex("07") << str("7");
    QTest::newRow("0 to 255") << 1 << [] {
        QByteArray all;
        for (int v = 0; v < 256; ++v)
            all.append(char(v));
        return all;
    }() << str("0-255");
    QTest::newRow("255 alone") << 256 << hex("ff") << str("255");
    QTest::newRow("repeated vector") << 4 << hex("030304") << str("3,3-4");
    QTest::newRow("single runs") << 1 << hex("00020406") << str("0,2,4,6");
    QTest::newRow("a run after a gap") << 11 << hex("0a0c0d0e") << str("10,12-14");
}

void TestDataText::vectorText()
{
    QFETCH(int, number);
    QFETCH(QByteArray, vectors);
    QFETCH(QString, text);
    QCOMPARE(DataText::vectorText(number, vectors), text);

    // The rebuilt text reads back as the same set.
    VectorSet back;
    QVERIFY(DataText::checkVectorNum(text, back));
    VectorSet expected;
    for (char v : vectors)
        expected.insert(static_cast<unsigned char>(v));
    QCOMPARE(sorted(back), sorted(expected));
}

QTEST_APPLESS_MAIN(TestDataText)
#include "tst_datatext.moc"
