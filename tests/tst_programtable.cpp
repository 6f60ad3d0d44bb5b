// The program table's ID and vector bookkeeping and the layout of the module's program memory,
// byte for byte.
#include "programbook.h"
#include "programhost.h"
#include "programlayout.h"
#include "vmeprogram.h"

#include <QtTest>

#include <memory>

namespace {

QByteArray hex(const char *text) { return QByteArray::fromHex(QByteArray(text)); }

// The window's side of the bookkeeping, with the General tab's start values.
class BookHost : public ProgramHost
{
public:
    unsigned char low = 128, high = 255;
    ProgramBook book{[this](unsigned char &l, unsigned char &h) { l = low, h = high; }};

    int addressMode() override { return 1; }
    int accessMode() override { return 0; }
    int dataMode() override { return 0; }
    int readWrite() override { return 0; }
    bool checkInteractiveID(unsigned char id, unsigned char *min, unsigned char *max) override
    {
        return book.checkInteractiveID(id, min, max);
    }
    bool checkID(unsigned char id) override { return book.checkID(id); }
    bool getFreeID(unsigned char &id) override { return book.getFreeID(id); }
    bool setID(unsigned char id, bool used) override { return book.setID(id, used); }
    bool checkVectorID(int) override { return false; }
    bool pollingPresent() override { return false; }
    void setPollingPresent(bool) override {}
};

// Programs from "number:reads[:writeBytes[:vectors]]" items: D8 reads of one byte, then one D8
// write of writeBytes bytes 0xAA; instruction IDs count up from 1 and are marked used.
QList<VmeProgram *> programs(const QString &text, ProgramBook &book)
{
    QList<VmeProgram *> list;
    quint8 id = 1;
    for (const QString &item : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QStringList f = item.split(QLatin1Char(':'));
        auto *p = new VmeProgram;
        p->number = f.at(0).toInt();
        p->level = p->number < 0 ? -p->number : 0;
        const int reads = f.value(1).toInt(), write = f.value(2).toInt();
        for (int i = 0; i < reads + (write > 0); ++i) {
            auto *ins = new VmeInstruction;
            ins->addressMode = 1;
            ins->read = i < reads;
            ins->length = ins->read ? 1 : write;
            ins->data = ins->read ? QByteArray() : QByteArray(write, char(0xAA));
            ins->id = id;
            book.setID(id++, true);
            p->instructions.append(ins);
        }
        p->data = QByteArray::fromHex(f.value(3).toLatin1());
        list.insert(ProgramBook::insertPosition(list, p), p);
    }
    return list;
}

QString numbers(const QList<VmeProgram *> &list)
{
    QStringList n;
    for (const VmeProgram *p : list)
        n << QString::number(p->number);
    return n.join(QLatin1Char(' '));
}

const char *const Intr1To7 = "00000002283000040000000428300004000000062830000400000008283000040000000a28300004"
                             "0000000c283000040000000e28300004";

} // namespace

class TestProgramTable : public QObject
{
    Q_OBJECT
private slots:
    void layout_data();
    void layout();
    void tableOrder();
    void freeIdSearch();
    void deletionReleasesUnsharedIds();
};

