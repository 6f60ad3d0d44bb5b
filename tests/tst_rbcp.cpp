// The RBCP client on the wire, with the test's thread as the module answering each request as a
// row's rules say (late, lost, flagged, cut or overlong replies) while the client runs on a thread
// of its own; the UDP worker's jobs and stops against the software module; typed addresses.
#include "addresstext.h"
#include "bytes.h"
#include "simprobe.h"
#include "tarnixsim.h"
#include "udpthread.h"

#include <QDeadlineTimer>
#include <QPointer>
#include <QNetworkDatagram>
#include <QUdpSocket>
#include <QtEndian>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

// What the module's registers hold: the low byte of each address.
char moduleByte(uint address) { return char(address); }

// "R fffffc10 20" for a read of 20 bytes, "W fffffcff ff" for a write of the byte FF ("W 00001000
// 128 01..80" for a longer one), "? <hex>" for a datagram that is not a well-formed request.
QString summary(const QByteArray &r)
{
    const bool read = r.size() == 8 && uchar(r[1]) == 0xC0;
    const bool write = r.size() > 8 && uchar(r[1]) == 0x80 && r.size() == 8 + uchar(r[3]);
    if (r.size() < 8 || uchar(r[0]) != 0xFF || !(read || write))
        return QStringLiteral("? ") + QString::fromLatin1(r.toHex());
    const QString address = QString::fromLatin1(r.mid(4, 4).toHex());
    const QByteArray data = r.mid(8);
    if (read)
        return QStringLiteral("R %1 %2").arg(address).arg(uchar(r[3]));
    if (data.size() <= 8)
        return QStringLiteral("W %1 %2").arg(address, QString::fromLatin1(data.toHex()));
    return QStringLiteral("W %1 %2 %3..%4").arg(address).arg(data.size()).arg(uchar(data[0]), 2, 16, QLatin1Char('0'))
        .arg(uchar(data.back()), 2, 16, QLatin1Char('0'));
}

// The module's answer to one request: the plain reply (a read's carries moduleByte data) as
// changed by each rule "kind|prefix" whose prefix starts the request's summary. "lose": no reply
// ("lose 2": only to the first two such requests); "bus": the bus error flag; "cut n": the first n
// bytes only; "over": 1000 bytes too many; "stale n": n copies (or one) with an old ID first;
// "short": a 5-byte datagram first.
QList<QByteArray> answer(const QByteArray &request, const QStringList &rules, QHash<QString, int> &matched)
{
    if (request.size() < 8)
        return {};
    const bool write = uchar(request[1]) == 0x80;
    QByteArray reply = request.left(8);
    reply[1] = char(write ? 0x88 : 0xC8);
    for (int i = 0; !write && i < uchar(request[3]); ++i)
        reply += moduleByte(qFromBigEndian<quint32>(request.constData() + 4) + uint(i));
    QList<QByteArray> out;
    for (const QString &rule : rules) {
        const QStringList kind = rule.section(QLatin1Char('|'), 0, 0).split(QLatin1Char(' '));
        const int n = kind.value(1).toInt();
        if (!summary(request).startsWith(rule.section(QLatin1Char('|'), 1)))
            continue;
        if (kind[0] == QLatin1String("lose") && (n == 0 || matched[rule]++ < n))
            return {};
        if (kind[0] == QLatin1String("bus"))
            reply[1] = char(reply[1] | 0x01);
        if (kind[0] == QLatin1String("cut"))
            reply.truncate(n);
        if (kind[0] == QLatin1String("over"))
            reply += QByteArray(1000, 'x');
        if (kind[0] == QLatin1String("short"))
            out << reply.left(5);
        for (int i = 0; kind[0] == QLatin1String("stale") && i < qMax(n, 1); ++i)
            out << QByteArray(reply.left(2) + char((uchar(request[2]) + 100) % 128) + reply.mid(3));
    }
    return out << reply;
}

