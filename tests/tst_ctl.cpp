// tarnixctl as an operator runs it: the executable against the software module, exit status,
// standard output and standard error of every command.
#include "fakehost.h"
#include "programfile.h"
#include "programlayout.h"
#include "programtablefixture.h"
#include "tarnixsim.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Run
{
    int status = -1;
    QString out, err;
};

Run ctl(const QStringList &args, int waitMs = 20000)
{
    QProcess p;
    p.start(qEnvironmentVariable("TARNIXCTL", QStringLiteral(TARNIXCTL_EXE)), args);
    Run r;
    const bool finished = p.waitForFinished(waitMs);
    if (!finished)
        p.kill(), p.waitForFinished(1000);
    r.status = finished && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    if (r.status == -1) // says why in a failure: not started, timed out or crashed
        r.err += QStringLiteral("\n[tarnixctl: %1]").arg(p.errorString());
    return r;
}

QStringList aim(quint16 tcp, quint16 udp)
{
    return QStringLiteral("-a 127.0.0.1 --tcp-port %1 --udp-port %2 --timeout 1500").arg(tcp).arg(udp).split(' ');
}

QStringList aim(const TarnixSimThread &m) { return aim(m.sim()->tcpPort(), m.sim()->udpPort()); }

// A second module that greets every connection with a burst of reports.
bool reporter(TarnixSimThread &m, qint64 count, int items = 1, qint64 corruptPacket = 0)
{
    SimConfig config;
    config.tcpPort = config.udpPort = 0;
    config.reportsOnConnect = true;
    config.reports.count = count;
    config.reports.items = items;
    config.reports.flowId = 0x123;
    config.reports.level = 5;
    config.reports.address = 0x10;
    config.faults.tcpCorruptCrcPacket = corruptPacket;
    return m.startSim(config);
}

} // namespace

class TestCtl : public QObject
{
    Q_OBJECT
    TarnixSimThread module;
    QTemporaryDir dir;

private slots:
    void initTestCase()
    {
        SimConfig config;
        config.tcpPort = config.udpPort = 0;
        SimUnmapped hole;
        hole.range = {0x00800000, 0x008FFFFF};
        config.unmapped << hole;
        QVERIFY2(module.startSim(config), qPrintable(module.errorString()));
        QVERIFY(dir.isValid());
    }

