#include "simstate.h"

#include <QDeadlineTimer>
#include <QMutexLocker>

#include <algorithm>
#include <cstdio>

namespace {

QMutex &stderrMutex()
{
    static QMutex mutex;
    return mutex;
}

void writeStderr(const QString &line)
{
    const QByteArray bytes = QByteArrayLiteral("tarnix-sim: ") + line.toLocal8Bit() + '\n';
    QMutexLocker lock(&stderrMutex());
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

QString hex(quint64 value, int width)
{
    return QStringLiteral("0x%1").arg(value, width, 16, QLatin1Char('0'));
}

// The bytes of the address space an access touches: a fixed-address access (a FIFO register)
// moves every item through its one address; otherwise the address goes up by an item per item.
quint64 accessSpan(quint8 code, int size, int item)
{
    return quint64(SimWire::isFixedAddress(code) ? std::min(size, item) : size);
}

} // namespace

SimState::SimState(const SimConfig &config)
    : m_verbose(config.verbose), m_unmapped(config.unmapped), m_slaves(config.slaves), m_status(config.statusRegisters), m_vector(config.interruptVector),
      m_faults(config.faults), m_dropRandom(config.faults.rbcpDropSeed)
{
    m_registers.setVersion(config.version);
    m_registers.setSettings(config.flags, config.mac, config.settingsIp, config.tcpPort, config.udpPort);
    m_registers.setLiveTcpPort(config.tcpPort);
    m_registers.setCloseTimeout(config.closeTimeout);
}

void SimState::setListeningPorts(quint16 tcpPort, quint16 udpPort)
{
    QMutexLocker lock(&m_mutex);
    QByteArray ports(2, '\0');
    SimWire::writeBe16(ports.data(), tcpPort);
    m_registers.poke(SimRegisters::SettingsAddress + SimRegisters::TcpPortOffset, ports);
    SimWire::writeBe16(ports.data(), udpPort);
    m_registers.poke(SimRegisters::SettingsAddress + SimRegisters::UdpPortOffset, ports);
    m_registers.setLiveTcpPort(tcpPort);
}

void SimState::log(const QString &line) const
{
    if (m_verbose)
        writeStderr(line);
}

void SimState::notice(const QString &line) const
{
    writeStderr(line);
}

bool SimState::vmeRangeMapped(int addressMode, quint64 address, quint64 size) const
{
    for (const SimUnmapped &u : m_unmapped) {
        if (u.addressMode == addressMode && u.range.overlaps(address, size))
            return false;
    }
    return slavesCover(addressMode, address, size);
}

bool SimState::slavesCover(int addressMode, quint64 address, quint64 size) const
{
    // Every byte of the access must lie in a slave of its mode; adjacent slaves may share one.
    bool listed = false;
    quint64 at = address;
    const quint64 end = address + size;
    for (bool advanced = true; advanced && at < end;) {
        advanced = false;
        for (const SimVmeRange &s : m_slaves) {
            if (s.addressMode != addressMode)
                continue;
            listed = true;
            if (s.range.first <= at && at <= s.range.last) {
                at = quint64(s.range.last) + 1;
                advanced = true;
            }
        }
    }
    return !listed || at >= end;
}

quint16 SimState::execute(const SimWire::Header &command, const QByteArray &writeData, QByteArray *readData)
{
    return carryOut(command, writeData, readData, interruptVector(), "tcp");
}

quint16 SimState::carryOut(const SimWire::Header &command, const QByteArray &writeData, QByteArray *readData,
                           quint32 vector, const char *origin)
{
    const quint16 mode = command.mode;
    const int size = int(command.length & 0xFF);
    const int item = SimWire::itemSize(SimWire::dataMode(mode));
    const int space = SimWire::addressMode(mode);
    const quint8 code = SimWire::accessCode(mode);
    const bool write = SimWire::isWrite(mode);
    readData->clear();

    quint16 status = 0;
    if (item == 0 || SimVmeMemory::spaceSize(space) == 0 || !SimWire::knownAccessCode(code)
        || size % item != 0) {
        status = SimWire::StatusParamError;
    } else if (code == SimWire::AccessIntr) {
        // Interrupt acknowledge: the vector comes back as items of the data width.
        if (write) {
            status = SimWire::StatusParamError;
        } else {
            char word[4];
            SimWire::writeBe32(word, vector);
            for (int i = 0; i < size; i += item)
                readData->append(word + 4 - item, item);
        }
    } else if (command.address % quint32(item) != 0
               || !SimVmeMemory::fits(space, command.address, accessSpan(code, size, item))) {
        status = SimWire::StatusParamError;
    } else {
        const bool fixed = SimWire::isFixedAddress(code);
        const quint64 span = accessSpan(code, size, item);
        QMutexLocker lock(&m_mutex);
        const auto refused = std::any_of(m_faults.vmeParamErrors.cbegin(), m_faults.vmeParamErrors.cend(),
                                         [&](const SimVmeRange &r) {
                                             return r.addressMode == space && r.range.overlaps(command.address, span);
                                         });
        if (refused) {
            status = SimWire::StatusParamError;
        } else if (!vmeRangeMapped(space, command.address, span)) {
            status = SimWire::StatusVmeError;
        } else if (write && fixed) {
            if (size > 0) // the register keeps the last item written
                m_memory.write(space, command.address, writeData.left(size).right(item));
            m_status.written(space, command.address, item, m_memory);
        } else if (write) {
            m_memory.write(space, command.address, writeData.left(size));
            m_status.written(space, command.address, size, m_memory);
        } else if (fixed) {
            m_status.reading(m_memory);
            const QByteArray value = m_memory.read(space, command.address, item);
            for (int i = 0; i < size; i += item)
                readData->append(value);
        } else {
            m_status.reading(m_memory);
            *readData = m_memory.read(space, command.address, size);
        }
    }
    if (!write && readData->size() != size)
        *readData = QByteArray(size, '\0');

    if (m_verbose) {
        log(QStringLiteral("%1 %2 id=%3 mode=%4 A%5 addr=%6 len=%7 -> status %8")
                .arg(QString::fromLatin1(origin), write ? QStringLiteral("write") : QStringLiteral("read"))
                .arg(hex(command.id, 2), hex(mode, 4))
                .arg(space == 0 ? 16 : space == 1 ? 24 : 32)
                .arg(hex(command.address, 8))
                .arg(size)
                .arg(hex(status, 1)));
    }
    return status;
}

QByteArray SimState::readVme(int addressMode, quint32 address, int size) const
{
    QMutexLocker lock(&m_mutex);
    if (size <= 0 || !SimVmeMemory::fits(addressMode, address, quint64(size)))
        return QByteArray();
    return m_memory.read(addressMode, address, size);
}

bool SimState::writeVme(int addressMode, quint32 address, const QByteArray &bytes)
{
    QMutexLocker lock(&m_mutex);
    if (!SimVmeMemory::fits(addressMode, address, quint64(bytes.size())))
        return false;
    m_memory.write(addressMode, address, bytes);
    return true;
}

void SimState::setUnmapped(const QVector<SimUnmapped> &ranges)
{
    QMutexLocker lock(&m_mutex);
    m_unmapped = ranges;
}

void SimState::addUnmapped(const SimUnmapped &range)
{
    QMutexLocker lock(&m_mutex);
    m_unmapped.append(range);
}

QVector<SimUnmapped> SimState::unmapped() const
{
    QMutexLocker lock(&m_mutex);
    return m_unmapped;
}

void SimState::setInterruptVector(quint32 vector)
{
    QMutexLocker lock(&m_mutex);
    m_vector = vector;
}

quint32 SimState::interruptVector() const
{
    QMutexLocker lock(&m_mutex);
    return m_vector;
}

bool SimState::rbcpRead(quint32 address, int size, QByteArray *out)
{
    QMutexLocker lock(&m_mutex);
    const bool ok = m_registers.read(address, size, out);
    lock.unlock();
    if (m_verbose)
        log(QStringLiteral("rbcp read %1 len=%2%3")
                .arg(hex(address, 8)).arg(size)
                .arg(ok ? QStringLiteral(": ") + QString::fromLatin1(out->toHex(' '))
                        : QStringLiteral(" -> bus error")));
    return ok;
}

bool SimState::rbcpWrite(quint32 address, const QByteArray &data)
{
    QMutexLocker lock(&m_mutex);
    bool reset = false;
    const bool ok = m_registers.write(address, data, &reset);
    lock.unlock();
    if (m_verbose)
        log(QStringLiteral("rbcp write %1 len=%2: %3%4")
                .arg(hex(address, 8)).arg(data.size())
                .arg(QString::fromLatin1(data.toHex(' ')),
                     ok ? QString() : QStringLiteral(" -> bus error")));
    if (ok)
        enableMaybeWritten(address, int(data.size()));
    if (reset) {
        ++m_resets;
        notice(QStringLiteral("network core reset requested; the module keeps its sockets"));
    }
    return ok;
}

QByteArray SimState::readRegisters(quint32 address, int size) const
{
    QMutexLocker lock(&m_mutex);
    QByteArray out;
    if (!m_registers.read(address, size, &out))
        return QByteArray();
    return out;
}

bool SimState::writeRegisters(quint32 address, const QByteArray &data)
{
    QMutexLocker lock(&m_mutex);
    const bool ok = m_registers.poke(address, data);
    lock.unlock();
    if (ok)
        enableMaybeWritten(address, int(data.size()));
    return ok;
}

void SimState::setEnableListener(std::function<void()> listener)
{
    QMutexLocker lock(&m_listenerMutex);
    m_enableListener = std::move(listener);
}

void SimState::enableMaybeWritten(quint32 address, int size)
{
    const quint64 mask = SimRegisters::EventEnableAddress;
    if (address > mask || quint64(address) + quint64(size) <= mask)
        return;
    // Held while calling, so that clearing the listener waits for a call in progress.
    QMutexLocker lock(&m_listenerMutex);
    if (m_enableListener)
        m_enableListener();
}

bool SimState::writeProtected() const
{
    QMutexLocker lock(&m_mutex);
    return m_registers.writeProtected();
}

SimFaults SimState::faults() const
{
    QMutexLocker lock(&m_mutex);
    return m_faults;
}

void SimState::setFaults(const SimFaults &faults)
{
    QMutexLocker lock(&m_mutex);
    m_faults = faults;
    m_dropRandom.seed(faults.rbcpDropSeed);
}

bool SimState::takeDropDecision()
{
    QMutexLocker lock(&m_mutex);
    if (m_faults.rbcpDropFraction <= 0.0)
        return false;
    const bool drop = m_dropRandom.generateDouble() < m_faults.rbcpDropFraction;
    if (drop)
        ++m_dropped;
    return drop;
}

void SimState::recordRbcpRequest(const SimRbcpRequest &request)
{
    ++m_rbcpRequests;
    QMutexLocker lock(&m_mutex);
    if (m_requests.size() >= MaxLoggedRequests)
        m_requests.remove(0, MaxLoggedRequests / 2);
    m_requests.append(request);
    m_requests.last().arrivedNs = QDeadlineTimer::current(Qt::PreciseTimer).deadlineNSecs();
}

QVector<SimRbcpRequest> SimState::rbcpRequests() const
{
    QMutexLocker lock(&m_mutex);
    return m_requests;
}

void SimState::clearRbcpRequests()
{
    QMutexLocker lock(&m_mutex);
    m_requests.clear();
}

SimCounters SimState::counters() const
{
    SimCounters c;
    c.commandsAnswered = m_commands;
    c.crcErrors = m_crcErrors;
    c.connectionsAccepted = m_connections;
    c.reportsSent = m_reports;
    c.rbcpRequests = m_rbcpRequests;
    c.rbcpRepliesDropped = m_dropped;
    c.coreResets = m_resets;
    return c;
}
