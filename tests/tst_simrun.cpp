// The software module running a hand-built program memory: the polling program on its timer,
// an interrupt program with its vector program, the enable mask, and tables full of garbage.

#include "simprobe.h"
#include "simwire.h"
#include "tarnixsim.h"

#include <QtTest>

#include <memory>

namespace {

struct Packet
{
    SimWire::Header h;
    QByteArray data;
};

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

class TstSimRun : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        SimConfig config = SimProbe::ephemeral();
        config.unmapped.append(SimUnmapped{SimA24, {0x100000, 0x1FFFFF}});
        m_thread = std::make_unique<TarnixSimThread>();
        QVERIFY(m_thread->startSim(config));
        TarnixSim *sim = m_thread->sim();
        QVERIFY(sim->writeVme(SimA32, 0x1000, QByteArray::fromHex("CAFE0001")));
        QVERIFY(sim->writeVme(SimA16, 0x10, QByteArray::fromHex("5A")));
        m_tcp = std::make_unique<SimProbe::Tcp>();
        QVERIFY(m_tcp->connectTo(sim->tcpPort()));
        QTRY_COMPARE_WITH_TIMEOUT(sim->connectionCount(), 1, SimProbe::WaitMs);
        poke(6, QByteArray::fromHex("05"));                       // polling level
        poke(12, QByteArray::fromHex("00002710"                   // interval 10000 us
                                     "0000000500000000"           // start table: level 3 at 40
                                     "0100000200000000"));        // count table
        poke(1024 + 4 * 5, QByteArray::fromHex("00001200"));      // vector 5: own program
        poke(1024 + 4 * 6, QByteArray::fromHex("00001AFF"));      // vector 6: the default one
        poke(2048, image);
    }
    void cleanup()
    {
        m_tcp.reset();
        m_thread.reset();
    }
    void pollingRunsUntilMaskZero()
    {
        poke(4, QByteArray::fromHex("01"));
        Packet p[3];
        for (Packet &one : p)
            QVERIFY(next(&one));
        QCOMPARE(brief(p[0]), QByteArray::fromHex("11 0A00 B0000004 CAFE0001")); // level 5, polling
        QCOMPARE(p[0].h.address, 0x1000u);
        QCOMPARE(brief(p[1]), QByteArray::fromHex("12 8500 B0000000"));
        QCOMPARE(brief(p[2]), brief(p[0]));
        // One flow ID per run: both reports of a run share it, the next run has the next one.
        QCOMPARE(flow(p[1]), flow(p[0]));
        QCOMPARE(flow(p[2]), flow(p[0]) + 1);

        poke(4, QByteArray::fromHex("00"));
        Packet r;
        int drained = 0; // what was sent before the mask
        while (drained < 100 && next(&r, 100))
            ++drained;
        QVERIFY(drained < 100);
        QVERIFY(m_tcp->read(1, 300).isEmpty());
        // The write landed in VME memory.
        QVERIFY(m_tcp->exchange(SimProbe::command(0x2000, 2, 0x0500, 0x80), &r.h, &r.data));
        QCOMPARE(r.data, QByteArray::fromHex("BEEF"));
    }
    void interruptRunsVectorProgram_data()
    {
        QTest::addColumn<int>("vector");
        QTest::addColumn<bool>("enableFirst");
        QTest::addColumn<QByteArray>("last"); // the vector program's report: id, mode, length, data
        QTest::newRow("own program") << 5 << true << QByteArray::fromHex("21 0000 60000001 5A");
        QTest::newRow("default program") << 6 << true << QByteArray::fromHex("22 2000 60000000");
        QTest::newRow("pending until enabled") << 5 << false << QByteArray::fromHex("21 0000 60000001 5A");
    }
    void interruptRunsVectorProgram()
    {
        QFETCH(int, vector);
        QFETCH(bool, enableFirst);
        QFETCH(QByteArray, last);
        SimProbe::Tcp second;
        QVERIFY(second.connectTo(m_thread->sim()->tcpPort()));
        QTRY_COMPARE_WITH_TIMEOUT(m_thread->sim()->connectionCount(), 2, SimProbe::WaitMs);
        if (enableFirst)
            poke(4, QByteArray::fromHex("08"));
        QCOMPARE(m_thread->sim()->raiseInterrupt(3, quint8(vector)), enableFirst);
        if (!enableFirst)
            poke(4, QByteArray::fromHex("08"));

        const QList<QByteArray> expected = {
            QByteArray::fromHex("00 2830 60000000"),            // acknowledge: no data
            QByteArray::fromHex("31 0904 60000004 00000000"),   // VME error
            QByteArray::fromHex("32 0801 60000004 00000000"),   // parameter error
            last,
        };
        Packet p[5];
        for (int i = 0; i < expected.size(); ++i) {
            QVERIFY(next(&p[i]));
            QCOMPARE(brief(p[i]), expected[i]);
            QCOMPARE(flow(p[i]), flow(p[0]));
        }
        QVERIFY(!next(&p[4], 200));
        QCOMPARE(second.read(12).mid(8, 3), QByteArray::fromHex("283000")); // every client has them
    }
    void garbageEndsTheRun_data()
    {
        QTest::addColumn<quint32>("address");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("reports");
        QTest::newRow("start at the image's last record") << 19u << QByteArray::fromHex("FF") << 1;
        QTest::newRow("no acknowledge, no vector program") << 19u << QByteArray::fromHex("06") << 3;
        QTest::newRow("write data past the end") << 4088u << QByteArray::fromHex("00000000 8000 40 FF") << 0;
        QTest::newRow("vector offset beyond the image") << 1044u << QByteArray::fromHex("00FFFF00") << 3;
        QTest::newRow("vector count past the end") << 1044u << QByteArray::fromHex("FF07F800") << 4;
        QTest::newRow("unknown vector mark") << 1044u << QByteArray::fromHex("0000127E") << 3;
    }
    void garbageEndsTheRun()
    {
        QFETCH(quint32, address);
        QFETCH(QByteArray, bytes);
        QFETCH(int, reports);
        poke(address, bytes);
        if (address == 4088)
            poke(19, QByteArray::fromHex("FF"));
        poke(4, QByteArray::fromHex("08"));
        QVERIFY(m_thread->sim()->raiseInterrupt(3, 5));
        Packet p;
        for (int i = 0; i < reports; ++i)
            QVERIFY(next(&p));
        QVERIFY(!next(&p, 200));
        // The module still answers.
        QVERIFY(m_tcp->send(SimProbe::command(0x10, 1, 0x0000, 0x80)));
        QVERIFY(next(&p));
        QCOMPARE(p.data, QByteArray::fromHex("5A"));
    }

private:
    void poke(quint32 address, const QByteArray &bytes)
    {
        const QByteArray reply =
            m_udp.exchange(SimProbe::rbcpWrite(++m_rbcpId, address, bytes), m_thread->sim()->udpPort());
        QVERIFY(reply.size() == 8 + bytes.size() && (reply[1] & 1) == 0);
    }
    bool next(Packet *p, int ms = SimProbe::WaitMs) { return m_tcp->readPacket(&p->h, &p->data, ms); }

    std::unique_ptr<TarnixSimThread> m_thread;
    SimProbe::Udp m_udp;
    std::unique_ptr<SimProbe::Tcp> m_tcp;
    quint8 m_rbcpId = 0;
};

QTEST_GUILESS_MAIN(TstSimRun)
#include "tst_simrun.moc"
