#include "simrunner.h"

#include "simregisters.h"
#include "simstate.h"
#include "simwire.h"
#include "tarnixsim.h"

#include <algorithm>

namespace {

// Instruction record: address (4), mode word (2), ID, byte length, then the data of a write.
constexpr int RecordSize = 8;
constexpr int ImageEnd = int(SimRegisters::LogicSize);
constexpr int RetryMs = 10;

quint8 byteAt(const QByteArray &memory, int address)
{
    return quint8(memory.at(address));
}

} // namespace

SimRunner::SimRunner(TarnixSim *sim, SimState *state)
    : QObject(sim), m_sim(sim), m_state(state)
{
    m_pending.fill(-1);
    m_pollTimer.setTimerType(Qt::PreciseTimer);
    m_retryTimer.setSingleShot(true);
    connect(&m_pollTimer, &QTimer::timeout, this, &SimRunner::pollingDue);
    connect(&m_retryTimer, &QTimer::timeout, this, &SimRunner::servePending);
}

void SimRunner::start(const QVector<SimIrq> &irqs)
{
    for (const SimIrq &irq : irqs) {
        if (irq.periodMs <= 0) {
            raise(irq.level, irq.vector);
            continue;
        }
        auto *timer = new QTimer(this);
        const int level = irq.level;
        const quint8 vector = irq.vector;
        connect(timer, &QTimer::timeout, this, [this, level, vector]() { raise(level, vector); });
        timer->start(irq.periodMs);
        m_irqTimers.append(timer);
    }
}

void SimRunner::stop()
{
    m_stopped = true;
    m_pollTimer.stop();
    m_retryTimer.stop();
    for (QTimer *timer : std::as_const(m_irqTimers))
        timer->stop();
    m_pending.fill(-1);
}

QByteArray SimRunner::memory() const
{
    // One copy per run, so that a download arriving meanwhile cannot change a program halfway.
    return m_state->readRegisters(0, ImageEnd);
}

void SimRunner::enableWritten()
{
    if (m_stopped)
        return;
    const QByteArray mem = memory();
    const quint8 mask = byteAt(mem, EnableAddress);
    if (mask & 1) {
        const quint32 micros = SimWire::readBe32(mem.constData() + IntervalAddress);
        const int ms = int(std::max<quint64>(MinimumIntervalMs, (quint64(micros) + 500) / 1000));
        m_pollTimer.start(ms);
        m_state->log(QStringLiteral("event enable mask 0x%1: polling every %2 us, run every %3 ms")
                         .arg(mask, 2, 16, QLatin1Char('0')).arg(micros).arg(ms));
    } else {
        m_pollTimer.stop();
        m_state->log(QStringLiteral("event enable mask 0x%1").arg(mask, 2, 16, QLatin1Char('0')));
    }
    servePending();
}

bool SimRunner::raise(int level, quint8 vector)
{
    if (m_stopped || level < 1 || level > 7)
        return false;
    m_pending[size_t(level)] = vector;
    const bool enabled = (byteAt(memory(), EnableAddress) >> level) & 1;
    m_state->log(QStringLiteral("irq level %1 vector 0x%2 raised%3")
                     .arg(level).arg(vector, 2, 16, QLatin1Char('0'))
                     .arg(enabled ? QString() : QStringLiteral(" (level disabled: pending)")));
    return enabled && serveInterrupt(level);
}

void SimRunner::servePending()
{
    // Level 7 has the highest priority on the bus.
    for (int level = 7; level >= 1 && !m_stopped; --level) {
        if (m_pending[size_t(level)] >= 0 && ((byteAt(memory(), EnableAddress) >> level) & 1))
            serveInterrupt(level);
    }
}

bool SimRunner::behind()
{
    if (m_sim->pendingOutputBytes() <= BacklogLimit)
        return false;
    m_state->log(QStringLiteral("clients hold more than %1 unsent bytes; run deferred").arg(BacklogLimit));
    return true;
}

void SimRunner::pollingDue()
{
    const QByteArray mem = memory();
    if (m_stopped || !(byteAt(mem, EnableAddress) & 1) || behind())
        return;
    Run run;
    run.polling = true;
    run.level = byteAt(mem, PollLevelAddress) & 0x7;
    run.flow = m_nextFlow;
    run.vector = m_state->interruptVector();
    m_nextFlow = (m_nextFlow + 1) & 0xFFF;
    runEvent(mem, 0, &run);
}