    // Every command against the module: its exit status and what it prints. Bad arguments are
    // checked before anything is sent: they are aimed at a port where nothing listens, so any
    // attempt to reach the module would end with status 3 instead of 2.
    void commands_data()
    {
        QTest::addColumn<QString>("args");
        QTest::addColumn<int>("aimed"); // 1 at the module, 0 at nothing, -1 no target at all
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");
        auto row = [](const char *name, const char *args, int aimed, int status, const char *out, const char *err) {
            QTest::newRow(name) << args << aimed << status << out << err;
        };
        row("info", "info", 1, 0, "IP Address : 127.00.00.01\n", "");
        row("info version", "info", 1, 0,
            "---------------------------------------------\nFPGA Version : 01020AFF\n"
            "---------------------------------------------\n", "");
        row("write D32", "write 0x1000 0x11223344 0xAABBCCDD", 1, 0, "", "");
        row("read back", "read 0x1000 2", 1, 0, "[0x00001000] 11223344 AABBCCDD \n", "");
        row("read D8 octal count", "read 0x1001 03 --data-mode D8", 1, 0, "[0x00001001] 22 33 44 \n", "");
        row("write D16 echo", "write 0x2002 0xBEEF 7 --data-mode d16 --echo --address-mode A24", 1, 0,
            "[0x00002002] BEEF 0007 \n", "");
        // 130 D16 items take two commands (127 + 3): the second starts at 0x20FE.
        row("write across", "write 0x20FC 0x1234 0x5678 0x9ABC --data-mode D16 --address-mode A24", 1, 0, "", "");
        row("read across", "read 0x2000 130 --data-mode D16 --address-mode A24", 1, 0,
            "[0x000020f8] 0000 0000 1234 5678 \n[0x00002100] 9ABC 0000 \n", "");
        row("vme error", "read 0x800000", 1, 1, "", "VME error (MODE:0x0a04) at 0x00800000");
        row("stop", "stop", 1, 0, "", "");
        row("misaligned", "read 0x1002", 0, 2, "", "The address must be 4byte aligned.");
        row("bad address", "read 0x1g", 0, 2, "", "bad address");
        row("address too big", "read 0x100000000", 0, 2, "", "bad address");
        row("item too big", "write 0 0x100 --data-mode D8", 0, 2, "", "is not a 8-bit item");
        row("bad count", "read 0 0", 0, 2, "", "bad count");
        row("binary count", "read 0 0b11", 0, 2, "", "bad count");
        row("bad mode", "read 0 --data-mode D64", 0, 2, "", "bad value \"D64\" for --data-mode");
        row("bad access", "read 0 --access INTR", 0, 2, "", "bad value \"INTR\" for --access");
        row("unknown command", "frob", 0, 2, "", "unknown command");
        row("no module", "read 0", 0, 3, "", "cannot connect");
        row("no target", "info", -1, 2, "", "no target");
        // The address mode's range holds the last item too; a fixed address touches one item.
        row("A16 last item", "read 0xFFFC 2 --address-mode A16", 0, 2, "", "ends at 0x10003, beyond A16");
        row("A24 last item", "write 0xFFFFFE 1 2 --address-mode A24 --data-mode D16", 0, 2, "", "beyond A24");
        row("A16 top", "read 0xFFFC --address-mode A16", 1, 0, "[0x0000fffc] 00000000 \n", "");
        // 64 items take two commands; with a fixed address both go to 0x3000, the last item wins.
        row("write fixed", "write 0x3000 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21 22 23 24 25 26 27 "
            "28 29 30 31 32 33 34 35 36 37 38 39 40 41 42 43 44 45 46 47 48 49 50 51 52 53 54 55 56 57 58 59 60 61 "
            "62 63 64 --access Fixed_Address_and_User_Data", 1, 0, "", "");
        row("read fixed", "read 0x3000", 1, 0, "[0x00003000] 00000040 \n", "");
        row("count on read", "read 0 --count 4", 0, 2, "", "--count does not apply to read");
        row("raw on read", "read 0 --raw x", 0, 2, "", "--raw does not apply to read");
        row("target on decode", "decode x", 0, 2, "", "--target does not apply to decode");
        row("seconds nan", "listen --seconds nan", 0, 2, "", "bad value \"nan\" for --seconds");
        row("seconds inf", "listen --seconds inf", 0, 2, "", "bad value");
        row("seconds huge", "listen --seconds 1e300", 0, 2, "", "bad value");
        row("seconds 0", "listen --seconds 0", 0, 2, "", "bad value");
        row("id range", "read 0 --id-range 200-100", 0, 2, "", "bad value \"200-100\" for --id-range");
        row("tcp port 0", "read 0 --tcp-port 0", 0, 2, "", "bad value \"0\" for --tcp-port");
        row("udp port 0", "info --udp-port 0", 0, 2, "", "bad value \"0\" for --udp-port");
        // RBCP commands against a port where nothing answers: one line, status 3.
        row("info silent", "info --timeout 100", 0, 3, "", "tarnixctl: ");
        row("stop silent", "stop --timeout 100", 0, 3, "", "tarnixctl: ");
    }

    void commands()
    {
        QFETCH(QString, args);
        QFETCH(int, aimed);
        // Nothing listens on port 1 of the loopback.
        const QStringList target = aimed > 0 ? aim(module) : aimed == 0 ? aim(1, 1) : QStringList();
        QStringList words = args.split(' ');
        words.replaceInStrings(QStringLiteral("_"), QStringLiteral(" "));
        const Run r = ctl(target + words);
        QTEST(r.status, "status");
        if (r.status == 3)
            QCOMPARE(r.err.count(QLatin1Char('\n')), 1);
        QFETCH(QString, out);
        QFETCH(QString, err);
        QVERIFY2(r.out.contains(out), qPrintable(r.out));
        QVERIFY2(r.err.contains(err), qPrintable(r.err));
    }

