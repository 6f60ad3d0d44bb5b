// The RBCP client, the network core's settings block and the UDP worker, against a scripted
// UDP peer on the loopback interface that runs on its own thread.
#include "kelvoinfo.h"
#include "rbcp.h"
#include "udpthread.h"

#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QNetworkDatagram>
#include <QSignalSpy>
#include <QUdpSocket>
#include <QtTest>

#include <algorithm>
#include <functional>
#include <memory>

namespace {

uint requestAddress(const QByteArray &r)
{
    return (uint(uchar(r[4])) << 24) | (uint(uchar(r[5])) << 16) | (uint(uchar(r[6])) << 8) | uint(uchar(r[7]));
}

bool isWrite(const QByteArray &r)
{
    return uchar(r[1]) == 0x80;
}

// "R fffffc10 20" for a read of 20 bytes, "W fffffcff ff" for a write of the byte FF.
QString summary(const QByteArray &r)
{
    if (r.size() < 8)
        return QStringLiteral("? short");
    const QString address = QStringLiteral("%1").arg(requestAddress(r), 8, 16, QLatin1Char('0'));
    if (isWrite(r))
        return QStringLiteral("W ") + address + QLatin1Char(' ') + QString::fromLatin1(r.mid(8).toHex());
    return QStringLiteral("R ") + address + QLatin1Char(' ') + QString::number(uchar(r[3]));
}

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

// The outcome of an access: its count, or the name of the code it threw.
template <typename F> QString outcome(F access)
{
    try {
        return QString::number(access());
    } catch (QRbcp::ErrSts code) {
        switch (code) {
        case QRbcp::Aborted:
            return QStringLiteral("Aborted");
        case QRbcp::WriteFailed:
            return QStringLiteral("WriteFailed");
        case QRbcp::ReadFailed:
            return QStringLiteral("ReadFailed");
        case QRbcp::SocketFailed:
            return QStringLiteral("SocketFailed");
        case QRbcp::BusError:
            return QStringLiteral("BusError");
        case QRbcp::TimedOut:
            return QStringLiteral("TimedOut");
        }
        return QStringLiteral("code %1").arg(int(code));
    } catch (const QString &text) {
        return QStringLiteral("text: ") + text;
    }
}

const QString InfoHeader = QStringLiteral("--------- Kelvo(EEPROM) Information ---------\n");
const QString Rule = QString(45, QLatin1Char('-')) + QLatin1Char('\n');

} // namespace

// A register space that answers RBCP on 127.0.0.1 (or ::1). Requests are answered from its
// memory unless the script changes the answer; the script sees each request and the memory's
// answer and returns the datagrams to send back (none, stale ones, broken ones ...).
class FakePeer : public QObject
{
    Q_OBJECT
public:
    using Script = std::function<QList<QByteArray>(const QByteArray &request, const QByteArray &answer)>;

    explicit FakePeer(const QHostAddress &bindAddress = QHostAddress(QHostAddress::LocalHost))
        : bindAddress(bindAddress)
    {
        moveToThread(&thread);
        thread.start();
        QMetaObject::invokeMethod(this, &FakePeer::open, Qt::BlockingQueuedConnection);
    }

    ~FakePeer() override
    {
        QMetaObject::invokeMethod(this, [this] { delete socket; }, Qt::BlockingQueuedConnection);
        thread.quit();
        thread.wait();
    }

    quint16 port() const { return boundPort; }
    bool isBound() const { return boundPort != 0; }

    void setScript(Script s)
    {
        QMutexLocker lock(&mutex);
        script = std::move(s);
    }

    QList<QByteArray> requests() const
    {
        QMutexLocker lock(&mutex);
        return log;
    }
    QStringList summaries() const
    {
        QStringList out;
        for (const QByteArray &r : requests())
            out << summary(r);
        return out;
    }
    int requestCount() const
    {
        QMutexLocker lock(&mutex);
        return int(log.size());
    }
    QList<quint16> senderPorts() const
    {
        QMutexLocker lock(&mutex);
        return senders;
    }

    void poke(uint address, const QByteArray &bytes)
    {
        QMutexLocker lock(&mutex);
        for (int i = 0; i < bytes.size(); ++i)
            memory[address + uint(i)] = bytes[i];
    }
    QByteArray peek(uint address, int length) const
    {
        QMutexLocker lock(&mutex);
        QByteArray out;
        for (int i = 0; i < length; ++i)
            out += memory.value(address + uint(i), '\0');
        return out;
    }

private:
    void open()
    {
        socket = new QUdpSocket(this);
        if (socket->bind(bindAddress, 0))
            boundPort = socket->localPort();
        connect(socket, &QUdpSocket::readyRead, this, &FakePeer::onReadyRead);
    }

    void onReadyRead()
    {
        while (socket->hasPendingDatagrams()) {
            const QNetworkDatagram d = socket->receiveDatagram();
            QList<QByteArray> replies;
            {
                QMutexLocker lock(&mutex);
                log << d.data();
                senders << quint16(d.senderPort());
                const QByteArray answer = answerLocked(d.data());
                replies = script ? script(d.data(), answer) : QList<QByteArray>{answer};
                // A write lands unless the core refuses it with a bus error; a lost reply
                // does not undo it.
                const bool refused = std::any_of(replies.cbegin(), replies.cend(), [](const QByteArray &r) {
                    return r.size() > 1 && (r[1] & 0x01);
                });
                if (!refused)
                    storeLocked(d.data());
            }
            for (const QByteArray &reply : std::as_const(replies))
                socket->writeDatagram(reply, d.senderAddress(), quint16(d.senderPort()));
        }
    }

