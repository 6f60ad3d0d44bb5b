#pragma once

#include "simconfig.h"

#include <QDeadlineTimer>
#include <QVector>

class SimVmeMemory;

// Parses "A32:range:trigger:bits:delay-ms", e.g. A32:0x100010+4:0x100000:0x1:50.
bool parseSimStatusRegister(const QString &text, SimStatusRegister *status);

// The status registers' timers, called by the module under its memory lock.
class SimStatusRegisters
{
public:
    explicit SimStatusRegisters(const QVector<SimStatusRegister> &registers = {});
    // After a VME write: a touched trigger clears its register's bits and starts its time.
    void written(int addressMode, quint32 address, int size, SimVmeMemory &memory);
    // Before a VME read: the bits of registers whose time is up are set.
    void reading(SimVmeMemory &memory);

private:
    struct Armed
    {
        SimStatusRegister reg;
        QDeadlineTimer ready;
        bool pending = false;
    };
    void apply(const SimStatusRegister &reg, SimVmeMemory &memory, bool set);
    QVector<Armed> m_registers;
};
