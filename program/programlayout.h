#pragma once

#include "modulememory.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QtGlobal>

class ProgramHost;
class VmeProgram;

// Lays the programs of the table into the module's program memory: the polling program at 0,
// the vector programs in table order, the default vector program, then the interrupt programs
// on 8-byte boundaries and an INTR record for every level without a program of its own; with
// the start and count tables of the events and the vector table. The same layout serves the
// download and the program files.
//
// The layout adds the programs the module needs and the table lacks (the default vector
// program, INTR-only interrupt programs); the caller inserts them into its table, also after
// a refusal, since their IDs are then taken. A refusal carries the warning to show; nothing of
// such a layout may be sent.
class ProgramLayout
{
public:
    enum Outcome { Laid, PollingMissing, Overflow, NoFreeId };

    struct Result
    {
        Outcome outcome = Laid;
        QString message;           // the warning text, titled "Invalid Setting"; empty when laid
        QList<VmeProgram *> added; // new programs, in the order made; owned by the caller
        quint8 checkRows = 0;      // event rows the caller checks for the programs it inserts

        bool ok() const { return outcome == Laid; }
    };

    static const QString PollingMissingText;

    // host hands out the default vector program's ID and default modes (may be null in tests
    // that need no default vector program).
    explicit ProgramLayout(ProgramHost *host);

    // programs: the table in its order; eventMask: the check boxes of the event table.
    // Rewrites every field of memory but savedEnable.
    Result lay(const QList<VmeProgram *> &programs, quint8 eventMask, ModuleMemory &memory);

    static QString overflowText();

private:
    bool prgPolling();
    bool prgVector();
    bool prgInterrupt();
    bool checkPrgSize();
    int setVectorBase(char count, char high, char low);
    void setINTR(int level);
    const VmeProgram *find(int number) const;

    ProgramHost *host;
    const QList<VmeProgram *> *programs = nullptr;
    quint8 mask = 0;
    ModuleMemory *mem = nullptr;
    QSet<quint8> usedVectors;
    Result result;
};
