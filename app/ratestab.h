#pragma once

#include "reportrates.h"

#include <QTimer>
#include <QWidget>

class QLabel;
class QTableWidget;

// Reports per second over the last minute, painted as one line: a handful of points a few times a
// second needs no chart library.
class RatePlot : public QWidget
{
    Q_OBJECT
public:
    explicit RatePlot(QWidget *parent = nullptr);
    void setPoints(const QVector<QPair<qint64, double>> &points, qint64 now);
    QSize sizeHint() const override { return {400, 140}; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QVector<QPair<qint64, double>> points;
    qint64 now = 0;
};

// The "Rates" tab: how many reports came, how fast, from which source, and the last minute's
// rate. It samples the shared counts a few times a second (also while hidden, so that the
// minute stays whole) and redraws only while shown. Reset clears the counts, not the log.
class RatesTab : public QWidget
{
    Q_OBJECT
public:
    static constexpr int SampleMs = 250;

    explicit RatesTab(ReportRates *rates, QWidget *parent = nullptr);
    // The counts as of the last sample (the sources seen, for the Histograms tab).
    const ReportRates::Snapshot &lastSample() const { return last; }
    // A row of settings below the plot (the metrics and the report stream).
    void addSettingsRow(QWidget *row);

public slots:
    void refresh();
    void reset();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void display(const ReportRates::Snapshot &s);

    ReportRates *rates;
    ReportRates::Snapshot last;
    QLabel *total;
    QLabel *perSecond;
    QLabel *crcErrors;
    QTableWidget *table;
    RatePlot *plot;
    QTimer timer;
};
