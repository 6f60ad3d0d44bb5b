// The software module's TCP command channel: framing, the VME memory behind it, status bits,
// bad input, the packet faults and report bursts, all over 127.0.0.1 on ephemeral ports.

#include "simconnection.h"
#include "simprobe.h"
#include "simwire.h"
#include "tarnixsim.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QtTest>

#include <memory>

using SimWire::Header;

namespace {

SimConfig ephemeral()
{
    SimConfig c;
    c.tcpPort = 0;
    c.udpPort = 0;
    return c;
}

quint16 modeWord(bool write, bool echo, bool noEcho, int dataMode, int addressMode, quint8 code = 0)
{
    return quint16((write ? 0x8000 : 0) | (echo ? 0x4000 : 0) | (noEcho ? 0x2000 : 0) | (dataMode << 10)
                   | (addressMode << 8) | (code << 4));
}

} // namespace

class TstSimTcp : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void crc_data();
    void crc();
    void workedReadPacket();
    void writeThenRead_data();
    void writeThenRead();
    void itemsAreBigEndian();
    void responseCarriesDataOnlyWhenEcho_data();
    void responseCarriesDataOnlyWhenEcho();
    void statusBits_data();
    void statusBits();
    void interruptAcknowledge_data();
    void interruptAcknowledge();
    void crcMismatchClosesOnlyThatConnection();
    void garbageEndsConnectionOnly_data();
    void garbageEndsConnectionOnly();
    void corruptCrcOfNthPacket();
    void closeAfterPackets();
    void byteAtATime();
    void packetFaultsCountReportsToo();
    void reportBurstArrivesInOrder_data();
    void reportBurstArrivesInOrder();
    void reportFloodStaysBoundedForSlowReader();
    void inProcessOnCallersEventLoop();

private:
    TarnixSim *sim() const { return m_thread->sim(); }
    quint16 port() const { return m_thread->sim()->tcpPort(); }

    std::unique_ptr<TarnixSimThread> m_thread;
};

void TstSimTcp::init()
{
    SimConfig config = ephemeral();
    SimUnmapped hole;
    hole.addressMode = SimA24;
    hole.range = {0x100000, 0x1FFFFF};
    config.unmapped.append(hole);
    m_thread = std::make_unique<TarnixSimThread>();
    QVERIFY2(m_thread->startSim(config), qPrintable(m_thread->errorString()));
}

void TstSimTcp::cleanup()
{
    m_thread.reset();
}

void TstSimTcp::crc_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("crc");
    QTest::newRow("digits") << QByteArray("123456789") << 0xFB;
    QTest::newRow("abc") << QByteArray("abc") << 0x74;
    QTest::newRow("worked header") << QByteArray::fromHex("0000100000000004 0A0080") << 0x10;
}

void TstSimTcp::crc()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, crc);
    QCOMPARE(int(SimWire::crc8(bytes.constData(), int(bytes.size()))), crc);
}

// A read of one D32 item at A32 0x1000, ID 0x80, typed byte by byte.
void TstSimTcp::workedReadPacket()
{
    QVERIFY(sim()->writeVme(SimA32, 0x1000, QByteArray::fromHex("DEADBEEF")));
    SimProbe::Tcp tcp;
    QVERIFY(tcp.connectTo(port()));
    QVERIFY(tcp.send(QByteArray::fromHex("00001000000000040A008010")));
    const QByteArray response = tcp.read(16);
    QCOMPARE(response.size(), 16);
    QCOMPARE(response.left(11), QByteArray::fromHex("00001000000000040A0080"));
    QVERIFY(SimWire::headerCrcOk(response.constData()));
    QCOMPARE(response.mid(12), QByteArray::fromHex("DEADBEEF"));
}

void TstSimTcp::writeThenRead_data()
{
    QTest::addColumn<int>("addressMode");
    QTest::addColumn<int>("dataMode");
    QTest::addColumn<quint32>("address");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("A16 D8") << 0 << 0 << 0x0013u << QByteArray::fromHex("A1B2C3");
    QTest::newRow("A16 D16 at top") << 0 << 1 << 0xFFFCu << QByteArray::fromHex("12345678");
    QTest::newRow("A24 D16") << 1 << 1 << 0x200000u << QByteArray::fromHex("CAFE0001BEEF");
    QTest::newRow("A24 D32 across a page") << 1 << 2 << 0x000FFCu << QByteArray::fromHex("0102030405060708");
    QTest::newRow("A32 D32 high") << 2 << 2 << 0xFFFFFFF8u << QByteArray::fromHex("89ABCDEF76543210");
    QTest::newRow("A32 D8 255 bytes") << 2 << 0 << 0x40000000u << QByteArray(255, char(0x5C));
}

