#include "fakehost.h"
#include "programcheck.h"
#include "vmeprogram.h"

#include <QMap>
#include <QRandomGenerator>
#include <QtTest>

#include <algorithm>

using namespace ProgramCheck;

namespace {

// Rows as "id|address|read/write|width|length|data|access|address mode", rows separated
// by ";" and "~" for a cell without an item.
QList<Row> rowsOf(const QString &spec)
{
    QList<Row> rows;
    for (const QString &line : spec.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        Row row;
        const QStringList cells = line.split(QLatin1Char('|'));
        for (int c = 0; c < ColumnCount; ++c) {
            if (cells.value(c) != QLatin1String("~"))
                row[c] = cells.value(c);
        }
        rows.append(row);
    }
    return rows;
}

// "poll <interval> <usec per unit> <priority>", "irq <level>", "intr <level>", "vec <list>", "def".
Kind kindOf(const QString &spec)
{
    const QStringList w = spec.split(QLatin1Char(' '));
    Kind k;
    k.type = w[0] == QLatin1String("poll") ? Kind::Polling
             : w[0] == QLatin1String("vec") || w[0] == QLatin1String("def") ? Kind::Vector
                                                                              : Kind::Interrupt;
    k.intr = w[0] == QLatin1String("intr");
    k.vectorIDs = w[0] != QLatin1String("def");
    if (k.type == Kind::Polling) {
        k.interval = w[1];
        k.usecPerUnit = w[2].toDouble();
        k.priority = w.value(3).toInt();
    } else if (k.type == Kind::Interrupt) {
        k.level = w[1].toInt();
    } else {
        k.vectorText = w.value(1);
    }
    return k;
}

// Another polling program, an interrupt program of level 3, the default vector program,
// vector 4 and ID 5 exist.
void setUpHost(FakeHost &host)
{
    host.numbers = {0, -3, VmeProgram::DefaultVectorNumber};
    host.vectors = {4};
    host.used = {5};
}

const char *Read = "1|0x1000|Read|D32|1||User Data|A32";

} // namespace

class TestEditorCheck : public QObject
{
    Q_OBJECT
private slots:
    void refusals_data();
    void refusals();
    void commit_data();
    void commit();
    void committedRowsEncodeAsTheySay();
};

