// The command channel's header CRC, packets and mode words; program records, the INTR form, the
// default vector program; the program editor's texts.
#include "bytes.h"
#include "datatext.h"
#include "fakehost.h"
#include "modeword.h"
#include "packet.h"
#include "tarnixcmd.h"
#include "tcpthread.h"
#include "vmeinstruction.h"
#include "vmeprogram.h"

#include <QtTest>

#include <algorithm>
#include <tuple>
#include <type_traits>

using namespace Qt::StringLiterals;

static_assert(!std::is_copy_constructible_v<VmeProgram>, "a program owns its instructions");
static_assert(!std::is_copy_assignable_v<VmeProgram>, "a program owns its instructions");

namespace {

// read, echo, noEcho of the read/write list: Read, Write(No Data Echo), Write(Echo),
// Write(No Echo), Read(No Echo).
const bool readWriteFlags[5][3] = {{1, 0, 0}, {0, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 1}};

VmeInstruction *makeInstruction(quint32 address, int rw, int dataMode, int addressMode, int accessMode,
                                quint8 id, int length, const QByteArray &data = {})
{
    auto *ins = new VmeInstruction;
    ins->address = address;
    ins->read = readWriteFlags[rw][0];
    ins->echo = readWriteFlags[rw][1];
    ins->noEcho = readWriteFlags[rw][2];
    ins->dataMode = dataMode;
    ins->addressMode = addressMode;
    ins->accessMode = accessMode;
    ins->id = id;
    ins->length = length;
    ins->data = data;
    return ins;
}

QList<int> sorted(const QSet<unsigned char> &set)
{
    QList<int> list(set.begin(), set.end());
    std::sort(list.begin(), list.end());
    return list;
}

// "r-n D2 A0 #10": read or write, echo, no echo, data mode, address mode and access index.
QString fields(const VmeModeWord &m)
{
    return QStringLiteral("%1%2%3 D%4 A%5 #%6")
        .arg(QLatin1Char(m.read ? 'r' : 'w'))
        .arg(QLatin1Char(m.echo ? 'e' : '-'))
        .arg(QLatin1Char(m.noEcho ? 'n' : '-'))
        .arg(m.dataMode)
        .arg(m.addressMode)
        .arg(m.accessMode);
}

} // namespace

