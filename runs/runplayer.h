#pragma once

#include "reportobserver.h"
#include "reportrates.h"
#include "runreader.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

// Plays a run file back into the views of live data, without a module: every report is counted
// into the rates as the command thread counts them, and the log gets a bounded share of the
// text (as while recording: one piece every LogShareMs at most, with a line saying how many
// reports it did not show). It works in slices on the calling thread's event loop, so a window
// stays responsive: as fast as possible, or at the recorded pace.
class RunPlayer : public QObject
{
    Q_OBJECT
public:
    static constexpr int LogShareMs = 100;
    static constexpr int SliceMs = 15;

    RunPlayer(ReportRates *rates, int logThreshold, QObject *parent = nullptr);

    bool open(const QString &path);
    // Also hands every report played to observer (the window's histograms); set before start.
    void setObserver(std::unique_ptr<ReportObserver> o) { observer = std::move(o); }
    void start(bool recordedPace);
    void stop();
    bool isPlaying() const { return timer.isActive(); }

    QString errorString() const { return error; }
    quint64 reports() const { return played; }
    quint64 reportsNotShown() const { return notShownTotal; }
    const RunHeader &header() const { return reader.header(); }

signals:
    // A piece of report text for the log; valid during the call.
    void logText(QString *text);
    // The run has been played to its end (ok), or stopped, or its file is damaged (message says).
    void finished(bool ok, const QString &message);

private:
    void slice();
    void end(bool ok, const QString &message);

    ReportRates *rates;
    int logThreshold;
    RunReader reader;
    ReportTally tally;
    std::unique_ptr<ReportObserver> observer;
    QTimer timer;
    QElapsedTimer clock, sinceShare;
    bool paced = false;
    bool haveBatch = false;
    RunBatch batch;
    qint64 firstNs = -1;
    quint64 played = 0, notShown = 0, notShownTotal = 0;
    QString text, error;
};
