#include "runrecording.h"

#include "packet.h"
#include "reportrates.h"
#include "runformat.h"
#include "runwriter.h"

#include <QElapsedTimer>

RunRecording RunRecording::record(CommandClient &client, RunWriter &writer, qint64 count, qint64 limitMs,
                                  const Hooks &hooks)
{
    RunRecording out;
    QElapsedTimer clock;
    clock.start();
    PacketStream &stream = client.stream();
    qint64 readAt = RunWriter::nowNs();
    for (;;) {
        if (hooks.tick)
            hooks.tick();
        // The packets taken lie end to end in the stream's buffer: they go to the writer in
        // spans of up to a block, and to the batch hook as one batch per pass.
        kelvo_vme_master_header h;
        const char *data = nullptr;
        int size = 0;
        KelvoPacket::Frame frame = KelvoPacket::Frame::Incomplete;
        const char *batch = nullptr;
        qsizetype batchBytes = 0;
        const qint64 before = out.reports;
        const char *span = nullptr;
        int spanSize = 0;
        quint64 spanReports = 0;
        while ((count < 0 || out.reports < count) &&
               (frame = stream.peek(h, data, size)) == KelvoPacket::Frame::Complete) {
            const int n = KelvoPacket::HeaderSize + size;
            if (spanSize + n > RunFormat::MaxBatchData) {
                writer.addPackets(span, spanSize, spanReports, readAt);
                spanSize = 0;
                spanReports = 0;
            }
            if (!spanSize)
                span = data - KelvoPacket::HeaderSize;
            if (!batch)
                batch = span;
            spanSize += n;
            batchBytes += n;
            ++spanReports;
            if (hooks.tally)
                hooks.tally->count(h, data, size);
            stream.take(size);
            ++out.reports;
        }
        if (spanSize)
            writer.addPackets(span, spanSize, spanReports, readAt);
        if (hooks.batch && batchBytes)
            hooks.batch(batch, batchBytes, quint32(out.reports - before));
        if (frame == KelvoPacket::Frame::CrcError) {
            if (hooks.tally)
                hooks.tally->countCrcError();
            writer.countCrcError();
            out.status = Status::NoAnswer;
            out.reason = QStringLiteral("crc-error");
            out.message = QStringLiteral("CRC error in a header from the module");
            return out;
        }
        if (writer.failed()) {
            out.status = Status::WriteFailed;
            out.reason = QStringLiteral("write-error");
            out.message = QStringLiteral("writing \"%1\" failed: %2").arg(writer.fileName(), writer.errorString());
            return out;
        }
        if (count >= 0 && out.reports >= count) {
            out.reason = QStringLiteral("count");
            return out;
        }
        if (hooks.stop && hooks.stop()) {
            out.reason = QStringLiteral("signal");
            return out;
        }
        if (limitMs >= 0 && clock.elapsed() >= limitMs) {
            out.reason = QStringLiteral("seconds");
            return out;
        }
        if (!client.fill(QDeadlineTimer(100))) {
            if (!client.isOpen()) {
                out.status = Status::NoAnswer;
                out.reason = QStringLiteral("closed");
                out.message = stream.pending() == 0 ? QStringLiteral("the module closed the connection")
                                                    : QStringLiteral("the module closed the connection inside a packet");
                return out;
            }
            writer.flush(); // nothing came: what there is goes to the file now
        }
        readAt = RunWriter::nowNs();
    }
}
