#pragma once

#include "simconfig.h"
#include "simstate.h"

#include <QHostAddress>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QThread>
#include <QVector>
#include <QWaitCondition>

#include <atomic>
#include <memory>

class QTcpServer;
class SimConnection;
class SimRbcpServer;
class SimRunner;

// The software module: a TCP command channel and an RBCP responder on one address, with the VME
// memory and the register space behind them. It runs on the event loop of the thread that owns
// it. The accessors that only look at or change the module's state (memory, registers, faults,
// counters, request log) may be called from any thread; those that act on connections
// (startReports, stopReports, broadcastPacket, closeConnections) run on the owning thread and
// block a caller on another thread until done, so that thread's event loop must be running
// (TarnixSimThread provides one).
class TarnixSim : public QObject
{
    Q_OBJECT
public:
    explicit TarnixSim(QObject *parent = nullptr);
    ~TarnixSim() override;

    // Binds both channels (port 0: any free port). Once per object; false with errorString().
    bool start(const SimConfig &config = SimConfig());
    // Closes the listening sockets and every connection; the state stays readable.
    void stop();
    bool isListening() const { return m_listening; }
    QString errorString() const { return m_error; }

    QHostAddress address() const { return m_address; }
    quint16 tcpPort() const { return m_tcpPort; }
    quint16 udpPort() const { return m_udpPort; }

    // VME memory (address mode 0 A16, 1 A24, 2 A32), bypassing unmapped ranges.
    QByteArray readVme(int addressMode, quint32 address, int size) const;
    bool writeVme(int addressMode, quint32 address, const QByteArray &bytes);
    void setUnmapped(const QVector<SimUnmapped> &ranges);
    void addUnmapped(int addressMode, quint32 first, quint32 last);
    QVector<SimUnmapped> unmapped() const;
    void setInterruptVector(quint32 vector);

    // RBCP register space: reads any readable register range (empty when not mapped);
    // writes ignore the write protect and read-only rules (logic, settings block, control).
    QByteArray readRegisters(quint32 address, int size) const;
    bool writeRegisters(quint32 address, const QByteArray &bytes);
    bool writeProtected() const;

    SimFaults faults() const;
    void setFaults(const SimFaults &faults);

    SimCounters counters() const;
    QVector<SimRbcpRequest> rbcpRequests() const;
    void clearRbcpRequests();
    int connectionCount() const { return m_connectionCount; }

    // Starts a report burst on every connected client; returns how many got one.
    int startReports(const SimReportBurst &burst);
    void stopReports();
    // Sends a finished packet (header with CRC, data) to every client; returns how many.
    // This is where a program runner hands its reports.
    int broadcastPacket(const QByteArray &packet);
    void closeConnections();
    // Raises VME interrupt level 1..7 with a vector, as a slave on the bus would. The level stays
    // pending until its interrupt program has run; true when it ran at once (level enabled).
    bool raiseInterrupt(int level, quint8 vector);
    // Output still queued in the module for all clients together.
    qint64 pendingOutputBytes() const;

    // The shared state, for code that runs next to the module (a program runner).
    SimState *state() const { return m_state.get(); }

signals:
    void clientConnected();
    void clientDisconnected();
    void reportsFinished(qint64 sent);

private:
    void onNewConnection();
    QVector<QPointer<SimConnection>> connectionsSnapshot() const;
    template <typename F>
    auto onOwnThread(F function) const -> decltype(function());

    std::unique_ptr<SimState> m_state;
    QTcpServer *m_tcp = nullptr;
    SimRbcpServer *m_rbcp = nullptr;
    SimRunner *m_runner = nullptr;
    QVector<QPointer<SimConnection>> m_connections;
    std::atomic<int> m_connectionCount{0};
    bool m_started = false;
    std::atomic<bool> m_listening{false};
    bool m_reportsOnConnect = false;
    SimReportBurst m_connectReports;
    std::shared_ptr<const SimRun> m_replay;
    double m_replaySpeed = 1;
    QString m_error;
    QHostAddress m_address;
    quint16 m_tcpPort = 0;
    quint16 m_udpPort = 0;
};

// Runs a TarnixSim on a thread of its own, so a test whose main thread blocks (a modal dialog,
// a blocking socket call) still gets answers. sim() is valid between a successful startSim()
// and stopSim(); its accessors may be called from any thread.
class TarnixSimThread : public QThread
{
    Q_OBJECT
public:
    explicit TarnixSimThread(QObject *parent = nullptr);
    ~TarnixSimThread() override;

    // Starts the thread and waits until both channels listen (or failed).
    bool startSim(const SimConfig &config = SimConfig());
    void stopSim();
    TarnixSim *sim() const;
    QString errorString() const;

protected:
    void run() override;

private:
    SimConfig m_config;
    mutable QMutex m_mutex;
    QWaitCondition m_ready;
    bool m_started = false;
    bool m_ok = false;
    QString m_error;
    TarnixSim *m_sim = nullptr;
};
