#include "programhost.h"
#include "vmeinstruction.h"
#include "vmeprogram.h"

#include <QtTest>

#include <memory>
#include <type_traits>

static_assert(!std::is_copy_constructible_v<VmeProgram>, "a program owns its instructions");
static_assert(!std::is_copy_assignable_v<VmeProgram>, "a program owns its instructions");

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text));
}

// Stands in for the main window: records every ID it is told about.
class FakeHost : public ProgramHost
{
public:
    int defaultAddressMode = 1;
    int defaultAccessMode = 0;
    bool haveFreeId = true;
    unsigned char freeId = 0;
    QList<int> marked;  // IDs passed to setID(id, true), in order

    int addressMode() override { return defaultAddressMode; }
    int accessMode() override { return defaultAccessMode; }
    int dataMode() override { return 0; }
    int readWrite() override { return 0; }
    bool checkInteractiveID(unsigned char id, unsigned char *min, unsigned char *max) override
    {
        if (min)
            *min = 128;
        if (max)
            *max = 255;
        return id < 128;
    }
    bool checkID(unsigned char id) override { return id < 128 && !marked.contains(id); }
    bool getFreeID(unsigned char &id) override
    {
        id = freeId;
        return haveFreeId;
    }
    bool setID(unsigned char id, bool used) override
    {
        if (used)
            marked.append(id);
        return used;
    }
    bool checkVectorID(int) override { return false; }
    bool pollingPresent() override { return false; }
    void setPollingPresent(bool) override {}
};

struct Fields {
    bool read;
    bool echo;
    bool noEcho;
};

const Fields readWriteFlags[] = {
    {true, false, false},   // Read
    {false, false, false},  // Write(No Data Echo)
    {false, true, false},   // Write(Echo)
    {false, false, true},   // Write(No Echo)
    {true, false, true},    // Read(No Echo)
};

VmeInstruction *makeInstruction(quint32 address, int rw, int dataMode, int addressMode, int accessMode,
                                quint8 id, int length, const QByteArray &data = {})
{
    auto *ins = new VmeInstruction;
    ins->address = address;
    ins->read = readWriteFlags[rw].read;
    ins->echo = readWriteFlags[rw].echo;
    ins->noEcho = readWriteFlags[rw].noEcho;
    ins->dataMode = dataMode;
    ins->addressMode = addressMode;
    ins->accessMode = accessMode;
    ins->id = id;
    ins->length = length;
    ins->data = data;
    return ins;
}

// Deterministic filler bytes for write data.
QByteArray pattern(int size, int seed)
{
    QByteArray bytes;
    for (int i = 0; i < size; ++i)
        bytes.append(char((seed * 37 + i * 11 + 5) & 0xFF));
    return bytes;
}

} // namespace

class TestProgram : public QObject
{
    Q_OBJECT
private slots:
    void encodeRecord_data();
    void encodeRecord();
    void encodeParseRoundTrip_data();
    void encodeParseRoundTrip();
    void encodeMalformedKeepsRecordsAligned_data();
    void encodeMalformedKeepsRecordsAligned();
    void intrOnlyProgram_data();
    void intrOnlyProgram();
    void singleOrdinaryInstructionIsNotIntr();
    void emptyProgramEncodesNothing();
    void parse_data();
    void parse();
    void parsedFields_data();
    void parsedFields();
    void parseWithoutHost();
    void checkINTR_data();
    void checkINTR();
    void defaultVectorProgram_data();
    void defaultVectorProgram();
    void byteArrayHelpers();
    void clearEmptiesAndAllowsReuse();
};

