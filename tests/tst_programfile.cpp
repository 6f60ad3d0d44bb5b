// Program files: the records of a file, the refusal of damaged ones, the rebuild of the
// program table, and the window's File group. Files are written here from the record table.
#include "bytes.h"
#include "cmdargs.h"
#include "fakehost.h"
#include "filedialoganswerer.h"
#include "mainwindow.h"
#include "modalanswerer.h"
#include "namedchild.h"
#include "programfile.h"
#include "programtablefixture.h"

#include <QBuffer>
#include <QDataStream>
#include <QLocalServer>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

Q_DECLARE_METATYPE(ModuleMemory)

namespace {

using Table = ProgramFile::Table;
const QByteArray end = hex("333B");

QByteArray record(quint16 code, quint32 address, const QByteArray &data)
{
    QByteArray out;
    QDataStream(&out, QIODevice::WriteOnly) << code << address << quint8(data.size());
    return out + data;
}

// The records of a saved file: defaults and settings (hex), the stop write, the registers, the
// vector table and the image in pieces of 128 bytes, the enable mask (byte 1 of the settings).
QList<QByteArray> recordsOf(const ModuleMemory &m, const char *defaults, const char *settings)
{
    QList<QByteArray> out{record(0x3330, 0xFFFFFFFF, hex(defaults)), record(0x3338, 0xFFFFFFFF, hex(settings)),
                          record(0x333F, 4, hex("00")), record(0x333F, 6, QByteArray(1, char(m.pollLevel))),
                          record(0x333F, 12, m.interval), record(0x333F, 16, m.startTable),
                          record(0x333F, 24, m.countTable)};
    for (int k = 0; k < 1024; k += 128)
        out << record(0x333F, quint32(1024 + k), m.vectorTable.mid(k, 128));
    for (int k = 0; k < m.image.size(); k += 128)
        out << record(0x333F, quint32(2048 + k), m.image.mid(k, 128));
    return out << record(0x333E, 4, hex(settings).mid(1, 1)) << end;
}

QByteArray fileOf(const ModuleMemory &m, const char *defaults, const char *settings)
{
    return recordsOf(m, defaults, settings).join();
}

// One instruction record; a write gives its data, a read its length byte.
QByteArray ins(quint32 address, quint16 mode, quint8 id, const QByteArray &data = {}, int readLength = 0)
{
    QByteArray out;
    QDataStream(&out, QIODevice::WriteOnly) << address << mode << id
                                            << quint8((mode & 0x8000) ? data.size() : readLength);
    return out + data;
}

QByteArray intr(int level) { return ins(quint32(2 * level), 0x2830, 0, {}, 4); }

void put(QByteArray &bytes, int offset, const QByteArray &what)
{
    bytes.append(qMax(0, offset + int(what.size()) - int(bytes.size())), '\0');
    bytes.replace(offset, what.size(), what);
}

// Polling at 0 (200 bytes); vectors 1 and 3 share one program at 200; vector 7 at 224; the
// default vector program at 232; levels 1, 3 and 4 (at 1040) have programs of their own,
// levels 2, 5, 6 and 7 INTR records at the end.
ModuleMemory everyKind()
{
    ModuleMemory m;
    m.events = 0xFF;
    m.pollLevel = 3;
    m.interval = hex("000003E8");
    put(m.image, 0, ins(0x100, 0x8100, 1, QByteArray(192, 'p')));
    put(m.image, 200, ins(0x2000, 0x8900, 3, QByteArray(8, 'v')) + ins(0x2100, 0x0410, 4, {}, 2));
    put(m.image, 224, ins(0x30, 0x02C0, 5));
    put(m.image, 232, ins(0, 0x0100, 6));
    m.vectorTable = hex("0000E8FF").repeated(256);
    put(m.vectorTable, 4, hex("0100C800"));
    put(m.vectorTable, 12, hex("0100C800"));
    put(m.vectorTable, 28, hex("0000E000"));
    const QByteArray block(255, 'i');
    put(m.image, 240, ins(0x10, 0x8000, 7, block) + ins(0x11, 0x8000, 8, block) + ins(0x12, 0x8000, 9, block));
    put(m.image, 1032, ins(0x40, 0x0930, 10, {}, 4));
    put(m.image, 1040, ins(0x8, 0x2830, 11, {}, 4) + ins(0x50, 0xC450, 12, "\x01\x02\x03\x04"));
    m.startTable = hex("001E858182868788");
    m.countTable = hex("0002000001000000");
    put(m.image, 1064, intr(2) + intr(5) + intr(6) + intr(7));
    return m;
}

QString readFile(QByteArray bytes, ModuleMemory &m)
{
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QList<QByteArray> defaults;
    try {
        ProgramFile::readRecords(buffer, m, defaults, [&](QByteArray &out, int n) {
            ProgramFile::dataRead(buffer, out, n, QString());
        });
    } catch (const QString &text) {
        return text;
    }
    return {};
}

std::unique_ptr<MainWindow> newWindow()
{
    Args a({"tarnix2-utility"});
    return std::make_unique<MainWindow>(a.argc(), a.argv.data());
}

QStringList rows(MainWindow &w)
{
    QStringList texts;
    auto *table = child<QTableWidget>(w, "tableWidget");
    for (int r = 0; r < table->rowCount(); ++r)
        texts << table->item(r, 0)->text();
    return texts;
}

QString writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() ? path : QString();
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void click(MainWindow &w, const char *button, const QString &path)
{
    answerFileDialog(path);
    child<QPushButton>(w, button)->click();
}

// Address mode -1 and access mode 10 lie outside the General tab's lists; enable mask 0x13,
// interactive IDs 16 to 200.
const QByteArray everyKindFile = fileOf(everyKind(), "ff0a0104", "ff1310c8");
const QStringList everyKindRows = QStringLiteral("Polling Vector1 Vector7 Vector(default) Interrupt1 Interrupt2 "
                                                 "Interrupt3 Interrupt4 Interrupt5 Interrupt6 Interrupt7").split(' ');

} // namespace