void TstSimTcp::writeThenRead()
{
    QFETCH(int, addressMode);
    QFETCH(int, dataMode);
    QFETCH(quint32, address);
    QFETCH(QByteArray, bytes);
    const quint8 size = quint8(bytes.size());

    SimProbe::Tcp tcp;
    QVERIFY(tcp.connectTo(port()));
    Header h;
    QByteArray data;
    const quint16 write = modeWord(true, true, false, dataMode, addressMode);
    QVERIFY(tcp.exchange(SimProbe::command(address, size, write, 0x81, bytes), &h, &data));
    QCOMPARE(h.id, quint8(0x81));
    QCOMPARE(h.mode, write);
    QCOMPARE(h.address, address);
    QCOMPARE(h.length, quint32(size));
    QCOMPARE(data, bytes);
    QCOMPARE(sim()->readVme(addressMode, address, size), bytes);

    // The other address spaces are separate memories.
    for (int other = 0; other < 3; ++other) {
        if (other != addressMode && SimVmeMemory::fits(other, address, size))
            QCOMPARE(sim()->readVme(other, address, size), QByteArray(size, '\0'));
    }

    const quint16 read = modeWord(false, false, false, dataMode, addressMode);
    QVERIFY(tcp.exchange(SimProbe::command(address, size, read, 0x82), &h, &data));
    QCOMPARE(h.id, quint8(0x82));
    QCOMPARE(h.mode, read);
    QCOMPARE(data, bytes);
}

// Items travel most significant byte first and land in address order, so narrower reads of a
// D32 item see its bytes from the top down.
void TstSimTcp::itemsAreBigEndian()
{
    SimProbe::Tcp tcp;
    QVERIFY(tcp.connectTo(port()));
    Header h;
    QByteArray data;
    QVERIFY(tcp.exchange(SimProbe::command(0x3000, 4, modeWord(true, false, false, 2, 2), 1,
                                           QByteArray::fromHex("11223344")), &h, &data));
    QVERIFY(data.isEmpty());
    QVERIFY(tcp.exchange(SimProbe::command(0x3000, 1, modeWord(false, false, false, 0, 2), 2), &h, &data));
    QCOMPARE(data, QByteArray::fromHex("11"));
    QVERIFY(tcp.exchange(SimProbe::command(0x3003, 1, modeWord(false, false, false, 0, 2), 3), &h, &data));
    QCOMPARE(data, QByteArray::fromHex("44"));
    QVERIFY(tcp.exchange(SimProbe::command(0x3002, 2, modeWord(false, false, false, 1, 2), 4), &h, &data));
    QCOMPARE(data, QByteArray::fromHex("3344"));
}

void TstSimTcp::responseCarriesDataOnlyWhenEcho_data()
{
    QTest::addColumn<quint16>("mode");
    QTest::addColumn<bool>("carries");
    QTest::newRow("Read") << quint16(0x0A00) << true;
    QTest::newRow("Read(No Echo)") << quint16(0x2A00) << false;
    QTest::newRow("Write(No Data Echo)") << quint16(0x8A00) << false;
    QTest::newRow("Write(Echo)") << quint16(0xCA00) << true;
    QTest::newRow("Write(No Echo)") << quint16(0xAA00) << false;
    QTest::newRow("Write(Echo) supervisor") << quint16(0xC540) << true;
}

