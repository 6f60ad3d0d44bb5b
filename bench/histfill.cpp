// Histogram filling beside the Rates counting, without a socket: an in-memory stream of 16-byte
// reports from 8 sources (IDs 1 to 8 in turn, one D32 item each) is framed as the command thread
// frames it, counted per source, and in the third pass also filled into 8 histograms (one per
// source, 12 bits of the item) through the thread's observer hook. Interleaved, best of 5 runs.
#include "histogram.h"
#include "packet.h"
#include "reportrates.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

int main(int argc, char **argv)
{
    const int reports = argc > 1 ? std::atoi(argv[1]) : 2000000;
    const int runs = 5;
    QByteArray stream;
    stream.reserve(qsizetype(reports) * 16);
    quint32 seed = 1;
    for (int k = 0; k < reports; ++k) {
        kelvo_vme_master_header h;
        h.length = 0x10000004;
        h.mode = 0x0A00;
        h.id = quint8(1 + k % 8);
        KelvoPacket::appendHeader(h, stream);
        seed = seed * 1664525u + 1013904223u;
        const quint32 v = seed >> 20;
        const char d[4] = {0, 0, char(v >> 8), char(v)};
        stream.append(d, 4);
    }

    HistogramSet set;
    for (int id = 1; id <= 8; ++id) {
        HistogramDef d;
        d.id = id;
        d.level = 0;
        d.kind = HistogramDef::Polling;
        d.x = {0, 0, 12};
        set.add(d);
    }
    std::unique_ptr<ReportObserver> observer = std::make_unique<HistogramFill>(&set);
    ReportRates rates;
    double best[3] = {0, 0, 0};
    for (int run = 0; run < runs; ++run) {
        for (int pass = 0; pass < 3; ++pass) {
            ReportTally tally;
            QElapsedTimer t;
            t.start();
            qsizetype off = 0;
            int n = 0;
            quint32 sum = 0;
            kelvo_vme_master_header h;
            int ds = 0;
            while (KelvoPacket::frameAt(stream.constData() + off, stream.size() - off, h, ds) ==
                   KelvoPacket::Frame::Complete) {
                const char *data = stream.constData() + off + KelvoPacket::HeaderSize;
                sum += h.id + quint32(ds);
                if (pass > 0) {
                    if (n % 64 == 0)
                        tally.setTime(n);
                    tally.count(h, data, ds);
                }
                if (pass > 1)
                    observer->observe(h, data, ds);
                if (n % 100000 == 0 && pass > 0) {
                    rates.merge(tally, n);
                    if (pass > 1)
                        observer->publish();
                }
                off += KelvoPacket::HeaderSize + ds;
                ++n;
            }
            rates.merge(tally, n);
            if (pass > 1)
                observer->publish();
            if (sum == 0 || n != reports)
                return 1;
            best[pass] = std::max(best[pass], n / (t.nsecsElapsed() / 1e9));
        }
    }
    quint64 entries = 0;
    for (int h : set.handles()) {
        HistogramSet::Info info;
        set.info(h, info);
        entries += info.entries;
    }
    if (entries != quint64(reports) * runs) {
        std::printf("filled %llu, not %llu\n", static_cast<unsigned long long>(entries),
                    static_cast<unsigned long long>(reports) * runs);
        return 1;
    }
    const double countNs = 1e9 / best[1] - 1e9 / best[0];
    const double fillNs = 1e9 / best[2] - 1e9 / best[1];
    std::printf("reports: %d x 16 bytes from 8 sources, 8 histograms of 4096 bins, best of %d runs, one core\n",
                reports, runs);
    std::printf("framing only:                 %10.0f reports/s\n", best[0]);
    std::printf("framing + count:              %10.0f reports/s\n", best[1]);
    std::printf("framing + count + histograms: %10.0f reports/s\n", best[2]);
    std::printf("counting %.1f ns per report, filling %.1f ns per report: filling / counting = %.2f; "
                "framing alone %.1f ns\n",
                countNs, fillNs, countNs > 0 ? fillNs / countNs : 0.0, 1e9 / best[0]);
    return 0;
}