    QByteArray answerLocked(const QByteArray &request)
    {
        if (request.size() < 8)
            return {};
        QByteArray reply = request.left(8);
        const uint address = requestAddress(request);
        const int length = uchar(request[3]);
        if (isWrite(request)) {
            reply[1] = char(0x88);
            reply += request.mid(8, length);
        } else {
            reply[1] = char(0xC8);
            for (int i = 0; i < length; ++i)
                reply += memory.value(address + uint(i), '\0');
        }
        return reply;
    }

    void storeLocked(const QByteArray &request)
    {
        if (request.size() < 8 || !isWrite(request))
            return;
        const uint address = requestAddress(request);
        const QByteArray data = request.mid(8, uchar(request[3]));
        for (int i = 0; i < data.size(); ++i)
            memory[address + uint(i)] = data[i];
    }

    QThread thread;
    QHostAddress bindAddress;
    QUdpSocket *socket = nullptr;
    quint16 boundPort = 0;
    mutable QMutex mutex;
    Script script;
    QList<QByteArray> log;
    QList<quint16> senders;
    QHash<uint, char> memory;
};

namespace {

enum class Fault { None, Stale, BusFlag, Short, Oversized, HeaderOnly, LoseFirst2, LoseFirst5, LoseAll };

FakePeer::Script faultScript(Fault fault)
{
    auto seen = std::make_shared<int>(0);
    return [fault, seen](const QByteArray &request, const QByteArray &answer) -> QList<QByteArray> {
        const int n = (*seen)++;
        QByteArray reply = answer;
        switch (fault) {
        case Fault::None:
            break;
        case Fault::Stale: {
            QByteArray old = answer;
            old[2] = char((uchar(request[2]) + 127) % 128);
            return {old, answer};
        }
        case Fault::BusFlag:
            reply[1] = char(reply[1] | 0x01);
            break;
        case Fault::Short:
            return {answer.left(5)};
        case Fault::Oversized:
            reply += QByteArray(1000, 'x');
            break;
        case Fault::HeaderOnly:
            return {answer.left(8)};
        case Fault::LoseFirst2:
            if (n < 2)
                return {};
            break;
        case Fault::LoseFirst5:
            if (n < 5)
                return {};
            break;
        case Fault::LoseAll:
            return {};
        }
        return {reply};
    };
}

// Rules for the settings tests: requests whose summary starts with a key get a bus error
// ("bus") or no reply ("lose"); the memory still takes the write, as when only the reply is lost.
FakePeer::Script ruleScript(const QStringList &rules)
{
    return [rules](const QByteArray &request, const QByteArray &answer) -> QList<QByteArray> {
        const QString s = summary(request);
        for (const QString &rule : rules) {
            const QString key = rule.section(QLatin1Char('|'), 1);
            if (!s.startsWith(key))
                continue;
            if (rule.startsWith(QLatin1String("lose|")))
                return {};
            if (rule.startsWith(QLatin1String("bus|"))) {
                QByteArray reply = answer;
                reply[1] = char(reply[1] | 0x01);
                return {reply};
            }
            if (rule.startsWith(QLatin1String("headeronly|")))
                return {answer.left(8)};
            if (rule.startsWith(QLatin1String("half|")))
                return {answer.left(8 + (answer.size() - 8) / 2)};
        }
        return {answer};
    };
}

// A settings block: flags, a spare byte, MAC, IPv4, TCP port, four spare bytes, UDP port.
QByteArray infoBlock(quint8 flags, const QByteArray &mac, const QByteArray &ip, quint16 tcp, quint16 udp)
{
    QByteArray b;
    b += char(flags);
    b += char(0x5A);
    b += mac;
    b += ip;
    b += char(tcp >> 8);
    b += char(tcp);
    b += hex("01020304");
    b += char(udp >> 8);
    b += char(udp);
    return b;
}

void loadModule(FakePeer &peer, const QByteArray &block)
{
    peer.poke(QRbcp::InfoAddress, block);
    peer.poke(QRbcp::LiveTcpPortAddress, hex("1388"));        // 5000 in use now
    peer.poke(QRbcp::LiveTcpCloseTimeoutAddress, hex("0064")); // 100
    peer.poke(QUdpThread::VersionAddress, hex("01020AFF"));
}

const QByteArray ExampleBlock = infoBlock(0x04, hex("001A2B3C4D5E"), hex("C0A80A10"), 24, 4660);
const QString ExampleText = InfoHeader + QStringLiteral("MAC Address : 00:1A:2B:3C:4D:5E\n"
                                                        "IP Address : 192.168.10.16\n"
                                                        "TCP Port : 24\n"
                                                        "UDP Port : 4660\n"
                                                        "Keep Alive : ON\n");

} // namespace

// Stands in for the General tab: the worker connects its signals to these slots by name.
class Recorder : public QObject
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

// Deletes its worker in the error handler, as the General tab does.
class DeletingOwner : public QObject
{
    Q_OBJECT
public:
    QPointer<QUdpThread> worker;
    QString shown;

public slots:
    void displayError(QString *text)
    {
        shown = *text;
        delete worker.data();
    }
};

