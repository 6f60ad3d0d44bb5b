#include "modulememory.h"

int ModuleMemory::eventBit(const QString &name)
{
    if (name.compare(QStringLiteral("Polling"), Qt::CaseInsensitive) == 0)
        return 0;
    for (int level = 1; level < 8; ++level) {
        if (name.compare(QStringLiteral("Interrupt%1").arg(level), Qt::CaseInsensitive) == 0)
            return level;
    }
    return -1;
}

QList<ModuleMemory::Write> ModuleMemory::downloadWrites(quint8 enable) const
{
    return {
        {PollLevelAddress, QByteArray(1, char(pollLevel))},
        {IntervalAddress, interval + startTable + countTable},
        {VectorTableAddress, vectorTable + image},
        {EnableAddress, QByteArray(1, char(enable))},
    };
}
