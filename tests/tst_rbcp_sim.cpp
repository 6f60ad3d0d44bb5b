// The RBCP client and the UDP worker against the software module on 127.0.0.1: block
// splitting, IDs, the module's reply faults, the settings block and the EEPROM write.
#include "rbcp.h"
#include "simstate.h"
#include "tarnixsim.h"
#include "udpthread.h"

#include <QtTest>

#include <memory>

namespace {

SimConfig ephemeral()
{
    SimConfig c;
    c.tcpPort = 0;
    c.udpPort = 0;
    return c;
}

QByteArray pattern(int size)
{
    QByteArray data(size, '\0');
    for (int i = 0; i < size; ++i)
        data[i] = char(i * 13 + 1);
    return data;
}

// "W 00001000 128" per request the module received.
QStringList requestLines(const QVector<SimRbcpRequest> &requests)
{
    QStringList out;
    for (const SimRbcpRequest &r : requests)
        out << QStringLiteral("%1 %2 %3")
                   .arg(r.write ? QLatin1Char('W') : QLatin1Char('R'))
                   .arg(r.address, 8, 16, QLatin1Char('0'))
                   .arg(r.length);
    return out;
}

template <typename F> QString outcome(F access)
{
    try {
        return QString::number(access());
    } catch (QRbcp::ErrSts code) {
        return QStringLiteral("code %1").arg(int(code));
    }
}

const QString Rule = QString(45, QLatin1Char('-')) + QLatin1Char('\n');
const QString TimedOutText = QStringLiteral("QRbcp: Socket operation timed out");

} // namespace

// Stands in for the General tab: the worker connects its signals to these slots by name.
class SimRecorder : public QObject
{
    Q_OBJECT
public:
    QStringList events;
    bool ended() const { return !events.isEmpty() && events.last().startsWith(QLatin1String("closed")); }
    void watch(QUdpThread *w)
    {
        connect(w, &QRbcp::closed, this, [this](bool ok) { events << QStringLiteral("closed:%1").arg(ok); });
        connect(w, &QUdpThread::setFlg, this, [this] { events << QStringLiteral("setFlg"); });
    }

public slots:
    void displayError(QString *text) { events << QStringLiteral("error:") + *text; }
    void displayInfo(QString *text) { events << QStringLiteral("info:") + *text; }
    void displayTcp(quint16 port) { events << QStringLiteral("tcp:%1").arg(port); }
};

class TestRbcpSim : public QObject
{
    Q_OBJECT

    std::unique_ptr<TarnixSimThread> module;

    TarnixSim *sim() const { return module->sim(); }

    bool startModule(const SimConfig &config = ephemeral())
    {
        module = std::make_unique<TarnixSimThread>();
        return module->startSim(config);
    }

    void setFaults(void (*change)(SimFaults &))
    {
        SimFaults f = sim()->faults();
        change(f);
        sim()->setFaults(f);
    }

    void aim(QRbcp &client)
    {
        client.SetIpAddress(QHostAddress(QHostAddress::LocalHost), sim()->udpPort());
        client.SetWaitCount(1);
        QVERIFY(client.startUDP());
    }

    QUdpThread *worker(SimRecorder &rec)
    {
        auto *w = new QUdpThread(&rec);
        w->SetIpAddress(QHostAddress(QHostAddress::LocalHost), sim()->udpPort());
        w->SetWaitCount(1);
        rec.watch(w);
        return w;
    }

private slots:
    void init() { QVERIFY(startModule()); }
    void cleanup() { module.reset(); }

    void blocksOf300_data()
    {
        QTest::addColumn<bool>("writing");
        QTest::newRow("read") << false;
        QTest::newRow("write") << true;
    }
    // The module maps its logic registers below 0x1000, so the blocks start at 0x0400 here.
    void blocksOf300()
    {
        QFETCH(bool, writing);
        const QByteArray data = pattern(300);
        QRbcp client;
        aim(client);
        if (writing) {
            QCOMPARE(outcome([&] { return client.WriteAll(0x0400, data.constData(), 300); }), QStringLiteral("300"));
            QCOMPARE(sim()->readRegisters(0x0400, 300), data);
        } else {
            QVERIFY(sim()->writeRegisters(0x0400, data));
            QByteArray got(300, '\0');
            QCOMPARE(outcome([&] { return client.ReadAll(0x0400, got.data(), 300); }), QStringLiteral("300"));
            QCOMPARE(got, data);
        }
        const QChar op = writing ? QLatin1Char('W') : QLatin1Char('R');
        QCOMPARE(requestLines(sim()->rbcpRequests()),
                 (QStringList{op + QStringLiteral(" 00000400 128"), op + QStringLiteral(" 00000480 128"),
                              op + QStringLiteral(" 00000500 44")}));
    }

