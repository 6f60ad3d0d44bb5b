// The tarnix-sim executable: its command line, its listening line, its exit status when a port
// is taken, and a real exchange with it over 127.0.0.1.

#include "simoptions.h"
#include "simprobe.h"
#include "simwire.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QUdpSocket>
#include <QtTest>

namespace {

const QString simExe = QStringLiteral(TARNIX_SIM_EXE);

// Starts the module on ephemeral ports and reads its listening line.
bool startSim(QProcess &process, const QStringList &extra, quint16 *tcp, quint16 *udp)
{
    process.start(simExe, QStringList{QStringLiteral("--tcp-port"), QStringLiteral("0"),
                                      QStringLiteral("--udp-port"), QStringLiteral("0")} + extra);
    if (!process.waitForStarted(SimProbe::WaitMs))
        return false;
    QDeadlineTimer deadline(10000);
    while (!process.canReadLine() && !deadline.hasExpired()) {
        if (!process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
            break;
    }
    const QString line = QString::fromLocal8Bit(process.readLine());
    static const QRegularExpression pattern(
        QStringLiteral("^tarnix-sim listening: tcp=127\\.0\\.0\\.1:(\\d+) udp=127\\.0\\.0\\.1:(\\d+)\\n$"));
    const QRegularExpressionMatch match = pattern.match(line);
    if (!match.hasMatch()) {
        qWarning() << "listening line:" << line << process.readAllStandardError();
        return false;
    }
    *tcp = quint16(match.captured(1).toUInt());
    *udp = quint16(match.captured(2).toUInt());
    return *tcp != 0 && *udp != 0;
}

void finish(QProcess &process)
{
    process.kill();
    process.waitForFinished(SimProbe::WaitMs);
}

} // namespace

class TstSimProcess : public QObject
{
    Q_OBJECT

private slots:
    void listensAndAnswers();
    void reportsOnConnect();
    void takenPortExitsWithStatus2_data();
    void takenPortExitsWithStatus2();
    void helpListsEveryOption();
    void badOptionExitsWithStatus1();
    void optionsReachTheConfig();
    void invalidOptionValues_data();
    void invalidOptionValues();
};

void TstSimProcess::listensAndAnswers()
{
    QProcess process;
    quint16 tcp = 0;
    quint16 udp = 0;
    QVERIFY(startSim(process, {QStringLiteral("--version-register"), QStringLiteral("0xCAFEF00D")}, &tcp, &udp));

    SimProbe::Udp rbcp;
    QCOMPARE(rbcp.exchange(QByteArray::fromHex("FFC0010400000000"), udp),
             QByteArray::fromHex("FFC8010400000000CAFEF00D"));
    QCOMPARE(rbcp.exchange(SimProbe::rbcpRead(2, 0xFFFFFF1C, 2), udp).mid(8),
             QByteArray(1, char(tcp >> 8)) + char(tcp & 0xFF));

    SimProbe::Tcp channel;
    QVERIFY(channel.connectTo(tcp));
    SimWire::Header h;
    QByteArray data;
    QVERIFY(channel.exchange(SimProbe::command(0x1000, 4, 0xCA00, 0x80, QByteArray::fromHex("01020304")), &h, &data));
    QVERIFY(channel.exchange(QByteArray::fromHex("00001000000000040A008010"), &h, &data));
    QCOMPARE(h.id, quint8(0x80));
    QCOMPARE(data, QByteArray::fromHex("01020304"));
    finish(process);
}

void TstSimProcess::reportsOnConnect()
{
    QProcess process;
    quint16 tcp = 0;
    quint16 udp = 0;
    QVERIFY(startSim(process, QStringLiteral("--reports 500 --report-id 9 --report-flow 3 --report-level 2 "
                                             "--report-items 2").split(QLatin1Char(' ')), &tcp, &udp));
    SimProbe::Tcp channel;
    QVERIFY(channel.connectTo(tcp));
    for (quint32 k = 0; k < 500; ++k) {
        SimWire::Header h;
        QByteArray data;
        QVERIFY(channel.readPacket(&h, &data));
        QCOMPARE(h.id, quint8(9));
        QCOMPARE(h.length, (2u << 29) | (1u << 28) | (3u << 16) | 8u);
        QCOMPARE(SimWire::readBe32(data.constData()), k);
    }
    finish(process);
}

void TstSimProcess::takenPortExitsWithStatus2_data()
{
    QTest::addColumn<bool>("tcp");
    QTest::newRow("tcp") << true;
    QTest::newRow("udp") << false;
}

void TstSimProcess::takenPortExitsWithStatus2()
{
    QFETCH(bool, tcp);
    QTcpServer server;
    QUdpSocket socket;
    quint16 taken = 0;
    if (tcp) {
        QVERIFY(server.listen(QHostAddress(QHostAddress::LocalHost), 0));
        taken = server.serverPort();
    } else {
        QVERIFY(socket.bind(QHostAddress(QHostAddress::LocalHost), 0));
        taken = socket.localPort();
    }
    QProcess process;
    const QString port = QString::number(taken);
    process.start(simExe, {QStringLiteral("--tcp-port"), tcp ? port : QStringLiteral("0"),
                           QStringLiteral("--udp-port"), tcp ? QStringLiteral("0") : port});
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 2);
    QVERIFY(process.readAllStandardOutput().isEmpty());
    const QString error = QString::fromLocal8Bit(process.readAllStandardError());
    QVERIFY2(error.contains(tcp ? QStringLiteral("TCP") : QStringLiteral("UDP")) && error.contains(port),
             qPrintable(error));
}

