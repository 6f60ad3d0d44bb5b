#include "runrecording.h"

#include "packet.h"
#include "runwriter.h"

#include <QElapsedTimer>

RunRecording RunRecording::record(CommandClient &client, RunWriter &writer, qint64 count, qint64 limitMs,
                                  const std::function<bool()> &stop, const std::function<void()> &tick)
{
    RunRecording out;
    QElapsedTimer clock;
    clock.start();
    PacketStream &stream = client.stream();
    qint64 readAt = RunWriter::nowNs();
    for (;;) {
        kelvo_vme_master_header h;
        const char *data = nullptr;
        int size = 0;
        KelvoPacket::Frame frame = KelvoPacket::Frame::Incomplete;
        while ((count < 0 || out.reports < count) &&
               (frame = stream.peek(h, data, size)) == KelvoPacket::Frame::Complete) {
            writer.addPacket(data - KelvoPacket::HeaderSize, KelvoPacket::HeaderSize + size, readAt);
            stream.take(size);
            ++out.reports;
        }
        if (frame == KelvoPacket::Frame::CrcError) {
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
        if (stop && stop()) {
            out.reason = QStringLiteral("signal");
            return out;
        }
        if (limitMs >= 0 && clock.elapsed() >= limitMs) {
            out.reason = QStringLiteral("seconds");
            return out;
        }
        if (tick)
            tick();
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
