#pragma once

#include <QList>
#include <QSet>
#include <QtGlobal>

#include <functional>

class VmeProgram;

// Bookkeeping of the program table: which instruction IDs and which interrupt vectors the
// programs take, where the search for a free ID goes on, and whether a polling program exists.
// IDs inside the interactive range belong to the operator's single commands: the module's
// reports of those IDs are taken for answers, so a program instruction never gets one.
class ProgramBook
{
public:
    // Gives the ends of the interactive range; asked at every check, as the operator may change it.
    using RangeSource = std::function<void(unsigned char &low, unsigned char &high)>;

    explicit ProgramBook(RangeSource range);

    // True when id lies outside the interactive range; min and max, when not null, receive its ends.
    bool checkInteractiveID(unsigned char id, unsigned char *min, unsigned char *max) const;
    // True when id is outside the interactive range and no program instruction uses it.
    bool checkID(unsigned char id) const;
    // Searches from nextFreeID; a candidate inside the interactive range jumps past its end, and
    // every ID is looked at once at most. On success the ID is delivered (not marked used) and
    // the search goes on after it next time. False when none is left; id then holds the last
    // ID looked at and nothing else changes.
    bool getFreeID(unsigned char &id);
    // used true: marks id and returns true; false: frees it and returns whether it was marked.
    bool setID(unsigned char id, bool used);
    // Frees the IDs of program that no program of others (which may hold program) still uses.
    void releaseIDs(const VmeProgram *program, const QList<VmeProgram *> &others);

    // 257, 0 or below: a program of exactly that number is in programs; 1 to 256: vector
    // number - 1 is served by a vector program.
    bool checkVectorID(int number, const QList<VmeProgram *> &programs) const;
    // The vectors of a vector program (1 to 256); other programs are ignored.
    void addVector(const VmeProgram *program);
    void removeVector(const VmeProgram *program);

    bool pollingPresent() const { return polling; }
    void setPollingPresent(bool present) { polling = present; }

    // Forgets every ID and vector, as before a program file is read in.
    void reset();

    const QSet<quint8> &usedIDs() const { return ids; }
    const QSet<quint8> &usedVectors() const { return vectors; }
    quint8 nextFreeID() const { return next; }

    // Where program goes in the table's order: the polling program, the vector programs by
    // ascending number (257, the default one, last), then the interrupt programs by ascending
    // level; a program of equal number goes after those already there.
    static int insertPosition(const QList<VmeProgram *> &programs, const VmeProgram *program);

private:
    RangeSource range;
    QSet<quint8> ids;
    QSet<quint8> vectors;
    quint8 next = 0;
    bool polling = false;
};
