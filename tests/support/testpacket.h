#pragma once

#include "tarnixcmd.h"

#include <QByteArray>
#include <QtEndian>

// A packet as the module sends it: the 12-byte header with its CRC, then the data as given.
inline QByteArray packet(quint32 address, quint32 length, quint16 mode, quint8 id, const QByteArray &data = {})
{
    TarnixCmd p;
    p.address = address;
    p.length = length;
    p.mode = mode;
    p.id = id;
    p.data = data;
    return p.toPacket();
}

// Report k of a numbered run: a polling D32 read of 0x2000 with ID 5 whose data is k, big-endian.
inline QByteArray numberedReport(quint32 k)
{
    QByteArray d(4, '\0');
    qToBigEndian(k, d.data());
    return packet(0x2000, 0x10000004, 0x0A00, 5, d);
}
