#pragma once

#include <QByteArray>

// Bytes written as hex digits; blanks may group them ("00001000 0a00 80 04").
inline QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text));
}

// Filler bytes that differ from one position and one seed to the next.
inline QByteArray pattern(int size, int seed = 0)
{
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i)
        bytes[i] = char((seed * 37 + i * 13 + 1) & 0xFF);
    return bytes;
}