    void idsWrapAfter127()
    {
        QRbcp client;
        aim(client);
        char byte;
        for (int i = 0; i < 130; ++i)
            QCOMPARE(client.Read(0, &byte), 1);
        QList<int> ids;
        for (const SimRbcpRequest &r : sim()->rbcpRequests())
            ids << r.id;
        QCOMPARE(ids.mid(125), (QList<int>{126, 127, 0, 1, 2}));
    }

    // The module sends a late copy with the previous ID (and inverted data) before each reply.
    void staleRepliesIgnored_data()
    {
        QTest::addColumn<int>("waits");
        QTest::addColumn<QString>("result");
        QTest::newRow("room for the right reply") << 2 << "300";
        QTest::newRow("the stale copy uses up the only wait") << 1 << "code -5";
    }
    void staleRepliesIgnored()
    {
        QFETCH(int, waits);
        QFETCH(QString, result);
        const QByteArray data = pattern(300);
        QVERIFY(sim()->writeRegisters(0x0400, data));
        setFaults([](SimFaults &f) { f.rbcpStaleId = true; });
        QRbcp client;
        aim(client);
        client.SetWaitCount(waits);
        QByteArray got(300, '\0');
        QCOMPARE(outcome([&] { return client.ReadAll(0x0400, got.data(), 300); }), result);
        if (result == QLatin1String("300"))
            QCOMPARE(got, data);
    }

    void busErrorAtOnce()
    {
        setFaults([](SimFaults &f) { f.rbcpBusErrors = {SimRange{0x0480, 0x0480}}; });
        QRbcp client;
        aim(client);
        QByteArray got(300, '\0');
        QCOMPARE(outcome([&] { return client.Read(0x0400, got.data(), 300); }), QStringLiteral("code -4"));
        QCOMPARE(client.errorString(), QStringLiteral("read address: 0x00000480\nlength: 128\n\n"));
        QCOMPARE(sim()->rbcpRequests().size(), 2); // no retry of the refused block
    }

    void lossOf30PercentRecovered()
    {
        setFaults([](SimFaults &f) {
            f.rbcpDropFraction = 0.3;
            f.rbcpDropSeed = 7;
        });
        const QByteArray data = pattern(2048);
        QVERIFY(sim()->writeRegisters(0x0800, data));
        QRbcp client;
        aim(client);
        client.SetRetry(4);
        QByteArray got(2048, '\0');
        QCOMPARE(outcome([&] { return client.ReadAll(0x0800, got.data(), 2048); }), QStringLiteral("2048"));
        QCOMPARE(got, data);
        const SimCounters c = sim()->counters();
        QVERIFY(c.rbcpRepliesDropped > 0);
        QCOMPARE(c.rbcpRequests, 16 + c.rbcpRepliesDropped); // each lost reply cost one retry
    }

    void lossOfAllReplies()
    {
        setFaults([](SimFaults &f) { f.rbcpDropFraction = 1.0; });
        SimRecorder rec;
        QUdpThread *w = worker(rec);
        w->setCmd(QUdpThread::CmdReadInfo);
        w->start();
        QTRY_VERIFY_WITH_TIMEOUT(rec.ended(), 5000);
        QCOMPARE(rec.events,
                 (QStringList{QStringLiteral("error:read address: 0xfffffc10\nlength: 20\n\n") + TimedOutText,
                              QStringLiteral("closed:0")}));
        QTRY_COMPARE_WITH_TIMEOUT(sim()->rbcpRequests().size(), 3, 5000);
    }

