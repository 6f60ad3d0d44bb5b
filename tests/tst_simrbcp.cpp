// The software module's RBCP responder: the register map, the EEPROM write protect, the control
// register, malformed datagrams and the reply faults, over 127.0.0.1 on ephemeral ports.

#include "simprobe.h"
#include "simregisters.h"
#include "simwire.h"
#include "tarnixsim.h"

#include <QElapsedTimer>
#include <QSet>
#include <QtTest>

#include <memory>

namespace {

constexpr quint8 ReadAck = 0xC8;
constexpr quint8 WriteAck = 0x88;
constexpr quint8 BusError = 0x01;

SimConfig ephemeral()
{
    SimConfig c;
    c.tcpPort = 0;
    c.udpPort = 0;
    return c;
}

quint8 flagsOf(const QByteArray &reply) { return reply.size() > 1 ? quint8(reply[1]) : 0; }
int idOf(const QByteArray &reply) { return reply.size() > 2 ? quint8(reply[2]) : -1; }

} // namespace

class TstSimRbcp : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void versionRegister_data();
    void versionRegister();
    void settingsBlockDescribesTheModule();
    void eepromWritesNeedTheProtectLifted();
    void controlRegisterResetBit();
    void registerMap_data();
    void registerMap();
    void programMemoryRoundTrip();
    void malformedDatagrams_data();
    void malformedDatagrams();
    void requestLogRecordsEveryRequest();
    void dropAllReplies();
    void dropFractionFollowsSeed();
    void delayedReply();
    void staleIdReplyFirst();
    void forcedBusErrorRange();

private:
    bool startWith(const SimConfig &config);
    QSet<int> answeredWithDrops(quint32 seed);
    TarnixSim *sim() const { return m_thread->sim(); }
    quint16 port() const { return m_thread->sim()->udpPort(); }
    QByteArray exchange(const QByteArray &request) { return m_udp->exchange(request, port()); }

    std::unique_ptr<TarnixSimThread> m_thread;
    std::unique_ptr<SimProbe::Udp> m_udp;
};

bool TstSimRbcp::startWith(const SimConfig &config)
{
    m_thread = std::make_unique<TarnixSimThread>();
    return m_thread->startSim(config);
}

void TstSimRbcp::init()
{
    QVERIFY(startWith(ephemeral()));
    m_udp = std::make_unique<SimProbe::Udp>();
}

void TstSimRbcp::cleanup()
{
    m_udp.reset();
    m_thread.reset();
}

void TstSimRbcp::versionRegister_data()
{
    QTest::addColumn<bool>("configured");
    QTest::addColumn<quint32>("version");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("default") << false << 0u << QByteArray::fromHex("01020AFF");
    QTest::newRow("configured") << true << 0xDEADBEEFu << QByteArray::fromHex("DEADBEEF");
}

void TstSimRbcp::versionRegister()
{
    QFETCH(bool, configured);
    QFETCH(quint32, version);
    QFETCH(QByteArray, bytes);
    if (configured) {
        SimConfig config = ephemeral();
        config.version = version;
        QVERIFY(startWith(config));
    }
    const QByteArray reply = exchange(QByteArray::fromHex("FFC0170400000000"));
    QCOMPARE(reply, QByteArray::fromHex("FFC8170400000000") + bytes);
    // Read-only: a write is refused and changes nothing.
    QCOMPARE(flagsOf(exchange(SimProbe::rbcpWrite(0x18, 0, QByteArray(4, '\0')))), quint8(WriteAck | BusError));
    QCOMPARE(sim()->readRegisters(0, 4), bytes);
}

void TstSimRbcp::settingsBlockDescribesTheModule()
{
    SimConfig config = ephemeral();
    config.mac = QByteArray::fromHex("0A1B2C3D4E5F");
    config.settingsIp = 0xC0A80A10;
    config.flags = 0x05;
    config.closeTimeout = 7;
    QVERIFY(startWith(config));
    const quint16 tcp = sim()->tcpPort();
    const quint16 udp = sim()->udpPort();
    QVERIFY(tcp != 0 && udp != 0);

    const QByteArray reply = exchange(SimProbe::rbcpRead(1, 0xFFFFFC10, 20));
    QCOMPARE(reply.size(), 28);
    QCOMPARE(flagsOf(reply), ReadAck);
    const QByteArray block = reply.mid(8);
    QCOMPARE(quint8(block[0]), quint8(0x05));
    QCOMPARE(block.mid(2, 6), config.mac);
    QCOMPARE(SimWire::readBe32(block.constData() + 8), 0xC0A80A10u);
    QCOMPARE(SimWire::readBe16(block.constData() + 12), tcp);
    QCOMPARE(SimWire::readBe16(block.constData() + 18), udp);

    QCOMPARE(exchange(SimProbe::rbcpRead(2, 0xFFFFFF1C, 2)).mid(8), QByteArray(1, char(tcp >> 8)) + char(tcp & 0xFF));
    QCOMPARE(exchange(SimProbe::rbcpRead(3, 0xFFFFFF2A, 2)).mid(8), QByteArray::fromHex("0007"));

    // The default block: keep-alive on, the loopback address.
    QVERIFY(startWith(ephemeral()));
    const QByteArray def = sim()->readRegisters(0xFFFFFC10, 20);
    QCOMPARE(def.left(8), QByteArray::fromHex("0400001A2B3C4D5E"));
    QCOMPARE(def.mid(8, 4), QByteArray::fromHex("7F000001"));
}

