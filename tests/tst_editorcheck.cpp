#include "fakehost.h"
#include "programcheck.h"
#include "programtablefixture.h"

#include <QRandomGenerator>
#include <QtTest>

using namespace ProgramCheck;

namespace {

// Rows as "id|address|read/write|width|length|data|access|address mode" separated by ";",
// "~" for a cell without an item.
QList<Row> rowsOf(const QString &text)
{
    QList<Row> rows;
    for (const QString &line : text.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QStringList cells = line.split(QLatin1Char('|'));
        Row &row = rows.emplace_back();
        for (int c = 0; c < ColumnCount; ++c)
            row[c] = cells.value(c) == QLatin1String("~") ? std::nullopt : std::optional(cells.value(c));
    }
    return rows;
}

// "poll <interval> <usec per unit> [priority]", "irq <level>", "intr <level>", "vec [list]", "def".
Kind kindOf(const QString &text)
{
    const QStringList w = text.split(QLatin1Char(' '));
    Kind k;
    k.intr = w[0] == "intr";
    k.type = w[0] == "poll" ? Kind::Polling : k.intr || w[0] == "irq" ? Kind::Interrupt : Kind::Vector;
    k.vectorIDs = w[0] != "def";
    k.interval = w.value(1), k.usecPerUnit = w.value(2).toDouble(), k.priority = w.value(3).toInt();
    k.level = w.value(1).toInt();
    k.vectorText = k.type == Kind::Vector ? w.value(1) : QString();
    return k;
}

// A D32 read with one cell replaced.
QString readWith(int column, const QString &text)
{
    QStringList cells = QStringLiteral("1|0x1000|Read|D32|1||User Data|A32").split(QLatin1Char('|'));
    cells[column] = text;
    return cells.join(QLatin1Char('|'));
}

} // namespace

class TestEditorCheck : public QObject
{
    Q_OBJECT
private slots:
    void refusals_data()
    {
        QTest::addColumn<QString>("rows");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("number");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("column");   // of the named cell, in the last row; -1 none

        const QString read = readWith(0, QStringLiteral("1"));
        const QString write = QStringLiteral("1|0x1000|Write(Echo)|D8|3|1 2|User Data|A32");
        const QString data = QStringLiteral("Please set Data for write correctly.");
        const QString interval = QStringLiteral("Please set a interval time between 1usec and 4294.96sec (step: 1usec)");
        const auto row = [](const char *name, const QString &rows, const char *kind, int number, const QString &message,
                            int column = -1) {
            QTest::newRow(name) << rows << QString::fromLatin1(kind) << number << message << column;
        };
        row("no rows", QString(), "vec 7", 1, "Please set at least one instruction.");
        row("every cell missing: width first", "~|~|~|~|~|~|~|~", "vec 7", 1, "Please set Data Mode.", 3);
        row("width not in the list", readWith(3, "D64"), "vec 7", 1, "Please set Data Mode.", 3);
        row("access before address", "1|zz|Read|D32|1|||A32", "vec 7", 1, "Please set Access Mode.", 6);
        row("address not hex", readWith(1, "zz"), "vec 7", 1, "Please set address correctly.", 1);
        row("D32 misaligned", readWith(1, "0x1002"), "vec 7", 1, "The address must be 4byte aligned.", 1);
        row("D32 INTR at any address", readWith(1, "0x1002").replace("User Data", "INTR"), "vec 7", 1, "");
        row("D16 misaligned", "1|1001|Read|D16|1||User Data|A32", "vec 7", 1, "The address must be 2byte aligned.", 1);
        row("D16 length 128", "1|0x1000|Read|D16|128||User Data|A32", "vec 7", 1, "Please set Length(0-127) correctly.", 4);
        row("D16 length 0x7F", "1|0x1000|Write(Echo)|D16|0x7F|" + QString("1 ").repeated(127) + "|User Data|A32", "vec 7",
            1, "");
        row("D32 length 64", readWith(4, "64"), "vec 7", 1, "Please set Length(0-63) correctly.", 4);
        row("read/write missing", readWith(2, "~"), "vec 7", 1, "Please set Read or Write.", 2);
        row("write without data", QString(write).replace("1 2", "~"), "vec 7", 1, data, 5);
        row("write of length 0", QString(write).replace("3|1 2", "0|"), "vec 7", 1, data, 5);
        row("two-line mismatch", write, "vec 7", 1, data + "\nMismatch between 3(Length) and 2(a number of Data)", 5);
        row("read with data text", readWith(5, "x y"), "vec 7", 1, "");
        row("address mode empty", readWith(7, ""), "vec 7", 1, "Please set Address Mode.", 7);
        row("ID 256", readWith(0, "256"), "vec 7", 1, "Please set ID(0-255) correctly.", 0);
        row("ID 128 interactive", readWith(0, "128"), "vec 7", 1, "\"128-255\" are ID for Interactive Mode", 0);
        row("ID 255 interactive", readWith(0, "0xff"), "vec 7", 1, "\"128-255\" are ID for Interactive Mode", 0);
        row("ID used by another program", readWith(0, "2"), "vec 7", 1, "");
        row("fault on the second row", read + ";" + readWith(7, "A64"), "vec 7", 1, "Please set Address Mode.", 7);
        row("second polling program", read, "poll 5 1", 1, "\"Polling\" is set already.");
        row("the polling program again", read, "poll 5 1", 0, "");
        row("0.4 usec", read, "poll 0.4 1", 0, interval);
        row("0.5 usec", read, "poll 0.5 1", 0, "");
        row("4294.967295 sec", read, "poll 4294.967295 1e6", 0, "");
        row("4294.9673 sec", read, "poll 4294.9673 1e6", 0, interval);
        row("4294967295.5 usec", read, "poll 4294967295.5 1", 0, interval);
        row("level 3 taken", read, "irq 3", 1, "\"Interrupt Level3\" is set already.");
        row("level 3 again", read, "irq 3", -3, "");
        row("INTR without rows", QString(), "intr 3", -3, "");
        row("vector in use", read, "vec 3-5", 1, "\"Vector4\" is set already.");
        row("vector list empty", read, "vec", 1, "Please set Vector ID(0-255).");
        row("second default", read, "def", 1, "\"Vector(default)\" is set already.");
        row("the default again", read, "def", VmeProgram::DefaultVectorNumber, "");
    }

