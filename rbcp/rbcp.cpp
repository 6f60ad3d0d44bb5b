#include "rbcp.h"

#include <QStringList>
#include <QDeadlineTimer>
#include <QUdpSocket>

#include <cstring>

namespace {
constexpr uchar VersionType = 0xFF;
constexpr uchar ReadCommand = 0xC0;
constexpr uchar WriteCommand = 0x80;
constexpr uchar BusErrorFlag = 0x01;
constexpr int HeaderSize = 8;
constexpr int ReplyBusError = -4;
constexpr int ReplyTimedOut = -5;

QString hex8(uint value)
{
    return QStringLiteral("%1").arg(value, 8, 16, QLatin1Char('0'));
}
} // namespace

QRbcp::QRbcp(QObject *parent) : QThread(parent)
{
    qRegisterMetaType<RbcpProgress>();
}

QRbcp::~QRbcp()
{
    stop();
    delete socket;
}

bool QRbcp::SetIpAddress(const QHostAddress &address, quint16 udp)
{
    if (address == hostAddress && udp == udpPort)
        return false;
    hostAddress = address;
    udpPort = udp;
    return true;
}

void QRbcp::SetIpAddress(const QHostAddress &address, quint16 udp, quint16 tcp)
{
    hostAddress = address;
    udpPort = udp;
    tcpPort = tcp;
}

void QRbcp::start(Priority priority)
{
    if (isRunning())
        return;
    abortFlag = false;
    QThread::start(priority);
}

void QRbcp::Abort()
{
    abortFlag = true;
}

void QRbcp::stop()
{
    Abort();
    if (QThread::currentThread() == this)
        return; // called from inside the run: the flag is all it takes
    while (isRunning())
        wait(WaitSliceMs);
}

void QRbcp::closeSocket()
{
    emit closed(succeeded);
}

void QRbcp::SetTimeout(int seconds)
{
    if (seconds > 0)
        waitCount = seconds * (1000 / WaitSliceMs);
}

void QRbcp::SetRetry(int retries)
{
    if (retries > 0)
        attempts = retries + 1;
}

void QRbcp::SetWaitCount(int slices)
{
    if (slices > 0)
        waitCount = slices;
}

int QRbcp::Read(uint address, char *buffer)
{
    return read(address, buffer, 1);
}

uint QRbcp::Read(uint address, char *buffer, uint length)
{
    const uint block = qBound(1u, blockSize, 255u);
    for (uint offset = 0; offset < length;) {
        const uint part = qMin(block, length - offset);
        const int got = read(address + offset, buffer ? buffer + offset : nullptr, uchar(part));
        if (got != int(part))
            return offset;
        offset += part;
    }
    return length;
}

uint QRbcp::ReadAll(uint address, char *buffer, uint length)
{
    const uint got = Read(address, buffer, length);
    if (got != length) {
        errorText += QStringLiteral("address: 0x%1\n").arg(hex8(address));
        errorText += QStringLiteral("request length: %1\n").arg(length);
        errorText += QStringLiteral("read length: %1\n\n").arg(got);
        throw ReadFailed;
    }
    return got;
}

bool QRbcp::Read(uint address, quint16 &value)
{
    uchar bytes[2] = {0, 0};
    if (Read(address, reinterpret_cast<char *>(bytes), 2) == 0)
        return false;
    value = quint16((bytes[0] << 8) | bytes[1]);
    return true;
}

int QRbcp::Write(uint address, char value)
{
    return write(address, &value, 1);
}

uint QRbcp::Write(uint address, const char *data, uint length)
{
    const uint block = qBound(1u, blockSize, 255u);
    for (uint offset = 0; offset < length;) {
        const uint part = qMin(block, length - offset);
        const int put = write(address + offset, data + offset, uchar(part));
        if (put != int(part))
            return offset;
        offset += part;
    }
    return length;
}

uint QRbcp::WriteAll(uint address, const char *data, uint length)
{
    const uint put = Write(address, data, length);
    if (put != length)
        throw WriteFailed;
    return put;
}

QString QRbcp::errorLine() const
{
    // The text is laid out for a message box.
    QStringList lines = errorText.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (QString &line : lines)
        line = line.trimmed();
    return lines.join(QStringLiteral("; "));
}

void QRbcp::strError(ErrSts code)
{
    switch (code) {
    case Aborted:
        errorText += QStringLiteral("QRbcp: Aborted");
        break;
    case WriteFailed:
        errorText += QStringLiteral("QRbcp: Unable to write");
        break;
    case ReadFailed:
        errorText += QStringLiteral("QRbcp: Unable to read");
        break;
    case BusError:
        errorText += QStringLiteral("QRbcp: Bus Error");
        break;
    case TimedOut:
        errorText += QStringLiteral("QRbcp: Socket operation timed out");
        break;
    case SocketFailed:
    default:
        if (socket)
            errorText += socket->errorString();
        else
            errorText += QStringLiteral("QRbcp: No socket");
        break;
    }
}

int QRbcp::setReadCmd(uint address, uchar length)
{
    const uchar id = getId();
    packet.resize(HeaderSize);
    uchar *p = reinterpret_cast<uchar *>(packet.data());
    p[0] = VersionType;
    p[1] = ReadCommand;
    p[2] = id;
    p[3] = length;
    p[4] = uchar(address >> 24);
    p[5] = uchar(address >> 16);
    p[6] = uchar(address >> 8);
    p[7] = uchar(address);
    return id;
}

