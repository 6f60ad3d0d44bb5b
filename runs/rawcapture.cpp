#include "rawcapture.h"

#include <QIODevice>

bool readRawCapture(QIODevice &file, ReportObserver &observer, QString *error, quint64 *reports)
{
    PacketStream stream;
    quint64 bytes = 0;
    quint64 count = 0;
    bool ok = true;
    for (;;) {
        const QByteArray chunk = file.read(1 << 20);
        stream.append(chunk);
        kelvo_vme_master_header header;
        const char *data = nullptr;
        int dataSize = 0;
        KelvoPacket::Frame frame;
        while ((frame = stream.peek(header, data, dataSize)) == KelvoPacket::Frame::Complete) {
            observer.observe(header, data, dataSize);
            stream.take(dataSize);
            bytes += quint64(KelvoPacket::HeaderSize + dataSize);
            ++count;
        }
        observer.publish();
        if (frame == KelvoPacket::Frame::CrcError) {
            *error = QStringLiteral("CRC error in the header at byte %1").arg(bytes);
            ok = false;
            break;
        }
        if (chunk.isEmpty()) {
            if (stream.pending()) {
                *error = QStringLiteral("%1 bytes at the end are not a whole packet").arg(stream.pending());
                ok = false;
            }
            break;
        }
    }
    if (reports)
        *reports = count;
    return ok;
}
