#pragma once

#include <QByteArray>
#include <QtGlobal>

// One command waiting for the TCP thread. Created on the heap by the producer;
// the thread owns it once queued and deletes it after sending.
struct TarnixCmd
{
    quint32 address = 0;
    quint32 length = 0; // commands carry only the data length (bits 7-0)
    quint16 mode = 0;
    quint8 id = 0;
    quint8 crc = 0; // written by the thread when it sends
    QByteArray data;

    // The packet as it goes on the wire: header (with its CRC, also stored in crc) and data.
    QByteArray toPacket();
};
