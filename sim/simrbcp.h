#pragma once

#include <QHostAddress>
#include <QObject>
#include <QUdpSocket>

class SimState;

// The network core's RBCP responder: one reply datagram per request, carrying the request's
// header with the acknowledge bit (and the bus error bit when the access was refused), then the
// bytes read, or the bytes written echoed back. Datagrams shorter than a request header get no
// reply; an unknown version/type or command byte gets a bus error reply.
class SimRbcpServer : public QObject
{
    Q_OBJECT
public:
    explicit SimRbcpServer(SimState *state, QObject *parent = nullptr);

    bool bind(const QHostAddress &address, quint16 port, QString *error);
    quint16 port() const { return m_socket.localPort(); }
    void close() { m_socket.close(); }

    static constexpr quint8 Version = 0xFF;
    static constexpr quint8 CmdRead = 0xC0;
    static constexpr quint8 CmdWrite = 0x80;
    static constexpr quint8 FlagAck = 0x08;
    static constexpr quint8 FlagBusError = 0x01;

    // Carries out one request datagram and returns its reply, or an empty array when none is due.
    QByteArray reply(const QByteArray &request);

private:
    void onReadyRead();
    void send(const QList<QByteArray> &datagrams, const QHostAddress &to, quint16 port, int delayMs);

    SimState *m_state;
    QUdpSocket m_socket;
    int m_previousId = -1;
};
