#include "packet.h"
#include "testpacket.h"
#include "reporttext.h"
#include "scriptedpeer.h"
#include "tarnixcmd.h"
#include "tcpthread.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTimer>
#include <QtTest>

namespace {


QByteArray seqReport(quint32 k)
{
    QByteArray d(4, '\0');
    d[0] = char(k >> 24);
    d[1] = char(k >> 16);
    d[2] = char(k >> 8);
    d[3] = char(k);
    return packet(0x2000, 0x10000004, 0x0A00, 5, d);
}

const QString Sep = QString(63, QLatin1Char('-')) + QLatin1Char('\n');

} // namespace

// Stands in for the main window: the slots the thread connects to by name.
class Owner : public QObject
{
    Q_OBJECT
public:
    QStringList events;
    QList<QByteArray> responses;
    QList<quint8> ids;
    QList<quint16> modes;
    QString log;
    QString lastError;
    int logDeliveries = 0;
    int passes = 0;            // advanced by a zero timer: one per pass of the event loop
    QList<int> appendPasses;   // the pass in which each log string arrived
    int logSizeAtError = -1;

public slots:
    void startTcp() { events << QStringLiteral("connected"); }
    void stopped() { events << QStringLiteral("closed"); }
    void displayError(QString *text)
    {
        lastError = *text;
        logSizeAtError = int(log.size());
        events << QStringLiteral("error");
    }
    void received(quint8 id, quint16 mode, QByteArray *buf)
    {
        ids << id;
        modes << mode;
        responses << *buf;
        buf->clear();
    }
    void appendLog(QString *text)
    {
        log += *text;
        ++logDeliveries;
        appendPasses << passes;
        text->clear();
    }
};

class TestTcpThread : public QObject
{
    Q_OBJECT
private slots:
    void reportTextWorkedExample();
    void headerText_data();
    void headerText();
    void dataRows_data();
    void dataRows();

    void sendsQueuedCommandsInOrder();
    void responseSplitAcrossReads();
    void everySplitGivesSameResult();
    void twoPacketsInOneRead();
    void idRangeEnds_data();
    void idRangeEnds();
    void responseWithoutData();
    void errorBitsInLog();
    void crcErrorEndsConnection();
    void refusedConnection();
    void remoteCloseKeepsLastReports();
    void stopWhileConnecting();
    void stopIsQuietAndClosed();
    void floodArrivesInOrder();
    void slowWindowLosesNothing();
    void waitingLogsOnePerPass();
    void destroyWithDeliveriesPending();
};

void TestTcpThread::reportTextWorkedExample()
{
    kelvo_vme_master_header h;
    h.address = 0x1000;
    h.length = 0x50050004;
    h.mode = 0x0A00;
    h.id = 5;
    const QByteArray data = QByteArray::fromHex("deadbeef");
    QString out;
    ReportText::appendReport(h, data.constData(), data.size(), out);
    const QString expected = Sep + QStringLiteral("Address : 0x00001000\n"
                                                  "Length : 1\n"
                                                  "Priority Level : 2 (Polling)\n"
                                                  "Flow ID : 5\n"
                                                  "Mode : 0x0a00(Read D32)\n"
                                                  "ID : 0x05\n") +
                             Sep + QStringLiteral("[0x00001000]:de ad be ef \n") + Sep;
    QCOMPARE(out, expected);
}

void TestTcpThread::headerText_data()
{
    QTest::addColumn<quint32>("address");
    QTest::addColumn<quint32>("length");
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("text");
    QTest::newRow("D16 write error interrupt")
        << 0xABCDEF01u << 0xEFFF0008u << 0x8540 << 0xFF
        << QStringLiteral("Address : 0xabcdef01\nLength : 4\nPriority Level : 7 (Interrupt)\nFlow ID : 4095\n"
                          "Mode : 0x8540(Write D16)\nID : 0xff\n");
    QTest::newRow("INTR with VME error")
        << 0u << 0x00000004u << 0x2834 << 0
        << QStringLiteral("Address : 0x00000000\nLength : 1\nPriority Level : 0 (Interrupt)\nFlow ID : 0\n"
                          "Mode : 0x2834(INTR Error)\nID : 0x00\n");
    QTest::newRow("D8 read parameter error, length bits 15-8 ignored")
        << 0x10u << 0x1000FF03u << 0x0001 << 0x7F
        << QStringLiteral("Address : 0x00000010\nLength : 3\nPriority Level : 0 (Polling)\nFlow ID : 0\n"
                          "Mode : 0x0001(Read D8 Error)\nID : 0x7f\n");
    QTest::newRow("D32 length not a whole item") << 0u << 0x00000007u << 0x0A02 << 1
        << QStringLiteral("Address : 0x00000000\nLength : 1\nPriority Level : 0 (Interrupt)\nFlow ID : 0\n"
                          "Mode : 0x0a02(Read D32)\nID : 0x01\n");
}

