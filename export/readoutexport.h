#pragma once

#include "metricsserver.h"
#include "reportmetrics.h"
#include "reportpublisher.h"
#include "reportrates.h"

#include <QElapsedTimer>

#include <memory>

// A headless readout's link to the lab's systems (tarnixctl listen and record): its metrics
// served for Prometheus and its reports published over ZeroMQ, either or both. The reading
// thread counts each report into tally() and hands each batch to batch(); the counts reach the
// scrape a few times a second through tick().
class ReadoutExport
{
public:
    ReadoutExport();
    ~ReadoutExport();

    // Both before the module is connected, so that a taken port costs nothing sent.
    bool serveMetrics(const QHostAddress &address, quint16 port, QString &error);
    bool publish(const QString &endpoint, int highWaterMark, QString &error);

    bool serving() const { return server != nullptr; }
    bool publishing() const { return publisher.isBound(); }
    QString metricsUrl() const { return server ? server->url() : QString(); }
    QString publishEndpoint() const { return publisher.endpoint(); }
    const ReportPublisher &stream() const { return publisher; }

    void setModule(const QString &address, quint16 port);
    void setConnected(bool up) { metrics.setConnected(up); }
    void setRecorder(const RunCounters *recorder) { metrics.setRecorder(recorder); }

    // Null while no metrics are served: then nothing needs counting.
    ReportTally *tally() { return server ? &counting : nullptr; }
    // A batch of whole report packets as read; time stamped now.
    void batch(const char *packets, qsizetype size, quint32 reports);
    // After each read, before its reports are counted: stamps them, and merges the counts for
    // the scrape when their interval is over (force: at once, as at the end).
    void tick(bool force = false);

    static constexpr int MergeMs = 100;

private:
    ReportRates rates;
    ReportTally counting;
    ReportMetrics metrics{&rates};
    ReportPublisher publisher;
    std::unique_ptr<MetricsServer> server;
    QElapsedTimer sinceMerge;
};