// The next response on the same stream must still be found where it belongs.
void TstSimTcp::responseCarriesDataOnlyWhenEcho()
{
    QFETCH(quint16, mode);
    QFETCH(bool, carries);
    QVERIFY(sim()->writeVme(SimA32, 0x800, QByteArray::fromHex("0102030405060708")));
    QVERIFY(sim()->writeVme(SimA24, 0x200000, QByteArray::fromHex("0102030405060708")));
    const bool write = (mode & 0x8000) != 0;
    const quint32 address = SimWire::addressMode(mode) == SimA24 ? 0x200000 : 0x800;
    const QByteArray payload = QByteArray::fromHex("F1F2F3F4F5F6F7F8");

    SimProbe::Tcp tcp;
    QVERIFY(tcp.connectTo(port()));
    QVERIFY(tcp.send(SimProbe::command(address, 8, mode, 0x90, write ? payload : QByteArray())
                     + SimProbe::command(0x800, 4, 0x0A00, 0x91)));
    const QByteArray header = tcp.read(12);
    QCOMPARE(header.size(), 12);
    QVERIFY(SimWire::headerCrcOk(header.constData()));
    const Header h = SimWire::parseHeader(header.constData());
    QCOMPARE(h.id, quint8(0x90));
    QCOMPARE(h.mode, mode);
    QCOMPARE(h.length & 0xFF, carries ? 8u : 0u);
    if (carries)
        QCOMPARE(tcp.read(8), write ? payload : QByteArray::fromHex("0102030405060708"));

    Header next;
    QByteArray data;
    QVERIFY(tcp.readPacket(&next, &data));
    QCOMPARE(next.id, quint8(0x91));
    QCOMPARE(data, write && SimWire::addressMode(mode) == SimA32 ? payload.left(4)
                                                                 : QByteArray::fromHex("01020304"));
}

void TstSimTcp::statusBits_data()
{
    QTest::addColumn<quint16>("mode");
    QTest::addColumn<quint32>("address");
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("status");
    const quint16 readA24D32 = 0x0900;
    const quint16 writeA24D32 = 0xC900;
    QTest::newRow("read unmapped") << readA24D32 << 0x100000u << 8 << 0x4;
    QTest::newRow("write unmapped") << writeA24D32 << 0x1FFFFCu << 4 << 0x4;
    QTest::newRow("write straddling unmapped") << writeA24D32 << 0x0FFFFCu << 8 << 0x4;
    QTest::newRow("same address in A32 is mapped") << quint16(0xCA00) << 0x100000u << 8 << 0x0;
    QTest::newRow("D16 at odd address") << quint16(0xC500) << 0x2001u << 2 << 0x1;
    QTest::newRow("D32 at address 2") << writeA24D32 << 0x2002u << 4 << 0x1;
    QTest::newRow("D32 length 6") << writeA24D32 << 0x2000u << 6 << 0x1;
    QTest::newRow("D16 read length 3") << quint16(0x0500) << 0x2000u << 3 << 0x1;
    QTest::newRow("data mode 3") << quint16(0xCD00) << 0x2000u << 4 << 0x1;
    QTest::newRow("address mode 3") << quint16(0xCB00) << 0x2000u << 4 << 0x1;
    QTest::newRow("A16 address beyond 64 KiB") << quint16(0xC800) << 0x10000u << 4 << 0x1;
    QTest::newRow("A16 access past the top") << quint16(0x0800) << 0xFFFCu << 8 << 0x1;
    QTest::newRow("undefined access code") << quint16(0xC970) << 0x2000u << 4 << 0x1;
    QTest::newRow("status bits of a command ignored") << quint16(0xC905) << 0x2000u << 4 << 0x0;
}

// A refused access answers with its status bits, carries the announced number of bytes
// (zeros for a read) and changes nothing.
void TstSimTcp::statusBits()
{
    QFETCH(quint16, mode);
    QFETCH(quint32, address);
    QFETCH(int, length);
    QFETCH(int, status);
    const int space = SimWire::addressMode(mode);
    const bool write = (mode & 0x8000) != 0;
    const QByteArray before(length, char(0x5A));
    const bool backed = space < 3 && SimVmeMemory::fits(space, address, quint64(length));
    if (backed)
        QVERIFY(sim()->writeVme(space, address, before));
    const QByteArray payload(length, char(0xA5));

    SimProbe::Tcp tcp;
    QVERIFY(tcp.connectTo(port()));
    Header h;
    QByteArray data;
    QVERIFY(tcp.exchange(SimProbe::command(address, quint8(length), mode, 0xC3, write ? payload : QByteArray()),
                         &h, &data));
    QCOMPARE(h.id, quint8(0xC3));
    QCOMPARE(h.mode & 0xF, status);
    QCOMPARE(h.mode & 0xFFF0, mode & 0xFFF0);
    QCOMPARE(int(h.length & 0xFF), length);
    if (write)
        QCOMPARE(data, payload);
    else
        QCOMPARE(data, status ? QByteArray(length, '\0') : before);
    if (backed)
        QCOMPARE(sim()->readVme(space, address, length), status || !write ? before : payload);
}

