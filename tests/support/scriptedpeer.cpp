#include "scriptedpeer.h"

#include <QHostAddress>
#include <QMetaObject>
#include <QTcpServer>
#include <QTcpSocket>

ScriptedPeer::ScriptedPeer()
{
    m_context = new QObject;
    m_context->moveToThread(&m_thread);
    m_thread.start();
    QMetaObject::invokeMethod(
        m_context,
        [this] {
            auto *server = new QTcpServer(m_context);
            server->listen(QHostAddress::LocalHost, 0);
            m_port = server->serverPort();
            QObject::connect(server, &QTcpServer::newConnection, m_context, [this, server] {
                while (QTcpSocket *s = server->nextPendingConnection()) {
                    if (m_client)
                        m_client->deleteLater();
                    m_client = s;
                    m_hasClient = true;
                    QObject::connect(s, &QTcpSocket::disconnected, m_context, [this, s] {
                        if (s == m_client)
                            m_hasClient = false;
                    });
                }
            });
        },
        Qt::BlockingQueuedConnection);
}

ScriptedPeer::~ScriptedPeer()
{
    QMetaObject::invokeMethod(m_context, [this] { delete m_context; }, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait();
}

void ScriptedPeer::send(const QByteArray &bytes)
{
    QMetaObject::invokeMethod(
        m_context,
        [this, bytes] {
            if (m_client) {
                m_client->write(bytes);
                m_client->flush();
                m_client->waitForBytesWritten(1000);
            }
        },
        Qt::BlockingQueuedConnection);
}

void ScriptedPeer::closeClient()
{
    QMetaObject::invokeMethod(
        m_context,
        [this] {
            if (m_client) {
                m_client->flush();
                m_client->disconnectFromHost();
                if (m_client->state() != QAbstractSocket::UnconnectedState)
                    m_client->waitForDisconnected(1000);
            }
        },
        Qt::BlockingQueuedConnection);
}
