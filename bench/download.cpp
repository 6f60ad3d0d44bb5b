// A download as the operator feels it: from pressing Download to the button coming back, with a
// full 2 KiB program image, the real window (offscreen) and the software module on loopback.
// The window gives the module a fixed 100 ms to stop its programs before it rewrites their
// tables; the figure that matters is the time beyond that wait.
//
//   bench_download [-n downloads]
#include "benchmodule.h"
#include "benchsupport.h"
#include "mainwindow.h"
#include "tarnixsim.h"
#include "vmeprogram.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr double StopWaitMs = 100.0;

double percentile(const QVector<double> &sorted, double p)
{
    const int rank = int(std::ceil(p * sorted.size())) - 1;
    return sorted.at(std::clamp(rank, 0, int(sorted.size()) - 1));
}

// A polling program that, with the default vector record and the seven INTR records the layout
// adds (64 bytes), fills the 2048-byte image.
VmeProgram *fullPollingProgram(MainWindow &w)
{
    auto *p = new VmeProgram;
    p->number = 0;
    p->level = 1;
    VmeProgram::toByteArray(1000000u, p->data);
    for (int i = 0; i < (2048 - 64) / 8; ++i) {
        auto *ins = new VmeInstruction;
        ins->address = quint32(4 * i);
        ins->dataMode = 2;
        ins->addressMode = 2;
        ins->length = 1;
        ins->id = quint8(i % 127); // 127 stays free for the default vector program
        w.setID(ins->id, true);
        p->instructions << ins;
    }
    return p;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int downloads = 50;
    for (int i = 1; i + 1 < argc; ++i) {
        if (QByteArray(argv[i]) == "-n")
            downloads = std::max(1, QByteArray(argv[++i]).toInt());
    }

    TarnixSimThread module;
    if (!startModule(module))
        return 1;
    WindowArgs args({"tarnix2-utility", "-a", "127.0.0.1"});
    MainWindow w(args.argc(), args.argv.data());
    w.findChild<QLineEdit *>(QStringLiteral("udp"))->setText(QString::number(module.sim()->udpPort()));
    w.findChild<QPushButton *>(QStringLiteral("read"))->click();
    auto *download = w.findChild<QPushButton *>(QStringLiteral("download"));
    if (!spinUntil([&] { return download->isEnabled(); }, 10000)) {
        std::fprintf(stderr, "the module's settings could not be read\n");
        return 1;
    }
    w.setProgram(fullPollingProgram(w));
    w.setEvent(0x01);

    QVector<double> totals;
    QElapsedTimer clock;
    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    for (int i = 0; i < downloads; ++i) {
        clock.start();
        download->click();
        // The window's end of the download runs first (it was connected first).
        const auto ended = QObject::connect(w.findChild<QObject *>(QStringLiteral("tab_4"))->findChild<QRbcp *>(),
                                            &QRbcp::closed, &loop, [&] {
                                                if (!w.downloadRunning())
                                                    loop.quit();
                                            });
        limit.start(10000);
        loop.exec();
        const double ms = double(clock.nsecsElapsed()) / 1e6;
        QObject::disconnect(ended);
        if (!download->isEnabled()) {
            std::fprintf(stderr, "download %d did not end\n", i + 1);
            return 1;
        }
        totals << ms;
    }
    if (w.moduleMemory().image.size() != 2048 ||
        module.sim()->readRegisters(2048, 2048) != w.moduleMemory().image) {
        std::fprintf(stderr, "the module's image differs from the layout\n");
        return 1;
    }
    std::sort(totals.begin(), totals.end());
    std::printf("downloads of a 2048-byte image: %d\n", downloads);
    std::printf("pressed to end: median %.1f ms, 95th percentile %.1f ms, min %.1f ms\n", percentile(totals, 0.5),
                percentile(totals, 0.95), totals.first());
    std::printf("beyond the %.0f ms stop wait: median %.1f ms, 95th percentile %.1f ms\n", StopWaitMs,
                percentile(totals, 0.5) - StopWaitMs, percentile(totals, 0.95) - StopWaitMs);
    return 0;
}
