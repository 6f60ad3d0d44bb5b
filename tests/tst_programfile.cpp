#include "fakehost.h"
#include "programfile.h"
#include "vmeprogram.h"

#include <QBuffer>
#include <QDataStream>
#include <QtTest>

Q_DECLARE_METATYPE(ModuleMemory)

namespace {

using Table = ProgramFile::Table;

QByteArray record(quint16 code, quint32 address, const QByteArray &data)
{
    QByteArray out;
    QDataStream(&out, QIODevice::WriteOnly) << code << address << quint8(data.size());
    return out + data;
}

const QByteArray end = QByteArray::fromHex("333B");

// One instruction record; a read gives its length byte, a write its data.
QByteArray ins(quint32 address, quint16 mode, quint8 id, const QByteArray &data = {}, int readLength = 0)
{
    QByteArray out;
    QDataStream(&out, QIODevice::WriteOnly)
        << address << mode << id << quint8((mode & 0x8000) ? data.size() : readLength);
    return out + data;
}

QByteArray intr(int level)
{
    return ins(quint32(2 * level), 0x2830, 0, {}, 4);
}

void put(QByteArray &bytes, int offset, const QByteArray &what)
{
    bytes.append(qMax(0, offset + int(what.size()) - int(bytes.size())), '\0');
    bytes.replace(offset, what.size(), what);
}

void entry(ModuleMemory &m, int vector, int count, int offset, bool toDefault)
{
    put(m.vectorTable, 4 * vector, QByteArray(1, char(count - 1)) + char(offset >> 8) + char(offset) +
                                       char(toDefault ? 0xFF : 0));
}

// What an empty table lays: the default vector program at 0, INTR records at 8 to 56.
ModuleMemory emptyTable()
{
    ModuleMemory m;
    m.events = 0xFE;
    m.image = ins(0, 0x0100, 20);
    for (int level = 1; level <= 7; ++level) {
        m.startTable[level] = char(level);
        m.image += intr(level);
    }
    for (int v = 0; v < 256; ++v)
        entry(m, v, 1, 0, true);
    return m;
}

// Every kind of program: polling at 0 (200 bytes); vectors 1 and 3 share one program at 200;
// vector 7 at 224; the default vector program at 232; levels 1, 3 and 4 (at 1040) have
// programs of their own, levels 2, 5, 6 and 7 INTR records at the end.
ModuleMemory everyKind()
{
    ModuleMemory m;
    m.events = 0xFF;
    m.pollLevel = 3;
    m.interval = QByteArray::fromHex("000003E8");
    put(m.image, 0, ins(0x100, 0x8100, 1, QByteArray(192, 'p')));
    put(m.image, 200, ins(0x2000, 0x8900, 3, QByteArray(8, 'v')) + ins(0x2100, 0x0410, 4, {}, 2));
    put(m.image, 224, ins(0x30, 0x02C0, 5));
    put(m.image, 232, ins(0, 0x0100, 6));
    for (int v = 0; v < 256; ++v)
        entry(m, v, 1, 232, true);
    entry(m, 1, 2, 200, false);
    entry(m, 3, 2, 200, false);
    entry(m, 7, 1, 224, false);
    const QByteArray block(255, 'i');
    put(m.image, 240, ins(0x10, 0x8000, 7, block) + ins(0x11, 0x8000, 8, block) + ins(0x12, 0x8000, 9, block));
    put(m.image, 1032, ins(0x40, 0x0930, 10, {}, 4));
    put(m.image, 1040, ins(0x8, 0x2830, 11, {}, 4) + ins(0x50, 0xC450, 12, "\x01\x02\x03\x04"));
    const char starts[] = {0, 30, char(133), char(129), char(130), char(134), char(135), char(136)};
    const char counts[] = {0, 2, 0, 0, 1, 0, 0, 0};
    m.startTable = QByteArray(starts, 8);
    m.countTable = QByteArray(counts, 8);
    for (int level : {2, 5, 6, 7})
        put(m.image, 1064 + 8 * (level == 2 ? 0 : level - 4), intr(level));
    return m;
}

QString readFile(QByteArray bytes, ModuleMemory &m, QList<QByteArray> *defaults = nullptr)
{
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QList<QByteArray> handed;
    try {
        ProgramFile::readRecords(buffer, m, handed, [&](QByteArray &out, int n) {
            ProgramFile::dataRead(buffer, out, n, QStringLiteral("x.prg"));
        });
    } catch (const QString &text) {
        return text;
    }
    if (defaults)
        *defaults = handed;
    return {};
}

// Marks the IDs it is given.
class MarkingHost : public FakeHost
{
public:
    QList<int> marked;
    bool setID(unsigned char id, bool used) override
    {
        marked.append(used ? id : -1);
        return used;
    }
};

QStringList names(const Table &table)
{
    QStringList out;
    for (const auto &program : table.programs)
        out << ProgramFile::programName(*program) + (program->isIntrOnly() ? QStringLiteral("*") : QString());
    return out;
}

} // namespace