    // Commands on a connection where a program reports with ID 128 as fast as the socket takes
    // it: answers are told from reports by ID and mode word, the IDs wrap inside --id-range, a
    // module that stays silent ends the command at --timeout, and data that came before a
    // broken header is printed before the error.
    void amidReports_data()
    {
        QTest::addColumn<QString>("args");
        QTest::addColumn<int>("fault"); // 0 none, 1 commands unanswered, 2 the second packet's CRC broken
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");
        QString zeros; // 130 D32 items from 0x1000 after the two written
        for (int row = 1; row < 65; ++row)
            zeros += QStringLiteral("[0x%1] 00000000 00000000 \n").arg(0x1000 + 8 * row, 8, 16, QLatin1Char('0'));
        const QString written = QStringLiteral("[0x00001000] 11223344 AABBCCDD \n");
        QTest::newRow("read D16") << "read 0x1000 2 --data-mode D16" << 0 << 0 << "[0x00001000] 1122 3344 \n" << "";
        QTest::newRow("ids wrap in range") << "read 0x1000 130 --id-range 129-130" << 0 << 0 << written + zeros << "";
        QTest::newRow("write unmapped") << "write 0x800000 1" << 0 << 1 << "" << "VME error (MODE:0x8a04)";
        QTest::newRow("read unanswered") << "read 0x1000 --timeout 300 --data-mode D16" << 1 << 3 << "" << "no answer";
        QTest::newRow("write unanswered") << "write 0x1000 1 --timeout 300" << 1 << 3 << "" << "no answer";
        QTest::newRow("cut by CRC") << "read 0x1000 200" << 2 << 3 << written + zeros.left(zeros.indexOf("[0x000010f8]")) + "[0x000010f8] 00000000 \n"
                                    << "CRC error";
    }

    void amidReports()
    {
        QFETCH(QString, args);
        QFETCH(int, fault);
        SimConfig config;
        config.tcpPort = config.udpPort = 0;
        config.reportsOnConnect = fault < 2;
        config.reports.count = 0;
        config.reports.id = 128;
        config.faults.tcpNoAnswers = fault == 1;
        config.faults.tcpCorruptCrcPacket = fault == 2 ? 2 : 0;
        SimUnmapped hole;
        hole.range = {0x00800000, 0x008FFFFF};
        config.unmapped << hole;
        TarnixSimThread m;
        QVERIFY(m.startSim(config));
        m.sim()->writeVme(2, 0x1000, QByteArray::fromHex("11223344AABBCCDD"));
        // Far beyond any --timeout here: a command that outlives it has missed its deadline.
        const Run r = ctl(aim(m) + args.split(' '), 5000);
        QTEST(r.status, "status");
        QTEST(r.out, "out");
        QFETCH(QString, err);
        QVERIFY2(r.err.contains(err), qPrintable(r.err));
    }