void TstSimRbcp::eepromWritesNeedTheProtectLifted()
{
    const QByteArray before = sim()->readRegisters(0xFFFFFC10, 20);
    const QByteArray address = QByteArray::fromHex("C0A80A140018");
    QVERIFY(sim()->writeProtected());
    QCOMPARE(exchange(SimProbe::rbcpWrite(1, 0xFFFFFC18, address)), QByteArray::fromHex("FF890106FFFFFC18"));
    QCOMPARE(flagsOf(exchange(SimProbe::rbcpWrite(2, 0xFFFFFC22, QByteArray::fromHex("1234")))), quint8(WriteAck | BusError));
    QCOMPARE(flagsOf(exchange(SimProbe::rbcpWrite(3, 0xFFFFFC10, QByteArray::fromHex("00")))), quint8(WriteAck | BusError));
    QCOMPARE(sim()->readRegisters(0xFFFFFC10, 20), before);

    QCOMPARE(exchange(SimProbe::rbcpWrite(4, 0xFFFFFCFF, QByteArray(1, '\0'))), QByteArray::fromHex("FF880401FFFFFCFF00"));
    QVERIFY(!sim()->writeProtected());
    QCOMPARE(exchange(SimProbe::rbcpWrite(5, 0xFFFFFC18, address)), QByteArray::fromHex("FF880506FFFFFC18") + address);
    QCOMPARE(flagsOf(exchange(SimProbe::rbcpWrite(6, 0xFFFFFC22, QByteArray::fromHex("1234")))), WriteAck);
    QCOMPARE(flagsOf(exchange(SimProbe::rbcpWrite(7, 0xFFFFFC10, QByteArray::fromHex("84")))), WriteAck);
    // The MAC address is not writable, protect or not.
    QCOMPARE(flagsOf(exchange(SimProbe::rbcpWrite(8, 0xFFFFFC12, QByteArray(6, '\x11')))), quint8(WriteAck | BusError));
    QCOMPARE(flagsOf(exchange(SimProbe::rbcpWrite(9, 0xFFFFFC17, QByteArray(2, '\x11')))), quint8(WriteAck | BusError));

    const QByteArray after = sim()->readRegisters(0xFFFFFC10, 20);
    QCOMPARE(quint8(after[0]), quint8(0x84));
    QCOMPARE(after.mid(1, 7), before.mid(1, 7));
    QCOMPARE(after.mid(8, 6), address);
    QCOMPARE(after.mid(14, 4), before.mid(14, 4));
    QCOMPARE(after.mid(18, 2), QByteArray::fromHex("1234"));
    QCOMPARE(exchange(SimProbe::rbcpRead(10, 0xFFFFFC10, 20)).mid(8), after);

    QCOMPARE(flagsOf(exchange(SimProbe::rbcpWrite(11, 0xFFFFFCFF, QByteArray(1, '\xFF')))), WriteAck);
    QVERIFY(sim()->writeProtected());
    QCOMPARE(flagsOf(exchange(SimProbe::rbcpWrite(12, 0xFFFFFC22, QByteArray::fromHex("5678")))), quint8(WriteAck | BusError));
    QCOMPARE(sim()->readRegisters(0xFFFFFC22, 2), QByteArray::fromHex("1234"));

    // New settings are stored only: the module still answers where it was started, and the
    // live port register still names the port it really uses.
    QCOMPARE(idOf(exchange(SimProbe::rbcpRead(13, 0, 4))), 13);
    QCOMPARE(SimWire::readBe16(sim()->readRegisters(0xFFFFFF1C, 2).constData()), sim()->tcpPort());
}

