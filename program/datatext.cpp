#include "datatext.h"

#include <QStringList>

namespace {

int itemSizeOf(int dataMode)
{
    return dataMode == 0 ? 1 : dataMode == 1 ? 2 : 4;
}

quint64 itemMax(int itemSize)
{
    return (quint64(1) << (8 * itemSize)) - 1;
}

void writeItems(const QByteArray &bytes, QString &text, int itemSize)
{
    for (qsizetype i = 0; i + itemSize <= bytes.size(); i += itemSize) {
        text += QLatin1String("0x");
        text += QLatin1String(bytes.mid(i, itemSize).toHex());
        text += QLatin1Char(' ');
    }
}

QStringList items(const QString &text)
{
    return text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

// One item: hex first (so "10" is 0x10), then base-prefix notation when the hex reading
// fails or does not fit the width (so "255" is still a D8 item).
bool readItem(const QString &piece, quint64 max, quint64 &value)
{
    bool ok = false;
    quint64 v = piece.toULongLong(&ok, 16);
    if ((!ok || v > max) && (!DataText::readBasePrefix(piece, v) || v > max))
        return false;
    value = v;
    return true;
}

bool readItems(QByteArray &bytes, const QString &text, int itemSize)
{
    const quint64 max = itemMax(itemSize);
    for (const QString &piece : items(text)) {
        quint64 value = 0;
        if (!readItem(piece, max, value))
            return false;
        for (int shift = 8 * (itemSize - 1); shift >= 0; shift -= 8)
            bytes.append(char(quint8(value >> shift)));
    }
    return true;
}

int countItems(const QString &text, int itemSize)
{
    const quint64 max = itemMax(itemSize);
    const QStringList pieces = items(text);
    for (const QString &piece : pieces) {
        quint64 value = 0;
        if (!readItem(piece, max, value))
            return -1;
    }
    return int(pieces.size());
}

} // namespace

namespace DataText {

void strDataD8(const QByteArray &bytes, QString &text) { writeItems(bytes, text, 1); }
void strDataD16(const QByteArray &bytes, QString &text) { writeItems(bytes, text, 2); }
void strDataD32(const QByteArray &bytes, QString &text) { writeItems(bytes, text, 4); }

void strData(int dataMode, const QByteArray &bytes, QString &text)
{
    writeItems(bytes, text, itemSizeOf(dataMode));
}

bool dataD8(QByteArray &bytes, const QString &text) { return readItems(bytes, text, 1); }
bool dataD16(QByteArray &bytes, const QString &text) { return readItems(bytes, text, 2); }
bool dataD32(QByteArray &bytes, const QString &text) { return readItems(bytes, text, 4); }

bool data(int dataMode, QByteArray &bytes, const QString &text)
{
    return readItems(bytes, text, itemSizeOf(dataMode));
}

int checkD8(const QString &text) { return countItems(text, 1); }
int checkD16(const QString &text) { return countItems(text, 2); }
int checkD32(const QString &text) { return countItems(text, 4); }

int check(int dataMode, const QString &text)
{
    return countItems(text, itemSizeOf(dataMode));
}

void removeZeros(QString &text)
{
    const qsizetype dot = text.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return;
    qsizetype end = text.size();
    while (end > dot + 1 && text.at(end - 1) == QLatin1Char('0'))
        --end;
    if (end == dot + 1)
        end = dot;
    text.truncate(end);
}

bool isStrValid(const QString &text)
{
    return !text.isEmpty();
}

bool readBasePrefix(const QString &text, quint64 &value)
{
    QStringView t = QStringView(text).trimmed();
    if (t.startsWith(QLatin1Char('+')))
        t = t.mid(1);
    if (t.startsWith(QLatin1String("0b"), Qt::CaseInsensitive))
        return false;
    bool ok = false;
    value = text.toULongLong(&ok, 0);
    return ok;
}

bool checkUInt32(const QString &text, unsigned int &value)
{
    bool ok = false;
    quint64 v = 0;
    if (text.contains(QLatin1String("0x")))
        ok = readBasePrefix(text, v);
    else
        v = text.toULongLong(&ok, 16);
    if (!ok || v > 0xFFFFFFFFu)
        return false;
    value = static_cast<unsigned int>(v);
    return true;
}

bool checkUChar(const QString &text, unsigned char &value, unsigned int max)
{
    quint64 v = 0;
    if (!readBasePrefix(text, v) || v > max)
        return false;
    value = static_cast<unsigned char>(v);
    return true;
}

bool checkVectorNum(const QString &text, QSet<unsigned char> &vectors)
{
    for (const QString &piece : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QStringList parts = piece.split(QLatin1Char('-'), Qt::SkipEmptyParts);
        if (parts.isEmpty())
            return false;
        unsigned char first = 0;
        if (!checkUChar(parts.first(), first, 255))
            return false;
        if (parts.size() == 1) {
            vectors.insert(first);
            continue;
        }
        unsigned char last = 0;
        if (!checkUChar(parts.last(), last, 255))
            return false;
        const int from = qMin(first, last);
        const int to = qMax(first, last);
        for (int v = from; v <= to; ++v)
            vectors.insert(static_cast<unsigned char>(v));
    }
    return true;
}

QString vectorText(int number, const QByteArray &vectors)
{
    QString text = QString::number(number - 1);
    int next = number;  // the vector that would continue the current run
    bool open = false;
    for (qsizetype i = 1; i < vectors.size(); ++i) {
        const int entry = quint8(vectors.at(i));
        if (entry == next) {
            open = true;
            ++next;
            continue;
        }
        if (open) {
            text += QLatin1Char('-') + QString::number(next - 1);
            open = false;
        }
        text += QLatin1Char(',') + QString::number(entry);
        next = entry + 1;
    }
    if (open)
        text += QLatin1Char('-') + QString::number(next - 1);
    return text;
}

} // namespace DataText
