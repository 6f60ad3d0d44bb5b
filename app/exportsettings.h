#pragma once

#include "metricsserver.h"
#include "reportmetrics.h"
#include "reportpublisher.h"
#include "streamtap.h"

#include <QWidget>

class QCheckBox;
class QLabel;
class QLineEdit;
class QSpinBox;

// The Rates tab's row for the lab's systems: serve the counts as Prometheus metrics (off until
// the operator turns it on, on 127.0.0.1 unless another address is given) and publish the
// reports on a ZeroMQ endpoint. Each takes effect when ticked; a failure unticks it and says why.
class ExportSettings : public QWidget
{
    Q_OBJECT
public:
    static constexpr quint16 DefaultMetricsPort = 9464;

    explicit ExportSettings(ReportRates *rates, QWidget *parent = nullptr);
    ~ExportSettings() override;

    // The connection the counts belong to (window's thread).
    void setModule(const QString &address, quint16 port);
    void setConnected(bool up) { metrics.setConnected(up); }
    // Where the command thread hands the reports while publishing; null otherwise.
    ReportRecorder *tap() { return publisher.isBound() ? &streamTap : nullptr; }
    quint16 metricsPort() const { return server.port(); }

signals:
    // The tap came or went: hand it to the command thread (before it is closed).
    void tapChanged(ReportRecorder *tap);

private:
    void serve(bool on);
    void publish(bool on);

    ReportMetrics metrics;
    MetricsServer server;
    ReportPublisher publisher;
    StreamTap streamTap{publisher};
    QCheckBox *metricsOn;
    QLineEdit *metricsAddress;
    QSpinBox *metricsPortBox;
    QLabel *metricsState;
    QCheckBox *publishOn;
    QLineEdit *endpoint;
    QLabel *publishState;
};
