#include "scriptedpeer.h"
#include "tcpthread.h"
#include "testpacket.h"

#include <QSemaphore>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <sys/socket.h>

namespace {

const QString Sep = QString(63, QLatin1Char('-')) + QLatin1Char('\n');

QString bare(const char *lines) { return Sep + QLatin1String(lines) + Sep; }

QString seqRow(quint32 k)
{
    return QStringLiteral("[0x00002000]:%1 \n").arg(QString::fromLatin1(numberedReport(k).right(4).toHex(' ')));
}

} // namespace

// Stands in for the main window: the slots the thread connects to by name.
class Owner : public QObject
{
    Q_OBJECT
public:
    QStringList events;
    QStringList responses; // "id mode data" in hex
    QString log;
    QString lastError;
    int passes = 0;          // advanced by a zero timer: one per pass of the event loop
    QList<int> appendPasses; // the pass in which each log string arrived
    int logSizeAtError = -1;

public slots:
    void startTcp() { events << QStringLiteral("connected"); }
    void stopped() { events << QStringLiteral("closed"); }
    void displayError(QString *text) { lastError = *text, logSizeAtError = int(log.size()), events << "error"; }
    void received(quint8 id, quint16 mode, QByteArray *buf)
    {
        responses << QStringLiteral("%1 %2 %3").arg(id, 2, 16, QLatin1Char('0')).arg(mode, 4, 16, QLatin1Char('0'))
                         .arg(QString::fromLatin1(buf->toHex()));
        buf->clear();
    }
    void appendLog(QString *text) { log += *text, appendPasses << passes, text->clear(); }
};

namespace {

const QStringList Connected{QStringLiteral("connected")};
const QStringList Ended{QStringLiteral("connected"), QStringLiteral("error"), QStringLiteral("closed")};

// Does to its own socket, on the worker thread, what the network can do to a live connection.
class FailingThread : public QTcpThread
{
public:
    using QTcpThread::QTcpThread;
    QAtomicInt armed{0};
    bool dropSocket = false;
    int error = -1; // emitted by the socket; -1 none

protected:
    bool sendCmd() override
    {
        if (armed.testAndSetOrdered(1, 0)) {
            if (dropSocket)
                socket->abort();
            if (error >= 0)
                emit socket->errorOccurred(QAbstractSocket::SocketError(error));
        }
        return QTcpThread::sendCmd();
    }
};

template <class Thread = QTcpThread> struct Connection
{
    Owner owner;
    ScriptedPeer peer;
    Thread *thread;

    explicit Connection(int lo = 128, int hi = 255, int threshold = 131072)
        : thread(new Thread(QStringLiteral("127.0.0.1"), peer.port(), &owner))
    {
        thread->setParam(quint8(lo), quint8(hi), threshold, 8, 1024, 0);
    }
    ~Connection() { delete thread; }
    bool up()
    {
        thread->start();
        return QTest::qWaitFor([this] { return owner.events == Connected && peer.hasClient(); }, 5000);
    }
};

} // namespace

