#pragma once

#include "tarnixcmd.h"

#include <QByteArray>

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