class TestProgramFile : public QObject
{
    Q_OBJECT
private slots:
    void emptyTableFile()
    {
        // An empty table saved: the two settings records, the stop record, the registers, eight
        // vector-table pieces, one image piece of 64 bytes, the enable mask and the end.
        QByteArray expected = record(0x3330, 0xFFFFFFFF, hex("01000000")) + record(0x3338, 0xFFFFFFFF, hex("FE0080FF")) +
                              record(0x333F, 4, hex("00")) + record(0x333F, 6, hex("00")) +
                              record(0x333F, 12, hex("00000000")) + record(0x333F, 16, hex("0001020304050607")) +
                              record(0x333F, 24, hex("0000000000000000"));
        for (int k = 0; k < 1024; k += 128)
            expected += record(0x333F, quint32(1024 + k), hex("000000FF").repeated(32));
        expected += record(0x333F, 2048, hex("0000000001000000" "0000000228300004000000042830000400000006283000040000000828300004"
                                             "0000000A283000040000000C283000040000000E28300004")) +
                    record(0x333E, 4, hex("00")) + end;
        QTemporaryDir dir;
        auto w = newWindow();
        click(*w, "fsave", dir.filePath("empty.prg"));
        QCOMPARE(readAll(dir.filePath("empty.prg")).toHex(), expected.toHex());
        // Opened again it lists what the layout added, and saves the same bytes.
        click(*w, "fopen", dir.filePath("empty.prg"));
        QCOMPARE(rows(*w), QStringLiteral("Vector(default) Interrupt1 Interrupt2 Interrupt3 Interrupt4 Interrupt5 "
                                          "Interrupt6 Interrupt7").split(' '));
        QVERIFY(w->programList().at(7)->isIntrOnly());
        w->setModified(true);
        click(*w, "fsave", dir.filePath("again.prg"));
        QCOMPARE(readAll(dir.filePath("again.prg")).toHex(), expected.toHex());

        ModuleMemory m;
        m.image = QByteArray(300, 'x');  // pieces of 128, 128 and 44 bytes
        QVERIFY(ProgramFile::encode(m, {}, 0, 0, 0)
                    .endsWith(QByteArray(record(0x333F, 2048, QByteArray(128, 'x')) + record(0x333F, 2176, QByteArray(128, 'x')) +
                                         record(0x333F, 2304, QByteArray(44, 'x')) + record(0x333E, 4, hex("00")) + end)));
    }