class TestRbcp : public QObject
{
    Q_OBJECT

    // A client on the test's thread, aimed at the peer, with one 100 ms wait per attempt.
    static void aim(QRbcp &client, const FakePeer &peer)
    {
        client.SetIpAddress(QHostAddress(QHostAddress::LocalHost), peer.port());
        client.SetWaitCount(1);
        QVERIFY(client.startUDP());
    }

    // A worker owned by the recorder, aimed at the peer.
    static QUdpThread *worker(Recorder &rec, const FakePeer &peer)
    {
        auto *w = new QUdpThread(&rec);
        w->SetIpAddress(QHostAddress(QHostAddress::LocalHost), peer.port());
        w->SetWaitCount(1);
        rec.watch(w);
        return w;
    }

private slots:
    void initTestCase() { QVERIFY(FakePeer().isBound()); }

    // ---- requests on the wire

    void requestBytes_data()
    {
        QTest::addColumn<int>("op");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("read of the settings block") << 0 << hex("FFC00114FFFFFC10");
        QTest::newRow("write of 4 bytes at 4") << 1 << hex("FF8001040000000401020304");
        QTest::newRow("one-byte write of the write protect") << 2 << hex("FF800101FFFFFCFFFF");
    }
    void requestBytes()
    {
        QFETCH(int, op);
        QFETCH(QByteArray, expected);
        FakePeer peer;
        QRbcp client;
        aim(client, peer);
        char buffer[20];
        if (op == 0)
            QCOMPARE(client.Read(0xFFFFFC10, buffer, 20), 20u);
        else if (op == 1)
            QCOMPARE(client.Write(4, "\x01\x02\x03\x04", 4), 4u);
        else
            QCOMPARE(client.Write(0xFFFFFCFF, char(0xFF)), 1);
        QCOMPARE(peer.requests(), QList<QByteArray>{expected});
    }

    void splitting_data()
    {
        QTest::addColumn<bool>("writing");
        QTest::addColumn<uint>("length");
        QTest::addColumn<QStringList>("blocks");
        const QStringList three = {QStringLiteral("00001000 128"), QStringLiteral("00001080 128"),
                                   QStringLiteral("00001100 44")};
        QTest::newRow("read 300") << false << 300u << three;
        QTest::newRow("write 300") << true << 300u << three;
        QTest::newRow("read 129") << false << 129u
                                  << QStringList{QStringLiteral("00001000 128"), QStringLiteral("00001080 1")};
        QTest::newRow("write 128") << true << 128u << QStringList{QStringLiteral("00001000 128")};
        QTest::newRow("read 0") << false << 0u << QStringList{};
    }
    void splitting()
    {
        QFETCH(bool, writing);
        QFETCH(uint, length);
        QFETCH(QStringList, blocks);
        FakePeer peer;
        QRbcp client;
        aim(client, peer);
        QByteArray data(int(length), '\0');
        for (int i = 0; i < data.size(); ++i)
            data[i] = char(i * 7 + 3);
        if (writing) {
            QCOMPARE(client.Write(0x1000, data.constData(), length), length);
            QCOMPARE(peer.peek(0x1000, int(length)), data);
        } else {
            peer.poke(0x1000, data);
            QByteArray got(int(length), '\0');
            QCOMPARE(client.ReadAll(0x1000, got.data(), length), length);
            QCOMPARE(got, data);
        }
        QStringList seen;
        for (const QByteArray &r : peer.requests())
            seen << QStringLiteral("%1 %2").arg(requestAddress(r), 8, 16, QLatin1Char('0')).arg(uchar(r[3]));
        QCOMPARE(seen, blocks);
    }

    // ---- replies that are late, lost, broken or flagged