void TstSimProcess::helpListsEveryOption()
{
    QProcess process;
    process.start(simExe, {QStringLiteral("--help")});
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitCode(), 0);
    const QString help = QString::fromLocal8Bit(process.readAllStandardOutput());
    const QStringList options = QStringLiteral(
        "address tcp-port udp-port version-register mac ip flags close-timeout interrupt-vector unmapped drop "
        "seed delay stale-id bus-error corrupt-crc close-after byte-at-a-time byte-interval reports report-rate "
        "report-id report-flow report-level report-interrupt report-address report-items report-no-data verbose")
        .split(QLatin1Char(' '));
    for (const QString &option : options)
        QVERIFY2(help.contains(QStringLiteral("--") + option + QLatin1Char(' ')), qPrintable(option));
}

void TstSimProcess::badOptionExitsWithStatus1()
{
    QProcess process;
    process.start(simExe, {QStringLiteral("--tcp-port"), QStringLiteral("70000")});
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitCode(), 1);
    QVERIFY(process.readAllStandardOutput().isEmpty());
    QVERIFY(QString::fromLocal8Bit(process.readAllStandardError()).contains(QStringLiteral("70000")));
}

void TstSimProcess::optionsReachTheConfig()
{
    const QStringList args = QStringLiteral(
        "tarnix-sim --address ::1 --tcp-port 1024 --udp-port 0x1235 --version-register 0x0A0B0C0D "
        "--mac 01-02-03-0a-0b-0c --ip 10.0.1.5 --flags 0 --close-timeout 9 --interrupt-vector 0x42 "
        "--unmapped A16:0x100-0x1ff --unmapped A32:0x8000+0x100 --drop 0.25 --seed 99 --delay 30 --stale-id "
        "--bus-error 0x10-0x1f --corrupt-crc 3 --close-after 10 --byte-at-a-time --byte-interval 4 "
        "--reports 0 --report-rate 1000 --report-id 6 --report-flow 4095 --report-level 7 --report-interrupt "
        "--report-address 0x2000 --report-items 63 --report-no-data --verbose").split(QLatin1Char(' '));
    SimConfig c;
    QString text;
    QCOMPARE(SimOptions::parse(args, &c, &text), SimOptions::Outcome::Run);
    QCOMPARE(c.address, QHostAddress(QHostAddress::LocalHostIPv6));
    QCOMPARE(c.tcpPort, quint16(1024));
    QCOMPARE(c.udpPort, quint16(0x1235));
    QCOMPARE(c.version, 0x0A0B0C0Du);
    QCOMPARE(c.mac, QByteArray::fromHex("0102030A0B0C"));
    QCOMPARE(c.settingsIp, 0x0A000105u);
    QCOMPARE(c.flags, quint8(0));
    QCOMPARE(c.closeTimeout, quint16(9));
    QCOMPARE(c.interruptVector, 0x42u);
    QCOMPARE(c.unmapped.size(), 2);
    QCOMPARE(c.unmapped[0].addressMode, int(SimA16));
    QCOMPARE(c.unmapped[0].range.first, 0x100u);
    QCOMPARE(c.unmapped[0].range.last, 0x1FFu);
    QCOMPARE(c.unmapped[1].addressMode, int(SimA32));
    QCOMPARE(c.unmapped[1].range.last, 0x80FFu);
    QCOMPARE(c.faults.rbcpDropFraction, 0.25);
    QCOMPARE(c.faults.rbcpDropSeed, 99u);
    QCOMPARE(c.faults.rbcpDelayMs, 30);
    QVERIFY(c.faults.rbcpStaleId);
    QCOMPARE(c.faults.rbcpBusErrors.size(), 1);
    QCOMPARE(c.faults.rbcpBusErrors[0].first, 0x10u);
    QCOMPARE(c.faults.tcpCorruptCrcPacket, qint64(3));
    QCOMPARE(c.faults.tcpCloseAfterPackets, qint64(10));
    QVERIFY(c.faults.tcpByteAtATime);
    QCOMPARE(c.faults.tcpByteIntervalMs, 4);
    QVERIFY(c.reportsOnConnect);
    QCOMPARE(c.reports.count, qint64(0));
    QCOMPARE(c.reports.rate, 1000);
    QCOMPARE(c.reports.id, quint8(6));
    QCOMPARE(c.reports.flowId, quint16(4095));
    QCOMPARE(c.reports.level, quint8(7));
    QVERIFY(!c.reports.polling);
    QCOMPARE(c.reports.address, 0x2000u);
    QCOMPARE(c.reports.items, 63);
    QVERIFY(!c.reports.withData);
    QVERIFY(c.verbose);

    // Without options: the defaults of a real module.
    SimConfig d;
    QCOMPARE(SimOptions::parse({QStringLiteral("tarnix-sim")}, &d, &text), SimOptions::Outcome::Run);
    QCOMPARE(d.address, QHostAddress(QHostAddress::LocalHost));
    QCOMPARE(d.tcpPort, quint16(24));
    QCOMPARE(d.udpPort, quint16(4660));
    QCOMPARE(d.version, 0x01020AFFu);
    QCOMPARE(d.settingsIp, 0x7F000001u);
    QCOMPARE(d.flags, quint8(0x04));
    QVERIFY(!d.reportsOnConnect);
    QVERIFY(!d.verbose);
}

