#pragma once

#include <QByteArray>
#include <QSet>
#include <QString>

// The texts in which the program editor shows and takes instruction data, interval values,
// numbers and vector lists. Widget-free so that the editor and its tests share them.
//
// A data text is a list of items separated by spaces; as written here every item is "0x"
// and 2, 4 or 8 lower-case hex digits (D8, D16, D32), each followed by one space. Multi-byte
// items are big-endian. Base-prefix notation: "0x" hex, a leading "0" octal, else decimal.
namespace DataText {

// Appends the data text of bytes; a trailing part smaller than one item is not shown.
void strDataD8(const QByteArray &bytes, QString &text);
void strDataD16(const QByteArray &bytes, QString &text);
void strDataD32(const QByteArray &bytes, QString &text);
// The same by data-mode index: 0 D8, 1 D16, any other D32.
void strData(int dataMode, const QByteArray &bytes, QString &text);

// Appends the bytes of text's items; false at the first invalid item, whose predecessors
// stay appended. Each item is read as hex first and, if that fails or does not fit the
// width, in base-prefix notation.
bool dataD8(QByteArray &bytes, const QString &text);
bool dataD16(QByteArray &bytes, const QString &text);
bool dataD32(QByteArray &bytes, const QString &text);
bool data(int dataMode, QByteArray &bytes, const QString &text);

// Number of items, 0 for none, -1 when an item is invalid.
int checkD8(const QString &text);
int checkD16(const QString &text);
int checkD32(const QString &text);
int check(int dataMode, const QString &text);

// Trims a fixed-point text: trailing zeros after the (last) ".", then a "." left last.
// A text without "." is left unchanged.
void removeZeros(QString &text);

// A number in base-prefix notation. Qt's own base detection also reads "0b" as binary, which
// the operator's number forms do not have: such a text is refused like any malformed number.
bool readBasePrefix(const QString &text, quint64 &value);

// True when the text has at least one character.
bool isStrValid(const QString &text);
// A 32-bit number: in base-prefix notation when the text contains "0x", else hex.
bool checkUInt32(const QString &text, unsigned int &value);
// A number from 0 to max in base-prefix notation.
bool checkUChar(const QString &text, unsigned char &value, unsigned int max);

// Reads a vector list such as "0x10,3-5" into vectors. Pieces are separated by ","; a piece
// is a number or a range "a-b" (either order; in "a-b-c" only a and c count). False at the
// first piece that is not valid, including a piece without any number ("-", "--"); vectors
// inserted before stay in the set. An empty list is valid and inserts nothing.
bool checkVectorNum(const QString &text, QSet<unsigned char> &vectors);

// Rebuilds the vector list text of a vector program from its number (first vector + 1)
// and its vectors in stored order, whose first entry is the first vector: runs of
// consecutive vectors become ranges, e.g. 3, 4, 5, 9 gives "3-5,9".
QString vectorText(int number, const QByteArray &vectors);

} // namespace DataText