    void replies_data()
    {
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<int>("waits");
        QTest::addColumn<int>("retries"); // -100: SetRetry not called
        QTest::addColumn<QString>("result");
        QTest::addColumn<int>("requests");
        QTest::addColumn<QString>("text");
        const QString lines = QStringLiteral("read address: 0x00001000\nlength: 4\n\n");
        QTest::newRow("clean") << Fault::None << 1 << -100 << "4" << 1 << QString();
        QTest::newRow("stale ID then reply") << Fault::Stale << 2 << -100 << "4" << 1 << QString();
        QTest::newRow("stale ID uses up the only wait")
            << Fault::Stale << 1 << -100 << "TimedOut" << 3 << lines;
        QTest::newRow("bus error, no retry") << Fault::BusFlag << 1 << -100 << "BusError" << 1 << lines;
        QTest::newRow("short datagram") << Fault::Short << 1 << -100 << "SocketFailed" << 1 << QString();
        QTest::newRow("oversized reply") << Fault::Oversized << 1 << -100 << "4" << 1 << QString();
        QTest::newRow("header-only reply") << Fault::HeaderOnly << 1 << -100 << "0" << 1 << QString();
        QTest::newRow("two lost, third answered") << Fault::LoseFirst2 << 1 << -100 << "4" << 3 << QString();
        QTest::newRow("all lost") << Fault::LoseAll << 1 << -100 << "TimedOut" << 3 << lines;
        QTest::newRow("SetRetry(0) keeps three") << Fault::LoseAll << 1 << 0 << "TimedOut" << 3 << lines;
        QTest::newRow("SetRetry(1) makes two") << Fault::LoseAll << 1 << 1 << "TimedOut" << 2 << lines;
        QTest::newRow("SetRetry(5) makes six") << Fault::LoseFirst5 << 1 << 5 << "4" << 6 << QString();
    }
    void replies()
    {
        QFETCH(Fault, fault);
        QFETCH(int, waits);
        QFETCH(int, retries);
        QFETCH(QString, result);
        QFETCH(int, requests);
        QFETCH(QString, text);
        FakePeer peer;
        peer.poke(0x1000, hex("11223344"));
        peer.setScript(faultScript(fault));
        QRbcp client;
        aim(client, peer);
        client.SetWaitCount(waits);
        if (retries != -100)
            client.SetRetry(retries);

        QByteArray buffer = hex("A5A5A5A55A5A5A5A"); // four bytes to fill, four that must stay
        QCOMPARE(outcome([&] { return client.read(0x1000, buffer.data(), 4); }), result);
        // The peer may still be taking the last request that the client gave up on.
        QTRY_COMPARE_WITH_TIMEOUT(peer.requestCount(), requests, 5000);
        if (result == QLatin1String("4"))
            QCOMPARE(buffer, hex("112233445A5A5A5A"));
        else
            QCOMPARE(buffer.mid(4), hex("5A5A5A5A"));
        if (result != QLatin1String("SocketFailed"))
            QCOMPARE(client.errorString(), text);

        // A retry is a new request with a new ID.
        QSet<int> ids;
        for (const QByteArray &r : peer.requests())
            ids << uchar(r[2]);
        QCOMPARE(ids.size(), requests);
    }

    // Every dropped datagram counts as one of the waits: with 2 s (20 waits), 19 stale replies
    // still leave room for the right one, 20 do not and the access needs a second request.
    void staleRepliesCountAsWaits_data()
    {
        QTest::addColumn<int>("stale");
        QTest::addColumn<int>("requests");
        QTest::newRow("19 stale") << 19 << 1;
        QTest::newRow("20 stale") << 20 << 2;
    }
    void staleRepliesCountAsWaits()
    {
        QFETCH(int, stale);
        QFETCH(int, requests);
        FakePeer peer;
        auto first = std::make_shared<bool>(true);
        peer.setScript([first, stale](const QByteArray &request, const QByteArray &answer) {
            QList<QByteArray> out;
            if (*first) {
                *first = false;
                QByteArray old = answer;
                old[2] = char((uchar(request[2]) + 100) % 128);
                for (int i = 0; i < stale; ++i)
                    out << old;
            }
            out << answer;
            return out;
        });
        QRbcp client;
        aim(client, peer);
        client.SetTimeout(2);
        char byte;
        QCOMPARE(client.Read(0x20, &byte), 1);
        QCOMPARE(peer.requestCount(), requests);
    }

    void shortReads_data()
    {
        QTest::addColumn<QString>("rule");
        QTest::addColumn<uint>("count");
        QTest::addColumn<QString>("text");
        QTest::newRow("second block header only")
            << "headeronly|R 00001080" << 128u
            << "address: 0x00001000\nrequest length: 300\nread length: 128\n\n";
        QTest::newRow("first block half") << "half|R 00001000" << 0u
                                          << "address: 0x00001000\nrequest length: 300\nread length: 0\n\n";
    }
    void shortReads()
    {
        QFETCH(QString, rule);
        QFETCH(uint, count);
        QFETCH(QString, text);
        FakePeer peer;
        peer.setScript(ruleScript({rule}));
        QRbcp client;
        aim(client, peer);
        QByteArray buffer(300, '\0');
        QCOMPARE(client.Read(0x1000, buffer.data(), 300), count);
        QCOMPARE(client.errorString(), QString());
        QCOMPARE(outcome([&] { return client.ReadAll(0x1000, buffer.data(), 300); }), QStringLiteral("ReadFailed"));
        QCOMPARE(client.errorString(), text);
    }

    void abortBeforeAccess()
    {
        FakePeer peer;
        QRbcp client;
        aim(client, peer);
        client.Abort();
        char byte;
        QCOMPARE(outcome([&] { return client.Read(0x20, &byte); }), QStringLiteral("Aborted"));
        QCOMPARE(peer.requestCount(), 0);
        QVERIFY(client.startUDP()); // a new run clears the flag
        QCOMPARE(outcome([&] { return client.Read(0x20, &byte); }), QStringLiteral("1"));
    }

    void setIpAddressReportsChange()
    {
        QRbcp client;
        QVERIFY(!client.startUDP()); // no address yet
        const QHostAddress a(QStringLiteral("127.0.0.1"));
        QVERIFY(client.SetIpAddress(a, 4660));
        QVERIFY(!client.SetIpAddress(a, 4660));
        QVERIFY(client.SetIpAddress(a, 4661));
        QVERIFY(client.SetIpAddress(QHostAddress(QStringLiteral("::1")), 4661));
    }

    // ---- the settings block

