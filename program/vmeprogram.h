#pragma once

#include "vmeinstruction.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

class ProgramHost;

// One program that the module runs by itself when its event occurs.
//
// number:   0 polling program; -1 to -7 interrupt program of level 1 to 7;
//           1 to 256 vector program whose first vector is number - 1;
//           257 default vector program (every vector without a program of its own).
// Encoding: the records of the instructions in order, nothing around or between them.
class VmeProgram
{
public:
    static constexpr int DefaultVectorNumber = 257;
    static constexpr int IntrRecordSize = 8;

    int number = 0;
    int level = 0;           // polling 0..7, interrupt 1..7, default vector -1
    int imageOffset = -1;    // where a program file's image held it; -1 when not read from a file
    QString vectorText;      // vector list as typed by the operator
    QByteArray data;         // polling: interval in us, 4 bytes big-endian; vector: its vectors
    QList<VmeInstruction *> instructions;  // execution order, owned

    VmeProgram() = default;
    // The INTR-only interrupt program of level.
    explicit VmeProgram(unsigned int level);
    // Parses instruction records from bytes, starting at byte position pos. count is the
    // number of records wanted and, on return, the number that were not read. Each
    // instruction taken into the program has its ID marked used with host (may be null).
    VmeProgram(const QByteArray &bytes, int &count, int pos, ProgramHost *host);
    ~VmeProgram();

    VmeProgram(const VmeProgram &) = delete;
    VmeProgram &operator=(const VmeProgram &) = delete;

    // Deletes the instructions and empties the list.
    void clear();

    // True when the program is the single INTR instruction made by VmeProgram(level).
    bool isIntrOnly() const;

    // Appends the program's encoding; returns the number of instructions encoded.
    int setProgram(QByteArray &out) const;

    // Appends the 8-byte INTR record of level; returns true.
    static bool setINTR(unsigned int level, QByteArray &out);
    // True when bytes holds at least 8 bytes and begins with the INTR record of level.
    static bool checkINTR(unsigned int level, const QByteArray &bytes);
    // Appends the one-record default vector program: a D8 read of address 0 with the
    // host's default address and access mode and a free program ID (marked used).
    // Returns false when the host had no free ID left; the record is appended all the same.
    static bool setVectorBase(QByteArray &out, ProgramHost *host);

    static void toByteArray(unsigned short value, QByteArray &out);
    static void toByteArray(unsigned int value, QByteArray &out);
    // The first 4 (or 2) bytes, big-endian; 0 when the array is shorter.
    static quint32 fromByteArray(const QByteArray &bytes);
    static quint16 fromByteArray16(const QByteArray &bytes);
};
