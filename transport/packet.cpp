#include "packet.h"

#include "modeword.h"

#include <QtEndian>

namespace KelvoPacket {

quint8 crcStep(quint8 crc, quint8 byte)
{
    for (int bit = 7; bit >= 0; --bit) {
        const bool f = (((byte >> bit) ^ (crc >> 7)) & 1) != 0;
        crc = quint8(crc << 1);
        if (f)
            crc ^= 0x07;
    }
    return crc;
}

quint8 headerCrc(const uchar *bytes)
{
    quint8 crc = CrcInit;
    for (int i = 0; i < HeaderSize - 1; ++i)
        crc = crcStep(crc, bytes[i]);
    return crc;
}

void appendHeader(kelvo_vme_master_header &header, QByteArray &out)
{
    uchar raw[HeaderSize];
    qToBigEndian<quint32>(header.address, raw);
    qToBigEndian<quint32>(header.length, raw + 4);
    qToBigEndian<quint16>(header.mode, raw + 8);
    raw[10] = header.id;
    header.crc = headerCrc(raw);
    raw[11] = header.crc;
    out.append(reinterpret_cast<const char *>(raw), HeaderSize);
}

kelvo_vme_master_header readHeader(const uchar *bytes)
{
    kelvo_vme_master_header h;
    h.address = qFromBigEndian<quint32>(bytes);
    h.length = qFromBigEndian<quint32>(bytes + 4);
    h.mode = qFromBigEndian<quint16>(bytes + 8);
    h.id = bytes[10];
    h.crc = bytes[11];
    return h;
}

int responseDataSize(const kelvo_vme_master_header &header)
{
    return VmeModeWord::isEcho(header.mode) ? int(dataLength(header.length)) : 0;
}

namespace {
struct CrcTable
{
    quint8 t[256];
    CrcTable()
    {
        // For this CRC one byte step is a function of (crc ^ byte) alone.
        for (int i = 0; i < 256; ++i)
            t[i] = crcStep(0, quint8(i));
    }
};
const CrcTable &crcTable()
{
    static const CrcTable table;
    return table;
}
} // namespace

quint8 headerCrcFast(const uchar *bytes)
{
    const quint8 *t = crcTable().t;
    quint8 crc = CrcInit;
    for (int i = 0; i < HeaderSize - 1; ++i)
        crc = t[crc ^ bytes[i]];
    return crc;
}

Frame frameAt(const char *p, qsizetype avail, kelvo_vme_master_header &header, int &dataSize)
{
    if (avail < HeaderSize)
        return Frame::Incomplete;
    const auto *u = reinterpret_cast<const uchar *>(p);
    if (headerCrcFast(u) != u[11])
        return Frame::CrcError;
    header = readHeader(u);
    dataSize = responseDataSize(header);
    return avail < HeaderSize + dataSize ? Frame::Incomplete : Frame::Complete;
}

} // namespace KelvoPacket

void PacketStream::append(const QByteArray &bytes)
{
    if (taken) {
        buffer.remove(0, taken);
        taken = 0;
    }
    buffer.append(bytes);
}

KelvoPacket::Frame PacketStream::peek(kelvo_vme_master_header &header, const char *&data, int &dataSize) const
{
    const char *p = buffer.constData() + taken;
    data = p + KelvoPacket::HeaderSize;
    return KelvoPacket::frameAt(p, pending(), header, dataSize);
}

void PacketStream::clear()
{
    buffer.clear();
    taken = 0;
}
