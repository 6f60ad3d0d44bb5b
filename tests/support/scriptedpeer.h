#pragma once

#include <QByteArray>
#include <QObject>
#include <QThread>

#include <atomic>

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
    bool hasClient() const { return m_hasClient; }

    // Run on the peer's thread; each send is one write followed by a flush.
    void send(const QByteArray &bytes);
    void closeClient();

private:
    QThread m_thread;
    QObject *m_context = nullptr; // lives on m_thread
    QTcpSocket *m_client = nullptr;
    quint16 m_port = 0;
    std::atomic<bool> m_hasClient{false};
};
