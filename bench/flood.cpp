// End to end: the software module floods reports over loopback into the running window
// (offscreen). Reports that reach the log per second, the longest stall of the window's event
// loop, and peak memory; beside it, in the same run, the rate at which a bare QPlainTextEdit with
// the same block limit absorbs the same text, which is the most the log can reach.
//
//   bench_flood [reports] [-s pause] [-l log size] [--log-hidden | --rates]
//       (the window's own options after the count; --log-hidden keeps the log's page behind the
//        Interactive Mode page, --rates behind the Rates page, which redraws as the counts grow;
//        either way the bare widget's page is behind another)
#include "benchmodule.h"
#include "benchsupport.h"
#include "mainwindow.h"
#include "packet.h"
#include "reporttext.h"
#include "tarnixsim.h"
#include "tcpthread.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTabWidget>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>

#include <cstdio>
#include <functional>

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const qint64 reports = argc > 1 ? QByteArray(argv[1]).toLongLong() : 1000000;

    TarnixSimThread simThread;
    if (!startModule(simThread))
        return 1;

    QList<QByteArray> words{"tarnix2-utility", "-a", "127.0.0.1"};
    for (int i = 2; i < argc; ++i)
        if (QByteArray(argv[i]) != "--log-hidden" && QByteArray(argv[i]) != "--rates")
            words << argv[i];
    WindowArgs args(words);
    MainWindow w(args.argc(), args.argv.data());
    w.findChild<QLineEdit *>(QStringLiteral("tcp"))->setText(QString::number(simThread.sim()->tcpPort()));
    w.show();
    auto *log = w.findChild<QPlainTextEdit *>(QStringLiteral("log"));

    w.findChild<QPushButton *>(QStringLiteral("connect"))->click();
    if (!spinUntil([&] { return w.statusBar()->currentMessage() == QLatin1String("connected"); }, 5000) ||
        !spinUntil([&] { return simThread.sim()->connectionCount() == 1; }, 5000)) {
        std::fprintf(stderr, "no connection\n");
        return 1;
    }

    // Every report's text has the same length, so the characters that reach the document count them.
    QString one;
    {
        kelvo_vme_master_header h;
        h.address = 0;
        h.length = 0x10000004;
        h.mode = 0x0A00;
        h.id = 5;
        const char d[4] = {0, 0, 0, 0};
        ReportText::appendReport(h, d, 4, one);
    }
    const qint64 perReport = one.size();
    qint64 added = 0, appends = 0;
    QObject::connect(log->document(), &QTextDocument::contentsChange, [&](int, int, int charsAdded) {
        if (charsAdded > 0) {
            added += charsAdded;
            ++appends;
        }
    });

    // The operator watches the log while it fills.
    // (--log-hidden: the Interactive Mode page stays in front, the log's page is never shown.)
    const bool ratesShown = QCoreApplication::arguments().contains(QStringLiteral("--rates"));
    const bool logHidden = ratesShown || QCoreApplication::arguments().contains(QStringLiteral("--log-hidden"));
    if (ratesShown)
        w.findChild<QTabWidget *>(QStringLiteral("tabWidget"))->setCurrentWidget(w.findChild<QWidget *>(QStringLiteral("tab_rates")));
    else if (!logHidden)
        w.findChild<QTabWidget *>(QStringLiteral("tabWidget"))->setCurrentWidget(w.findChild<QWidget *>(QStringLiteral("tab_3")));
    StallMeter stall;
    stall.start();
    SimReportBurst burst;
    burst.count = reports;
    QElapsedTimer t;
    t.start();
    simThread.sim()->startReports(burst);
    // The first append into the empty log adds no block separator, every later one adds one.
    auto arrived = [&] { return (added - qMax<qint64>(0, appends - 1)) / perReport; };
    // Generous: the default pause lets about 1600 reports a second through.
    const bool all = spinUntil([&] { return arrived() >= reports; }, int(qMin<qint64>(60000 + reports * 2, 1800000)));
    const double secs = t.nsecsElapsed() / 1e9;
    const qint64 got = arrived();
    const qint64 worstStall = stall.stop();

    // The tail that the log keeps must be the last reports, consecutive and in order.
    static const QRegularExpression row(
        QStringLiteral("^\\[0x00000000\\]:([0-9a-f]{2}) ([0-9a-f]{2}) ([0-9a-f]{2}) ([0-9a-f]{2}) $"));
    qint64 previous = -1, kept = 0;
    bool ordered = true;
    for (QTextBlock b = log->document()->begin(); b.isValid(); b = b.next()) {
        const auto m = row.match(b.text());
        if (!m.hasMatch())
            continue;
        const qint64 k = QString(m.captured(1) + m.captured(2) + m.captured(3) + m.captured(4)).toLongLong(nullptr, 16);
        if (previous >= 0 && k != previous + 1)
            ordered = false;
        previous = k;
        ++kept;
    }
    const bool tailOk = ordered && previous == reports - 1;
    const int blocks = log->document()->blockCount();
    const int limit = log->maximumBlockCount();

    // The ceiling: a bare QPlainTextEdit with the same limit appending the same text in the same batches.
    // It gets the log's font, size and read-only state, so that it lays out the same lines.
    QTabWidget holder;
    holder.addTab(new QWidget, QStringLiteral("front"));
    auto &bare = *new QPlainTextEdit;
    holder.addTab(&bare, QStringLiteral("behind"));
    holder.resize(w.size());
    bare.setMaximumBlockCount(limit);
    bare.setReadOnly(true);
    bare.setFont(log->font());
    bare.resize(log->size());
    if (!logHidden)
        holder.setCurrentIndex(1);
    holder.show();
    const qint64 perBatch = qMax<qint64>(1, appends ? got / appends : 1);
    QString batch;
    for (qint64 i = 0; i < perBatch; ++i)
        batch += one;
    const qint64 bareReports = qMin<qint64>(reports, 400000);
    stall.start();
    QElapsedTimer tb;
    tb.start();
    qint64 longestAppendNs = 0;
    for (qint64 done = 0; done < bareReports; done += perBatch) {
        const qint64 before = tb.nsecsElapsed();
        bare.appendPlainText(batch);
        longestAppendNs = qMax(longestAppendNs, tb.nsecsElapsed() - before);
        QCoreApplication::processEvents();
    }
    const double bareSecs = tb.nsecsElapsed() / 1e9;
    const double bareRate = bareReports / bareSecs;
    const qint64 bareStall = stall.stop();

    const char *pause = "40 (default)";
    for (int i = 2; i + 1 < argc; ++i)
        if (QByteArray(argv[i]) == "-s")
            pause = argv[i + 1];
    std::printf("pause -s %s, log limit %d blocks, %lld reports sent\n", pause, limit,
                static_cast<long long>(reports));
    std::printf("reached the log:   %lld reports in %.2f s = %.0f reports/s (%s)\n", static_cast<long long>(got),
                secs, got / secs, all ? "all" : "TIMED OUT");
    std::printf("log tail:          %lld reports kept, %s, %d blocks\n", static_cast<long long>(kept),
                tailOk ? "consecutive and ending with the last report" : "NOT IN ORDER", blocks);
    std::printf("longest stall of the window's event loop: %lld ms\n", static_cast<long long>(worstStall));
    std::printf("bare QPlainTextEdit, same limit and batches of %lld reports: %.0f reports/s, longest stall %lld ms\n",
                static_cast<long long>(perBatch), bareRate, static_cast<long long>(bareStall));
    std::printf("bare QPlainTextEdit, longest single append (Qt's own work on the document): %lld ms\n",
                static_cast<long long>(longestAppendNs / 1000000));
    std::printf("log rate / bare widget rate: %.0f %%\n", 100.0 * (got / secs) / bareRate);
    std::printf("peak memory (VmHWM): %lld MiB\n", peakRssKiB() / 1024);
    // The Rates tab counts what was framed, whether it shows or not.
    auto *total = w.findChild<QLabel *>(QStringLiteral("totalReports"));
    const QString counted = QStringLiteral("Reports: %1").arg(reports);
    if (ratesShown && !spinUntil([&] { return total->text() == counted; }, 3000))
        std::printf("Rates tab: %s, expected %s\n", qPrintable(total->text()), qPrintable(counted));
    w.findChild<QPushButton *>(QStringLiteral("connect"))->click();
    simThread.stopSim();
    return all && tailOk ? 0 : 2;
}