void TstSimTcp::interruptAcknowledge_data()
{
    QTest::addColumn<quint16>("mode");
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("data");
    QTest::newRow("INTR word, no echo") << quint16(0x2830) << 4 << 0 << QByteArray();
    QTest::newRow("D32 with echo") << quint16(0x0830) << 4 << 0 << QByteArray::fromHex("12345678");
    QTest::newRow("D8 with echo") << quint16(0x0030) << 1 << 0 << QByteArray::fromHex("78");
    QTest::newRow("write is refused") << quint16(0x8830) << 4 << 1 << QByteArray();
}

void TstSimTcp::interruptAcknowledge()
{
    QFETCH(quint16, mode);
    QFETCH(int, length);
    QFETCH(int, status);
    QFETCH(QByteArray, data);
    sim()->setInterruptVector(0x12345678);
    SimProbe::Tcp tcp;
    QVERIFY(tcp.connectTo(port()));
    Header h;
    QByteArray got;
    const bool write = (mode & 0x8000) != 0;
    QVERIFY(tcp.exchange(SimProbe::command(4, quint8(length), mode, 0x77, write ? QByteArray(length, '\0') : QByteArray()),
                         &h, &got));
    QCOMPARE(h.mode, quint16(mode | status));
    QCOMPARE(got, data);
    QCOMPARE(int(h.length & 0xFF), int(data.size()));
}

void TstSimTcp::crcMismatchClosesOnlyThatConnection()
{
    SimProbe::Tcp bad;
    SimProbe::Tcp good;
    QVERIFY(bad.connectTo(port()));
    QVERIFY(good.connectTo(port()));
    QByteArray broken = SimProbe::command(0x10, 4, 0x0A00, 0x85);
    broken[11] = char(broken[11] ^ 0x01);
    // The command before the broken header is still answered.
    QVERIFY(bad.send(SimProbe::command(0x10, 4, 0x0A00, 0x84) + broken));
    Header h;
    QByteArray data;
    QVERIFY(bad.readPacket(&h, &data));
    QCOMPARE(h.id, quint8(0x84));
    QVERIFY(bad.waitClosed());
    QCOMPARE(sim()->counters().crcErrors, quint64(1));

    QVERIFY(good.exchange(SimProbe::command(0x10, 4, 0x0A00, 0x86), &h, &data));
    QCOMPARE(h.id, quint8(0x86));
    QCOMPARE(sim()->counters().commandsAnswered, quint64(2));
}

void TstSimTcp::garbageEndsConnectionOnly_data()
{
    QTest::addColumn<quint32>("seed");
    for (quint32 seed : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u})
        QTest::newRow(qPrintable(QString::number(seed))) << seed;
}

void TstSimTcp::garbageEndsConnectionOnly()
{
    QFETCH(quint32, seed);
    QRandomGenerator random(seed);
    QByteArray garbage(4096, Qt::Uninitialized);
    random.fillRange(reinterpret_cast<quint32 *>(garbage.data()), garbage.size() / 4);

    SimProbe::Tcp tcp;
    QVERIFY(tcp.connectTo(port()));
    QVERIFY(tcp.send(garbage));
    QVERIFY(tcp.waitClosed());

    SimProbe::Tcp again;
    QVERIFY(again.connectTo(port()));
    Header h;
    QByteArray data;
    QVERIFY(again.exchange(SimProbe::command(0x20, 4, 0x0A00, 0x99), &h, &data));
    QCOMPARE(h.id, quint8(0x99));
}

void TstSimTcp::corruptCrcOfNthPacket()
{
    SimFaults faults;
    faults.tcpCorruptCrcPacket = 2;
    sim()->setFaults(faults);
    SimProbe::Tcp tcp;
    QVERIFY(tcp.connectTo(port()));
    QVERIFY(tcp.send(SimProbe::command(0, 4, 0x0A00, 1) + SimProbe::command(0, 4, 0x0A00, 2)
                     + SimProbe::command(0, 4, 0x0A00, 3)));
    for (int i = 1; i <= 3; ++i) {
        const QByteArray packet = tcp.read(16);
        QCOMPARE(packet.size(), 16);
        QCOMPARE(int(quint8(packet[10])), i);
        QCOMPARE(SimWire::headerCrcOk(packet.constData()), i != 2);
    }
}

