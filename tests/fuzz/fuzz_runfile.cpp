// Run files as they come from disk: any bytes, fed to the parser in pieces.
//
// Input: the low three bits of byte 0 give how many of the next bytes are piece lengths (each
// plus one, used in turn; none: one byte a feed); the rest is the file. However the file is
// cut, the batches, the header, the end record and the final step (need more or malformed, with
// its message) are those of one feed; every batch lies inside the bytes fed, and its reports,
// when whole, cover it exactly.

#include "fuzzcheck.h"
#include "runreader.h"

#include <QList>

namespace {

struct Outcome
{
    QList<QByteArray> batches;
    QList<qint64> times;
    RunParser::Step last = RunParser::Step::NeedMore;
    QString error;
};

void drain(RunParser &p, const QByteArray &fed, Outcome &out)
{
    RunBatch b;
    while ((out.last = p.next(b)) == RunParser::Step::Batch) {
        FUZZ_CHECK(b.size >= 0 && b.size <= RunFormat::MaxBlockSize);
        out.batches.append(QByteArray(b.data, b.size));
        out.times.append(b.timeNs);
        qsizetype covered = 0;
        if (forEachReport(b, [&](const RunReport &r) { covered += KelvoPacket::HeaderSize + r.dataSize; }))
            FUZZ_CHECK(covered == b.size);
    }
    FUZZ_CHECK(p.consumed() + p.pending() == fed.size());
    out.error = p.errorString();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const size_t cuts = qMin<size_t>(data[0] & 7, size - 1);
    const QByteArray lengths(reinterpret_cast<const char *>(data + 1), qsizetype(cuts));
    const QByteArray file(reinterpret_cast<const char *>(data + 1 + cuts), qsizetype(size - 1 - cuts));

    RunParser one;
    one.append(file);
    Outcome whole;
    drain(one, file, whole);

    RunParser cut;
    Outcome pieces;
    qsizetype at = 0;
    for (int i = 0; at < file.size() && pieces.last != RunParser::Step::Malformed; ++i) {
        const qsizetype n = cuts ? quint8(lengths.at(i % qsizetype(cuts))) + 1 : 1;
        cut.append(file.constData() + at, qMin(n, file.size() - at));
        at += n;
        drain(cut, file.left(at), pieces);
    }
    FUZZ_CHECK(pieces.batches == whole.batches);
    FUZZ_CHECK(pieces.times == whole.times);
    FUZZ_CHECK(file.isEmpty() || pieces.last == whole.last);
    FUZZ_CHECK(file.isEmpty() || pieces.error == whole.error);
    FUZZ_CHECK(cut.end().reports == one.end().reports && cut.end().present == one.end().present);
    FUZZ_CHECK(cut.header().tool == one.header().tool && cut.header().startNs == one.header().startNs);
    return 0;
}