class TestProgramFile : public QObject
{
    Q_OBJECT
private slots:
    void emptyTableFile();
    void imagePieces_data();
    void imagePieces();
    void rebuildEveryKind();
    void savedFileReadsBack();
    void recordOrder();
    void endsInsideRecord_data();
    void endsInsideRecord();
    void refused_data();
    void refused();
    void defaultsOutsideList_data();
    void defaultsOutsideList();
};

void TestProgramFile::emptyTableFile()
{
    const QByteArray file = ProgramFile::encode(emptyTable(), {1, 0, 2, 3}, 0x03, 128, 255);
    QByteArray vectorPieces;
    for (int k = 0; k < 1024; k += 128)
        vectorPieces += record(0x333F, quint32(1024 + k), QByteArray::fromHex("000000FF").repeated(32));
    const QByteArray expected =
        record(0x3330, 0xFFFFFFFF, QByteArray::fromHex("01000203")) +
        record(0x3338, 0xFFFFFFFF, QByteArray::fromHex("FE0280FF")) + record(0x333F, 4, QByteArray(1, 0)) +
        record(0x333F, 6, QByteArray(1, 0)) + record(0x333F, 12, QByteArray(4, 0)) +
        record(0x333F, 16, QByteArray::fromHex("0001020304050607")) + record(0x333F, 24, QByteArray(8, 0)) +
        vectorPieces +
        record(0x333F, 2048, QByteArray::fromHex("00000000010014000000000228300004000000042830000400000006283000040000000828300004"
                                                 "0000000A283000040000000C283000040000000E28300004")) +
        record(0x333E, 4, QByteArray::fromHex("02")) + end;
    QCOMPARE(file.toHex(), expected.toHex());

    ModuleMemory m;
    QCOMPARE(readFile(file, m), QString());
    QCOMPARE(m.savedEnable, quint8(0x02));
    MarkingHost host;
    const Table table = ProgramFile::rebuild(m, &host);
    QCOMPARE(names(table), QStringList({"Vector(default)", "Interrupt1*", "Interrupt2*", "Interrupt3*",
                                        "Interrupt4*", "Interrupt5*", "Interrupt6*", "Interrupt7*"}));
    QCOMPARE(host.marked, QList<int>{20});
    QVERIFY(table.usedVectors.isEmpty());
}

void TestProgramFile::imagePieces_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<QList<int>>("pieces");  // address, length, ...
    QTest::newRow("300") << 300 << QList<int>{2048, 128, 2176, 128, 2304, 44};
    QTest::newRow("128") << 128 << QList<int>{2048, 128};
    QTest::newRow("129") << 129 << QList<int>{2048, 128, 2176, 1};
    QTest::newRow("empty") << 0 << QList<int>{};
}

