// The redraw of a 65,536-bin histogram, offscreen at 900 x 400: the Histograms tab's painted
// plot, and beside it the same bins as a stepped line in a chart of the Qt Charts library (what
// the tab would have used instead), each rendered into an image 20 times, median in ms.
#include "histogram.h"
#include "histogramstab.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QRandomGenerator>
#ifdef TARNIX_BENCH_CHARTS
#include <QChart>
#include <QChartView>
#include <QLineSeries>
#endif

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace {

double medianMs(QWidget &w, int times)
{
    std::vector<double> ms;
    QImage image(w.size(), QImage::Format_ARGB32_Premultiplied);
    for (int i = 0; i < times; ++i) {
        QElapsedTimer t;
        t.start();
        w.render(&image);
        ms.push_back(t.nsecsElapsed() / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    HistogramDef def;
    def.x = {0, 0, 16};
    QVector<quint64> bins(def.bins());
    QRandomGenerator rng(5);
    for (int i = 0; i < 2000000; ++i) {
        const double v = i % 5 ? 30000 + 800 * std::sqrt(-2 * std::log(1 - rng.generateDouble())) *
                                             std::cos(6.2832 * rng.generateDouble())
                               : rng.bounded(65536);
        ++bins[std::clamp(int(v), 0, 65535)];
    }

    HistogramPlot plot;
    plot.resize(900, 400);
    plot.setHistogram(def, bins);
    const double painted = medianMs(plot, 20);
    plot.setLog(true);
    const double paintedLog = medianMs(plot, 20);

    std::printf("65,536 bins at 900 x 400, median of 20 redraws\n");
    std::printf("painted plot:              %7.2f ms (log counts %.2f ms)\n", painted, paintedLog);
#ifdef TARNIX_BENCH_CHARTS
    auto *series = new QLineSeries;
    QList<QPointF> points;
    points.reserve(2 * bins.size());
    for (int b = 0; b < bins.size(); ++b) {
        points.append(QPointF(b, double(bins[b])));
        points.append(QPointF(b + 1, double(bins[b])));
    }
    QElapsedTimer fill;
    fill.start();
    series->replace(points);
    const double replaceMs = fill.nsecsElapsed() / 1e6;
    auto *chart = new QChart;
    chart->addSeries(series);
    chart->createDefaultAxes();
    chart->legend()->hide();
    QChartView view(chart);
    view.resize(900, 400);
    const double charted = medianMs(view, 20);

    std::printf("chart, stepped line:       %7.2f ms (+ %.2f ms to hand it the 131,072 points)\n", charted, replaceMs);
    std::printf("chart / painted:           %7.1f\n", charted / painted);
#else
    std::printf("chart: not measured (the chart library was not found when this was configured)\n");
#endif
    return 0;
}
