#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

// The VME master's program memory and event registers as RBCP sees them, and the
// copy of them that the window keeps between a layout and a download or a save.
// All multi-byte values are big-endian.
struct ModuleMemory
{
    // Register addresses.
    static constexpr quint32 EnableAddress = 4;      // 1 byte: event enable mask, 0 stops all
    static constexpr quint32 PollLevelAddress = 6;   // 1 byte: polling level 0..7
    static constexpr quint32 IntervalAddress = 12;   // 4 bytes: polling interval in us
    static constexpr quint32 StartTableAddress = 16; // 8 bytes: start of event e, units of 8 bytes
    static constexpr quint32 CountTableAddress = 24; // 8 bytes: instructions of event e, minus 1
    static constexpr quint32 VectorTableAddress = 1024; // 256 entries of 4 bytes
    static constexpr quint32 ImageAddress = 2048;    // the encoded programs
    static constexpr int VectorTableSize = 1024;
    static constexpr int ImageLimit = 2048;          // bytes the image may hold

    quint8 events = 0;      // bit 0: a polling program was laid; bit L: level L was laid
    quint8 savedEnable = 0; // enable mask read from the last program file
    quint8 pollLevel = 0;
    QByteArray interval = QByteArray(4, '\0');
    QByteArray startTable = QByteArray(8, '\0');
    QByteArray countTable = QByteArray(8, '\0');
    QByteArray vectorTable = QByteArray(VectorTableSize, '\0');
    QByteArray image;

    // The bit of the enable mask for an event as the event table names it (Polling is bit 0,
    // InterruptL bit L), without regard to case; -1 for any other name.
    static int eventBit(const QString &name);

    // One register write of a download.
    struct Write
    {
        quint32 address;
        QByteArray data;
    };
    // The writes that put this memory into a stopped module, in the order the module needs
    // them: polling level; interval, start and count tables; vector table and image; and last
    // the enable mask, which starts the programs.
    QList<Write> downloadWrites(quint8 enable) const;
};