    void settingsText_data()
    {
        QTest::addColumn<quint32>("ip");
        QTest::addColumn<QByteArray>("mac");
        QTest::addColumn<int>("flags");
        QTest::addColumn<QString>("lines");
        QTest::newRow("loopback, keep-alive on")
            << 0x7F000001u << QByteArray::fromHex("001A2B3C4D5E") << 0x04
            << "MAC Address : 00:1A:2B:3C:4D:5E\nIP Address : 127.00.00.01\n";
        QTest::newRow("10.0.1.5, keep-alive off")
            << 0x0A000105u << QByteArray::fromHex("ABCDEF0A0B0C") << 0x00
            << "MAC Address : AB:CD:EF:0A:0B:0C\nIP Address : 10.00.01.05\n";
    }
    void settingsText()
    {
        QFETCH(quint32, ip);
        QFETCH(QByteArray, mac);
        QFETCH(int, flags);
        QFETCH(QString, lines);
        SimConfig config = ephemeral();
        config.settingsIp = ip;
        config.mac = mac;
        config.flags = quint8(flags);
        QVERIFY(startModule(config));
        SimRecorder rec;
        QUdpThread *w = worker(rec);
        w->setCmd(QUdpThread::CmdReadInfo);
        w->start();
        QTRY_VERIFY_WITH_TIMEOUT(rec.ended(), 5000);
        const QString text = QStringLiteral("--------- Kelvo(EEPROM) Information ---------\n") + lines +
                             QStringLiteral("TCP Port : %1\nUDP Port : %2\n").arg(sim()->tcpPort()).arg(sim()->udpPort()) +
                             (flags & 0x04 ? QStringLiteral("Keep Alive : ON\n") : QStringLiteral("Keep Alive : OFF\n")) +
                             Rule + QStringLiteral("FPGA Version : 01020AFF\n") + Rule;
        QCOMPARE(rec.events, (QStringList{QStringLiteral("tcp:%1").arg(sim()->tcpPort()), QStringLiteral("info:") + text,
                                          QStringLiteral("closed:1")}));
        QCOMPARE(w->GetTcpPort(), sim()->tcpPort());
    }

    void newSettingsWritten()
    {
        SimConfig config = ephemeral();
        config.flags = 0x00;
        QVERIFY(startModule(config));
        SimRecorder rec;
        QUdpThread *w = worker(rec);
        w->setNewAddress(0xC0A80A14, 24, 4660);
        w->start();
        QTRY_VERIFY_WITH_TIMEOUT(rec.ended(), 5000);
        QCOMPARE(rec.events.size(), 3);
        QCOMPARE(rec.events.at(0), QStringLiteral("tcp:24"));
        QVERIFY(rec.events.at(1).contains(QLatin1String(
            "IP Address : 192.168.10.20\nTCP Port : 24\nUDP Port : 4660\nKeep Alive : ON\n")));
        QCOMPARE(rec.events.at(2), QStringLiteral("closed:1"));

        const QByteArray block = sim()->readRegisters(QRbcp::InfoAddress, 20);
        QCOMPARE(block.mid(8, 6), QByteArray::fromHex("C0A80A140018"));
        QCOMPARE(block.mid(18, 2), QByteArray::fromHex("1234"));
        QCOMPARE(quint8(block[0]), quint8(0x04));
        QVERIFY(sim()->writeProtected());
        const QStringList writes = requestLines(sim()->rbcpRequests()).filter(QRegularExpression(QStringLiteral("^W")));
        QCOMPARE(writes, (QStringList{QStringLiteral("W fffffcff 1"), QStringLiteral("W fffffc10 1"),
                                      QStringLiteral("W fffffc18 6"), QStringLiteral("W fffffc22 2"),
                                      QStringLiteral("W fffffcff 1")}));
    }

