#include "commandclient.h"

#include "tarnixcmd.h"

bool CommandClient::connectTo(const QString &host, quint16 port)
{
    socket.connectToHost(host, port);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    return true;
}

bool CommandClient::fill(QDeadlineTimer deadline)
{
    if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(int(deadline.remainingTime()))) {
        // Bytes may still sit in the socket's buffer after the peer closed.
        if (socket.bytesAvailable() == 0)
            return false;
    }
    packets.append(socket.readAll());
    return true;
}

CommandClient::Result CommandClient::next(Packet &packet, QDeadlineTimer deadline)
{
    for (;;) {
        int dataSize = 0;
        const char *bytes = nullptr;
        switch (packets.peek(packet.header, bytes, dataSize)) {
        case KelvoPacket::Frame::Complete:
            packet.data = QByteArray(bytes, dataSize);
            packets.take(dataSize);
            return Result::Ok;
        case KelvoPacket::Frame::CrcError:
            return Result::CrcError;
        case KelvoPacket::Frame::Incomplete:
            break;
        }
        // Bytes keep coming while programs report: the deadline is checked before every wait,
        // not only when the socket is quiet.
        if (deadline.hasExpired() || !fill(deadline))
            return isOpen() ? Result::TimedOut : Result::Closed;
    }
}

bool CommandClient::answers(const kelvo_vme_master_header &header, quint8 id, quint16 mode)
{
    return header.id == id && (header.mode & ~StatusBits) == (mode & ~StatusBits);
}

CommandClient::Result CommandClient::send(const TarnixCmd &cmd, QDeadlineTimer deadline)
{
    return send(QList<TarnixCmd>{cmd}, deadline);
}

CommandClient::Result CommandClient::send(const QList<TarnixCmd> &cmds, QDeadlineTimer deadline)
{
    QByteArray packets;
    for (TarnixCmd copy : cmds)
        packets += copy.toPacket();
    if (socket.write(packets) != packets.size())
        return Result::Closed;
    while (socket.bytesToWrite() > 0) {
        if (deadline.hasExpired() || !socket.waitForBytesWritten(int(deadline.remainingTime())))
            return isOpen() ? Result::TimedOut : Result::Closed;
    }
    for (const TarnixCmd &cmd : cmds) {
        Q_ASSERT(!waiting.contains(cmd.id));
        waiting.insert(cmd.id, cmd.mode);
    }
    return Result::Ok;
}

CommandClient::Result CommandClient::answer(Packet &packet, QDeadlineTimer deadline)
{
    for (;;) {
        const Result r = next(packet, deadline);
        if (r != Result::Ok)
            return r;
        const auto it = waiting.constFind(packet.header.id);
        if (it != waiting.constEnd() && answers(packet.header, it.key(), it.value())) {
            waiting.erase(it);
            return Result::Ok;
        }
        ++skipped;
    }
}

CommandClient::Result CommandClient::exchange(const TarnixCmd &cmd, Packet &packet)
{
    const QDeadlineTimer deadline(timeoutMs);
    const Result r = send(cmd, deadline);
    return r == Result::Ok ? answer(packet, deadline) : r;
}
