#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// The text forms of the interactive tab's data: the hex dump that shows what came off the bus
// and the reading of that text back into bytes for a write or a data file. Plain functions over
// strings, so every layout can be checked without a window.
//
// Width is the data-width index of the mode word: 0 D8, 1 D16, 2 D32. Items are printed most
// significant byte first with upper-case digits; row addresses in lower case. A plain row holds
// 8 bytes; the echo layout puts the source column (padded to its full width) and the echo
// column side by side, separated by two blanks.
namespace HexLayout {

// Bytes per item of a data width (1, 2 or 4).
int itemSize(int width);
// Characters of a full row part of 8 bytes: 24 (D8), 20 (D16) or 18 (D32).
int rowPartWidth(int width);

// One row part covering the bytes from start to start + count: the items that data has there,
// blanks for the rest, so that the part always has its full width. Nothing for count <= 0.
void dumpD8(QString &text, const QByteArray &data, int start, int count);
void dumpD16(QString &text, const QByteArray &data, int start, int count);
void dumpD32(QString &text, const QByteArray &data, int start, int count);
void dumpRowPart(QString &text, const QByteArray &data, int start, int count, int width);

// The D8 plain layout from byte start on; column is the row position (0..7) of that byte.
// With showAddress, a row that starts at position 0 begins with "[0x%.8x] " of its address.
void dumpBytes(QString &text, const QByteArray &data, int start, int column, bool showAddress,
               quint32 startAddress);

// The plain layout of the whole data, rows of 8 bytes; D16 and D32 rows end with a line feed.
QString plainText(const QByteArray &data, int width, bool showAddress, quint32 startAddress);
// The source and echo columns under their header line.
QString echoText(const QByteArray &source, const QByteArray &echo, int width, bool showAddress,
                 quint32 startAddress);

// Reads a text laid out with these flags back into bytes. Every piece between blanks, tabs or
// line breaks is read on its own, its hex digits paired from the end of the piece: an odd count
// leaves the first digit as a byte of its own, so "01 2 03" is 01 02 03 and "ABC" is 0A BC;
// every other character is skipped. With showAddress the first blank-separated piece of each
// line is the row address and is dropped; with showEcho the first line is the header and only
// the part of each line before the first two consecutive blanks (the source column) is read.
QByteArray readText(const QString &text, bool showAddress, bool showEcho);

// The start address of the rows as typed in the address field: with "0x" in it the number is
// read in C notation (0x hexadecimal, leading 0 octal, else decimal), otherwise as hexadecimal.
// Truncated to 32 bits; 0 when it is not a number.
quint32 rowAddress(const QString &text);
// The same reading for a command: false unless it is a number of at most 0xFFFFFFFF.
bool parseAddress(const QString &text, quint32 *address);
// A length in C notation (decimal without prefix); false unless it is a number.
bool parseLength(const QString &text, quint64 *length);

} // namespace HexLayout
