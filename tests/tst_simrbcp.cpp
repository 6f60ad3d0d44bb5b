// The software module's RBCP responder: the register map and its write protect, the control
// register, malformed datagrams and the reply faults, over 127.0.0.1 on ephemeral ports.

#include "bytes.h"
#include "simprobe.h"
#include "tarnixsim.h"

#include <QtTest>

#include <memory>

namespace {

constexpr int ReadAck = 0xC8;
constexpr int WriteAck = 0x88;
constexpr int BusError = 0x01;

int flagsOf(const QByteArray &reply) { return reply.size() > 1 ? quint8(reply[1]) : -1; }
int idOf(const QByteArray &reply) { return reply.size() > 2 ? quint8(reply[2]) : -1; }

} // namespace

class TstSimRbcp : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_thread = std::make_unique<TarnixSimThread>();
        QVERIFY(m_thread->startSim(SimProbe::ephemeral()));
        m_udp = std::make_unique<SimProbe::Udp>();
    }
    void cleanup()
    {
        m_udp.reset();
        m_thread.reset();
    }

    void registerMap_data()
    {
        QTest::addColumn<bool>("write");
        QTest::addColumn<quint32>("address");
        QTest::addColumn<int>("length");
        QTest::addColumn<bool>("unprotect"); // the EEPROM write protect lifted first
        QTest::addColumn<bool>("forced");    // bus errors forced on 0x10..0x1F
        QTest::addColumn<bool>("busError");
        // What the utility reads and writes is exercised through it; these are the refusals.
        QTest::newRow("write touching version") << true << 3u << 2 << false << false << true;
        QTest::newRow("read past program memory") << false << 4094u << 4 << false << false << true;
        QTest::newRow("read crossing out of the block") << false << 0xFFFFFC20u << 8 << false << false << true;
        QTest::newRow("write IP, protected") << true << 0xFFFFFC18u << 6 << false << false << true;
        QTest::newRow("write MAC address") << true << 0xFFFFFC12u << 6 << true << false << true;
        QTest::newRow("write UDP port, unprotected") << true << 0xFFFFFC22u << 2 << true << false << false;
        QTest::newRow("write live TCP port") << true << 0xFFFFFF1Cu << 2 << false << false << true;
        QTest::newRow("write two bytes at control") << true << 0xFFFFFF10u << 2 << false << false << true;
        QTest::newRow("read wrapping the address space") << false << 0xFFFFFFF0u << 255 << false << false << true;
        QTest::newRow("forced: read overlapping") << false << 0x0Cu << 8 << false << true << true;
        QTest::newRow("forced: read just after") << false << 0x20u << 4 << false << true << false;
    }
    // A refused access answers with the bus error flag and no data, and changes nothing.
    void registerMap()
    {
        QFETCH(bool, write);
        QFETCH(quint32, address);
        QFETCH(int, length);
        QFETCH(bool, busError);
        QFETCH(bool, unprotect);
        QFETCH(bool, forced);
        if (unprotect) {
            QCOMPARE(exchange(SimProbe::rbcpWrite(1, 0xFFFFFCFF, hex("00"))), hex("ff88 0101 fffffcff 00"));
            QVERIFY(!sim()->writeProtected());
        }
        if (forced) {
            SimFaults faults;
            faults.rbcpBusErrors.append(SimRange{0x10, 0x1F});
            sim()->setFaults(faults);
        }
        const QByteArray data = pattern(length);
        const QByteArray request = write ? SimProbe::rbcpWrite(0x42, address, data)
                                         : SimProbe::rbcpRead(0x42, address, quint8(length));
        const QByteArray before = sim()->readRegisters(address, length);
        const QByteArray reply = exchange(request);
        QCOMPARE(flagsOf(reply), (write ? WriteAck : ReadAck) | (busError ? BusError : 0));
        QCOMPARE(reply.mid(2, 6), request.mid(2, 6));
        if (busError)
            QCOMPARE(reply.size(), 8);
        else
            QCOMPARE(reply.mid(8), write ? data : before);
        if (write)
            QCOMPARE(sim()->readRegisters(address, length), busError ? before : data);
    }
    void controlRegisterResetBit()
    {
        QCOMPARE(exchange(SimProbe::rbcpWrite(2, 0xFFFFFF10, hex("81"))), hex("ff88 0201 ffffff10 81"));
        QCOMPARE(sim()->counters().coreResets, quint64(1));
        // The reset bit clears itself; the other bits stay, and the module still answers.
        QCOMPARE(exchange(SimProbe::rbcpRead(3, 0xFFFFFF10, 1)).mid(8), hex("01"));
        SimProbe::Tcp tcp;
        QVERIFY(tcp.connectTo(sim()->tcpPort()));
    }
    void malformedDatagrams_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<int>("flags"); // -1: no reply at all
        QTest::newRow("empty") << QByteArray() << -1;
        QTest::newRow("seven bytes") << hex("ffc00104000000") << -1;
        QTest::newRow("unknown command") << hex("ff00010400000000") << 0x09;
        QTest::newRow("read with flag bits") << hex("ffc1010400000000") << 0xC9;
        QTest::newRow("wrong version") << hex("fec0010400000000") << 0xC9;
        QTest::newRow("read of length 0") << hex("ffc0010000000000") << 0xC9;
        QTest::newRow("write short of its data") << hex("ff80010400000800aabb") << 0x89;
    }
    // A short datagram gets no reply: the reply to the valid request that follows must be the next
    // datagram to arrive.
    void malformedDatagrams()
    {
        QFETCH(QByteArray, datagram);
        QFETCH(int, flags);
        QVERIFY(m_udp->send(datagram, port()));
        if (flags >= 0) {
            const QByteArray reply = m_udp->receive();
            QCOMPARE(flagsOf(reply), flags);
            QCOMPARE(reply.mid(2), datagram.mid(2, 6));
        }
        QCOMPARE(idOf(exchange(SimProbe::rbcpRead(0x55, 0, 4))), 0x55);
        QCOMPARE(sim()->readRegisters(0x800, 4), QByteArray(4, '\0'));
    }
    void replyFaults()
    {
        // Each reply is preceded by a copy carrying the previous request's ID.
        QCOMPARE(exchange(SimProbe::rbcpRead(0x21, 0, 4)), hex("ffc8 2104 00000000 01020aff"));
        SimFaults faults;
        faults.rbcpStaleId = true;
        sim()->setFaults(faults);
        QVERIFY(m_udp->send(SimProbe::rbcpWrite(0x23, 8, hex("00ff")), port()));
        QCOMPARE(m_udp->receive(), hex("ff88 2102 00000008 ff00"));
        QCOMPARE(m_udp->receive(), hex("ff88 2302 00000008 00ff"));

        // A lost reply is a lost reply: the request itself was carried out.
        faults = SimFaults();
        faults.rbcpDropFraction = 1.0;
        sim()->setFaults(faults);
        QVERIFY(m_udp->send(SimProbe::rbcpWrite(2, 4, hex("7f")), port()));
        QTRY_COMPARE(sim()->counters().rbcpRepliesDropped, quint64(1));
        QCOMPARE(sim()->readRegisters(4, 1), hex("7f"));
    }

private:
    TarnixSim *sim() const { return m_thread->sim(); }
    quint16 port() const { return m_thread->sim()->udpPort(); }
    QByteArray exchange(const QByteArray &request) { return m_udp->exchange(request, port()); }

    std::unique_ptr<TarnixSimThread> m_thread;
    std::unique_ptr<SimProbe::Udp> m_udp;
};

QTEST_GUILESS_MAIN(TstSimRbcp)
#include "tst_simrbcp.moc"
