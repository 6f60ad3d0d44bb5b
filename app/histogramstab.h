#pragma once

#include "histogram.h"
#include "reportrates.h"

#include <QTimer>
#include <QWidget>

#include <functional>

class QCheckBox;
class QComboBox;
class QLabel;
class QListWidget;
class QSpinBox;

// One histogram, painted: 1D as columns (each pixel column shows the largest bin it covers, so that
// a narrow peak among 65,536 bins stays visible), 2D as a colour map. Linear or log counts; a drag
// across the plot zooms on that x range; the pointer's bin is told through hovered().
class HistogramPlot : public QWidget
{
    Q_OBJECT
public:
    explicit HistogramPlot(QWidget *parent = nullptr);
    void setHistogram(const HistogramDef &def, const QVector<quint64> &bins);
    void setLog(bool on);
    // The x bins shown, from..to inclusive (clamped to the histogram).
    void setRange(int from, int to);
    void unzoom() { setRange(0, def.xBins() - 1); }
    int from() const { return first; }
    int to() const { return last; }
    QSize sizeHint() const override { return {600, 320}; }

signals:
    void rangeChanged(int from, int to);
    // The bin under the pointer: x (and y in 2D) and its count; x -1 when the pointer left the plot.
    void hovered(int x, int y, quint64 count);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    QRect plotArea() const;
    // The x bin at a widget x (clamped to the shown range), and the y bin (2D) at a widget y.
    int binAtX(int px) const;
    int binAtY(int py) const;
    double scaled(quint64 count, quint64 top) const;

    HistogramDef def;
    QVector<quint64> bins;
    bool log = false;
    int first = 0, last = 0;
    int dragFrom = -1, dragTo = -1; // widget x of a zoom drag
};

// The "Histograms" tab: histograms of the reports' data items, defined from the sources that the
// Rates tab has seen, listed on the left, the chosen one drawn large with its statistics over the
// shown range. The counts live in the shared set (filled by the command thread); the tab copies
// the shown one a few times a second while it is visible.
class HistogramsTab : public QWidget
{
    Q_OBJECT
public:
    static constexpr int RefreshMs = 250;

    HistogramsTab(HistogramSet *set, std::function<QVector<ReportRates::Source>()> sources,
                  QWidget *parent = nullptr);

    HistogramPlot *plot() const { return view; }
    // The shown histogram; false when there is none.
    bool exportCsv(const QString &path, QString *error) const;
    bool exportPng(const QString &path) const;
    int shownHandle() const { return shown; }

public slots:
    void refresh();
    void addHistogram();
    void removeHistogram();
    void clearHistogram();
    void saveCsv();
    void savePng();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void refreshSources();
    void refreshList();
    void showStatistics();
    void select(int row);

    HistogramSet *set;
    std::function<QVector<ReportRates::Source>()> sources;
    QVector<int> sourceKeys; // of the source box's entries
    HistogramCounts counts;  // of the shown histogram
    HistogramDef shownDef;
    quint64 shownVersion = ~quint64(0);
    int shown = 0;
    QTimer timer;

    QComboBox *source;
    QSpinBox *item, *low, *width;
    QCheckBox *twoD;
    QSpinBox *item2, *low2, *width2;
    QListWidget *list;
    HistogramPlot *view;
    QCheckBox *logCounts;
    QLabel *statistics;
    QLabel *pointer;
};
