#include "tarnixsim.h"

#include "simreplay.h"

#include "simconnection.h"
#include "simrbcp.h"
#include "simrunner.h"

#include <QMetaObject>
#include <QMutexLocker>
#include <QTcpServer>
#include <QTcpSocket>

TarnixSim::TarnixSim(QObject *parent)
    : QObject(parent)
{
}

TarnixSim::~TarnixSim()
{
    stop();
}

template <typename F>
auto TarnixSim::onOwnThread(F function) const -> decltype(function())
{
    using Result = decltype(function());
    if (QThread::currentThread() == thread()) {
        return function();
    } else if constexpr (std::is_void_v<Result>) {
        QMetaObject::invokeMethod(const_cast<TarnixSim *>(this), function, Qt::BlockingQueuedConnection);
    } else {
        Result result{};
        QMetaObject::invokeMethod(const_cast<TarnixSim *>(this), function, Qt::BlockingQueuedConnection,
                                  &result);
        return result;
    }
}

bool TarnixSim::start(const SimConfig &config)
{
    if (m_started) {
        m_error = QStringLiteral("the module was already started");
        return false;
    }
    m_started = true;
    m_state = std::make_unique<SimState>(config);
    m_reportsOnConnect = config.reportsOnConnect;
    m_connectReports = config.reports;
    m_replay = config.replay;
    m_replaySpeed = config.replaySpeed;
    m_address = config.address;

    m_tcp = new QTcpServer(this);
    if (!m_tcp->listen(config.address, config.tcpPort)) {
        m_error = QStringLiteral("cannot listen on TCP %1:%2: %3")
                      .arg(config.address.toString()).arg(config.tcpPort).arg(m_tcp->errorString());
        delete m_tcp;
        m_tcp = nullptr;
        return false;
    }
    m_rbcp = new SimRbcpServer(m_state.get(), this);
    QString udpError;
    if (!m_rbcp->bind(config.address, config.udpPort, &udpError)) {
        m_error = QStringLiteral("cannot bind UDP %1:%2: %3")
                      .arg(config.address.toString()).arg(config.udpPort).arg(udpError);
        delete m_rbcp;
        m_rbcp = nullptr;
        m_tcp->close();
        delete m_tcp;
        m_tcp = nullptr;
        return false;
    }
    m_tcpPort = m_tcp->serverPort();
    m_udpPort = m_rbcp->port();
    m_state->setListeningPorts(m_tcpPort, m_udpPort);
    connect(m_tcp, &QTcpServer::newConnection, this, &TarnixSim::onNewConnection);
    m_listening = true;
    m_state->log(QStringLiteral("listening on tcp %1:%2, udp %1:%3")
                     .arg(m_address.toString()).arg(m_tcpPort).arg(m_udpPort));
    m_runner = new SimRunner(this, m_state.get());
    // Register writes arrive on any thread; the runner looks at them on its own.
    SimRunner *runner = m_runner;
    m_state->setEnableListener([runner]() {
        QMetaObject::invokeMethod(runner, &SimRunner::enableWritten, Qt::QueuedConnection);
    });
    m_runner->start(config.irqs);
    return true;
}

void TarnixSim::stop()
{
    onOwnThread([this]() {
        if (!m_listening)
            return;
        m_listening = false;
        m_state->setEnableListener({});
        m_runner->stop();
        m_tcp->close();
        m_rbcp->close();
        const auto connections = m_connections;
        m_connections.clear();
        m_connectionCount = 0;
        for (const QPointer<SimConnection> &c : connections)
            delete c.data();
    });
}

QVector<QPointer<SimConnection>> TarnixSim::connectionsSnapshot() const
{
    // A copy: closing a connection can remove it from the list while the caller walks it.
    return m_connections;
}

void TarnixSim::onNewConnection()
{
    while (QTcpSocket *socket = m_tcp->nextPendingConnection()) {
        auto *connection = new SimConnection(socket, m_state.get(), this);
        m_connections.append(connection);
        m_connectionCount = int(m_connections.size());
        m_state->countConnection();
        connect(connection, &SimConnection::reportsFinished, this, &TarnixSim::reportsFinished);
        connect(connection, &SimConnection::finished, this, [this, connection]() {
            m_connections.removeAll(connection);
            m_connectionCount = int(m_connections.size());
            connection->deleteLater();
            emit clientDisconnected();
        });
        emit clientConnected();
        if (m_reportsOnConnect)
            connection->startReports(m_connectReports);
        if (m_replay)
            (new SimReplay(connection, m_replay, m_replaySpeed))->start();
    }
}

QByteArray TarnixSim::readVme(int addressMode, quint32 address, int size) const
{
    return m_state ? m_state->readVme(addressMode, address, size) : QByteArray();
}

bool TarnixSim::writeVme(int addressMode, quint32 address, const QByteArray &bytes)
{
    return m_state && m_state->writeVme(addressMode, address, bytes);
}

