#pragma once

#include "simconfig.h"
#include "simmemory.h"
#include "simregisters.h"
#include "simstatus.h"
#include "simwire.h"

#include <QMutex>
#include <QRandomGenerator>
#include <QVector>

#include <atomic>
#include <functional>

// One RBCP request as it arrived, for tests that check a client's block splitting and retries.
struct SimRbcpRequest
{
    quint32 address = 0;
    quint8 length = 0;
    quint8 id = 0;
    bool write = false;
    quint8 command = 0; // byte 1 of the request as sent
    int size = 0;       // whole datagram, header included
    qint64 arrivedNs = 0; // monotonic clock when the request was logged
};

struct SimCounters
{
    quint64 commandsAnswered = 0;   // TCP command responses sent
    quint64 crcErrors = 0;          // connections closed for a bad command header CRC
    quint64 connectionsAccepted = 0;
    quint64 reportsSent = 0;
    quint64 rbcpRequests = 0;       // RBCP datagrams of at least 8 bytes
    quint64 rbcpRepliesDropped = 0; // replies withheld by the drop fault
    quint64 coreResets = 0;         // writes of the reset bit to the control register
};

// Everything the module knows, shared between its sockets and a test's thread: the VME memory,
// the register space, the fault switches, the counters and the request log. Every member
// function may be called from any thread.
class SimState
{
public:
    explicit SimState(const SimConfig &config);

    // Called once the sockets are bound: the settings block and the live port register
    // describe the ports really in use.
    void setListeningPorts(quint16 tcpPort, quint16 udpPort);

    bool verbose() const { return m_verbose; }
    void log(const QString &line) const;    // only with verbose
    void notice(const QString &line) const; // always, on stderr

    // TCP command channel: carries out one command on the VME memory and returns the status
    // bits; *readData receives the bytes of a read (zeros when it failed).
    quint16 execute(const SimWire::Header &command, const QByteArray &writeData, QByteArray *readData);
    // The same for any VME access, the instructions of a running program included: an
    // interrupt acknowledge returns `vector`, and `origin` names the access in the trace.
    quint16 carryOut(const SimWire::Header &access, const QByteArray &writeData, QByteArray *readData,
                     quint32 vector, const char *origin);

    QByteArray readVme(int addressMode, quint32 address, int size) const;
    bool writeVme(int addressMode, quint32 address, const QByteArray &bytes);
    void setUnmapped(const QVector<SimUnmapped> &ranges);
    void addUnmapped(const SimUnmapped &range);
    QVector<SimUnmapped> unmapped() const;
    void setInterruptVector(quint32 vector);
    quint32 interruptVector() const;

    // RBCP register space; false means the reply carries the bus error flag.
    bool rbcpRead(quint32 address, int size, QByteArray *out);
    bool rbcpWrite(quint32 address, const QByteArray &data);
    QByteArray readRegisters(quint32 address, int size) const; // empty when not mapped
    bool writeRegisters(quint32 address, const QByteArray &data); // ignores write protect
    bool writeProtected() const;
    // Called (on the writer's thread) after every register write that touches the event enable
    // mask; an empty function stops the calls. Once this returns, the old one is no longer running.
    void setEnableListener(std::function<void()> listener);

    SimFaults faults() const;
    void setFaults(const SimFaults &faults); // also restarts the drop sequence from its seed
    bool takeDropDecision();                 // true: withhold this reply

    void recordRbcpRequest(const SimRbcpRequest &request);
    QVector<SimRbcpRequest> rbcpRequests() const;
    void clearRbcpRequests();

    SimCounters counters() const;
    void countCommand() { ++m_commands; }
    void countCrcError() { ++m_crcErrors; }
    void countConnection() { ++m_connections; }
    void countReports(quint64 n) { m_reports += n; }

private:
    bool vmeRangeMapped(int addressMode, quint64 address, quint64 size) const;
    bool slavesCover(int addressMode, quint64 address, quint64 size) const;
    void enableMaybeWritten(quint32 address, int size);

    const bool m_verbose;
    mutable QMutex m_mutex;
    SimVmeMemory m_memory;
    SimRegisters m_registers;
    QVector<SimUnmapped> m_unmapped;
    const QVector<SimVmeRange> m_slaves;
    SimStatusRegisters m_status;
    quint32 m_vector = 0;
    SimFaults m_faults;
    QRandomGenerator m_dropRandom;
    QVector<SimRbcpRequest> m_requests;
    QMutex m_listenerMutex;
    std::function<void()> m_enableListener;

    std::atomic<quint64> m_commands{0};
    std::atomic<quint64> m_crcErrors{0};
    std::atomic<quint64> m_connections{0};
    std::atomic<quint64> m_reports{0};
    std::atomic<quint64> m_rbcpRequests{0};
    std::atomic<quint64> m_dropped{0};
    std::atomic<quint64> m_resets{0};

    // Oldest entries of the request log are dropped beyond this, so a long run stays bounded.
    static constexpr int MaxLoggedRequests = 1 << 16;
};
