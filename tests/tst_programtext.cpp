#include "bytes.h"
#include "cmdargs.h"
#include "filedialoganswerer.h"
#include "mainwindow.h"
#include "modalanswerer.h"
#include "namedchild.h"
#include "programtext.h"
#include "programwarnings.h"
#include "tarnixsim.h"

#include <QDataStream>
#include <QProcess>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <tuple>

namespace {

QByteArray record(quint16 code, quint32 address, const QByteArray &data)
{
    QByteArray out;
    QDataStream(&out, QIODevice::WriteOnly) << code << address << quint8(data.size());
    return out + data;
}

// A program file as the record table lays it out: settings, stop, registers, the vector
// table and the image in pieces of 128 bytes, enable, end.
QByteArray file(const char *defaults, const char *settings, const char *registers, const QByteArray &vectors,
                const QByteArray &image)
{
    const QByteArray regs = hex(registers);  // poll level, interval, start table, count table
    QByteArray out = record(0x3330, 0xFFFFFFFF, hex(defaults)) + record(0x3338, 0xFFFFFFFF, hex(settings)) +
                     record(0x333F, 4, hex("00")) + record(0x333F, 6, regs.mid(0, 1)) +
                     record(0x333F, 12, regs.mid(1, 4)) + record(0x333F, 16, regs.mid(5, 8)) +
                     record(0x333F, 24, regs.mid(13, 8));
    for (int k = 0; k < 1024; k += 128)
        out += record(0x333F, quint32(1024 + k), vectors.mid(k, 128));
    for (int k = 0; k < image.size(); k += 128)
        out += record(0x333F, quint32(2048 + k), image.mid(k, 128));
    return out + record(0x333E, 4, hex(settings).mid(1, 1)) + hex("333B");
}

QByteArray intrRecords(int from, int to)
{
    QByteArray out;
    for (int level = from; level <= to; ++level)
        out += hex("000000") + char(2 * level) + hex("2830 00 04");
    return out;
}

QString intrLines(QList<int> levels)
{
    QString out;
    for (int level : levels)
        out += QStringLiteral("  - {program: interrupt, level: %1, intr: true}\n").arg(level);
    return out;
}

QString items(const char *item, int n)
{
    return QStringList(n, QLatin1String(item)).join(QLatin1Char(' '));
}

// The empty table: the default vector program (first free ID 0) and an INTR record per level.
const QByteArray emptyFile =
    file("01000000", "FE0080FF", "00 00000000 0001020304050607 0000000000000000", hex("000000FF").repeated(256),
         hex("00000000 0100 00 00") + intrRecords(1, 7));
const QString emptyText = QStringLiteral(
    "defaults: {address mode: A24, access mode: User Data, data mode: D8, read/write: Read}\n"
    "interactive ids: 128-255\nevents: []\nprograms: []\n");

// Polling at 0 (200 bytes), one vector program at 200 (0x00C8) serving vectors 3 and 7, the
// default vector program at 208 (0x00D0), INTR records from 216 (start byte 27).
const QByteArray vectorAt200Image = hex("00001000 CA00 01 C0") + hex("12345678").repeated(48) +
                                    hex("0000ABCE 0440 02 04") + hex("00000000 0210 00 00") + intrRecords(1, 7);
QByteArray vectorAt200File()
{
    QByteArray vectors = hex("0000D0FF").repeated(256);
    vectors.replace(12, 4, hex("0000C800"));
    vectors.replace(28, 4, hex("0000C800"));
    return file("02010102", "FF01107F", "02 000003E8 001B1C1D1E1F2021 0000000000000000", vectors, vectorAt200Image);
}
// The table spelled out in full, as printed before defaults were left out.
const QString vectorAt200Full = QStringLiteral(
    "defaults: {address mode: A32, access mode: User Prog., data mode: D16, read/write: Write(Echo)}\n"
    "interactive ids: 16-127\nevents: [Polling]\nprograms:\n"
    "  - program: polling\n    interval: 1 ms\n    level: 2\n    instructions:\n"
    "      - {id: 1, address: 0x00001000, read/write: Write(Echo), data mode: D32, length: 48, data: %1, "
    "access mode: User Data, address mode: A32}\n"
    "  - program: vector\n    vectors: 3,7\n    instructions:\n"
    "      - {id: 2, address: 0x0000abce, read/write: Read, data mode: D16, length: 2, access mode: Supervisor Data, "
    "address mode: A16}\n"
    "  - program: default vector\n    instructions:\n"
    "      - {id: 0, address: 0x00000000, read/write: Read, data mode: D8, length: 0, access mode: User Prog., "
    "address mode: A32}\n").arg(items("0x12345678", 48)) + intrLines({1, 2, 3, 4, 5, 6, 7});
const QString vectorAt200Text = QStringLiteral(
    "defaults: {address mode: A32, access mode: User Prog., data mode: D16, read/write: Write(Echo)}\n"
    "interactive ids: 16-127\nevents: [Polling]\nprograms:\n"
    "  - program: polling\n    interval: 1 ms\n    level: 2\n    instructions:\n"
    "      - {id: 1, address: 0x00001000, data mode: D32, length: 48, data: %1, access mode: User Data}\n"
    "  - program: vector\n    vectors: 0x03,0x07\n    instructions:\n"
    "      - {id: 2, address: 0x0000abce, read/write: Read, length: 2, access mode: Supervisor Data, "
    "address mode: A16}\n").arg(items("0x12345678", 48));

// Four polling writes of 258 bytes, the default vector program at 1032, the level-2 program at
// 1040 (start byte 130), then the INTR records of the other levels.
QByteArray interruptAt1040File()
{
    QByteArray image;
    for (const char *head : {"00000100 8100 01 FA", "00000200 8100 02 FA", "00000300 8100 03 FA", "00000400 8100 04 FA"})
        image += hex(head) + QByteArray(250, '\xAA');
    image += hex("00000000 0100 09 00") + hex("00000010 0900 0A 04") + intrRecords(1, 1) + intrRecords(3, 7);
    return file("01000000", "FF05107F", "07 000000FA 0083828485868788 0300000000000000",
                hex("000408FF").repeated(256), image);
}
QString interruptAt1040Full()
{
    QString text = QStringLiteral("defaults: {address mode: A24, access mode: User Data, data mode: D8, read/write: Read}\n"
                                  "interactive ids: 16-127\nevents: [Polling, Interrupt2]\nprograms:\n"
                                  "  - program: polling\n    interval: 250 us\n    level: 7\n    instructions:\n");
    for (int i = 1; i <= 4; ++i)
        text += QStringLiteral("      - {id: %1, address: %2, read/write: Write(No Data Echo), data mode: D8, "
                               "length: 250, data: %3, access mode: User Data, address mode: A24}\n")
                    .arg(i)
                    .arg(QStringLiteral("0x%1").arg(i * 0x100, 8, 16, QLatin1Char('0')), items("0xaa", 250));
    text += QStringLiteral("  - program: default vector\n    instructions:\n"
                           "      - {id: 9, address: 0x00000000, read/write: Read, data mode: D8, length: 0, "
                           "access mode: User Data, address mode: A24}\n");
    return text + intrLines({1}) +
           QStringLiteral("  - program: interrupt\n    level: 2\n    instructions:\n"
                          "      - {id: 10, address: 0x00000010, read/write: Read, data mode: D32, length: 1, "
                          "access mode: User Data, address mode: A24}\n") +
           intrLines({3, 4, 5, 6, 7});
}
QString interruptAt1040Text()
{
    QString text = QStringLiteral("defaults: {address mode: A24, access mode: User Data, data mode: D8, read/write: Read}\n"
                                  "interactive ids: 16-127\nevents: [Polling, Interrupt2]\nprograms:\n"
                                  "  - program: polling\n    interval: 250 us\n    level: 7\n    instructions:\n");
    for (int i = 1; i <= 4; ++i)
        text += QStringLiteral("      - {id: %1, address: 0x%2, read/write: Write(No Data Echo), length: 250, "
                               "data: %3}\n")
                    .arg(i)
                    .arg(i * 0x100, 8, 16, QLatin1Char('0'))
                    .arg(items("0xaa", 250));
    return text + QStringLiteral("  - {program: default vector, instructions: [{id: 9, address: 0x00000000, length: 0}]}\n"
                                 "  - program: interrupt\n    level: 2\n    instructions:\n"
                                 "      - {id: 10, address: 0x00000010, data mode: D32}\n");
}

// tarnixctl's exit status, standard output and standard error.
std::tuple<int, QString, QString> ctl(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral(TARNIXCTL_EXE), args);
    const bool ended = p.waitForFinished(20000) && p.exitStatus() == QProcess::NormalExit;
    if (!ended)
        p.kill();
    return {ended ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

} // namespace

class TestProgramText : public QObject
{
    Q_OBJECT
private slots:
    void workedExamples_data()
    {
        QTest::addColumn<QString>("written");   // as an operator may write it
        QTest::addColumn<QString>("canonical");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("empty table") << QStringLiteral("# nothing yet\nprograms: []  # none\n") << emptyText
                                     << emptyFile;
        QString written = vectorAt200Full;
        written.replace(QStringLiteral("interval: 1 ms"), QStringLiteral("interval: 1000usec"))
            .replace(QStringLiteral("vectors: 3,7"), QStringLiteral("vectors: 7,0x3"))
            .replace(QStringLiteral("0x0000abce"), QStringLiteral("ABCE"))
            .replace(QStringLiteral("Supervisor Data"), QStringLiteral("supervisordata"))
            .replace(QStringLiteral("read/write: Read,"), QStringLiteral("read/write: READ,"));
        QTest::newRow("vector program at 200 for two vectors") << written << vectorAt200Text << vectorAt200File();
        QTest::newRow("interrupt program at 1040")
            << QString(interruptAt1040Full()).remove(intrLines({1})).remove(intrLines({3, 4, 5, 6, 7}))
            << interruptAt1040Text() << interruptAt1040File();
    }