void TestEditorCheck::refusals_data()
{
    QTest::addColumn<QString>("rows");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");

    const QString v = QStringLiteral("vec 7");
    const QString read = QString::fromLatin1(Read);
    const auto add = [&](const char *name, const QString &rows, const QString &kind, int number, const char *msg,
                         int row = -1, int column = -1) {
        QTest::newRow(name) << rows << kind << number << QString::fromUtf8(msg) << row << column;
    };
    add("no rows", QString(), v, 1, "Please set at least one instruction.");
    add("every cell missing: width first", QStringLiteral("~|~|~|~|~|~|~|~"), v, 1, "Please set Data Mode.", 0, 3);
    add("width not in the list", QStringLiteral("1|0x1000|Read|D64|1||User Data|A32"), v, 1, "Please set Data Mode.", 0, 3);
    add("access empty", QStringLiteral("1|zz|Read|D32|1|||A32"), v, 1, "Please set Access Mode.", 0, 6);
    add("address not hex", QStringLiteral("1|zz|Read|D32|1||User Data|A32"), v, 1, "Please set address correctly.", 0, 1);
    add("address over 32 bits", QStringLiteral("1|100000000|Read|D8|1||User Data|A32"), v, 1,
        "Please set address correctly.", 0, 1);
    add("D32 misaligned", QStringLiteral("1|0x1002|Read|D32|1||User Data|A32"), v, 1,
        "The address must be 4byte aligned.", 0, 1);
    add("D32 INTR at any address", QStringLiteral("1|0x1002|Read|D32|1||INTR|A32"), v, 1, "");
    add("D16 misaligned", QStringLiteral("1|1001|Read|D16|1||User Data|A32"), v, 1, "The address must be 2byte aligned.",
        0, 1);
    add("D16 length 128", QStringLiteral("1|0x1000|Read|D16|128||User Data|A32"), v, 1,
        "Please set Length(0-127) correctly.", 0, 4);
    add("D16 length 0x7F", QStringLiteral("1|0x1000|Write(Echo)|D16|0x7F|%1|User Data|A32")
                               .arg(QStringLiteral("1 ").repeated(127)), v, 1, "");
    add("D16 length 0200 is octal 128", QStringLiteral("1|0x1000|Read|D16|0200||User Data|A32"), v, 1,
        "Please set Length(0-127) correctly.", 0, 4);
    add("D8 length 256", QStringLiteral("1|0x1000|Read|D8|256||User Data|A32"), v, 1,
        "Please set Length(0-255) correctly.", 0, 4);
    add("D32 length 64", QStringLiteral("1|0x1000|Read|D32|64||User Data|A32"), v, 1,
        "Please set Length(0-63) correctly.", 0, 4);
    add("read/write missing", QStringLiteral("1|0x1000|~|D32|1||User Data|A32"), v, 1, "Please set Read or Write.", 0, 2);
    add("write without data", QStringLiteral("1|0x1000|Write(No Echo)|D8|1|~|User Data|A32"), v, 1,
        "Please set Data for write correctly.", 0, 5);
    add("write with a bad item", QStringLiteral("1|0x1000|Write(No Echo)|D8|2|1 1FF|User Data|A32"), v, 1,
        "Please set Data for write correctly.", 0, 5);
    add("write of length 0", QStringLiteral("1|0x1000|Write(No Echo)|D8|0||User Data|A32"), v, 1,
        "Please set Data for write correctly.", 0, 5);
    add("two-line mismatch", QStringLiteral("1|0x1000|Write(Echo)|D8|3|1 2|User Data|A32"), v, 1,
        "Please set Data for write correctly.\nMismatch between 3(Length) and 2(a number of Data)", 0, 5);
    add("read with data text", QStringLiteral("1|0x1000|Read(No Echo)|D8|3|x y|User Data|A24"), v, 1, "");
    add("address mode empty", QStringLiteral("1|0x1000|Read|D32|1||User Data|"), v, 1, "Please set Address Mode.", 0, 7);
    add("ID 256", QStringLiteral("256|0x1000|Read|D32|1||User Data|A32"), v, 1, "Please set ID(0-255) correctly.", 0, 0);
    add("ID missing", QStringLiteral("~|0x1000|Read|D32|1||User Data|A32"), v, 1, "Please set ID(0-255) correctly.", 0, 0);
    add("ID interactive", QStringLiteral("200|0x1000|Read|D32|1||User Data|A32"), v, 1,
        "\"128-255\" are ID for Interactive Mode", 0, 0);
    add("ID used by another program", QStringLiteral("5|0x1000|Read|D32|1||User Data|A32"), v, 1, "");
    add("fault on the second row", read + QStringLiteral(";1|0x1000|Read|D32|1||User Data|A64"), v, 1,
        "Please set Address Mode.", 1, 7);
    add("second polling program", read, QStringLiteral("poll 5 1"), 1, "\"Polling\" is set already.");
    add("the polling program again", read, QStringLiteral("poll 5 1"), 0, "");
    const char *interval = "Please set a interval time between 1usec and 4294.96sec (step: 1usec)";
    add("0.4 usec", read, QStringLiteral("poll 0.4 1"), 0, interval);
    add("0.5 usec", read, QStringLiteral("poll 0.5 1"), 0, "");
    add("4294.967295 sec", read, QStringLiteral("poll 4294.967295 1e6"), 0, "");
    add("4294.9673 sec", read, QStringLiteral("poll 4294.9673 1e6"), 0, interval);
    add("4294967295.5 usec", read, QStringLiteral("poll 4294967295.5 1"), 0, interval);
    add("interval not a number", read, QStringLiteral("poll inf 1"), 0, interval);
    add("level 3 taken", read, QStringLiteral("irq 3"), 1, "\"Interrupt Level3\" is set already.");
    add("level 3 again", read, QStringLiteral("irq 3"), -3, "");
    add("INTR without rows", QString(), QStringLiteral("intr 3"), -3, "");
    add("vector in use", read, QStringLiteral("vec 3-5"), 1, "\"Vector4\" is set already.");
    add("vector list bad", read, QStringLiteral("vec 300"), 1, "Please set Vector ID(0-255).");
    add("vector list empty", read, QStringLiteral("vec"), 1, "Please set Vector ID(0-255).");
    add("second default", read, QStringLiteral("def"), 1, "\"Vector(default)\" is set already.");
    add("the default again", read, QStringLiteral("def"), VmeProgram::DefaultVectorNumber, "");
}