    void infoText_data()
    {
        QTest::addColumn<QByteArray>("block");
        QTest::addColumn<QString>("text");
        QTest::newRow("example") << ExampleBlock << ExampleText;
        QTest::newRow("short octets, keep-alive off, MAC in upper case")
            << infoBlock(0xFB, hex("ABCDEF0A0B0C"), hex("0A000105"), 1, 65535)
            << InfoHeader + QStringLiteral("MAC Address : AB:CD:EF:0A:0B:0C\n"
                                           "IP Address : 10.00.01.05\n"
                                           "TCP Port : 1\n"
                                           "UDP Port : 65535\n"
                                           "Keep Alive : OFF\n");
        QTest::newRow("block too short") << ExampleBlock.left(19) << QString();
    }
    void infoText()
    {
        QFETCH(QByteArray, block);
        QFETCH(QString, text);
        QCOMPARE(KelvoInfo::text(block), text);
    }

    void readInfoKelvo()
    {
        FakePeer peer;
        loadModule(peer, ExampleBlock);
        QRbcp client;
        aim(client, peer);
        QSignalSpy tcp(&client, &QRbcp::setTcp);
        QVERIFY(client.ReadInfoKelvo());
        QCOMPARE(client.GetTcpPort(), quint16(5000)); // the live value, not the block's
        QCOMPARE(client.GetTcpCloseTimeout(), quint16(100));
        QString text = QStringLiteral("kept\n");
        QVERIFY(client.GetInfoKelvo(&text));
        QCOMPARE(text, QStringLiteral("kept\n") + ExampleText);
        QCOMPARE(tcp.size(), 1);
        QCOMPARE(tcp.at(0).at(0).value<quint16>(), quint16(24));
    }

    void readInfoKelvoIncomplete_data()
    {
        QTest::addColumn<QString>("rule");
        QTest::newRow("block half") << "half|R fffffc10";
        QTest::newRow("live TCP port missing") << "headeronly|R ffffff1c";
        QTest::newRow("close time-out missing") << "headeronly|R ffffff2a";
    }
    void readInfoKelvoIncomplete()
    {
        QFETCH(QString, rule);
        FakePeer peer;
        loadModule(peer, ExampleBlock);
        QRbcp client;
        aim(client, peer);
        QVERIFY(client.ReadInfoKelvo()); // a good block first, which a failed read must not leave behind
        peer.setScript(ruleScript({rule}));
        QSignalSpy tcp(&client, &QRbcp::setTcp);
        QVERIFY(!client.ReadInfoKelvo());
        QString text = QStringLiteral("kept\n");
        QVERIFY(!client.GetInfoKelvo(&text));
        QCOMPARE(text, QStringLiteral("kept\n"));
        QCOMPARE(tcp.size(), 0);
    }

    void writeEEPROM_data()
    {
        QTest::addColumn<int>("flags");
        QTest::addColumn<QStringList>("flagWrites");
        QTest::newRow("keep-alive off") << 0x00 << QStringList{QStringLiteral("W fffffc10 04")};
        QTest::newRow("keep-alive off, other bits kept") << 0x83 << QStringList{QStringLiteral("W fffffc10 87")};
        QTest::newRow("keep-alive already on") << 0x04 << QStringList{};
    }
    void writeEEPROM()
    {
        QFETCH(int, flags);
        QFETCH(QStringList, flagWrites);
        FakePeer peer;
        peer.poke(QRbcp::InfoAddress, QByteArray(1, char(flags)));
        peer.poke(QRbcp::WriteProtectAddress, hex("FF"));
        QRbcp client;
        aim(client, peer);
        client.WriteEEPROM(0xC0A80A14, 4660, 24);
        const QStringList expected = QStringList{QStringLiteral("W fffffcff 00"), QStringLiteral("R fffffc10 1")} +
                                     flagWrites +
                                     QStringList{QStringLiteral("W fffffc18 c0a80a140018"),
                                                 QStringLiteral("W fffffc22 1234"), QStringLiteral("W fffffcff ff")};
        QCOMPARE(peer.summaries(), expected);
        QCOMPARE(uchar(peer.peek(QRbcp::InfoAddress, 1)[0]), uchar(flags | 0x04));
        QCOMPARE(peer.peek(QRbcp::WriteProtectAddress, 1), hex("FF"));
    }

