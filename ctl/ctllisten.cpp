// listen and decode: the reports of the module's programs, live or from a run file or raw capture.
#include "ctlcommands.h"

#include "commandclient.h"
#include "packet.h"
#include "readoutexport.h"
#include "reporttext.h"
#include "reportformat.h"
#include "runreader.h"

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
        return fail(BadUsage, QStringLiteral("decode: give one FILE (- for standard input)"));
    const QString name = o.args.at(0);
    ReportFormatter::Format format = ReportFormatter::Format::Text;
    if (!o.format.isEmpty() && !ReportFormatter::parseFormat(o.format, format))
        return fail(BadUsage, QStringLiteral("bad value \"%1\" for --format: give text, csv or jsonl").arg(o.format));
    RunReader reader;
    if (!reader.open(name))
        return fail(BadUsage, QStringLiteral("cannot read \"%1\": %2").arg(name, reader.errorString()));
    const bool timeFilter = o.from >= 0 || o.to >= 0;
    if (reader.isRaw() && timeFilter)
        return fail(BadUsage, QStringLiteral("\"%1\" is a raw capture, without time stamps: --from and --to need a run file")
                                  .arg(name));
    QElapsedTimer clock;
    clock.start();
    RunBatch batch;
    bool more = reader.next(batch);
    // Seconds count from the run's start, or from the first block when the header has none.
    const qint64 origin = reader.header().startNs ? reader.header().startNs : (more ? batch.timeNs : 0);
    ReportFormatter formatter(format, origin, !reader.isRaw());
    QByteArray out = formatter.head();
    out.reserve(1 << 20);
    bool writeFailed = false;
    auto flushOut = [&] {
        if (!out.isEmpty() && std::fwrite(out.constData(), 1, size_t(out.size()), stdout) != size_t(out.size()))
            writeFailed = true;
        out.resize(0);
    };
    qint64 reports = 0, shown = 0, bytes = 0;
    bool broken = false;
    for (; more && !writeFailed; more = reader.next(batch)) {
        bytes += batch.size;
        if (timeFilter) {
            const double t = formatter.seconds(batch.timeNs);
            if ((o.from >= 0 && t < o.from) || (o.to >= 0 && t >= o.to)) {
                forEachReport(batch, [&](const RunReport &) { ++reports; });
                continue;
            }
        }
        broken = !forEachReport(batch, [&](const RunReport &r) {
            ++reports;
            if (!o.ids.isEmpty() && !o.ids.testBit(r.header.id))
                return;
            if (o.levels && !(o.levels & (1u << KelvoPacket::priorityLevel(r.header.length))))
                return;
            ++shown;
            formatter.append(r, out);
        });
        if (out.size() >= (1 << 20) - 4096)
            flushOut();
        if (broken)
            break;
    }
    flushOut();
    std::fflush(stdout);
    const double s = clock.nsecsElapsed() / 1e9;
    std::fprintf(stderr, "tarnixctl: %lld reports (%lld shown), %lld bytes in %.3f s (%.0f reports/s)\n",
                 static_cast<long long>(reports), static_cast<long long>(shown), static_cast<long long>(bytes), s,
                 s > 0 ? reports / s : 0.0);
    if (writeFailed)
        return fail(Refused, QStringLiteral("writing the reports failed"));
    if (broken)
        return fail(Refused, QStringLiteral("a block of \"%1\" holds something that is not a whole report").arg(name));
    if (reader.status() != RunReader::Status::Complete)
        return fail(Refused, reader.errorString());
    return Success;
}

} // namespace Ctl