// Runs access on a thread of its own against this thread as the module; the requests in order.
QList<QByteArray> play(QRbcp &client, const QStringList &rules, const std::function<void()> &access)
{
    QUdpSocket module;
    if (!module.bind(QHostAddress(QHostAddress::LocalHost), 0))
        return {};
    client.SetIpAddress(QHostAddress(QHostAddress::LocalHost), module.localPort());
    std::unique_ptr<QThread> thread(QThread::create([&] {
        if (client.startUDP())
            access();
    }));
    QList<QByteArray> requests;
    QHash<QString, int> matched;
    const QDeadlineTimer bound(20000);
    thread->start();
    while (!thread->isFinished() || module.hasPendingDatagrams()) {
        if (bound.hasExpired()) {
            client.Abort();
            thread->wait();
            return requests << "client still busy";
        }
        if (!module.hasPendingDatagrams()) {
            module.waitForReadyRead(10);
            continue;
        }
        const QNetworkDatagram d = module.receiveDatagram();
        requests << d.data();
        for (const QByteArray &reply : answer(d.data(), rules, matched))
            module.writeDatagram(reply, d.senderAddress(), quint16(d.senderPort()));
    }
    return requests;
}

template <typename F> QString outcome(F access)
{
    try {
        return QString::number(access());
    } catch (QRbcp::ErrSts code) {
        static const char *const names[] = {"Aborted", "WriteFailed", "ReadFailed", "SocketFailed", "BusError", "TimedOut"};
        return -code >= 0 && -code < 6 ? QLatin1String(names[-code]) : QStringLiteral("code %1").arg(code);
    } catch (const QString &text) {
        return QStringLiteral("text: ") + text;
    }
}

// A stop asked for just as the EEPROM's write protect is to be put back.
class Client : public QUdpThread
{
public:
    bool stopAtRestore = false;
    bool EnableWriteEEPROM(bool enable) override
    {
        if (!enable && stopAtRestore)
            Abort();
        return QUdpThread::EnableWriteEEPROM(enable);
    }
};

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

class TestRbcp : public QObject
{
    Q_OBJECT

    std::unique_ptr<TarnixSimThread> module;
    TarnixSim *sim() const { return module->sim(); }

