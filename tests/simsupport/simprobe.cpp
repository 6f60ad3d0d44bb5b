#include "simprobe.h"

#include <QDeadlineTimer>
#include <QHostAddress>
#include <QNetworkDatagram>

namespace SimProbe {

QByteArray command(quint32 address, quint8 length, quint16 mode, quint8 id, const QByteArray &data)
{
    SimWire::Header h;
    h.address = address;
    h.length = length;
    h.mode = mode;
    h.id = id;
    return SimWire::packet(h, data);
}

QByteArray rbcpRead(quint8 id, quint32 address, quint8 length)
{
    QByteArray d = QByteArray::fromHex("ffc0") + char(id) + char(length) + QByteArray(4, '\0');
    SimWire::writeBe32(d.data() + 4, address);
    return d;
}

QByteArray rbcpWrite(quint8 id, quint32 address, const QByteArray &data)
{
    QByteArray d = rbcpRead(id, address, quint8(data.size()));
    d[1] = char(0x80);
    return d + data;
}

bool Tcp::connectTo(quint16 port, int ms)
{
    m_socket.connectToHost(QHostAddress(QHostAddress::LocalHost), port);
    return m_socket.waitForConnected(ms);
}

bool Tcp::send(const QByteArray &bytes)
{
    if (m_socket.write(bytes) != bytes.size())
        return false;
    while (m_socket.bytesToWrite() > 0) {
        if (!m_socket.waitForBytesWritten(WaitMs))
            return false;
    }
    return true;
}

QByteArray Tcp::read(int n, int ms)
{
    QDeadlineTimer deadline(ms);
    QByteArray out;
    while (out.size() < n) {
        if (m_socket.bytesAvailable() > 0) {
            out.append(m_socket.read(n - out.size()));
            continue;
        }
        if (deadline.hasExpired() || m_socket.state() != QAbstractSocket::ConnectedState)
            break;
        m_socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
    }
    return out;
}

bool Tcp::readPacket(SimWire::Header *header, QByteArray *data, int ms)
{
    QDeadlineTimer deadline(ms);
    const QByteArray head = read(SimWire::HeaderSize, ms);
    if (head.size() != SimWire::HeaderSize || !SimWire::headerCrcOk(head.constData()))
        return false;
    *header = SimWire::parseHeader(head.constData());
    const int size = SimWire::carriesData(header->mode) ? int(header->length & 0xFF) : 0;
    *data = read(size, int(qMax<qint64>(1, deadline.remainingTime())));
    return data->size() == size;
}

bool Tcp::exchange(const QByteArray &command, SimWire::Header *header, QByteArray *data)
{
    return send(command) && readPacket(header, data);
}

bool Tcp::waitClosed(int ms)
{
    QDeadlineTimer deadline(ms);
    while (m_socket.state() == QAbstractSocket::ConnectedState && !deadline.hasExpired()) {
        m_socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
        m_socket.readAll();
    }
    return m_socket.state() != QAbstractSocket::ConnectedState;
}

Udp::Udp()
{
    m_socket.bind(QHostAddress(QHostAddress::LocalHost), 0);
}

bool Udp::send(const QByteArray &datagram, quint16 port)
{
    return m_socket.writeDatagram(datagram, QHostAddress(QHostAddress::LocalHost), port) == datagram.size();
}

QByteArray Udp::receive(int ms)
{
    QDeadlineTimer deadline(ms);
    while (!m_socket.hasPendingDatagrams()) {
        if (deadline.hasExpired())
            return QByteArray();
        m_socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
    }
    return m_socket.receiveDatagram().data();
}

QByteArray Udp::exchange(const QByteArray &datagram, quint16 port, int ms)
{
    return send(datagram, port) ? receive(ms) : QByteArray();
}

} // namespace SimProbe
