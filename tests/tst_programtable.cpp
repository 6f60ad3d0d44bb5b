// The layout of the module's program memory, byte for byte, the order of the program table and
// the free-ID search.
#include "fakehost.h"
#include "programlayout.h"
#include "programtablefixture.h"

#include <QtTest>

namespace {

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
    void layout_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<int>("mask");
        QTest::addColumn<int>("idsTaken"); // IDs 0.. marked used beforehand
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QByteArray>("image");
        QTest::addColumn<QByteArray>("starts");
        QTest::addColumn<QByteArray>("vectorEntry"); // of every vector
        QTest::addColumn<QString>("added");

        const QByteArray intr = hex(Intr1To7);
        // The empty table's layout is the worked example of the program file tests.
        QTest::newRow("filler after an interrupt program")
            << "-1:0:5 -3:1" << 0x0a << 0 << int(ProgramLayout::Laid)
            << hex("00000000 0100 00 00 00000000 8100 01 05 aaaaaaaaaa 000000 00000000 0100 02 01"
                   "0000000428300004 0000000828300004 0000000a28300004 0000000c28300004 0000000e28300004")
            << hex("0001040305060708") << hex("000000ff") << "257 -2 -4 -5 -6 -7";
        // Every vector has a program of its own: the default vector program is laid, then cut back.
        QByteArray vectors;
        for (int v = 0; v < 256; ++v)
            vectors += char(v);
        QTest::newRow("default program cut back")
            << "1:1::" + QString::fromLatin1(vectors.toHex()) + " 257:1" << 0 << 0 << int(ProgramLayout::Laid)
            << hex("00000000 0100 01 01") + intr << hex("0001020304050607") << hex("00000000") << "-1 -2 -3 -4 -5 -6 -7";
        QByteArray full; // 248 polling reads, the default vector program, the INTR records: 2048 bytes
        for (int id = 1; id <= 248; ++id)
            full += hex("00000000 0100") + char(id) + '\x01';
        QTest::newRow("exactly 2048 bytes") << "0:248" << 1 << 0 << int(ProgramLayout::Laid)
                                            << full + hex("00000000 0100 00 00") + intr << hex("00f9fafbfcfdfeff")
                                            << hex("0007c0ff") << "257 -1 -2 -3 -4 -5 -6 -7";
        const auto refused = [](const char *name, const char *table, int mask, int ids, int outcome, const char *added) {
            QTest::newRow(name) << table << mask << ids << outcome << QByteArray() << QByteArray() << QByteArray()
                                << added;
        };
        refused("polling program over 2048 bytes", "0:257", 1, 0, ProgramLayout::Overflow, "");
        refused("INTR records would start at 2048", "0:255", 1, 0, ProgramLayout::Overflow, "257 -1 -2 -3 -4 -5 -6 -7");
        refused("polling checked, no polling program", "", 1, 0, ProgramLayout::PollingMissing, "");
        refused("no free ID for the default vector program", "", 0, 128, ProgramLayout::NoFreeId, "");
    }

    void layout()
    {
        QFETCH(QString, table);
        QFETCH(int, mask);
        QFETCH(int, idsTaken);
        QFETCH(int, outcome);
        QFETCH(QString, added);

        FakeHost host;
        for (int id = 0; id < idsTaken; ++id)
            host.book.setID(quint8(id), true);
        const QList<VmeProgram *> list = programs(table, host);
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
        QFETCH(QByteArray, vectorEntry);
        QCOMPARE(memory.image.toHex(), image.toHex());
        QCOMPARE(memory.startTable.toHex(), starts.toHex());
        QCOMPARE(memory.countTable.toHex(), (table.startsWith(QLatin1String("0:")) ? "f7" : "00") + QByteArray(14, '0'));
        QCOMPARE(memory.vectorTable.toHex(), vectorEntry.repeated(256).toHex());
        QCOMPARE(int(memory.events), 0xfe | (mask & 1));
        QCOMPARE(int(memory.pollLevel), table.startsWith(QLatin1Char('0')) ? 2 : 0);
    }

    void tableOrder()
    {
        // Equal numbers keep their order of arrival: the second 3 has two instructions.
        FakeHost host;
        const QList<VmeProgram *> list = programs(QStringLiteral("6:1 3:1 -3:1 -1:1 0:1 257:1 3:2 -7:1 1:1"), host);
        QCOMPARE(numbers(list), QStringLiteral("0 1 3 3 6 257 -1 -3 -7"));
        QCOMPARE(list.at(3)->instructions.size(), 2);
        qDeleteAll(list);
    }

    void freeIds()
    {
        // From 128 the search skips the interactive range, looks at 0..127 once, then gives up.
        FakeHost host;
        for (unsigned char id = 0; id < 127; ++id)
            QVERIFY(host.book.setID(id, true));
        unsigned char id = 0;
        QVERIFY(host.book.getFreeID(id) && id == 127 && !host.book.checkID(128));
        QVERIFY(host.book.setID(127, true) && !host.book.getFreeID(id));
        QVERIFY(host.book.setID(127, false) && !host.book.setID(127, false));
    }
};

QTEST_APPLESS_MAIN(TestProgramTable)
#include "tst_programtable.moc"