void TestProgram::encodeRecord_data()
{
    QTest::addColumn<quint32>("address");
    QTest::addColumn<int>("rw");
    QTest::addColumn<int>("dataMode");
    QTest::addColumn<int>("addressMode");
    QTest::addColumn<int>("accessMode");
    QTest::addColumn<int>("id");
    QTest::addColumn<int>("length");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("record");

    QTest::newRow("D32 read A32 User Data")
        << quint32(0x1000) << 0 << 2 << 2 << 0 << 0x80 << 1 << QByteArray()
        << hex("00001000 0a00 80 04");
    QTest::newRow("D16 write of 3 items: length byte 6")
        << quint32(0x200000) << 2 << 1 << 1 << 3 << 7 << 3 << hex("111122223333")
        << hex("00200000 c540 07 06 111122223333");
    QTest::newRow("D8 write no data echo")
        << quint32(0xdeadbeef) << 1 << 0 << 0 << 1 << 255 << 2 << hex("a55a")
        << hex("deadbeef 8010 ff 02 a55a");
    QTest::newRow("D32 write no echo, Fixed Address and Supervisor Prog.")
        << quint32(4) << 3 << 2 << 2 << 9 << 1 << 1 << hex("01020304")
        << hex("00000004 aad0 01 04 01020304");
    QTest::newRow("Read(No Echo) D8 User BLT")
        << quint32(0x10) << 4 << 0 << 1 << 2 << 9 << 16 << QByteArray()
        << hex("00000010 2120 09 10");
    QTest::newRow("INTR access row among others")
        << quint32(6) << 4 << 2 << 0 << 10 << 0 << 1 << QByteArray()
        << hex("00000006 2830 00 04");
    QTest::newRow("read of 63 D32 items")
        << quint32(0x100) << 0 << 2 << 0 << 0 << 3 << 63 << QByteArray()
        << hex("00000100 0800 03 fc");
}

void TestProgram::encodeRecord()
{
    QFETCH(quint32, address);
    QFETCH(int, rw);
    QFETCH(int, dataMode);
    QFETCH(int, addressMode);
    QFETCH(int, accessMode);
    QFETCH(int, id);
    QFETCH(int, length);
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, record);

    // Two instructions, so that neither is taken for the INTR-only form.
    VmeProgram program;
    program.level = 5;
    program.instructions.append(
        makeInstruction(address, rw, dataMode, addressMode, accessMode, quint8(id), length, data));
    program.instructions.append(makeInstruction(0x20, 0, 0, 0, 0, 0x42, 1));

    QByteArray out("prefix");
    QCOMPARE(program.setProgram(out), 2);
    QCOMPARE(out, QByteArray("prefix") + record + hex("00000020 0000 42 01"));
}

void TestProgram::encodeParseRoundTrip_data()
{
    QTest::addColumn<int>("dataMode");
    QTest::addColumn<int>("rw");
    const char *widths[] = {"D8", "D16", "D32"};
    const char *kinds[] = {"Read", "Write(No Data Echo)", "Write(Echo)", "Write(No Echo)", "Read(No Echo)"};
    for (int d = 0; d < 3; ++d)
        for (int rw = 0; rw < 5; ++rw)
            QTest::addRow("%s %s", widths[d], kinds[rw]) << d << rw;
}

void TestProgram::encodeParseRoundTrip()
{
    QFETCH(int, dataMode);
    QFETCH(int, rw);
    const int itemSize = VmeModeWord::itemSize(dataMode);
    const int maxLength = 255 / itemSize;

    // Every address mode and access mode, with lengths from 0 up to the width's limit.
    VmeProgram program;
    int n = 0;
    for (int addressMode = 0; addressMode < 3; ++addressMode) {
        for (int accessMode = 0; accessMode < VmeModeWord::AccessModeCount; ++accessMode, ++n) {
            const int length = (n * 7) % (maxLength + 1);
            const bool write = !readWriteFlags[rw].read;
            program.instructions.append(makeInstruction(0x01000000u * quint32(n) + quint32(itemSize * n), rw,
                                                        dataMode, addressMode, accessMode, quint8(n), length,
                                                        write ? pattern(length * itemSize, n) : QByteArray()));
        }
    }
    QByteArray bytes;
    QCOMPARE(program.setProgram(bytes), n);

    FakeHost host;
    int count = n;
    VmeProgram parsed(bytes, count, 0, &host);
    QCOMPARE(count, 0);
    QCOMPARE(parsed.instructions.size(), program.instructions.size());
    for (int i = 0; i < n; ++i) {
        const VmeInstruction *a = program.instructions.at(i);
        const VmeInstruction *b = parsed.instructions.at(i);
        QCOMPARE(b->address, a->address);
        QCOMPARE(b->mode(), a->mode());
        QCOMPARE(b->read, a->read);
        QCOMPARE(b->echo, a->echo);
        QCOMPARE(b->noEcho, a->noEcho);
        QCOMPARE(b->dataMode, a->dataMode);
        QCOMPARE(b->addressMode, a->addressMode);
        QCOMPARE(b->accessMode, a->accessMode);
        QCOMPARE(b->id, a->id);
        QCOMPARE(b->length, a->length);
        QCOMPARE(b->data, a->data);
        QCOMPARE(host.marked.value(i, -1), int(a->id));
    }
    // Encoding the parsed program gives the same bytes again.
    QByteArray again;
    parsed.setProgram(again);
    QCOMPARE(again, bytes);
}