void TestTcpThread::headerText()
{
    QFETCH(quint32, address);
    QFETCH(quint32, length);
    QFETCH(int, mode);
    QFETCH(int, id);
    kelvo_vme_master_header h;
    h.address = address;
    h.length = length;
    h.mode = quint16(mode);
    h.id = quint8(id);
    QString out = QStringLiteral("keep:");
    QTcpThread thread(QString(), 0);
    thread.dumpVmeHeader(h, out);
    QTEST(out.mid(5), "text");
    QVERIFY(out.startsWith(QStringLiteral("keep:")));
}

void TestTcpThread::dataRows_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<quint32>("address");
    QTest::addColumn<QString>("text");
    QTest::newRow("none") << 0 << 0x10u << QString();
    QTest::newRow("one byte") << 1 << 0x10u << QStringLiteral("[0x00000010]:00 \n");
    QTest::newRow("full row, no extra line feed")
        << 16 << 0u << QStringLiteral("[0x00000000]:00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f\n");
    QTest::newRow("row and a byte")
        << 17 << 0xFFFFFFF8u
        << QStringLiteral("[0xfffffff8]:00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f\n[0x00000008]:10 \n");
}

void TestTcpThread::dataRows()
{
    QFETCH(int, count);
    QFETCH(quint32, address);
    QByteArray data;
    for (int i = 0; i < count; ++i)
        data.append(char(i));
    QString out;
    ReportText::dumpPacket(data.constData(), count, out, address);
    QTEST(out, "text");
}

namespace {

struct Connection
{
    Owner owner;
    ScriptedPeer peer;
    QTcpThread *thread = nullptr;

    explicit Connection(quint8 lo = 128, quint8 hi = 255, int threshold = 131072, int sleepMs = 0)
    {
        thread = new QTcpThread(QStringLiteral("127.0.0.1"), peer.port(), &owner);
        thread->setParam(lo, hi, threshold, 8, 1024, sleepMs);
    }
    ~Connection() { delete thread; }
    bool up()
    {
        thread->start();
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 5000 && !(owner.events.contains(QStringLiteral("connected")) && peer.hasClient()))
            QTest::qWait(5);
        return owner.events.contains(QStringLiteral("connected")) && peer.hasClient();
    }
};

} // namespace

void TestTcpThread::sendsQueuedCommandsInOrder()
{
    Connection c;
    QVERIFY(c.up());
    for (quint8 id : {0x80, 0x81, 0x82}) {
        auto *cmd = new TarnixCmd;
        cmd->address = 0x1000;
        cmd->length = 4;
        cmd->mode = 0x0A00;
        cmd->id = id;
        c.thread->setCmd(cmd);
    }
    auto *w = new TarnixCmd;
    w->address = 0x20;
    w->length = 2;
    w->mode = 0xC540;
    w->id = 0x83;
    w->data = QByteArray::fromHex("abcd");
    c.thread->setCmd(w);
    const QByteArray expected = QByteArray::fromHex("00001000000000040a008010") +
                                packet(0x1000, 4, 0x0A00, 0x81) + packet(0x1000, 4, 0x0A00, 0x82) +
                                packet(0x20, 2, 0xC540, 0x83, QByteArray::fromHex("abcd"));
    QTRY_COMPARE(c.peer.received(), expected);
    QCOMPARE(c.thread->queuedCount(), 0);
}

void TestTcpThread::responseSplitAcrossReads()
{
    Connection c;
    QVERIFY(c.up());
    const QByteArray p = packet(0x1000, 4, 0x0A00, 0x80, QByteArray::fromHex("01020304"));
    c.peer.send(p.left(5));
    c.peer.send(p.mid(5, 10));
    QTest::qWait(50); // let the thread see the incomplete packet on its own
    QVERIFY(c.owner.responses.isEmpty());
    c.peer.send(p.mid(15));
    QTRY_COMPARE(c.owner.responses.size(), 1);
    QCOMPARE(c.owner.responses.first(), QByteArray::fromHex("01020304"));
    QCOMPARE(c.owner.ids.first(), quint8(0x80));
    QCOMPARE(c.owner.modes.first(), quint16(0x0A00));
}