    void recordsAndRefusals()
    {
        // Beside the saved records: the stop write lands on the vector table before its first
        // piece replaces it; further pieces append; unknown codes are skipped; the enable mask
        // comes from the settings record, not the last record; nothing after the end counts.
        ModuleMemory m;
        m.pollLevel = 3;
        m.vectorTable = pattern(1024);
        m.image = "ab";
        QList<QByteArray> records = recordsOf(m, "01000203", "81060507");
        records.insert(records.size() - 2, record(0x333F, 9000, "c"));
        records.insert(records.size() - 2, record(0x1234, 0, "zz"));
        // What the file lacks without each record: "-" nothing, "end" its end record.
        const QStringList lacks = QStringLiteral("settings|settings|-|tables|tables|tables|tables").split('|') +
                                  QStringList(8, QStringLiteral("vector table")) +
                                  QStringLiteral("program image|-|-|-|end").split('|');
        const QByteArray file = records.join();
        QCOMPARE(readFile(file + record(0x333F, 6, "\x05"), m), QString());
        QCOMPARE(m.vectorTable, pattern(1024));
        QCOMPARE(m.image, QByteArray("abc"));
        QCOMPARE(QList<int>({m.events, m.savedEnable, m.pollLevel}), QList<int>({0x81, 0x06, 3}));

        // Cut anywhere: at a record boundary or in its code the end record is missing, else the
        // record's own bytes.
        QList<int> boundaries{0};
        for (const QByteArray &r : std::as_const(records))
            boundaries << boundaries.last() + int(r.size());
        for (int n = 0; n < file.size(); ++n) {
            ModuleMemory cut;
            const QString text = readFile(file.left(n), cut);
            QVERIFY2(text.endsWith(boundaries.contains(n) || boundaries.contains(n - 1) ? "Can't read\nThe file ends before its end record."
                                                          : "Can't read\nUnknown error."),
                     qPrintable(QString::number(n) + text));
        }
        for (int i = 0; i < records.size(); ++i) {
            QList<QByteArray> without = records;
            without.removeAt(i);
            const QString reason = lacks.at(i) == "end" ? QStringLiteral("The file ends before its end record.")
                                                        : QStringLiteral("The file lacks its %1.").arg(lacks.at(i));
            QCOMPARE(readFile(without.join(), m), lacks.at(i) == "-" ? QString() : "\"\": Can't read\n" + reason);
        }
    }

    void refused_data()
    {
        QTest::addColumn<ModuleMemory>("memory");
        QTest::addColumn<QString>("program");
        ModuleMemory m = everyKind();
        m.image[200 + 5] = 0x70;  // access code 7
        QTest::newRow("undefined code, shared vector program") << m << "Vector1";
        m = everyKind();
        m.countTable[4] = char(200);
        QTest::newRow("count past the image") << m << "Interrupt4";
        m = everyKind();
        put(m.vectorTable, 800, hex("00044800"));  // vector 200 at 1096
        QTest::newRow("offset at the image end") << m << "Vector200";
        m = everyKind();
        m.image[1048 + 7] = char(255);
        QTest::newRow("write data past the image") << m << "Interrupt4";
    }

    void refused()
    {
        QFETCH(ModuleMemory, memory);
        QFETCH(QString, program);
        FakeHost host;
        const Table table = ProgramFile::rebuild(memory, &host);
        QCOMPARE(table.refused, program);
        QVERIFY(table.programs.empty() && host.marked.isEmpty());
    }

    void windowRoundTrip_data()
    {
        QTest::addColumn<ModuleMemory>("memory");
        QTest::newRow("every kind") << everyKind();
        ModuleMemory m;  // polling at 0, the default vector program at 8, a program for every level
        m.events = 0xFF;
        m.image = ins(0x10, 0x0100, 1) + ins(0, 0x0100, 2);
        for (int level = 1; level <= 7; ++level) {
            m.startTable[level] = char(level + 1);
            m.image += ins(quint32(level), 0x0900, quint8(10 + level), {}, 4);
        }
        m.vectorTable = hex("000008FF").repeated(256);
        QTest::newRow("all levels") << m;
    }

    void windowRoundTrip()
    {
        // Opened and saved again (laid out anew from the rebuilt table): the same bytes.
        QFETCH(ModuleMemory, memory);
        QTemporaryDir dir;
        const QByteArray file = fileOf(memory, "00030201", "ffa510c8");
        auto w = newWindow();
        click(*w, "fopen", writeFile(dir.filePath("a.prg"), file));
        w->setModified(true);
        click(*w, "fsave", dir.filePath("b.prg"));
        QCOMPARE(readAll(dir.filePath("b.prg")).toHex(), file.toHex());
        QVERIFY(!w->isModified());
    }

    void windowDiscardQuestion_data()
    {
        QTest::addColumn<int>("answer");
        QTest::newRow("Cancel") << int(QMessageBox::Cancel);
        QTest::newRow("Discard") << int(QMessageBox::Discard);
    }

