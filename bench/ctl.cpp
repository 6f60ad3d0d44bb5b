// tarnixctl against the software module on loopback:
//  - a read's round trip: 1000 D32 reads of one item on one connection, median and 95th percentile,
//    and the same reads sent 64 at a time before their answers are collected;
//  - listen: a burst of reports (12-byte header + one D32 item) taken by the tarnixctl executable
//    raw and as text into /dev/null, beside the in-memory framing + text rate of the same reports
//    on this machine (what bench_framing measures), as a ratio.
//  bench_ctl [reads] [reports]
#include "commandclient.h"
#include "modeword.h"
#include "packet.h"
#include "reporttext.h"
#include "tarnixcmd.h"
#include "tarnixsim.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double listenRate(quint16 port, qint64 reports, bool raw)
{
    QStringList args = {QStringLiteral("-a"), QStringLiteral("127.0.0.1"), QStringLiteral("--tcp-port"),
                        QString::number(port), QStringLiteral("listen"), QStringLiteral("--count"),
                        QString::number(reports)};
    if (raw)
        args << QStringLiteral("--raw") << QStringLiteral("/dev/null");
    QProcess p;
    p.setStandardOutputFile(QStringLiteral("/dev/null"));
    p.start(QStringLiteral(TARNIXCTL_EXE), args);
    if (!p.waitForFinished(600000) || p.exitCode() != 0)
        return -1;
    const QString summary = QString::fromLocal8Bit(p.readAllStandardError());
    const auto m = QRegularExpression(QStringLiteral("\\((\\d+) reports/s\\)")).match(summary);
    return m.hasMatch() ? m.captured(1).toDouble() : -1;
}

double inMemoryTextRate(qint64 reports)
{
    QByteArray stream;
    for (qint64 k = 0; k < reports; ++k) {
        kelvo_vme_master_header h;
        h.length = 0x10000004;
        h.mode = 0x0A00;
        h.id = 5;
        KelvoPacket::appendHeader(h, stream);
        stream.append(4, char(k));
    }
    double best = 0;
    for (int run = 0; run < 3; ++run) {
        QElapsedTimer t;
        t.start();
        QString text;
        qsizetype off = 0;
        kelvo_vme_master_header h;
        int ds = 0;
        while (KelvoPacket::frameAt(stream.constData() + off, stream.size() - off, h, ds) ==
               KelvoPacket::Frame::Complete) {
            ReportText::appendReport(h, stream.constData() + off + 12, ds, text);
            if (text.size() > 131072)
                text.resize(0);
            off += 12 + ds;
        }
        best = std::max(best, reports / (t.nsecsElapsed() / 1e9));
    }
    return best;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int reads = argc > 1 ? std::atoi(argv[1]) : 1000;
    const qint64 reports = argc > 2 ? std::atoll(argv[2]) : 1000000;

    SimConfig config;
    config.tcpPort = 0;
    config.udpPort = 0;
    TarnixSimThread module;
    if (!module.startSim(config))
        return 1;

    CommandClient client(3000);
    if (!client.connectTo(QStringLiteral("127.0.0.1"), module.sim()->tcpPort()))
        return 1;
    VmeModeWord word;
    word.dataMode = 2;
    word.addressMode = 2;
    std::vector<double> us;
    for (int i = 0; i < reads; ++i) {
        TarnixCmd cmd;
        cmd.address = 0x1000;
        cmd.length = 4;
        cmd.mode = word.mode();
        cmd.id = quint8(128 + i % 128);
        CommandClient::Packet answer;
        QElapsedTimer t;
        t.start();
        if (client.exchange(cmd, answer) != CommandClient::Result::Ok || answer.data.size() != 4)
            return 1;
        us.push_back(t.nsecsElapsed() / 1000.0);
    }
    std::sort(us.begin(), us.end());
    std::printf("read round trip (%d D32 reads, one connection): median %.1f us, 95th percentile %.1f us\n",
                reads, us[us.size() / 2], us[us.size() * 95 / 100]);

    // The same reads with up to 64 in flight: sent in a batch, then their answers collected.
    CommandIdRange ids;
    QElapsedTimer batch;
    batch.start();
    for (int done = 0; done < reads;) {
        const int n = std::min(64, reads - done);
        const QDeadlineTimer deadline(3000);
        for (int i = 0; i < n; ++i) {
            TarnixCmd cmd;
            cmd.address = 0x1000;
            cmd.length = 4;
            cmd.mode = word.mode();
            cmd.id = ids.next();
            if (client.send(cmd, deadline) != CommandClient::Result::Ok)
                return 1;
        }
        for (CommandClient::Packet answer; client.outstanding() > 0;) {
            if (client.answer(answer, deadline) != CommandClient::Result::Ok || answer.data.size() != 4)
                return 1;
        }
        done += n;
    }
    std::printf("pipelined reads (64 in flight): %.1f us per read\n", batch.nsecsElapsed() / 1000.0 / reads);

    SimConfig burst = config;
    burst.reportsOnConnect = true;
    burst.reports.count = 0;
    TarnixSimThread reporter;
    if (!reporter.startSim(burst))
        return 1;
    const double raw = listenRate(reporter.sim()->tcpPort(), reports, true);
    const double text = listenRate(reporter.sim()->tcpPort(), reports, false);
    const double memory = inMemoryTextRate(std::min<qint64>(reports, 1000000));
    std::printf("listen, %lld reports of 16 bytes: raw %.0f reports/s, text %.0f reports/s\n",
                static_cast<long long>(reports), raw, text);
    std::printf("in-memory framing + text: %.0f reports/s; listen text reaches %.0f %%\n", memory,
                100 * text / memory);
    return 0;
}
