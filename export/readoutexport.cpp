#include "readoutexport.h"

#include <QDateTime>

#include <chrono>

ReadoutExport::ReadoutExport() = default;

ReadoutExport::~ReadoutExport()
{
    // The scrape thread reads the counts: it ends before they go.
    server.reset();
}

bool ReadoutExport::serveMetrics(const QHostAddress &address, quint16 port, QString &error)
{
    auto s = std::make_unique<MetricsServer>([this] { return metrics.page(); });
    if (!s->start(address, port)) {
        error = s->errorString();
        return false;
    }
    server = std::move(s);
    return true;
}

bool ReadoutExport::publish(const QString &endpoint, int highWaterMark, QString &error)
{
    if (!publisher.bind(endpoint, highWaterMark)) {
        error = publisher.errorString();
        return false;
    }
    metrics.setPublisher(&publisher);
    return true;
}

void ReadoutExport::setModule(const QString &address, quint16 port)
{
    metrics.setModule(address, port);
    publisher.setTopic((address + QLatin1Char(':') + QString::number(port)).toUtf8());
}

void ReadoutExport::batch(const char *packets, qsizetype size, quint32 reports)
{
    if (publisher.isBound() && size > 0)
        publisher.publish(packets, size, reports,
                          std::chrono::duration_cast<std::chrono::nanoseconds>(
                              std::chrono::system_clock::now().time_since_epoch()).count());
}

void ReadoutExport::tick(bool force)
{
    if (!server)
        return;
    // The time the reports counted next were read: this is called after each read.
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (force || !sinceMerge.isValid() || sinceMerge.elapsed() >= MergeMs) {
        sinceMerge.start();
        rates.merge(counting, now);
    }
    counting.setTime(now);
}
