#include "scriptedpeer.h"

#include <QHostAddress>
#include <QMetaObject>
#include <QSemaphore>
#include <QTcpServer>
#include <QTcpSocket>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

ScriptedPeer::ScriptedPeer()
{
    m_context = new QObject;
    m_context->moveToThread(&m_thread);
    m_thread.start();
    QSemaphore ready;
    QMetaObject::invokeMethod(m_context, [this, &ready] {
        m_server = new QTcpServer(m_context);
        m_server->listen(QHostAddress::LocalHost, 0);
        m_port = m_server->serverPort();
        QObject::connect(m_server, &QTcpServer::newConnection, m_context, [this] {
            while (QTcpSocket *s = m_server->nextPendingConnection()) {
                if (m_client)
                    m_client->deleteLater();
                m_client = s;
                {
                    QMutexLocker lock(&m_mutex);
                    ++m_connections;
                    m_hasClient = true;
                }
                QObject::connect(s, &QTcpSocket::readyRead, m_context, [this, s] {
                    const QByteArray bytes = s->readAll();
                    QMutexLocker lock(&m_mutex);
                    m_received.append(bytes);
                });
                QObject::connect(s, &QTcpSocket::disconnected, m_context, [this, s] {
                    if (s == m_client) {
                        QMutexLocker lock(&m_mutex);
                        m_hasClient = false;
                    }
                });
            }
        });
        ready.release();
    });
    ready.acquire();
}

ScriptedPeer::~ScriptedPeer()
{
    QMetaObject::invokeMethod(m_context, [this] { delete m_context; }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}

bool ScriptedPeer::hasClient() const
{
    QMutexLocker lock(&m_mutex);
    return m_hasClient;
}

int ScriptedPeer::connections() const
{
    QMutexLocker lock(&m_mutex);
    return m_connections;
}

QByteArray ScriptedPeer::received() const
{
    QMutexLocker lock(&m_mutex);
    return m_received;
}

void ScriptedPeer::send(const QByteArray &bytes)
{
    QMetaObject::invokeMethod(m_context, [this, bytes] { doSend(bytes); }, Qt::BlockingQueuedConnection);
}

void ScriptedPeer::closeClient()
{
    QMetaObject::invokeMethod(m_context, [this] { doClose(); }, Qt::BlockingQueuedConnection);
}

void ScriptedPeer::doSend(const QByteArray &bytes)
{
    if (!m_client)
        return;
    m_client->write(bytes);
    m_client->flush();
    m_client->waitForBytesWritten(1000);
}

void ScriptedPeer::doClose()
{
    if (m_client) {
        m_client->flush();
        m_client->disconnectFromHost();
        if (m_client->state() != QAbstractSocket::UnconnectedState)
            m_client->waitForDisconnected(1000);
    }
}

HangingListener::HangingListener()
{
    m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
    if (m_listen < 0)
        return;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    if (::bind(m_listen, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || ::listen(m_listen, 0) != 0)
        return;
    socklen_t len = sizeof addr;
    ::getsockname(m_listen, reinterpret_cast<sockaddr *>(&addr), &len);
    // Fill the accept queue with connections that are never accepted.
    for (int i = 0; i < 8; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        ::fcntl(fd, F_SETFL, O_NONBLOCK);
        ::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
        m_fillers[m_fillerCount++] = fd;
    }
    m_port = ntohs(addr.sin_port);
}

HangingListener::~HangingListener()
{
    for (int i = 0; i < m_fillerCount; ++i)
        ::close(m_fillers[i]);
    if (m_listen >= 0)
        ::close(m_listen);
}
