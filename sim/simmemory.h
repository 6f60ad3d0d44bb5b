#pragma once

#include <QByteArray>
#include <QHash>
#include <QtGlobal>

// The VME address spaces behind the module: A16 (64 KiB), A24 (16 MiB) and A32 (4 GiB), each
// byte-addressed and initially zero. Items travel big-endian, so a byte array in address order
// is exactly what the bus sees. Pages are created on the first non-zero write, which keeps the
// 4 GiB space cheap.
class SimVmeMemory
{
public:
    // Size in bytes of an address space, 0 for an undefined address mode.
    static quint64 spaceSize(int addressMode);
    // Whether [address, address + size) lies inside the space.
    static bool fits(int addressMode, quint64 address, quint64 size);

    // Both expect a range that fits().
    QByteArray read(int addressMode, quint32 address, int size) const;
    void write(int addressMode, quint32 address, const QByteArray &bytes);

    int pageCount() const;

private:
    static constexpr quint32 PageBits = 12;
    static constexpr quint32 PageSize = 1u << PageBits;

    QHash<quint32, QByteArray> m_pages[3];
};