void TestTcpThread::everySplitGivesSameResult()
{
    const QByteArray stream = packet(0x1000, 0x50050004, 0x0A00, 5, QByteArray::fromHex("deadbeef")) +
                              packet(0x40, 2, 0x0540, 0x90, QByteArray::fromHex("beef")) +
                              packet(0x44, 0x30000000, 0x2830, 7);
    QString reference;
    for (int split = 1; split < stream.size(); ++split) {
        Connection c;
        QVERIFY(c.up());
        c.peer.send(stream.left(split));
        c.peer.send(stream.mid(split));
        QTRY_VERIFY(c.owner.log.count(QStringLiteral("\nID : ")) == 2 && c.owner.responses.size() == 1);
        QCOMPARE(c.owner.responses.first(), QByteArray::fromHex("beef"));
        if (reference.isEmpty())
            reference = c.owner.log;
        QCOMPARE(c.owner.log, reference);
    }
    QVERIFY(reference.indexOf(QStringLiteral("ID : 0x05")) < reference.indexOf(QStringLiteral("ID : 0x07")));
}

void TestTcpThread::twoPacketsInOneRead()
{
    Connection c;
    QVERIFY(c.up());
    c.peer.send(packet(0, 1, 0x0000, 0x80, "A") + packet(0, 1, 0x0000, 0x81, "B"));
    QTRY_COMPARE(c.owner.responses.size(), 2);
    QCOMPARE(c.owner.responses, (QList<QByteArray>{"A", "B"}));
    QCOMPARE(c.owner.ids, (QList<quint8>{0x80, 0x81}));
}

void TestTcpThread::idRangeEnds_data()
{
    QTest::addColumn<int>("id");
    QTest::addColumn<bool>("interactive");
    QTest::newRow("low end") << 100 << true;
    QTest::newRow("high end") << 200 << true;
    QTest::newRow("below") << 99 << false;
    QTest::newRow("above") << 201 << false;
}

void TestTcpThread::idRangeEnds()
{
    QFETCH(int, id);
    QFETCH(bool, interactive);
    Connection c(100, 200);
    QVERIFY(c.up());
    c.peer.send(packet(0x10, 1, 0x0000, quint8(id), "Z") + packet(0x10, 0, 0x2000, 1));
    // The trailing report always lands in the log, so its arrival bounds the wait.
    QTRY_VERIFY(c.owner.log.contains(QStringLiteral("ID : 0x01")));
    QCOMPARE(c.owner.responses.size(), interactive ? 1 : 0);
    QCOMPARE(c.owner.log.contains(QStringLiteral("ID : 0x%1").arg(id, 2, 16, QLatin1Char('0'))), !interactive);
}

void TestTcpThread::responseWithoutData()
{
    Connection c;
    QVERIFY(c.up());
    // "Write(No Data Echo)": a bare header even though the length word names 4 bytes.
    c.peer.send(packet(0x1000, 4, 0x8A00, 0x90));
    QTRY_COMPARE(c.owner.responses.size(), 1);
    QVERIFY(c.owner.responses.first().isEmpty());
    QCOMPARE(c.owner.modes.first(), quint16(0x8A00));
}

void TestTcpThread::errorBitsInLog()
{
    Connection c;
    QVERIFY(c.up());
    c.peer.send(packet(0x1000, 4, 0x0A04, 5, QByteArray(4, '\0')));
    QTRY_VERIFY(c.owner.log.contains(QStringLiteral("Mode : 0x0a04(Read D32 Error)\n")));
}

void TestTcpThread::crcErrorEndsConnection()
{
    Connection c;
    QVERIFY(c.up());
    QByteArray bad = packet(0x1000, 0, 0x2000, 5);
    bad[3] = char(bad[3] ^ 0x01);
    c.peer.send(packet(0, 0, 0x2000, 6) + bad + packet(0, 0, 0x2000, 7));
    QTRY_COMPARE(c.owner.events, (QStringList{QStringLiteral("connected"), QStringLiteral("error"),
                                              QStringLiteral("closed")}));
    QCOMPARE(c.owner.lastError, QStringLiteral("CRC error"));
    QVERIFY(c.thread->isFinished());
    // Nothing after the corrupted header is taken.
    QVERIFY(!c.owner.log.contains(QStringLiteral("ID : 0x07")));
    // Commands queued on an ended connection are never sent and the queue is emptied on destruction.
    auto *cmd = new TarnixCmd;
    c.thread->setCmd(cmd);
    QCOMPARE(c.thread->queuedCount(), 1);
    QTest::qWait(30);
    QVERIFY(c.peer.received().isEmpty());
}