void TarnixSim::setUnmapped(const QVector<SimUnmapped> &ranges)
{
    if (m_state)
        m_state->setUnmapped(ranges);
}

void TarnixSim::addUnmapped(int addressMode, quint32 first, quint32 last)
{
    if (!m_state)
        return;
    SimUnmapped u;
    u.addressMode = addressMode;
    u.range.first = first;
    u.range.last = last;
    m_state->addUnmapped(u);
}

QVector<SimUnmapped> TarnixSim::unmapped() const
{
    return m_state ? m_state->unmapped() : QVector<SimUnmapped>();
}

void TarnixSim::setInterruptVector(quint32 vector)
{
    if (m_state)
        m_state->setInterruptVector(vector);
}

QByteArray TarnixSim::readRegisters(quint32 address, int size) const
{
    return m_state ? m_state->readRegisters(address, size) : QByteArray();
}

bool TarnixSim::writeRegisters(quint32 address, const QByteArray &bytes)
{
    return m_state && m_state->writeRegisters(address, bytes);
}

bool TarnixSim::writeProtected() const
{
    return !m_state || m_state->writeProtected();
}

SimFaults TarnixSim::faults() const
{
    return m_state ? m_state->faults() : SimFaults();
}

void TarnixSim::setFaults(const SimFaults &faults)
{
    if (m_state)
        m_state->setFaults(faults);
}

SimCounters TarnixSim::counters() const
{
    return m_state ? m_state->counters() : SimCounters();
}

QVector<SimRbcpRequest> TarnixSim::rbcpRequests() const
{
    return m_state ? m_state->rbcpRequests() : QVector<SimRbcpRequest>();
}

void TarnixSim::clearRbcpRequests()
{
    if (m_state)
        m_state->clearRbcpRequests();
}

int TarnixSim::startReports(const SimReportBurst &burst)
{
    return onOwnThread([this, burst]() {
        int n = 0;
        for (const QPointer<SimConnection> &c : connectionsSnapshot()) {
            if (c) {
                c->startReports(burst);
                ++n;
            }
        }
        return n;
    });
}

void TarnixSim::stopReports()
{
    onOwnThread([this]() {
        for (const QPointer<SimConnection> &c : connectionsSnapshot()) {
            if (c)
                c->stopReports();
        }
    });
}

int TarnixSim::broadcastPacket(const QByteArray &packet)
{
    return onOwnThread([this, packet]() {
        int n = 0;
        for (const QPointer<SimConnection> &c : connectionsSnapshot()) {
            if (c && c->sendPacket(packet))
                ++n;
        }
        return n;
    });
}

void TarnixSim::closeConnections()
{
    onOwnThread([this]() {
        for (const QPointer<SimConnection> &c : connectionsSnapshot()) {
            if (c)
                c->close();
        }
    });
}

bool TarnixSim::raiseInterrupt(int level, quint8 vector)
{
    return onOwnThread([this, level, vector]() { return m_listening && m_runner->raise(level, vector); });
}

qint64 TarnixSim::pendingOutputBytes() const
{
    return onOwnThread([this]() {
        qint64 total = 0;
        for (const QPointer<SimConnection> &c : connectionsSnapshot()) {
            if (c)
                total += c->pendingBytes();
        }
        return total;
    });
}

TarnixSimThread::TarnixSimThread(QObject *parent)
    : QThread(parent)
{
}

TarnixSimThread::~TarnixSimThread()
{
    stopSim();
}

bool TarnixSimThread::startSim(const SimConfig &config)
{
    if (isRunning()) {
        QMutexLocker lock(&m_mutex);
        m_error = QStringLiteral("the module thread is already running");
        return false;
    }
    {
        QMutexLocker lock(&m_mutex);
        m_config = config;
        m_started = false;
        m_ok = false;
        m_error.clear();
    }
    start();
    QMutexLocker lock(&m_mutex);
    while (!m_started)
        m_ready.wait(&m_mutex);
    return m_ok;
}

void TarnixSimThread::stopSim()
{
    quit();
    wait();
}

TarnixSim *TarnixSimThread::sim() const
{
    QMutexLocker lock(&m_mutex);
    return m_sim;
}

QString TarnixSimThread::errorString() const
{
    QMutexLocker lock(&m_mutex);
    return m_error;
}

void TarnixSimThread::run()
{
    TarnixSim sim;
    SimConfig config;
    {
        QMutexLocker lock(&m_mutex);
        config = m_config;
    }
    const bool ok = sim.start(config);
    {
        QMutexLocker lock(&m_mutex);
        m_ok = ok;
        m_error = sim.errorString();
        m_sim = ok ? &sim : nullptr;
        m_started = true;
        m_ready.wakeAll();
    }
    if (ok)
        exec();
    QMutexLocker lock(&m_mutex);
    m_sim = nullptr;
}
