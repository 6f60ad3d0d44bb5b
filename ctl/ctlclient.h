#pragma once

#include "packet.h"

#include <QByteArray>
#include <QString>
#include <QTcpSocket>

// A blocking client of the module's TCP command channel, on the calling thread: a command costs
// one write and the reads of its response. Packets of another ID that arrive in between are the
// reports of programs the module runs; a command exchange skips them.
class CtlTcpClient
{
public:
    enum class Result { Ok, TimedOut, Closed, CrcError };

    explicit CtlTcpClient(int timeoutMs) : timeoutMs(timeoutMs) {}

    bool connectTo(const QString &host, quint16 port);
    // Sends one command packet and waits for the packet that carries id.
    Result exchange(const QByteArray &packet, quint8 id, kelvo_vme_master_header &header,
                    QByteArray &data);
    // The next whole packet of the stream, waiting at most waitMs for more bytes.
    Result next(kelvo_vme_master_header &header, QByteArray &data, int waitMs);

    // Reads what the socket has, waiting at most waitMs for something to arrive; false when
    // nothing came (time-out or the peer closed: see isOpen).
    bool fill(int waitMs);
    bool isOpen() const { return socket.state() == QAbstractSocket::ConnectedState; }
    // The packets received and not yet taken.
    PacketStream &stream() { return packets; }
    QString errorString() const { return socket.errorString(); }

private:
    QTcpSocket socket;
    PacketStream packets;
    int timeoutMs;
};
