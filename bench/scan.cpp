// tarnixctl scan against the software module on loopback (the module runs in this process, so
// it takes one of the cores): the A32 scan of its upper 16 bits (65,536 steps) with one read in
// flight and with several, in one run; each setting three times, the median taken.
//  bench_scan [steps] [in-flight...]       (defaults: 65536, then 1 4 16 64 128)
#include "tarnixsim.h"

#include <QCoreApplication>
#include <QProcess>
#include <QRegularExpression>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// Steps per second of one scan, -1 when it failed or found other than the crate's two slaves.
double scanRate(quint16 port, quint64 steps, int inFlight)
{
    const QStringList args = {QStringLiteral("-a"), QStringLiteral("127.0.0.1"), QStringLiteral("--tcp-port"),
                              QString::number(port), QStringLiteral("scan"), QStringLiteral("--address-mode"),
                              QStringLiteral("A32"), QStringLiteral("--to"),
                              QStringLiteral("0x%1").arg((steps - 1) * 0x10000, 0, 16),
                              QStringLiteral("--in-flight"), QString::number(inFlight)};
    QProcess p;
    p.start(QStringLiteral(TARNIXCTL_EXE), args);
    if (!p.waitForFinished(600000) || p.exitCode() != 0)
        return -1;
    const QString out = QString::fromLocal8Bit(p.readAllStandardOutput());
    const QString summary = QString::fromLocal8Bit(p.readAllStandardError());
    if (out.count(QLatin1Char('\n')) != 2)
        return -1;
    const auto m = QRegularExpression(QStringLiteral("\\((\\d+) addresses/s\\)")).match(summary);
    return m.hasMatch() ? m.captured(1).toDouble() : -1;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const quint64 steps = argc > 1 ? std::strtoull(argv[1], nullptr, 0) : 65536;
    std::vector<int> windows;
    for (int i = 2; i < argc; ++i)
        windows.push_back(std::atoi(argv[i]));
    if (windows.empty())
        windows = {1, 4, 16, 64, 128};
    if (steps < 2 || steps > 65536)
        return 2;

    // A crate with two slaves in A32, one at the first step and one at the last.
    SimConfig config;
    config.tcpPort = 0;
    config.udpPort = 0;
    config.slaves = {{2, {0, 0xFFFF}}, {2, {quint32((steps - 1) * 0x10000), quint32((steps - 1) * 0x10000 + 0xFFFF)}}};
    TarnixSimThread module;
    if (!module.startSim(config)) {
        std::fprintf(stderr, "module: %s\n", qPrintable(module.errorString()));
        return 1;
    }
    double single = 0;
    for (int w : windows) {
        std::vector<double> rates;
        for (int run = 0; run < 3; ++run)
            rates.push_back(scanRate(module.sim()->tcpPort(), steps, w));
        std::sort(rates.begin(), rates.end());
        if (rates.front() < 0) {
            std::fprintf(stderr, "scan with %d in flight failed\n", w);
            return 1;
        }
        const double median = rates[1];
        if (w == 1)
            single = median;
        std::printf("scan A32, %llu steps, %3d in flight: median %.0f steps/s (%.0f-%.0f)",
                    static_cast<unsigned long long>(steps), w, median, rates.front(), rates.back());
        if (single > 0 && w != 1)
            std::printf(", %.1fx one in flight", median / single);
        std::printf("\n");
    }
    return 0;
}