void TestProgramFile::imagePieces()
{
    QFETCH(int, size);
    QFETCH(QList<int>, pieces);
    ModuleMemory m;
    for (int i = 0; i < size; ++i)
        m.image.append(char(i * 7));
    QByteArray expected;
    for (int i = 0; i < pieces.size(); i += 2)
        expected += record(0x333F, quint32(pieces[i]), m.image.mid(pieces[i] - 2048, pieces[i + 1]));
    const QByteArray file = ProgramFile::encode(m, {0, 0, 0, 0}, 0, 0, 0);
    m.image.clear();
    const QByteArray noImage = ProgramFile::encode(m, {0, 0, 0, 0}, 0, 0, 0);
    QCOMPARE(file.toHex(), QByteArray(noImage.left(noImage.size() - 10) + expected + noImage.right(10)).toHex());
}

void TestProgramFile::rebuildEveryKind()
{
    MarkingHost host;
    const Table table = ProgramFile::rebuild(everyKind(), &host);
    QVERIFY(table.ok());
    QCOMPARE(names(table), QStringList({"Polling", "Vector1", "Vector7", "Vector(default)", "Interrupt1",
                                        "Interrupt2*", "Interrupt3", "Interrupt4", "Interrupt5*", "Interrupt6*",
                                        "Interrupt7*"}));
    const VmeProgram &polling = *table.programs[0];
    QCOMPARE(polling.level, 3);
    QCOMPARE(polling.data, QByteArray::fromHex("000003E8"));
    const VmeProgram &shared = *table.programs[1];
    QCOMPARE(shared.imageOffset, 200);
    QCOMPARE(shared.data, QByteArray::fromHex("0103"));
    QCOMPARE(shared.instructions.size(), qsizetype(2));
    QCOMPARE(shared.instructions[1]->address, 0x2100u);
    QCOMPARE(table.usedVectors, (QSet<quint8>{1, 3, 7}));
    QCOMPARE(table.programs[7]->instructions[1]->address, 0x50u);  // level 4, from 1040
    QCOMPARE(table.programs[7]->instructions[0]->accessMode, 10);
    QCOMPARE(host.marked, QList<int>({1, 7, 8, 9, 10, 11, 12, 6, 3, 4, 5}));
    // Each program encodes back into the bytes it was read from.
    const int offsets[] = {0, 200, 224, 232, 240, 1064, 1032, 1040, 1072, 1080, 1088};
    for (size_t i = 0; i < table.programs.size(); ++i) {
        QByteArray encoded;
        table.programs[i]->setProgram(encoded);
        QCOMPARE(encoded.toHex(), everyKind().image.mid(offsets[i], encoded.size()).toHex());
    }
}

void TestProgramFile::savedFileReadsBack()
{
    for (const ModuleMemory &saved : {emptyTable(), everyKind()}) {
        const QByteArray file = ProgramFile::encode(saved, {2, 9, 1, 4}, 0x0F, 16, 200);
        ModuleMemory m;
        QList<QByteArray> defaults;
        QCOMPARE(readFile(file, m, &defaults), QString());
        QCOMPARE(defaults, QList<QByteArray>{QByteArray::fromHex("0209010410C8")});
        QCOMPARE(m.image.toHex(), saved.image.toHex());
        QCOMPARE(m.vectorTable.toHex(), saved.vectorTable.toHex());
        QCOMPARE(ProgramFile::encode(m, {2, 9, 1, 4}, m.savedEnable, 16, 200).toHex(), file.toHex());
    }
}

void TestProgramFile::recordOrder()
{
    // The stop write lands on the vector table before its first piece replaces it; further
    // pieces append; the enable mask comes from the settings record, not the last record.
    ModuleMemory m;
    const QByteArray file = record(0x333F, 4, QByteArray(1, 0)) + record(0x333F, 2048, "ab") +
                            record(0x333F, 1024, QByteArray::fromHex("00001000")) + record(0x333F, 1700, "\x01") +
                            record(0x333F, 9000, "c") + record(0x3338, 0xFFFFFFFF, "\x81\x06\x05\x07") +
                            record(0x1234, 0, "zz") + record(0x333E, 4, "\xFF") + end + record(0x333F, 6, "\x05");
    QCOMPARE(readFile(file, m), QString());
    QCOMPARE(m.vectorTable.left(6), QByteArray::fromHex("000010000100"));
    QCOMPARE(m.image, QByteArray("abc"));
    QCOMPARE(m.events, quint8(0x81));
    QCOMPARE(m.savedEnable, quint8(0x06));
    QCOMPARE(m.pollLevel, quint8(0));
}

