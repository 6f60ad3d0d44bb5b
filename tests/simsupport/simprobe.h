#pragma once

#include "simconfig.h"
#include "simwire.h"

#include <QByteArray>
#include <QTcpSocket>
#include <QUdpSocket>

// Blocking peers for talking to the software module from a test. Every wait is bounded; they
// need the module on another thread (TarnixSimThread) or in another process.
namespace SimProbe {

constexpr int WaitMs = 5000;

// The module's defaults, listening on free ports of 127.0.0.1.
inline SimConfig ephemeral()
{
    SimConfig c;
    c.tcpPort = 0;
    c.udpPort = 0;
    return c;
}

// A command packet built from its fields, with a correct header CRC.
QByteArray command(quint32 address, quint8 length, quint16 mode, quint8 id,
                   const QByteArray &data = QByteArray());

// RBCP request datagrams.
QByteArray rbcpRead(quint8 id, quint32 address, quint8 length);
QByteArray rbcpWrite(quint8 id, quint32 address, const QByteArray &data);

class Tcp
{
public:
    bool connectTo(quint16 port, int ms = WaitMs);
    bool send(const QByteArray &bytes);
    // Exactly n bytes, or fewer when the bound ran out or the peer closed.
    QByteArray read(int n, int ms = WaitMs);
    // One packet: the header (false when its CRC is wrong), then data when the mode says the
    // packet carries any.
    bool readPacket(SimWire::Header *header, QByteArray *data, int ms = WaitMs);
    // Sends a command and reads one packet back.
    bool exchange(const QByteArray &command, SimWire::Header *header, QByteArray *data);
    // True once the peer has closed the connection (reading and dropping what still arrives).
    bool waitClosed(int ms = WaitMs);
    QTcpSocket &socket() { return m_socket; }

private:
    QTcpSocket m_socket;
};

class Udp
{
public:
    Udp();
    bool send(const QByteArray &datagram, quint16 port);
    // The next datagram, or an empty array when none came within the bound.
    QByteArray receive(int ms = WaitMs);
    QByteArray exchange(const QByteArray &datagram, quint16 port, int ms = WaitMs);

private:
    QUdpSocket m_socket;
};

} // namespace SimProbe
