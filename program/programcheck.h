#pragma once

#include "vmeinstruction.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <array>
#include <optional>

class ProgramHost;
class VmeProgram;

// The program editor's checks before a program is committed, the commit itself and the
// comparison of the editor's state with the program, over plain texts: one row of cell
// texts per instruction and the settings of the program's kind. The dialog gathers the
// texts, shows a refusal and makes its cell current.
namespace ProgramCheck {

enum Column {
    IdColumn,
    AddressColumn,
    ReadWriteColumn,
    DataModeColumn,
    LengthColumn,
    DataColumn,
    AccessModeColumn,
    AddressModeColumn,
    ColumnCount
};

// The texts of one table row; a cell without an item has no text.
using Row = std::array<std::optional<QString>, ColumnCount>;

// What the kind widgets of the editor show.
struct Kind {
    enum Type { None, Polling, Interrupt, Vector };
    Type type = None;
    QString interval;           // polling interval in the unit below
    double usecPerUnit = 1.0;   // 1e6 sec, 1000 msec, 1 usec
    int priority = 0;           // polling level 0..7
    int level = 1;              // interrupt level 1..7
    bool vectorIDs = true;      // a vector program with its own vectors (not the default one)
    QString vectorText;         // the vector list as typed
    bool intr = false;          // the program is the single interrupt-acknowledge instruction
};

struct Refusal {
    QString message;
    int row = -1;               // the cell to make current; -1 when the fault has no cell
    int column = -1;
};

// The program's fields as the commit writes them.
struct Fields {
    int number = 0;
    int level = 0;
    QByteArray data;
    QString vectorText;
    bool intr = false;
    QList<VmeInstruction> instructions;   // empty when intr
};

// Largest length of a data width text ("D8" 255, "D16" 127, any other 63).
int maxLength(const QString &dataMode);

// The interval in microseconds: usecPerUnit x value, rounded; false unless 1 to 4294967295.
bool intervalMicros(const QString &text, double usecPerUnit, quint32 &micros);
// The interval text rewritten for a change of unit: read in oldUsecPerUnit, written for
// unitIndex (0 sec, 1 msec, other usec). False, and the text unchanged, when it is not a
// number of 0 or more, or is 2^32 microseconds or more.
bool convertInterval(QString &text, double oldUsecPerUnit, int unitIndex);

// Checks the rows (unless kind.intr), then the kind against the programs that exist;
// number is the edited program's present number. Returns the first fault, or nothing and
// the fields to commit.
std::optional<Refusal> validate(const QList<Row> &rows, const Kind &kind, int number, ProgramHost &host,
                                Fields &fields);

// Writes the fields into the program, marks the instructions' IDs used and keeps the
// host's polling-present flag.
void commit(const Fields &fields, VmeProgram &program, ProgramHost &host);

// True when the editor's rows and kind differ from the program.
bool modified(const QList<Row> &rows, const Kind &kind, const VmeProgram &program);

} // namespace ProgramCheck
