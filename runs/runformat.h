#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

// The blocks of a run file, without any I/O: bytes in, one block out, or "need more bytes", or
// "malformed". docs/runfile.md describes the layout.
//
// Every block: type (4 bytes), total length (4), body, total length again (4); the total length
// counts all of it and is a multiple of 4. Numbers are in the byte order that the section
// header's magic shows (the writer uses little-endian).
namespace RunFormat {

constexpr quint32 SectionHeaderType = 0x0A0D0D0A;
constexpr quint32 InterfaceDescriptionType = 0x00000001;
constexpr quint32 InterfaceStatisticsType = 0x00000005;
constexpr quint32 EnhancedPacketType = 0x00000006;
constexpr quint32 ByteOrderMagic = 0x1A2B3C4D;
// The first link type of the range left to private use: the module's TCP stream.
constexpr quint16 LinkType = 147;
constexpr quint32 MinBlockSize = 12;
// Larger blocks are taken as damage: the writer stays far below (MaxBatchData).
constexpr quint32 MaxBlockSize = 16u << 20;
// Packet bytes in one packet block at most: capture tools take blocks of up to 256 KiB.
constexpr int MaxBatchData = 65536;
constexpr int EnhancedPacketFixed = 20; // interface, time high, time low, captured, original

// Option codes.
constexpr quint16 OptEnd = 0;
constexpr quint16 OptComment = 1;
constexpr quint16 ShbHardware = 2;
constexpr quint16 ShbOs = 3;
constexpr quint16 ShbUserAppl = 4;
constexpr quint16 IfName = 2;
constexpr quint16 IfTsResol = 9;
constexpr quint16 IsbStartTime = 2;
constexpr quint16 IsbEndTime = 3;
constexpr quint16 IsbIfRecv = 4;

enum class Parse { Block, NeedMore, Malformed };

struct Block
{
    quint32 type = 0;
    quint32 size = 0;          // the whole block, both length fields included
    const uchar *body = nullptr;
    quint32 bodySize = 0;
};

// Looks at the avail bytes at p for one whole block. bigEndian is the byte order of the section
// so far; a section header sets it from its own magic. NeedMore: need is set to the bytes the
// block needs in all (at least avail + 1). Malformed: why says what is wrong. Nothing is
// allocated: the block points into p.
Parse parseBlock(const uchar *p, qsizetype avail, bool &bigEndian, Block &block, qsizetype &need, QString &why);

struct Option
{
    quint16 code = 0;
    QByteArray value;
};
// The options from p to p + size (a block's body after its fixed fields). False when one runs
// past the end.
bool readOptions(const uchar *p, qsizetype size, bool bigEndian, QList<Option> &options);

quint16 get16(const uchar *p, bool bigEndian);
quint32 get32(const uchar *p, bool bigEndian);
quint64 get64(const uchar *p, bool bigEndian);

// Time stamp units of an interface's if_tsresol byte, as nanoseconds per unit times the
// returned divisor (a base-2 resolution finer than 1 ns gives a divisor above 1).
// Default (no option): microseconds.
bool resolution(quint8 tsresol, quint64 &nsPerUnit, quint64 &divisor);

// Writing (little-endian). Each appends to out.
void appendOption(QByteArray &out, quint16 code, const QByteArray &value);
void appendEndOfOptions(QByteArray &out);
// A block of the type around a body that is already a multiple of 4 bytes.
void appendBlock(QByteArray &out, quint32 type, const QByteArray &body);

} // namespace RunFormat
