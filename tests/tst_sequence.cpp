// Set-up sequences: faulty files refused with their place before anything is sent, and
// `tarnixctl run` against the software module (writes, checked reads, a status bit polled, a
// program downloaded and enabled, a failing check that stops the run).
#include "sequence.h"
#include "tarnixsim.h"

#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Run
{
    int status = -1;
    QString out, err;
};

const char Program[] = "defaults: {address mode: A32, access mode: User Data, data mode: D32, read/write: Read}\n"
                       "events: [Polling]\n"
                       "programs:\n"
                       "  - program: polling\n"
                       "    interval: 1 ms\n"
                       "    level: 0\n"
                       "    instructions:\n"
                       "      - {id: 1, address: 0x00100000, read/write: Read, data mode: D32, length: 1,"
                       " access mode: User Data, address mode: A32}\n";

// Choices are written as an operator may: without regard to case and spacing.
const char Setup[] = "defaults: {address mode: a32, data mode: D32, access mode: user data}\n"
                     "steps:\n"
                     "  - write: {address: 0x00100000, data: [0x1, 0x2]}\n"
                     "  - read: {address: 0x00100000, count: 2, expect: [0x1, 0x2]}\n"
                     "  - {name: ready, poll: {address: 0x00100010, mask: 0x1, expect: 0x1, timeout: 2 s, interval: 5 ms}}\n"
                     "  - download: adc.yaml\n"
                     "  - enable: [Polling]\n";

} // namespace

class TestSequence : public QObject
{
    Q_OBJECT
    TarnixSimThread module;
    QTemporaryDir dir;

    QString write(const QString &name, const QByteArray &text)
    {
        QFile f(dir.filePath(name));
        if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size())
            return QString();
        return f.fileName();
    }

    Run ctl(const QStringList &args, bool environment = false)
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (environment) {
            env.insert(QStringLiteral("TARNIX_ADDRESS"), QStringLiteral("127.0.0.1"));
            env.insert(QStringLiteral("TARNIX_TCP_PORT"), QString::number(module.sim()->tcpPort()));
            env.insert(QStringLiteral("TARNIX_UDP_PORT"), QString::number(module.sim()->udpPort()));
        }
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(TARNIXCTL_EXE), args);
        Run r;
        if (!p.waitForFinished(20000))
            return p.kill(), p.waitForFinished(1000), r;
        r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
        r.err = QString::fromLocal8Bit(p.readAllStandardError());
        return r;
    }

    QStringList aim() const
    {
        return {QStringLiteral("-a"), QStringLiteral("127.0.0.1"), QStringLiteral("--tcp-port"),
                QString::number(module.sim()->tcpPort()), QStringLiteral("--udp-port"),
                QString::number(module.sim()->udpPort()), QStringLiteral("--timeout"), QStringLiteral("1500")};
    }

