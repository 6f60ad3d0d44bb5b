// Runs against the software module's fastest flood on loopback (reports of 12 + 4 bytes, report k
// carrying k), each figure the median of three alternating runs:
//  - tarnixctl record FILE against tarnixctl listen --raw /dev/null, and against GbE line rate
//    (7.8 million 16-byte reports/s);
//  - the window recording the same flood against tarnixctl record, with every report checked
//    (none lost or reordered) and the window's longest event-loop stall, recording and idle;
//  - decode --format csv against --format text, to /dev/null;
//  - the recorder killed with SIGKILL at a random moment: every whole block read back, in order.
//  bench_runs [reports]
#include "cmdargs.h"
#include "mainwindow.h"
#include "recordcontrol.h"
#include "runreader.h"
#include "tarnixsim.h"
#include "tcpthread.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <QtEndian>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <vector>

namespace {

const QString Ctl = QStringLiteral(TARNIXCTL_EXE);

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

double rateOf(const QString &summary)
{
    const auto m = QRegularExpression(QStringLiteral("\\((\\d+) reports/s\\)")).match(summary);
    return m.hasMatch() ? m.captured(1).toDouble() : -1;
}

double ctlRate(const QStringList &args)
{
    QProcess p;
    p.setStandardOutputFile(QStringLiteral("/dev/null"));
    p.start(Ctl, args);
    if (!p.waitForFinished(600000) || p.exitCode() != 0)
        return -1;
    return rateOf(QString::fromLocal8Bit(p.readAllStandardError()));
}

// Reports of the file in order from 0: how many, and whether any was lost or out of place.
qint64 checkRun(const QString &path, bool &inOrder, RunReader::Status &status)
{
    RunReader r;
    inOrder = r.open(path);
    quint32 next = 0;
    RunBatch b;
    while (r.next(b))
        forEachReport(b, [&](const RunReport &rep) { inOrder &= qFromBigEndian<quint32>(rep.data) == next++; });
    status = r.status();
    return next;
}

struct Stall
{
    QTimer timer;
    QElapsedTimer since;
    qint64 longest = 0;
    Stall()
    {
        timer.setInterval(5);
        QObject::connect(&timer, &QTimer::timeout, [this] {
            longest = std::max(longest, since.restart());
        });
        since.start();
        timer.start();
    }
};

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const qint64 reports = argc > 1 ? QByteArray(argv[1]).toLongLong() : 2000000;
    QTemporaryDir dir;
    TarnixSimThread module;
    SimConfig config;
    config.tcpPort = config.udpPort = 0;
    config.reportsOnConnect = true;
    config.reports.count = 0; // until the client goes
    if (!module.startSim(config))
        return 1;
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QStringList aim{QStringLiteral("-a"), QStringLiteral("127.0.0.1"), QStringLiteral("--tcp-port"),
                          QString::number(module.sim()->tcpPort())};
    const QStringList count{QStringLiteral("--count"), QString::number(reports)};
    const QString run = dir.filePath(QStringLiteral("run.pcapng"));

    std::vector<double> rec, raw;
    for (int i = 0; i < 3; ++i) {
        raw.push_back(ctlRate(aim + QStringList{QStringLiteral("listen")} + count +
                              QStringList{QStringLiteral("--raw"), QStringLiteral("/dev/null")}));
        rec.push_back(ctlRate(aim + QStringList{QStringLiteral("record"), QStringLiteral("--force")} + count +
                              QStringList{run}));
    }
    bool inOrder = false;
    RunReader::Status status;
    const qint64 inFile = checkRun(run, inOrder, status);
    const double record = median(rec), listen = median(raw);
    std::printf("record: %.0f reports/s, listen --raw /dev/null: %.0f reports/s: %.1f %%; GbE line rate 7.8 M/s: %.1f %%; "
                "last file %lld reports, %s\n",
                record, listen, 100 * record / listen, 100 * record / 7.8e6, static_cast<long long>(inFile),
                inOrder && inFile == reports ? "all in order" : "LOST OR REORDERED");

