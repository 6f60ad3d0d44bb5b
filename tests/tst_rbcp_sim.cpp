// The UDP worker and the RBCP client against the software module on 127.0.0.1: blocks and IDs,
// the settings text and the EEPROM write, jobs that succeed or fail, and stopping a job.
#include "tarnixsim.h"
#include "udpthread.h"

#include <QtTest>

#include <memory>

namespace {

const QString Rule = QString(45, QLatin1Char('-')) + QLatin1Char('\n');
const QString Version = Rule + QStringLiteral("FPGA Version : 01020AFF\n") + Rule;

// "W 00001000 128" per request the module received.
QStringList requestLines(const QVector<SimRbcpRequest> &requests)
{
    QStringList out;
    for (const SimRbcpRequest &r : requests)
        out << QStringLiteral("%1 %2 %3").arg(QLatin1Char(r.write ? 'W' : 'R')).arg(r.address, 8, 16, QLatin1Char('0')).arg(r.length);
    return out;
}

} // namespace

// Stands in for the General tab: the worker connects its signals to these slots by name.
class Recorder : public QObject
{
    Q_OBJECT
public:
    QStringList events;
    bool ended() const { return !events.isEmpty() && events.last().startsWith(QLatin1String("closed")); }

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

    void setFaults(const std::function<void(SimFaults &)> &change)
    {
        SimFaults f = sim()->faults();
        change(f);
        sim()->setFaults(f);
    }

    // A worker owned by the recorder, aimed at the module, with waits of 100 ms per attempt.
    QUdpThread *worker(Recorder &rec, int waits = 1)
    {
        auto *w = new QUdpThread(&rec);
        w->SetIpAddress(QHostAddress(QHostAddress::LocalHost), sim()->udpPort());
        w->SetWaitCount(waits);
        connect(w, &QRbcp::closed, &rec, [&rec](bool ok) { rec.events << QStringLiteral("closed:%1").arg(ok); });
        connect(w, &QUdpThread::setFlg, &rec, [&rec] { rec.events << QStringLiteral("setFlg"); });
        return w;
    }

