#include "tcpthread.h"

#include "modeword.h"
#include "reporttext.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHostAddress>
#include <QMetaMethod>
#include <QMutexLocker>
#include <QTcpSocket>
#include <QTimer>

namespace {
constexpr int ConnectTimeoutMs = 3000;
constexpr int ConnectSliceMs = 20;
constexpr int ReadWaitMs = 20;
// How often the report counts reach the shared rates.
constexpr int RatesMergeMs = 100;

void connectToOwner(QObject *sender, const char *signal, QObject *owner, const char *slot)
{
    // The owner is the main window; a test may give a plain object without these slots.
    const QByteArray normalized = QMetaObject::normalizedSignature(slot + 1);
    if (owner->metaObject()->indexOfSlot(normalized.constData()) >= 0)
        QObject::connect(sender, signal, owner, slot);
}
} // namespace

QTcpThread::QTcpThread(const QString &host, quint16 port, QObject *parent)
    : QThread(parent), owner(parent), host(host), port(port)
{
    while (logPool.size() < PoolSize)
        logPool.append(QString());

    qRegisterMetaType<QAbstractSocket::SocketError>();
    qRegisterMetaType<quint8>("quint8");
    qRegisterMetaType<quint16>("quint16");

    // The relays are queued even though sender and receiver are this object: the worker
    // emits them, and the receiving slot must run on the window's thread.
    connect(this, &QTcpThread::relayResponse, this, &QTcpThread::deliverResponse, Qt::QueuedConnection);
    connect(this, &QTcpThread::relayLog, this, &QTcpThread::deliverLog, Qt::QueuedConnection);
    connect(this, &QTcpThread::relayError, this, &QTcpThread::deliverError, Qt::QueuedConnection);
    logPacer.setInterval(0);
    connect(&logPacer, &QTimer::timeout, this, &QTcpThread::appendNextLog);

    if (owner) {
        connectToOwner(this, SIGNAL(connected()), owner, SLOT(startTcp()));
        connectToOwner(this, SIGNAL(closed()), owner, SLOT(stopped()));
        connectToOwner(this, SIGNAL(error(QString *)), owner, SLOT(displayError(QString *)));
        connectToOwner(this, SIGNAL(received(quint8, quint16, QByteArray *)), owner,
                       SLOT(received(quint8, quint16, QByteArray *)));
        connectToOwner(this, SIGNAL(appendLog(QString *)), owner, SLOT(appendLog(QString *)));
    }
}

QTcpThread::~QTcpThread()
{
    stop();
    QMutexLocker lock(&queueMutex);
    qDeleteAll(queue);
    queue.clear();
}

quint8 QTcpThread::crcCal(quint8 crc, quint8 byte)
{
    return KelvoPacket::crcStep(crc, byte);
}

void QTcpThread::setParam(quint8 idLow_, quint8 idHigh_, int logThreshold_, int readBufferKB_, int readMax_,
                          int sleepMs_)
{
    idLow = idLow_;
    idHigh = idHigh_;
    logThreshold = logThreshold_;
    readBufferKB = qMax(readBufferKB_, 0); // 0: no limit; below it the socket would never read
    readMax = readMax_;
    sleepMs = sleepMs_ > 0 ? static_cast<unsigned long>(sleepMs_) : 0;
}

void QTcpThread::setCmd(TarnixCmd *cmd)
{
    QMutexLocker lock(&queueMutex);
    queue.append(cmd);
}

int QTcpThread::queuedCount()
{
    QMutexLocker lock(&queueMutex);
    return int(queue.size());
}

void QTcpThread::abort()
{
    stopRequested.storeRelease(1);
}

void QTcpThread::stop()
{
    userStop.storeRelease(1);
    abort();
    wait();
}

void QTcpThread::sleepThread(unsigned long ms)
{
    if (ms)
        QThread::msleep(ms);
}

QString QTcpThread::errorString()
{
    QMutexLocker lock(&errorMutex);
    if (errorCode == 2)
        errorText = QStringLiteral("CRC error");
    else
        errorText = socket ? socket->errorString() : QString();
    return errorText;
}

void QTcpThread::onError()
{
    onError(QAbstractSocket::UnknownSocketError);
}

void QTcpThread::onError(QAbstractSocket::SocketError err)
{
    {
        QMutexLocker lock(&errorMutex);
        if (!errorText.isEmpty())
            return; // only the first error of a run is reported
    }
    // The short read waits time out all the time while the socket is up. The same code comes
    // with a keep-alive or retransmission time-out, but then the socket is no longer connected.
    if (err == QAbstractSocket::SocketTimeoutError && socket && socket->state() == QAbstractSocket::ConnectedState)
        return;
    errorString();
    if (stopRequested.loadAcquire())
        return; // a stop that the user asked for is not an error
    // Ended from outside, not by a broken header: what arrived before the end is still parsed.
    if (connectedFlag.loadAcquire() && errorCode != 2)
        connectionLost = true;
    emit relayError();
    abort();
}