void TestProgram::encodeMalformedKeepsRecordsAligned_data()
{
    QTest::addColumn<int>("dataMode");
    QTest::addColumn<int>("rw");
    QTest::addColumn<int>("length");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("record");

    QTest::newRow("D16 write with an odd data byte")
        << 1 << 1 << 2 << hex("0102030405") << hex("00000100 8400 11 04 01020304");
    QTest::newRow("D8 write with less data than its length")
        << 0 << 2 << 3 << hex("aa") << hex("00000100 c000 11 03 aa0000");
    QTest::newRow("D8 length kept to 8 bits")
        << 0 << 1 << 257 << pattern(257, 1) << hex("00000100 8000 11 01") + pattern(1, 1);
    QTest::newRow("read with stray data sends none")
        << 0 << 0 << 2 << hex("abcd") << hex("00000100 0000 11 02");
}

void TestProgram::encodeMalformedKeepsRecordsAligned()
{
    QFETCH(int, dataMode);
    QFETCH(int, rw);
    QFETCH(int, length);
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, record);

    // Whatever an instruction holds, its record carries exactly the data its length byte
    // announces, so the following record is still read from the right place.
    VmeProgram program;
    program.instructions.append(makeInstruction(0x100, rw, dataMode, 0, 0, 0x11, length, data));
    program.instructions.append(makeInstruction(0x200, 0, 2, 2, 0, 0x22, 1));
    QByteArray bytes;
    program.setProgram(bytes);
    QCOMPARE(bytes, record + hex("00000200 0a00 22 04"));

    int count = 2;
    VmeProgram parsed(bytes, count, 0, nullptr);
    QCOMPARE(count, 0);
    QCOMPARE(parsed.instructions.size(), 2);
    QCOMPARE(parsed.instructions.at(1)->address, quint32(0x200));
    QCOMPARE(parsed.instructions.at(1)->id, quint8(0x22));
}

void TestProgram::intrOnlyProgram_data()
{
    QTest::addColumn<uint>("level");
    QTest::addColumn<QByteArray>("record");
    QTest::newRow("level 1") << 1u << hex("00000002 2830 00 04");
    QTest::newRow("level 3") << 3u << hex("00000006 2830 00 04");
    QTest::newRow("level 7") << 7u << hex("0000000e 2830 00 04");
}

void TestProgram::intrOnlyProgram()
{
    QFETCH(uint, level);
    QFETCH(QByteArray, record);

    const VmeProgram program(level);
    QCOMPARE(program.number, -int(level));
    QCOMPARE(program.level, int(level));
    QVERIFY(program.data.isEmpty());
    QCOMPARE(program.instructions.size(), 1);
    const VmeInstruction *ins = program.instructions.first();
    QCOMPARE(ins->address, quint32(2 * level));
    QVERIFY(ins->read);
    QVERIFY(!ins->echo);
    QCOMPARE(ins->length, 4);
    QCOMPARE(ins->dataMode, 2);
    QCOMPARE(ins->id, quint8(0));
    QCOMPARE(ins->accessMode, -1);
    QVERIFY(program.isIntrOnly());

    QByteArray out;
    QCOMPARE(program.setProgram(out), 1);
    QCOMPARE(out, record);

    QByteArray direct("x");
    QVERIFY(VmeProgram::setINTR(level, direct));
    QCOMPARE(direct, QByteArray("x") + record);
    QVERIFY(VmeProgram::checkINTR(level, out));

    // Read back, the record is an ordinary read with the INTR access code.
    int count = 1;
    VmeProgram parsed(out, count, 0, nullptr);
    QCOMPARE(count, 0);
    QCOMPARE(parsed.instructions.size(), 1);
    const VmeInstruction *back = parsed.instructions.first();
    QCOMPARE(back->accessMode, int(VmeModeWord::IntrAccessIndex));
    QCOMPARE(back->dataMode, 2);
    QCOMPARE(back->length, 1);
    QVERIFY(back->read);
    QVERIFY(back->noEcho);
    QCOMPARE(back->address, quint32(2 * level));
    QVERIFY(!parsed.isIntrOnly());
}

