#include "programbook.h"

#include "vmeprogram.h"

#include <utility>

ProgramBook::ProgramBook(RangeSource range) : range(std::move(range)) {}

bool ProgramBook::checkInteractiveID(unsigned char id, unsigned char *min, unsigned char *max) const
{
    unsigned char low = 0, high = 0;
    range(low, high);
    if (min)
        *min = low;
    if (max)
        *max = high;
    return id < low || id > high;
}

bool ProgramBook::checkID(unsigned char id) const
{
    return checkInteractiveID(id, nullptr, nullptr) && !ids.contains(id);
}

bool ProgramBook::getFreeID(unsigned char &id)
{
    unsigned char low = 0, high = 0;
    checkInteractiveID(0, &low, &high);
    const quint8 start = next;
    quint8 c = start;
    // A start inside the range is stepped over and never come back to: count the looks too.
    for (int looked = 0; looked < 256; ++looked) {
        id = c;
        if (checkID(c)) {
            next = quint8(c + 1);
            return true;
        }
        c = (c >= low && c <= high) ? quint8(high + 1) : quint8(c + 1);
        if (c == start)
            break;
    }
    return false;
}

bool ProgramBook::setID(unsigned char id, bool used)
{
    if (used) {
        ids.insert(id);
        return true;
    }
    return ids.remove(id);
}

void ProgramBook::releaseIDs(const VmeProgram *program, const QList<VmeProgram *> &others)
{
    QSet<quint8> stillUsed;
    for (const VmeProgram *p : others) {
        if (p == program)
            continue;
        for (const VmeInstruction *ins : p->instructions)
            stillUsed.insert(ins->id);
    }
    for (const VmeInstruction *ins : program->instructions) {
        // An INTR record's ID 0 is not taken from the book.
        if (ins->accessMode >= 0 && !stillUsed.contains(ins->id))
            ids.remove(ins->id);
    }
}

bool ProgramBook::checkVectorID(int number, const QList<VmeProgram *> &programs) const
{
    if (number >= 1 && number <= 256)
        return vectors.contains(quint8(number - 1));
    for (const VmeProgram *p : programs) {
        if (p->number == number)
            return true;
    }
    return false;
}

static bool servesVectors(const VmeProgram *program)
{
    return program->number >= 1 && program->number <= 256;
}

void ProgramBook::addVector(const VmeProgram *program)
{
    if (!servesVectors(program))
        return;
    for (const char v : program->data)
        vectors.insert(quint8(v));
}

void ProgramBook::removeVector(const VmeProgram *program)
{
    if (!servesVectors(program))
        return;
    for (const char v : program->data)
        vectors.remove(quint8(v));
}

void ProgramBook::reset()
{
    ids.clear();
    vectors.clear();
    next = 0;
    polling = false;
}

int ProgramBook::insertPosition(const QList<VmeProgram *> &programs, const VmeProgram *program)
{
    const int n = int(programs.size());
    if (program->number < 0) {
        for (int i = 0; i < n; ++i) {
            if (programs.at(i)->number < program->number) // a higher level
                return i;
        }
        return n;
    }
    int i = 0;
    while (i < n && programs.at(i)->number >= 0 && programs.at(i)->number <= program->number)
        ++i;
    return i;
}