    bool startModule(const SimFaults &faults = SimFaults())
    {
        SimConfig c = SimProbe::ephemeral();
        c.faults = faults;
        module = std::make_unique<TarnixSimThread>();
        return module->startSim(c);
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

private slots:
    void cleanup() { module.reset(); }

    // access: "r" read, "R" Read, "RA" ReadAll, "W" Write with address (hex) and length, "E" the
    // settings write, "I" readInfo; "wait n", "timeout s" and "retry n" set the client up.
    void access_data()
    {
        QTest::addColumn<QString>("access");
        QTest::addColumn<QStringList>("rules");
        QTest::addColumn<QString>("result");
        QTest::addColumn<QStringList>("requests"); // {"*"}: not compared
        QTest::addColumn<QString>("text");
        const auto row = [](const char *name, const char *access, const QStringList &rules, const char *result,
                            const QStringList &requests, const char *text = "") {
            QTest::newRow(name) << access << rules << result << requests << text;
        };
        const QString r4 = QStringLiteral("R 00001000 4");
        const char *lines = "read address: 0x00001000\nlength: 4\n\n";
        const QStringList one{r4}, three{r4, r4, r4}, any{QStringLiteral("*")};
        row("write request", "W 4 4", {}, "4", {"W 00000004 01020304"});
        row("stale ID, then the reply", "r 1000 4 wait 2", {"stale|"}, "4", one);
        row("stale ID uses up the only wait", "r 1000 4", {"stale|"}, "TimedOut", three, lines);
        row("SetTimeout(2): room after 19 stale", "r 1000 4 timeout 2", {"stale 19|"}, "4", one);
        row("SetTimeout(2): none after 20 stale", "r 1000 4 timeout 2", {"stale 20|"}, "TimedOut", three, lines);
        row("bus error, no retry", "r 1000 4", {"bus|"}, "BusError", one, lines);
        row("datagram shorter than a header", "r 1000 4", {"cut 5|"}, "SocketFailed", one);
        // With an attempt time, strays are dropped and the attempt keeps its time.
        row("attempt time: stale IDs", "r 1000 4 attempt 100", {"stale 3|"}, "4", one);
        row("attempt time: short datagram", "r 1000 4 attempt 100", {"short|"}, "4", one);
        row("attempt time: only short datagrams", "r 1000 4 attempt 100", {"short|", "cut 5|"}, "TimedOut", three, lines);
        row("overlong reply", "r 1000 4", {"over|"}, "4", one);
        row("header-only reply", "r 1000 4", {"cut 8|"}, "0", one);
        row("two lost, third answered", "r 1000 4", {"lose 2|"}, "4", three);
        row("all lost; SetRetry(0) keeps three tries", "r 1000 4", {"lose|"}, "TimedOut", three, lines);
        row("SetRetry(5) makes six", "r 1000 4 retry 5", {"lose 5|"}, "4", three + three);
        row("read of 300 in blocks", "R 1000 300", {}, "300", {"R 00001000 128", "R 00001080 128", "R 00001100 44"});
        row("write of 300 in blocks", "W 1000 300", {}, "300",
            {"W 00001000 128 01..80", "W 00001080 128 81..00", "W 00001100 44 01..2c"});
        const QStringList blocks{"R 00001000 128", "R 00001080 128"};
        row("split read stops at a short block", "R 1000 300", {"cut 8|R 00001080"}, "128", blocks);
        row("ReadAll reports the short total", "RA 1000 300", {"cut 8|R 00001080"}, "ReadFailed", blocks,
            "address: 0x00001000\nrequest length: 300\nread length: 128\n\n");

        // New settings 192.168.10.20, UDP port 4660, TCP port 24; the flags byte reads 0x10.
        const QString lift = QStringLiteral("W fffffcff 00"), udp = QStringLiteral("W fffffc22 1234"),
                      restore = QStringLiteral("W fffffcff ff");
        const QStringList upToAddress{lift, "R fffffc10 1", "W fffffc10 14", "W fffffc18 c0a80a140018"};
        row("settings written", "E", {}, "0", upToAddress + QStringList{udp, restore});
        row("address refused, protect restored", "E", {"bus|W fffffc18"}, "BusError", upToAddress + QStringList{restore},
            "write address: 0xfffffc18\nlength: 6\n\n");
        row("UDP port times out, protect restored", "E", {"lose|W fffffc22"}, "TimedOut",
            upToAddress + QStringList{udp, udp, udp, restore}, "write address: 0xfffffc22\nlength: 2\n\n");
        row("lift times out (it may have landed)", "E", {"lose|W fffffcff 00"}, "TimedOut",
            {lift, lift, lift, restore}, "write address: 0xfffffcff\nlength: 1\n\n");
        row("restore refused too: the first failure is told", "E", {"bus|W fffffc18", "bus|W fffffcff ff"}, "BusError",
            upToAddress + QStringList{restore}, "write address: 0xfffffc18\nlength: 6\n\n");
        row("restore refused after a good write", "E", {"bus|W fffffcff ff"}, "BusError",
            upToAddress + QStringList{udp, restore}, "write address: 0xfffffcff\nlength: 1\n\n");
        row("stop as the protect is to go back", "E", {"stop|"}, "Aborted", upToAddress + QStringList{udp, restore});
        row("settings block short", "I", {"cut 18|R fffffc10"}, "text: Unable to read Kelvo information", any);
        row("version missing", "I", {"cut 8|R 00000000"}, "text: Unable to read information from Register", any);
    }
    void access()
    {
        QFETCH(QString, access);
        QFETCH(QStringList, rules);
        QFETCH(QString, result);
        QFETCH(QStringList, requests);
        const QStringList words = access.split(QLatin1Char(' '));
        const auto option = [&](const char *name) { return words.value(words.indexOf(QLatin1String(name)) + 1).toInt(); };
        Client client;
        client.stopAtRestore = rules.contains(QStringLiteral("stop|"));
        client.SetWaitCount(qMax(1, option("wait")));
        if (option("timeout"))
            client.SetTimeout(option("timeout"));
        client.SetRetry(option("retry"));
        client.SetAttemptTime(option("attempt"));
        const QString op = words[0];
        const uint address = words.value(1).toUInt(nullptr, 16), length = words.value(2).toUInt();
        QByteArray buffer(int(length) + 4, char(0x55)), data;
        for (uint i = 0; i < length; ++i)
            data += char(i + 1);
        QString got;
        const QList<QByteArray> sent = play(client, rules, [&] {
            got = outcome([&]() -> qint64 {
                if (op == QLatin1String("r"))
                    return client.read(address, buffer.data(), uchar(length));
                if (op == QLatin1String("R"))
                    return client.Read(address, buffer.data(), length);
                if (op == QLatin1String("RA"))
                    return client.ReadAll(address, buffer.data(), length);
                if (op == QLatin1String("W"))
                    return client.Write(address, data.constData(), length);
                if (op == QLatin1String("E"))
                    client.WriteEEPROM(0xC0A80A14, 4660, 24);
                else
                    client.readInfo();
                return 0;
            });
        });
        QCOMPARE(got, result);
        QStringList seen;
        for (int i = 0; i < sent.size(); ++i) {
            seen << summary(sent[i]);
            if (i > 0) // a retry is a new request with a new ID
                QVERIFY(uchar(sent[i][2]) > uchar(sent[i - 1][2]));
        }
        if (requests != QStringList{QStringLiteral("*")})
            QCOMPARE(seen, requests);
        QTEST(client.errorString(), "text");
        // The data read lands where it belongs and nowhere else.
        bool counted = false;
        const int count = got.toInt(&counted);
        if (counted && op.startsWith(QLatin1Char('R'), Qt::CaseInsensitive)) {
            QByteArray expected(buffer.size(), char(0x55));
            for (int i = 0; i < count; ++i)
                expected[i] = moduleByte(address + uint(i));
            QCOMPARE(buffer, expected);
        }
    }

    void idsWrapAfter127()
    {
        QVERIFY(startModule());
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

    // Each job's reports, what it leaves in the registers (event mask at 4, records at 0x10, 0x20
    // and 0x30, the module's address at 0xfffffc18), an empty queue and the write protect on,
    // whether it succeeded, failed, or was stopped: while a reply is awaited, by deleting the
    // worker, or before its run has begun.
    void jobs_data()
    {
        QTest::addColumn<int>("command");
        QTest::addColumn<QList<QByteArray>>("records");
        QTest::addColumn<uint>("refused"); // register answered with a bus error (0: none)
        QTest::addColumn<QString>("stop"); // every reply lost, and the stop
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<QByteArray>("registers");
        const QList<QByteArray> three{"\x01\x02", "\x03\x04", "\x05\x06"}, none;
        const QByteArray untouched = hex("FF 0000 0000 0000 7f000001");
        const QString closed0 = QStringLiteral("closed:0"), bus = QStringLiteral("\n\nQRbcp: Bus Error");
        QTest::newRow("records written") << 3 << three << 0u << "" << QStringList{"closed:1"}
                                         << hex("FF 0102 0304 0506 7f000001");
        QTest::newRow("second record refused: the rest skipped")
            << 3 << three << 0x20u << "" << QStringList{"error:write address: 0x00000020\nlength: 2" + bus, closed0}
            << hex("FF 0102 0000 0000 7f000001");
        QTest::newRow("record without data") << 3 << QList<QByteArray>{"\x01\x02", {}, "\x05\x06"} << 0u << ""
                                             << QStringList{"error:Write ERROR", closed0}
                                             << hex("FF 0102 0000 0000 7f000001");
        QTest::newRow("empty queue") << 3 << none << 0u << "" << QStringList{"closed:1"} << untouched;
        QTest::newRow("event mask cleared") << 4 << none << 0u << "" << QStringList{"setFlg", "closed:1"}
                                            << hex("00 0000 0000 0000 7f000001");
        for (const char *stop : {"Abort while waiting", "deleted while waiting", "Abort before the run begins"})
            QTest::newRow(stop) << 2 << none << 0u << stop << QStringList{closed0} << untouched;
    }
    void jobs()
    {
        QFETCH(int, command);
        QFETCH(QList<QByteArray>, records);
        QFETCH(uint, refused);
        QFETCH(QString, stop);
        SimFaults faults;
        if (refused)
            faults.rbcpBusErrors = {SimRange{refused, refused}};
        faults.rbcpDropFraction = stop.isEmpty() ? 0.0 : 1.0;
        QVERIFY(startModule(faults));
        QVERIFY(sim()->writeRegisters(QUdpThread::EventEnableAddress, QByteArray::fromHex("FF")));
        Recorder rec;
        QPointer<QUdpThread> w = worker(rec, stop.isEmpty() ? 1 : 600); // a minute per attempt unless stopped
        for (int i = 0; i < records.size(); ++i)
            w->setWrite(0x10 * uint(i + 1), records[i]);
        w->setCmd(QUdpThread::Command(command));
        if (command == QUdpThread::CmdNewAddress)
            w->setNewAddress(0xC0A80A14, 24, 4660);
        w->start();
        if (stop.startsWith(QLatin1String("Abort before")))
            w->Abort();
        else if (!stop.isEmpty())
            QTRY_VERIFY_WITH_TIMEOUT(!sim()->rbcpRequests().isEmpty(), 5000);
        if (stop.startsWith(QLatin1String("Abort while")))
            w->Abort();
        if (stop.startsWith(QLatin1String("deleted")))
            delete w; // stops, waits, releases the socket made on the worker's thread
        QVERIFY(QTest::qWaitFor([&] { return rec.ended(); }, 10000));
        QTEST(rec.events, "events");
        QTEST(QByteArray(sim()->readRegisters(4, 1) + sim()->readRegisters(0x10, 2) + sim()->readRegisters(0x20, 2) +
                         sim()->readRegisters(0x30, 2) + sim()->readRegisters(QRbcp::AddressTcpAddress, 4)),
              "registers");
        QCOMPARE(w ? w->queuedCount() : 0, 0);
        QCOMPARE(w ? w->currentCommand() : QUdpThread::CmdNone, QUdpThread::CmdNone);
        QTRY_VERIFY_WITH_TIMEOUT(sim()->writeProtected(), 5000);
    }

    // A failure report still queued when its worker is deleted is dropped, never handed out as a
    // pointer into the dead object; a worker without an address reports nothing at all.
    void deadOrAimlessWorkerSilent()
    {
        SimFaults refused;
        refused.rbcpBusErrors = {SimRange{4, 4}};
        QVERIFY(startModule(refused));
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

    void addressText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("ipv4"); // as an IPv4 address (the Update group, Connect); empty: refused
        QTest::addColumn<QString>("host"); // as a Read target; empty: refused
        QTest::newRow("plain") << "192.168.10.16" << "192.168.10.16" << "192.168.10.16";
        QTest::newRow("the settings view's form") << "10.00.08.09" << "10.0.8.9" << "10.0.8.9";
        QTest::newRow("leading zero is not octal") << "010.0.0.1" << "10.0.0.1" << "10.0.0.1";
        QTest::newRow("shorthand") << "192.168.1016" << "" << "";
        QTest::newRow("256") << "1.2.3.256" << "" << "";
        QTest::newRow("empty field") << "1.2..4" << "" << "";
        QTest::newRow("hexadecimal") << "0x7f.0.0.1" << "" << "";
        QTest::newRow("blank") << " 1.2.3.4" << "" << "";
        QTest::newRow("non-ASCII digit") << QStringLiteral("1.2.3.\u0664") << "" << "";
        QTest::newRow("host name") << "localhost" << "" << "";
        QTest::newRow("IPv6") << "::1" << "" << "::1";
        QTest::newRow("IPv6 with IPv4 tail") << "::ffff:10.0.0.1" << "" << "::ffff:10.0.0.1";
    }
    void addressText()
    {
        QFETCH(QString, text);
        quint32 address = 0;
        QTEST(AddressText::ipv4(text, &address) ? QHostAddress(address).toString() : QString(), "ipv4");
        QTEST(AddressText::host(text).toString(), "host");
    }
};

QTEST_GUILESS_MAIN(TestRbcp)
#include "tst_rbcp.moc"