void TestProgram::singleOrdinaryInstructionIsNotIntr()
{
    VmeProgram program;
    program.number = -3;
    program.level = 3;
    program.instructions.append(makeInstruction(0x1000, 2, 0, 1, 0, 9, 2, hex("beef")));
    QByteArray out;
    QCOMPARE(program.setProgram(out), 1);
    QCOMPARE(out, hex("00001000 c100 09 02 beef"));
    QVERIFY(!VmeProgram::checkINTR(3, out));
}

void TestProgram::emptyProgramEncodesNothing()
{
    const VmeProgram program;
    QByteArray out("keep");
    QCOMPARE(program.setProgram(out), 0);
    QCOMPARE(out, QByteArray("keep"));
    QCOMPARE(program.imageOffset, -1);
    QVERIFY(program.vectorText.isEmpty());
    QVERIFY(program.data.isEmpty());
}

void TestProgram::parse_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("wanted");
    QTest::addColumn<int>("pos");
    QTest::addColumn<int>("parsed");
    QTest::addColumn<int>("left");
    QTest::addColumn<QList<int>>("ids");

    const QByteArray read1 = hex("00001000 0a00 11 04");
    const QByteArray write1 = hex("00002000 8400 22 04 01020304");
    const QByteArray read2 = hex("00003000 0000 33 01");

    QTest::newRow("all of three") << read1 + write1 + read2 << 3 << 0 << 3 << 0 << QList<int>{0x11, 0x22, 0x33};
    QTest::newRow("fewer wanted than held") << read1 + write1 + read2 << 2 << 0 << 2 << 0 << QList<int>{0x11, 0x22};
    QTest::newRow("count 2, one complete record") << read1 << 2 << 0 << 1 << 1 << QList<int>{0x11};
    QTest::newRow("from a position") << QByteArray("xyz") + write1 + read2 << 2 << 3 << 2 << 0
                                     << QList<int>{0x22, 0x33};
    QTest::newRow("header cut to 7 bytes") << read1 + read2.left(7) << 2 << 0 << 1 << 1 << QList<int>{0x11};
    QTest::newRow("empty array") << QByteArray() << 1 << 0 << 0 << 1 << QList<int>{};
    QTest::newRow("write data claims one byte more")
        << read1 + write1.left(write1.size() - 1) << 2 << 0 << 1 << 1 << QList<int>{0x11};
    QTest::newRow("write data claims more, later record not read")
        << hex("00002000 8000 44 ff 0102") + read2 << 2 << 0 << 0 << 2 << QList<int>{};
    QTest::newRow("write of exactly the rest") << write1 << 1 << 0 << 1 << 0 << QList<int>{0x22};
    QTest::newRow("read with length byte has no data") << hex("00000000 0000 55 ff") + read2 << 2 << 0 << 2 << 0
                                                       << QList<int>{0x55, 0x33};
    QTest::newRow("count 0") << read1 << 0 << 0 << 0 << 0 << QList<int>{};
    QTest::newRow("negative count") << read1 << -2 << 0 << 0 << -2 << QList<int>{};
    QTest::newRow("position at the end") << read1 << 1 << 8 << 0 << 1 << QList<int>{};
    QTest::newRow("position beyond the end") << read1 << 1 << 100 << 0 << 1 << QList<int>{};
    QTest::newRow("negative position") << read1 << 1 << -4 << 0 << 1 << QList<int>{};
}

