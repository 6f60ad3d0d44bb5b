#include "simrbcp.h"

#include "simstate.h"
#include "simwire.h"

#include <QNetworkDatagram>
#include <QTimer>

SimRbcpServer::SimRbcpServer(SimState *state, QObject *parent)
    : QObject(parent), m_state(state), m_socket(this)
{
    connect(&m_socket, &QUdpSocket::readyRead, this, &SimRbcpServer::onReadyRead);
}

bool SimRbcpServer::bind(const QHostAddress &address, quint16 port, QString *error)
{
    if (m_socket.bind(address, port))
        return true;
    *error = m_socket.errorString();
    return false;
}

QByteArray SimRbcpServer::reply(const QByteArray &request)
{
    if (request.size() < 8) {
        m_state->log(QStringLiteral("rbcp datagram of %1 bytes ignored").arg(request.size()));
        return QByteArray();
    }
    const quint8 version = quint8(request[0]);
    const quint8 command = quint8(request[1]);
    const quint8 length = quint8(request[3]);
    const quint32 address = SimWire::readBe32(request.constData() + 4);
    const bool write = command == CmdWrite;

    SimRbcpRequest seen;
    seen.address = address;
    seen.length = length;
    seen.id = quint8(request[2]);
    seen.write = write;
    seen.command = command;
    seen.size = int(request.size());
    m_state->recordRbcpRequest(seen);

    QByteArray data;
    bool ok = false;
    if (version != Version || (command != CmdRead && command != CmdWrite) || length == 0) {
        m_state->log(QStringLiteral("rbcp request %1 %2 length %3 refused")
                         .arg(version, 2, 16, QLatin1Char('0'))
                         .arg(command, 2, 16, QLatin1Char('0'))
                         .arg(length));
    } else {
        bool forced = false;
        for (const SimRange &r : m_state->faults().rbcpBusErrors)
            forced = forced || r.overlaps(address, length);
        if (forced) {
            m_state->log(QStringLiteral("fault: forced bus error at 0x%1").arg(address, 8, 16, QLatin1Char('0')));
        } else if (!write) {
            ok = m_state->rbcpRead(address, length, &data);
        } else if (request.size() >= 8 + length) {
            // Bytes beyond the announced length are ignored.
            data = request.mid(8, length);
            // A register that does not take what is written keeps its old bytes.
            for (const SimRange &r : m_state->faults().rbcpLostWrites) {
                for (int i = 0; i < data.size(); ++i) {
                    QByteArray old;
                    if (r.overlaps(quint64(address) + i, 1) && m_state->rbcpRead(address + i, 1, &old))
                        data[i] = old.at(0);
                }
            }
            ok = m_state->rbcpWrite(address, data);
        } else {
            m_state->log(QStringLiteral("rbcp write of %1 bytes carries only %2").arg(length).arg(request.size() - 8));
        }
    }

    QByteArray out = request.left(8);
    out[1] = char(command | FlagAck | (ok ? 0 : FlagBusError));
    if (ok)
        out.append(data);
    return out;
}

void SimRbcpServer::onReadyRead()
{
    while (m_socket.hasPendingDatagrams()) {
        const QNetworkDatagram datagram = m_socket.receiveDatagram();
        const QByteArray request = datagram.data();
        QByteArray answer = reply(request);
        if (answer.isEmpty())
            continue;
        const int id = quint8(answer[2]);
        int staleId = m_previousId;
        if (staleId < 0 || staleId == id)
            staleId = (id + 255) & 0xFF;
        m_previousId = id;

        const SimFaults faults = m_state->faults();
        if (m_state->takeDropDecision()) {
            m_state->log(QStringLiteral("fault: reply to rbcp id %1 dropped").arg(id));
            continue;
        }
        QList<QByteArray> datagrams;
        if (faults.rbcpStaleId) {
            // A late reply to the previous request: its ID, and data that a client taking it by
            // mistake would show wrong (every byte inverted).
            QByteArray stale = answer;
            stale[2] = char(staleId);
            for (int i = 8; i < stale.size(); ++i)
                stale[i] = char(~quint8(stale[i]));
            datagrams.append(stale);
        }
        datagrams.append(answer);
        send(datagrams, datagram.senderAddress(), quint16(datagram.senderPort()), faults.rbcpDelayMs);
    }
}

void SimRbcpServer::send(const QList<QByteArray> &datagrams, const QHostAddress &to, quint16 port, int delayMs)
{
    auto write = [this, datagrams, to, port]() {
        for (const QByteArray &d : datagrams)
            m_socket.writeDatagram(d, to, port);
    };
    if (delayMs > 0)
        QTimer::singleShot(delayMs, this, write);
    else
        write();
}
