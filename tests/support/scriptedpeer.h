#pragma once

#include <QByteArray>
#include <QMutex>
#include <QObject>
#include <QThread>

class QTcpServer;
class QTcpSocket;

// A TCP peer on 127.0.0.1 (ephemeral port) that sends exactly the bytes a test gives it, on its
// own thread, so that a test can feed the command thread hand-built streams split where it wants.
class ScriptedPeer : public QObject
{
    Q_OBJECT
public:
    ScriptedPeer();
    ~ScriptedPeer() override;

    quint16 port() const { return m_port; }
    bool hasClient() const;
    int connections() const;
    QByteArray received() const;

    // Queued onto the peer's thread; each call is one write followed by a flush.
    void send(const QByteArray &bytes);
    void closeClient();

private:
    void doSend(const QByteArray &bytes);
    void doClose();

    QThread m_thread;
    QObject *m_context = nullptr; // lives on m_thread
    QTcpServer *m_server = nullptr;
    QTcpSocket *m_client = nullptr;
    quint16 m_port = 0;
    mutable QMutex m_mutex;
    QByteArray m_received;
    int m_connections = 0;
    bool m_hasClient = false;
};

// A listener whose accept queue is full, so that a connect to it stays pending (SYNs unanswered):
// lets a test stop a thread that is still connecting. Linux loopback only.
class HangingListener
{
public:
    HangingListener();
    ~HangingListener();
    quint16 port() const { return m_port; }
    bool ok() const { return m_port != 0; }

private:
    int m_listen = -1;
    int m_fillers[8];
    int m_fillerCount = 0;
    quint16 m_port = 0;
};
