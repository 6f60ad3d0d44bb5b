#include "runformat.h"

#include <QtEndian>

namespace RunFormat {

quint16 get16(const uchar *p, bool bigEndian)
{
    return bigEndian ? qFromBigEndian<quint16>(p) : qFromLittleEndian<quint16>(p);
}

quint32 get32(const uchar *p, bool bigEndian)
{
    return bigEndian ? qFromBigEndian<quint32>(p) : qFromLittleEndian<quint32>(p);
}

quint64 get64(const uchar *p, bool bigEndian)
{
    return bigEndian ? qFromBigEndian<quint64>(p) : qFromLittleEndian<quint64>(p);
}

Parse parseBlock(const uchar *p, qsizetype avail, bool &bigEndian, Block &block, qsizetype &need, QString &why)
{
    if (avail < 8) {
        need = 8;
        return Parse::NeedMore;
    }
    bool order = bigEndian;
    const quint32 rawType = qFromLittleEndian<quint32>(p);
    if (rawType == SectionHeaderType) { // the same in both byte orders
        if (avail < 12) {
            need = 12;
            return Parse::NeedMore;
        }
        const quint32 magic = qFromLittleEndian<quint32>(p + 8);
        if (magic == ByteOrderMagic)
            order = false;
        else if (magic == qbswap(ByteOrderMagic))
            order = true;
        else {
            why = QStringLiteral("section header with an unknown byte-order magic");
            return Parse::Malformed;
        }
    }
    const quint32 type = get32(p, order);
    const quint32 size = get32(p + 4, order);
    // The length is checked before anything is taken on trust or allocated.
    if (size < MinBlockSize || size % 4 != 0 || size > MaxBlockSize) {
        why = QStringLiteral("block of type 0x%1 with a bad length %2").arg(type, 8, 16, QLatin1Char('0')).arg(size);
        return Parse::Malformed;
    }
    if (type == SectionHeaderType && size < 28) {
        why = QStringLiteral("section header of %1 bytes (at least 28)").arg(size);
        return Parse::Malformed;
    }
    if (avail < qsizetype(size)) {
        need = size;
        return Parse::NeedMore;
    }
    if (get32(p + size - 4, order) != size) {
        why = QStringLiteral("block of type 0x%1: its lengths at the two ends differ").arg(type, 8, 16, QLatin1Char('0'));
        return Parse::Malformed;
    }
    bigEndian = order;
    block.type = type;
    block.size = size;
    block.body = p + 8;
    block.bodySize = size - 12;
    return Parse::Block;
}

bool readOptions(const uchar *p, qsizetype size, bool bigEndian, QList<Option> &options)
{
    qsizetype at = 0;
    while (at + 4 <= size) {
        const quint16 code = get16(p + at, bigEndian);
        const quint16 length = get16(p + at + 2, bigEndian);
        at += 4;
        if (code == OptEnd)
            return true;
        if (length > size - at)
            return false;
        options.append({code, QByteArray(reinterpret_cast<const char *>(p + at), length)});
        at += (qsizetype(length) + 3) & ~qsizetype(3);
    }
    // Without an end-of-options mark the options may simply stop at the body's end.
    return at <= size;
}

bool resolution(quint8 tsresol, quint64 &nsPerUnit, quint64 &divisor)
{
    const int exponent = tsresol & 0x7F;
    nsPerUnit = 1;
    divisor = 1;
    if (tsresol & 0x80) { // a power of two: units of 2^-exponent s
        if (exponent > 63)
            return false;
        // ns = units * 1e9 / 2^exponent
        nsPerUnit = 1000000000ull;
        divisor = 1ull << exponent;
        return true;
    }
    if (exponent > 18)
        return false;
    if (exponent <= 9) {
        for (int i = exponent; i < 9; ++i)
            nsPerUnit *= 10;
    } else {
        for (int i = 9; i < exponent; ++i)
            divisor *= 10;
    }
    return true;
}

void appendOption(QByteArray &out, quint16 code, const QByteArray &value)
{
    uchar head[4];
    qToLittleEndian<quint16>(code, head);
    qToLittleEndian<quint16>(quint16(value.size()), head + 2);
    out.append(reinterpret_cast<const char *>(head), 4);
    out.append(value);
    out.append((4 - value.size() % 4) % 4, '\0');
}

void appendEndOfOptions(QByteArray &out)
{
    out.append(4, '\0');
}

void appendBlock(QByteArray &out, quint32 type, const QByteArray &body)
{
    uchar word[4];
    const quint32 size = quint32(body.size()) + 12;
    qToLittleEndian<quint32>(type, word);
    out.append(reinterpret_cast<const char *>(word), 4);
    qToLittleEndian<quint32>(size, word);
    out.append(reinterpret_cast<const char *>(word), 4);
    out.append(body);
    out.append(reinterpret_cast<const char *>(word), 4);
}

} // namespace RunFormat
