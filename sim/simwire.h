#pragma once

#include <QByteArray>
#include <QtGlobal>

// The module's own view of the TCP packet format: a 12-byte big-endian header protected by a
// CRC-8, followed by data. Written from the byte layout alone so that it cross-checks the
// utility's encoder rather than sharing its mistakes.
namespace SimWire {

constexpr int HeaderSize = 12;

// Mode-word fields and status bits.
constexpr quint16 ModeWrite = 0x8000;
constexpr quint16 ModeEcho = 0x4000;
constexpr quint16 ModeNoEcho = 0x2000;
constexpr quint16 StatusMask = 0x000F;
constexpr quint16 StatusVmeError = 0x0004;
constexpr quint16 StatusParamError = 0x0001;
constexpr quint8 AccessIntr = 0x3;

struct Header
{
    quint32 address = 0;
    quint32 length = 0;
    quint16 mode = 0;
    quint8 id = 0;
    quint8 crc = 0;
};

// CRC-8, polynomial x^8 + x^2 + x + 1, most significant bit first, no reflection, no final xor.
quint8 crc8(const char *data, int size, quint8 init = 0xFF);

// Reads a header from 12 bytes; crc is the byte as received.
Header parseHeader(const char *bytes);
// True when byte 11 of the 12 bytes is the CRC of bytes 0..10.
bool headerCrcOk(const char *bytes);
// Writes the 12 header bytes, computing the CRC (header.crc is ignored).
void writeHeader(char *out, const Header &header);
// A whole packet: the header with a correct CRC, then the data.
QByteArray packet(const Header &header, const QByteArray &data = QByteArray());

// Whether a response or report of this mode carries data after its header: for a write the
// echo bit, for a read the absence of the no-echo bit.
bool carriesData(quint16 mode);
inline bool isWrite(quint16 mode) { return (mode & ModeWrite) != 0; }
inline int dataMode(quint16 mode) { return (mode >> 10) & 0x3; }
inline int addressMode(quint16 mode) { return (mode >> 8) & 0x3; }
inline quint8 accessCode(quint16 mode) { return quint8((mode >> 4) & 0xF); }
// Item size in bytes of a data mode (D8, D16, D32), 0 for the undefined value 3.
int itemSize(int dataMode);
// Whether an access code is one of the fixed-address kinds (bit 3), which move every item
// through one address.
inline bool isFixedAddress(quint8 code) { return (code & 0x8) != 0; }
// Whether an access code is one the VME master knows.
bool knownAccessCode(quint8 code);

// Number of data bytes that follow a command header on the wire: a write carries its data,
// a read carries none.
int commandDataSize(const Header &header);

quint32 readBe32(const char *p);
quint16 readBe16(const char *p);
void writeBe32(char *p, quint32 value);
void writeBe16(char *p, quint16 value);

} // namespace SimWire