void TestTcpThread::refusedConnection()
{
    quint16 port;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        port = probe.serverPort();
    }
    Owner owner;
    {
        QTcpThread thread(QStringLiteral("127.0.0.1"), port, &owner);
        thread.setParam(128, 255, 1000, 8, 1024, 0);
        thread.start();
        QTRY_VERIFY(owner.events.contains(QStringLiteral("error")));
        QVERIFY(thread.wait(5000));
        QCoreApplication::processEvents();
    }
    QCOMPARE(owner.events, QStringList{QStringLiteral("error")});
    QVERIFY(owner.lastError.contains(QStringLiteral("refused"), Qt::CaseInsensitive));

    // A later connect uses a new thread and works.
    Connection c;
    QVERIFY(c.up());
}

void TestTcpThread::remoteCloseKeepsLastReports()
{
    Connection c;
    QVERIFY(c.up());
    QByteArray burst;
    for (quint32 k = 0; k < 200; ++k)
        burst += seqReport(k);
    c.peer.send(burst);
    c.peer.closeClient();
    QTRY_VERIFY(c.owner.events.contains(QStringLiteral("closed")));
    QCOMPARE(c.owner.events, (QStringList{QStringLiteral("connected"), QStringLiteral("error"),
                                          QStringLiteral("closed")}));
    QVERIFY(c.owner.lastError.contains(QStringLiteral("closed"), Qt::CaseInsensitive));
    QCOMPARE(c.owner.log.count(QStringLiteral("ID : 0x05")), 200);
    QVERIFY(c.owner.log.contains(QStringLiteral("[0x00002000]:00 00 00 c7 \n")));
}

void TestTcpThread::stopWhileConnecting()
{
    HangingListener hang;
    if (!hang.ok())
        QSKIP("cannot make a listener that leaves connects pending");
    Owner owner;
    QTcpThread thread(QStringLiteral("127.0.0.1"), hang.port(), &owner);
    thread.setParam(128, 255, 1000, 8, 1024, 0);
    thread.start();
    QTest::qWait(100);
    if (thread.isFinished())
        QSKIP("the loopback connect did not stay pending here");
    QElapsedTimer t;
    t.start();
    thread.stop();
    // The connect wait is sliced: a stop ends it well before its 3000 ms bound.
    QVERIFY2(t.elapsed() < 2000, qPrintable(QString::number(t.elapsed())));
    QCoreApplication::processEvents();
    QVERIFY(owner.events.isEmpty()); // a stop asked for by the user is not an error, and never connected
}

void TestTcpThread::stopIsQuietAndClosed()
{
    Connection c;
    QVERIFY(c.up());
    c.thread->stop();
    QTRY_COMPARE(c.owner.events, (QStringList{QStringLiteral("connected"), QStringLiteral("closed")}));
}

void TestTcpThread::floodArrivesInOrder()
{
    Connection c(128, 255, 4096);
    QVERIFY(c.up());
    const int n = 20000;
    QByteArray burst;
    for (int k = 0; k < n; ++k)
        burst += seqReport(quint32(k));
    for (int off = 0; off < burst.size(); off += 65536)
        c.peer.send(burst.mid(off, 65536));
    QTRY_VERIFY_WITH_TIMEOUT(c.owner.log.count(QStringLiteral("ID : 0x05")) == n, 30000);
    QVERIFY(c.owner.logDeliveries > 1);
    static const QRegularExpression row(QStringLiteral("\\[0x00002000\\]:([0-9a-f]{2}) ([0-9a-f]{2}) ([0-9a-f]{2}) ([0-9a-f]{2}) \n"));
    int expected = 0;
    for (auto it = row.globalMatch(c.owner.log); it.hasNext(); ++expected) {
        const auto m = it.next();
        const int k = QString(m.captured(1) + m.captured(2) + m.captured(3) + m.captured(4)).toInt(nullptr, 16);
        QCOMPARE(k, expected);
    }
    QCOMPARE(expected, n);
}