    // Whatever fails after the write protect was lifted, it is put back, and the operator is
    // told about the first failure, not about the restore.
    void writeEEPROMRestoresProtect_data()
    {
        QTest::addColumn<QStringList>("rules");
        QTest::addColumn<QString>("result");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("restores");
        QTest::addColumn<QByteArray>("protect");
        QTest::newRow("bus error on address and TCP port")
            << QStringList{QStringLiteral("bus|W fffffc18")} << "BusError"
            << "write address: 0xfffffc18\nlength: 6\n\n" << 1 << hex("FF");
        QTest::newRow("UDP port times out")
            << QStringList{QStringLiteral("lose|W fffffc22")} << "TimedOut"
            << "write address: 0xfffffc22\nlength: 2\n\n" << 1 << hex("FF");
        QTest::newRow("flags read bus error")
            << QStringList{QStringLiteral("bus|R fffffc10")} << "BusError"
            << "read address: 0xfffffc10\nlength: 1\n\n" << 1 << hex("FF");
        QTest::newRow("lifting times out (the lift may have landed)")
            << QStringList{QStringLiteral("lose|W fffffcff 00")} << "TimedOut"
            << "write address: 0xfffffcff\nlength: 1\n\n" << 1 << hex("FF");
        QTest::newRow("restore fails as well: first failure kept")
            << QStringList{QStringLiteral("bus|W fffffc18"), QStringLiteral("bus|W fffffcff ff")} << "BusError"
            << "write address: 0xfffffc18\nlength: 6\n\n" << 1 << hex("00");
        QTest::newRow("restore after a good write fails")
            << QStringList{QStringLiteral("bus|W fffffcff ff")} << "BusError"
            << "write address: 0xfffffcff\nlength: 1\n\n" << 1 << hex("00");
    }
    void writeEEPROMRestoresProtect()
    {
        QFETCH(QStringList, rules);
        QFETCH(QString, result);
        QFETCH(QString, text);
        QFETCH(int, restores);
        QFETCH(QByteArray, protect);
        FakePeer peer;
        peer.poke(QRbcp::WriteProtectAddress, hex("FF"));
        peer.setScript(ruleScript(rules));
        QRbcp client;
        aim(client, peer);
        QCOMPARE(outcome([&] {
                     client.WriteEEPROM(0xC0A80A14, 4660, 24);
                     return 0;
                 }),
                 result);
        QCOMPARE(client.errorString(), text);
        QTRY_COMPARE_WITH_TIMEOUT(peer.summaries().last(), QStringLiteral("W fffffcff ff"), 5000);
        const QStringList seen = peer.summaries();
        QCOMPARE(seen.count(QStringLiteral("W fffffcff ff")), restores);
        QCOMPARE(seen.last(), QStringLiteral("W fffffcff ff"));
        QCOMPARE(peer.peek(QRbcp::WriteProtectAddress, 1), protect);
    }

    void resetKelvo()
    {
        FakePeer peer;
        peer.poke(QRbcp::ControlAddress, hex("01"));
        QRbcp client;
        aim(client, peer);
        QVERIFY(client.ResetKelvo());
        QCOMPARE(peer.summaries(), (QStringList{QStringLiteral("R ffffff10 1"), QStringLiteral("W ffffff10 81")}));
    }

    // ---- the worker

    void runWithoutAddressSignalsNothing()
    {
        Recorder rec;
        auto *w = new QUdpThread(&rec);
        rec.watch(w);
        w->setCmd(QUdpThread::CmdReadInfo);
        w->start();
        QVERIFY(w->wait(5000));
        QCoreApplication::processEvents();
        QCOMPARE(rec.events, QStringList());
    }

    void readInfoJob()
    {
        FakePeer peer;
        loadModule(peer, ExampleBlock);
        Recorder rec;
        QUdpThread *w = worker(rec, peer);
        w->setCmd(QUdpThread::CmdReadInfo);
        w->start();
        QTRY_VERIFY_WITH_TIMEOUT(rec.ended(), 5000);
        const QString text = ExampleText + Rule + QStringLiteral("FPGA Version : 01020AFF\n") + Rule;
        QCOMPARE(rec.events, (QStringList{QStringLiteral("tcp:24"), QStringLiteral("info:") + text,
                                          QStringLiteral("closed:1")}));
        QCOMPARE(w->currentCommand(), QUdpThread::CmdNone);

        // The socket is kept: a second run talks from the same local port.
        rec.events.clear();
        w->setCmd(QUdpThread::CmdReadInfo);
        w->start();
        QTRY_VERIFY_WITH_TIMEOUT(rec.ended(), 5000);
        QCOMPARE(rec.events.last(), QStringLiteral("closed:1"));
        const QList<quint16> ports = peer.senderPorts();
        QCOMPARE(QSet<quint16>(ports.begin(), ports.end()).size(), 1);
    }

    void readInfoJobFailures_data()
    {
        QTest::addColumn<QString>("rule");
        QTest::addColumn<QString>("text");
        QTest::newRow("block short") << "half|R fffffc10" << "Unable to read Kelvo information";
        QTest::newRow("version missing") << "headeronly|R 00000000" << "Unable to read information from Register";
        QTest::newRow("block times out")
            << "lose|R fffffc10" << "read address: 0xfffffc10\nlength: 20\n\nQRbcp: Socket operation timed out";
        QTest::newRow("version bus error")
            << "bus|R 00000000" << "read address: 0x00000000\nlength: 4\n\nQRbcp: Bus Error";
    }
    void readInfoJobFailures()
    {
        QFETCH(QString, rule);
        QFETCH(QString, text);
        FakePeer peer;
        loadModule(peer, ExampleBlock);
        peer.setScript(ruleScript({rule}));
        Recorder rec;
        QUdpThread *w = worker(rec, peer);
        w->setCmd(QUdpThread::CmdReadInfo);
        w->start();
        QTRY_VERIFY_WITH_TIMEOUT(rec.ended(), 5000);
        QCOMPARE(rec.events, (QStringList{QStringLiteral("error:") + text, QStringLiteral("closed:0")}));
    }