void TestEditorCheck::refusals()
{
    QFETCH(QString, rows);
    QFETCH(QString, kind);
    QFETCH(int, number);
    QFETCH(QString, message);
    FakeHost host;
    setUpHost(host);
    const FakeHost before = host;
    Fields fields;
    const auto fault = validate(rowsOf(rows), kindOf(kind), number, host, fields);
    QCOMPARE(fault ? fault->message : QString(), message);
    if (fault) {
        QTEST(fault->row, "row");
        QTEST(fault->column, "column");
    }
    QCOMPARE(host.used, before.used);
    QCOMPARE(host.polling, before.polling);
}

void TestEditorCheck::commit_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("oldNumber");
    QTest::addColumn<QString>("rows");
    QTest::addColumn<int>("number");
    QTest::addColumn<int>("level");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("encoded");
    QTest::addColumn<QString>("usedIDs");

    const QString rows = QStringLiteral("9|0x1000|Write(Echo)|D16|2|12 0x3456|Supervisor BLT|A24;"
                                        "017|ff0|Read(No Echo)|D8|0x10|77|INTR|A16");
    const QByteArray encoded = QByteArray::fromHex("00001000c5600904" "00123456" "00000ff020300f10");
    QTest::newRow("polling") << "poll 2.5 1e6 7" << 1 << rows << 0 << 7 << QByteArray::fromHex("002625a0") << encoded
                             << "5 9 15";
    QTest::newRow("vectors ascending") << "vec 9,3-4" << 0 << rows << 4 << -1 << QByteArray::fromHex("030409")
                                       << encoded << "5 9 15";
    QTest::newRow("default vector") << "def" << 8 << rows << 257 << -1 << QByteArray() << encoded << "5 9 15";
    QTest::newRow("interrupt rows") << "irq 2" << 0 << QStringLiteral("0|0x04|Write(No Data Echo)|D32|1|1|INTR|A32") << -2
                                    << 2 << QByteArray() << QByteArray::fromHex("000000048a300004" "00000001")
                                    << "0 5";
    QTest::newRow("INTR, ID not marked") << "intr 7" << 1 << rows << -7 << 7 << QByteArray()
                                         << QByteArray::fromHex("0000000e28300004") << "5";
}

void TestEditorCheck::commit()
{
    QFETCH(QString, kind);
    QFETCH(int, oldNumber);
    QFETCH(QString, rows);
    FakeHost host;
    host.used = {5};
    host.polling = oldNumber == 0;
    VmeProgram program(3u); // whatever it held is replaced
    program.number = oldNumber;
    program.vectorText = QStringLiteral("old");
    Fields fields;
    const Kind k = kindOf(kind);
    QVERIFY(!validate(rowsOf(rows), k, oldNumber, host, fields));
    ProgramCheck::commit(fields, program, host);

    QTEST(program.number, "number");
    QTEST(program.level, "level");
    QTEST(program.data, "data");
    QCOMPARE(program.vectorText, k.vectorText);
    QCOMPARE(program.isIntrOnly(), k.intr);
    QCOMPARE(host.polling, program.number == 0);
    QByteArray out;
    program.setProgram(out);
    QTEST(out, "encoded");
    QList<int> used(host.used.cbegin(), host.used.cend());
    std::sort(used.begin(), used.end());
    QStringList ids;
    for (int id : used)
        ids << QString::number(id);
    QTEST(ids.join(QLatin1Char(' ')), "usedIDs");
}

