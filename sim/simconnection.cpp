#include "simconnection.h"

#include "simstate.h"
#include "simwire.h"

#include <QTcpSocket>

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

// Bytes taken from the kernel at once; the socket's own read buffer is kept at this size so a
// client that sends faster than it reads is slowed down by TCP itself.
constexpr int ReadChunk = 64 * 1024;
// A closing connection whose peer does not take the last bytes is cut off after this.
constexpr int CloseGraceMs = 5000;

} // namespace

SimConnection::SimConnection(QTcpSocket *socket, SimState *state, QObject *parent)
    : QObject(parent), m_socket(socket), m_state(state)
{
    m_socket->setParent(this);
    m_socket->setReadBufferSize(ReadChunk);
    m_peer = QStringLiteral("%1:%2").arg(m_socket->peerAddress().toString()).arg(m_socket->peerPort());
    refreshFaults();

    m_trickleTimer.setTimerType(Qt::PreciseTimer);
    m_reportTimer.setTimerType(Qt::PreciseTimer);
    m_abortTimer.setSingleShot(true);
    connect(&m_trickleTimer, &QTimer::timeout, this, &SimConnection::trickleOneByte);
    connect(&m_reportTimer, &QTimer::timeout, this, &SimConnection::pumpReports);
    connect(&m_abortTimer, &QTimer::timeout, m_socket, &QTcpSocket::abort);
    connect(m_socket, &QTcpSocket::readyRead, this, &SimConnection::onReadyRead);
    connect(m_socket, &QTcpSocket::bytesWritten, this, &SimConnection::onBytesWritten);
    connect(m_socket, &QTcpSocket::disconnected, this, &SimConnection::onDisconnected);
    m_state->log(QStringLiteral("tcp connection from %1").arg(m_peer));
}

SimConnection::~SimConnection()
{
    // Without this the socket, a child, would emit disconnected() into a half-destroyed object.
    disconnect(m_socket, nullptr, this, nullptr);
}

void SimConnection::refreshFaults()
{
    m_faults = m_state->faults();
}

qint64 SimConnection::outstanding() const
{
    return m_socket->bytesToWrite() + (m_trickle.size() - m_tricklePos);
}

void SimConnection::onReadyRead()
{
    processInput();
}

void SimConnection::onBytesWritten()
{
    processInput();
    pumpReports();
}

void SimConnection::onDisconnected()
{
    if (m_done)
        return;
    m_done = true;
    m_closing = true;
    m_trickleTimer.stop();
    m_reportTimer.stop();
    m_abortTimer.stop();
    m_state->log(QStringLiteral("tcp connection from %1 closed").arg(m_peer));
    emit finished();
}

void SimConnection::processInput()
{
    if (m_closing) {
        m_socket->readAll(); // a closing connection ignores what still arrives
        return;
    }
    refreshFaults();
    using namespace SimWire;
    while (!m_closing && outstanding() < HighWater) {
        const char *p = m_rx.constData() + m_rxPos;
        const int available = int(m_rx.size()) - m_rxPos;
        if (available >= HeaderSize) {
            if (!headerCrcOk(p)) {
                m_state->countCrcError();
                m_state->notice(QStringLiteral("header CRC mismatch from %1; closing that connection")
                                    .arg(m_peer));
                m_rx.clear();
                m_rxPos = 0;
                beginClose();
                return;
            }
            const Header h = parseHeader(p);
            const int dataSize = commandDataSize(h);
            if (available >= HeaderSize + dataSize) {
                const QByteArray header(p, HeaderSize);
                const QByteArray data(p + HeaderSize, dataSize);
                m_rxPos += HeaderSize + dataSize;
                answer(header, data);
                continue;
            }
        }
        if (m_socket->bytesAvailable() <= 0)
            break;
        if (m_rxPos > 0) {
            m_rx.remove(0, m_rxPos);
            m_rxPos = 0;
        }
        m_rx.append(m_socket->read(ReadChunk));
    }
}

