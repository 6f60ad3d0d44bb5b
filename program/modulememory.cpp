#include "modulememory.h"

QList<ModuleMemory::Write> ModuleMemory::downloadWrites(quint8 enable) const
{
    return {
        {PollLevelAddress, QByteArray(1, char(pollLevel))},
        {IntervalAddress, interval + startTable + countTable},
        {VectorTableAddress, vectorTable + image},
        {EnableAddress, QByteArray(1, char(enable))},
    };
}
