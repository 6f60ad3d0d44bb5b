// A scrape of the metrics of all 4,096 sources, and what --metrics and --publish cost listen
// and record against tarnix-sim's fastest flood (rounds interleaved, best of each kind).
#include "metricsserver.h"
#include "reportmetrics.h"
#include "tarnixsim.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>
#include <zmq.hpp>

namespace {

// One HTTP GET of /metrics over a fresh connection, as a scraper makes it; the bytes received.
qint64 scrape(quint16 port)
{
    QTcpSocket s;
    s.connectToHost(QStringLiteral("127.0.0.1"), port);
    if (!s.waitForConnected(3000))
        return -1;
    s.write("GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    // Read to the end of the body that Content-Length announces.
    QByteArray got;
    qsizetype end = -1;
    while (end < 0 || got.size() < end) {
        if (!s.waitForReadyRead(3000))
            return -1;
        got += s.readAll();
        const qsizetype head = got.indexOf("\r\n\r\n");
        const auto m = QRegularExpression(QStringLiteral("content-length: *(\\d+)"), QRegularExpression::CaseInsensitiveOption)
                           .match(QString::fromLatin1(got.left(head)));
        if (head >= 0 && m.hasMatch())
            end = head + 4 + m.captured(1).toLongLong();
    }
    return got.size();
}

double run(const QStringList &args)
{
    QProcess p;
    p.setStandardOutputFile(QStringLiteral("/dev/null"));
    p.start(QStringLiteral(TARNIXCTL_EXE), args);
    if (!p.waitForFinished(600000) || p.exitCode() != 0)
        return -1;
    const QString summary = QString::fromLocal8Bit(p.readAllStandardError());
    const auto m = QRegularExpression(QStringLiteral("\\((\\d+) reports/s\\)")).match(summary);
    return m.hasMatch() ? m.captured(1).toDouble() : -1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const qint64 reports = argc > 1 ? std::atoll(argv[1]) : 2000000;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;

    // Every source a module can have: 256 IDs at 8 levels, polling and interrupt.
    ReportRates rates;
    ReportTally tally;
    const char data[4] = {1, 2, 3, 4};
    tally.setTime(1700000000000);
    for (int key = 0; key < ReportTally::SourceCount; ++key) {
        kelvo_vme_master_header h;
        h.id = quint8(key & 0xFF);
        h.length = (quint32(key >> 8) << 28) | 4;
        for (int i = 0; i <= key % 7; ++i)
            tally.count(h, data, 4);
    }
    rates.merge(tally, 1700000000000);
    ReportMetrics metrics(&rates);
    QElapsedTimer t;
    t.start();
    QByteArray page;
    for (int i = 0; i < 20; ++i)
        page = metrics.page();
    const double pageMs = t.nsecsElapsed() / 1e6 / 20;
    MetricsServer server([&] { return metrics.page(); });
    if (!server.start(QHostAddress::LocalHost, 0))
        return 1;
    std::vector<double> ms;
    for (int i = 0; i < 20; ++i) {
        t.start();
        if (scrape(server.port()) < page.size())
            return 1;
        ms.push_back(t.nsecsElapsed() / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    std::printf("metrics of %d sources: page %lld bytes, built in %.2f ms; HTTP scrape median %.2f ms, worst %.2f ms\n",
                ReportTally::SourceCount, static_cast<long long>(page.size()), pageMs, ms[ms.size() / 2], ms.back());

    SimConfig burst;
    burst.tcpPort = burst.udpPort = 0;
    burst.reportsOnConnect = true;
    burst.reports.count = 0;
    TarnixSimThread module;
    if (!module.startSim(burst))
        return 1;
    QTemporaryDir dir;
    const QStringList aim = {QStringLiteral("-a"), QStringLiteral("127.0.0.1"), QStringLiteral("--tcp-port"),
                             QString::number(module.sim()->tcpPort()), QStringLiteral("--count"),
                             QString::number(reports)};
    const QStringList both = {QStringLiteral("--metrics"), QStringLiteral("127.0.0.1:0"), QStringLiteral("--publish"),
                              QStringLiteral("ipc://") + dir.filePath(QStringLiteral("stream"))};
    const QStringList record = {QStringLiteral("--force"), QStringLiteral("record"), dir.filePath(QStringLiteral("run"))};
    const QStringList listen = {QStringLiteral("--raw"), QStringLiteral("/dev/null"), QStringLiteral("listen")};
    // A subscriber that never reads: the stream fills its queue, then drops.
    zmq::context_t context;
    zmq::socket_t idle(context, zmq::socket_type::sub);
    idle.set(zmq::sockopt::subscribe, "");
    idle.connect(QString(QStringLiteral("ipc://") + dir.filePath(QStringLiteral("stream"))).toStdString());

    double best[4] = {};
    for (int r = 0; r < rounds; ++r) {
        best[0] = std::max(best[0], run(aim + record));
        best[1] = std::max(best[1], run(aim + both + record));
        best[2] = std::max(best[2], run(aim + listen));
        best[3] = std::max(best[3], run(aim + both + listen));
    }
    std::printf("record, %lld reports of 16 bytes: %.0f reports/s; with --metrics --publish (an idle subscriber) "
                "%.0f reports/s (%.0f %%)\n",
                static_cast<long long>(reports), best[0], best[1], 100 * best[1] / best[0]);
    std::printf("listen --raw /dev/null: %.0f reports/s; with --metrics --publish %.0f reports/s (%.0f %%)\n",
                best[2], best[3], 100 * best[3] / best[2]);
    return 0;
}
