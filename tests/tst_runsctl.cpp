// Runs from a shell: tarnixctl record against the software module, decode and run-info of what
// it wrote, the module replaying the run, and tshark reading it through the docs' dissector.
#include "simreplay.h"
#include "tarnixsim.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace {

struct Run
{
    int status = -1;
    QString out, err;
};

Run exec(const QString &program, const QStringList &args, const QString &input = QString())
{
    QProcess p;
    if (!input.isEmpty())
        p.setStandardInputFile(input);
    p.start(program, args);
    Run r;
    if (!p.waitForFinished(60000))
        return p.kill(), p.waitForFinished(1000), r;
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

Run ctl(const QStringList &args, const QString &input = QString())
{
    return exec(QStringLiteral(TARNIXCTL_EXE), args, input);
}

QStringList aim(const TarnixSimThread &m)
{
    return {QStringLiteral("-a"), QStringLiteral("127.0.0.1"), QStringLiteral("--tcp-port"),
            QString::number(m.sim()->tcpPort()), QStringLiteral("--udp-port"), QString::number(m.sim()->udpPort())};
}

// The CSV's lines without the time column.
QStringList withoutTime(const QString &csv)
{
    QStringList out;
    for (const QString &line : csv.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        out << line.section(QLatin1Char(','), 1);
    return out;
}

constexpr int Count = 3000;

} // namespace

class TestRunsCtl : public QObject
{
    Q_OBJECT
    QTemporaryDir dir;
    QString run;

private slots:
    // A known stream of numbered reports recorded from a shell reads back whole and in order,
    // with time stamps in order, from the file and from standard input.
    void recordAndDecode()
    {
        TarnixSimThread m;
        SimConfig config;
        config.tcpPort = config.udpPort = 0;
        config.reportsOnConnect = true;
        config.reports.count = 0; // until the recorder goes
        config.reports.items = 2;
        config.reports.level = 5;
        config.reports.flowId = 0x123;
        config.reports.address = 0x10;
        QVERIFY(m.startSim(config));
        run = dir.filePath(QStringLiteral("run.pcapng"));
        const Run r = ctl(aim(m) + QStringList{QStringLiteral("record"), QStringLiteral("--count"), QString::number(Count), run});
        QCOMPARE(r.status, 0);
        QVERIFY2(r.err.contains(QStringLiteral("%1 reports, %2 bytes").arg(Count).arg(Count * 20)), qPrintable(r.err));

        const Run csv = ctl({QStringLiteral("decode"), QStringLiteral("--format"), QStringLiteral("csv"), run});
        QCOMPARE(csv.status, 0);
        const QStringList lines = csv.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), Count + 1);
        QVERIFY(lines.at(0).startsWith(QStringLiteral("time,id,")));
        double before = 0;
        for (int k = 0; k < Count; ++k) {
            const QStringList cols = lines.at(k + 1).split(QLatin1Char(','));
            QCOMPARE(cols.mid(1, 5), (QStringList{"5", "5", "polling", "291", "16"}));
            QCOMPARE(cols.at(12), QString::number(k)); // d0: the report's number
            QVERIFY(cols.at(0).toDouble() >= before);
            before = cols.at(0).toDouble();
        }
        QCOMPARE(ctl({QStringLiteral("decode"), QStringLiteral("--format"), QStringLiteral("csv"), QStringLiteral("-")}, run).out,
                 csv.out);
        const Run none = ctl({QStringLiteral("decode"), QStringLiteral("--format"), QStringLiteral("jsonl"),
                              QStringLiteral("--level"), QStringLiteral("0-4"), run});
        QCOMPARE(none.status, 0);
        QCOMPARE(none.out, QString());
        const Run info = ctl({QStringLiteral("run-info"), run});
        QCOMPARE(info.status, 0);
        QVERIFY2(info.out.contains(QStringLiteral("      5 polling   0x05       %1      %2\n").arg(Count).arg(Count * 20)),
                 qPrintable(info.out));
        QVERIFY(info.out.contains(QStringLiteral("end: count at ")));

        // Stopped by a signal, the run ends with a whole end record.
        const QString stopped = dir.filePath(QStringLiteral("stopped.pcapng"));
        QProcess p;
        p.start(QStringLiteral(TARNIXCTL_EXE), aim(m) + QStringList{QStringLiteral("record"), stopped});
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(stopped).size() > 100000, 10000);
        p.terminate();
        QVERIFY(p.waitForFinished(10000));
        QCOMPARE(p.exitCode(), 0);
        QVERIFY(ctl({QStringLiteral("run-info"), stopped}).out.contains(QStringLiteral("end: signal at ")));
    }

    // A run the module ends: what came before the fault is in the file, whole, and the end record
    // and the exit status say why.
    void runEndedByModule_data()
    {
        QTest::addColumn<bool>("corrupt");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("end");
        QTest::newRow("closed") << false << QStringLiteral("the module closed the connection")
                                << QStringLiteral("end: closed at ");
        QTest::newRow("crc error") << true << QStringLiteral("CRC error in a header from the module")
                                   << QStringLiteral("end: crc-error at ");
    }
    void runEndedByModule()
    {
        QFETCH(bool, corrupt);
        QFETCH(QString, message);
        QFETCH(QString, end);
        TarnixSimThread m;
        SimConfig config;
        config.tcpPort = config.udpPort = 0;
        config.reportsOnConnect = true;
        config.reports.count = 0;
        QVERIFY(m.startSim(config));
        SimFaults faults;
        if (corrupt)
            faults.tcpCorruptCrcPacket = 1001;
        else
            faults.tcpCloseAfterPackets = 1000;
        m.sim()->setFaults(faults);
        const QString path = dir.filePath(QStringLiteral("ended.pcapng"));
        const Run r = ctl(aim(m) + QStringList{QStringLiteral("record"), QStringLiteral("--force"), path});
        QCOMPARE(r.status, 3);
        QVERIFY2(r.err.contains(message), qPrintable(r.err));
        QVERIFY2(r.err.contains(QStringLiteral("1000 reports")), qPrintable(r.err));
        const Run info = ctl({QStringLiteral("run-info"), path});
        QCOMPARE(info.status, 0);
        QVERIFY2(info.out.contains(QStringLiteral("reports: 1000,")), qPrintable(info.out));
        QVERIFY2(info.out.contains(end), qPrintable(info.out));
    }

    // The module replaying a recorded run, recorded again: the same packets.
    void replayRecordedAgain()
    {
        QVERIFY(!run.isEmpty());
        auto recorded = std::make_shared<SimRun>();
        QString error;
        QVERIFY2(recorded->load(run, &error), qPrintable(error));
        QCOMPARE(recorded->reports, qint64(Count));
        TarnixSimThread m;
        SimConfig config;
        config.tcpPort = config.udpPort = 0;
        config.replay = recorded;
        config.replaySpeed = 0;
        QVERIFY(m.startSim(config));
        const QString again = dir.filePath(QStringLiteral("again.pcapng"));
        QCOMPARE(ctl(aim(m) + QStringList{QStringLiteral("record"), QStringLiteral("--count"), QString::number(Count), again}).status, 0);
        const QStringList csv{QStringLiteral("decode"), QStringLiteral("--format"), QStringLiteral("csv")};
        QCOMPARE(withoutTime(ctl(csv + QStringList{again}).out), withoutTime(ctl(csv + QStringList{run}).out));
    }

    // tshark with the docs' dissector reads the run, and its fields are those of the CSV.
    void tsharkFieldsEqualCsv()
    {
        const QString tshark = QStandardPaths::findExecutable(QStringLiteral("tshark"));
        if (tshark.isEmpty())
            QSKIP("tshark is not installed (scripts/setup.sh installs it): the dissector is not checked");
        QVERIFY(!run.isEmpty());
        const QStringList fields{QStringLiteral("id"), QStringLiteral("level"), QStringLiteral("flow"),
                                 QStringLiteral("address"), QStringLiteral("mode"), QStringLiteral("d0")};
        QStringList args{QStringLiteral("-r"), run, QStringLiteral("-X"), QStringLiteral("lua_script:" TARNIX_DISSECTOR),
                         QStringLiteral("-T"), QStringLiteral("fields"), QStringLiteral("-E"), QStringLiteral("aggregator=|")};
        for (const QString &f : fields)
            args << QStringLiteral("-e") << QStringLiteral("tarnix.") + f;
        const Run t = exec(tshark, args);
        QCOMPARE(t.status, 0);
        QStringList fromTshark;
        for (const QString &frame : t.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            const QStringList columns = frame.split(QLatin1Char('\t'));
            QCOMPARE(columns.size(), fields.size());
            const qsizetype reports = columns.at(0).split(QLatin1Char('|')).size();
            for (qsizetype i = 0; i < reports; ++i) {
                QStringList row;
                for (const QString &c : columns) {
                    const QString v = c.split(QLatin1Char('|')).value(i);
                    bool hexOk = false;
                    row << (v.startsWith(QStringLiteral("0x")) ? QString::number(v.toUInt(&hexOk, 16)) : v);
                }
                fromTshark << row.join(QLatin1Char(','));
            }
        }
        QStringList fromCsv;
        const QStringList lines = ctl({QStringLiteral("decode"), QStringLiteral("--format"), QStringLiteral("csv"), run})
                                      .out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        for (const QString &line : lines.mid(1)) {
            const QStringList c = line.split(QLatin1Char(','));
            fromCsv << QStringList{c.at(1), c.at(2), c.at(4), c.at(5), c.at(6), c.at(12)}.join(QLatin1Char(','));
        }
        QCOMPARE(fromTshark.size(), Count);
        QCOMPARE(fromTshark, fromCsv);
    }
};

QTEST_GUILESS_MAIN(TestRunsCtl)
#include "tst_runsctl.moc"