bool SimRunner::serveInterrupt(int level)
{
    if (behind()) {
        m_retryTimer.start(RetryMs);
        return false;
    }
    Run run;
    run.level = level;
    run.flow = m_nextFlow;
    run.vector = quint32(m_pending[size_t(level)]);
    run.interrupt = true;
    m_nextFlow = (m_nextFlow + 1) & 0xFFF;
    m_pending[size_t(level)] = -1;

    const QByteArray mem = memory();
    if (!runEvent(mem, level, &run) || !run.acknowledged)
        return true;
    const int entry = VectorTableAddress + 4 * int(run.vector & 0xFF);
    const int count = byteAt(mem, entry) + 1;
    const quint32 offset = quint32(byteAt(mem, entry + 1) << 8) | byteAt(mem, entry + 2);
    const quint8 kind = byteAt(mem, entry + 3);
    const QString name = QStringLiteral("vector 0x%1").arg(run.vector & 0xFF, 2, 16, QLatin1Char('0'));
    if (kind != 0x00 && kind != 0xFF) {
        m_state->log(QStringLiteral("%1: table entry marked 0x%2, neither its own nor the default program; "
                                    "nothing runs").arg(name).arg(kind, 2, 16, QLatin1Char('0')));
        return true;
    }
    run.interrupt = false;
    runProgram(mem, offset, count, &run,
               name + (kind ? QStringLiteral(" default program") : QStringLiteral(" program")));
    return true;
}

bool SimRunner::runEvent(const QByteArray &mem, int event, Run *run)
{
    const quint32 offset = quint32(byteAt(mem, StartTableAddress + event)) * 8;
    const int count = byteAt(mem, CountTableAddress + event) + 1;
    return runProgram(mem, offset, count, run,
                      event == 0 ? QStringLiteral("polling program")
                                 : QStringLiteral("interrupt program %1").arg(event));
}

bool SimRunner::runProgram(const QByteArray &mem, quint32 offset, int count, Run *run, const QString &name)
{
    m_state->log(QStringLiteral("run %1 (flow %2): %3 instructions at image offset %4")
                     .arg(name, QString::number(run->flow), QString::number(count), QString::number(offset)));
    // Positions are register addresses; a record must lie wholly inside the image.
    quint64 at = quint64(ImageAddress) + offset;
    for (int i = 0; i < count; ++i) {
        bool whole = at + RecordSize <= quint64(ImageEnd);
        const char *record = mem.constData() + (whole ? at : 0);
        const bool write = whole && SimWire::isWrite(SimWire::readBe16(record + 4));
        const int size = whole ? quint8(record[7]) : 0;
        whole = whole && (!write || at + RecordSize + quint64(size) <= quint64(ImageEnd));
        if (!whole) {
            m_state->log(QStringLiteral("%1: instruction %2 at image offset %3 runs past the image end; "
                                        "run ends").arg(name).arg(i).arg(at - ImageAddress));
            return false;
        }
        report(QByteArray(record, RecordSize), write ? QByteArray(record + RecordSize, size) : QByteArray(),
               run);
        at += RecordSize + quint64(write ? size : 0);
    }
    return true;
}

void SimRunner::report(const QByteArray &record, const QByteArray &writeData, Run *run)
{
    using namespace SimWire;
    Header access;
    access.address = readBe32(record.constData());
    access.mode = readBe16(record.constData() + 4);
    access.id = quint8(record[6]);
    access.length = quint8(record[7]);
    QByteArray readData;
    const quint16 status = m_state->carryOut(access, writeData, &readData, run->vector, "program");
    if (run->interrupt && accessCode(access.mode) == AccessIntr && status == 0)
        run->acknowledged = true;

    Header out = access;
    out.mode = quint16((access.mode & ~StatusMask) | status);
    const bool carries = carriesData(out.mode);
    out.length = (quint32(run->level & 0x7) << 29) | (run->polling ? (1u << 28) : 0u)
        | (quint32(run->flow & 0xFFF) << 16) | (carries ? access.length : 0u);
    const QByteArray payload = carries ? (isWrite(access.mode) ? writeData : readData) : QByteArray();
    const int clients = m_sim->broadcastPacket(packet(out, payload));
    m_state->countReports(quint64(clients));
}
