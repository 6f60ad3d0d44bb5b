// The window runs a set-up sequence through its own connection and RBCP worker: the same
// register writes in the same order as tarnixctl run, the same VME memory, each step in the
// log, and its controls locked while it runs.
#include "cmdargs.h"
#include "mainwindow.h"
#include "namedchild.h"
#include "tarnixsim.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const char Program[] = "defaults: {address mode: A32, access mode: User Data, data mode: D32, read/write: Read}\n"
                       "events: [Polling]\n"
                       "programs:\n"
                       "  - program: polling\n"
                       "    interval: 50 ms\n"
                       "    level: 0\n"
                       "    instructions:\n"
                       "      - {id: 1, address: 0x00100000, read/write: Read, data mode: D32, length: 1,"
                       " access mode: User Data, address mode: A32}\n";

const char Setup[] = "steps:\n"
                     "  - enable: stop\n"
                     "  - write: {address: 0x00100000, data: [0x1, 0x2]}\n"
                     "  - read: {address: 0x00100000, count: 2, expect: [0x1, 0x2]}\n"
                     "  - poll: {address: 0x00100010, mask: 0x1, expect: 0x1, timeout: 2 s, interval: 5 ms}\n"
                     "  - register write: {address: 0x00000100, data: [0x12, 0x34]}\n"
                     "  - download: programs.yaml\n"
                     "  - write: {address: 0x00200000, data: 0xa, data mode: D16, address mode: A24}\n";

} // namespace

class TestSequenceWindow : public QObject
{
    Q_OBJECT
    TarnixSimThread module;
    QTemporaryDir dir;

    // Register writes of the module's log: address and bytes, in order.
    QStringList registerWrites()
    {
        QStringList writes;
        for (const SimRbcpRequest &r : module.sim()->rbcpRequests()) {
            if (r.write)
                writes << QStringLiteral("%1+%2").arg(r.address, 0, 16).arg(r.length);
        }
        return writes;
    }

private slots:
    void sameAsTarnixctl()
    {
        SimConfig config;
        config.tcpPort = config.udpPort = 0;
        SimStatusRegister ready;
        ready.range = {0x00100010, 0x00100013};
        ready.trigger = 0x00100000;
        ready.delayMs = 40;
        config.statusRegisters << ready;
        QVERIFY(module.startSim(config));
        TarnixSim *sim = module.sim();
        for (const auto &[name, text] : {std::pair{"programs.yaml", Program}, std::pair{"setup.yaml", Setup}}) {
            QFile f(dir.filePath(QLatin1String(name)));
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(text) == qint64(qstrlen(text)));
        }
        const QString file = dir.filePath(QStringLiteral("setup.yaml"));

        sim->clearRbcpRequests();
        QProcess ctl;
        ctl.start(QStringLiteral(TARNIXCTL_EXE), {QStringLiteral("-a"), QStringLiteral("127.0.0.1"), QStringLiteral("--tcp-port"),
                                                  QString::number(sim->tcpPort()), QStringLiteral("--udp-port"),
                                                  QString::number(sim->udpPort()), QStringLiteral("run"), file});
        QVERIFY(ctl.waitForFinished(20000));
        QCOMPARE(ctl.exitCode(), 0);
        const QStringList lines = QString::fromLocal8Bit(ctl.readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        const QStringList expected = registerWrites();
        const QByteArray vme = sim->readVme(2, 0x00100000, 8) + sim->readVme(1, 0x00200000, 2);
        sim->writeVme(2, 0x00100000, QByteArray(8, '\0'));
        sim->writeVme(1, 0x00200000, QByteArray(2, '\0'));
        sim->writeRegisters(0x100, QByteArray(2, '\0'));

        Args a({"tarnix2-utility"});
        MainWindow w(a.argc(), a.argv.data());
        child<QLineEdit>(w, "address")->setText(QStringLiteral("127.0.0.1"));
        child<QLineEdit>(w, "tcp")->setText(QString::number(sim->tcpPort()));
        child<QLineEdit>(w, "udp")->setText(QString::number(sim->udpPort()));
        child<QPushButton>(w, "read")->click();
        QTRY_VERIFY_WITH_TIMEOUT(child<QPushButton>(w, "download")->isEnabled(), 10000);
        child<QPushButton>(w, "connect")->click();
        QTRY_VERIFY_WITH_TIMEOUT(w.statusBar()->currentMessage() == QStringLiteral("connected"), 10000);
        sim->clearRbcpRequests();

        QVERIFY(w.runSequence(file));
        QVERIFY(w.sequenceRunning());
        QVERIFY(!child<QPushButton>(w, "download")->isEnabled());
        QVERIFY(!child<QPushButton>(w, "runSequence")->isEnabled());
        QVERIFY(child<QPushButton>(w, "stopSequence")->isEnabled());
        QVERIFY(w.statusBar()->currentMessage().contains(QStringLiteral("of 7")));
        QTRY_VERIFY_WITH_TIMEOUT(!w.sequenceRunning(), 10000);
        QVERIFY(child<QPushButton>(w, "download")->isEnabled());
        QVERIFY(child<QPushButton>(w, "runSequence")->isEnabled());

        QCOMPARE(registerWrites(), expected);
        QCOMPARE(sim->readVme(2, 0x00100000, 8) + sim->readVme(1, 0x00200000, 2), vme);
        QCOMPARE(sim->readRegisters(0x100, 2), QByteArray("\x12\x34"));
        const QString log = child<QPlainTextEdit>(w, "log")->toPlainText();
        for (const QString &line : lines) {
            const QString same = QString(line).replace(QStringLiteral("verified"), QStringLiteral("written"));
            QVERIFY2(log.contains(same), qPrintable(same + QStringLiteral("\n---\n") + log));
        }
        QVERIFY2(log.contains(QStringLiteral("7 steps done")), qPrintable(log));

        // Stop ends the run before the next step; the controls come back.
        QVERIFY(w.runSequence(file));
        child<QPushButton>(w, "stopSequence")->click();
        QTRY_VERIFY_WITH_TIMEOUT(!w.sequenceRunning(), 10000);
        const QString stopped = child<QPlainTextEdit>(w, "log")->toPlainText();
        QVERIFY2(stopped.contains(QStringLiteral("stopped before step 2 of 7")), qPrintable(stopped.right(300)));
        QVERIFY(child<QPushButton>(w, "runSequence")->isEnabled() && child<QPushButton>(w, "download")->isEnabled());
    }
};

QTEST_MAIN(TestSequenceWindow)
#include "tst_sequencewindow.moc"