    void newAddressJob()
    {
        FakePeer peer;
        loadModule(peer, infoBlock(0x00, hex("001A2B3C4D5E"), hex("C0A80A10"), 24, 4660));
        Recorder rec;
        QUdpThread *w = worker(rec, peer);
        w->setNewAddress(0xC0A80A14, 8000, 4661);
        QCOMPARE(w->currentCommand(), QUdpThread::CmdNewAddress);
        w->start();
        QTRY_VERIFY_WITH_TIMEOUT(rec.ended(), 5000);
        QCOMPARE(rec.events.size(), 3);
        QCOMPARE(rec.events.at(0), QStringLiteral("tcp:8000"));
        QVERIFY(rec.events.at(1).startsWith(QLatin1String("info:")));
        QVERIFY(rec.events.at(1).contains(QLatin1String("IP Address : 192.168.10.20\nTCP Port : 8000\n"
                                                         "UDP Port : 4661\nKeep Alive : ON\n")));
        QCOMPARE(rec.events.at(2), QStringLiteral("closed:1"));
        QVERIFY(peer.summaries().contains(QStringLiteral("W fffffc18 c0a80a141f40")));
        QVERIFY(peer.summaries().contains(QStringLiteral("W fffffc22 1235")));
    }

    void newAddressJobRestoresProtect()
    {
        FakePeer peer;
        loadModule(peer, ExampleBlock);
        peer.poke(QRbcp::WriteProtectAddress, hex("FF"));
        peer.setScript(ruleScript({QStringLiteral("bus|W fffffc22")}));
        Recorder rec;
        QUdpThread *w = worker(rec, peer);
        w->setNewAddress(0xC0A80A14, 24, 4660);
        w->start();
        QTRY_VERIFY_WITH_TIMEOUT(rec.ended(), 5000);
        QCOMPARE(rec.events, (QStringList{QStringLiteral("error:write address: 0xfffffc22\nlength: 2\n\nQRbcp: Bus Error"),
                                          QStringLiteral("closed:0")}));
        QCOMPARE(peer.summaries().last(), QStringLiteral("W fffffcff ff"));
        QCOMPARE(peer.peek(QRbcp::WriteProtectAddress, 1), hex("FF"));
    }

    // Stopping in the middle of a settings write still sends the restore, without waiting.
    void abortInsideWriteEEPROMSendsRestore()
    {
        FakePeer peer;
        loadModule(peer, ExampleBlock);
        peer.poke(QRbcp::WriteProtectAddress, hex("FF"));
        peer.setScript(ruleScript({QStringLiteral("lose|W fffffc22")}));
        Recorder rec;
        QUdpThread *w = worker(rec, peer);
        w->SetWaitCount(600);
        w->setNewAddress(0xC0A80A14, 24, 4660);
        w->start();
        QTRY_VERIFY_WITH_TIMEOUT(peer.summaries().contains(QStringLiteral("W fffffc22 1234")), 5000);
        w->Abort();
        QTRY_VERIFY_WITH_TIMEOUT(rec.ended(), 5000);
        QCOMPARE(rec.events, QStringList{QStringLiteral("closed:0")});
        QTRY_COMPARE_WITH_TIMEOUT(peer.summaries().last(), QStringLiteral("W fffffcff ff"), 5000);
        QCOMPARE(peer.peek(QRbcp::WriteProtectAddress, 1), hex("FF"));
    }

    void writeJobs_data()
    {
        QTest::addColumn<QString>("rule");
        QTest::addColumn<bool>("emptyRecord");
        QTest::addColumn<QStringList>("events");
        QTest::addColumn<QStringList>("requests");
        QTest::newRow("all written") << QString() << false << QStringList{QStringLiteral("closed:1")}
                                     << QStringList{QStringLiteral("W 00000004 0102"), QStringLiteral("W 00000100 0304"),
                                                    QStringLiteral("W 00000200 05")};
        QTest::newRow("second record times out")
            << "lose|W 00000100" << false
            << QStringList{QStringLiteral("error:write address: 0x00000100\nlength: 2\n\n"
                                          "QRbcp: Socket operation timed out"),
                           QStringLiteral("closed:0")}
            << QStringList{QStringLiteral("W 00000004 0102"), QStringLiteral("W 00000100 0304"),
                           QStringLiteral("W 00000100 0304"), QStringLiteral("W 00000100 0304")};
        QTest::newRow("record without data")
            << QString() << true << QStringList{QStringLiteral("error:Write ERROR"), QStringLiteral("closed:0")}
            << QStringList{QStringLiteral("W 00000004 0102")};
    }
    void writeJobs()
    {
        QFETCH(QString, rule);
        QFETCH(bool, emptyRecord);
        QFETCH(QStringList, events);
        QFETCH(QStringList, requests);
        FakePeer peer;
        if (!rule.isEmpty())
            peer.setScript(ruleScript({rule}));
        Recorder rec;
        QUdpThread *w = worker(rec, peer);
        w->setWrite(0x04, hex("0102"));
        w->setWrite(0x100, emptyRecord ? QByteArray() : hex("0304"));
        w->setWrite(0x200, hex("05"));
        QCOMPARE(w->queuedCount(), 3);
        QCOMPARE(w->currentCommand(), QUdpThread::CmdWrite);
        w->start();
        QTRY_VERIFY_WITH_TIMEOUT(rec.ended(), 5000);
        QCOMPARE(rec.events, events);
        QTRY_COMPARE_WITH_TIMEOUT(peer.summaries(), requests, 5000);
        QCOMPARE(w->queuedCount(), 0);
        QCOMPARE(w->currentCommand(), QUdpThread::CmdNone);
    }