    // The window: the same flood on a fresh connection, recorded from its start.
    {
        module.stopSim();
        SimConfig quiet;
        quiet.tcpPort = quiet.udpPort = 0;
        if (!module.startSim(quiet))
            return 1;
        std::vector<double> window, stalls, idleStalls;
        for (int i = 0; i < 3; ++i) {
            Args a({"tarnix2-utility", "-a", "127.0.0.1"});
            MainWindow w(a.argc(), a.argv.data());
            w.show();
            w.findChild<QLineEdit *>(QStringLiteral("tcp"))->setText(QString::number(module.sim()->tcpPort()));
            w.findChild<QPushButton *>(QStringLiteral("connect"))->click();
            QElapsedTimer wait;
            wait.start();
            while (!(w.tcpThread() && w.tcpThread()->isConnected()) && wait.elapsed() < 5000)
                app.processEvents(QEventLoop::AllEvents, 10);
            {
                Stall idle;
                wait.start();
                while (wait.elapsed() < 500)
                    app.processEvents(QEventLoop::AllEvents, 10);
                idleStalls.push_back(double(idle.longest));
            }
            const QString path = dir.filePath(QStringLiteral("window%1.pcapng").arg(i));
            if (!w.recordControl()->startRecording(path))
                return 1;
            Stall stall;
            SimReportBurst flood;
            flood.count = reports;
            QElapsedTimer t;
            t.start();
            module.sim()->startReports(flood);
            while (w.recordControl()->recorder()->counters().reports.load() < quint64(reports) && t.elapsed() < 600000)
                app.processEvents(QEventLoop::AllEvents, 10);
            const double s = t.nsecsElapsed() / 1e9;
            stalls.push_back(double(stall.longest));
            w.recordControl()->stopRecording();
            window.push_back(reports / s);
            const qint64 n = checkRun(path, inOrder, status);
            if (!inOrder || n != reports)
                std::printf("window run %d: %lld reports, LOST OR REORDERED\n", i, static_cast<long long>(n));
        }
        std::printf("window recording: %.0f reports/s: %.1f %% of tarnixctl record; 0 lost or reordered checked; "
                    "longest stall %.0f ms recording, %.0f ms idle\n",
                    median(window), 100 * median(window) / record, median(stalls), median(idleStalls));
    }

    std::vector<double> csv, text;
    for (int i = 0; i < 3; ++i) {
        csv.push_back(ctlRate({QStringLiteral("decode"), QStringLiteral("--format"), QStringLiteral("csv"), run}));
        text.push_back(ctlRate({QStringLiteral("decode"), QStringLiteral("--format"), QStringLiteral("text"), run}));
    }
    std::printf("decode csv: %.0f reports/s, text: %.0f reports/s: csv at %.2f times text\n", median(csv),
                median(text), median(csv) / median(text));

    // SIGKILL at a random moment of a recording.
    module.stopSim();
    if (!module.startSim(config))
        return 1;
    aim[3] = QString::number(module.sim()->tcpPort());
    for (int i = 0; i < 3; ++i) {
        const QString killed = dir.filePath(QStringLiteral("killed%1.pcapng").arg(i));
        QProcess p;
        p.start(Ctl, aim + QStringList{QStringLiteral("record"), killed});
        p.waitForStarted();
        const int ms = 200 + int(QRandomGenerator::global()->bounded(800));
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms)
            app.processEvents(QEventLoop::AllEvents, 10);
        if (p.processId() <= 0) {
            std::printf("the recorder ended by itself: %s\n", p.readAllStandardError().constData());
            continue;
        }
        ::kill(pid_t(p.processId()), SIGKILL);
        p.waitForFinished(5000);
        const qint64 n = checkRun(killed, inOrder, status);
        std::printf("killed after %d ms: %lld reports read back from %lld bytes, %s, file %s\n", ms,
                    static_cast<long long>(n), static_cast<long long>(QFileInfo(killed).size()),
                    inOrder ? "all in order from 0" : "LOST OR REORDERED",
                    status == RunReader::Status::Cut ? "says cut" : "NOT SEEN AS CUT");
    }
    return 0;
}