    void workedExamples()
    {
        QFETCH(QString, written);
        QFETCH(QString, canonical);
        QFETCH(QByteArray, bytes);
        for (const QString &text : {written, canonical}) {
            QByteArray built;
            const auto fault = ProgramText::build(text.toUtf8(), built);
            QVERIFY2(!fault, qPrintable(fault ? fault->text() : QString()));
            QCOMPARE(built.toHex(' '), bytes.toHex(' '));
        }
        QString printed, error;
        QVERIFY2(ProgramText::print(bytes, QStringLiteral("f"), printed, error), qPrintable(error));
        QCOMPARE(printed, canonical);
    }

    void refusals_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("fault");
        const QString head = QStringLiteral("programs:\n  - program: polling\n    interval: 5 ms\n    level: 0\n"
                                            "    instructions:\n");
        const auto row = [&](const char *name, const QString &instruction, const char *fault) {
            QTest::newRow(name) << head + QStringLiteral("      - {") + instruction + QStringLiteral("}\n")
                                << QString::fromUtf8(fault);
        };
        const QString ok = QStringLiteral("id: 1, address: 0x10, read/write: Read, data mode: D16, length: 1, "
                                          "access mode: User Data, address mode: A24");
        QString s = ok;
        row("length", s.replace(QStringLiteral("length: 1"), QStringLiteral("length: 128")),
            "6:74: Please set Length(0-127) correctly.");
        s = ok;
        row("alignment", s.replace(QStringLiteral("0x10"), QStringLiteral("0x11")),
            "6:26: The address must be 2byte aligned.");
        s = ok;
        row("interactive ID", s.replace(QStringLiteral("id: 1"), QStringLiteral("id: 200")),
            "6:14: \"128-255\" are ID for Interactive Mode");
        s = ok;
        row("data mode", s.replace(QStringLiteral("D16"), QStringLiteral("D64")),
            "6:61: data mode \"D64\": one of D8, D16, D32");
        s = ok;
        row("no id", s.remove(QStringLiteral("id: 1, ")),
            "6:9: an instruction needs \"id\" (0 to 255; it names the instruction's reports)");
        s = ok;
        row("data count", s.replace(QStringLiteral("Read,"), QStringLiteral("Write(Echo), data: 1 2,")),
            "6:63: Please set Data for write correctly.\nMismatch between 1(Length) and 2(a number of Data)");
        s = ok;
        row("unknown column", s.append(QStringLiteral(", colour: red")),
            "6:120: unknown key \"colour\" in an instruction; known: id, address, read/write, data mode, length, "
            "data, access mode, address mode");
        QTest::newRow("syntax") << QStringLiteral("programs: [\n") << "2:1: end of sequence flow not found";
        QTest::newRow("interval unit") << QString(head).replace(QStringLiteral("5 ms"), QStringLiteral("5 min"))
                                       << "3:15: \"interval\" is a number and a unit: s, ms or us";
        const QString one = QStringLiteral("      - {") + ok + QStringLiteral("}\n");
        QTest::newRow("interval range") << QString(head).replace(QStringLiteral("5 ms"), QStringLiteral("4295 s")) + one
                                        << "3:15: Please set a interval time between 1usec and 4294.96sec (step: 1usec)";
        QTest::newRow("no instruction") << head << "5:5: Please set at least one instruction.";
        QTest::newRow("second polling") << head + one + QString(head).remove(QStringLiteral("programs:\n")) + one
                                        << "7:14: \"Polling\" is set already.";
        QTest::newRow("vector taken") << QStringLiteral("programs:\n- {program: vector, vectors: 2-4, instructions: "
                                                        "[{%1}]}\n- {program: vector, vectors: 4, instructions: [{%1}]}")
                                             .arg(QString(ok).replace(QStringLiteral("id: 1"), QStringLiteral("id: 2")))
                                      << "3:30: \"Vector4\" is set already.";
        QTest::newRow("no vector") << QStringLiteral("programs: [{program: vector, vectors: '', instructions: [{%1}]}]").arg(ok)
                                   << "1:39: Please set Vector ID(0-255).";
        QTest::newRow("INTR with instructions")
            << QStringLiteral("programs:\n  - {program: interrupt, level: 3, intr: true, instructions: []}")
            << "2:62: an INTR program (intr: true) has no \"instructions\"; to acknowledge after instructions, end "
               "them with \"- acknowledge\"";
        QTest::newRow("acknowledge outside") << head + QStringLiteral("      - acknowledge\n")
                                             << "6:9: \"acknowledge\" belongs to an interrupt program: it takes the "
                                                "vector of the interrupt that started it";
        QTest::newRow("level") << QStringLiteral("programs: [{program: interrupt, level: 8, intr: true}]")
                               << "1:40: \"level\" is a number from 1 to 7";
        QTest::newRow("polling enabled, none") << QStringLiteral("events: [Polling]\nprograms: []")
                                               << "1:9: Please set a program for Polling.";
        QTest::newRow("event name") << QStringLiteral("events: [Interrupt8]")
                                    << "1:10: event \"Interrupt8\": one of Polling, Interrupt1, Interrupt2, "
                                       "Interrupt3, Interrupt4, Interrupt5, Interrupt6, Interrupt7";
        QTest::newRow("ID range") << QStringLiteral("interactive ids: 200-100")
                                  << "1:18: \"interactive ids\" is a range first-last of IDs 0 to 255, first not "
                                     "above last";
        QTest::newRow("default access") << QStringLiteral("defaults: {access mode: INTR}")
                                        << "1:25: access mode \"INTR\": one of User Data, User Prog., User BLT, "
                                           "Supervisor Data, Supervisor Prog., Supervisor BLT, Fixed Address and "
                                           "User Data, Fixed Address and User Prog., Fixed Address and Supervisor "
                                           "Data, Fixed Address and Supervisor Prog.";
        QTest::newRow("twice") << QStringLiteral("events: []\nevents: []") << "2:1: \"events\" is given twice";
        QTest::newRow("second document") << QStringLiteral("programs: []\n...\nprograms: [{program: interrupt, level: 3}]\n")
                                         << "2:1: a program text is one document: nothing may follow its end (\"...\" "
                                            "or a second \"---\")";
        QTest::newRow("too long") << QString(int(ProgramText::MaxTextSize) + 1, QLatin1Char(' '))
                                  << "the text holds 524289 bytes, more than the 524288 a program text may hold";
        QTest::newRow("not a mapping") << QStringLiteral("- a\n")
                                       << "1:1: a program text is a mapping of defaults, interactive ids, events, "
                                          "programs";
    }