    void writeJobWithEmptyQueue()
    {
        FakePeer peer;
        Recorder rec;
        QUdpThread *w = worker(rec, peer);
        w->setCmd(QUdpThread::CmdWrite);
        w->start();
        QTRY_VERIFY_WITH_TIMEOUT(rec.ended(), 5000);
        QCOMPARE(rec.events, QStringList{QStringLiteral("closed:1")});
        QCOMPARE(peer.requestCount(), 0);
    }

    void setFlagJob()
    {
        FakePeer peer;
        peer.poke(QUdpThread::EventEnableAddress, hex("FF"));
        Recorder rec;
        QUdpThread *w = worker(rec, peer);
        w->setCmd(QUdpThread::CmdSetFlag);
        w->start();
        QTRY_VERIFY_WITH_TIMEOUT(rec.ended(), 5000);
        QCOMPARE(rec.events, (QStringList{QStringLiteral("setFlg"), QStringLiteral("closed:1")}));
        QCOMPARE(peer.requests(), QList<QByteArray>{hex("FF8001010000000400")});
        QCOMPARE(peer.peek(QUdpThread::EventEnableAddress, 1), hex("00"));
    }

    // An abort (or the destructor's stop) ends a wait within a slice; nothing but closed(false)
    // is reported.
    void abortDuringWait_data()
    {
        QTest::addColumn<bool>("destroy");
        QTest::newRow("Abort") << false;
        QTest::newRow("destructor") << true;
    }
    void abortDuringWait()
    {
        QFETCH(bool, destroy);
        FakePeer peer;
        peer.setScript(faultScript(Fault::LoseAll));
        Recorder rec;
        QUdpThread *w = worker(rec, peer);
        w->SetWaitCount(600); // a minute per attempt unless the abort ends it
        w->setCmd(QUdpThread::CmdReadInfo);
        w->start();
        QTRY_COMPARE_WITH_TIMEOUT(peer.requestCount(), 1, 5000);
        if (destroy) {
            delete w; // stops, waits, releases the socket made on the worker's thread
            QCoreApplication::processEvents();
            for (const QString &e : std::as_const(rec.events))
                QVERIFY(!e.startsWith(QLatin1String("error:")));
        } else {
            w->Abort();
            QTRY_VERIFY_WITH_TIMEOUT(rec.ended(), 5000);
            QCOMPARE(rec.events, QStringList{QStringLiteral("closed:0")});
            QVERIFY(w->wait(5000));
        }
        QCOMPARE(peer.requestCount(), 1);
    }

    // A failure report still queued when its worker is deleted is dropped, never handed out
    // as a pointer into the dead object.
    void pendingErrorDroppedWithWorker()
    {
        FakePeer peer;
        peer.setScript(faultScript(Fault::BusFlag));
        Recorder rec;
        QUdpThread *w = worker(rec, peer);
        w->setCmd(QUdpThread::CmdSetFlag);
        w->start();
        QVERIFY(w->wait(5000)); // the run has ended; its reports sit in the event queue
        delete w;
        QCoreApplication::processEvents();
        for (const QString &e : std::as_const(rec.events))
            QVERIFY2(!e.startsWith(QLatin1String("error:")), qPrintable(e));
    }

    // The General tab deletes the worker from inside its error handler, after showing the text.
    void errorHandlerMayDeleteWorker()
    {
        FakePeer peer;
        peer.setScript(faultScript(Fault::BusFlag));
        DeletingOwner owner;
        owner.worker = new QUdpThread(&owner);
        owner.worker->SetIpAddress(QHostAddress(QHostAddress::LocalHost), peer.port());
        owner.worker->setCmd(QUdpThread::CmdSetFlag);
        owner.worker->start();
        QTRY_VERIFY_WITH_TIMEOUT(!owner.worker, 5000);
        QCOMPARE(owner.shown, QStringLiteral("write address: 0x00000004\nlength: 1\n\nQRbcp: Bus Error"));
    }

    // An IPv6 module address that nothing answers from ends in the time-out text, whether a
    // socket takes the requests silently or no socket is bound to the port at all.
    void ipv6TargetTimesOut_data()
    {
        QTest::addColumn<bool>("bound");
        QTest::newRow("silent socket") << true;
        QTest::newRow("nothing bound") << false;
    }
    void ipv6TargetTimesOut()
    {
        QFETCH(bool, bound);
        auto silent = std::make_unique<FakePeer>(QHostAddress(QHostAddress::LocalHostIPv6));
        if (!silent->isBound())
            QSKIP("no IPv6 loopback here");
        silent->setScript(faultScript(Fault::LoseAll));
        const quint16 port = silent->port();
        if (!bound)
            silent.reset();
        Recorder rec;
        auto *w = new QUdpThread(&rec);
        rec.watch(w);
        QVERIFY(w->SetIpAddress(QHostAddress(QStringLiteral("::1")), port));
        w->SetWaitCount(1);
        w->setCmd(QUdpThread::CmdReadInfo);
        w->start();
        QTRY_VERIFY_WITH_TIMEOUT(rec.ended(), 5000);
        QCOMPARE(rec.events, (QStringList{QStringLiteral("error:read address: 0xfffffc10\nlength: 20\n\n"
                                                         "QRbcp: Socket operation timed out"),
                                          QStringLiteral("closed:0")}));
        if (bound)
            QTRY_COMPARE_WITH_TIMEOUT(silent->requestCount(), 3, 5000);
    }
};

QTEST_GUILESS_MAIN(TestRbcp)
#include "tst_rbcp.moc"
