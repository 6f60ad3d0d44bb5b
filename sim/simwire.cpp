#include "simwire.h"

#include <array>

namespace SimWire {

namespace {

std::array<quint8, 256> makeCrcTable()
{
    std::array<quint8, 256> table{};
    for (int i = 0; i < 256; ++i) {
        quint8 crc = quint8(i);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80) ? quint8((crc << 1) ^ 0x07) : quint8(crc << 1);
        table[std::size_t(i)] = crc;
    }
    return table;
}

const std::array<quint8, 256> crcTable = makeCrcTable();

} // namespace

quint8 crc8(const char *data, int size, quint8 init)
{
    quint8 crc = init;
    for (int i = 0; i < size; ++i)
        crc = crcTable[std::size_t(crc ^ quint8(data[i]))];
    return crc;
}

quint32 readBe32(const char *p)
{
    const auto *u = reinterpret_cast<const uchar *>(p);
    return (quint32(u[0]) << 24) | (quint32(u[1]) << 16) | (quint32(u[2]) << 8) | quint32(u[3]);
}

quint16 readBe16(const char *p)
{
    const auto *u = reinterpret_cast<const uchar *>(p);
    return quint16((u[0] << 8) | u[1]);
}

void writeBe32(char *p, quint32 value)
{
    p[0] = char(value >> 24);
    p[1] = char(value >> 16);
    p[2] = char(value >> 8);
    p[3] = char(value);
}

void writeBe16(char *p, quint16 value)
{
    p[0] = char(value >> 8);
    p[1] = char(value);
}

Header parseHeader(const char *bytes)
{
    Header h;
    h.address = readBe32(bytes);
    h.length = readBe32(bytes + 4);
    h.mode = readBe16(bytes + 8);
    h.id = quint8(bytes[10]);
    h.crc = quint8(bytes[11]);
    return h;
}

bool headerCrcOk(const char *bytes)
{
    return crc8(bytes, HeaderSize - 1) == quint8(bytes[HeaderSize - 1]);
}

void writeHeader(char *out, const Header &header)
{
    writeBe32(out, header.address);
    writeBe32(out + 4, header.length);
    writeBe16(out + 8, header.mode);
    out[10] = char(header.id);
    out[11] = char(crc8(out, HeaderSize - 1));
}

QByteArray packet(const Header &header, const QByteArray &data)
{
    QByteArray out(HeaderSize, Qt::Uninitialized);
    writeHeader(out.data(), header);
    out.append(data);
    return out;
}

bool carriesData(quint16 mode)
{
    if (mode & ModeWrite)
        return (mode & ModeEcho) != 0;
    return (mode & ModeNoEcho) == 0;
}

int itemSize(int dataMode)
{
    switch (dataMode) {
    case 0: return 1;
    case 1: return 2;
    case 2: return 4;
    default: return 0;
    }
}

bool knownAccessCode(quint8 code)
{
    switch (code) {
    case 0x0: case 0x1: case 0x2: case 0x3: case 0x4: case 0x5: case 0x6:
    case 0x8: case 0x9: case 0xC: case 0xD:
        return true;
    default:
        return false;
    }
}

int commandDataSize(const Header &header)
{
    return isWrite(header.mode) ? int(header.length & 0xFF) : 0;
}

} // namespace SimWire
