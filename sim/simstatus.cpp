#include "simstatus.h"

#include "simmemory.h"

#include <QStringList>

bool parseSimStatusRegister(const QString &text, SimStatusRegister *status)
{
    const QStringList parts = text.split(QLatin1Char(':'));
    if (parts.size() != 5)
        return false;
    SimVmeRange where;
    if (!parseSimVmeRange(parts.at(0) + QLatin1Char(':') + parts.at(1), &where))
        return false;
    bool ok1 = false, ok2 = false, ok3 = false;
    const quint32 trigger = parts.at(2).toUInt(&ok1, 0);
    const quint32 bits = parts.at(3).toUInt(&ok2, 0);
    const int delay = parts.at(4).toInt(&ok3, 10);
    if (!ok1 || !ok2 || !ok3 || bits == 0 || delay < 0 || delay > 3600000)
        return false;
    status->addressMode = where.addressMode;
    status->range = where.range;
    status->trigger = trigger;
    status->bits = bits;
    status->delayMs = delay;
    return true;
}

SimStatusRegisters::SimStatusRegisters(const QVector<SimStatusRegister> &registers)
{
    for (const SimStatusRegister &r : registers)
        m_registers.append(Armed{r, QDeadlineTimer(), false});
}

void SimStatusRegisters::apply(const SimStatusRegister &reg, SimVmeMemory &memory, bool set)
{
    for (quint64 word = reg.range.first & ~3u; word + 3 <= reg.range.last; word += 4) {
        QByteArray bytes = memory.read(reg.addressMode, quint32(word), 4);
        if (bytes.size() != 4)
            return;
        quint32 v = (quint32(quint8(bytes[0])) << 24) | (quint32(quint8(bytes[1])) << 16) |
                    (quint32(quint8(bytes[2])) << 8) | quint8(bytes[3]);
        v = set ? v | reg.bits : v & ~reg.bits;
        for (int b = 0; b < 4; ++b)
            bytes[b] = char(v >> (24 - 8 * b));
        memory.write(reg.addressMode, quint32(word), bytes);
    }
}

void SimStatusRegisters::written(int addressMode, quint32 address, int size, SimVmeMemory &memory)
{
    for (Armed &a : m_registers) {
        if (a.reg.addressMode != addressMode || a.reg.trigger < address || quint64(a.reg.trigger) >= quint64(address) + quint64(size))
            continue;
        apply(a.reg, memory, false);
        a.ready = QDeadlineTimer(a.reg.delayMs, Qt::PreciseTimer);
        a.pending = true;
    }
}

void SimStatusRegisters::reading(SimVmeMemory &memory)
{
    for (Armed &a : m_registers) {
        if (a.pending && a.ready.hasExpired()) {
            apply(a.reg, memory, true);
            a.pending = false;
        }
    }
}