    void refusals()
    {
        QFETCH(QString, rows);
        QFETCH(QString, kind);
        QFETCH(int, number);
        FakeHost host;   // a polling program, vector 4, interrupt level 3, the default vector program; IDs 1 to 4
        host.table = programs(QStringLiteral("0:1 5:1::04 -3:1 257:1"), host);
        for (const VmeProgram *p : std::as_const(host.table))
            host.book.addVector(p);
        Fields fields;
        const QList<Row> list = rowsOf(rows);
        const auto fault = validate(list, kindOf(kind), number, host, fields);
        QTEST(fault ? fault->message : QString(), "message");
        if (fault) {
            QTEST(fault->column, "column");
            QCOMPARE(fault->row, fault->column < 0 ? -1 : int(list.size()) - 1);
        }
        QCOMPARE(host.marked, (QList<int>{1, 2, 3, 4}));
    }

    void commit_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("oldNumber");
        QTest::addColumn<QString>("rows");
        QTest::addColumn<int>("number");   // the fields committed
        QTest::addColumn<int>("level");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QByteArray>("encoded");
        QTest::addColumn<QSet<unsigned char>>("used");

        const QString rows = "9|0x1000|Write(Echo)|D16|2|12 0x3456|Supervisor BLT|A24;"
                             "017|ff0|Read(No Echo)|D8|0x10|77|INTR|A16";
        const QByteArray bytes = QByteArray::fromHex("00001000c5600904" "00123456" "00000ff020300f10");
        const QSet<unsigned char> ids{5, 9, 15};
        QTest::newRow("polling") << "poll 2.5 1e6 7" << 1 << rows << 0 << 7 << hex("002625a0") << bytes << ids;
        QTest::newRow("vectors ascending") << "vec 9,3-4" << 0 << rows << 4 << -1 << hex("030409") << bytes << ids;
        QTest::newRow("default vector") << "def" << 8 << rows << 257 << -1 << QByteArray() << bytes << ids;
        QTest::newRow("interrupt, was polling") << "irq 2" << 0 << "0|0x04|Write(No Data Echo)|D32|1|1|INTR|A32" << -2
            << 2 << QByteArray() << hex("000000048a30000400000001") << QSet<unsigned char>{0, 5};
        QTest::newRow("INTR, ID not marked") << "intr 7" << 1 << rows << -7 << 7 << QByteArray() << hex("0000000e28300004")
                                             << QSet<unsigned char>{5};
    }

    void commit()
    {
        QFETCH(int, oldNumber);
        QFETCH(QString, rows);
        FakeHost host;
        host.book.setID(5, true);
        host.setPollingPresent(oldNumber == 0);
        VmeProgram program(3u); // whatever it held is replaced
        program.number = oldNumber;
        Fields fields;
        QFETCH(QString, kind);
        const Kind k = kindOf(kind);
        QVERIFY(!validate(rowsOf(rows), k, oldNumber, host, fields));
        ProgramCheck::commit(fields, program, host);
        QTEST(program.number, "number");
        QTEST(program.level, "level");
        QTEST(program.data, "data");
        QVERIFY(program.vectorText == k.vectorText && program.isIntrOnly() == k.intr);
        QCOMPARE(host.pollingPresent(), program.number == 0);
        QTEST(host.book.usedIDs(), "used");
        QByteArray out;
        program.setProgram(out);
        QTEST(out, "encoded");
    }

    // Any rows that pass the checks, committed, encoded and parsed back, give the instructions
    // that their texts name; every other set of rows is refused with a message and a cell.
    void committedRowsEncodeAsTheySay()
    {
        const QList<QStringList> cells[ColumnCount] = { // per column: texts that pass, texts that do not
            {{"0", "5", "127", "0x7f", "017"}, {"128", "256", "", "x", "~"}},
            {{"0x1000", "1000", "FFFFFFFC", "0x1002", "1001"}, {"100000000", "0x", "zz", "", "~"}},
            {VmeModeWord::readWriteLabels(), {"", "Write", "~"}},
            {VmeModeWord::dataModeLabels(), {"", "D64"}},
            {{"1", "2", "3", "0x2", "03", "0"}, {"63", "64", "127", "128", "255", "0200", "-1", "", "~"}},
            {{"0", "ff", "0x1234", "65535", "0xdeadbeef", "4294967295", "100"}, {"1FF", "x"}},
            {VmeModeWord::accessModeLabels(), {"", "bogus", "~"}},
            {VmeModeWord::addressModeLabels(), {"", "~"}}};
        const QList<QList<bool>> flags{{1, 0, 0}, {0, 0, 0}, {0, 0, 1}, {0, 1, 0}, {1, 1, 0}}; // read, noEcho, echo
        QRandomGenerator rng(20261207);
        int passed = 0;
        const auto draw = [&](int c) { const QStringList &l = cells[c].at(rng.bounded(8) ? 0 : 1); return l.at(rng.bounded(int(l.size()))); };
        for (int n = 0; n < 20000; ++n) {
            QStringList lines;
            for (int r = 1 + rng.bounded(2); r > 0; --r) {
                QStringList line, data;
                for (int c = 0; c < ColumnCount; ++c)
                    line << draw(c);
                for (int i = rng.bounded(4); i > 0; --i)
                    data << draw(DataColumn);
                line[DataColumn] = rng.bounded(8) ? data.join(QLatin1Char(' ')) : QStringLiteral("~");
                lines << line.join(QLatin1Char('|'));
            }
            const QList<Row> rows = rowsOf(lines.join(QLatin1Char(';')));
            FakeHost host;
            Fields fields;
            if (const auto fault = validate(rows, kindOf(QStringLiteral("vec 1")), 1, host, fields)) {
                QVERIFY(!fault->message.isEmpty() && fault->row >= 0 && fault->row < rows.size());
                continue;
            }
            VmeProgram program;
            ProgramCheck::commit(fields, program, host);
            QByteArray bytes;
            int records = program.setProgram(bytes);
            const VmeProgram parsed(bytes, records, 0, nullptr);
            QCOMPARE(parsed.instructions.size(), rows.size());
            for (int r = 0; r < rows.size(); ++r) {
                const Row &row = rows.at(r);
                const VmeInstruction &ins = *parsed.instructions.at(r);
                const QString address = *row[AddressColumn];
                QCOMPARE((QList<bool>{ins.read, ins.noEcho, ins.echo}), flags.value(VmeModeWord::readWriteLabels().indexOf(*row[ReadWriteColumn])));
                QCOMPARE(VmeModeWord::dataModeLabels().value(ins.dataMode) + VmeModeWord::accessModeLabels().value(ins.accessMode) +
                             VmeModeWord::addressModeLabels().value(ins.addressMode),
                         *row[DataModeColumn] + *row[AccessModeColumn] + *row[AddressModeColumn]);
                QCOMPARE(ins.id, quint8(row[IdColumn]->toUInt(nullptr, 0)));
                QCOMPARE(ins.length, int(row[LengthColumn]->toUInt(nullptr, 0)));
                QCOMPARE(ins.address, address.toUInt(nullptr, address.contains(QLatin1String("0x")) ? 0 : 16));
                QCOMPARE(ins.data, program.instructions.at(r)->data);
                QCOMPARE(ins.data.size(), ins.read ? 0 : ins.length * VmeModeWord::itemSize(ins.dataMode));
            }
            ++passed;
        }
        QVERIFY2(passed > 500 && passed < 19500, qPrintable(QString::number(passed)));
    }
};

QTEST_APPLESS_MAIN(TestEditorCheck)
#include "tst_editorcheck.moc"
