#pragma once

#include "reportrates.h"
#include "runwriter.h"

#include <QByteArray>
#include <QMutex>
#include <QString>

#include <atomic>

class ReportPublisher;

// The metrics of one module's readout, as a page for Prometheus: the counts per source from the
// shared report counting, the connection's state, and the counters of the report stream and the
// recorder where they run. Any thread may ask for the page; the counts come from ReportRates
// (under its lock) and the rest from atomics.
class ReportMetrics
{
public:
    explicit ReportMetrics(ReportRates *rates) : rates(rates) {}

    void setModule(const QString &address, quint16 port);
    // Connection up or down; each step up counts as a connect.
    void setConnected(bool up);
    // Either may be null (not running); they must outlive this object or be unset first.
    void setPublisher(const ReportPublisher *publisher);
    void setRecorder(const RunCounters *recorder);

    QByteArray page();

    // The page for these counts (the part a test or a benchmark can give by hand).
    struct Extra
    {
        bool connected = false;
        quint64 connects = 0;
        QString address;
        quint16 port = 0;
        const ReportPublisher *publisher = nullptr;
        const RunCounters *recorder = nullptr;
    };
    static QByteArray page(const ReportRates::Snapshot &counts, const Extra &extra);

private:
    ReportRates *rates;
    QMutex mutex; // module, publisher, recorder
    QString address;
    quint16 port = 0;
    const ReportPublisher *publisher = nullptr;
    const RunCounters *recorder = nullptr;
    std::atomic<bool> connected{false};
    std::atomic<quint64> connects{0};
};