// Any rows that pass the checks, committed, encoded and parsed back, give the instructions
// that their texts name.
void TestEditorCheck::committedRowsEncodeAsTheySay()
{
    // Each cell: mostly a text that passes on its own, sometimes one that does not.
    const QList<QStringList> cells[ColumnCount] = {
        {{"0", "5", "127", "0x7f", "017"}, {"128", "256", "", "x", "~"}},
        {{"0x1000", "1000", "FFFFFFFC", "0x1002", "1001"}, {"100000000", "0x", "zz", "", "~"}},
        {VmeModeWord::readWriteLabels(), {"", "Write", "~"}},
        {VmeModeWord::dataModeLabels(), {"", "D64"}},
        {{"1", "2", "3", "0x2", "03", "0"}, {"63", "64", "127", "128", "255", "0200", "-1", "", "~"}},
        {{"~"}, {"~"}},   // drawn below
        {VmeModeWord::accessModeLabels(), {"", "bogus", "~"}},
        {VmeModeWord::addressModeLabels(), {"", "~"}}};
    const QStringList items{"0", "ff", "0x1234", "65535", "0xdeadbeef", "4294967295", "100", "1FF", "x"};
    // Read/Write text -> read, noEcho, echo.
    const QMap<QString, QList<bool>> flags{{"Read", {true, false, false}},
                                           {"Read(No Echo)", {true, true, false}},
                                           {"Write(Echo)", {false, false, true}},
                                           {"Write(No Data Echo)", {false, false, false}},
                                           {"Write(No Echo)", {false, true, false}}};

    QRandomGenerator rng(20261207);
    const auto pick = [&rng](const QStringList &list) { return list.at(rng.bounded(int(list.size()))); };
    const auto draw = [&](int column) { return pick(cells[column].at(rng.bounded(8) ? 0 : 1)); };
    int passed = 0, refused = 0;
    for (int n = 0; n < 20000; ++n) {
        QStringList lines;
        const int count = 1 + rng.bounded(2);
        for (int r = 0; r < count; ++r) {
            QStringList line;
            for (int c = 0; c < ColumnCount; ++c)
                line << draw(c);
            QStringList data;
            for (int i = rng.bounded(4); i > 0; --i)
                data << pick(items);
            line[DataColumn] = rng.bounded(8) ? data.join(QLatin1Char(' ')) : QStringLiteral("~");
            lines << line.join(QLatin1Char('|'));
        }
        const QList<Row> rows = rowsOf(lines.join(QLatin1Char(';')));
        FakeHost host;
        Fields fields;
        if (const auto fault = validate(rows, kindOf(QStringLiteral("vec 1")), 1, host, fields)) {
            QVERIFY(!fault->message.isEmpty());
            QVERIFY(fault->row >= 0 && fault->row < rows.size());
            ++refused;
            continue;
        }
        ++passed;
        VmeProgram program;
        ProgramCheck::commit(fields, program, host);
        QByteArray bytes;
        int records = program.setProgram(bytes);
        VmeProgram parsed(bytes, records, 0, nullptr);
        QCOMPARE(records, 0);
        QCOMPARE(parsed.instructions.size(), rows.size());
        for (int r = 0; r < rows.size(); ++r) {
            const Row &row = rows.at(r);
            const VmeInstruction &ins = *parsed.instructions.at(r);
            const QString rw = *row[ReadWriteColumn];
            QCOMPARE((QList<bool>{ins.read, ins.noEcho, ins.echo}), flags.value(rw));
            QCOMPARE(VmeModeWord::dataModeLabels().value(ins.dataMode), *row[DataModeColumn]);
            QCOMPARE(VmeModeWord::accessModeLabels().value(ins.accessMode), *row[AccessModeColumn]);
            QCOMPARE(VmeModeWord::addressModeLabels().value(ins.addressMode), *row[AddressModeColumn]);
            QCOMPARE(ins.id, quint8(row[IdColumn]->toUInt(nullptr, 0)));
            QCOMPARE(ins.length, int(row[LengthColumn]->toUInt(nullptr, 0)));
            const QString address = *row[AddressColumn];
            QCOMPARE(ins.address, address.toUInt(nullptr, address.contains(QLatin1String("0x")) ? 0 : 16));
            const VmeInstruction &committed = *program.instructions.at(r);
            QCOMPARE(ins.data, committed.data);
            QCOMPARE(ins.data.size(), ins.read ? 0 : ins.length * VmeModeWord::itemSize(ins.dataMode));
        }
    }
    qInfo("%d passed, %d refused", passed, refused);
    QVERIFY2(passed > 500 && refused > 500, qPrintable(QStringLiteral("%1 passed, %2 refused").arg(passed).arg(refused)));
}

QTEST_APPLESS_MAIN(TestEditorCheck)
#include "tst_editorcheck.moc"
