#pragma once

#include <QByteArray>
#include <QtGlobal>

// The 12-byte header in front of every packet of the TCP command channel.
// On the wire every multi-byte field is big-endian; byte 11 is the CRC-8 of bytes 0 to 10.
struct kelvo_vme_master_header
{
    quint32 address = 0;
    // bits 7-0 data length in bytes, 27-16 flow ID, bit 28 polling, bits 31-29 priority level
    quint32 length = 0;
    quint16 mode = 0;
    quint8 id = 0;
    quint8 crc = 0;
};

namespace KelvoPacket {

constexpr int HeaderSize = 12;
constexpr quint8 CrcInit = 0xFF;

// One step of the header CRC-8 (x^8 + x^2 + x + 1, MSB first): folds byte into crc.
quint8 crcStep(quint8 crc, quint8 byte);

// CRC-8 (initial 0xFF, no final XOR) of the first 11 bytes.
quint8 headerCrc(const uchar *bytes);

// Appends the 12 header bytes to out; the CRC is computed and stored into header.crc.
void appendHeader(kelvo_vme_master_header &header, QByteArray &out);

// Reads a header from 12 bytes (the CRC byte is taken as it stands, not checked).
kelvo_vme_master_header readHeader(const uchar *bytes);

inline quint32 dataLength(quint32 length) { return length & 0xFF; }
inline quint32 flowId(quint32 length) { return (length >> 16) & 0xFFF; }
inline bool isPolling(quint32 length) { return (length & 0x10000000u) != 0; }
inline quint32 priorityLevel(quint32 length) { return length >> 29; }

// Data bytes that follow a response or report header on the wire.
int responseDataSize(const kelvo_vme_master_header &header);

// Same value as headerCrc, through a 256-entry table built from the bitwise step; used on
// the receive path, where every header of a fast stream is checked.
quint8 headerCrcFast(const uchar *bytes);

enum class Frame { Complete, Incomplete, CrcError };

// Looks at the bytes at p (avail of them) for one packet. Complete: header and dataSize are
// set and the packet is 12 + dataSize bytes long. Incomplete: fewer bytes than the packet
// needs (the header is read when 12 bytes are there). CrcError: the header's CRC byte is wrong.
Frame frameAt(const char *p, qsizetype avail, kelvo_vme_master_header &header, int &dataSize);

} // namespace KelvoPacket

// The module's byte stream cut into packets: reads are appended as they come, packets are
// looked at and then taken one by one, and an unfinished packet waits for the next read.
// Taken bytes are never looked at again, whatever ends a pass.
class PacketStream
{
public:
    // Adds the bytes of a read (the bytes of taken packets are dropped first).
    void append(const QByteArray &bytes);
    // The packet after those taken; header, data and dataSize are set when it is Complete.
    // A CrcError stays where it is: nothing after a broken header can be framed.
    KelvoPacket::Frame peek(kelvo_vme_master_header &header, const char *&data, int &dataSize) const;
    // Steps past the complete packet that peek() returned.
    void take(int dataSize) { taken += KelvoPacket::HeaderSize + dataSize; }
    // Bytes received and not yet taken.
    qsizetype pending() const { return buffer.size() - taken; }
    void clear();

private:
    QByteArray buffer;
    qsizetype taken = 0;
};