void TstSimTcp::closeAfterPackets()
{
    SimFaults faults;
    faults.tcpCloseAfterPackets = 2;
    sim()->setFaults(faults);
    SimProbe::Tcp tcp;
    QVERIFY(tcp.connectTo(port()));
    QVERIFY(tcp.send(SimProbe::command(0, 4, 0x0A00, 1) + SimProbe::command(0, 4, 0x0A00, 2)
                     + SimProbe::command(0, 4, 0x0A00, 3)));
    Header h;
    QByteArray data;
    QVERIFY(tcp.readPacket(&h, &data));
    QCOMPARE(h.id, quint8(1));
    QVERIFY(tcp.readPacket(&h, &data));
    QCOMPARE(h.id, quint8(2));
    QVERIFY(tcp.waitClosed());
    QCOMPARE(tcp.socket().bytesAvailable(), qint64(0));
}

void TstSimTcp::byteAtATime()
{
    SimFaults faults;
    faults.tcpByteAtATime = true;
    faults.tcpByteIntervalMs = 10;
    sim()->setFaults(faults);
    QVERIFY(sim()->writeVme(SimA32, 0x40, QByteArray::fromHex("0A0B0C0D")));
    SimProbe::Tcp tcp;
    QVERIFY(tcp.connectTo(port()));
    QVERIFY(tcp.send(SimProbe::command(0x40, 4, 0x0A00, 0x8A)));
    QByteArray received;
    int pieces = 0;
    QDeadlineTimer deadline(SimProbe::WaitMs);
    while (received.size() < 16 && !deadline.hasExpired()) {
        if (tcp.socket().waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())))) {
            received += tcp.socket().readAll();
            ++pieces;
        }
    }
    QCOMPARE(received.size(), 16);
    QVERIFY(SimWire::headerCrcOk(received.constData()));
    QCOMPARE(received.mid(12), QByteArray::fromHex("0A0B0C0D"));
    QVERIFY2(pieces > 1, qPrintable(QString::number(pieces)));
}

// The packet faults count every packet sent, reports built in bulk included.
void TstSimTcp::packetFaultsCountReportsToo()
{
    SimFaults faults;
    faults.tcpCorruptCrcPacket = 50;
    faults.tcpCloseAfterPackets = 100;
    sim()->setFaults(faults);
    SimProbe::Tcp tcp;
    QVERIFY(tcp.connectTo(port()));
    QTRY_COMPARE(sim()->connectionCount(), 1);
    SimReportBurst burst;
    burst.count = 1000;
    QCOMPARE(sim()->startReports(burst), 1);
    const QByteArray stream = tcp.read(1000 * 16);
    QCOMPARE(stream.size(), 100 * 16);
    QVERIFY(tcp.waitClosed());
    for (int k = 0; k < 100; ++k) {
        QCOMPARE(SimWire::headerCrcOk(stream.constData() + 16 * k), k != 49);
        QCOMPARE(SimWire::readBe32(stream.constData() + 16 * k + 12), quint32(k));
    }
}

void TstSimTcp::reportBurstArrivesInOrder_data()
{
    QTest::addColumn<bool>("withData");
    QTest::addColumn<int>("items");
    QTest::addColumn<int>("rate");
    QTest::addColumn<int>("count");
    QTest::newRow("flood, one item") << true << 1 << 0 << 100000;
    QTest::newRow("flood, three items") << true << 3 << 0 << 5000;
    QTest::newRow("paced") << true << 1 << 2000 << 40;
    QTest::newRow("without data") << false << 2 << 0 << 1000;
}

void TstSimTcp::reportBurstArrivesInOrder()
{
    QFETCH(bool, withData);
    QFETCH(int, items);
    QFETCH(int, rate);
    QFETCH(int, count);
    SimProbe::Tcp tcp;
    QVERIFY(tcp.connectTo(port()));
    QTRY_COMPARE(sim()->connectionCount(), 1);

    SimReportBurst burst;
    burst.id = 7;
    burst.flowId = 0xABC;
    burst.polling = false;
    burst.level = 5;
    burst.address = 0x00C0FFEE;
    burst.withData = withData;
    burst.items = items;
    burst.rate = rate;
    burst.count = count;
    QCOMPARE(sim()->startReports(burst), 1);

    const quint32 length = (5u << 29) | (0xABCu << 16) | quint32(items * 4);
    const quint16 mode = withData ? 0x0A00 : 0x2A00;
    const int size = 12 + (withData ? items * 4 : 0);
    QByteArray stream;
    int at = 0;
    for (int k = 0; k < count; ++k) {
        if (stream.size() - at < size) {
            stream.remove(0, at);
            at = 0;
            stream += tcp.read(int(qMax<qint64>(size - stream.size(), tcp.socket().bytesAvailable())));
            QVERIFY2(stream.size() >= size, qPrintable(QStringLiteral("report %1 missing").arg(k)));
        }
        const char *p = stream.constData() + at;
        QVERIFY(SimWire::headerCrcOk(p));
        const Header h = SimWire::parseHeader(p);
        if (h.id != 7 || h.length != length || h.mode != mode || h.address != 0x00C0FFEE)
            QFAIL(qPrintable(QStringLiteral("report %1 has a wrong header").arg(k)));
        if (withData && SimWire::readBe32(p + 12) != quint32(k))
            QFAIL(qPrintable(QStringLiteral("report %1 carries %2").arg(k).arg(SimWire::readBe32(p + 12))));
        at += size;
    }
    QCOMPARE(stream.size(), at);
    QTRY_COMPARE(sim()->counters().reportsSent, quint64(count));
}

