// The software module on its own, over 127.0.0.1 on ephemeral ports: the command channel's status
// bits, bad input, packet faults and report bursts; the register map and malformed datagrams;
// hand-built programs run; the tarnix-sim executable and the options it refuses. Plain reads and
// writes of both channels, and lost replies, are exercised through the utility's own tests.
#include "bytes.h"
#include "simprobe.h"
#include "simstate.h"
#include "tarnixsim.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QtTest>

#include <memory>

using SimWire::Header;

namespace {

constexpr int ReadAck = 0xC8;
constexpr int WriteAck = 0x88;
constexpr int BusError = 0x01;

int flagsOf(const QByteArray &reply) { return reply.size() > 1 ? quint8(reply[1]) : -1; }
int idOf(const QByteArray &reply) { return reply.size() > 2 ? quint8(reply[2]) : -1; }

struct Packet { SimWire::Header h; QByteArray data; };

// Program image at 2048: the polling program (offset 0), the program of vector 5 (offset 18),
// the default vector program (offset 26), filler, the level 3 program (offset 40).
const QByteArray image = QByteArray::fromHex(
    "00001000 0A00 11 04"                   // read D32 A32 0x1000
    "00002000 8500 12 02 BEEF"              // write D16 A24 0x2000, no echo
    "00000010 0000 21 01"                   // read D8 A16 0x10
    "00000000 2000 22 00"                   // read D8 A16 0, no echo
    "000000000000"
    "00000006 2830 00 04"                   // interrupt acknowledge of level 3
    "00100004 0900 31 04"                   // read D32 A24 in the unmapped hole
    "00000002 0800 32 04");                 // read D32 A16 misaligned

// ID, mode word, length word without its flow ID, and data: all a report says but its run.
QByteArray brief(const Packet &p)
{
    QByteArray b(7, '\0');
    b[0] = char(p.h.id);
    SimWire::writeBe16(b.data() + 1, p.h.mode);
    SimWire::writeBe32(b.data() + 3, p.h.length & 0xF000FFFF);
    return b + p.data;
}

quint32 flow(const Packet &p) { return p.h.length >> 16 & 0xFFF; }

} // namespace

class TestSim : public QObject
{
    Q_OBJECT
    std::unique_ptr<TarnixSimThread> m_thread;
    std::unique_ptr<SimProbe::Udp> m_udp;
    std::unique_ptr<SimProbe::Tcp> m_tcp;
    quint8 m_rbcpId = 0;

    TarnixSim *sim() const { return m_thread->sim(); }
    quint16 port() const { return sim()->udpPort(); }
    QByteArray exchange(const QByteArray &request) { return m_udp->exchange(request, port()); }
    bool connect(SimProbe::Tcp &tcp) const
    {
        return tcp.connectTo(sim()->tcpPort()) && QTest::qWaitFor([this] { return sim()->connectionCount() > 0; });
    }
    void poke(quint32 address, const QByteArray &bytes)
    {
        const QByteArray reply = exchange(SimProbe::rbcpWrite(++m_rbcpId, address, bytes));
        QVERIFY(reply.size() == 8 + bytes.size() && (reply[1] & 1) == 0);
    }
    bool next(Packet *p, int ms = SimProbe::WaitMs) { return m_tcp->readPacket(&p->h, &p->data, ms); }
    // The test's connection, VME memory the programs read, and the image with its tables.
    void loadProgram()
    {
        QVERIFY(connect(*m_tcp));
        QVERIFY(sim()->writeVme(SimA32, 0x1000, QByteArray::fromHex("CAFE0001")));
        QVERIFY(sim()->writeVme(SimA16, 0x10, QByteArray::fromHex("5A")));
        poke(6, QByteArray::fromHex("05"));                       // polling level
        poke(12, QByteArray::fromHex("00002710"                   // interval 10000 us
                                     "0000000500000000"           // start table: level 3 at 40
                                     "0100000200000000"));        // count table
        poke(1024 + 4 * 5, QByteArray::fromHex("00001200"));      // vector 5: own program
        poke(1024 + 4 * 6, QByteArray::fromHex("00001AFF"));      // vector 6: the default one
        poke(2048, image);
    }

private slots:
    void init()
    {
        SimConfig config = SimProbe::ephemeral();
        config.unmapped.append(SimUnmapped{SimA24, {0x100000, 0x1FFFFF}});
        m_thread = std::make_unique<TarnixSimThread>();
        QVERIFY2(m_thread->startSim(config), qPrintable(m_thread->errorString()));
        m_udp = std::make_unique<SimProbe::Udp>();
        m_tcp = std::make_unique<SimProbe::Tcp>();
    }
    void cleanup()
    {
        m_tcp.reset();
        m_udp.reset();
        m_thread.reset();
    }