    void windowDiscardQuestion()
    {
        QFETCH(int, answer);
        QTemporaryDir dir;
        const QString path = writeFile(dir.filePath("every.prg"), everyKindFile);
        auto w = newWindow();
        w->setModified(true);
        ModalAnswerer box{QMessageBox::StandardButton(answer)};
        if (answer == QMessageBox::Discard)
            answerFileDialog(path);
        child<QPushButton>(*w, "fopen")->click();
        QVERIFY(box.seen());
        QCOMPARE(box.title(), QString());
        QCOMPARE(box.text(), QStringLiteral("The settings has been modified.\nDo you want to discard your changes?"));
        QCOMPARE(box.buttons(), QMessageBox::Discard | QMessageBox::Cancel);
        QCOMPARE(box.defaultButton(), QMessageBox::Cancel);
        QCOMPARE(rows(*w), answer == QMessageBox::Discard ? everyKindRows : QStringList());
        QCOMPARE(w->isModified(), answer == QMessageBox::Cancel);
    }

    void windowFailures_data()
    {
        QTest::addColumn<QByteArray>("file");  // null: none there
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");
        QByteArray unreadable = everyKindFile;
        unreadable[unreadable.indexOf(hex("0000200089000308")) + 5] = 0x70;
        // Another table, other defaults and IDs 0x40 to 0x50, cut after its first vector-table piece.
        const QByteArray other = fileOf(everyKind(), "02030001", "fe024050");
        QTest::newRow("socket, not a file") << QByteArray() << "fopen" << "File open"
                                            << "\"%1\": Can't open file\nNo such device or address.";
        QTest::newRow("cut inside a record") << everyKindFile.left(700) << "fopen" << "File read"
                                             << "\"%1\": Can't read\nUnknown error.";
        QTest::newRow("cut at a record boundary") << other.left(other.indexOf(hex("333F 00000480"))) << "fopen"
                                                  << "File read" << "\"%1\": Can't read\nThe file ends before its end record.";
        QTest::newRow("empty file") << QByteArray("") << "fopen" << "File read"
                                    << "\"%1\": Can't read\nThe file ends before its end record.";
        QTest::newRow("unreadable instruction") << unreadable << "fopen" << "File read"
                                                << "\"%1\": Can't read an instruction of Vector1.";
        QTest::newRow("no such directory") << QByteArray() << "fsave" << "File save"
                                           << "\"%1\": Can't open file for writing\nNo such file or directory.";
    }

    void windowFailures()
    {
        // A file opened, then every failure is shown and leaves the table, the General tab (indices
        // outside its lists kept its own choices) and the event boxes as they were.
        QFETCH(QByteArray, file);
        QFETCH(QString, button);
        QFETCH(QString, title);
        QFETCH(QString, text);
        QTemporaryDir dir;
        auto w = newWindow();
        click(*w, "fopen", writeFile(dir.filePath("every.prg"), everyKindFile));
        QVERIFY(w->checkEvent() == 0x13 && !w->checkID(12) && w->checkID(13) && w->pollingPresent());
        w->setEvent(0x05);
        const bool opening = button == QLatin1String("fopen");
        const QString path = !file.isNull() ? writeFile(dir.filePath("x.prg"), file)
                                            : dir.filePath(opening ? "socket" : "none/x.prg");
        QLocalServer socket;  // there for the open dialog, but no file to read
        QVERIFY(!opening || !file.isNull() || socket.listen(path));
        ModalAnswerer box;
        click(*w, qPrintable(button), path);
        QVERIFY(box.seen());
        QCOMPARE(box.title(), title);
        QCOMPARE(box.text(), text.arg(path));
        QCOMPARE(rows(*w), everyKindRows);
        QCOMPARE(w->checkEvent(), 0x05);
        unsigned char low = 0, high = 0;
        w->checkInteractiveID(0, &low, &high);
        QCOMPARE(QList<int>({w->addressMode(), w->accessMode(), w->dataMode(), w->readWrite(), low, high}),
                 QList<int>({1, 0, 1, 4, 16, 200}));
    }

    void diskFull()
    {
        QFile full(QStringLiteral("/dev/full"));
        QVERIFY(full.open(QIODevice::WriteOnly));
        QCOMPARE(ProgramFile::writeAll(full, everyKindFile), "\"/dev/full\": Can't write\nNo space left on device.");
    }

    // Last: had a file dialog come, its answerer would be gone before the next test.
    void refusedLayoutWritesNoFile()
    {
        QTemporaryDir dir;
        auto w = newWindow();
        for (VmeProgram *p : programs(QStringLiteral("0:257"), *w))  // 2056 bytes
            w->setProgram(p);
        ModalAnswerer box;
        click(*w, "fsave", dir.filePath("over.prg"));
        QVERIFY(box.seen());
        QCOMPARE(box.text(), QStringLiteral("Memory Overflow: Please reduce a program to become 2048 bytes or less."));
        QTest::qWait(200);
        QVERIFY(!QFile::exists(dir.filePath("over.prg")));
    }
};

QTEST_MAIN(TestProgramFile)
#include "tst_programfile.moc"