class TestProgram : public QObject
{
    Q_OBJECT
private slots:
    // The command channel's header CRC, packets and mode words.
    void crc_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("crc");
        QTest::newRow("123456789") << QByteArray("123456789") << 0xFB;
        QTest::newRow("abc") << QByteArray("abc") << 0x74;
        QTest::newRow("empty") << QByteArray() << 0xFF;
        // The running value after each byte of the worked read header.
        const QByteArray h = hex("00001000 00000004 0a00 80");
        const QByteArray steps = hex("f3 d7 5b 86 9b c8 76 59 be 33 10");
        for (int i = 0; i < h.size(); ++i)
            QTest::addRow("worked header, %d bytes", i + 1) << h.left(i + 1) << int(quint8(steps.at(i)));
    }
    void crc()
    {
        QFETCH(QByteArray, bytes);
        quint8 c = 0xFF;
        for (char b : bytes)
            c = QTcpThread::crcCal(c, quint8(b));
        QTEST(int(c), "crc");
    }

    void packets_data()
    {
        QTest::addColumn<quint32>("address");
        QTest::addColumn<quint32>("length");
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("id");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("packet");
        QTest::addColumn<int>("dataSize"); // of a response with this header
        QTest::newRow("read of one D32 item at 0x1000, A32, User Data")
            << 0x1000u << 4u << 0x0A00 << 0x80 << QByteArray() << hex("00001000 00000004 0a00 80 10") << 4;
        QTest::newRow("write: its data follows the header")
            << 0x1000u << 4u << 0x8A00 << 0x80 << hex("deadbeef") << hex("00001000 00000004 8a00 80 1b deadbeef") << 0;
        QTest::newRow("every field big-endian")
            << 0x12345678u << 0x500501FFu << 0x0A00 << 5 << QByteArray() << hex("12345678 500501ff 0a00 05 bb") << 255;
    }
    void packets()
    {
        TarnixCmd cmd;
        QFETCH(QByteArray, packet);
        QFETCH(quint32, address);
        QFETCH(quint32, length);
        QFETCH(int, mode);
        QFETCH(int, id);
        QFETCH(QByteArray, data);
        cmd.address = address;
        cmd.length = length;
        cmd.mode = quint16(mode);
        cmd.id = quint8(id);
        cmd.data = data;
        QCOMPARE(cmd.toPacket(), packet);
        QCOMPARE(int(cmd.crc), int(quint8(packet.at(11))));
        // Read back, the header gives the same fields.
        const kelvo_vme_master_header h = KelvoPacket::readHeader(reinterpret_cast<const uchar *>(packet.constData()));
        QCOMPARE((QList<quint32>{h.address, h.length, h.mode, h.id, h.crc}),
                 (QList<quint32>{address, length, quint32(mode), quint32(id), quint8(packet.at(11))}));
        QTEST(KelvoPacket::responseDataSize(h), "dataSize");
    }

    // Each word decoded three ways, the word the fields give back, and whether a response or
    // report with it carries data.
    void decode_data()
    {
        QTest::addColumn<int>("word");
        QTest::addColumn<QString>("fields");
        QTest::addColumn<int>("encoded");
        QTest::addColumn<bool>("carries");
        QTest::newRow("INTR") << 0x2830 << "r-n D2 A0 #10" << 0x2830 << false;
        QTest::newRow("write echo") << 0xC540 << "we- D1 A1 #3" << 0xC540 << true;
        QTest::newRow("write no data echo") << 0x8540 << "w-- D1 A1 #3" << 0x8540 << false;
        QTest::newRow("write no echo") << 0xA000 << "w-n D0 A0 #0" << 0xA000 << false;
        QTest::newRow("read no echo") << 0x2A00 << "r-n D2 A2 #0" << 0x2A00 << false;
        QTest::newRow("read D32 A32") << 0x0A00 << "r-- D2 A2 #0" << 0x0A00 << true;
        QTest::newRow("status bits ignored") << 0x0A05 << "r-- D2 A2 #0" << 0x0A00 << true;
        QTest::newRow("bit 12 ignored") << 0x1A0F << "r-- D2 A2 #0" << 0x0A00 << true;
        QTest::newRow("data mode 3 kept") << 0x0F00 << "r-- D3 A3 #0" << 0x0F00 << true;
        // Every entry of the access-mode table, in list order.
        const int codes[] = {0x0, 0x1, 0x2, 0x4, 0x5, 0x6, 0x8, 0x9, 0xC, 0xD, 0x3};
        for (int i = 0; i < 11; ++i)
            QTest::addRow("access %d", i) << (0x0600 | codes[i] << 4) << QStringLiteral("r-- D1 A2 #%1").arg(i)
                                          << (0x0600 | codes[i] << 4) << true;
        for (int code : {0x7, 0xA, 0xB, 0xE, 0xF})
            QTest::addRow("code %X gives INTR", code) << (0xCA00 | (code << 4)) << "we- D2 A2 #-1" << 0x2830 << true;
    }
    void decode()
    {
        QFETCH(int, word);
        QFETCH(int, encoded);
        VmeInstruction a, b, c;
        a.getMode(quint16(word));
        b.getMode(quint8(word >> 8), quint8(word));
        QVERIFY(c.getMode(QByteArray(1, char(word >> 8)) + char(word)));
        // Fewer than two bytes change nothing.
        QVERIFY(!c.getMode(QByteArray(1, '\0')) && !c.getMode(QByteArray()));
        for (const VmeInstruction *x : {&a, &b, &c}) {
            QTEST(fields(*x), "fields");
            QCOMPARE(int(x->mode()), encoded);
        }
        QByteArray out("x");
        a.setMode(out);
        QCOMPARE(out, QByteArray("x") + char(encoded >> 8) + char(encoded));
        QTEST(VmeModeWord::isEcho(quint16(word)), "carries");
        a.accessMode = VmeModeWord::AccessModeCount; // an index past the table gives code 0
        QCOMPARE(a.mode() & 0xF0, 0);
    }

    void encodeRecord_data()
    {
        QTest::addColumn<quint32>("address");
        QTest::addColumn<int>("rw");
        QTest::addColumn<int>("dataMode");
        QTest::addColumn<int>("addressMode");
        QTest::addColumn<int>("accessMode");
        QTest::addColumn<int>("length");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("record");

        QTest::newRow("D32 read A32 User Data")
            << 0x1000u << 0 << 2 << 2 << 0 << 1 << QByteArray() << hex("00001000 0a00 11 04");
        QTest::newRow("D16 write of 3 items: length byte 6")
            << 0x200000u << 2 << 1 << 1 << 3 << 3 << hex("111122223333") << hex("00200000 c540 11 06 111122223333");
        QTest::newRow("D8 write no data echo")
            << 0xdeadbeefu << 1 << 0 << 0 << 1 << 2 << hex("a55a") << hex("deadbeef 8010 11 02 a55a");
        QTest::newRow("D32 write no echo, Fixed Address and Supervisor Prog.")
            << 4u << 3 << 2 << 2 << 9 << 1 << hex("01020304") << hex("00000004 aad0 11 04 01020304");
        QTest::newRow("Read(No Echo) D8 User BLT") << 0x10u << 4 << 0 << 1 << 2 << 16 << QByteArray()
                                                   << hex("00000010 2120 11 10");
        QTest::newRow("INTR access row, not the INTR-only form")
            << 6u << 4 << 2 << 0 << 10 << 1 << QByteArray() << hex("00000006 2830 11 04");
        QTest::newRow("read of 63 D32 items") << 0x100u << 0 << 2 << 0 << 0 << 63 << QByteArray()
                                              << hex("00000100 0800 11 fc");
        // Whatever an instruction holds, its record carries exactly the data its length byte
        // announces, so that the next record is read from the right place.
        QTest::newRow("D16 write with an odd data byte")
            << 0x100u << 1 << 1 << 0 << 0 << 2 << hex("0102030405") << hex("00000100 8400 11 04 01020304");
        QTest::newRow("D8 write with less data than its length")
            << 0x100u << 2 << 0 << 0 << 0 << 3 << hex("aa") << hex("00000100 c000 11 03 aa0000");
        QTest::newRow("D8 length kept to 8 bits")
            << 0x100u << 1 << 0 << 0 << 0 << 257 << pattern(257) << hex("00000100 8000 11 01") + pattern(1);
        QTest::newRow("read with stray data sends none")
            << 0x100u << 0 << 0 << 0 << 0 << 2 << hex("abcd") << hex("00000100 0000 11 02");
    }
    void encodeRecord()
    {
        QFETCH(quint32, address);
        QFETCH(int, rw);
        QFETCH(int, dataMode);
        QFETCH(int, addressMode);
        QFETCH(int, accessMode);
        QFETCH(int, length);
        QFETCH(QByteArray, data);
        QFETCH(QByteArray, record);

        // Alone in an interrupt program, and followed by another instruction.
        VmeProgram program;
        program.number = -3;
        program.level = 3;
        program.instructions.append(makeInstruction(address, rw, dataMode, addressMode, accessMode, 0x11, length, data));
        QByteArray alone("prefix");
        QCOMPARE(program.setProgram(alone), 1);
        QCOMPARE(alone, QByteArray("prefix") + record);

        program.instructions.append(makeInstruction(0x20, 0, 0, 0, 0, 0x42, 1));
        QByteArray both;
        QCOMPARE(program.setProgram(both), 2);
        QCOMPARE(both, record + hex("00000020 0000 42 01"));

        int count = 2;
        VmeProgram parsed(both, count, 0, nullptr);
        QCOMPARE(count, 0);
        QByteArray again;
        parsed.setProgram(again);
        QCOMPARE(again, both);
    }

    // The INTR record of a level is recognised only exactly; the program made for a level
    // encodes to it, and so does setINTR.
    void intr_data()
    {
        QTest::addColumn<uint>("level");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("intr");
        QTest::newRow("level 1") << 1u << hex("00000002 2830 00 04") << true;
        QTest::newRow("level 3") << 3u << hex("00000006 2830 00 04") << true;
        QTest::newRow("level 7") << 7u << hex("0000000e 2830 00 04") << true;
        QTest::newRow("followed by more bytes") << 3u << hex("00000006 2830 00 04 ffff") << true;
        QTest::newRow("7 bytes") << 3u << hex("00000006 2830 00") << false;
        QTest::newRow("address of level 2") << 3u << hex("00000004 2830 00 04") << false;
        QTest::newRow("other mode") << 3u << hex("00000006 2a30 00 04") << false;
        QTest::newRow("nonzero ID") << 3u << hex("00000006 2830 01 04") << false;
        QTest::newRow("length byte 16") << 3u << hex("00000006 2830 00 10") << false;
        QTest::newRow("ordinary write alone") << 3u << hex("00001000 c100 09 02 beef") << false;
        QTest::newRow("empty") << 1u << QByteArray() << false;
    }
    void intr()
    {
        QFETCH(uint, level);
        QFETCH(QByteArray, bytes);
        QFETCH(bool, intr);
        QCOMPARE(VmeProgram::checkINTR(level, bytes), intr);
        if (!intr || bytes.size() != VmeProgram::IntrRecordSize)
            return;
        VmeProgram program(level);
        QCOMPARE(program.number, -int(level));
        QByteArray out("x");
        QCOMPARE(program.setProgram(out), 1);
        QVERIFY(VmeProgram::setINTR(level, out));
        QCOMPARE(out, QByteArray("x") + bytes + bytes);
        // Cleared, it encodes nothing, as does a new program.
        program.clear();
        QCOMPARE(program.setProgram(out) + VmeProgram().setProgram(out), 0);
        QCOMPARE(out.size(), 1 + 2 * bytes.size());
    }

    // Value rows; where counts and positions may lead, the replay of the records fuzz target
    // checks the properties.
    void parse_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("wanted");
        QTest::addColumn<int>("pos");
        QTest::addColumn<int>("left");
        // Per instruction: address, data mode, access index, ID, length in items, data.
        QTest::addColumn<QStringList>("program");

        const QByteArray read1 = hex("00001000 0a00 11 04");
        const QByteArray write1 = hex("00002000 8400 22 04 01020304");
        const QByteArray read2 = hex("00003000 0000 33 01");
        const QString r1 = QStringLiteral("00001000 D2 A0 #11 n1 ");
        const QString w1 = QStringLiteral("00002000 D1 A0 #22 n2 01020304");
        const QString r2 = QStringLiteral("00003000 D0 A0 #33 n1 ");
        const QByteArray all = read1 + write1 + read2;
        QTest::newRow("all of three") << all << 3 << 0 << 0 << QStringList{r1, w1, r2};
        QTest::newRow("from a position") << QByteArray("xyz") + write1 + read2 << 2 << 3 << 0 << QStringList{w1, r2};
        QTest::newRow("write data one byte short") << read1 + write1.chopped(1) << 2 << 0 << 1 << QStringList{r1};
        QTest::newRow("write data short, later record not read")
            << hex("00002000 8000 44 ff 0102") + read2 << 2 << 0 << 2 << QStringList{};
        QTest::newRow("read with length byte has no data")
            << hex("00000000 0000 55 ff") + read2 << 2 << 0 << 0 << QStringList{"00000000 D0 A0 #55 n255 ", r2};
        // An INTR record reads back as an ordinary read with the INTR access code.
        QTest::newRow("INTR record") << hex("00000006 2830 00 04") << 1 << 0 << 0
                                     << QStringList{"00000006 D2 A10 #00 n1 "};
        QTest::newRow("D16 write of 6 bytes is 3 items") << hex("00200000 c540 01 06 aabbccddeeff") << 1 << 0 << 0
                                                         << QStringList{"00200000 D1 A3 #01 n3 aabbccddeeff"};
        QTest::newRow("D32 write of 7 bytes is 1 item") << hex("00000004 8800 01 07 01020304050607") << 1 << 0 << 0
                                                        << QStringList{"00000004 D2 A0 #01 n1 01020304050607"};
        QTest::newRow("D32 read of 252 bytes") << hex("ffffff00 0a00 01 fc") << 1 << 0 << 0
                                               << QStringList{"ffffff00 D2 A0 #01 n63 "};
        QTest::newRow("data mode 3 counts bytes") << hex("00000000 0c00 01 05") << 1 << 0 << 0
                                                  << QStringList{"00000000 D3 A0 #01 n5 "};
    }
    void parse()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, wanted);
        QFETCH(int, pos);
        FakeHost host;
        int count = wanted;
        VmeProgram program(bytes, count, pos, &host);
        QTEST(count, "left");
        QStringList got;
        QList<int> ids;
        for (const VmeInstruction *ins : program.instructions) {
            got << QStringLiteral("%1 D%2 A%3 #%4 n%5 %6")
                       .arg(ins->address, 8, 16, QLatin1Char('0'))
                       .arg(ins->dataMode)
                       .arg(ins->accessMode)
                       .arg(ins->id, 2, 16, QLatin1Char('0'))
                       .arg(ins->length)
                       .arg(QString::fromLatin1(ins->data.toHex()));
            ids << ins->id;
        }
        QTEST(got, "program");
        QCOMPARE(host.marked, ids);
    }

    void defaultVectorProgram_data()
    {
        QTest::addColumn<int>("addressMode");
        QTest::addColumn<int>("accessMode");
        QTest::addColumn<int>("taken"); // IDs 0.. used beforehand
        QTest::addColumn<QByteArray>("record");
        QTest::newRow("A32 Supervisor Data") << 2 << 3 << 5 << hex("00000000 0240 05 00");
        QTest::newRow("A16 Fixed Address and Supervisor Prog.") << 0 << 9 << 5 << hex("00000000 00d0 05 00");
        QTest::newRow("combos without a current item") << -1 << -1 << 5 << hex("00000000 0100 05 00");
        QTest::newRow("indices past the lists") << 3 << 10 << 5 << hex("00000000 0100 05 00");
        QTest::newRow("no free ID left: the last looked at") << 1 << 0 << 128 << hex("00000000 0100 80 00");
    }
    void defaultVectorProgram()
    {
        QFETCH(int, addressMode);
        QFETCH(int, accessMode);
        QFETCH(int, taken);
        QFETCH(QByteArray, record);
        FakeHost host(addressMode);
        host.access = accessMode;
        for (int id = 0; id < taken; ++id)
            host.book.setID(quint8(id), true);
        QByteArray out("image");
        QCOMPARE(VmeProgram::setVectorBase(out, &host), taken < 128);
        QCOMPARE(out, QByteArray("image") + record);
        QCOMPARE(host.marked, QList<int>{quint8(record.at(6))});
    }

    // The program editor's texts: data items of each width, interval texts, numbers and vector
    // lists. The datatext fuzz replay checks that they read back what they write; here are the values.
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
        QTest::newRow("D8 0b101 is no binary") << 0 << u"0b101"_s << u""_s << -1;
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
        QTest::newRow("0b101 is hex, not binary") << u"0b101"_s << qint64(0xb101) << 255u << -1;
        QTest::newRow(" +0B1 not binary either") << u" +0B1"_s << qint64(0xb1) << 255u << -1;
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

QTEST_APPLESS_MAIN(TestProgram)
#include "tst_program.moc"