int QRbcp::read(uint address, char *buffer, uchar length)
{
    for (int attempt = 0; attempt < attempts; ++attempt) {
        noteRequest(address, attempt + 1);
        const int reply = commRBCP(setReadCmd(address, length));
        if (reply == ReplyBusError) {
            appendAccessFailure("read", address, length);
            throw BusError;
        }
        if (reply == ReplyTimedOut)
            continue;
        // The reply may be shorter or longer than asked: take no more than both allow.
        const int count = qMin(reply - HeaderSize, int(length));
        if (buffer && count > 0)
            std::memcpy(buffer, packet.constData() + HeaderSize, size_t(count));
        noteAnswered(qMax(count, 0));
        return qMax(count, 0);
    }
    appendAccessFailure("read", address, length);
    throw TimedOut;
}

int QRbcp::setWriteCmd(uint address, const char *data, uchar length)
{
    const int id = setReadCmd(address, length);
    packet[1] = char(WriteCommand);
    if (length)
        packet.append(data, length);
    return id;
}

int QRbcp::write(uint address, const char *data, uchar length)
{
    for (int attempt = 0; attempt < attempts; ++attempt) {
        noteRequest(address, attempt + 1);
        const int reply = commRBCP(setWriteCmd(address, data, length));
        if (reply == ReplyBusError) {
            appendAccessFailure("write", address, length);
            throw BusError;
        }
        if (reply == ReplyTimedOut)
            continue;
        noteAnswered(length);
        return length;
    }
    appendAccessFailure("write", address, length);
    throw TimedOut;
}

bool QRbcp::startUDP()
{
    errorText.clear();
    succeeded = false;
    if (socket)
        return true;
    if (hostAddress.isNull())
        return false;
    socket = new QUdpSocket;
    socket->connectToHost(hostAddress, udpPort, QIODevice::ReadWrite);
    return true;
}

int QRbcp::commRBCP(int id)
{
    if (abortFlag)
        throw Aborted;
    if (!socket || socket->write(packet) <= 0)
        throw SocketFailed;
    if (attemptMs > 0)
        return awaitReply(id);
    if (waitCount <= 0)
        return ReplyTimedOut;

    for (int waits = 0;;) {
        if (abortFlag)
            throw Aborted;
        if (!socket->hasPendingDatagrams())
            socket->waitForReadyRead(WaitSliceMs);
        if (socket->hasPendingDatagrams()) {
            const qint64 pending = socket->pendingDatagramSize();
            packet.resize(qMax<qint64>(pending, 0));
            const qint64 got = socket->readDatagram(packet.data(), packet.size());
            packet.resize(qMax<qint64>(got, 0));
            if (got < HeaderSize)
                throw SocketFailed;
            const uchar *reply = reinterpret_cast<const uchar *>(packet.constData());
            if (id < 0)
                return int(got);
            if (reply[2] == id)
                return (reply[1] & BusErrorFlag) ? ReplyBusError : int(got);
            // A late reply to an earlier request: drop it, it costs one wait.
        }
        if (++waits >= waitCount)
            return ReplyTimedOut;
    }
}

int QRbcp::awaitReply(int id)
{
    const QDeadlineTimer deadline(attemptMs);
    for (;;) {
        if (abortFlag)
            throw Aborted;
        if (!socket->hasPendingDatagrams())
            socket->waitForReadyRead(int(qBound(qint64(0), deadline.remainingTime(), qint64(WaitSliceMs))));
        while (socket->hasPendingDatagrams()) {
            packet.resize(qMax<qint64>(socket->pendingDatagramSize(), 0));
            const qint64 got = socket->readDatagram(packet.data(), packet.size());
            if (got < 0)
                break;
            packet.resize(got);
            // Too short for a reply's header: not the module's answer, whoever sent it.
            if (got < HeaderSize)
                continue;
            const uchar *reply = reinterpret_cast<const uchar *>(packet.constData());
            if (id < 0)
                return int(got);
            if (reply[2] == id)
                return (reply[1] & BusErrorFlag) ? ReplyBusError : int(got);
            // A late reply to an earlier request: dropped, the attempt keeps its time.
        }
        if (deadline.hasExpired())
            return ReplyTimedOut;
    }
}

uchar QRbcp::getId()
{
    rbcpId = uchar(rbcpId + 1);
    if (rbcpId >= 128)
        rbcpId = 0;
    return rbcpId;
}

void QRbcp::appendAccessFailure(const char *direction, uint address, uint length)
{
    errorText += QStringLiteral("%1 address: 0x%2\n").arg(QLatin1String(direction), hex8(address));
    errorText += QStringLiteral("length: %1\n\n").arg(length);
}

void QRbcp::beginProgress(RbcpProgress::Step step, qint64 total)
{
    const quint64 sequence = progressState.sequence;
    progressState = RbcpProgress();
    progressState.step = step;
    progressState.total = total;
    progressState.attempts = attempts;
    progressState.sequence = sequence;
    publishProgress();
}

void QRbcp::setProgressStep(RbcpProgress::Step step)
{
    progressState.step = step;
}

void QRbcp::noteRequest(quint32 address, int attempt)
{
    progressState.address = address;
    progressState.attempt = attempt;
    progressState.attempts = attempts;
    if (attempt > 1)
        publishProgress(); // the request before got no answer
}

void QRbcp::noteAnswered(qint64 bytes)
{
    progressState.done += bytes;
    progressState.attempt = 1;
    publishProgress();
}

void QRbcp::noteFailed()
{
    progressState.failed = true;
    publishProgress();
}

void QRbcp::publishProgress()
{
    ++progressState.sequence;
    {
        QMutexLocker lock(&progressMutex);
        published = progressState;
    }
    emit progress(progressState);
}

RbcpProgress QRbcp::progressNow() const
{
    QMutexLocker lock(&progressMutex);
    return published;
}
