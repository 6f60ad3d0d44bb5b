#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

class VmeProgram;

// What a program table, a program text or a program file lets through although the module
// will not do what the operator meant: a program that never runs, reports that cannot be told
// apart, an access the bus refuses. A warning refuses nothing: the table builds and downloads
// as it is. The window, tarnixctl and scripts show the same list.
namespace ProgramWarnings {

struct Warning
{
    int program = -1;      // index in the table checked; -1 for the table as a whole
    int instruction = -1;  // index in that program's instructions; -1 for the program itself
    enum Place { OnProgram, OnId, OnAddress, OnData, OnEvents } place = OnProgram;
    QString message;
    int line = 0;          // place in a program text, from 1; 0 when not from a text
    int column = 0;

    // "line:column: message", or the message alone without a place.
    QString text() const;
};

// The table's warnings, in table order. programs: the table in its order; eventMask: the
// checked rows of the event table (bit 0 Polling, bit n Interrupt n); low..high: the
// interactive ID range.
QList<Warning> check(const QList<VmeProgram *> &programs, quint8 eventMask, int low, int high);

// The warnings of a program file, text or binary (told apart by content), sorted by place.
// False, with the message to show (naming fileName, and the line and column of a text), when
// the file is refused.
bool checkFile(const QByteArray &bytes, const QString &fileName, QList<Warning> &warnings, QString &refusal);

// "fileName:line:column: warning: message" (or "fileName: warning: message" without a place).
QString fileText(const QString &fileName, const Warning &warning);

} // namespace ProgramWarnings