void TstSimRbcp::controlRegisterResetBit()
{
    QCOMPARE(exchange(SimProbe::rbcpRead(1, 0xFFFFFF10, 1)).mid(8), QByteArray(1, '\0'));
    QCOMPARE(flagsOf(exchange(SimProbe::rbcpWrite(2, 0xFFFFFF10, QByteArray::fromHex("81")))), WriteAck);
    QCOMPARE(sim()->counters().coreResets, quint64(1));
    // The reset bit clears itself; the other bits stay.
    QCOMPARE(exchange(SimProbe::rbcpRead(3, 0xFFFFFF10, 1)).mid(8), QByteArray::fromHex("01"));
    QCOMPARE(flagsOf(exchange(SimProbe::rbcpWrite(4, 0xFFFFFF10, QByteArray::fromHex("02")))), WriteAck);
    QCOMPARE(exchange(SimProbe::rbcpRead(5, 0xFFFFFF10, 1)).mid(8), QByteArray::fromHex("02"));
    QCOMPARE(sim()->counters().coreResets, quint64(1));
    // Both channels keep running after the reset.
    SimProbe::Tcp tcp;
    QVERIFY(tcp.connectTo(sim()->tcpPort()));
}

void TstSimRbcp::registerMap_data()
{
    QTest::addColumn<bool>("write");
    QTest::addColumn<quint32>("address");
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("busError");
    QTest::newRow("read version") << false << 0u << 4 << false;
    QTest::newRow("read version and enable mask") << false << 0u << 8 << false;
    QTest::newRow("read end of program memory") << false << 4092u << 4 << false;
    QTest::newRow("read past program memory") << false << 4094u << 4 << true;
    QTest::newRow("read above program memory") << false << 4096u << 1 << true;
    QTest::newRow("write enable mask") << true << 4u << 1 << false;
    QTest::newRow("write image") << true << 2048u << 255 << false;
    QTest::newRow("write touching version") << true << 3u << 2 << true;
    QTest::newRow("write past program memory") << true << 4095u << 2 << true;
    QTest::newRow("read settings block") << false << 0xFFFFFC10u << 20 << false;
    QTest::newRow("read crossing out of the block") << false << 0xFFFFFC20u << 8 << true;
    QTest::newRow("read below the block") << false << 0xFFFFFC0Fu << 2 << true;
    QTest::newRow("read gap after the block") << false << 0xFFFFFC24u << 1 << true;
    QTest::newRow("read live TCP port") << false << 0xFFFFFF1Cu << 2 << false;
    QTest::newRow("read past live TCP port") << false << 0xFFFFFF1Cu << 4 << true;
    QTest::newRow("read close time-out") << false << 0xFFFFFF2Au << 2 << false;
    QTest::newRow("write live TCP port") << true << 0xFFFFFF1Cu << 2 << true;
    QTest::newRow("write close time-out") << true << 0xFFFFFF2Au << 2 << true;
    QTest::newRow("write two bytes at control") << true << 0xFFFFFF10u << 2 << true;
    QTest::newRow("read wrapping the address space") << false << 0xFFFFFFF0u << 255 << true;
    QTest::newRow("read unmapped middle") << false << 0x80000000u << 4 << true;
}

void TstSimRbcp::registerMap()
{
    QFETCH(bool, write);
    QFETCH(quint32, address);
    QFETCH(int, length);
    QFETCH(bool, busError);
    const QByteArray data(length, char(0x3C));
    const QByteArray request = write ? SimProbe::rbcpWrite(0x42, address, data)
                                     : SimProbe::rbcpRead(0x42, address, quint8(length));
    const QByteArray before = write ? sim()->readRegisters(address, length) : QByteArray();
    const QByteArray reply = exchange(request);
    QCOMPARE(reply.left(8), QByteArray(1, char(0xFF)) + char((write ? WriteAck : ReadAck) | (busError ? BusError : 0))
                                + request.mid(2, 6));
    if (busError) {
        QCOMPARE(reply.size(), 8);
        if (write)
            QCOMPARE(sim()->readRegisters(address, length), before);
    } else if (write) {
        QCOMPARE(reply.mid(8), data);
        QCOMPARE(sim()->readRegisters(address, length), data);
    } else {
        QCOMPARE(reply.mid(8), sim()->readRegisters(address, length));
        QCOMPARE(reply.size(), 8 + length);
    }
}