private slots:
    void initTestCase()
    {
        QVERIFY(dir.isValid());
        SimConfig config;
        config.tcpPort = config.udpPort = 0;
        SimStatusRegister ready;
        ready.range = {0x00100010, 0x00100013};
        ready.trigger = 0x00100000;
        ready.delayMs = 60;
        config.statusRegisters << ready;
        QVERIFY2(module.startSim(config), qPrintable(module.errorString()));
        QVERIFY(!write(QStringLiteral("adc.yaml"), Program).isEmpty());
    }

    // Each kind of fault once: refused with its file, line and column, and the allowed values
    // named where there is a list of them.
    void faults_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("message");
        const QByteArray head = "defaults: {address mode: A24}\nsteps:\n";
        QTest::newRow("yaml") << QByteArray("steps: [write: {") << "s.yaml:1:";
        QTest::newRow("no steps") << QByteArray("defaults: {data mode: D16}\n") << "s.yaml:1:1: a sequence needs \"steps\"";
        QTest::newRow("unknown step") << head + "  - writ: {address: 0}\n"
                                      << "s.yaml:3:5: unknown step \"writ\"; known: write, read, wait, poll";
        QTest::newRow("two kinds") << head + "  - {write: {address: 0, data: 1}, wait: 1 ms}\n"
                                   << "s.yaml:3:36: a step does one thing";
        QTest::newRow("mode") << head + "  - read: {address: 0, data mode: D64}\n"
                              << "s.yaml:3:35: data mode \"D64\": one of D8, D16, D32";
        QTest::newRow("address beyond A24") << head + "  - read: {address: 0x1000000}\n" << "s.yaml:3:21: \"address\" is a number from 0 to 0xffffff";
        QTest::newRow("misaligned") << head + "  - read: {address: 0x2}\n" << "s.yaml:3:21: a D32 access starts at a multiple of 4";
        QTest::newRow("item too wide") << head + "  - write: {address: 0, data: [1, 0x1ffffffff]}\n"
                                       << "s.yaml:3:35: \"data\" is a number from 0 to 0xffffffff";
        QTest::newRow("expect count") << head + "  - read: {address: 0, count: 3, expect: [1, 2]}\n"
                                      << "s.yaml:3:42: \"expect\" is one value for every item or a list of 3";
        QTest::newRow("duration") << head + "  - wait: 50 min\n" << "s.yaml:3:11: \"wait\" is a time with its unit, s, ms or us";
        QTest::newRow("poll needs timeout") << head + "  - poll: {address: 0, expect: 1}\n" << "s.yaml:3:11: \"poll\" needs \"timeout\"";
        QTest::newRow("settings block") << head + "  - register write: {address: 0xfffffc10, data: [1]}\n"
                                        << "s.yaml:3:31: the access touches the network core's settings block";
        QTest::newRow("enable") << head + "  - enable: [Polling, Interrupt8]\n"
                                << "s.yaml:3:23: \"enable\" is \"stop\" or a list of events";
        QTest::newRow("program file") << head + "  - download: missing.yaml\n" << QStringLiteral("s.yaml:3:15: \"%1/missing.yaml\": Can't open file").arg(dir.path());
        QTest::newRow("second document") << head + "  - wait: 1 ms\n---\nsteps: []\n" << "s.yaml:5:1: a sequence file holds one document";
    }
    void faults()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, message);
        QList<Sequence::Step> steps;
        const auto fault = Sequence::parse(text, dir.filePath(QStringLiteral("s.yaml")), steps);
        QVERIFY(fault);
        QVERIFY2(fault->text().startsWith(dir.path() + QLatin1Char('/')), qPrintable(fault->text()));
        const QString shown = fault->text().mid(dir.path().size() + 1);
        QVERIFY2(shown.startsWith(message), qPrintable(shown));
        QVERIFY(steps.isEmpty());
    }

    // The sequence brings the module up: written, read back, its ready bit polled, the program
    // in and enabled, and its reports follow; the same through the environment's address.
    // A fault anywhere in an included file sends nothing; an include loop is refused.
    void runAgainstModule()
    {
        TarnixSim *sim = module.sim();
        const QString setup = write(QStringLiteral("adc-setup.yaml"), Setup);
        const QString crate = write(QStringLiteral("crate.yaml"), "steps:\n  - include: adc-setup.yaml\n");
        const quint64 before = sim->counters().commandsAnswered;
        QTcpSocket listener;
        listener.connectToHost(QStringLiteral("127.0.0.1"), sim->tcpPort());
        QVERIFY(listener.waitForConnected(5000));
        Run r = ctl(QStringList{QStringLiteral("run"), crate}, true);
        QCOMPARE(r.status, 0);
        QVERIFY2(r.out.startsWith(QStringLiteral("1 write 0x00100000 A32 D32 0x00000001 0x00000002 ok\n"
                                                 "2 read 0x00100000 A32 D32 count 2 expect 0x00000001 0x00000002: "
                                                 "0x00000001 0x00000002 ok\n"
                                                 "3 \"ready\" poll 0x00100010")),
                 qPrintable(r.out));
        QVERIFY2(r.out.contains(QStringLiteral("\n5 enable 0x01 ok\n")), qPrintable(r.out));
        QCOMPARE(sim->readRegisters(4, 1), QByteArray(1, '\x01'));
        // At least one read of the bit before it was set, 60 ms after the write.
        QVERIFY(sim->counters().commandsAnswered - before >= 4);
        QTRY_VERIFY_WITH_TIMEOUT(listener.bytesAvailable() > 0, 5000);
        QVERIFY(ctl(aim() << QStringLiteral("stop")).status == 0);

        write(QStringLiteral("adc-setup.yaml"), QByteArray(Setup).replace("count: 2", "count: 2, data mode: D48"));
        sim->clearRbcpRequests();
        const quint64 answered = sim->counters().commandsAnswered;
        r = ctl(aim() << QStringLiteral("run") << crate);
        QCOMPARE(r.status, 2);
        QVERIFY2(r.err.contains(setup + QStringLiteral(":4:")), qPrintable(r.err));
        QCOMPARE(sim->counters().commandsAnswered, answered);
        QCOMPARE(sim->rbcpRequests().size(), 0);

        write(QStringLiteral("adc-setup.yaml"), "steps:\n  - include: crate.yaml\n");
        r = ctl(aim() << QStringLiteral("run") << crate);
        QCOMPARE(r.status, 2);
        QVERIFY2(r.err.contains(QStringLiteral("includes itself")), qPrintable(r.err));
    }

    // A failing check stops the run at its step with status 1, named with its file and line;
    // nothing after it is sent. A poll whose bit never comes times out the same way.
    void failingChecks_data()
    {
        QTest::addColumn<QByteArray>("check");
        QTest::addColumn<QString>("message");
        QTest::newRow("expect") << QByteArray("  - {name: id, read: {address: 0x00300000, expect: 0x5, mask: 0xf}}\n")
                                << "s.yaml:4:5: step 2 \"id\" (read 0x00300000): at 0x00300000 read 0x000000a3, expected "
                                   "0x00000005 under mask 0x0000000f";
        QTest::newRow("poll") << QByteArray("  - poll: {address: 0x00300000, mask: 0x4, expect: 0x4, timeout: 30 ms}\n")
                              << "s.yaml:4:5: step 2 (poll 0x00300000): no match within 30 ms";
    }
    void failingChecks()
    {
        QFETCH(QByteArray, check);
        QFETCH(QString, message);
        TarnixSim *sim = module.sim();
        sim->writeVme(2, 0x00300004, QByteArray(4, '\0'));
        const QString name = write(QStringLiteral("s.yaml"), "steps:\n  - write: {address: 0x00300000, data: 0xa3}\n"
                                                             "\n" + check +
                                                                 "  - write: {address: 0x00300004, data: 0x1}\n");
        const Run r = ctl(aim() << QStringLiteral("run") << name);
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.startsWith(QStringLiteral("tarnixctl: ") + dir.path() + QLatin1Char('/') + message), qPrintable(r.err));
        QCOMPARE(r.out.count(QLatin1Char('\n')), 1);
        QCOMPARE(sim->readVme(2, 0x00300004, 4), QByteArray(4, '\0'));
    }
};

QTEST_GUILESS_MAIN(TestSequence)
#include "tst_sequence.moc"
