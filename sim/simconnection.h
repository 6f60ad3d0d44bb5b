#pragma once

#include "simconfig.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class QTcpSocket;
class SimState;

// One client on the TCP command channel: cuts the incoming stream into commands, answers each
// one, and sends report bursts. Every packet leaves through sendPacket(), which applies the
// packet-counting faults (corrupted CRC, close after N) and the one-byte-at-a-time mode.
// Output is kept bounded: commands are not taken from the socket, and no reports are built,
// while more than HighWater bytes wait to be written.
class SimConnection : public QObject
{
    Q_OBJECT
public:
    SimConnection(QTcpSocket *socket, SimState *state, QObject *parent = nullptr);
    ~SimConnection() override;

    // Starts (or restarts, numbering from 0 again) a report burst on this connection.
    void startReports(const SimReportBurst &burst);
    void stopReports();
    bool reportsRunning() const { return m_reportsActive; }

    // Sends one whole packet (header with CRC, then data). False once the connection is closing.
    bool sendPacket(QByteArray packet);

    // Closes after what is already queued has been written.
    void close();

    // Bytes handed to the connection that the peer has not taken yet (socket buffer and the
    // byte-at-a-time queue); stays near HighWater however slowly the peer reads.
    qint64 pendingBytes() const { return outstanding(); }

    static constexpr qint64 HighWater = 256 * 1024;
    static constexpr int ChunkBytes = 64 * 1024;

signals:
    void finished();
    void reportsFinished(qint64 sent);

private:
    void onReadyRead();
    void onBytesWritten();
    void onDisconnected();
    void trickleOneByte();
    void processInput();
    void answer(const QByteArray &header, const QByteArray &data);
    void pumpReports();
    void finishReports();
    // The detector channels of the burst into the data of report k.
    void writeChannels(char *data, qint64 k) const;
    void output(const QByteArray &bytes);
    void stampPacket(char *packet);
    bool muted() const;
    qint64 outstanding() const;
    void beginClose();
    void closeWhenDrained();
    void refreshFaults();

    QTcpSocket *m_socket;
    SimState *m_state;
    SimFaults m_faults;
    QString m_peer;

    QByteArray m_rx;
    int m_rxPos = 0;

    qint64 m_packetsSent = 0;
    bool m_closeRequested = false;
    bool m_closing = false;
    bool m_done = false;

    QByteArray m_trickle;
    int m_tricklePos = 0;
    QTimer m_trickleTimer;
    QTimer m_abortTimer;

    bool m_reportsActive = false;
    SimReportBurst m_burst;
    QByteArray m_reportTemplate;
    qint64 m_reportsSent = 0;
    QElapsedTimer m_reportClock;
    QTimer m_reportTimer;
};