    static bool run(Recorder &rec, QUdpThread *w)
    {
        w->start();
        return QTest::qWaitFor([&] { return rec.ended(); }, 10000);
    }

private slots:
    void init()
    {
        SimConfig c;
        c.tcpPort = 0;
        c.udpPort = 0;
        module = std::make_unique<TarnixSimThread>();
        QVERIFY(module->startSim(c));
    }
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
        QByteArray data(300, '\0'), got(300, '\0');
        for (int i = 0; i < data.size(); ++i)
            data[i] = char(i * 13 + 1);
        QRbcp client;
        client.SetIpAddress(QHostAddress(QHostAddress::LocalHost), sim()->udpPort());
        QVERIFY(client.startUDP());
        if (writing) {
            QCOMPARE(client.WriteAll(0x0400, data.constData(), 300), 300u);
            got = sim()->readRegisters(0x0400, 300);
        } else {
            QVERIFY(sim()->writeRegisters(0x0400, data));
            QCOMPARE(client.ReadAll(0x0400, got.data(), 300), 300u);
        }
        QCOMPARE(got, data);
        const QString op = QLatin1String(writing ? "W" : "R");
        QCOMPARE(requestLines(sim()->rbcpRequests()),
                 (QStringList{op + QStringLiteral(" 00000400 128"), op + QStringLiteral(" 00000480 128"),
                              op + QStringLiteral(" 00000500 44")}));
    }

    void idsWrapAfter127()
    {
        QRbcp client;
        client.SetIpAddress(QHostAddress(QHostAddress::LocalHost), sim()->udpPort());
        QVERIFY(client.startUDP());
        char byte;
        for (int i = 0; i < 130; ++i)
            QCOMPARE(client.Read(0, &byte), 1);
        QList<int> ids;
        for (const SimRbcpRequest &r : sim()->rbcpRequests())
            ids << r.id;
        QCOMPARE(ids.mid(125), (QList<int>{126, 127, 0, 1, 2}));
    }

    void settingsText_data()
    {
        QTest::addColumn<QByteArray>("block");
        QTest::addColumn<int>("tcp");
        QTest::addColumn<QString>("text");
        QTest::newRow("worked example") << QByteArray::fromHex("04 5A 001A2B3C4D5E C0A80A10 0018 01020304 1234") << 24
                                        << "MAC Address : 00:1A:2B:3C:4D:5E\nIP Address : 192.168.10.16\n"
                                           "TCP Port : 24\nUDP Port : 4660\nKeep Alive : ON\n";
        QTest::newRow("short octets, upper-case MAC, keep-alive off")
            << QByteArray::fromHex("FB 00 ABCDEF0A0B0C 0A000105 0001 00000000 FFFF") << 1
            << "MAC Address : AB:CD:EF:0A:0B:0C\nIP Address : 10.00.01.05\nTCP Port : 1\nUDP Port : 65535\n"
               "Keep Alive : OFF\n";
    }
    void settingsText()
    {
        QFETCH(QByteArray, block);
        QFETCH(int, tcp);
        QFETCH(QString, text);
        QVERIFY(sim()->writeRegisters(QRbcp::InfoAddress, block));
        Recorder rec;
        QUdpThread *w = worker(rec);
        w->setCmd(QUdpThread::CmdReadInfo);
        QVERIFY(run(rec, w));
        QCOMPARE(rec.events, (QStringList{QStringLiteral("tcp:%1").arg(tcp),
                                          QStringLiteral("info:--------- Kelvo(EEPROM) Information ---------\n") +
                                              text + Version,
                                          QStringLiteral("closed:1")}));
        QCOMPARE(w->GetTcpPort(), sim()->tcpPort()); // the port in use, not the stored one
    }

    // New settings 192.168.10.20, TCP port 24, UDP port 4660 land in the module's EEPROM; keep-alive
    // is switched on with the other flag bits kept, and the write protect is back on.
    void newSettings_data()
    {
        QTest::addColumn<int>("flags");
        QTest::addColumn<QStringList>("flagWrite");
        QTest::newRow("keep-alive off") << 0x83 << QStringList{QStringLiteral("W fffffc10 1")};
        QTest::newRow("keep-alive on") << 0x04 << QStringList{};
    }
    void newSettings()
    {
        QFETCH(int, flags);
        QFETCH(QStringList, flagWrite);
        QVERIFY(sim()->writeRegisters(QRbcp::InfoAddress, QByteArray(1, char(flags))));
        Recorder rec;
        QUdpThread *w = worker(rec);
        w->setNewAddress(0xC0A80A14, 24, 4660);
        QVERIFY(run(rec, w));
        QCOMPARE(rec.events, (QStringList{QStringLiteral("tcp:24"),
                                          QStringLiteral("info:--------- Kelvo(EEPROM) Information ---------\n"
                                                         "MAC Address : 00:1A:2B:3C:4D:5E\nIP Address : 192.168.10.20\n"
                                                         "TCP Port : 24\nUDP Port : 4660\nKeep Alive : ON\n") + Version,
                                          QStringLiteral("closed:1")}));
        const QByteArray block = sim()->readRegisters(QRbcp::InfoAddress, 20);
        QCOMPARE(uchar(block[0]), uchar(flags | 0x04));
        QCOMPARE(block.mid(8, 6), QByteArray::fromHex("C0A80A140018"));
        QCOMPARE(block.mid(18, 2), QByteArray::fromHex("1234"));
        QVERIFY(sim()->writeProtected());
        const QStringList writes = QStringList{QStringLiteral("W fffffcff 1")} + flagWrite +
                                   QStringList{QStringLiteral("W fffffc18 6"), QStringLiteral("W fffffc22 2"),
                                               QStringLiteral("W fffffcff 1")};
        QCOMPARE(requestLines(sim()->rbcpRequests()).filter(QRegularExpression(QStringLiteral("^W"))), writes);
    }

    // Each job's reports, what it leaves in the registers (event mask at 4, records at 0x10, 0x20
    // and 0x30), an empty queue and the write protect on, whether it succeeded or not.
    void jobs_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<QList<QByteArray>>("records");
        QTest::addColumn<uint>("refused"); // register answered with a bus error; 0: none; ~0u: no reply at all
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<QByteArray>("registers");
        const QList<QByteArray> three{"\x01\x02", "\x03\x04", "\x05\x06"};
        const QByteArray untouched = QByteArray::fromHex("FF 0000 0000 0000");
        const QString closed0 = QStringLiteral("closed:0"), bus = QStringLiteral("\n\nQRbcp: Bus Error");
        QTest::newRow("records written") << 3 << three << 0u << QStringList{"closed:1"}
                                         << QByteArray::fromHex("FF 0102 0304 0506");
        QTest::newRow("second record refused: the rest skipped")
            << 3 << three << 0x20u << QStringList{"error:write address: 0x00000020\nlength: 2" + bus, closed0}
            << QByteArray::fromHex("FF 0102 0000 0000");
        QTest::newRow("record without data") << 3 << QList<QByteArray>{"\x01\x02", {}, "\x05\x06"} << 0u
                                             << QStringList{"error:Write ERROR", closed0}
                                             << QByteArray::fromHex("FF 0102 0000 0000");
        QTest::newRow("empty queue") << 3 << QList<QByteArray>{} << 0u << QStringList{"closed:1"} << untouched;
        QTest::newRow("event mask cleared") << 4 << QList<QByteArray>{} << 0u << QStringList{"setFlg", "closed:1"}
                                            << QByteArray::fromHex("00 0000 0000 0000");
        QTest::newRow("event mask refused") << 4 << QList<QByteArray>{} << 4u
                                            << QStringList{"error:write address: 0x00000004\nlength: 1" + bus, closed0}
                                            << untouched;
        QTest::newRow("settings: every reply lost")
            << 1 << QList<QByteArray>{} << ~0u
            << QStringList{"error:read address: 0xfffffc10\nlength: 20\n\nQRbcp: Socket operation timed out", closed0}
            << untouched;
        QTest::newRow("settings: version refused")
            << 1 << QList<QByteArray>{} << 2u << QStringList{"error:read address: 0x00000000\nlength: 4" + bus, closed0}
            << untouched;
        QTest::newRow("new settings: address refused")
            << 2 << QList<QByteArray>{} << 0xFFFFFC18u
            << QStringList{"error:write address: 0xfffffc18\nlength: 6" + bus, closed0} << untouched;
        QTest::newRow("new settings: UDP port refused")
            << 2 << QList<QByteArray>{} << 0xFFFFFC22u
            << QStringList{"error:write address: 0xfffffc22\nlength: 2" + bus, closed0} << untouched;
    }
    void jobs()
    {
        QFETCH(int, command);
        QFETCH(QList<QByteArray>, records);
        QFETCH(uint, refused);
        QVERIFY(sim()->writeRegisters(QUdpThread::EventEnableAddress, QByteArray::fromHex("FF")));
        setFaults([&](SimFaults &f) {
            f.rbcpDropFraction = refused == ~0u ? 1.0 : 0.0;
            if (refused && refused != ~0u)
                f.rbcpBusErrors = {SimRange{refused, refused}};
        });
        Recorder rec;
        QUdpThread *w = worker(rec);
        for (int i = 0; i < records.size(); ++i)
            w->setWrite(0x10 * uint(i + 1), records[i]);
        w->setCmd(QUdpThread::Command(command));
        if (command == QUdpThread::CmdNewAddress)
            w->setNewAddress(0xC0A80A14, 24, 4660);
        QVERIFY(run(rec, w));
        QTEST(rec.events, "events");
        QTEST(QByteArray(sim()->readRegisters(4, 1) + sim()->readRegisters(0x10, 2) + sim()->readRegisters(0x20, 2) +
                         sim()->readRegisters(0x30, 2)),
              "registers");
        QCOMPARE(w->queuedCount(), 0);
        QCOMPARE(w->currentCommand(), QUdpThread::CmdNone);
        QTRY_VERIFY_WITH_TIMEOUT(sim()->writeProtected(), 5000);
    }

    // A stop ends a settings write within a wait, whether it comes while a reply is awaited or
    // before the worker's run has begun; nothing but closed(false) is reported, no setting is
    // written, and the write protect is back on.
    void stop_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("Abort while waiting") << "abort";
        QTest::newRow("deleted while waiting") << "delete";
        QTest::newRow("Abort before the run begins") << "early";
    }
    void stop()
    {
        QFETCH(QString, how);
        setFaults([](SimFaults &f) { f.rbcpDropFraction = 1.0; });
        Recorder rec;
        QUdpThread *w = worker(rec, 600); // a minute per attempt unless the stop ends it
        w->setNewAddress(0xC0A80A14, 24, 4660);
        w->start();
        if (how == QLatin1String("early")) {
            w->Abort();
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(!sim()->rbcpRequests().isEmpty(), 5000);
            if (how == QLatin1String("abort"))
                w->Abort();
            else
                delete w; // stops, waits, releases the socket made on the worker's thread
        }
        QTRY_COMPARE_WITH_TIMEOUT(rec.events, QStringList{QStringLiteral("closed:0")}, 5000);
        QVERIFY(requestLines(sim()->rbcpRequests()).filter(QStringLiteral("fffffc18")).isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(sim()->writeProtected(), 5000);
    }

    // A failure report still queued when its worker is deleted is dropped, never handed out as a
    // pointer into the dead object; a worker without an address reports nothing at all.
    void deadOrAimlessWorkerSilent()
    {
        setFaults([](SimFaults &f) { f.rbcpBusErrors = {SimRange{4, 4}}; });
        Recorder rec;
        QUdpThread *w = worker(rec);
        w->setCmd(QUdpThread::CmdSetFlag);
        w->start();
        QVERIFY(w->wait(5000));
        delete w;
        auto *aimless = new QUdpThread(&rec);
        aimless->setCmd(QUdpThread::CmdReadInfo);
        aimless->start();
        QVERIFY(aimless->wait(5000));
        QCoreApplication::processEvents();
        QCOMPARE(rec.events, QStringList{QStringLiteral("closed:0")});
    }
};

QTEST_GUILESS_MAIN(TestRbcpSim)
#include "tst_rbcp_sim.moc"
