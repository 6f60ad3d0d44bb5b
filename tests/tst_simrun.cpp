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

} // namespace

class TstSimRun : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void pollingProgramReportsAndWrites();
    void interruptRunsVectorProgram_data();
    void interruptRunsVectorProgram();
    void maskZeroStopsPolling();
    void garbageEndsTheRun_data();
    void garbageEndsTheRun();

private:
    void poke(quint32 address, const QByteArray &bytes);
    bool next(Packet *p, int ms = SimProbe::WaitMs);

    std::unique_ptr<TarnixSimThread> m_thread;
    SimProbe::Udp m_udp;
    std::unique_ptr<SimProbe::Tcp> m_tcp;
    quint8 m_rbcpId = 0;
};

void TstSimRun::init()
{
    SimConfig config;
    config.tcpPort = 0;
    config.udpPort = 0;
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

void TstSimRun::cleanup()
{
    m_tcp.reset();
    m_thread.reset();
}

void TstSimRun::poke(quint32 address, const QByteArray &bytes)
{
    const QByteArray reply =
        m_udp.exchange(SimProbe::rbcpWrite(++m_rbcpId, address, bytes), m_thread->sim()->udpPort());
    QVERIFY(reply.size() == 8 + bytes.size() && (reply[1] & 1) == 0);
}

// One packet from the module, refusing a header with a wrong CRC.
bool TstSimRun::next(Packet *p, int ms)
{
    const QByteArray head = m_tcp->read(SimWire::HeaderSize, ms);
    if (head.size() != SimWire::HeaderSize || !SimWire::headerCrcOk(head.constData()))
        return false;
    p->h = SimWire::parseHeader(head.constData());
    const int size = SimWire::carriesData(p->h.mode) ? int(p->h.length & 0xFF) : 0;
    p->data = m_tcp->read(size, ms);
    return p->data.size() == size;
}

void TstSimRun::pollingProgramReportsAndWrites()
{
    poke(4, QByteArray::fromHex("01"));
    Packet p[4];
    for (Packet &one : p)
        QVERIFY(next(&one));
    QCOMPARE(p[0].h.id, quint8(0x11));
    QCOMPARE(p[0].h.mode, quint16(0x0A00));
    QCOMPARE(p[0].h.address, 0x1000u);
    QCOMPARE(p[0].h.length & 0xF000FFFF, 0xB0000004u);        // level 5, polling, 4 bytes
    QCOMPARE(p[0].data, QByteArray::fromHex("CAFE0001"));
    QCOMPARE(p[1].h.id, quint8(0x12));
    QCOMPARE(p[1].h.mode, quint16(0x8500));
    QCOMPARE(p[1].h.length & 0xF000FFFF, 0xB0000000u);
    QCOMPARE(p[2].h.id, quint8(0x11));
    // One flow ID per run: both reports of a run share it, the next run has the next one.
    QCOMPARE(p[1].h.length >> 16 & 0xFFF, p[0].h.length >> 16 & 0xFFF);
    QCOMPARE(p[2].h.length >> 16 & 0xFFF, (p[0].h.length >> 16 & 0xFFF) + 1);

    // The write landed in VME memory: read it back over the command channel.
    QVERIFY(m_tcp->send(SimProbe::command(0x2000, 2, 0x0500, 0x80)));
    Packet r;
    for (int i = 0; i < 1000 && next(&r) && r.h.id != 0x80;)
        ++i;
    QCOMPARE(r.h.id, quint8(0x80));
    QCOMPARE(r.data, QByteArray::fromHex("BEEF"));
}

void TstSimRun::interruptRunsVectorProgram_data()
{
    QTest::addColumn<int>("vector");
    QTest::addColumn<bool>("enableFirst");
    QTest::addColumn<QByteArray>("last"); // the vector program's report: id, mode, length, data
    QTest::newRow("own program") << 5 << true << QByteArray::fromHex("21 0000 60000001 5A");
    QTest::newRow("default program") << 6 << true << QByteArray::fromHex("22 2000 60000000");
    QTest::newRow("pending until enabled") << 5 << false << QByteArray::fromHex("21 0000 60000001 5A");
}

void TstSimRun::interruptRunsVectorProgram()
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
    quint32 flow = 0;
    for (int i = 0; i < expected.size(); ++i) {
        Packet p;
        QVERIFY(next(&p));
        QByteArray got(7, '\0');
        got[0] = char(p.h.id);
        SimWire::writeBe16(got.data() + 1, p.h.mode);
        SimWire::writeBe32(got.data() + 3, p.h.length & 0xF000FFFF);
        QCOMPARE(got + p.data, expected[i]);
        if (i == 0)
            flow = p.h.length & 0x0FFF0000;
        QCOMPARE(p.h.length & 0x0FFF0000, flow);
    }
    Packet extra;
    QVERIFY(!next(&extra, 200));
    const QByteArray firstOnSecond = second.read(12);
    QCOMPARE(firstOnSecond.mid(8, 3), QByteArray::fromHex("283000"));
}

void TstSimRun::maskZeroStopsPolling()
{
    poke(4, QByteArray::fromHex("01"));
    Packet p;
    QVERIFY(next(&p));
    poke(4, QByteArray::fromHex("00"));
    int drained = 0;
    while (drained < 100 && next(&p, 100))
        ++drained;
    QVERIFY(drained < 100);
    QVERIFY(m_tcp->read(1, 300).isEmpty());
}

void TstSimRun::garbageEndsTheRun_data()
{
    QTest::addColumn<quint32>("address");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("reports");
    QTest::newRow("start at the image's last record") << 19u << QByteArray::fromHex("FF") << 1;
    QTest::newRow("write data past the end") << 4088u << QByteArray::fromHex("00000000 8000 40 FF") << 0;
    QTest::newRow("vector offset beyond the image") << 1044u << QByteArray::fromHex("00FFFF00") << 3;
    QTest::newRow("vector count past the end") << 1044u << QByteArray::fromHex("FF07F800") << 4;
    QTest::newRow("unknown vector mark") << 1044u << QByteArray::fromHex("0000127E") << 3;
}

void TstSimRun::garbageEndsTheRun()
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

QTEST_GUILESS_MAIN(TstSimRun)
#include "tst_simrun.moc"