void TestProgram::parse()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, wanted);
    QFETCH(int, pos);
    QFETCH(int, parsed);
    QFETCH(int, left);
    QFETCH(QList<int>, ids);

    FakeHost host;
    int count = wanted;
    VmeProgram program(bytes, count, pos, &host);
    QCOMPARE(program.instructions.size(), parsed);
    QCOMPARE(count, left);
    QCOMPARE(host.marked, ids);
    QList<int> programIds;
    for (const VmeInstruction *ins : program.instructions)
        programIds.append(ins->id);
    QCOMPARE(programIds, ids);
}

void TestProgram::parsedFields_data()
{
    QTest::addColumn<QByteArray>("record");
    QTest::addColumn<quint32>("address");
    QTest::addColumn<int>("dataMode");
    QTest::addColumn<int>("accessMode");
    QTest::addColumn<int>("length");
    QTest::addColumn<QByteArray>("data");

    QTest::newRow("D16 write of 6 bytes is 3 items")
        << hex("00200000 c540 01 06 aabbccddeeff") << quint32(0x200000) << 1 << 3 << 3 << hex("aabbccddeeff");
    QTest::newRow("D16 write of an odd byte count")
        << hex("00000002 8400 01 05 0102030405") << quint32(2) << 1 << 0 << 2 << hex("0102030405");
    QTest::newRow("D32 write of 7 bytes is 1 item")
        << hex("00000004 8800 01 07 01020304050607") << quint32(4) << 2 << 0 << 1 << hex("01020304050607");
    QTest::newRow("D32 read of 252 bytes") << hex("ffffff00 0a00 01 fc") << quint32(0xffffff00) << 2 << 0 << 63
                                            << QByteArray();
    QTest::newRow("unknown access code") << hex("00000000 0070 01 01") << quint32(0) << 0 << -1 << 1 << QByteArray();
    QTest::newRow("status and bit 12 ignored") << hex("00000000 1a05 01 04") << quint32(0) << 2 << 0 << 1
                                                << QByteArray();
    QTest::newRow("data mode 3 counts bytes") << hex("00000000 0c00 01 05") << quint32(0) << 3 << 0 << 5
                                               << QByteArray();
}

void TestProgram::parsedFields()
{
    QFETCH(QByteArray, record);
    QFETCH(quint32, address);
    QFETCH(int, dataMode);
    QFETCH(int, accessMode);
    QFETCH(int, length);
    QFETCH(QByteArray, data);

    int count = 1;
    VmeProgram program(record, count, 0, nullptr);
    QCOMPARE(count, 0);
    QCOMPARE(program.instructions.size(), 1);
    const VmeInstruction *ins = program.instructions.first();
    QCOMPARE(ins->address, address);
    QCOMPARE(ins->dataMode, dataMode);
    QCOMPARE(ins->accessMode, accessMode);
    QCOMPARE(ins->length, length);
    QCOMPARE(ins->data, data);
    QCOMPARE(program.number, 0);
    QVERIFY(program.data.isEmpty());
}

void TestProgram::parseWithoutHost()
{
    int count = 2;
    const VmeProgram program(hex("00000000 0000 01 01 00000001 0000 02 01"), count, 0, nullptr);
    QCOMPARE(count, 0);
    QCOMPARE(program.instructions.size(), 2);
}

void TestProgram::checkINTR_data()
{
    QTest::addColumn<uint>("level");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("intr");

    QTest::newRow("level 3") << 3u << hex("00000006 2830 00 04") << true;
    QTest::newRow("followed by more bytes") << 3u << hex("00000006 2830 00 04 ffff") << true;
    QTest::newRow("7 bytes") << 3u << hex("00000006 2830 00") << false;
    QTest::newRow("address of level 2") << 3u << hex("00000004 2830 00 04") << false;
    QTest::newRow("other mode") << 3u << hex("00000006 2a30 00 04") << false;
    QTest::newRow("nonzero ID") << 3u << hex("00000006 2830 01 04") << false;
    QTest::newRow("length byte 16") << 3u << hex("00000006 2830 00 10") << false;
    QTest::newRow("level 7") << 7u << hex("0000000e 2830 00 04") << true;
    QTest::newRow("empty") << 1u << QByteArray() << false;
}

