#include "metricsserver.h"

#include "exposition.h"

#include <QHttpServer>
#include <QHttpServerResponse>
#include <QSemaphore>
#include <QTcpServer>
#include <QThread>

class MetricsServer::Thread : public QThread
{
public:
    Thread(const PageSource &source, const QHostAddress &address, quint16 port)
        : source(source), address(address), wanted(port)
    {
    }

    // Whether it listens; the error otherwise. Waits for run() to get there.
    bool waitListening()
    {
        ready.acquire();
        return listening;
    }

    const PageSource &source;
    QHostAddress address;
    quint16 wanted;
    quint16 port = 0;
    QString error;
    bool listening = false;

protected:
    void run() override
    {
        QHttpServer http;
        http.route(QStringLiteral("/metrics"), [this] {
            return QHttpServerResponse(QByteArray(Exposition::ContentType), source());
        });
        // The server takes the listening socket over: its error text is ours to give.
        auto *tcp = new QTcpServer(&http);
        if (!tcp->listen(address, wanted)) {
            error = tcp->errorString();
            delete tcp;
            ready.release();
            return;
        }
        port = tcp->serverPort();
        http.bind(tcp);
        listening = true;
        ready.release();
        exec();
    }

private:
    QSemaphore ready;
};

MetricsServer::MetricsServer(PageSource source) : source(std::move(source)) {}

MetricsServer::~MetricsServer() { stop(); }

bool MetricsServer::start(const QHostAddress &address, quint16 port)
{
    stop();
    thread = std::make_unique<Thread>(source, address, port);
    thread->start();
    if (thread->waitListening())
        return true;
    error = QStringLiteral("cannot serve metrics on %1: %2")
                .arg(QHostAddress(address).toString() + QLatin1Char(':') + QString::number(port), thread->error);
    thread->wait();
    thread.reset();
    return false;
}

void MetricsServer::stop()
{
    if (!thread)
        return;
    thread->quit();
    thread->wait();
    thread.reset();
}

bool MetricsServer::isListening() const { return thread && thread->listening; }

quint16 MetricsServer::port() const { return thread ? thread->port : 0; }

QString MetricsServer::url() const
{
    if (!thread)
        return QString();
    const QString host = thread->address.protocol() == QAbstractSocket::IPv6Protocol
                             ? QLatin1Char('[') + thread->address.toString() + QLatin1Char(']')
                             : thread->address.toString();
    return QStringLiteral("http://%1:%2/metrics").arg(host).arg(thread->port);
}

QString MetricsServer::errorString() const { return error; }

bool MetricsServer::parseHostPort(const QString &text, QHostAddress &address, quint16 &port, QString &error)
{
    QString host = QStringLiteral("127.0.0.1");
    QString number = text;
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon >= 0) {
        host = text.left(colon);
        number = text.mid(colon + 1);
        if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
            host = host.mid(1, host.size() - 2);
    }
    bool ok = false;
    const uint value = number.toUInt(&ok, 10);
    if (!ok || value > 65535 || number.startsWith(QLatin1Char('+'))) {
        error = QStringLiteral("\"%1\" is not HOST:PORT (a port of 0 to 65535)").arg(text);
        return false;
    }
    if (!address.setAddress(host)) {
        error = QStringLiteral("\"%1\" is not an IP address").arg(host);
        return false;
    }
    port = quint16(value);
    return true;
}