void TestProgramTable::layout_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<int>("mask");
    QTest::addColumn<int>("idsTaken"); // IDs 0.. marked used beforehand
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QByteArray>("image");
    QTest::addColumn<QByteArray>("starts");
    QTest::addColumn<QByteArray>("counts");
    QTest::addColumn<QByteArray>("vectors"); // vectors with an entry of their own
    QTest::addColumn<QByteArray>("ownEntry");
    QTest::addColumn<QByteArray>("otherEntry");
    QTest::addColumn<QString>("added");

    const QByteArray zeros = hex("0000000000000000");
    QTest::newRow("empty table") << "" << 0 << 0 << int(ProgramLayout::Laid)
                                 << hex("00000000 0100 00 00") + hex(Intr1To7) << hex("0001020304050607") << zeros
                                 << QByteArray() << QByteArray() << hex("000000ff") << "257 -1 -2 -3 -4 -5 -6 -7";
    QTest::newRow("vectors 1 and 3 at 16")
        << "0:2 2:2::0103" << 1 << 0 << int(ProgramLayout::Laid)
        << hex("00000000 0100 01 01 00000000 0100 02 01 00000000 0100 03 01 00000000 0100 04 01"
               "00000000 0100 00 00") + hex(Intr1To7)
        << hex("0005060708090a0b") << hex("0100000000000000") << hex("0103") << hex("01001000") << hex("000020ff")
        << "257 -1 -2 -3 -4 -5 -6 -7";
    QTest::newRow("filler after an interrupt program")
        << "-1:0:5 -3:1" << 0x0a << 0 << int(ProgramLayout::Laid)
        << hex("00000000 0100 00 00 00000000 8100 01 05 aaaaaaaaaa 000000 00000000 0100 02 01"
               "0000000428300004 0000000828300004 0000000a28300004 0000000c28300004 0000000e28300004")
        << hex("0001040305060708") << zeros << QByteArray() << QByteArray() << hex("000000ff") << "257 -2 -4 -5 -6 -7";
    QTest::newRow("polling program over 2048 bytes")
        << "0:257" << 1 << 0 << int(ProgramLayout::Overflow) << QByteArray() << QByteArray() << QByteArray()
        << QByteArray() << QByteArray() << QByteArray() << "";
    QTest::newRow("INTR records would start at 2048")
        << "0:255" << 1 << 0 << int(ProgramLayout::Overflow) << QByteArray() << QByteArray() << QByteArray()
        << QByteArray() << QByteArray() << QByteArray() << "257 -1 -2 -3 -4 -5 -6 -7";
    QTest::newRow("polling checked, no polling program")
        << "" << 1 << 0 << int(ProgramLayout::PollingMissing) << QByteArray() << QByteArray() << QByteArray()
        << QByteArray() << QByteArray() << QByteArray() << "";
    QTest::newRow("no free ID for the default vector program")
        << "" << 0 << 128 << int(ProgramLayout::NoFreeId) << QByteArray() << QByteArray() << QByteArray()
        << QByteArray() << QByteArray() << QByteArray() << "";
}

void TestProgramTable::layout()
{
    QFETCH(QString, table);
    QFETCH(int, mask);
    QFETCH(int, idsTaken);
    QFETCH(int, outcome);
    QFETCH(QString, added);

    BookHost host;
    for (int id = 0; id < idsTaken; ++id)
        host.book.setID(quint8(id), true);
    const QList<VmeProgram *> list = programs(table, host.book);
    const QSet<quint8> idsBefore = host.book.usedIDs();
    ModuleMemory memory;
    ProgramLayout::Result result = ProgramLayout(&host).lay(list, quint8(mask), memory);
    const QString addedNumbers = numbers(result.added);
    qDeleteAll(list);
    qDeleteAll(result.added);

    QCOMPARE(int(result.outcome), outcome);
    QCOMPARE(addedNumbers, added);
    const QHash<int, QString> texts{
        {ProgramLayout::Laid, QString()},
        {ProgramLayout::PollingMissing, QStringLiteral("Please set a program for Polling.")},
        {ProgramLayout::Overflow, QStringLiteral("Memory Overflow: Please reduce a program to become 2048 bytes or less.")},
        {ProgramLayout::NoFreeId,
         QStringLiteral("No free ID is left outside the interactive range for the default vector program.")}};
    QCOMPARE(result.message, texts.value(outcome));
    if (outcome == ProgramLayout::NoFreeId)
        QCOMPARE(host.book.usedIDs(), idsBefore); // nothing marked, not even an interactive ID
    if (outcome != ProgramLayout::Laid)
        return;

    QFETCH(QByteArray, image);
    QFETCH(QByteArray, starts);
    QFETCH(QByteArray, counts);
    QFETCH(QByteArray, vectors);
    QFETCH(QByteArray, ownEntry);
    QFETCH(QByteArray, otherEntry);
    QCOMPARE(memory.image.toHex(), image.toHex());
    QCOMPARE(memory.startTable.toHex(), starts.toHex());
    QCOMPARE(memory.countTable.toHex(), counts.toHex());
    QByteArray table256 = otherEntry.repeated(256);
    for (const char v : vectors)
        table256.replace(4 * quint8(v), 4, ownEntry);
    QCOMPARE(memory.vectorTable.toHex(), table256.toHex());
    QCOMPARE(int(memory.events), 0xfe | (mask & 1));
}

