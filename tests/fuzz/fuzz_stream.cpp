// The module's byte stream on the TCP command channel, read in pieces.
//
// Input: the low three bits of byte 0 give how many of the next bytes are piece lengths (each
// plus one, used in turn; none: one byte a read); the rest is the stream. However the stream is
// cut, the packets, the report text and the point of a broken header are those of one read.

#include "fuzzcheck.h"
#include "packet.h"
#include "reporttext.h"

#include <QList>

#include <tuple>

namespace {

constexpr quint8 InteractiveLow = 128;

struct Outcome
{
    QList<QByteArray> responses;
    QString log;
    bool crcError = false;
    qsizetype taken = 0;

    auto tied() const { return std::tie(responses, log, crcError, taken); }
};

// Takes every complete packet as the command thread does: responses in the interactive range
// as they are, the rest as report text; a broken header ends the stream.
void parse(PacketStream &in, const QByteArray &stream, Outcome &out)
{
    for (;;) {
        kelvo_vme_master_header h;
        const char *data = nullptr;
        int size = 0;
        const KelvoPacket::Frame frame = in.peek(h, data, size);
        out.crcError = frame == KelvoPacket::Frame::CrcError;
        if (frame != KelvoPacket::Frame::Complete)
            return;
        FUZZ_CHECK(size >= 0 && size <= 255);
        // A packet is exactly the next bytes of the stream: nothing skipped, nothing read past.
        QByteArray raw;
        KelvoPacket::appendHeader(h, raw);
        raw.append(data, size);
        FUZZ_CHECK(raw == stream.mid(out.taken, raw.size()));
        if (h.id >= InteractiveLow) {
            out.responses.append(raw);
        } else {
            QString head, rows;
            ReportText::dumpVmeHeader(h, head);
            ReportText::dumpPacket(data, size, rows, h.address);
            const QString &sep = ReportText::Separator;
            const qsizetype before = out.log.size();
            ReportText::appendReport(h, data, size, out.log);
            FUZZ_CHECK(out.log.mid(before) == sep + head + (size ? sep + rows : QString()) + sep);
        }
        in.take(size);
        out.taken += raw.size();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const size_t cuts = qMin<size_t>(data[0] & 7, size - 1);
    const QByteArray lengths(reinterpret_cast<const char *>(data + 1), qsizetype(cuts));
    const QByteArray stream(reinterpret_cast<const char *>(data + 1 + cuts), qsizetype(size - 1 - cuts));

    Outcome whole;
    PacketStream one;
    one.append(stream);
    parse(one, stream, whole);
    FUZZ_CHECK(whole.taken + one.pending() == stream.size());

    Outcome pieces;
    PacketStream cut;
    qsizetype at = 0;
    for (int i = 0; at < stream.size() && !pieces.crcError; ++i) {
        const qsizetype n = cuts ? quint8(lengths.at(i % qsizetype(cuts))) + 1 : 1;
        cut.append(stream.mid(at, n));
        at += n;
        parse(cut, stream, pieces);
    }
    FUZZ_CHECK(pieces.tied() == whole.tied());
    FUZZ_CHECK(whole.crcError || cut.pending() == one.pending());
    return 0;
}
