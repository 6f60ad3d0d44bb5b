#include "hexlayout.h"

#include "datatext.h"

#include <QStringView>

#include <algorithm>

namespace HexLayout {

namespace {

const QLatin1Char Blank(' ');

// Appends value as digits hexadecimal digits, zero-padded. Written out by hand because a dump
// of a large data file formats millions of items.
void appendHex(QString &text, quint32 value, int digits, bool upper)
{
    static const char lowerDigits[] = "0123456789abcdef";
    static const char upperDigits[] = "0123456789ABCDEF";
    const char *d = upper ? upperDigits : lowerDigits;
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4)
        text += QLatin1Char(d[(value >> shift) & 0xF]);
}

void appendRowAddress(QString &text, quint32 address)
{
    text += QLatin1String("[0x");
    appendHex(text, address, 8, false);
    text += QLatin1String("] ");
}

quint8 byteAt(const QByteArray &data, qsizetype i)
{
    return quint8(data.at(i));
}

// The end of the range [start, start + count) clipped to the data.
qsizetype clippedEnd(const QByteArray &data, int start, int count)
{
    return std::min<qsizetype>(qsizetype(start) + count, data.size());
}

int hexDigit(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

// Appends the bytes of every piece of text between blanks, tabs or line breaks. Each piece
// is read on its own: its hex digits pair from the end of the piece, so an odd count gives
// its first digit a byte of its own ("01 2 03" is 01 02 03, "ABC" is 0A BC) and no digit
// moves into the neighbouring piece. Every other character is skipped. Written out by hand
// because a loaded data file may hold a megabyte.
void appendDecoded(QByteArray &out, QStringView text)
{
    qsizetype i = 0;
    while (i < text.size()) {
        while (i < text.size() && text[i].isSpace())
            ++i;
        qsizetype end = i;
        int digits = 0;
        for (; end < text.size() && !text[end].isSpace(); ++end)
            digits += hexDigit(text[end]) >= 0;
        bool high = digits % 2 == 0;
        int byte = 0;
        for (; i < end; ++i) {
            const int d = hexDigit(text[i]);
            if (d < 0)
                continue;
            if (high)
                byte = d << 4;
            else
                out += char(byte | d);
            high = !high;
        }
    }
}

} // namespace

int itemSize(int width)
{
    return width == 1 ? 2 : width == 2 ? 4 : 1;
}

int rowPartWidth(int width)
{
    return width == 1 ? 20 : width == 2 ? 18 : 24;
}

void dumpD8(QString &text, const QByteArray &data, int start, int count)
{
    if (count <= 0)
        return;
    const qsizetype end = clippedEnd(data, start, count);
    for (qsizetype p = start; p < qsizetype(start) + count; ++p) {
        if (p >= 0 && p < end) {
            appendHex(text, byteAt(data, p), 2, true);
            text += Blank;
        } else {
            text += QLatin1String("   ");
        }
    }
}

void dumpD16(QString &text, const QByteArray &data, int start, int count)
{
    if (count <= 0)
        return;
    const qsizetype end = clippedEnd(data, start, count);
    for (qsizetype p = start; p < qsizetype(start) + count; p += 2) {
        if (p + 2 <= end) {
            appendHex(text, quint32(byteAt(data, p)) << 8 | byteAt(data, p + 1), 4, true);
            text += Blank;
        } else if (p < end) {
            appendHex(text, byteAt(data, p), 2, true); // a lone last byte
            text += QLatin1String("   ");
        } else {
            text += QLatin1String("     ");
        }
    }
}

void dumpD32(QString &text, const QByteArray &data, int start, int count)
{
    if (count <= 0)
        return;
    const qsizetype end = clippedEnd(data, start, count);
    for (qsizetype p = start; p < qsizetype(start) + count; p += 4) {
        if (p + 4 <= end) {
            const quint32 v = quint32(byteAt(data, p)) << 24 | quint32(byteAt(data, p + 1)) << 16 |
                quint32(byteAt(data, p + 2)) << 8 | byteAt(data, p + 3);
            appendHex(text, v, 8, true);
            text += Blank;
        } else if (p < end) {
            // A last item of 1 to 3 bytes keeps the item's width.
            const qsizetype r = end - p;
            for (qsizetype k = 0; k < r; ++k)
                appendHex(text, byteAt(data, p + k), 2, true);
            for (qsizetype k = r; k < 3; ++k)
                text += QLatin1String("  ");
            text += QLatin1String("   ");
        } else {
            text += QLatin1String("         ");
        }
    }
}

void dumpRowPart(QString &text, const QByteArray &data, int start, int count, int width)
{
    if (width == 1)
        dumpD16(text, data, start, count);
    else if (width == 2)
        dumpD32(text, data, start, count);
    else
        dumpD8(text, data, start, count);
}

void dumpBytes(QString &text, const QByteArray &data, int start, int column, bool showAddress,
               quint32 startAddress)
{
    int position = column;
    for (qsizetype i = std::max(start, 0); i < data.size(); ++i) {
        if (position == 7) {
            appendHex(text, byteAt(data, i), 2, true);
            text += QLatin1Char('\n');
            position = 0;
            continue;
        }
        if (showAddress && position == 0)
            appendRowAddress(text, quint32(startAddress + quint32(i)));
        appendHex(text, byteAt(data, i), 2, true);
        text += Blank;
        ++position;
    }
}

QString plainText(const QByteArray &data, int width, bool showAddress, quint32 startAddress)
{
    QString text;
    const qsizetype rows = (data.size() + 7) / 8;
    text.reserve(rows * (rowPartWidth(width) + (showAddress ? 13 : 0) + 1));
    if (width != 1 && width != 2) {
        dumpBytes(text, data, 0, 0, showAddress, startAddress);
        return text;
    }
    for (qsizetype i = 0; i < data.size(); i += 8) {
        if (showAddress)
            appendRowAddress(text, quint32(startAddress + quint32(i)));
        dumpRowPart(text, data, int(i), int(std::min<qsizetype>(8, data.size() - i)), width);
        text += QLatin1Char('\n');
    }
    return text;
}

QString echoText(const QByteArray &source, const QByteArray &echo, int width, bool showAddress,
                 quint32 startAddress)
{
    QString text;
    const qsizetype rows = (source.size() + 7) / 8;
    text.reserve((rows + 1) * (2 * rowPartWidth(width) + (showAddress ? 13 : 0) + 3));
    if (showAddress)
        text += QString(13, Blank);
    if (width == 2)
        text += QLatin1String("<< Source Data >>   <<  Echo Data  >>\n");
    else if (width == 1)
        text += QLatin1String("<<  Source Data  >>   <<   Echo Data   >>\n");
    else
        text += QLatin1String("<<    Source Data    >>   <<     Echo Data     >>\n");
    for (qsizetype i = 0; i < source.size(); i += 8) {
        if (showAddress)
            appendRowAddress(text, quint32(startAddress + quint32(i)));
        dumpRowPart(text, source, int(i), 8, width);
        text += QLatin1String("  ");
        dumpRowPart(text, echo, int(i), int(std::min<qsizetype>(8, echo.size() - i)), width);
        text += QLatin1Char('\n');
    }
    return text;
}

QByteArray readText(const QString &text, bool showAddress, bool showEcho)
{
    QByteArray out;
    if (!showEcho && !showAddress) {
        out.reserve(text.size() / 2);
        appendDecoded(out, text);
        return out;
    }

    const QStringView all(text);
    bool header = showEcho;
    qsizetype pos = 0;
    while (pos <= all.size()) {
        qsizetype nl = all.indexOf(QLatin1Char('\n'), pos);
        if (nl < 0)
            nl = all.size();
        QStringView line = all.mid(pos, nl - pos);
        pos = nl + 1;
        if (header) {
            header = false;
            continue;
        }
        if (showEcho) {
            const qsizetype cut = line.indexOf(QLatin1String("  "));
            if (cut >= 0)
                line = line.left(cut);
        }
        if (showAddress) {
            const qsizetype blank = line.indexOf(Blank);
            line = blank < 0 ? QStringView() : line.mid(blank + 1);
        }
        appendDecoded(out, line);
    }
    return out;
}

namespace {

bool convert(const QString &text, quint64 *value)
{
    bool ok = false;
    *value = text.contains(QLatin1String("0x")) ? text.toULongLong(&ok, 0) : text.toULongLong(&ok, 16);
    return ok;
}

} // namespace

quint32 rowAddress(const QString &text)
{
    quint64 v = 0;
    return convert(text, &v) ? quint32(v) : 0;
}

bool parseAddress(const QString &text, quint32 *address)
{
    quint64 v = 0;
    if (!convert(text, &v) || v > 0xFFFFFFFFull)
        return false;
    *address = quint32(v);
    return true;
}

bool parseLength(const QString &text, quint64 *length)
{
    return DataText::readBasePrefix(text, *length);
}

} // namespace HexLayout