void TestProgramFile::endsInsideRecord_data()
{
    QTest::addColumn<int>("cut");
    QTest::addColumn<bool>("fails");
    QTest::newRow("between records") << 8 << false;
    QTest::newRow("inside code") << 9 << false;
    QTest::newRow("inside address") << 12 << true;
    QTest::newRow("before length") << 14 << true;
    QTest::newRow("inside data") << 17 << true;
}

void TestProgramFile::endsInsideRecord()
{
    QFETCH(int, cut);
    QFETCH(bool, fails);
    ModuleMemory m;
    const QByteArray file = record(0x333F, 6, "\x04") + record(0x333F, 12, "\x01\x02\x03\x04");
    QCOMPARE(readFile(file.left(cut), m), fails ? QStringLiteral("\"x.prg\": Can't read\nUnknown error.") : QString());
    QCOMPARE(m.pollLevel, quint8(4));
    QCOMPARE(m.interval, QByteArray(4, 0));
}

void TestProgramFile::refused_data()
{
    QTest::addColumn<ModuleMemory>("memory");
    QTest::addColumn<QString>("program");
    ModuleMemory m = everyKind();
    m.image[200 + 5] = 0x70;  // access code 7
    QTest::newRow("undefined code, shared vector program") << m << "Vector1";
    m = everyKind();
    m.image[1040 + 8 + 5] = char(0xF0);
    QTest::newRow("undefined code, second instruction") << m << "Interrupt4";
    m = everyKind();
    m.countTable[4] = char(200);
    QTest::newRow("count past the image") << m << "Interrupt4";
    m = everyKind();
    m.startTable[0] = char(250);
    QTest::newRow("start past the image") << m << "Polling";
    m = everyKind();
    entry(m, 200, 1, 1096, false);
    QTest::newRow("offset at the image end") << m << "Vector200";
    m = everyKind();
    m.image[1048 + 7] = char(255);
    QTest::newRow("write data past the image") << m << "Interrupt4";
}

void TestProgramFile::refused()
{
    QFETCH(ModuleMemory, memory);
    QFETCH(QString, program);
    MarkingHost host;
    const Table table = ProgramFile::rebuild(memory, &host);
    QCOMPARE(table.refused, program);
    QVERIFY(table.programs.empty());
    QVERIFY(host.marked.isEmpty());
    QCOMPARE(ProgramFile::unreadableText(QStringLiteral("x.prg"), table.refused),
             "\"x.prg\": Can't read an instruction of " + program + ".");
}

void TestProgramFile::defaultsOutsideList_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("handed");
    QTest::newRow("all valid") << QByteArray::fromHex("02090204") << QByteArray::fromHex("020902041020");
    QTest::newRow("past each list") << QByteArray::fromHex("030A0305") << QByteArray::fromHex("010500021020");
    QTest::newRow("negative") << QByteArray::fromHex("FF80FFFF") << QByteArray::fromHex("010500021020");
}

void TestProgramFile::defaultsOutsideList()
{
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, handed);
    ModuleMemory m;
    QList<QByteArray> defaults;
    QCOMPARE(readFile(record(0x3330, 0xFFFFFFFF, file) + record(0x3338, 0xFFFFFFFF, "\x01\x01\x10\x20"), m,
                      &defaults),
             QString());
    QCOMPARE(defaults.size(), 1);
    QCOMPARE(ProgramFile::keepValidDefaults(defaults[0], {1, 5, 0, 2}).toHex(), handed.toHex());
}

QTEST_APPLESS_MAIN(TestProgramFile)
#include "tst_programfile.moc"
