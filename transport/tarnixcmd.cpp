#include "tarnixcmd.h"

#include "packet.h"

QByteArray TarnixCmd::toPacket()
{
    kelvo_vme_master_header h;
    h.address = address;
    h.length = length;
    h.mode = mode;
    h.id = id;
    QByteArray out;
    out.reserve(KelvoPacket::HeaderSize + data.size());
    KelvoPacket::appendHeader(h, out);
    crc = h.crc;
    out.append(data);
    return out;
}
