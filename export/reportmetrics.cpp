#include "reportmetrics.h"

#include "exposition.h"
#include "reportpublisher.h"

#include <QMutexLocker>

void ReportMetrics::setModule(const QString &address_, quint16 port_)
{
    QMutexLocker lock(&mutex);
    address = address_;
    port = port_;
}

void ReportMetrics::setConnected(bool up)
{
    if (up && !connected.exchange(true))
        ++connects;
    else if (!up)
        connected = false;
}

void ReportMetrics::setPublisher(const ReportPublisher *p)
{
    QMutexLocker lock(&mutex);
    publisher = p;
}

void ReportMetrics::setRecorder(const RunCounters *r)
{
    QMutexLocker lock(&mutex);
    recorder = r;
}

QByteArray ReportMetrics::page()
{
    const ReportRates::Snapshot counts = rates ? rates->totals() : ReportRates::Snapshot();
    QMutexLocker lock(&mutex);
    Extra extra;
    extra.connected = connected;
    extra.connects = connects;
    extra.address = address;
    extra.port = port;
    extra.publisher = publisher;
    extra.recorder = recorder;
    return page(counts, extra);
}

QByteArray ReportMetrics::page(const ReportRates::Snapshot &counts, const Extra &extra)
{
    Exposition e;
    // A source is one ID at one priority level, sent by the polling program or an interrupt's.
    QVector<Exposition::Labels> labels;
    labels.reserve(counts.sources.size());
    for (const ReportRates::Source &s : counts.sources) {
        labels.append({{"id", "0x" + QByteArray::number(s.id, 16).rightJustified(2, '0')},
                       {"level", QByteArray::number(s.level)},
                       {"kind", s.polling ? QByteArrayLiteral("polling") : QByteArrayLiteral("interrupt")}});
    }

    e.family("tarnix_reports_total", "counter", "Reports received from the module's programs, per source.");
    for (qsizetype i = 0; i < labels.size(); ++i)
        e.sample("tarnix_reports_total", labels.at(i), counts.sources.at(i).count);
    e.family("tarnix_report_bytes_total", "counter", "Bytes of those reports, headers included, per source.");
    for (qsizetype i = 0; i < labels.size(); ++i)
        e.sample("tarnix_report_bytes_total", labels.at(i), counts.sources.at(i).bytes);
    e.family("tarnix_last_report_timestamp_seconds", "gauge",
             "When the last report of the source arrived, in seconds since the epoch.");
    for (qsizetype i = 0; i < labels.size(); ++i)
        e.sample("tarnix_last_report_timestamp_seconds", labels.at(i), counts.sources.at(i).lastSeen / 1000.0);

    e.family("tarnix_crc_errors_total", "counter", "Packet headers from the module with a wrong CRC.");
    e.sample("tarnix_crc_errors_total", counts.crcErrors);
    e.family("tarnix_connected", "gauge", "1 while the command channel to the module is connected.");
    e.sample("tarnix_connected", quint64(extra.connected));
    e.family("tarnix_connects_total", "counter", "Connections made to the module.");
    e.sample("tarnix_connects_total", extra.connects);
    if (!extra.address.isEmpty()) {
        e.family("tarnix_module_info", "gauge", "The module read out: its address and TCP port.");
        e.sample("tarnix_module_info",
                 {{"address", extra.address.toUtf8()}, {"port", QByteArray::number(extra.port)}}, quint64(1));
    }

    if (const ReportPublisher *p = extra.publisher) {
        e.family("tarnix_published_messages_total", "counter", "Messages of reports sent on the stream.");
        e.sample("tarnix_published_messages_total", p->sent());
        e.family("tarnix_publish_dropped_messages_total", "counter",
                 "Messages of reports not sent because a subscriber fell behind (high-water mark).");
        e.sample("tarnix_publish_dropped_messages_total", p->dropped());
        e.family("tarnix_published_bytes_total", "counter", "Bytes of reports sent on the stream.");
        e.sample("tarnix_published_bytes_total", p->sentBytes());
    }
    if (const RunCounters *r = extra.recorder) {
        e.family("tarnix_recording", "gauge", "1 while a run file is being recorded.");
        e.sample("tarnix_recording", quint64(r->state.load() == RunCounters::Recording));
        e.family("tarnix_recorded_bytes_total", "counter", "Bytes written to the run file.");
        e.sample("tarnix_recorded_bytes_total", r->fileBytes.load());
        e.family("tarnix_recorded_reports_total", "counter", "Reports recorded into the run file.");
        e.sample("tarnix_recorded_reports_total", r->reports.load());
    }
    return e.take();
}
