// Framing and report formatting of the TCP command thread, without a socket: an in-memory stream
// of 16-byte reports (12-byte header + one D32 item) is cut into packets, CRC-checked and turned
// into log text exactly as the thread does it, handing over a string every 131072 characters; and
// the same with each report also counted per source as the thread counts it for the Rates tab
// (measured in the same run, interleaved, so that the two rates share the machine's mood).
#include "packet.h"
#include "reportrates.h"
#include "reporttext.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    const int reports = argc > 1 ? std::atoi(argv[1]) : 2000000;
    const int runs = 5;
    QByteArray stream;
    stream.reserve(qsizetype(reports) * 16);
    for (int k = 0; k < reports; ++k) {
        kelvo_vme_master_header h;
        h.address = 0x2000;
        h.length = 0x10000004;
        h.mode = 0x0A00;
        h.id = 5;
        KelvoPacket::appendHeader(h, stream);
        const char d[4] = {char(k >> 24), char(k >> 16), char(k >> 8), char(k)};
        stream.append(d, 4);
    }

    double bestFramed = 0, bestFormatted = 0, bestCounted = 0, bestFramedCounted = 0;
    qint64 chars = 0;
    ReportRates rates;
    for (int run = 0; run < runs; ++run) {
        // Framing alone: cut, CRC-check, read headers.
        QElapsedTimer t;
        t.start();
        qsizetype off = 0;
        int n = 0;
        quint32 sum = 0;
        kelvo_vme_master_header h;
        int ds = 0;
        while (KelvoPacket::frameAt(stream.constData() + off, stream.size() - off, h, ds) ==
               KelvoPacket::Frame::Complete) {
            sum += h.id + quint32(ds);
            off += KelvoPacket::HeaderSize + ds;
            ++n;
        }
        const double framed = n / (t.nsecsElapsed() / 1e9);
        if (sum == 0 || n != reports)
            return 1;

        // Framing and counting, without the text: the counting's own cost beside the framing's.
        ReportTally alone;
        t.restart();
        off = 0;
        n = 0;
        while (KelvoPacket::frameAt(stream.constData() + off, stream.size() - off, h, ds) ==
               KelvoPacket::Frame::Complete) {
            if (n % 64 == 0)
                alone.setTime(n);
            alone.count(h, stream.constData() + off + KelvoPacket::HeaderSize, ds);
            off += KelvoPacket::HeaderSize + ds;
            ++n;
        }
        rates.merge(alone, n);
        const double framedCounted = n / (t.nsecsElapsed() / 1e9);

        // Framing and formatting, with the thread's hand-over threshold.
        QString current;
        t.restart();
        off = 0;
        n = 0;
        chars = 0;
        while (KelvoPacket::frameAt(stream.constData() + off, stream.size() - off, h, ds) ==
               KelvoPacket::Frame::Complete) {
            ReportText::appendReport(h, stream.constData() + off + KelvoPacket::HeaderSize, ds, current);
            if (current.size() > 131072) {
                chars += current.size();
                current.resize(0); // handed over; the window empties it
            }
            off += KelvoPacket::HeaderSize + ds;
            ++n;
        }
        chars += current.size();
        const double formatted = n / (t.nsecsElapsed() / 1e9);

        // The same, with the thread's counting: one tally step per report, the time taken once
        // per pass of 64 reports (a 1024-byte read), the tally merged every 100,000 reports.
        ReportTally tally;
        current.resize(0);
        t.restart();
        off = 0;
        n = 0;
        while (KelvoPacket::frameAt(stream.constData() + off, stream.size() - off, h, ds) ==
               KelvoPacket::Frame::Complete) {
            if (n % 64 == 0)
                tally.setTime(n);
            tally.count(h, stream.constData() + off + KelvoPacket::HeaderSize, ds);
            ReportText::appendReport(h, stream.constData() + off + KelvoPacket::HeaderSize, ds, current);
            if (current.size() > 131072)
                current.resize(0);
            if (n % 100000 == 0)
                rates.merge(tally, n);
            off += KelvoPacket::HeaderSize + ds;
            ++n;
        }
        rates.merge(tally, n);
        const double counted = n / (t.nsecsElapsed() / 1e9);
        bestFramed = std::max(bestFramed, framed);
        bestFormatted = std::max(bestFormatted, formatted);
        bestCounted = std::max(bestCounted, counted);
        bestFramedCounted = std::max(bestFramedCounted, framedCounted);
    }
    const quint64 counted = rates.sample(0).total;
    if (counted != quint64(reports) * runs * 2) {
        std::printf("counted %llu reports, not %llu\n", static_cast<unsigned long long>(counted),
                    static_cast<unsigned long long>(reports) * runs * 2);
        return 1;
    }
    std::printf("reports: %d x 16 bytes, best of %d runs, one core\n", reports, runs);
    std::printf("framing only:          %10.0f reports/s  %7.1f MB/s of wire data\n", bestFramed,
                bestFramed * 16 / 1e6);
    std::printf("framing + log text:    %10.0f reports/s  %7.1f MB/s of wire data  (%lld chars of text)\n",
                bestFormatted, bestFormatted * 16 / 1e6, static_cast<long long>(chars));
    std::printf("framing + count:       %10.0f reports/s\n", bestFramedCounted);
    std::printf("framing + text + count: %9.0f reports/s  %7.1f MB/s of wire data\n", bestCounted,
                bestCounted * 16 / 1e6);
    // The counting's time per report (framing + count less framing alone) against the time per
    // report of framing + text; and the two text rates side by side, which carry the run's noise.
    const double countNs = 1e9 / bestFramedCounted - 1e9 / bestFramed;
    std::printf("counting: %.1f ns per report = %.1f %% of framing + text (%.0f ns); "
                "framing + text + count / framing + text = %.1f %%\n",
                countNs, 100.0 * countNs / (1e9 / bestFormatted), 1e9 / bestFormatted,
                100.0 * bestCounted / bestFormatted);
    return 0;
}