void TestTcpThread::slowWindowLosesNothing()
{
    // The window does not run its event loop for a while: the worker must wait for its five
    // lent strings and its mailbox to come back rather than drop or overwrite them.
    Connection c(128, 255, 64);
    QVERIFY(c.up());
    QByteArray burst;
    for (quint32 k = 0; k < 300; ++k)
        burst += seqReport(k) + packet(0, 1, 0x0000, quint8(0x80 + (k % 4)), QByteArray(1, char(k)));
    c.peer.send(burst);
    QThread::msleep(300); // the window is busy: no events processed
    QTRY_VERIFY_WITH_TIMEOUT(c.owner.responses.size() == 300, 20000);
    QTRY_COMPARE(c.owner.log.count(QStringLiteral("ID : 0x05")), 300);
    for (int k = 0; k < 300; ++k)
        QCOMPARE(c.owner.responses.at(k), QByteArray(1, char(k)));
}

void TestTcpThread::waitingLogsOnePerPass()
{
    // Every report is a log string of its own. While the window is busy, all five strings fill
    // and wait; afterwards they must reach the window one per pass of its event loop (so it can
    // repaint between them), all of them, in order; an error ends the pacing and flushes first.
    Connection c(128, 255, 64);
    QTimer pass;
    pass.setInterval(0);
    QObject::connect(&pass, &QTimer::timeout, [&] { ++c.owner.passes; });
    pass.start();
    QVERIFY(c.up());
    QByteArray burst;
    for (quint32 k = 0; k < 40; ++k)
        burst += seqReport(k);
    c.peer.send(burst);
    QThread::msleep(300); // the window is busy: no events processed
    QTRY_COMPARE_WITH_TIMEOUT(c.owner.log.count(QStringLiteral("ID : 0x05")), 40, 20000);
    for (int i = 1; i < c.owner.appendPasses.size(); ++i)
        QVERIFY2(c.owner.appendPasses.at(i) > c.owner.appendPasses.at(i - 1),
                 qPrintable(QStringLiteral("strings %1 and %2 arrived in one pass").arg(i - 1).arg(i)));
    qsizetype at = 0;
    for (quint32 k = 0; k < 40; ++k) {
        const QString row = QStringLiteral("[0x00002000]:%1 \n").arg(QString::fromLatin1(seqReport(k).right(4).toHex(' ')));
        at = c.owner.log.indexOf(row, at);
        QVERIFY2(at >= 0, qPrintable(row));
    }

    // Three reports (fewer than the strings, so the worker never waits) and a broken header, all
    // while the window is busy: the log is complete when the error arrives.
    QByteArray tail;
    for (quint32 k = 40; k < 43; ++k)
        tail += seqReport(k);
    QByteArray bad = packet(0, 1, 0, 0x05);
    bad[11] = char(bad.at(11) ^ 0x5A);
    c.peer.send(tail + bad);
    QThread::msleep(300);
    QTRY_VERIFY_WITH_TIMEOUT(c.owner.events.contains(QStringLiteral("error")), 10000);
    QCOMPARE(c.owner.lastError, QStringLiteral("CRC error"));
    QCOMPARE(c.owner.log.count(QStringLiteral("ID : 0x05")), 43);
    QCOMPARE(c.owner.logSizeAtError, int(c.owner.log.size()));
}

void TestTcpThread::destroyWithDeliveriesPending()
{
    Owner owner;
    ScriptedPeer peer;
    auto *thread = new QTcpThread(QStringLiteral("127.0.0.1"), peer.port(), &owner);
    thread->setParam(128, 255, 64, 8, 1024, 0);
    thread->start();
    QTRY_VERIFY(owner.events.contains(QStringLiteral("connected")) && peer.hasClient());
    QByteArray burst;
    for (quint32 k = 0; k < 50; ++k)
        burst += seqReport(k) + packet(0, 1, 0x0000, 0x80, "x");
    peer.send(burst);
    QThread::msleep(100); // deliveries pile up in the queue, undelivered
    delete thread;         // stops the worker; the queued relays die with the object
    const int before = owner.logDeliveries + int(owner.responses.size());
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    QCOMPARE(owner.logDeliveries + int(owner.responses.size()), before);
    // closed() was emitted to the window and is still delivered.
    QTRY_VERIFY(owner.events.contains(QStringLiteral("closed")));
}

QTEST_GUILESS_MAIN(TestTcpThread)
#include "tst_tcpthread.moc"