void TstSimProcess::invalidOptionValues_data()
{
    QTest::addColumn<QString>("arguments");
    QTest::newRow("port too large") << QStringLiteral("--tcp-port 65536");
    QTest::newRow("port not a number") << QStringLiteral("--udp-port x");
    QTest::newRow("address") << QStringLiteral("--address localhost.invalid");
    QTest::newRow("mac") << QStringLiteral("--mac 00:11:22:33:44");
    QTest::newRow("ip not IPv4") << QStringLiteral("--ip ::1");
    QTest::newRow("flags over a byte") << QStringLiteral("--flags 0x100");
    QTest::newRow("unmapped mode") << QStringLiteral("--unmapped A20:0-1");
    QTest::newRow("unmapped reversed") << QStringLiteral("--unmapped A24:0x20-0x10");
    QTest::newRow("drop above 1") << QStringLiteral("--drop 1.5");
    QTest::newRow("bus error range") << QStringLiteral("--bus-error 5");
    QTest::newRow("report items 0") << QStringLiteral("--report-items 0");
    QTest::newRow("report items 64") << QStringLiteral("--report-items 64");
    QTest::newRow("report level 8") << QStringLiteral("--report-level 8");
    QTest::newRow("unknown option") << QStringLiteral("--frobnicate");
    QTest::newRow("positional") << QStringLiteral("extra");
}

void TstSimProcess::invalidOptionValues()
{
    QFETCH(QString, arguments);
    SimConfig c;
    c.tcpPort = 1111;
    QString text;
    QCOMPARE(SimOptions::parse(QStringList{QStringLiteral("tarnix-sim")} + arguments.split(QLatin1Char(' ')), &c, &text),
             SimOptions::Outcome::Error);
    QVERIFY(!text.isEmpty());
    QCOMPARE(c.tcpPort, quint16(1111));
}

QTEST_GUILESS_MAIN(TstSimProcess)
#include "tst_simprocess.moc"