    // A burst of reports taken as text, taken raw and decoded offline: the same text, report by
    // report as the received-data log shows it.
    void listenRawThenDecode()
    {
        TarnixSimThread m;
        QVERIFY(reporter(m, 0, 3));
        const QString raw = dir.filePath(QStringLiteral("capture.raw"));
        const QStringList listen{QStringLiteral("listen"), QStringLiteral("--count"), QStringLiteral("500")};
        const Run text = ctl(aim(m) + listen);
        const Run saved = ctl(aim(m) + listen + QStringList{QStringLiteral("--raw"), raw});
        QCOMPARE(text.status, 0);
        QCOMPARE(saved.status, 0);
        QCOMPARE(QFileInfo(raw).size(), 500 * (12 + 12));
        QVERIFY(saved.err.contains(QStringLiteral("500 reports, 12000 bytes")));
        const Run decoded = ctl({QStringLiteral("decode"), raw});
        QCOMPARE(decoded.status, 0);
        QCOMPARE(decoded.out, text.out);
        QVERIFY(text.out.startsWith(QString(63, QLatin1Char('-')) + "\nAddress : 0x00000010\nLength : 3\nPriority Level : 5 (Polling)\n"));
        QCOMPARE(text.out.count(QStringLiteral("Address : ")), 500);
        QVERIFY(text.out.contains(QStringLiteral("[0x00000010]:00 00 01 f3")));

        // A capture cut inside a packet, or with a broken header: the reports before it, then
        // the refusal.
        QFile f(raw);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.resize(499 * 24 + 19));
        Run torn = ctl({QStringLiteral("decode"), raw});
        QCOMPARE(torn.status, 1);
        QCOMPARE(torn.out.count(QStringLiteral("Address : ")), 499);
        QVERIFY2(torn.err.contains(QStringLiteral("19 bytes at the end are not a whole packet")), qPrintable(torn.err));
        QVERIFY(f.seek(2 * 24 + 11) && f.putChar('\x55'));
        f.close();
        torn = ctl({QStringLiteral("decode"), raw});
        QCOMPARE(torn.out.count(QStringLiteral("Address : ")), 2);
        QVERIFY2(torn.err.contains(QStringLiteral("CRC error in the header at byte 48")), qPrintable(torn.err));

