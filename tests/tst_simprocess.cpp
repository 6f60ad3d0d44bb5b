// The tarnix-sim executable: its command line, its listening line, its exit status when a port
// is taken, and a real exchange with it over 127.0.0.1.

#include "bytes.h"
#include "simoptions.h"
#include "simprobe.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QtTest>

namespace {

QStringList words(const char *text)
{
    return QString::fromLatin1(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

// Runs the module on ephemeral ports with the extra options and reads its listening line.
bool startSim(QProcess &process, const QStringList &extra, quint16 *tcp, quint16 *udp)
{
    process.start(QStringLiteral(TARNIX_SIM_EXE), words("--tcp-port 0 --udp-port 0") + extra);
    QDeadlineTimer deadline(10000);
    while (!process.canReadLine() && process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())))) {
    }
    static const QRegularExpression pattern(
        QStringLiteral("^tarnix-sim listening: tcp=127\\.0\\.0\\.1:(\\d+) udp=127\\.0\\.0\\.1:(\\d+)\\n$"));
    const QRegularExpressionMatch match = pattern.match(QString::fromLocal8Bit(process.readLine()));
    *tcp = quint16(match.captured(1).toUInt());
    *udp = quint16(match.captured(2).toUInt());
    return match.hasMatch() && *tcp != 0 && *udp != 0;
}

} // namespace

class TstSimProcess : public QObject
{
    Q_OBJECT

private slots:
    void listensAndAnswers()
    {
        QProcess process;
        quint16 tcp = 0;
        quint16 udp = 0;
        QVERIFY(startSim(process, words("--version-register 0xCAFEF00D --reports 50 --report-id 9 --report-items 2"),
                         &tcp, &udp));
        SimProbe::Udp rbcp;
        QCOMPARE(rbcp.exchange(SimProbe::rbcpRead(1, 0, 4), udp), hex("ffc8 0104 00000000 cafef00d"));
        QCOMPARE(rbcp.exchange(SimProbe::rbcpRead(2, 0xFFFFFF1C, 2), udp).mid(8), QByteArray(1, char(tcp >> 8)) + char(tcp));

        // Reports start on connect; a command is answered between them.
        SimProbe::Tcp channel;
        QVERIFY(channel.connectTo(tcp));
        QVERIFY(channel.send(SimProbe::command(0x1000, 4, 0xCA00, 0x80, hex("01020304"))));
        int reports = 0;
        bool answered = false;
        SimWire::Header h;
        QByteArray data;
        while ((reports < 50 || !answered) && channel.readPacket(&h, &data)) {
            if (h.id == 0x80) {
                QCOMPARE(data, hex("01020304"));
                answered = true;
            } else {
                QCOMPARE(h.id, quint8(9));
                QCOMPARE(SimWire::readBe32(data.constData()), quint32(reports++));
            }
        }
        QVERIFY(answered);
        QCOMPARE(reports, 50);
        process.kill();
        process.waitForFinished(SimProbe::WaitMs);
    }
    // A refused option ends the process with status 1, a port already taken with 2; standard
    // error names what was refused.
    void exitStatus_data()
    {
        QTest::addColumn<QString>("options"); // %1: a port the test holds
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("named");
        QTest::newRow("TCP port taken") << "--udp-port 0 --tcp-port %1" << 2 << "TCP";
        QTest::newRow("UDP port taken") << "--tcp-port 0 --udp-port %1" << 2 << "UDP";
        for (const char *bad : {"--tcp-port 65536", "--address localhost.invalid", "--mac 00:11:22:33:44", "--ip ::1",
                                "--unmapped A20:0-1", "--unmapped A24:0x20-0x10", "--drop 1.5", "--bus-error 5",
                                "--report-items 64", "--frobnicate"})
            QTest::newRow(bad) << bad << 1 << QString::fromLatin1(bad).section(QLatin1Char(' '), -1).remove(QLatin1String("--"));
    }
    void exitStatus()
    {
        QFETCH(QString, options);
        QFETCH(int, status);
        QFETCH(QString, named);
        QTcpServer server;
        QUdpSocket socket;
        QVERIFY(server.listen(QHostAddress(QHostAddress::LocalHost), 0));
        QVERIFY(socket.bind(QHostAddress(QHostAddress::LocalHost), 0));
        const quint16 taken = named == QLatin1String("TCP") ? server.serverPort() : socket.localPort();
        QProcess process;
        process.start(QStringLiteral(TARNIX_SIM_EXE), (status == 2 ? options.arg(taken) : options).split(QLatin1Char(' ')));
        QVERIFY(process.waitForFinished(10000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), status);
        QVERIFY(process.readAllStandardOutput().isEmpty());
        const QString error = QString::fromLocal8Bit(process.readAllStandardError());
        QVERIFY2(error.contains(named) && (status == 1 || error.contains(QString::number(taken))), qPrintable(error));
    }
    void optionsReachTheConfig()
    {
        SimConfig c;
        QString text;
        QCOMPARE(SimOptions::parse(QStringList{QStringLiteral("tarnix-sim")}, &c, &text), SimOptions::Outcome::Run);
        QCOMPARE(c.tcpPort, quint16(24));
        QCOMPARE(c.udpPort, quint16(4660));

        QCOMPARE(SimOptions::parse(words("tarnix-sim --address ::1 --udp-port 0x1235 --mac 01-02-03-0a-0b-0c "
                                         "--ip 10.0.1.5 --unmapped A16:0x100-0x1ff --unmapped A32:0x8000+0x100 "
                                         "--bus-error 0x10-0x1f --close-after 10 "
                                         "--report-flow 4095 --report-interrupt --report-no-data"),
                                   &c, &text),
                 SimOptions::Outcome::Run);
        QCOMPARE(c.address, QHostAddress(QHostAddress::LocalHostIPv6));
        QCOMPARE(c.udpPort, quint16(0x1235));
        QCOMPARE(c.mac, hex("0102030a0b0c"));
        QCOMPARE(c.settingsIp, 0x0A000105u);
        QCOMPARE(c.unmapped.size(), 2);
        QCOMPARE(c.unmapped[0].range.last, 0x1FFu);
        QCOMPARE(c.unmapped[1].addressMode, int(SimA32));
        QCOMPARE(c.unmapped[1].range.last, 0x80FFu);
        QCOMPARE(c.faults.rbcpBusErrors.value(0).last, 0x1Fu);
        QCOMPARE(c.faults.tcpCloseAfterPackets, qint64(10));
        QCOMPARE(c.reports.flowId, quint16(4095));
        QVERIFY(!c.reports.polling && !c.reports.withData);
    }
};

QTEST_GUILESS_MAIN(TstSimProcess)
#include "tst_simprocess.moc"