class TestTcpThread : public QObject
{
    Q_OBJECT
private slots:
    void everySplit_data()
    {
        QTest::addColumn<int>("lo");
        QTest::addColumn<int>("hi");
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<QStringList>("responses");
        QTest::addColumn<QString>("log");
        QTest::addColumn<QString>("error");
        const QString worked = bare("Address : 0x00001000\nLength : 1\nPriority Level : 2 (Polling)\nFlow ID : 5\n"
                                    "Mode : 0x0a00(Read D32)\nID : 0x05\n") +
                               QStringLiteral("[0x00001000]:de ad be ef \n") + Sep;
        QTest::newRow("reports around a response")
            << 128 << 255
            << packet(0x1000, 0x50050004, 0x0A00, 5, QByteArray::fromHex("deadbeef")) +
                   packet(0x40, 2, 0x0540, 0x90, QByteArray::fromHex("beef")) + packet(0x44, 0x30000007, 0x2834, 7)
            << QStringList{QStringLiteral("90 0540 beef")}
            << worked + bare("Address : 0x00000044\nLength : 1\nPriority Level : 1 (Polling)\nFlow ID : 0\n"
                             "Mode : 0x2834(INTR Error)\nID : 0x07\n")
            << QString();
        QTest::newRow("D16 write error interrupt, a full row")
            << 128 << 255 << packet(0xABCDEF01, 0xEFFF0010, 0xC545, 0x7F, QByteArray::fromHex("000102030405060708090a0b0c0d0e0f"))
            << QStringList()
            << bare("Address : 0xabcdef01\nLength : 8\nPriority Level : 7 (Interrupt)\nFlow ID : 4095\n"
                    "Mode : 0xc545(Write D16 Error)\nID : 0x7f\n") +
                   QStringLiteral("[0xabcdef01]:00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f\n") + Sep
            << QString();
        QTest::newRow("D8 parameter error, length bits 15-8 ignored, rows wrap the address")
            << 128 << 255 << packet(0xFFFFFFF8, 0x1000FF11, 0x0001, 0, QByteArray::fromHex("000102030405060708090a0b0c0d0e0f10"))
            << QStringList()
            << bare("Address : 0xfffffff8\nLength : 17\nPriority Level : 0 (Polling)\nFlow ID : 0\n"
                    "Mode : 0x0001(Read D8 Error)\nID : 0x00\n") +
                   QStringLiteral("[0xfffffff8]:00 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f\n[0x00000008]:10 \n") + Sep
            << QString();
        const char *report = "Address : 0x00000010\nLength : 0\nPriority Level : 0 (Interrupt)\nFlow ID : 0\n"
                             "Mode : 0x2000(Read D8)\nID : 0x%1\n";
        QTest::newRow("ends of the interactive range 100-200, a write without echo has no data")
            << 100 << 200
            << packet(0x10, 0, 0x2000, 99) + packet(0x10, 1, 0, 100, "A") + packet(0x10, 4, 0x8A00, 200) +
                   packet(0x10, 0, 0x2000, 201)
            << QStringList{QStringLiteral("64 0000 41"), QStringLiteral("c8 8a00 ")}
            << bare(report).arg(QStringLiteral("63")) + bare(report).arg(QStringLiteral("c9")) << QString();
        QByteArray broken = packet(0x1000, 0, 0x2000, 5);
        broken[3] = char(broken[3] ^ 0x01);
        QTest::newRow("a broken header ends the stream after what came before it")
            << 128 << 255
            << packet(0x1000, 0x50050004, 0x0A00, 5, QByteArray::fromHex("deadbeef")) + packet(0, 1, 0, 0x80, "A") +
                   broken + packet(0x10, 0, 0x2000, 7)
            << QStringList{QStringLiteral("80 0000 41")} << worked << QStringLiteral("CRC error");
    }

    void everySplit()
    {
        QFETCH(int, lo);
        QFETCH(int, hi);
        QFETCH(QByteArray, stream);
        QFETCH(QStringList, responses);
        QFETCH(QString, log);
        QFETCH(QString, error);
        for (int split = 1; split <= stream.size(); ++split) {
            Connection<> c(lo, hi);
            QVERIFY(c.up());
            c.peer.send(stream.left(split));
            c.peer.send(stream.mid(split));
            const QStringList events = error.isEmpty() ? Connected : Ended;
            // Bounded; the comparisons below tell what differs.
            (void)QTest::qWaitFor(
                [&] { return c.owner.responses == responses && c.owner.log == log && c.owner.events == events; }, 5000);
            QCOMPARE(c.owner.log, log);
            QCOMPARE(c.owner.responses, responses);
            QCOMPARE(c.owner.events, events);
            QCOMPARE(c.owner.lastError, error);
        }
    }

    void connectionLost_data()
    {
        QTest::addColumn<bool>("dropSocket");
        QTest::addColumn<int>("error");
        QTest::addColumn<bool>("ends");
        QTest::newRow("keep-alive time-out") << true << int(QAbstractSocket::SocketTimeoutError) << true;
        QTest::newRow("network error on a live socket") << false << int(QAbstractSocket::NetworkError) << true;
        QTest::newRow("socket gone without a word") << true << -1 << true;
        QTest::newRow("short wait timed out: routine") << false << int(QAbstractSocket::SocketTimeoutError) << false;
    }

    void connectionLost()
    {
        QFETCH(bool, dropSocket);
        QFETCH(int, error);
        QFETCH(bool, ends);
        Connection<FailingThread> c;
        QVERIFY(c.up());
        c.thread->dropSocket = dropSocket;
        c.thread->error = error;
        c.thread->armed.storeRelease(1);
        if (ends) {
            QTRY_COMPARE(c.owner.events, Ended);
            QVERIFY(c.thread->wait(5000));
            QVERIFY(!c.owner.lastError.isEmpty());
            return;
        }
        QTRY_COMPARE(c.thread->armed.loadAcquire(), 0);
        c.peer.send(numberedReport(1));
        QTRY_VERIFY(c.owner.log.contains(seqRow(1)));
        QCOMPARE(c.owner.events, Connected);
    }

