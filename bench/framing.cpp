// Framing and report formatting of the TCP command thread, without a socket: an in-memory stream
// of 16-byte reports (12-byte header + one D32 item) is cut into packets, CRC-checked and turned
// into log text exactly as the thread does it, handing over a string every 131072 characters.
#include "packet.h"
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

    double bestFramed = 0, bestFormatted = 0;
    qint64 chars = 0;
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
        bestFramed = std::max(bestFramed, framed);
        bestFormatted = std::max(bestFormatted, formatted);
    }
    std::printf("reports: %d x 16 bytes, best of %d runs, one core\n", reports, runs);
    std::printf("framing only:          %10.0f reports/s  %7.1f MB/s of wire data\n", bestFramed,
                bestFramed * 16 / 1e6);
    std::printf("framing + log text:    %10.0f reports/s  %7.1f MB/s of wire data  (%lld chars of text)\n",
                bestFormatted, bestFormatted * 16 / 1e6, static_cast<long long>(chars));
    return 0;
}