void QTcpThread::run()
{
    while (logPool.size() < PoolSize)
        logPool.append(QString());
    mailbox.clear();
    {
        QMutexLocker lock(&errorMutex);
        errorText.clear();
    }
    stopRequested.storeRelease(userStop.loadAcquire());
    connectedFlag.storeRelease(0);
    connectionLost = false;
    draining = false;

    socket = new QTcpSocket;
    socket->setReadBufferSize(readBufferKB * 1024);
    connect(socket, &QAbstractSocket::errorOccurred, this,
            qOverload<QAbstractSocket::SocketError>(&QTcpThread::onError), Qt::DirectConnection);
    socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    socket->connectToHost(QHostAddress(host), port, QIODevice::ReadWrite);

    // Wait for the connection in short slices so that a stop is seen while connecting.
    if (socket->state() != QAbstractSocket::ConnectedState &&
        socket->state() != QAbstractSocket::UnconnectedState) {
        QEventLoop loop;
        QTimer tick;
        QElapsedTimer elapsed;
        elapsed.start();
        connect(socket, &QAbstractSocket::connected, &loop, &QEventLoop::quit);
        connect(socket, &QAbstractSocket::errorOccurred, &loop, &QEventLoop::quit);
        connect(&tick, &QTimer::timeout, &loop, [&] {
            if (stopRequested.loadAcquire() || elapsed.elapsed() >= ConnectTimeoutMs)
                loop.quit();
        });
        tick.start(ConnectSliceMs);
        loop.exec();
        if (socket->state() == QAbstractSocket::ConnectingState ||
            socket->state() == QAbstractSocket::HostLookupState) {
            if (stopRequested.loadAcquire())
                socket->abort();
            else
                socket->waitForConnected(0); // ends the attempt with the socket's own time-out error
        }
    }

    if (socket->state() != QAbstractSocket::ConnectedState) {
        onError(socket->error());
        socket->close();
        delete socket;
        socket = nullptr;
        return;
    }

    emit connected();
    rxBuffer.clear();
    connectedFlag.storeRelease(1);
    errorCode = 0;
    {
        QMutexLocker lock(&errorMutex);
        errorText.clear();
    }
    while (!stopRequested.loadAcquire()) {
        if (!recv()) {
            onError();
            break;
        }
    }

    // The module may close right after its last reports: parse what it sent before the end.
    if (connectionLost && !userStop.loadAcquire())
        drainAfterRemoteClose();
    publishRates(true);

    socket->close();
    delete socket;
    socket = nullptr;
    {
        QMutexLocker lock(&queueMutex);
        qDeleteAll(queue);
        queue.clear();
    }
    emit closed();
}

bool QTcpThread::sendCmd()
{
    for (;;) {
        TarnixCmd *cmd = nullptr;
        {
            QMutexLocker lock(&queueMutex);
            if (queue.isEmpty())
                return true;
            cmd = queue.first();
        }
        const QByteArray packet = cmd->toPacket();
        const qint64 written = socket->write(packet);
        if (written < packet.size()) {
            errorCode = 3;
            return false;
        }
        socket->flush();
        {
            QMutexLocker lock(&queueMutex);
            queue.removeFirst();
        }
        delete cmd;
    }
}

bool QTcpThread::recv()
{
    if (stopRequested.loadAcquire())
        return false;
    if (!sendCmd())
        return false;
    // Bytes already buffered by the socket are parsed at once instead of after another wait.
    if (socket->bytesAvailable() == 0)
        socket->waitForReadyRead(ReadWaitMs);
    if (socket->state() != QAbstractSocket::ConnectedState) {
        // Closed, reset or timed out, reported or not: every later wait would return at once.
        onError(socket->error());
        return false;
    }
    if (stopRequested.loadAcquire())
        return false;
    if (!sendCmd())
        return false;
    const bool recording = recorderActive.loadAcquire() != 0;
    if (recording != recordingApplied) {
        // While recording, the socket buffers whatever the module sends and every pass takes it all.
        socket->setReadBufferSize(recording ? 0 : readBufferKB * 1024);
        recordingApplied = recording;
    }
    rxBuffer.append(socket->read(readMax > 0 && !recording ? readMax : socket->bytesAvailable()));
    const bool ok = takePackets();
    publishRates(false);
    return ok;
}

void QTcpThread::publishRates(bool force)
{
    if (!rates && !observer)
        return;
    if (!force && sinceMerge.isValid() && sinceMerge.elapsed() < RatesMergeMs)
        return;
    sinceMerge.start();
    if (observer)
        observer->publish();
    if (!rates)
        return;
    rates->merge(tally, QDateTime::currentMSecsSinceEpoch(), force);
}

