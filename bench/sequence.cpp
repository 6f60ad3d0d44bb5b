// tarnixctl run against the software module on loopback (the module runs in this process): a
// sequence of 1,000 D32 writes and 100 reads with expect, in one run on one connection, against
// the same 1,100 accesses as separate tarnixctl write and read calls, in the same run.
//  bench_sequence [writes] [reads]       (defaults: 1000 100)
#include "tarnixsim.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

namespace {

bool ctl(const QStringList &args)
{
    QProcess p;
    p.start(QStringLiteral(TARNIXCTL_EXE), args);
    return p.waitForFinished(600000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int writes = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int reads = argc > 2 ? std::atoi(argv[2]) : 100;
    if (writes < 1 || reads < 1 || reads > writes)
        return 2;
    SimConfig config;
    config.tcpPort = 0;
    config.udpPort = 0;
    TarnixSimThread module;
    QTemporaryDir dir;
    if (!dir.isValid() || !module.startSim(config)) {
        std::fprintf(stderr, "module: %s\n", qPrintable(module.errorString()));
        return 1;
    }
    const QStringList aim = {QStringLiteral("-a"), QStringLiteral("127.0.0.1"), QStringLiteral("--tcp-port"),
                             QString::number(module.sim()->tcpPort())};
    auto address = [](int i) { return QStringLiteral("0x%1").arg(0x00100000 + 4 * i, 8, 16, QLatin1Char('0')); };

    // Writes at 1,000 addresses; every tenth followed by a read of the address with expect.
    QByteArray text = "defaults: {address mode: A32, data mode: D32}\nsteps:\n";
    QList<QStringList> calls;
    const int every = writes / reads;
    for (int i = 0; i < writes; ++i) {
        text += QStringLiteral("  - write: {address: %1, data: %2}\n").arg(address(i)).arg(i).toUtf8();
        calls << (aim + QStringList{QStringLiteral("write"), address(i), QString::number(i)});
        if ((i + 1) % every == 0 && calls.size() < writes + reads) {
            text += QStringLiteral("  - read: {address: %1, expect: %2}\n").arg(address(i)).arg(i).toUtf8();
            calls << (aim + QStringList{QStringLiteral("read"), address(i)});
        }
    }
    QFile file(dir.filePath(QStringLiteral("bench.yaml")));
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        return 1;
    file.close();

    QElapsedTimer t;
    t.start();
    if (!ctl(aim + QStringList{QStringLiteral("run"), file.fileName()})) {
        std::fprintf(stderr, "run failed\n");
        return 1;
    }
    const double runSeconds = double(t.nsecsElapsed()) / 1e9;
    t.restart();
    for (const QStringList &args : calls) {
        if (!ctl(args)) {
            std::fprintf(stderr, "tarnixctl %s failed\n", qPrintable(args.join(QLatin1Char(' '))));
            return 1;
        }
    }
    const double callSeconds = double(t.nsecsElapsed()) / 1e9;
    const qsizetype steps = calls.size();
    std::printf("%lld steps (%d writes, %lld reads with expect)\n", static_cast<long long>(steps), writes,
                static_cast<long long>(steps - writes));
    std::printf("one run:          %.3f s, %.0f steps/s\n", runSeconds, double(steps) / runSeconds);
    std::printf("separate calls:   %.3f s, %.0f steps/s\n", callSeconds, double(steps) / callSeconds);
    std::printf("ratio:            %.1f times faster\n", callSeconds / runSeconds);
    return 0;
}
