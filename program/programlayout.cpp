#include "programlayout.h"

#include "programhost.h"
#include "vmeprogram.h"

#include <memory>

const QString ProgramLayout::PollingMissingText = QStringLiteral("Please set a program for Polling.");

ProgramLayout::ProgramLayout(ProgramHost *host) : host(host) {}

QString ProgramLayout::overflowText()
{
    return QStringLiteral("Memory Overflow: Please reduce a program to become %1 bytes or less.")
        .arg(ModuleMemory::ImageLimit);
}

ProgramLayout::Result ProgramLayout::lay(const QList<VmeProgram *> &list, quint8 eventMask, ModuleMemory &memory)
{
    programs = &list;
    mask = eventMask;
    mem = &memory;
    result = Result();
    usedVectors.clear();
    for (const VmeProgram *p : list) {
        if (p->number >= 1 && p->number <= 256) {
            for (const char v : p->data)
                usedVectors.insert(quint8(v));
        }
    }
    mem->image.clear();
    mem->vectorTable.fill('\0', ModuleMemory::VectorTableSize);
    mem->startTable.fill('\0', 8);
    mem->countTable.fill('\0', 8);

    if (prgPolling() && prgVector() && prgInterrupt())
        result.outcome = Laid;
    return result;
}

const VmeProgram *ProgramLayout::find(int number) const
{
    for (const VmeProgram *p : *programs) {
        if (p->number == number)
            return p;
    }
    return nullptr;
}

bool ProgramLayout::prgPolling()
{
    mem->events = 0;
    if (const VmeProgram *polling = find(0)) {
        mem->pollLevel = quint8(polling->level);
        mem->interval = polling->data.left(4);
        mem->interval.append(4 - mem->interval.size(), '\0');
        const int count = polling->setProgram(mem->image);
        mem->countTable[0] = char(count - 1);
        mem->startTable[0] = 0;
        mem->events |= 1;
        return true;
    }
    if (mask & 1) {
        result.outcome = PollingMissing;
        result.message = PollingMissingText;
        return false;
    }
    mem->pollLevel = 0;
    mem->interval.fill('\0', 4);
    mem->countTable[0] = 0;
    mem->startTable[0] = 0;
    return true;
}

bool ProgramLayout::prgVector()
{
    if (!checkPrgSize())
        return false;
    bool haveDefault = false;
    for (const VmeProgram *p : *programs) {
        if (p->number <= 0)
            continue;
        const int o = int(mem->image.size());
        const char c = char(p->setProgram(mem->image) - 1);
        if (p->number == VmeProgram::DefaultVectorNumber) {
            if (setVectorBase(c, char(o >> 8), char(o & 0xFF)) == 0)
                mem->image.truncate(o);
            haveDefault = true;
            continue;
        }
        for (const char v : p->data) {
            char *entry = mem->vectorTable.data() + 4 * quint8(v);
            entry[0] = c;
            entry[1] = char(o >> 8);
            entry[2] = char(o & 0xFF);
            entry[3] = '\0';
        }
    }
    if (haveDefault)
        return true;
    const int s = int(mem->image.size());
    if (setVectorBase(0, char(s >> 8), char(s & 0xFF)) == 0)
        return true;

    // Vectors without a program of their own need the default vector program.
    QByteArray record;
    const bool freeId = VmeProgram::setVectorBase(record, host);
    if (!freeId) {
        // The search's last candidate was taken or interactive: give back what was marked.
        const auto id = quint8(record.at(6));
        if (host && !host->checkInteractiveID(id, nullptr, nullptr))
            host->setID(id, false);
        result.outcome = NoFreeId;
        result.message = QStringLiteral("No free ID is left outside the interactive range for the "
                                        "default vector program.");
        return false;
    }
    mem->image.append(record);
    int count = 1;
    auto program = std::make_unique<VmeProgram>(record, count, 0, nullptr);
    program->number = VmeProgram::DefaultVectorNumber;
    program->level = -1;
    result.added.append(program.release());
    return true;
}

bool ProgramLayout::prgInterrupt()
{
    quint8 laid = 0;
    for (const VmeProgram *p : *programs) {
        if (p->number >= 0 || p->number < -7 || p->instructions.isEmpty() ||
            p->instructions.first()->accessMode == -1)
            continue;
        const int level = -p->number;
        mem->image.append((8 - mem->image.size() % 8) % 8, '\0');
        mem->startTable[level] = char(mem->image.size() / 8);
        const int count = p->setProgram(mem->image);
        mem->countTable[level] = char(count - 1);
        laid |= quint8(1u << level);
        mem->events |= quint8(1u << level);
    }
    if (!checkPrgSize())
        return false;
    mem->image.append((8 - mem->image.size() % 8) % 8, '\0');

    for (int pass = 0; pass < 2; ++pass) {
        for (int level = 1; level <= 7; ++level) {
            const quint8 bit = quint8(1u << level);
            if (laid & bit)
                continue;
            const bool listed = find(-level) != nullptr;
            if (pass == 0 && !listed && !(mask & bit))
                continue;
            setINTR(level);
            if (!listed) {
                result.added.append(new VmeProgram(unsigned(level)));
                if (pass == 0)
                    result.checkRows |= bit;
            }
            laid |= bit;
        }
    }
    // The INTR records must start where an 8-bit start entry in units of 8 bytes reaches.
    return checkPrgSize();
}

bool ProgramLayout::checkPrgSize()
{
    if (mem->image.size() <= ModuleMemory::ImageLimit)
        return true;
    result.outcome = Overflow;
    result.message = overflowText();
    return false;
}

int ProgramLayout::setVectorBase(char count, char high, char low)
{
    int filled = 0;
    for (int v = 0; v < 256; ++v) {
        if (usedVectors.contains(quint8(v)))
            continue;
        char *entry = mem->vectorTable.data() + 4 * v;
        entry[0] = count;
        entry[1] = high;
        entry[2] = low;
        entry[3] = char(0xFF);
        ++filled;
    }
    return filled;
}

void ProgramLayout::setINTR(int level)
{
    mem->startTable[level] = char(mem->image.size() / 8);
    VmeProgram::setINTR(unsigned(level), mem->image);
    mem->countTable[level] = 0;
    mem->events |= quint8(1u << level);
}
