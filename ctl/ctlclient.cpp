#include "ctlclient.h"

#include <QDeadlineTimer>

bool CtlTcpClient::connectTo(const QString &host, quint16 port)
{
    socket.connectToHost(host, port);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    return true;
}

bool CtlTcpClient::fill(int waitMs)
{
    if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(waitMs)) {
        // Bytes may still sit in the socket's buffer after the peer closed.
        if (socket.bytesAvailable() == 0)
            return false;
    }
    packets.append(socket.readAll());
    return true;
}

CtlTcpClient::Result CtlTcpClient::next(kelvo_vme_master_header &header, QByteArray &data,
                                        int waitMs)
{
    QDeadlineTimer deadline(waitMs);
    for (;;) {
        int dataSize = 0;
        const char *bytes = nullptr;
        switch (packets.peek(header, bytes, dataSize)) {
        case KelvoPacket::Frame::Complete:
            data = QByteArray(bytes, dataSize);
            packets.take(dataSize);
            return Result::Ok;
        case KelvoPacket::Frame::CrcError:
            return Result::CrcError;
        case KelvoPacket::Frame::Incomplete:
            break;
        }
        if (!fill(int(qMax<qint64>(0, deadline.remainingTime()))))
            return isOpen() ? Result::TimedOut : Result::Closed;
    }
}

CtlTcpClient::Result CtlTcpClient::exchange(const QByteArray &packet, quint8 id,
                                            kelvo_vme_master_header &header, QByteArray &data)
{
    if (socket.write(packet) != packet.size())
        return Result::Closed;
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(timeoutMs))
            return isOpen() ? Result::TimedOut : Result::Closed;
    }
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        const Result r = next(header, data, int(qMax<qint64>(0, deadline.remainingTime())));
        if (r != Result::Ok || header.id == id)
            return r;
    }
}