    void writeProtectRestoredAfterFault_data()
    {
        QTest::addColumn<quint32>("refused");
        QTest::addColumn<QString>("text");
        QTest::newRow("address and TCP port refused")
            << 0xFFFFFC18u << "write address: 0xfffffc18\nlength: 6\n\nQRbcp: Bus Error";
        QTest::newRow("UDP port refused") << 0xFFFFFC22u << "write address: 0xfffffc22\nlength: 2\n\nQRbcp: Bus Error";
    }
    void writeProtectRestoredAfterFault()
    {
        QFETCH(quint32, refused);
        QFETCH(QString, text);
        SimFaults f = sim()->faults();
        f.rbcpBusErrors = {SimRange{refused, refused}};
        sim()->setFaults(f);
        SimRecorder rec;
        QUdpThread *w = worker(rec);
        w->setNewAddress(0xC0A80A14, 24, 4660);
        w->start();
        QTRY_VERIFY_WITH_TIMEOUT(rec.ended(), 5000);
        QCOMPARE(rec.events, (QStringList{QStringLiteral("error:") + text, QStringLiteral("closed:0")}));
        QVERIFY(sim()->writeProtected());
        QCOMPARE(requestLines(sim()->rbcpRequests()).last(), QStringLiteral("W fffffcff 1"));
    }

    // The module's drop decisions follow a seed; pick one that lets the first record through
    // and loses every reply to the second.
    void writeJobSecondRecordTimesOut()
    {
        SimFaults f = sim()->faults();
        f.rbcpDropFraction = 0.5;
        SimState probe{SimConfig()};
        bool found = false;
        for (quint32 seed = 1; seed < 1000 && !found; ++seed) {
            f.rbcpDropSeed = seed;
            probe.setFaults(f);
            found = !probe.takeDropDecision() && probe.takeDropDecision() && probe.takeDropDecision() &&
                    probe.takeDropDecision();
        }
        QVERIFY(found);
        sim()->setFaults(f);

        SimRecorder rec;
        QUdpThread *w = worker(rec);
        w->setWrite(0x0010, QByteArray::fromHex("0102"));
        w->setWrite(0x0020, QByteArray::fromHex("0304"));
        w->setWrite(0x0030, QByteArray::fromHex("0506"));
        w->start();
        QTRY_VERIFY_WITH_TIMEOUT(rec.ended(), 5000);
        QCOMPARE(rec.events,
                 (QStringList{QStringLiteral("error:write address: 0x00000020\nlength: 2\n\n") + TimedOutText,
                              QStringLiteral("closed:0")}));
        QCOMPARE(sim()->readRegisters(0x0010, 2), QByteArray::fromHex("0102"));
        QCOMPARE(sim()->readRegisters(0x0030, 2), QByteArray::fromHex("0000"));
        QTRY_COMPARE_WITH_TIMEOUT(requestLines(sim()->rbcpRequests()),
                                  (QStringList{QStringLiteral("W 00000010 2"), QStringLiteral("W 00000020 2"),
                                               QStringLiteral("W 00000020 2"), QStringLiteral("W 00000020 2")}),
                                  5000);
        QCOMPARE(w->queuedCount(), 0);
    }

    void abortDuringWait()
    {
        setFaults([](SimFaults &f) { f.rbcpDropFraction = 1.0; });
        SimRecorder rec;
        QUdpThread *w = worker(rec);
        w->SetWaitCount(600);
        w->setCmd(QUdpThread::CmdReadInfo);
        w->start();
        QTRY_COMPARE_WITH_TIMEOUT(sim()->rbcpRequests().size(), 1, 5000);
        w->Abort();
        QTRY_VERIFY_WITH_TIMEOUT(rec.ended(), 5000);
        QCOMPARE(rec.events, QStringList{QStringLiteral("closed:0")});
    }

    void eventMaskCleared()
    {
        QVERIFY(sim()->writeRegisters(QUdpThread::EventEnableAddress, QByteArray::fromHex("FF")));
        SimRecorder rec;
        QUdpThread *w = worker(rec);
        w->setCmd(QUdpThread::CmdSetFlag);
        w->start();
        QTRY_VERIFY_WITH_TIMEOUT(rec.ended(), 5000);
        QCOMPARE(rec.events, (QStringList{QStringLiteral("setFlg"), QStringLiteral("closed:1")}));
        QCOMPARE(sim()->readRegisters(QUdpThread::EventEnableAddress, 1), QByteArray(1, '\0'));
    }
};

QTEST_GUILESS_MAIN(TestRbcpSim)
#include "tst_rbcp_sim.moc"