void TstSimRbcp::programMemoryRoundTrip()
{
    QByteArray image;
    for (int i = 0; i < 128; ++i)
        image.append(char(i * 7 + 1));
    QCOMPARE(flagsOf(exchange(SimProbe::rbcpWrite(1, 2048, image))), WriteAck);
    QCOMPARE(flagsOf(exchange(SimProbe::rbcpWrite(2, 2048 + 128, image))), WriteAck);
    QCOMPARE(exchange(SimProbe::rbcpRead(3, 2048 + 64, 128)).mid(8), image.mid(64) + image.left(64));
    QCOMPARE(sim()->readRegisters(2048, 256), image + image);
    QVERIFY(sim()->writeRegisters(4, QByteArray::fromHex("81")));
    QCOMPARE(exchange(SimProbe::rbcpRead(4, 4, 1)).mid(8), QByteArray::fromHex("81"));
}

void TstSimRbcp::malformedDatagrams_data()
{
    QTest::addColumn<QByteArray>("datagram");
    QTest::addColumn<int>("flags"); // -1: no reply at all
    QTest::newRow("empty") << QByteArray() << -1;
    QTest::newRow("one byte") << QByteArray(1, char(0xFF)) << -1;
    QTest::newRow("seven bytes") << QByteArray::fromHex("FFC00104000000") << -1;
    QTest::newRow("unknown command") << QByteArray::fromHex("FF00010400000000") << 0x09;
    QTest::newRow("read with flag bits") << QByteArray::fromHex("FFC1010400000000") << 0xC9;
    QTest::newRow("wrong version") << QByteArray::fromHex("FEC0010400000000") << 0xC9;
    QTest::newRow("read of length 0") << QByteArray::fromHex("FFC0010000000000") << 0xC9;
    QTest::newRow("write short of its data") << QByteArray::fromHex("FF80010400000800AABB") << 0x89;
    QTest::newRow("write without data") << QByteArray::fromHex("FF80010400000800") << 0x89;
}

// A short datagram gets no reply: the reply to the valid request that follows must be the next
// datagram to arrive.
void TstSimRbcp::malformedDatagrams()
{
    QFETCH(QByteArray, datagram);
    QFETCH(int, flags);
    QVERIFY(m_udp->send(datagram, port()));
    if (flags >= 0) {
        const QByteArray reply = m_udp->receive();
        QCOMPARE(reply.size(), 8);
        QCOMPARE(int(flagsOf(reply)), flags);
        QCOMPARE(reply.mid(2), datagram.mid(2, 6));
    }
    QCOMPARE(idOf(exchange(SimProbe::rbcpRead(0x55, 0, 4))), 0x55);
    QCOMPARE(sim()->readRegisters(0x800, 4), QByteArray(4, '\0'));
}

void TstSimRbcp::requestLogRecordsEveryRequest()
{
    exchange(SimProbe::rbcpRead(7, 0x1000, 128));
    exchange(SimProbe::rbcpWrite(8, 0x1080, QByteArray(44, '\x01')));
    exchange(QByteArray::fromHex("FF00090400000000"));
    const QVector<SimRbcpRequest> log = sim()->rbcpRequests();
    QCOMPARE(log.size(), 3);
    QCOMPARE(log[0].address, 0x1000u);
    QCOMPARE(log[0].length, quint8(128));
    QCOMPARE(log[0].id, quint8(7));
    QVERIFY(!log[0].write);
    QCOMPARE(log[1].address, 0x1080u);
    QCOMPARE(log[1].length, quint8(44));
    QCOMPARE(log[1].id, quint8(8));
    QVERIFY(log[1].write);
    QCOMPARE(log[1].size, 8 + 44);
    QCOMPARE(log[2].command, quint8(0x00));
    QCOMPARE(sim()->counters().rbcpRequests, quint64(3));
    sim()->clearRbcpRequests();
    QVERIFY(sim()->rbcpRequests().isEmpty());
}

// A lost reply is a lost reply: the request itself was carried out.
void TstSimRbcp::dropAllReplies()
{
    SimFaults faults;
    faults.rbcpDropFraction = 1.0;
    sim()->setFaults(faults);
    QVERIFY(m_udp->send(SimProbe::rbcpRead(1, 0, 4), port()));
    QVERIFY(m_udp->send(SimProbe::rbcpWrite(2, 4, QByteArray::fromHex("7F")), port()));
    QTRY_COMPARE(sim()->counters().rbcpRepliesDropped, quint64(2));
    sim()->setFaults(SimFaults());
    QCOMPARE(idOf(exchange(SimProbe::rbcpRead(3, 4, 1))), 3);
    QCOMPARE(sim()->readRegisters(4, 1), QByteArray::fromHex("7F"));
}