    void refusals()
    {
        QFETCH(QString, text);
        QFETCH(QString, fault);
        QByteArray built = "untouched";
        const auto refused = ProgramText::build(text.toUtf8(), built);
        QVERIFY(refused);
        QCOMPARE(refused->text(), fault);
        QCOMPARE(built, QByteArray("untouched"));
    }

    // Settings at the edges of their ranges read and print as written.
    void accepted_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("line");  // a line of the canonical print
        const QString polling = QStringLiteral("programs: [{program: polling, interval: %1, level: 0, instructions: "
                                               "[{id: 1, address: 0x10, read/write: Read, data mode: D32, length: 1, "
                                               "access mode: User Data, address mode: A24}]}]");
        QTest::newRow("sec") << polling.arg(QStringLiteral("0.002 sec")) << "    interval: 2 ms";
        QTest::newRow("whole seconds") << polling.arg(QStringLiteral("3000 ms")) << "    interval: 3 s";
        QTest::newRow("level 7") << QStringLiteral("events: [Interrupt7]") << "events: [Interrupt7]";
        QTest::newRow("one interactive ID") << QStringLiteral("interactive ids: 16-16") << "interactive ids: 16-16";
    }

    void accepted()
    {
        QFETCH(QString, text);
        QFETCH(QString, line);
        QByteArray built;
        const auto fault = ProgramText::build(text.toUtf8(), built);
        QVERIFY2(!fault, qPrintable(fault ? fault->text() : QString()));
        QString printed, error;
        QVERIFY2(ProgramText::print(built, QStringLiteral("f"), printed, error), qPrintable(error));
        QVERIFY2(printed.split(QLatin1Char('\n')).contains(line), qPrintable(printed));
    }

    // Texts written before defaults, the acknowledge and the short print build to the bytes they
    // built then; the typical job written short builds to the bytes of its spelled-out form. The
    // print of each builds to the same bytes again (levels checked without a program included).
    void fixtures_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("binary");
        for (const char *name : {"crate3", "acknowledge", "unlisted-level"})
            QTest::newRow(name) << QString::fromLatin1(name) << QString::fromLatin1(name);
        QTest::newRow("typical job") << QStringLiteral("typical-job") << QStringLiteral("acknowledge");
    }

    void fixtures()
    {
        QFETCH(QString, text);
        QFETCH(QString, binary);
        QFile t(QStringLiteral(FIXTURES "/%1.yaml").arg(text)), b(QStringLiteral(FIXTURES "/%1.prg").arg(binary));
        QVERIFY(t.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
        const QByteArray bytes = b.readAll();
        QByteArray built, again;
        QVERIFY(!ProgramText::build(t.readAll(), built));
        QCOMPARE(built.toHex(' '), bytes.toHex(' '));
        QString printed, error;
        QVERIFY2(ProgramText::print(bytes, binary, printed, error), qPrintable(error));
        QVERIFY(!ProgramText::build(printed.toUtf8(), again));
        QCOMPARE(again.toHex(' '), bytes.toHex(' '));
    }

    void warnings_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("warnings");
        const auto text = [](const char *t) { return QByteArray(t); };
        QTest::newRow("event not listed")
            << text("programs: [{program: polling, interval: 1 ms, level: 0, instructions: [{id: 1, address: 0x10}]}]")
            << "1:12: Polling is not among the events: the polling program never runs";
        QTest::newRow("no level listed")
            << text("programs: [{program: vector, vectors: 0x20, instructions: [{id: 1, address: 0x10}]}]")
            << "1:12: no interrupt level is among the events: Vector32 never runs";
        QTest::newRow("no acknowledge")
            << text("events: [Interrupt3]\nprograms:\n- {program: interrupt, level: 3, instructions: [{id: 1, "
                    "address: 0x10}]}\n- {program: vector, vectors: 0x20, instructions: [{id: 2, address: 0x20}]}")
            << "3:3: Interrupt3 has no acknowledge: the vector programs never run after it (end it with "
               "\"- acknowledge\", the editor's INTR row)";
        const char *polling = "events: [Polling]\nprograms:\n- {program: polling, interval: 1 ms, level: 0, "
                              "instructions: [%1]}";
        QTest::newRow("beyond A24") << QString::fromLatin1(polling)
                                           .arg(QLatin1String("{id: 1, address: 0xfffffc, data mode: D32, length: 2}"))
                                           .toUtf8()
                                    << "3:80: the transfer ends at 0x01000003, beyond A24's last address 0x00ffffff: "
                                       "the bus refuses it";
        QTest::newRow("data on a read")
            << QString::fromLatin1(polling).arg(QLatin1String("{id: 1, address: 0x10, data: 5}")).toUtf8()
            << "3:92: \"data\" is ignored on a read";
        QTest::newRow("no 0x") << QString::fromLatin1(polling).arg(QLatin1String("{id: 1, address: 1048576, address mode: A32}")).toUtf8()
                               << "3:80: address \"1048576\" has no \"0x\": it is read as hexadecimal, 0x01048576";
        QTest::newRow("ID twice")
            << text("events: [Polling, Interrupt2]\nprograms:\n- {program: polling, interval: 1 ms, level: 0, "
                    "instructions: [{id: 1, address: 0x10}]}\n- {program: interrupt, level: 2, instructions: "
                    "[{id: 1, address: 0x20}]}")
            << "4:54: ID 1 is also used by Polling: their reports cannot be told apart";
        QTest::newRow("default vector left out")
            << text("events: [Interrupt1]\nprograms:\n- {program: vector, vectors: 0-255, instructions: [{id: 1, "
                    "address: 0x10}]}\n- {program: default vector, instructions: [{id: 2, address: 0x20}]}")
            << "4:3: every vector 0-255 has a program of its own: the default vector program is left out of the "
               "built file";
        // A binary file whose interactive range was widened over its programs' IDs 1 and 2.
        QByteArray widened = vectorAt200File();
        widened[20] = '\x01';
        QTest::newRow("interactive ID") << widened
                                        << "ID 1 lies in the interactive range 1-127: the answers of commands and "
                                           "this program's reports are mixed\nno interrupt level is among the "
                                           "events: Vector3 never runs\nID 2 lies in the interactive range "
                                           "1-127: the answers of commands and this program's reports are mixed";
        QTest::newRow("none") << emptyFile << QString();
    }

    void warnings()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, warnings);
        QList<ProgramWarnings::Warning> found;
        QString refusal;
        QVERIFY2(ProgramWarnings::checkFile(file, QStringLiteral("f"), found, refusal), qPrintable(refusal));
        QStringList texts;
        for (const ProgramWarnings::Warning &w : std::as_const(found))
            texts << w.text();
        QCOMPARE(texts.join(QLatin1Char('\n')), warnings);
    }

    // tarnixctl: show prints either form as the canonical text, build writes the window's bytes,
    // download takes the text; a faulty text is refused with its place before anything is sent.
    void shell()
    {
        QTemporaryDir dir;
        const QString text = dir.filePath("a.txt"), binary = dir.filePath("a.prg"), built = dir.filePath("b.prg"),
                      faulty = dir.filePath("bad.txt");
        QString bad = vectorAt200Full;
        QVERIFY(writeFile(text, vectorAt200Text.toUtf8()) && writeFile(binary, vectorAt200File()) &&
                writeFile(faulty, bad.replace(QStringLiteral("length: 48"), QStringLiteral("length: 64")).toUtf8()));
        for (const QString &in : {text, binary})
            QCOMPARE(ctl({QStringLiteral("program"), QStringLiteral("show"), in}),
                     std::make_tuple(0, vectorAt200Text, QString()));
        QCOMPARE(std::get<0>(ctl({QStringLiteral("program"), QStringLiteral("build"), text, QStringLiteral("-o"), built})), 0);
        QFile f(built);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll().toHex(' '), vectorAt200File().toHex(' '));
        // A binary file refused is named as given; one longer than any saved file is not read.
        const QString cut = dir.filePath("cut.prg"), big = dir.filePath("big.prg");
        QVERIFY(writeFile(cut, vectorAt200File().chopped(2)) && writeFile(big, vectorAt200File() + QByteArray(64 * 1024, 'x')));
        QCOMPARE(ctl({QStringLiteral("program"), QStringLiteral("show"), cut}),
                 std::make_tuple(2, QString(),
                                 QStringLiteral("tarnixctl: \"%1\": Can't read\nThe file ends before its end record.\n")
                                     .arg(cut)));
        QCOMPARE(ctl({QStringLiteral("program"), QStringLiteral("show"), big}),
                 std::make_tuple(2, QString(),
                                 QStringLiteral("tarnixctl: \"%1\": the file holds 66998 bytes, more than the 65536 a "
                                                "program file may hold\n")
                                     .arg(big)));

        // check: the warnings on standard output, 1 with warnings, 0 without, 2 refused; build warns
        // on standard error and writes the file all the same.
        const QString warned = dir.filePath("warned.txt");
        QVERIFY(writeFile(warned, QByteArray("programs: [{program: polling, interval: 1 ms, level: 0, instructions: "
                                             "[{id: 1, address: 0x10}]}]")));
        const QString warning = QStringLiteral("%1:1:12: warning: Polling is not among the events: the polling "
                                               "program never runs\n").arg(warned);
        QCOMPARE(ctl({QStringLiteral("program"), QStringLiteral("check"), warned}), std::make_tuple(1, warning, QString()));
        QCOMPARE(ctl({QStringLiteral("program"), QStringLiteral("check"), QStringLiteral(FIXTURES "/acknowledge.prg")}),
                 std::make_tuple(0, QString(), QString()));
        QCOMPARE(std::get<0>(ctl({QStringLiteral("program"), QStringLiteral("check"), faulty})), 2);
        QCOMPARE(ctl({QStringLiteral("program"), QStringLiteral("build"), warned, QStringLiteral("-o"), built}),
                 std::make_tuple(0, QString(), warning));

        TarnixSimThread module;
        SimConfig config;
        config.tcpPort = config.udpPort = 0;
        QVERIFY2(module.startSim(config), qPrintable(module.errorString()));
        const QStringList aim = QStringLiteral("-a 127.0.0.1 --udp-port %1 --timeout 1500 download")
                                    .arg(module.sim()->udpPort())
                                    .split(' ');
        module.sim()->clearRbcpRequests();
        QCOMPARE(ctl(aim + QStringList{faulty}),
                 std::make_tuple(2, QString(),
                                 QStringLiteral("tarnixctl: %1:9:87: Please set Length(0-63) correctly.\n").arg(faulty)));
        QCOMPARE(module.sim()->rbcpRequests().size(), 0);
        QCOMPARE(std::get<0>(ctl(aim + QStringList{text})), 0);
        QCOMPARE(module.sim()->readRegisters(2048, 272).toHex(' '), vectorAt200Image.toHex(' '));
        QCOMPARE(module.sim()->readRegisters(4, 1), QByteArray(1, '\x1'));
    }

    // The window opens the text as the table of its binary file and saves that file's bytes.
    void windowOpensText()
    {
        QTemporaryDir dir;
        QVERIFY(writeFile(dir.filePath("a.txt"), interruptAt1040Text().toUtf8()));
        Args a({"tarnix2-utility"});
        MainWindow w(a.argc(), a.argv.data());
        ModalAnswerer refusal;
        answerFileDialog(dir.filePath("a.txt"));
        child<QPushButton>(w, "fopen")->click();
        QVERIFY2(!refusal.seen(), qPrintable(refusal.text()));
        QStringList rows;
        for (int r = 0; r < child<QTableWidget>(w, "tableWidget")->rowCount(); ++r)
            rows << child<QTableWidget>(w, "tableWidget")->item(r, 0)->text();
        QCOMPARE(rows, QStringLiteral("Polling Vector(default) Interrupt1 Interrupt2 Interrupt3 Interrupt4 "
                                      "Interrupt5 Interrupt6 Interrupt7").split(' '));
        QCOMPARE(w.checkEvent(), 0x05);
        w.setModified(true);
        answerFileDialog(dir.filePath("b.prg"));
        child<QPushButton>(w, "fsave")->click();
        QFile saved(dir.filePath("b.prg"));
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll().toHex(' '), interruptAt1040File().toHex(' '));

        // A warning shows on its row and on the Download button, without a box.
        w.setEvent(0x04);
        const QString warning = QStringLiteral("Polling is not among the events: the polling program never runs");
        QTRY_COMPARE_WITH_TIMEOUT(child<QTableWidget>(w, "tableWidget")->item(0, 0)->toolTip(), warning, 5000);
        QVERIFY(child<QPushButton>(w, "download")->toolTip().endsWith(QStringLiteral("\nPolling, ") + warning));
        QVERIFY(!refusal.seen());
    }

    // The typical job downloaded into the software module: level 3 raised with vector 0x20 runs the
    // interrupt program and its acknowledge, and then the vector program, whose report arrives.
    void typicalJobRuns()
    {
        TarnixSimThread module;
        SimConfig config;
        config.tcpPort = config.udpPort = 0;
        QVERIFY2(module.startSim(config), qPrintable(module.errorString()));
        const auto [status, out, err] =
            ctl({QStringLiteral("-a"), QStringLiteral("127.0.0.1"), QStringLiteral("--udp-port"),
                 QString::number(module.sim()->udpPort()), QStringLiteral("download"),
                 QStringLiteral(FIXTURES "/typical-job.yaml"), QStringLiteral("--verify")});
        QVERIFY2(status == 0 && out.startsWith(QStringLiteral("verified")), qPrintable(out + err));
        QProcess listen;
        listen.start(QStringLiteral(TARNIXCTL_EXE), {QStringLiteral("-a"), QStringLiteral("127.0.0.1"),
                                                     QStringLiteral("--tcp-port"),
                                                     QString::number(module.sim()->tcpPort()), QStringLiteral("listen")});
        QTRY_COMPARE_WITH_TIMEOUT(module.sim()->connectionCount(), 1, 5000);
        QByteArray reports;
        QTRY_VERIFY_WITH_TIMEOUT((reports += listen.readAllStandardOutput()).contains("ID : 0x03"), 5000);
        QVERIFY(!reports.contains("ID : 0x05"));
        QVERIFY(module.sim()->raiseInterrupt(3, 0x20));
        QTRY_VERIFY_WITH_TIMEOUT((reports += listen.readAllStandardOutput()).contains("ID : 0x05"), 5000);
        listen.kill();
        QVERIFY(listen.waitForFinished(5000));
    }
};

QTEST_MAIN(TestProgramText)
#include "tst_programtext.moc"
