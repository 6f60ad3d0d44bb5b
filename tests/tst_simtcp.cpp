// The software module's TCP command channel: the VME memory behind it, status bits, bad input,
// the packet faults and report bursts, over 127.0.0.1 on ephemeral ports.

#include "bytes.h"
#include "simprobe.h"
#include "tarnixsim.h"

#include <QRandomGenerator>
#include <QtTest>

#include <memory>

using SimWire::Header;

class TstSimTcp : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        SimConfig config = SimProbe::ephemeral();
        config.unmapped.append(SimUnmapped{SimA24, {0x100000, 0x1FFFFF}});
        m_thread = std::make_unique<TarnixSimThread>();
        QVERIFY2(m_thread->startSim(config), qPrintable(m_thread->errorString()));
    }
    void cleanup()
    {
        m_thread.reset();
    }

    // A read of one D32 item at A32 0x1000, ID 0x80.
    void workedReadPacket()
    {
        QVERIFY(sim()->writeVme(SimA32, 0x1000, hex("deadbeef")));
        SimProbe::Tcp tcp;
        QVERIFY(connect(tcp));
        QVERIFY(tcp.send(hex("00001000 00000004 0a00 80 10")));
        QCOMPARE(tcp.read(16), hex("00001000 00000004 0a00 80 10 deadbeef"));
    }
    void responseCarriesDataOnlyWhenEcho_data()
    {
        QTest::addColumn<quint16>("mode");
        QTest::addColumn<bool>("carries");
        QTest::newRow("Read") << quint16(0x0A00) << true;
        QTest::newRow("Read(No Echo)") << quint16(0x2A00) << false;
        QTest::newRow("Write(No Data Echo)") << quint16(0x8A00) << false;
        QTest::newRow("Write(Echo)") << quint16(0xCA00) << true;
        QTest::newRow("Write(No Echo)") << quint16(0xAA00) << false;
    }
    // The next response on the same stream must still be found where it belongs.
    void responseCarriesDataOnlyWhenEcho()
    {
        QFETCH(quint16, mode);
        QFETCH(bool, carries);
        const QByteArray stored = hex("0102030405060708");
        QVERIFY(sim()->writeVme(SimA32, 0x800, stored));
        const bool write = (mode & 0x8000) != 0;
        const QByteArray payload = hex("f1f2f3f4f5f6f7f8");

        SimProbe::Tcp tcp;
        QVERIFY(connect(tcp));
        QVERIFY(tcp.send(SimProbe::command(0x800, 8, mode, 0x90, write ? payload : QByteArray())
                         + SimProbe::command(0x800, 4, 0x0A00, 0x91)));
        const QByteArray first = tcp.read(carries ? 20 : 12);
        QCOMPARE(first.left(11), SimProbe::command(0x800, carries ? 8 : 0, mode, 0x90).left(11));
        QVERIFY(SimWire::headerCrcOk(first.constData()));
        QCOMPARE(first.mid(12), carries ? (write ? payload : stored) : QByteArray());
        QCOMPARE(tcp.read(16), SimProbe::command(0x800, 4, 0x0A00, 0x91, (write ? payload : stored).left(4)));
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
        QTest::newRow("D32 length 6") << quint16(0xC900) << 0x2000u << 6 << 0x1;
        QTest::newRow("D16 read length 3") << quint16(0x0500) << 0x2000u << 3 << 0x1;
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
    void badInputEndsOnlyThatConnection_data()
    {
        QTest::addColumn<int>("seed"); // 0: a command with a broken header CRC
        QTest::newRow("broken CRC") << 0;
        QTest::newRow("garbage 1") << 1;
        QTest::newRow("garbage 2") << 2;
    }
    void badInputEndsOnlyThatConnection()
    {
        QFETCH(int, seed);
        SimProbe::Tcp bad;
        SimProbe::Tcp good;
        QVERIFY(connect(bad));
        QVERIFY(good.connectTo(sim()->tcpPort()));
        QByteArray input(4096, Qt::Uninitialized);
        QRandomGenerator(quint32(seed)).fillRange(reinterpret_cast<quint32 *>(input.data()), input.size() / 4);
        if (seed == 0) {
            input = SimProbe::command(0x10, 4, 0x0A00, 0x85);
            input[11] = char(input[11] ^ 0x01);
            // The command before the broken header is still answered.
            QVERIFY(bad.send(SimProbe::command(0x10, 4, 0x0A00, 0x84) + input));
            QCOMPARE(bad.read(16).mid(10, 1), hex("84"));
            QVERIFY(bad.waitClosed());
            QCOMPARE(sim()->counters().crcErrors, quint64(1));
        } else {
            QVERIFY(bad.send(input));
        }
        QVERIFY(bad.waitClosed());

        Header h;
        QByteArray data;
        QVERIFY(good.exchange(SimProbe::command(0x10, 4, 0x0A00, 0x86), &h, &data));
        QCOMPARE(h.id, quint8(0x86));
    }
    void packetFaults_data()
    {
        QTest::addColumn<int>("corrupt");
        QTest::addColumn<int>("closeAfter");
        QTest::addColumn<bool>("trickle");
        QTest::addColumn<int>("reports"); // 0: three commands instead
        QTest::addColumn<int>("packets");
        QTest::newRow("2nd of 3 responses corrupt") << 2 << 0 << false << 0 << 3;
        QTest::newRow("closed after 2 of 3 responses") << 0 << 2 << false << 0 << 2;
        QTest::newRow("one byte at a time") << 0 << 0 << true << 0 << 3;
        // Reports built in bulk count one by one.
        QTest::newRow("reports: 50th corrupt, closed after 100") << 50 << 100 << false << 1000 << 100;
    }
    void packetFaults()
    {
        QFETCH(int, corrupt);
        QFETCH(int, closeAfter);
        QFETCH(bool, trickle);
        QFETCH(int, reports);
        QFETCH(int, packets);
        SimFaults faults;
        faults.tcpCorruptCrcPacket = corrupt;
        faults.tcpCloseAfterPackets = closeAfter;
        faults.tcpByteAtATime = trickle;
        faults.tcpByteIntervalMs = 5;
        sim()->setFaults(faults);
        SimProbe::Tcp tcp;
        QVERIFY(connect(tcp));
        if (reports) {
            SimReportBurst burst;
            burst.count = reports;
            QCOMPARE(sim()->startReports(burst), 1);
        } else {
            QVERIFY(tcp.send(SimProbe::command(0, 4, 0x0A00, 0) + SimProbe::command(0, 4, 0x0A00, 1)
                             + SimProbe::command(0, 4, 0x0A00, 2)));
        }
        QByteArray stream;
        int pieces = 0;
        const int wanted = 16 * qMax(reports, 3);
        QDeadlineTimer deadline(SimProbe::WaitMs);
        while (stream.size() < wanted && tcp.socket().waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())))) {
            stream += tcp.socket().readAll();
            ++pieces;
        }
        stream += tcp.socket().readAll();
        QCOMPARE(stream.size(), 16 * packets);
        for (int k = 0; k < packets; ++k) {
            const char *p = stream.constData() + 16 * k;
            QCOMPARE(SimWire::headerCrcOk(p), k + 1 != corrupt);
            QCOMPARE(reports ? int(SimWire::readBe32(p + 12)) : int(quint8(p[10])), k);
        }
        QCOMPARE(tcp.socket().state() != QAbstractSocket::ConnectedState || tcp.waitClosed(200), closeAfter != 0);
        if (trickle)
            QVERIFY2(pieces > packets, qPrintable(QString::number(pieces)));
    }
    void reportBurstArrivesInOrder()
    {
        SimProbe::Tcp tcp;
        QVERIFY(connect(tcp));
        SimReportBurst burst;
        burst.id = 7;
        burst.flowId = 0xABC;
        burst.polling = false;
        burst.level = 5;
        burst.address = 0x00C0FFEE;
        burst.items = 3;
        burst.count = 20000;
        QCOMPARE(sim()->startReports(burst), 1);
        const QByteArray header = hex("00c0ffee aabc000c 0a00 07");
        for (int k = 0; k < burst.count; ++k) {
            const QByteArray report = tcp.read(24);
            if (report.left(11) != header || !SimWire::headerCrcOk(report.constData())
                || SimWire::readBe32(report.constData() + 12) != quint32(k))
                QFAIL(qPrintable(QStringLiteral("report %1: %2").arg(k).arg(QString::fromLatin1(report.toHex()))));
        }
        QTRY_COMPARE(sim()->counters().reportsSent, quint64(burst.count));
    }

private:
    TarnixSim *sim() const { return m_thread->sim(); }
    bool connect(SimProbe::Tcp &tcp) const
    {
        return tcp.connectTo(sim()->tcpPort()) && QTest::qWaitFor([this] { return sim()->connectionCount() > 0; });
    }

    std::unique_ptr<TarnixSimThread> m_thread;
};


QTEST_GUILESS_MAIN(TstSimTcp)
#include "tst_simtcp.moc"
