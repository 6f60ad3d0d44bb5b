#pragma once

#include "modeword.h"

#include <QByteArray>
#include <QtGlobal>

// One VME access instruction of a program: its mode fields come from the mode word.
//
// Record form in the module's program memory and in program files (8 bytes, then data):
//   0..3  address, big-endian
//   4..5  mode word, high byte first
//   6     id
//   7     data length in bytes (length items of the data width, kept to 8 bits)
//   8..   write data, exactly as many bytes as the length byte says; none for a read
class VmeInstruction : public VmeModeWord
{
public:
    static constexpr int RecordHeaderSize = 8;

    quint32 address = 0;
    int length = 0;          // data items: bytes (D8), 16-bit words (D16) or 32-bit words (D32)
    quint8 id = 0;           // reported by the module with the results of this instruction
    QByteArray data;         // write data, length items; empty for a read

    VmeInstruction() = default;

    // The length byte of the record: length items of the data width, kept to 8 bits.
    quint8 byteLength() const;

    // The editor's Read/Write text of the instruction ("Read", "Write(No Data Echo)", ...).
    QString readWriteText() const;

    // Appends the 8-byte record and, for a write, exactly byteLength() data bytes
    // (data cut or zero-filled to that size), so that the next record starts where the
    // length byte says.
    void setRecord(QByteArray &out) const;
};