void TestProgramTable::tableOrder()
{
    // Each number goes in; the row it lands on, counted in the list as it then is.
    BookHost host;
    QList<VmeProgram *> list;
    QList<int> rows;
    for (const int number : {6, 3, -3, -1, 0, 257, 3, -7, 1}) {
        auto *p = new VmeProgram;
        p->number = number;
        p->level = number < 0 ? -number : 0;
        rows << int(ProgramBook::insertPosition(list, p));
        list.insert(rows.last(), p);
    }
    QCOMPARE(rows, (QList<int>{0, 0, 2, 2, 0, 3, 2, 7, 1}));
    QCOMPARE(numbers(list), QStringLiteral("0 1 3 3 6 257 -1 -3 -7"));
    qDeleteAll(list);
}

void TestProgramTable::freeIdSearch()
{
    BookHost host;
    QVERIFY(host.checkInteractiveID(127, nullptr, nullptr));
    QVERIFY(!host.checkInteractiveID(128, nullptr, nullptr));
    for (int id = 0; id < 127; ++id)
        host.book.setID(quint8(id), true);
    unsigned char id = 0;
    QVERIFY(host.book.getFreeID(id));
    QCOMPARE(int(id), 127);
    QCOMPARE(int(host.book.nextFreeID()), 128);
    host.book.setID(127, true);
    QVERIFY(!host.book.getFreeID(id));
    QCOMPARE(int(host.book.nextFreeID()), 128);

    // A range in the middle: the search starts inside it, jumps past its end and wraps.
    host.book.reset();
    host.low = 10;
    host.high = 250;
    for (const int used : {251, 252, 253, 254, 255, 0, 1})
        host.book.setID(quint8(used), true);
    for (int i = 0; i < 8; ++i)
        QVERIFY(host.book.getFreeID(id));
    QCOMPARE(int(id), 9); // 2..9; from 10 the range is skipped to 251..1, all taken, then 2
    QVERIFY(host.book.getFreeID(id));
    QCOMPARE(int(id), 2);
}

void TestProgramTable::deletionReleasesUnsharedIds()
{
    BookHost host;
    QList<VmeProgram *> list = programs(QStringLiteral("0:2 5:1::04 -2:1"), host.book);
    list.at(2)->instructions.first()->id = 1; // (4 stays marked) shares the polling program's first ID
    list.append(new VmeProgram(3u));           // INTR-only: its ID 0 was never taken
    host.book.setID(0, true);
    for (VmeProgram *p : list)
        host.book.addVector(p);
    QVERIFY(host.book.checkVectorID(5, list));
    QVERIFY(!host.book.checkVectorID(4, list));
    QVERIFY(host.book.checkVectorID(-2, list) && !host.book.checkVectorID(257, list));

    host.book.releaseIDs(list.at(0), list);
    host.book.removeVector(list.at(1));
    QCOMPARE(host.book.usedIDs(), (QSet<quint8>{0, 1, 3, 4})); // 1 stays: the interrupt program uses it
    QVERIFY(!host.book.checkVectorID(5, list));
    host.book.releaseIDs(list.at(3), list);
    QVERIFY(host.book.usedIDs().contains(0));
    qDeleteAll(list);
}

QTEST_APPLESS_MAIN(TestProgramTable)
#include "tst_programtable.moc"
