#pragma once

#include "simconfig.h"

#include <QByteArray>
#include <QObject>
#include <QTimer>

#include <array>

class SimState;
class TarnixSim;

// The VME master's program sequencer: runs the programs in the program memory as the module
// does. Writing the event enable mask at 4 starts and stops the events; the polling program
// runs on its timer, an interrupt program when its level is raised (and enabled), and the
// program that the vector table names for the vector its interrupt acknowledge returned.
// Every instruction is one VME access on the module's memory and one report to every client.
// Lives on the module's thread; every member runs there.
class SimRunner : public QObject
{
    Q_OBJECT
public:
    // The program memory map, as register addresses.
    static constexpr int EnableAddress = 4;
    static constexpr int PollLevelAddress = 6;
    static constexpr int IntervalAddress = 12;
    static constexpr int StartTableAddress = 16;
    static constexpr int CountTableAddress = 24;
    static constexpr int VectorTableAddress = 1024;
    static constexpr int ImageAddress = 2048;

    // Polling intervals are whole milliseconds, at least this many, so that a tiny interval
    // cannot starve the module's sockets.
    static constexpr int MinimumIntervalMs = 1;
    // A run that falls due while the clients hold more unsent output than this is skipped
    // (polling) or kept pending (interrupts), so a client that stops reading cannot make the
    // module's memory grow.
    static constexpr qint64 BacklogLimit = 256 * 1024;

    SimRunner(TarnixSim *sim, SimState *state);

    // Arms the periodic interrupts and raises the one-shot ones.
    void start(const QVector<SimIrq> &irqs);
    // Stops every timer and forgets pending interrupts; nothing runs afterwards.
    void stop();

    // Re-reads the enable mask and the polling interval (after a write to the mask).
    void enableWritten();
    // Raises interrupt level 1..7 with a vector. The level stays pending until its program has
    // run once. True when the program ran now.
    bool raise(int level, quint8 vector);

private:
    struct Run
    {
        bool polling = false;
        int level = 0;
        quint16 flow = 0;
        quint32 vector = 0;        // what an acknowledge returns during this run
        bool interrupt = false;    // an interrupt program: an acknowledge picks a vector program
        bool acknowledged = false;
    };

    void pollingDue();
    void servePending();
    bool serveInterrupt(int level);
    bool behind();
    QByteArray memory() const;
    bool runEvent(const QByteArray &memory, int event, Run *run);
    bool runProgram(const QByteArray &memory, quint32 offset, int count, Run *run, const QString &name);
    void report(const QByteArray &record, const QByteArray &writeData, Run *run);

    TarnixSim *m_sim;
    SimState *m_state;
    bool m_stopped = false;
    quint16 m_nextFlow = 0;
    std::array<int, 8> m_pending; // vector of a raised level, -1 when none
    QTimer m_pollTimer;
    QTimer m_retryTimer;
    QList<QTimer *> m_irqTimers;
};
