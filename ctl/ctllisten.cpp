// listen and decode: the reports of the module's programs, live or from a raw capture.
#include "ctlcommands.h"

#include "commandclient.h"
#include "packet.h"
#include "readoutexport.h"
#include "reporttext.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <csignal>
#include <cstdio>

namespace Ctl {

namespace {

std::atomic_bool interrupted{false};

void onSignal(int) { interrupted = true; }

// Cuts packets out of a byte stream and hands them on: as the log's text to out, or their raw
// bytes to a file. Counts what went by for the summary.
class Sink
{
public:
    Sink(FILE *text, QFile *raw, ReadoutExport *out = nullptr)
        : text(text), raw(raw), out(out), tally(out ? out->tally() : nullptr)
    {
    }

    // Takes every whole packet of the stream, at most limit of them (-1: no limit). crcError
    // is set when a header's CRC was wrong (the packets before it are taken).
    void take(PacketStream &stream, qint64 limit, bool &crcError)
    {
        crcError = false;
        const qint64 before = reports;
        const char *first = nullptr; // raw bytes of the packets taken, which lie end to end
        qsizetype taken = 0;
        while (limit < 0 || reports < limit) {
            kelvo_vme_master_header header;
            const char *data = nullptr;
            int dataSize = 0;
            const auto frame = stream.peek(header, data, dataSize);
            if (frame == KelvoPacket::Frame::CrcError) {
                crcError = true;
                ++crcErrors;
                if (tally)
                    tally->countCrcError();
                break;
            }
            if (frame == KelvoPacket::Frame::Incomplete)
                break;
            if (!first)
                first = data - KelvoPacket::HeaderSize;
            if (tally)
                tally->count(header, data, dataSize);
            if (!raw) {
                ReportText::appendReport(header, data, dataSize, log);
                // Text goes out in pieces that stay in the cache, not as one string per read.
                if (log.size() >= TextPiece)
                    flushText();
            }
            stream.take(dataSize);
            taken += KelvoPacket::HeaderSize + dataSize;
            ++reports;
        }
        if (raw) {
            if (taken && raw->write(first, taken) != taken)
                writeFailed = true;
        } else {
            flushText();
            // Whoever reads the text through a pipe sees each report as it arrives.
            if (taken && std::fflush(text) != 0)
                writeFailed = true;
        }
        bytes += taken;
        if (out && taken)
            out->batch(first, taken, quint32(reports - before));
    }

    qint64 reports = 0;
    qint64 bytes = 0;
    qint64 crcErrors = 0;
    bool writeFailed = false;

private:
    static constexpr qsizetype TextPiece = 64 * 1024;

    void flushText()
    {
        if (log.isEmpty())
            return;
        const QByteArray latin = log.toLatin1();
        if (std::fwrite(latin.constData(), 1, size_t(latin.size()), text) != size_t(latin.size()))
            writeFailed = true;
        log.resize(0); // keeps the capacity for the next piece
    }

    FILE *text;
    QFile *raw;
    ReadoutExport *out;
    ReportTally *tally;
    QString log;
};

void summary(const Sink &sink, qint64 ns)
{
    const double s = ns / 1e9;
    std::fflush(stdout);
    std::fprintf(stderr, "tarnixctl: %lld reports, %lld bytes in %.3f s (%.0f reports/s), %lld CRC errors\n",
                 static_cast<long long>(sink.reports), static_cast<long long>(sink.bytes), s,
                 s > 0 ? sink.reports / s : 0.0, static_cast<long long>(sink.crcErrors));
}

} // namespace

int listenCommand(const Options &o)
{
    if (!o.args.isEmpty())
        return fail(BadUsage, QStringLiteral("listen takes no arguments"));
    // A capture is not touched until the module is connected, and an earlier one (a file with
    // something in it) is replaced only when asked for: a mistyped port or name must not cost
    // the last capture. Devices and pipes (/dev/null, a fifo) are taken as they are.
    QFile rawFile(o.raw);
    const QFileInfo earlier(o.raw);
    if (!o.raw.isEmpty() && !o.force && earlier.isFile() && earlier.size() > 0)
        return fail(BadUsage, QStringLiteral("\"%1\" exists: give --force to replace it").arg(o.raw));
    ReadoutExport out;
    if (const int refused = startExport(o, out))
        return refused;
    CommandClient client(o.timeoutMs);
    if (!client.connectTo(o.target, o.tcpPort))
        return fail(NoAnswer, QStringLiteral("cannot connect to %1:%2: %3")
                                  .arg(o.target).arg(o.tcpPort).arg(client.errorString()));
    out.setConnected(true);
    if (!o.raw.isEmpty() && !rawFile.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return fail(BadUsage, QStringLiteral("cannot write \"%1\": %2").arg(o.raw, rawFile.errorString()));
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);

    Sink sink(stdout, o.raw.isEmpty() ? nullptr : &rawFile, &out);
    QElapsedTimer clock;
    clock.start();
    const qint64 limitMs = o.seconds < 0 ? -1 : qint64(o.seconds * 1000);
    int status = Success;
    for (;;) {
        out.tick();
        bool crcError = false;
        sink.take(client.stream(), o.count, crcError);
        if (crcError) {
            status = fail(NoAnswer, QStringLiteral("CRC error in a header from the module"));
            break;
        }
        if (sink.writeFailed) {
            status = fail(Refused, QStringLiteral("writing the reports failed"));
            break;
        }
        if ((o.count >= 0 && sink.reports >= o.count) || interrupted ||
            (limitMs >= 0 && clock.elapsed() >= limitMs))
            break;
        if (!client.fill(QDeadlineTimer(100)) && !client.isOpen()) {
            // Every whole packet before the close has been taken above.
            status = fail(NoAnswer, client.stream().pending() == 0
                                        ? QStringLiteral("the module closed the connection")
                                        : QStringLiteral("the module closed the connection inside a packet"));
            break;
        }
    }
    if (rawFile.isOpen() && !rawFile.flush())
        status = fail(Refused, QStringLiteral("writing \"%1\" failed: %2").arg(o.raw, rawFile.errorString()));
    out.setConnected(false);
    out.tick(true);
    summary(sink, clock.nsecsElapsed());
    exportSummary(out);
    return status;
}

int decodeCommand(const Options &o)
{
    if (o.args.size() != 1)
        return fail(BadUsage, QStringLiteral("decode: give one FILE"));
    QFile file(o.args.at(0));
    if (!file.open(QIODevice::ReadOnly))
        return fail(BadUsage, QStringLiteral("cannot read \"%1\": %2").arg(o.args.at(0), file.errorString()));
    Sink sink(stdout, nullptr);
    QElapsedTimer clock;
    clock.start();
    PacketStream stream;
    int status = Success;
    for (;;) {
        const QByteArray chunk = file.read(1 << 20);
        stream.append(chunk);
        bool crcError = false;
        sink.take(stream, -1, crcError);
        if (crcError) {
            status = fail(Refused, QStringLiteral("CRC error in the header at byte %1").arg(sink.bytes));
            break;
        }
        if (chunk.isEmpty()) {
            if (stream.pending())
                status = fail(Refused, QStringLiteral("%1 bytes at the end are not a whole packet")
                                           .arg(stream.pending()));
            break;
        }
    }
    summary(sink, clock.nsecsElapsed());
    return status;
}

} // namespace Ctl