void SimConnection::answer(const QByteArray &headerBytes, const QByteArray &data)
{
    using namespace SimWire;
    const Header command = parseHeader(headerBytes.constData());
    QByteArray readData;
    const quint16 status = m_state->execute(command, data, &readData);

    Header response = command;
    response.mode = quint16((command.mode & ~StatusMask) | status);
    const bool carries = carriesData(response.mode);
    const int size = int(command.length & 0xFF);
    // The low byte of the length word counts the data bytes that follow; a response without
    // data says 0 there, so the stream stays framed whatever the peer makes of it.
    response.length = (command.length & ~quint32(0xFF)) | quint32(carries ? size : 0);
    QByteArray payload;
    if (carries)
        payload = isWrite(command.mode) ? data : readData;
    m_state->countCommand();
    if (m_faults.tcpNoAnswers)
        return;
    sendPacket(packet(response, payload));
}

bool SimConnection::muted() const
{
    return m_faults.tcpMuteAfterPackets > 0 && m_packetsSent >= m_faults.tcpMuteAfterPackets;
}

void SimConnection::stampPacket(char *packet)
{
    ++m_packetsSent;
    if (m_faults.tcpCorruptCrcPacket > 0 && m_packetsSent == m_faults.tcpCorruptCrcPacket) {
        packet[SimWire::HeaderSize - 1] = char(~quint8(packet[SimWire::HeaderSize - 1]));
        m_state->log(QStringLiteral("fault: packet %1 to %2 leaves with a bad CRC")
                         .arg(m_packetsSent).arg(m_peer));
    }
    if (m_faults.tcpCloseAfterPackets > 0 && m_packetsSent >= m_faults.tcpCloseAfterPackets)
        m_closeRequested = true;
}

bool SimConnection::sendPacket(QByteArray packet)
{
    if (m_closing || packet.size() < SimWire::HeaderSize)
        return false;
    refreshFaults();
    if (muted())
        return true; // a module that hangs: the packet never leaves
    stampPacket(packet.data());
    output(packet);
    if (m_closeRequested)
        beginClose();
    return true;
}

void SimConnection::output(const QByteArray &bytes)
{
    const bool trickling = m_faults.tcpByteAtATime || m_tricklePos < m_trickle.size();
    if (!trickling) {
        m_socket->write(bytes);
        return;
    }
    // Packets already queued byte by byte keep their place even if the switch goes off.
    m_trickle.append(bytes);
    if (!m_trickleTimer.isActive()) {
        m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        m_trickleTimer.start(std::max(0, m_faults.tcpByteIntervalMs));
    }
}

void SimConnection::trickleOneByte()
{
    if (m_tricklePos < m_trickle.size()) {
        m_socket->write(m_trickle.constData() + m_tricklePos, 1);
        m_socket->flush();
        ++m_tricklePos;
    }
    if (m_tricklePos >= m_trickle.size()) {
        m_trickle.clear();
        m_tricklePos = 0;
        m_trickleTimer.stop();
        if (m_closing)
            closeWhenDrained();
        else {
            processInput();
            pumpReports();
        }
    } else if (m_tricklePos >= ChunkBytes) {
        m_trickle.remove(0, m_tricklePos);
        m_tricklePos = 0;
    }
}

void SimConnection::close()
{
    beginClose();
}

void SimConnection::beginClose()
{
    if (m_closing)
        return;
    m_closing = true;
    m_reportTimer.stop();
    if (m_reportsActive) {
        m_reportsActive = false;
        emit reportsFinished(m_reportsSent);
    }
    m_abortTimer.start(CloseGraceMs);
    if (m_tricklePos >= m_trickle.size())
        closeWhenDrained();
    // otherwise the trickle timer closes once its last byte is out
}

void SimConnection::closeWhenDrained()
{
    m_state->log(QStringLiteral("closing tcp connection from %1 after %2 packets")
                     .arg(m_peer).arg(m_packetsSent));
    // Writes what the socket still holds, then closes.
    m_socket->disconnectFromHost();
}