        // An earlier capture survives a port where nothing listens, and is replaced only with --force.
        const QStringList again = listen + QStringList{QStringLiteral("--raw"), raw};
        QCOMPARE(ctl(aim(1, 1) + again + QStringList{QStringLiteral("--force")}).status, 3);
        QCOMPARE(ctl(aim(m) + again).status, 2);
        QCOMPARE(QFileInfo(raw).size(), 499 * 24 + 19);
        QCOMPARE(ctl(aim(m) + again + QStringList{QStringLiteral("--force")}).status, 0);
        QCOMPARE(QFileInfo(raw).size(), 500 * 24);
    }

    // A peer whose stream breaks: every good report before the bad header is written, then
    // status 3 with the CRC error in the summary.
    void listenStopsAtCrcError()
    {
        TarnixSimThread m;
        QVERIFY(reporter(m, 10, 1, 4));
        const Run r = ctl(aim(m) << QStringLiteral("listen"));
        QCOMPARE(r.status, 3);
        QCOMPARE(r.out.count(QStringLiteral("Address : ")), 3);
        QVERIFY(r.err.contains(QStringLiteral("3 reports")) && r.err.contains(QStringLiteral("1 CRC errors")));
    }

    // Ctrl-C (or a kill) ends listen cleanly: status 0 and the summary of what came.
    void listenEndsOnSignal()
    {
        TarnixSimThread m;
        QVERIFY(reporter(m, 7));
        // A fraction of a second is listened to as such.
        const Run timed = ctl(aim(m) << QStringLiteral("listen") << QStringLiteral("--seconds") << QStringLiteral("0.5"));
        QCOMPARE(timed.status, 0);
        QVERIFY2(timed.err.contains(QStringLiteral("7 reports, 112 bytes")), qPrintable(timed.err));
        QProcess p;
        p.start(QStringLiteral(TARNIXCTL_EXE), aim(m) << QStringLiteral("listen"));
        QString out;
        QTRY_VERIFY_WITH_TIMEOUT((out += QString::fromLocal8Bit(p.readAllStandardOutput())).count("ID : 0x05") == 7, 10000);
        p.terminate();
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 0);
        QVERIFY(QString::fromLocal8Bit(p.readAllStandardError()).contains(QStringLiteral("7 reports, 112 bytes")));
    }

    // A program file as the window saves it (a polling program, vectors 1 and 3, an interrupt
    // program of level 2; polling and level 2 enabled) goes into the module as the window's
    // download writes it; --verify reads it back; a register that does not take its byte is
    // named; a damaged file is refused before anything is written.
    void download()
    {
        FakeHost host;
        const QList<VmeProgram *> table = programs(QStringLiteral("0:2::000186a0 2:1:3:0103 -2:1::a"), host);
        ModuleMemory memory;
        const ProgramLayout::Result laid = ProgramLayout(&host).lay(table, 0x05, memory);
        qDeleteAll(table);
        qDeleteAll(laid.added);
        QVERIFY(laid.ok());
        const QByteArray bytes = ProgramFile::encode(memory, {2, 0, 2, 0}, 0x05, 128, 255);
        const QString good = dir.filePath(QStringLiteral("programs.bin")), torn = dir.filePath(QStringLiteral("torn.bin"));
        for (const auto &[name, size] : {std::pair{good, bytes.size()}, std::pair{torn, bytes.size() - 3}}) {
            QFile f(name);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(bytes.left(size)) == size);
        }

        TarnixSim *sim = module.sim();
        sim->writeRegisters(4, QByteArray(1, '\x7'));
        sim->clearRbcpRequests();
        Run r = ctl(aim(module) << QStringLiteral("download") << torn);
        QCOMPARE(r.status, 2);
        QVERIFY2(r.err.contains(QStringLiteral("Can't read")), qPrintable(r.err));
        QCOMPARE(sim->rbcpRequests().size(), 0);

        r = ctl(aim(module) << QStringLiteral("download") << good << QStringLiteral("--verify"));
        QCOMPARE(r.status, 0);
        // The module has its 100 ms after the stop before the first table changes.
        const QVector<SimRbcpRequest> sent = sim->rbcpRequests();
        QVERIFY(sent.size() >= 2 && sent.at(0).write && sent.at(0).address == 4 && sent.at(1).address == 6);
        QVERIFY2(sent.at(1).arrivedNs - sent.at(0).arrivedNs >= 100'000'000,
                 qPrintable(QString::number(sent.at(1).arrivedNs - sent.at(0).arrivedNs)));
        QCOMPARE(sim->readRegisters(4, 1), QByteArray(1, '\x5'));
        QCOMPARE(sim->readRegisters(6, 1), QByteArray(1, char(memory.pollLevel)));
        QCOMPARE(sim->readRegisters(12, 20), memory.interval + memory.startTable + memory.countTable);
        QCOMPARE(sim->readRegisters(1024, 1024 + int(memory.image.size())), memory.vectorTable + memory.image);
        QVERIFY(r.out.contains(QStringLiteral("verified %1 bytes").arg(1 + 20 + 1024 + memory.image.size() + 1)));

        // A byte that does not stick: before the mask the programs stay stopped; the mask itself
        // is read back too.
        const QList<std::pair<quint32, QString>> lost = {
            {2048 + 9, QStringLiteral("verify: byte at 0x00000809 is 0x42, written 0x%1; the module's programs stay "
                                      "stopped\n").arg(quint8(memory.image.at(9)), 2, 16, QLatin1Char('0'))},
            {6, QStringLiteral("verify: byte at 0x00000006 is 0x42, written 0x%1; the module's programs stay stopped\n")
                    .arg(memory.pollLevel, 2, 16, QLatin1Char('0'))},
            {4, QStringLiteral("verify: byte at 0x00000004 is 0x42, written 0x05\n")}};
        for (const auto &[address, text] : lost) {
            sim->writeRegisters(address, QByteArray(1, '\x42'));
            SimFaults faults;
            faults.rbcpLostWrites = {{address, address}};
            sim->setFaults(faults);
            r = ctl(aim(module) << QStringLiteral("download") << good << QStringLiteral("--verify"));
            sim->setFaults(SimFaults());
            QCOMPARE(r.status, 1);
            QVERIFY2(r.err.endsWith(text), qPrintable(r.err));
            QCOMPARE(sim->readRegisters(4, 1), QByteArray(1, address == 4 ? '\x42' : '\0'));
        }
        sim->writeRegisters(4, QByteArray(1, '\0'));

        // Against a port where nothing answers: one line, status 3.
        r = ctl(aim(module.sim()->tcpPort(), 1) << QStringLiteral("download") << good << QStringLiteral("--timeout")
                                                << QStringLiteral("100"));
        QCOMPARE(r.status, 3);
        // The table's warning (level 2 without acknowledge, a vector program) comes first.
        QCOMPARE(r.err.count(QLatin1Char('\n')) - r.err.count(QStringLiteral(": warning: ")), 1);
    }

    // A program image over 2048 bytes is refused before anything is sent.
    void downloadRefusesLargeImage()
    {
        FakeHost host;
        ModuleMemory memory;
        for (int reads = 200; memory.image.size() <= ModuleMemory::ImageLimit; ++reads) {
            memory = ModuleMemory();
            const QList<VmeProgram *> table = programs(QStringLiteral("0:%1").arg(reads), host);
            qDeleteAll(ProgramLayout(&host).lay(table, 0x01, memory).added);
            qDeleteAll(table);
        }
        QVERIFY(memory.image.size() <= ModuleMemory::ImageLimit + 8);
        const QString name = dir.filePath(QStringLiteral("large.bin"));
        QFile f(name);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(ProgramFile::encode(memory, {2, 0, 2, 0}, 0x01, 128, 255));
        f.close();
        module.sim()->clearRbcpRequests();
        const Run r = ctl(aim(module) << QStringLiteral("download") << name);
        QCOMPARE(r.status, 2);
        QVERIFY2(r.err.contains(QStringLiteral("more than")), qPrintable(r.err)); // the file or its image
        QCOMPARE(module.sim()->rbcpRequests().size(), 0);
    }

    // scan against a crate whose slaves sit at the first and the last step of every address
    // mode, and which sends reports of ID 128 (Read D32 A32) all the while: answers are told
    // from them by ID and mode word. Then scans that end early: the addresses found before
    // are printed. Bad arguments are aimed at nothing (status 2: nothing was sent).
    void scan_data()
    {
        QTest::addColumn<QString>("target"); // crate, module or nothing
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");
        auto row = [](const char *name, const char *target, const char *fault, const char *args, int status,
                      const QString &out, const char *err) {
            QTest::newRow(name) << target << fault << args << status << out << err;
        };
        row("A16 lone addresses, ranges", "crate", "", "scan --address-mode A16 --ranges", 0,
            "0x00000000 A16 D16 0xa160\n0x00001200 A16 D16 0x0000\n0x0000ff00 A16 D16 0x0000\n",
            "256 addresses tried, 3 answering");
        row("A24 one ID", "crate", "", "scan --id-range 250-250", 0,
            "0x00000000 A24 D16 0x0000\n0x00300000 A24 D16 0x3000\n0x00310000 A24 D16 0x3100\n"
            "0x00ff0000 A24 D16 0x0000\n", "256 addresses tried, 4 answering");
        row("A24 ranges, three IDs", "crate", "", "scan --ranges --step 0x8000 --id-range 250-252", 0,
            "0x00000000-0x0000ffff A24 D16 2 addresses\n0x00300000-0x0031ffff A24 D16 4 addresses\n"
            "0x00ff0000-0x00ffffff A24 D16 2 addresses\n", "512 addresses tried, 8 answering");
        // The reports' own mode: only the ID range keeps them apart.
        row("A32 D32 at an offset", "crate", "",
            "scan --address-mode A32 --data-mode D32 --step 0x1000000 --offset 0xFFFFFC --id-range 200-210", 0,
            "0x00000000 A32 D32 0x00000000\n0x12000000 A32 D32 0x00000000\n0xff000000 A32 D32 0xcafef00d\n",
            "256 addresses tried, 3 answering");
        QString hundred;
        for (int i = 0; i < 100; ++i)
            hundred += QStringLiteral("0x%1 A24 D16 0x0000\n").arg(i << 16, 8, 16, QLatin1Char('0'));
        row("parameter error", "module", "param", "scan --offset 2", 1, hundred,
            "100 addresses tried|parameter error (MODE:0x0501) at 0x00640002");
        row("keep going", "module", "param", "scan --keep-going --to 0x660000", 1,
            hundred + "0x00650000 A24 D16 0x0000\n0x00660000 A24 D16 0x0000\n",
            "(MODE:0x0501) at 0x00640000\n|103 addresses tried, 102 answering|1 of the addresses refused");
        row("connection dropped", "module", "close", "scan", 3, hundred, "the module closed the connection");
        row("module silent", "module", "mute", "scan --timeout 1000", 3, hundred,
            "100 addresses tried|no answer from the module for the read at 0x00640000");
        row("step misaligned", "nothing", "", "scan --step 0x10001", 2, "", "2byte aligned");
        row("offset misaligned", "nothing", "", "scan --offset 1", 2, "", "2byte aligned");
        row("beyond A16", "nothing", "", "scan --address-mode A16 --to 0x10000", 2, "", "bad value \"0x10000\" for --to");
        row("read leaves A16", "nothing", "", "scan --address-mode A16 --offset 0x100", 2, "", "leaves the A16 space");
        row("from after to", "nothing", "", "scan --from 0x20000 --to 0x10000", 2, "", "lies after --to");
        row("scan option on read", "nothing", "", "read 0 --step 4", 2, "", "--step does not apply to read");
    }

    void scan()
    {
        QFETCH(QString, target);
        QFETCH(QString, fault);
        QFETCH(QString, args);
        TarnixSimThread crate;
        QStringList aimed = aim(1, 1);
        if (target == QLatin1String("crate")) {
            SimConfig config;
            config.tcpPort = config.udpPort = 0;
            config.slaves = {{SimA16, {0, 0xFF}}, {SimA16, {0x1200, 0x12FF}}, {SimA16, {0xFF00, 0xFFFF}},
                             {SimA24, {0, 0xFFFF}}, {SimA24, {0x300000, 0x31FFFF}}, {SimA24, {0xFF0000, 0xFFFFFF}},
                             {SimA32, {0, 0xFFFFFF}}, {SimA32, {0x12000000, 0x12FFFFFF}},
                             {SimA32, {0xFF000000, 0xFFFFFFFF}}};
            config.reportsOnConnect = true;
            config.reports.count = 0; // until the scan disconnects
            config.reports.rate = 50000;
            config.reports.id = 128;
            QVERIFY(crate.startSim(config));
            crate.sim()->writeVme(SimA16, 0, QByteArray::fromHex("a160"));
            crate.sim()->writeVme(SimA24, 0x300000, QByteArray::fromHex("3000"));
            crate.sim()->writeVme(SimA24, 0x310000, QByteArray::fromHex("3100"));
            crate.sim()->writeVme(SimA32, 0xFFFFFFFC, QByteArray::fromHex("cafef00d"));
            aimed = aim(crate);
        } else if (target == QLatin1String("module")) {
            // The 101st step (0x640000) is refused, or its answer never comes.
            SimFaults faults;
            if (fault == QLatin1String("param"))
                faults.vmeParamErrors = {{SimA24, {0x640000, 0x640003}}};
            else if (fault == QLatin1String("close"))
                faults.tcpCloseAfterPackets = 100;
            else
                faults.tcpMuteAfterPackets = 100;
            module.sim()->setFaults(faults);
            aimed = aim(module);
        }
        const Run r = ctl(aimed + args.split(' '));
        module.sim()->setFaults(SimFaults());
        QFETCH(int, status);
        QVERIFY2(r.status == status, qPrintable(QStringLiteral("status %1, stderr: %2").arg(r.status).arg(r.err)));
        QTEST(r.out, "out");
        QFETCH(QString, err);
        for (const QString &part : err.split(QLatin1Char('|')))
            QVERIFY2(r.err.contains(part), qPrintable(r.err));
    }

    // Every RBCP reply behind a stale copy: an attempt of 100 ms still takes the right one.
    void rbcpStaleReplies()
    {
        SimFaults faults;
        faults.rbcpStaleId = true;
        module.sim()->setFaults(faults);
        const Run r = ctl(aim(module) << QStringLiteral("info") << QStringLiteral("--timeout") << QStringLiteral("100"));
        module.sim()->setFaults(SimFaults());
        QCOMPARE(r.status, 0);
        QVERIFY2(r.out.contains(QStringLiteral("FPGA Version : 01020AFF")), qPrintable(r.err));
    }
};

QTEST_GUILESS_MAIN(TestCtl)
#include "tst_ctl.moc"