    void statusBits_data()
    {
        QTest::addColumn<quint16>("mode");
        QTest::addColumn<quint32>("address");
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("status");
        QTest::newRow("write unmapped") << quint16(0xC900) << 0x1FFFFCu << 4 << 0x4;
        QTest::newRow("write straddling unmapped") << quint16(0xC900) << 0x0FFFFCu << 8 << 0x4;
        QTest::newRow("same address in A32 is mapped") << quint16(0xCA00) << 0x100000u << 8 << 0x0;
        QTest::newRow("D16 at odd address") << quint16(0xC500) << 0x2001u << 2 << 0x1;
        QTest::newRow("data mode 3") << quint16(0xCD00) << 0x2000u << 4 << 0x1;
        QTest::newRow("A16 address beyond 64 KiB") << quint16(0xC800) << 0x10000u << 4 << 0x1;
        QTest::newRow("undefined access code") << quint16(0xC970) << 0x2000u << 4 << 0x1;
        QTest::newRow("status bits of a command ignored") << quint16(0xC905) << 0x2000u << 4 << 0x0;
    }
    // A refused access answers with its status bits, carries the announced number of bytes
    // (zeros for a read) and changes nothing.
    void statusBits()
    {
        QFETCH(quint16, mode);
        QFETCH(quint32, address);
        QFETCH(int, length);
        QFETCH(int, status);
        const int space = (mode >> 8) & 3;
        const bool write = (mode & 0x8000) != 0;
        const QByteArray before(length, char(0x5A));
        const bool backed = space < 3 && SimVmeMemory::fits(space, address, quint64(length));
        if (backed)
            QVERIFY(sim()->writeVme(space, address, before));
        const QByteArray payload(length, char(0xA5));

        SimProbe::Tcp tcp;
        QVERIFY(connect(tcp));
        Header h;
        QByteArray data;
        QVERIFY(tcp.exchange(SimProbe::command(address, quint8(length), mode, 0xC3, write ? payload : QByteArray()),
                             &h, &data));
        QCOMPARE(h.id, quint8(0xC3));
        QCOMPARE(h.mode, quint16((mode & 0xFFF0) | status));
        QCOMPARE(int(h.length & 0xFF), length);
        QCOMPARE(data, write ? payload : status ? QByteArray(length, '\0') : before);
        if (backed)
            QCOMPARE(sim()->readVme(space, address, length), status || !write ? before : payload);
    }
    // Where an access lands, on a crate with A32 slaves at 0x3000 (one D32 item) and 0x4000-0x40FF,
    // none in A16, and A32 0x5000-0x50FF refused: a fixed-address access moves every item
    // through its one address (memory holds 11223344 55667788 at 0x3000, 0x4000 and A16 0x6000).
    void vmeAccess_data()
    {
        QTest::addColumn<quint16>("mode");
        QTest::addColumn<quint32>("address");
        QTest::addColumn<QByteArray>("written"); // empty: a read of 8 bytes
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("seen"); // what was read, or the 8 bytes there after the write
        const QByteArray none(8, '\0');
        QTest::newRow("fixed write") << quint16(0x8A80) << 0x4000u << hex("0000000A 0000000B") << 0 << hex("0000000B 55667788");
        QTest::newRow("fixed read") << quint16(0x0AD0) << 0x4000u << QByteArray() << 0 << hex("11223344 11223344");
        QTest::newRow("fixed read, one-item slave") << quint16(0x0A90) << 0x3000u << QByteArray() << 0 << hex("11223344 11223344");
        QTest::newRow("read past a one-item slave") << quint16(0x0A00) << 0x3000u << QByteArray() << 0x4 << none;
        QTest::newRow("D8 at a slave's last byte") << quint16(0x8200) << 0x40FFu << hex("AB") << 0 << hex("000000AB 00000000");
        QTest::newRow("A16 without slaves answers") << quint16(0x0800) << 0x6000u << QByteArray() << 0 << hex("11223344 55667788");
        QTest::newRow("param error in A32 only") << quint16(0x0800) << 0x5000u << QByteArray() << 0 << none;
    }
    void vmeAccess()
    {
        QFETCH(quint16, mode);
        QFETCH(quint32, address);
        QFETCH(QByteArray, written);
        QFETCH(QByteArray, seen);
        SimConfig config;
        config.slaves = {SimVmeRange{SimA32, {0x3000, 0x3003}}, SimVmeRange{SimA32, {0x4000, 0x40FF}}};
        config.faults.vmeParamErrors = {SimVmeRange{SimA32, {0x5000, 0x50FF}}};
        SimState state(config);
        for (const auto &[space, at] : {std::pair<int, quint32>{SimA32, 0x3000}, {SimA32, 0x4000}, {SimA16, 0x6000}})
            QVERIFY(state.writeVme(space, at, hex("11223344 55667788")));
        Header h{address, quint32(written.isEmpty() ? 8 : written.size()), mode};
        QByteArray read;
        QTEST(int(state.carryOut(h, written, &read, 0, "test")), "status");
        QCOMPARE(written.isEmpty() ? read : state.readVme((mode >> 8) & 3, address & ~3u, 8), seen);
    }
    // A broken header ends only that connection, after the command before it is answered.
    void badInputEndsOnlyThatConnection_data()
    {
        QTest::addColumn<QByteArray>("input");
        QByteArray broken = SimProbe::command(0x10, 4, 0x0A00, 0x85);
        broken[11] = char(broken[11] ^ 0x01);
        QTest::newRow("broken CRC") << broken;
        QTest::newRow("garbage") << pattern(4096, 1);
    }
    void badInputEndsOnlyThatConnection()
    {
        QFETCH(QByteArray, input);
        SimProbe::Tcp bad, good;
        QVERIFY(connect(bad) && good.connectTo(sim()->tcpPort()));
        QVERIFY(bad.send(SimProbe::command(0x10, 4, 0x0A00, 0x84) + input));
        QCOMPARE(bad.read(16).mid(10, 1), hex("84"));
        QVERIFY(bad.waitClosed());
        QCOMPARE(sim()->counters().crcErrors, quint64(1));
        Header h;
        QByteArray data;
        QVERIFY(good.exchange(SimProbe::command(0x10, 4, 0x0A00, 0x86), &h, &data));
        QCOMPARE(h.id, quint8(0x86));
    }
    void packetFaults_data()
    {
        QTest::addColumn<int>("corrupt");
        QTest::addColumn<int>("closeAfter");
        QTest::addColumn<int>("reports"); // 0: three commands instead
        QTest::addColumn<int>("packets");
        QTest::newRow("2nd of 3 responses corrupt") << 2 << 0 << 0 << 3;
        QTest::newRow("closed after 2 of 3 responses") << 0 << 2 << 0 << 2;
        // Reports built in bulk count one by one: ID 7, level 5 (not polling), flow ID 0xABC.
        QTest::newRow("reports: 50th corrupt, closed after 100") << 50 << 100 << 1000 << 100;
    }
    void packetFaults()
    {
        QFETCH(int, corrupt);
        QFETCH(int, closeAfter);
        QFETCH(int, reports);
        QFETCH(int, packets);
        SimFaults faults;
        faults.tcpCorruptCrcPacket = corrupt;
        faults.tcpCloseAfterPackets = closeAfter;
        sim()->setFaults(faults);
        SimProbe::Tcp tcp;
        QVERIFY(connect(tcp));
        if (reports) {
            SimReportBurst burst;
            burst.count = reports;
            burst.id = 7;
            burst.level = 5;
            burst.polling = false;
            burst.flowId = 0xABC;
            burst.address = 0xC0FFEE;
            QCOMPARE(sim()->startReports(burst), 1);
        } else {
            QVERIFY(tcp.send(SimProbe::command(0, 4, 0x0A00, 0) + SimProbe::command(0, 4, 0x0A00, 1)
                             + SimProbe::command(0, 4, 0x0A00, 2)));
        }
        QByteArray stream;
        const int wanted = 16 * qMax(reports, 3);
        QDeadlineTimer deadline(SimProbe::WaitMs);
        while (stream.size() < wanted && tcp.socket().waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())))) {
            stream += tcp.socket().readAll();
        }
        stream += tcp.socket().readAll();
        QCOMPARE(stream.size(), 16 * packets);
        for (int k = 0; k < packets; ++k) {
            const char *p = stream.constData() + 16 * k;
            QCOMPARE(SimWire::headerCrcOk(p), k + 1 != corrupt);
            QCOMPARE(QByteArray(p, 11), reports ? hex("00c0ffee aabc0004 0a00 07") : hex("00000000 00000004 0a00") + char(k));
            if (reports)
                QCOMPARE(SimWire::readBe32(p + 12), quint32(k));
        }
        QCOMPARE(tcp.socket().state() != QAbstractSocket::ConnectedState || tcp.waitClosed(200), closeAfter != 0);
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
    void malformedDatagrams_data()
    {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<int>("flags"); // -1: no reply at all
        QTest::newRow("empty") << QByteArray() << -1;
        QTest::newRow("seven bytes") << hex("ffc00104000000") << -1;
        QTest::newRow("unknown command") << hex("ff00010400000000") << 0x09;
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
    // An interrupt runs the level's program, then the vector's own program or the default one, as
    // one run (one flow ID) reported to every client; garbage in the tables or the image ends the
    // run early, and the module still answers.
    void interruptRuns_data()
    {
        QTest::addColumn<int>("vector");
        QTest::addColumn<bool>("enableFirst");
        QTest::addColumn<quint32>("address"); // garbage poked there first (0: none)
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("reports");
        QTest::addColumn<QByteArray>("last"); // the vector program's report: id, mode, length, data
        const QByteArray own = hex("21 0000 60000001 5A"), none;
        QTest::newRow("own program") << 5 << true << 0u << none << 4 << own;
        QTest::newRow("default program") << 6 << true << 0u << none << 4 << hex("22 2000 60000000");
        QTest::newRow("pending until enabled") << 5 << false << 0u << none << 4 << own;
        QTest::newRow("start at the image's last record") << 5 << true << 19u << hex("FF") << 1 << none;
        QTest::newRow("no acknowledge, no vector program") << 5 << true << 19u << hex("06") << 3 << none;
        QTest::newRow("write data past the end") << 5 << true << 4088u << hex("00000000 8000 40 FF") << 0 << none;
        QTest::newRow("vector offset beyond the image") << 5 << true << 1044u << hex("00FFFF00") << 3 << none;
        QTest::newRow("vector count past the end") << 5 << true << 1044u << hex("FF07F800") << 4 << none;
        QTest::newRow("unknown vector mark") << 5 << true << 1044u << hex("0000127E") << 3 << none;
    }
    void interruptRuns()
    {
        QFETCH(int, vector);
        QFETCH(bool, enableFirst);
        QFETCH(quint32, address);
        QFETCH(QByteArray, bytes);
        QFETCH(int, reports);
        QFETCH(QByteArray, last);
        loadProgram();
        SimProbe::Tcp second;
        QVERIFY(second.connectTo(sim()->tcpPort()));
        QTRY_COMPARE_WITH_TIMEOUT(sim()->connectionCount(), 2, SimProbe::WaitMs);
        if (address)
            poke(address, bytes);
        if (address == 4088)
            poke(19, hex("FF"));
        if (enableFirst)
            poke(4, hex("08"));
        QCOMPARE(sim()->raiseInterrupt(3, quint8(vector)), enableFirst);
        if (!enableFirst)
            poke(4, hex("08"));

        const QList<QByteArray> expected = {
            hex("00 2830 60000000"),          // acknowledge: no data
            hex("31 0904 60000004 00000000"), // VME error
            hex("32 0801 60000004 00000000"), // parameter error
            last,
        };
        Packet p[5];
        for (int i = 0; i < reports; ++i) {
            QVERIFY(next(&p[i]));
            QCOMPARE(flow(p[i]), flow(p[0]));
            if (!last.isEmpty())
                QCOMPARE(brief(p[i]), expected[i]);
        }
        QVERIFY(!next(&p[4], 200));
        if (!last.isEmpty())
            QCOMPARE(second.read(12).mid(8, 3), hex("283000")); // every client has them
        QVERIFY(m_tcp->send(SimProbe::command(0x10, 1, 0x0000, 0x80)));
        QVERIFY(next(&p[0]));
        QCOMPARE(p[0].data, hex("5A"));
    }

    // Every interval a polling run: its reports carry the polling bit and the level of register 6.
    void pollingReports()
    {
        loadProgram();
        poke(4, hex("01"));
        Packet p[3];
        for (Packet &report : p)
            QVERIFY(next(&report));
        QCOMPARE(brief(p[0]) + brief(p[1]) + brief(p[2]), hex("11 0A00 B0000004 CAFE0001 12 8500 B0000000") + brief(p[0]));
        QVERIFY(flow(p[2]) != flow(p[0]));
    }

    // The executable on ephemeral ports prints where it listens and answers on both channels.
    void listensAndAnswers()
    {
        QProcess process;
        process.start(QStringLiteral(TARNIX_SIM_EXE), QStringLiteral("--tcp-port 0 --udp-port 0 --version-register 0xCAFEF00D").split(QLatin1Char(' ')));
        QVERIFY(process.waitForReadyRead(10000) && (process.canReadLine() || process.waitForReadyRead(10000)));
        const QRegularExpressionMatch match =
            QRegularExpression(QStringLiteral("^tarnix-sim listening: tcp=127\\.0\\.0\\.1:(\\d+) udp=127\\.0\\.0\\.1:(\\d+)\\n$"))
                .match(QString::fromLocal8Bit(process.readLine()));
        QVERIFY(match.hasMatch());
        const quint16 tcp = quint16(match.captured(1).toUInt()), udp = quint16(match.captured(2).toUInt());
        SimProbe::Udp rbcp;
        QCOMPARE(rbcp.exchange(SimProbe::rbcpRead(1, 0, 4), udp), hex("ffc8 0104 00000000 cafef00d"));
        QCOMPARE(rbcp.exchange(SimProbe::rbcpRead(2, 0xFFFFFF1C, 2), udp).mid(8), QByteArray(1, char(tcp >> 8)) + char(tcp));

        SimProbe::Tcp channel;
        Header h;
        QByteArray data;
        QVERIFY(channel.connectTo(tcp));
        QVERIFY(channel.exchange(SimProbe::command(0x1000, 4, 0xCA00, 0x80, hex("01020304")), &h, &data));
        QCOMPARE(data, hex("01020304"));
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
                                "--unmapped A20:0-1", "--unmapped A24:0x20-0x10", "--slave A24:0x10", "--drop 1.5", "--bus-error 5",
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
};

QTEST_GUILESS_MAIN(TestSim)
#include "tst_sim.moc"
