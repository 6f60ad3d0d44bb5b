// The software module's TCP command channel: status bits, bad input, the packet faults and report
// bursts, over 127.0.0.1 on ephemeral ports. Plain reads and writes are exercised through the
// interactive tab.

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
        QTest::newRow("garbage") << 1;
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
        // Reports built in bulk count one by one: ID 7, level 5 (not polling), flow ID 0xABC.
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
            QCOMPARE(QByteArray(p, 11), reports ? hex("00c0ffee aabc0004 0a00 07") : hex("00000000 00000004 0a00") + char(k));
            if (reports)
                QCOMPARE(SimWire::readBe32(p + 12), quint32(k));
        }
        QCOMPARE(tcp.socket().state() != QAbstractSocket::ConnectedState || tcp.waitClosed(200), closeAfter != 0);
        if (trickle)
            QVERIFY2(pieces > packets, qPrintable(QString::number(pieces)));
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