    void resetDuringPassDeliversEachPacketOnce()
    {
        // The window runs no events while the module sends two responses and a report: the first
        // response waits in the mailbox. The module then resets the connection, and a command queued
        // meanwhile meets the reset. What was received is still delivered, each packet once.
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        Owner owner;
        QTcpThread thread(QStringLiteral("127.0.0.1"), server.serverPort(), &owner);
        thread.setParam(128, 255, 131072, 8, 1024, 0);
        QSemaphore relayed, failed;
        connect(&thread, &QTcpThread::relayResponse, &thread, [&] { relayed.release(); }, Qt::DirectConnection);
        connect(&thread, &QTcpThread::relayError, &thread, [&] { failed.release(); }, Qt::DirectConnection);
        thread.start();
        QVERIFY(server.waitForNewConnection(5000));
        QTcpSocket *module = server.nextPendingConnection();
        module->write(packet(0, 1, 0, 0x80, "A") + packet(0, 1, 0, 0x81, "B") + numberedReport(7));
        QVERIFY(module->waitForBytesWritten(5000));
        QVERIFY(relayed.tryAcquire(1, 5000));
        const linger reset{1, 0};
        QCOMPARE(::setsockopt(int(module->socketDescriptor()), SOL_SOCKET, SO_LINGER, &reset, sizeof reset), 0);
        module->abort();
        for (int i = 0; i < 20 && !failed.tryAcquire(1, 200); ++i)
            thread.setCmd(new TarnixCmd);
        QTRY_COMPARE(owner.events, Ended);
        QCOMPARE(owner.responses, (QStringList{QStringLiteral("80 0000 41"), QStringLiteral("81 0000 42")}));
        QCOMPARE(owner.log.count(QStringLiteral("ID : 0x05")), 1);
        QVERIFY(owner.log.contains(seqRow(7)));
    }

    void busyWindowLosesNothing()
    {
        // Every report is a log string of its own and the window runs no events for a while: the
        // worker waits for its five strings and its mailbox instead of dropping or overwriting them,
        // and the strings reach the window in order, one per pass of its event loop (so it repaints
        // between them).
        Connection<> c(128, 255, 64);
        QTimer pass;
        pass.setInterval(0);
        QObject::connect(&pass, &QTimer::timeout, [&] { ++c.owner.passes; });
        pass.start();
        QVERIFY(c.up());
        const quint32 n = 300;
        QByteArray burst;
        QStringList responses;
        for (quint32 k = 0; k < n; ++k) {
            burst += numberedReport(k) + packet(0, 1, 0, quint8(0x80 + k % 4), QByteArray(1, char(k)));
            responses << QStringLiteral("%1 0000 %2").arg(0x80 + k % 4, 2, 16).arg(k % 256, 2, 16, QLatin1Char('0'));
        }
        c.peer.send(burst);
        QThread::msleep(300); // the window is busy: no events processed
        QTRY_COMPARE_WITH_TIMEOUT(c.owner.log.count(QStringLiteral("ID : 0x05")), int(n), 20000);
        QTRY_COMPARE(c.owner.responses, responses);
        for (int i = 1; i < c.owner.appendPasses.size(); ++i)
            QVERIFY2(c.owner.appendPasses.at(i) > c.owner.appendPasses.at(i - 1), qPrintable(QString::number(i)));
        qsizetype at = 0;
        for (quint32 k = 0; k < n; ++k) {
            at = c.owner.log.indexOf(seqRow(k), at);
            QVERIFY2(at >= 0, qPrintable(seqRow(k)));
        }

        // Three reports (fewer than the strings, so the worker never waits) and a broken header while
        // the window is busy: the log is complete when the error arrives.
        QByteArray bad = packet(0, 1, 0, 0x05);
        bad[11] = char(bad.at(11) ^ 0x5A);
        c.peer.send(numberedReport(n) + numberedReport(n + 1) + numberedReport(n + 2) + bad);
        QThread::msleep(300);
        QTRY_COMPARE_WITH_TIMEOUT(c.owner.events, Ended, 10000);
        QCOMPARE(c.owner.lastError, QStringLiteral("CRC error"));
        QCOMPARE(c.owner.log.count(QStringLiteral("ID : 0x05")), int(n) + 3);
        QCOMPARE(c.owner.logSizeAtError, int(c.owner.log.size()));
    }
};

QTEST_GUILESS_MAIN(TestTcpThread)
#include "tst_tcpthread.moc"