// A client that stops reading must not make the module queue without bound.
void TstSimTcp::reportFloodStaysBoundedForSlowReader()
{
    QTcpSocket client;
    client.setReadBufferSize(4096);
    client.connectToHost(QHostAddress(QHostAddress::LocalHost), port());
    QVERIFY(client.waitForConnected(SimProbe::WaitMs));
    QTRY_COMPARE(sim()->connectionCount(), 1);
    SimReportBurst burst;
    burst.count = 0; // until stopped
    QCOMPARE(sim()->startReports(burst), 1);
    // Once the kernel buffers are full the module's own queue fills up to its mark...
    QTRY_VERIFY_WITH_TIMEOUT(sim()->pendingOutputBytes() >= SimConnection::HighWater / 2, 20000);
    // ... and stays there: no more reports are built while nothing drains. Each RBCP round
    // trip proves the module went through its event loop again in between.
    SimProbe::Udp udp;
    for (int i = 0; i < 5; ++i) {
        QVERIFY(!udp.exchange(SimProbe::rbcpRead(quint8(i), 0, 4), sim()->udpPort()).isEmpty());
        const qint64 pending = sim()->pendingOutputBytes();
        QVERIFY2(pending <= SimConnection::HighWater + SimConnection::ChunkBytes,
                 qPrintable(QString::number(pending)));
    }
    sim()->stopReports();
}

// The module also runs on the caller's own event loop.
void TstSimTcp::inProcessOnCallersEventLoop()
{
    TarnixSim local;
    QVERIFY(local.start(ephemeral()));
    QVERIFY(!local.start(ephemeral()));
    QSignalSpy connected(&local, &TarnixSim::clientConnected);
    QSignalSpy finished(&local, &TarnixSim::reportsFinished);
    QVERIFY(local.writeVme(SimA16, 0x10, QByteArray::fromHex("4242")));

    QTcpSocket client;
    client.connectToHost(QHostAddress(QHostAddress::LocalHost), local.tcpPort());
    QVERIFY(connected.wait(SimProbe::WaitMs));
    client.write(SimProbe::command(0x10, 2, 0x0400, 0x80));
    QTRY_COMPARE(client.bytesAvailable(), qint64(14));
    QCOMPARE(client.readAll().mid(12), QByteArray::fromHex("4242"));

    SimReportBurst burst;
    burst.count = 3;
    QCOMPARE(local.startReports(burst), 1);
    QTRY_COMPARE(finished.count(), 1);
    QCOMPARE(finished.first().first().toLongLong(), qint64(3));
    QTRY_COMPARE(client.bytesAvailable(), qint64(3 * 16));
    client.readAll();

    // What a program runner hands over reaches the client untouched.
    const QByteArray report = SimProbe::command(0x1234, 0, 0x2A00, 0x11);
    QCOMPARE(local.broadcastPacket(report), 1);
    QTRY_COMPARE(client.bytesAvailable(), qint64(12));
    QCOMPARE(client.readAll(), report);

    QSignalSpy gone(&local, &TarnixSim::clientDisconnected);
    local.closeConnections();
    QTRY_COMPARE(gone.count(), 1);
    QCOMPARE(local.connectionCount(), 0);
    QTRY_COMPARE(client.state(), QAbstractSocket::UnconnectedState);
}

QTEST_GUILESS_MAIN(TstSimTcp)
#include "tst_simtcp.moc"