void TestProgram::checkINTR()
{
    QFETCH(uint, level);
    QFETCH(QByteArray, bytes);
    QFETCH(bool, intr);
    QCOMPARE(VmeProgram::checkINTR(level, bytes), intr);
}

void TestProgram::defaultVectorProgram_data()
{
    QTest::addColumn<int>("addressMode");
    QTest::addColumn<int>("accessMode");
    QTest::addColumn<bool>("haveFreeId");
    QTest::addColumn<QByteArray>("record");
    QTest::addColumn<bool>("result");

    QTest::newRow("A32 Supervisor Data") << 2 << 3 << true << hex("00000000 0240 05 00") << true;
    QTest::newRow("A24 User Data") << 1 << 0 << true << hex("00000000 0100 05 00") << true;
    QTest::newRow("A16 Fixed Address and Supervisor Prog.") << 0 << 9 << true << hex("00000000 00d0 05 00")
                                                            << true;
    QTest::newRow("combos without a current item") << -1 << -1 << true << hex("00000000 0100 05 00") << true;
    QTest::newRow("indices past the lists") << 3 << 10 << true << hex("00000000 0100 05 00") << true;
    QTest::newRow("no free ID left") << 1 << 0 << false << hex("00000000 0100 05 00") << false;
}

void TestProgram::defaultVectorProgram()
{
    QFETCH(int, addressMode);
    QFETCH(int, accessMode);
    QFETCH(bool, haveFreeId);
    QFETCH(QByteArray, record);
    QFETCH(bool, result);

    FakeHost host;
    host.defaultAddressMode = addressMode;
    host.defaultAccessMode = accessMode;
    host.haveFreeId = haveFreeId;
    host.freeId = 5;
    QByteArray out("image");
    QCOMPARE(VmeProgram::setVectorBase(out, &host), result);
    QCOMPARE(out, QByteArray("image") + record);
    QCOMPARE(host.marked, QList<int>{5});

    int count = 1;
    VmeProgram parsed(out, count, 5, nullptr);
    QCOMPARE(parsed.instructions.size(), 1);
    const VmeInstruction *ins = parsed.instructions.first();
    QVERIFY(ins->read);
    QVERIFY(!ins->echo);
    QVERIFY(!ins->noEcho);
    QCOMPARE(ins->dataMode, 0);
    QCOMPARE(ins->length, 0);
}

void TestProgram::byteArrayHelpers()
{
    QByteArray out;
    VmeProgram::toByteArray(static_cast<unsigned short>(0xC540), out);
    VmeProgram::toByteArray(0x01020304u, out);
    QCOMPARE(out, hex("c540 01020304"));
    QCOMPARE(VmeProgram::fromByteArray16(out), quint16(0xC540));
    QCOMPARE(VmeProgram::fromByteArray(out.mid(2)), quint32(0x01020304));
    QCOMPARE(VmeProgram::fromByteArray(hex("fffffffe 99")), quint32(0xFFFFFFFE));
    QCOMPARE(VmeProgram::fromByteArray(hex("010203")), quint32(0));
    QCOMPARE(VmeProgram::fromByteArray16(hex("01")), quint16(0));
    QCOMPARE(VmeProgram::fromByteArray(QByteArray()), quint32(0));
}

void TestProgram::clearEmptiesAndAllowsReuse()
{
    VmeProgram program(4u);
    program.clear();
    QVERIFY(program.instructions.isEmpty());
    QByteArray out;
    QCOMPARE(program.setProgram(out), 0);
    QVERIFY(out.isEmpty());
    program.instructions.append(makeInstruction(8, 0, 0, 0, 0, 1, 1));
    QCOMPARE(program.setProgram(out), 1);
    QCOMPARE(out, hex("00000008 0000 01 01"));
}

QTEST_APPLESS_MAIN(TestProgram)
#include "tst_program.moc"