void SimConnection::startReports(const SimReportBurst &burst)
{
    if (m_closing)
        return;
    using namespace SimWire;
    m_burst = burst;
    m_burst.items = std::clamp(burst.items, 1, 63);
    const int dataBytes = m_burst.items * 4;

    Header h;
    h.address = burst.address;
    h.length = (quint32(burst.level & 0x7) << 29) | (burst.polling ? (1u << 28) : 0u)
        | (quint32(burst.flowId & 0xFFF) << 16) | quint32(dataBytes);
    // A "Read" of D32 items, or the same read without echo when the report has no data.
    h.mode = quint16((2 << 10) | ((burst.addressMode & 0x3) << 8));
    if (!burst.withData)
        h.mode |= ModeNoEcho;
    h.id = burst.id;
    m_reportTemplate = packet(h, burst.withData ? QByteArray(dataBytes, '\0') : QByteArray());

    m_reportsSent = 0;
    m_reportsActive = true;
    m_reportClock.start();
    if (m_burst.rate > 0)
        m_reportTimer.start(std::clamp(1000 / m_burst.rate, 1, 10));
    else
        m_reportTimer.stop();
    m_state->log(QStringLiteral("report burst to %1: id=%2 count=%3 rate=%4/s items=%5%6")
                     .arg(m_peer).arg(burst.id).arg(burst.count).arg(burst.rate).arg(m_burst.items)
                     .arg(burst.withData ? QString() : QStringLiteral(" (no data)")));
    pumpReports();
}

void SimConnection::stopReports()
{
    if (!m_reportsActive)
        return;
    m_reportTimer.stop();
    finishReports();
}

void SimConnection::finishReports()
{
    m_reportsActive = false;
    m_reportTimer.stop();
    emit reportsFinished(m_reportsSent);
}

void SimConnection::writeChannels(char *data, qint64 k) const
{
    for (const SimChannel &c : m_burst.channels)
        if (c.item < m_burst.items)
            SimWire::writeBe32(data + 4 * c.item, simChannelValue(c, m_burst.channelSeed, quint64(k)));
}

void SimConnection::pumpReports()
{
    if (!m_reportsActive || m_closing)
        return;
    refreshFaults();
    const int packetSize = int(m_reportTemplate.size());
    const qint64 perChunk = std::max(1, ChunkBytes / packetSize);
    while (outstanding() < HighWater && !muted()) {
        qint64 n = m_burst.count > 0 ? m_burst.count - m_reportsSent : std::numeric_limits<qint64>::max();
        if (n <= 0) {
            finishReports();
            return;
        }
        n = std::min(n, perChunk);
        if (m_burst.rate > 0) {
            const qint64 due = 1 + qint64(double(m_burst.rate) * double(m_reportClock.nsecsElapsed()) / 1e9);
            n = std::min(n, due - m_reportsSent);
            if (n <= 0)
                return; // the timer brings the next ones
        }
        if (m_faults.tcpCloseAfterPackets > 0)
            n = std::max<qint64>(1, std::min(n, m_faults.tcpCloseAfterPackets - m_packetsSent));
        if (m_faults.tcpMuteAfterPackets > 0)
            n = std::min(n, m_faults.tcpMuteAfterPackets - m_packetsSent);

        QByteArray chunk(int(n) * packetSize, Qt::Uninitialized);
        char *p = chunk.data();
        for (qint64 i = 0; i < n; ++i, p += packetSize) {
            std::memcpy(p, m_reportTemplate.constData(), size_t(packetSize));
            if (m_burst.withData)
                SimWire::writeBe32(p + SimWire::HeaderSize, quint32(m_reportsSent + i));
            if (m_burst.withData)
                writeChannels(p + SimWire::HeaderSize, m_reportsSent + i);
            stampPacket(p);
        }
        output(chunk);
        m_reportsSent += n;
        m_state->countReports(quint64(n));
        if (m_closeRequested) {
            beginClose();
            return;
        }
    }
    // The rest follows once the peer has taken some of what is queued (bytesWritten).
}
