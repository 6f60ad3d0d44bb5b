#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QString>

#include <functional>
#include <memory>

// Serves a page of metrics at /metrics over HTTP for Prometheus to scrape, on a thread of its
// own: the scrape is answered whatever the caller's thread is doing (tarnixctl blocks in its
// socket reads, the window paints). The page source is called on that thread and must be
// safe to call from there (ReportMetrics::page is).
class MetricsServer
{
public:
    using PageSource = std::function<QByteArray()>;

    explicit MetricsServer(PageSource source);
    ~MetricsServer();
    MetricsServer(const MetricsServer &) = delete;
    MetricsServer &operator=(const MetricsServer &) = delete;

    // Listens on address and port (0: a free one); false with errorString() when it cannot.
    bool start(const QHostAddress &address, quint16 port);
    void stop();
    bool isListening() const;
    quint16 port() const;
    QString url() const; // http://HOST:PORT/metrics
    QString errorString() const;

    // Reads "HOST:PORT" ("[::1]:9464" for IPv6; "PORT" alone is 127.0.0.1): false with
    // error set when it is not an address and a port of 0 to 65535.
    static bool parseHostPort(const QString &text, QHostAddress &address, quint16 &port, QString &error);

private:
    class Thread;
    PageSource source;
    std::unique_ptr<Thread> thread;
    QString error;
};