// Sends 40 reads with half of the replies dropped, then a marker read without faults, and
// returns the IDs that were answered before the marker.
QSet<int> TstSimRbcp::answeredWithDrops(quint32 seed)
{
    const quint64 seen = sim()->counters().rbcpRequests;
    SimFaults faults;
    faults.rbcpDropFraction = 0.5;
    faults.rbcpDropSeed = seed;
    sim()->setFaults(faults);
    for (int id = 0; id < 40; ++id)
        m_udp->send(SimProbe::rbcpRead(quint8(id), 0, 4), port());
    const bool arrived = QTest::qWaitFor([&] { return sim()->counters().rbcpRequests == seen + 40; }, 5000);
    sim()->setFaults(SimFaults());
    QSet<int> ids;
    if (!arrived)
        return ids;
    m_udp->send(SimProbe::rbcpRead(100, 0, 4), port());
    for (QByteArray reply = m_udp->receive(); !reply.isEmpty(); reply = m_udp->receive()) {
        if (idOf(reply) == 100)
            return ids;
        ids.insert(idOf(reply));
    }
    return QSet<int>{-1};
}

void TstSimRbcp::dropFractionFollowsSeed()
{
    const QSet<int> first = answeredWithDrops(42);
    QVERIFY(!first.contains(-1));
    QVERIFY2(first.size() > 5 && first.size() < 35, qPrintable(QString::number(first.size())));
    QCOMPARE(sim()->counters().rbcpRepliesDropped, quint64(40 - first.size()));
    // Setting the faults restarts the sequence from its seed: the same replies are lost.
    QCOMPARE(answeredWithDrops(42), first);
    const QSet<int> other = answeredWithDrops(7);
    QVERIFY(!other.contains(-1));
    QVERIFY(other != first);
}

void TstSimRbcp::delayedReply()
{
    SimFaults faults;
    faults.rbcpDelayMs = 150;
    sim()->setFaults(faults);
    QElapsedTimer clock;
    clock.start();
    const QByteArray reply = exchange(SimProbe::rbcpRead(9, 0, 4));
    QCOMPARE(reply, QByteArray::fromHex("FFC8090400000000 01020AFF"));
    QVERIFY2(clock.elapsed() >= 150, qPrintable(QString::number(clock.elapsed())));
}

void TstSimRbcp::staleIdReplyFirst()
{
    QCOMPARE(idOf(exchange(SimProbe::rbcpRead(0x21, 0, 4))), 0x21);
    SimFaults faults;
    faults.rbcpStaleId = true;
    sim()->setFaults(faults);
    QVERIFY(m_udp->send(SimProbe::rbcpRead(0x22, 0, 4), port()));
    const QByteArray stale = m_udp->receive();
    const QByteArray real = m_udp->receive();
    QCOMPARE(stale, QByteArray::fromHex("FFC8210400000000 FEFDF500"));
    QCOMPARE(real, QByteArray::fromHex("FFC8220400000000 01020AFF"));
    // A write's stale copy too, and its real reply carries the right ID.
    QVERIFY(m_udp->send(SimProbe::rbcpWrite(0x23, 8, QByteArray::fromHex("00FF")), port()));
    QCOMPARE(m_udp->receive(), QByteArray::fromHex("FF88220200000008 FF00"));
    QCOMPARE(m_udp->receive(), QByteArray::fromHex("FF88230200000008 00FF"));
}

void TstSimRbcp::forcedBusErrorRange()
{
    SimFaults faults;
    faults.rbcpBusErrors.append(SimRange{0x10, 0x1F});
    sim()->setFaults(faults);
    QCOMPARE(flagsOf(exchange(SimProbe::rbcpRead(1, 0x10, 4))), quint8(ReadAck | BusError));
    QCOMPARE(flagsOf(exchange(SimProbe::rbcpRead(2, 0x0C, 8))), quint8(ReadAck | BusError));
    QCOMPARE(flagsOf(exchange(SimProbe::rbcpRead(3, 0x0C, 4))), ReadAck);
    QCOMPARE(flagsOf(exchange(SimProbe::rbcpRead(4, 0x20, 4))), ReadAck);
    QCOMPARE(flagsOf(exchange(SimProbe::rbcpWrite(5, 0x1F, QByteArray::fromHex("AA")))), quint8(WriteAck | BusError));
    QCOMPARE(sim()->readRegisters(0x1F, 1), QByteArray(1, '\0'));
    sim()->setFaults(SimFaults());
    QCOMPARE(flagsOf(exchange(SimProbe::rbcpWrite(6, 0x1F, QByteArray::fromHex("AA")))), WriteAck);
}

QTEST_GUILESS_MAIN(TstSimRbcp)
#include "tst_simrbcp.moc"
