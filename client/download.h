#pragma once

#include "modulememory.h"

#include <QList>
#include <QString>

class QRbcp;

// A download of program memory into the module, in the order the module needs it:
//   1. the stop: 0 written to the event enable mask;
//   2. StopWaitMs for a program still running to finish its run;
//   3. the tables and the image, in ModuleMemory's order;
//   4. with verification, every byte of them read back;
//   5. the enable mask, which starts the programs (and, with verification, read back).
// The mask goes last so that the module runs nothing while its memory is rewritten.
struct DownloadPlan
{
    // Time the module is given to stop its programs before its tables are rewritten.
    static constexpr int StopWaitMs = 100;
    static constexpr quint32 StopAddress = ModuleMemory::EnableAddress;

    QList<ModuleMemory::Write> tables;
    ModuleMemory::Write mask{ModuleMemory::EnableAddress, QByteArray(1, '\0')};

    static DownloadPlan of(const ModuleMemory &memory, quint8 enable);
    // The plan of a program file, binary or text (told apart by content), with the file's own
    // enable mask; read and checked whole as the window opens it. False with the message
    // naming the file ("FILE:line:column: message" for a refused text).
    static bool load(const QString &fileName, DownloadPlan &plan, QString &failure);
    // The same for the bytes of a binary program file.
    static bool fromProgramFile(const QByteArray &bytes, const QString &fileName, DownloadPlan &plan,
                                QString &failure);
    // Every write after the stop, the mask last.
    QList<ModuleMemory::Write> writes() const;
    qint64 bytes() const;

    // Carries out the whole download on the calling thread through an RBCP client that is
    // ready for accesses (startUDP done). Transport failures are thrown as QRbcp::ErrSts, as
    // by the client's own accesses. Returns what failed, or an empty text when all went in
    // (and read back as written, with verify).
    QString run(QRbcp &rbcp, bool verify) const;

    // Reads each write back: the first byte that differs, or an empty text when all match.
    static QString verify(QRbcp &rbcp, const QList<ModuleMemory::Write> &writes);
};
