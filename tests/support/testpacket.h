#pragma once

#include "packet.h"

#include <QByteArray>

// A packet as the module sends it: the 12-byte header with its CRC, then the data as given.
inline QByteArray packet(quint32 address, quint32 length, quint16 mode, quint8 id, const QByteArray &data = {})
{
    kelvo_vme_master_header h;
    h.address = address;
    h.length = length;
    h.mode = mode;
    h.id = id;
    QByteArray out;
    KelvoPacket::appendHeader(h, out);
    out += data;
    return out;
}
