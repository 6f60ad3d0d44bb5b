#include "programwarnings.h"

#include "modulememory.h"
#include "programfile.h"
#include "programtext.h"
#include "vmeprogram.h"

#include <QHash>

#include <algorithm>

namespace ProgramWarnings {

namespace {

// The last address of each address mode's space (A16, A24, A32).
constexpr quint64 SpaceTop[3] = {0xFFFF, 0xFFFFFF, 0xFFFFFFFF};
// The fixed-address access modes: every item at the one address.
constexpr int FirstFixedAccess = 6;
constexpr int LastFixedAccess = 9;

bool isAcknowledge(const VmeInstruction &ins)
{
    return ins.accessMode < 0 || ins.accessMode == VmeModeWord::IntrAccessIndex;
}

// The default vector program as the layout adds it: one D8 read of address 0, no items.
bool isAddedDefaultVector(const VmeProgram &p)
{
    if (p.number != VmeProgram::DefaultVectorNumber || p.instructions.size() != 1)
        return false;
    const VmeInstruction &ins = *p.instructions.first();
    return ins.address == 0 && ins.read && !ins.noEcho && ins.dataMode == 0 && ins.length == 0;
}

bool hasAcknowledge(const VmeProgram &p)
{
    return std::any_of(p.instructions.cbegin(), p.instructions.cend(),
                       [](const VmeInstruction *ins) { return isAcknowledge(*ins); });
}

// An interrupt program that does more than acknowledge.
bool doesWork(const VmeProgram &p)
{
    return std::any_of(p.instructions.cbegin(), p.instructions.cend(),
                       [](const VmeInstruction *ins) { return !isAcknowledge(*ins); });
}

QString hex8(quint64 value)
{
    return QStringLiteral("0x%1").arg(value, 8, 16, QLatin1Char('0'));
}

} // namespace

QString Warning::text() const
{
    return line > 0 ? QStringLiteral("%1:%2: %3").arg(line).arg(column).arg(message) : message;
}

QList<Warning> check(const QList<VmeProgram *> &programs, quint8 eventMask, int low, int high)
{
    QList<Warning> out;
    const auto warn = [&out](int program, int instruction, Warning::Place place, const QString &message) {
        Warning w;
        w.program = program;
        w.instruction = instruction;
        w.place = place;
        w.message = message;
        out.append(w);
    };

    bool vectorPrograms = false;
    bool levelChecked = false;
    QSet<int> ownVectors;
    for (const VmeProgram *p : programs) {
        if (p->number >= 1 && p->number <= 256) {
            vectorPrograms = true;
            for (const char v : p->data)
                ownVectors.insert(quint8(v));
        } else if (p->number == VmeProgram::DefaultVectorNumber && !isAddedDefaultVector(*p)) {
            vectorPrograms = true;
        }
    }
    for (int level = 1; level <= 7; ++level)
        levelChecked = levelChecked || (eventMask & (1u << level));

    QHash<int, int> firstProgramOfId;
    for (int i = 0; i < programs.size(); ++i) {
        const VmeProgram &p = *programs.at(i);
        const QString name = ProgramFile::programName(p);

        // Programs that never run.
        if (p.number == 0 && !(eventMask & 1))
            warn(i, -1, Warning::OnProgram,
                 QStringLiteral("Polling is not among the events: the polling program never runs"));
        if (p.number < 0 && p.number >= -7 && doesWork(p)) {
            const int level = -p.number;
            if (!(eventMask & (1u << level)))
                warn(i, -1, Warning::OnProgram,
                     QStringLiteral("%1 is not among the events: the program never runs").arg(name));
            else if (vectorPrograms && !hasAcknowledge(p))
                warn(i, -1, Warning::OnProgram,
                     QStringLiteral("%1 has no acknowledge: the vector programs never run after it (end it with "
                                    "\"- acknowledge\", the editor's INTR row)")
                         .arg(name));
        }
        if (p.number > 0 && !levelChecked && (p.number <= 256 || !isAddedDefaultVector(p)))
            warn(i, -1, Warning::OnProgram,
                 QStringLiteral("no interrupt level is among the events: %1 never runs").arg(name));
        if (p.number == VmeProgram::DefaultVectorNumber && ownVectors.size() == 256)
            warn(i, -1, Warning::OnProgram,
                 QStringLiteral("every vector 0-255 has a program of its own: the default vector program is "
                                "left out of the built file"));

        for (int k = 0; k < p.instructions.size(); ++k) {
            const VmeInstruction &ins = *p.instructions.at(k);
            if (isAcknowledge(ins))
                continue;
            if (ins.addressMode >= 0 && ins.addressMode <= 2) {
                const quint64 width = ins.dataMode == 0 ? 1 : ins.dataMode == 1 ? 2 : 4;
                const bool fixed = ins.accessMode >= FirstFixedAccess && ins.accessMode <= LastFixedAccess;
                const quint64 items = fixed ? 1 : quint64(std::max(ins.length, 1));
                const quint64 last = quint64(ins.address) + items * width - 1;
                if (last > SpaceTop[ins.addressMode])
                    warn(i, k, Warning::OnAddress,
                         QStringLiteral("the transfer ends at %1, beyond %2's last address %3: the bus refuses it")
                             .arg(hex8(last), VmeModeWord::addressModeLabels().at(ins.addressMode),
                                  hex8(SpaceTop[ins.addressMode])));
            }
            if (ins.id >= low && ins.id <= high)
                warn(i, k, Warning::OnId,
                     QStringLiteral("ID %1 lies in the interactive range %2-%3: the answers of commands and "
                                    "this program's reports are mixed")
                         .arg(ins.id)
                         .arg(low)
                         .arg(high));
            const auto first = firstProgramOfId.constFind(ins.id);
            if (first == firstProgramOfId.cend())
                firstProgramOfId.insert(ins.id, i);
            else if (*first != i)
                warn(i, k, Warning::OnId,
                     QStringLiteral("ID %1 is also used by %2: their reports cannot be told apart")
                         .arg(ins.id)
                         .arg(ProgramFile::programName(*programs.at(*first))));
        }
    }
    return out;
}

bool checkFile(const QByteArray &bytes, const QString &fileName, QList<Warning> &warnings, QString &refusal)
{
    warnings.clear();
    if (ProgramText::isText(bytes.left(512))) {
        QByteArray built;
        if (const auto fault = ProgramText::build(bytes, built, &warnings)) {
            refusal = fileName + (fault->line > 0 ? QStringLiteral(":") : QStringLiteral(": ")) + fault->text();
            return false;
        }
        return true;
    }
    ModuleMemory memory;
    QList<QByteArray> handed;
    ProgramFile::Table table;
    refusal = ProgramFile::readWhole(bytes, fileName, memory, handed, table);
    if (!refusal.isEmpty())
        return false;
    const QByteArray settings = handed.isEmpty() ? QByteArray() : handed.last();
    QList<VmeProgram *> list;
    for (const auto &p : table.programs)
        list.append(p.get());
    warnings = check(list, memory.savedEnable, settings.size() > 5 ? quint8(settings.at(4)) : 128,
                     settings.size() > 5 ? quint8(settings.at(5)) : 255);
    return true;
}

QString fileText(const QString &fileName, const Warning &warning)
{
    return warning.line > 0 ? QStringLiteral("%1:%2:%3: warning: %4")
                                  .arg(fileName)
                                  .arg(warning.line)
                                  .arg(warning.column)
                                  .arg(warning.message)
                            : QStringLiteral("%1: warning: %2").arg(fileName, warning.message);
}

} // namespace ProgramWarnings