void QTcpThread::drainAfterRemoteClose()
{
    draining = true;
    if (socket->isReadable())
        rxBuffer.append(socket->readAll());
    takePackets();
    draining = false;
}

bool QTcpThread::keepWaiting()
{
    if (draining)
        return !userStop.loadAcquire();
    return !stopRequested.loadAcquire() && sendCmd();
}

bool QTcpThread::checkBuf()
{
    if (!mailboxLent.loadAcquire())
        return true;
    while (keepWaiting()) {
        // Never spin: with -s 0 a busy worker would starve the window on a small machine.
        sleepThread(sleepMs ? sleepMs : 1);
        if (!mailboxLent.loadAcquire())
            return true;
    }
    return false;
}

QString *QTcpThread::getBuffer()
{
    for (;;) {
        for (int i = 0; i < PoolSize; ++i) {
            if (!poolLent[i].loadAcquire())
                return &logPool[i];
        }
        if (!keepWaiting())
            return nullptr;
        sleepThread(sleepMs ? sleepMs : 1);
    }
}

int QTcpThread::poolIndex(const QString *s) const
{
    for (int i = 0; i < PoolSize; ++i) {
        if (&logPool.at(i) == s)
            return i;
    }
    return -1;
}

void QTcpThread::handOverLog(QString *s)
{
    const int i = poolIndex(s);
    poolLent[i].storeRelease(1);
    emit relayLog(i);
}

bool QTcpThread::dumpLog()
{
    if (rxBuffer.pending() < KelvoPacket::HeaderSize)
        return true;
    QString *current = getBuffer();
    if (!current)
        return false;
    if (rates)
        tally.setTime(QDateTime::currentMSecsSinceEpoch());

    // A packet is taken only once it is delivered: whatever ends this pass (a stop, a broken
    // header, the module's close), the packets before that point reach the window once, and
    // the rest stays for the drain after a close.
    bool ok = true;
    for (;;) {
        if (!draining && (stopRequested.loadAcquire() || !sendCmd())) {
            ok = false;
            break;
        }
        kelvo_vme_master_header header;
        const char *data = nullptr;
        int dataSize = 0;
        const KelvoPacket::Frame frame = rxBuffer.peek(header, data, dataSize);
        if (frame == KelvoPacket::Frame::CrcError) {
            tally.countCrcError();
            errorCode = 2;
            ok = false;
            break;
        }
        if (frame == KelvoPacket::Frame::Incomplete)
            break;

        if (idLow <= header.id && header.id <= idHigh) {
            if (!checkBuf()) {
                ok = false;
                break;
            }
            mailbox = QByteArray(data, dataSize);
            rxBuffer.take(dataSize);
            mailboxLent.storeRelease(1);
            emit relayResponse(header.id, header.mode);
            sleepThread(sleepMs);
        } else {
            tally.count(header, data, dataSize);
            if (observer)
                observer->observe(header, data, dataSize);
            ReportText::appendReport(header, data, dataSize, *current);
            rxBuffer.take(dataSize);
            if (current->size() > logThreshold) {
                handOverLog(current);
                sleepThread(sleepMs);
                current = getBuffer();
                if (!current)
                    return false;
            }
        }
    }

    if (!current->isEmpty())
        handOverLog(current);
    sleepThread(sleepMs);
    return ok;
}

void QTcpThread::dumpVmeHeader(const kelvo_vme_master_header &header, QString &out)
{
    ReportText::dumpVmeHeader(header, out);
}

void QTcpThread::dumpPacket(const char *data, int count, QString &out, quint32 address)
{
    ReportText::dumpPacket(data, count, out, address);
}

void QTcpThread::deliverResponse(quint8 id, quint16 mode)
{
    emit received(id, mode, &mailbox);
    mailbox.clear();
    mailboxLent.storeRelease(0);
}

void QTcpThread::deliverLog(int index)
{
    waitingLogs.append(index);
    if (!logPacer.isActive()) {
        // The first of a run goes at once; the pacer holds back any that follow in this pass.
        appendNextLog();
        logPacer.start();
    }
}

void QTcpThread::appendNextLog()
{
    if (waitingLogs.isEmpty()) {
        logPacer.stop();
        return;
    }
    const int index = waitingLogs.takeFirst();
    QString &s = logPool[index];
    emit appendLog(&s);
    s.clear();
    poolLent[index].storeRelease(0);
}

void QTcpThread::flushLog()
{
    while (!waitingLogs.isEmpty())
        appendNextLog();
    logPacer.stop();
}

void QTcpThread::deliverError()
{
    flushLog();
    emit error(&errorText);
}
