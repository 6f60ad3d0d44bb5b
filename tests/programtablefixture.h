#pragma once
// Programs for the program table's tests, written as short texts.

#include "bytes.h"
#include "programbook.h"
#include "programhost.h"
#include "vmeprogram.h"

#include <QStringList>

// Programs from "number:reads[:writeBytes[:data hex[:a]]]" items, in table order: A24 D8 reads of
// one byte at 0, then one D8 write of writeBytes bytes 0xAA, then with "a" the interrupt
// acknowledge. IDs count up from 1 and are marked used; a polling program has level 2.
inline QList<VmeProgram *> programs(const QString &text, ProgramHost &host)
{
    QList<VmeProgram *> list;
    quint8 id = 1;
    for (const QString &item : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QStringList f = item.split(QLatin1Char(':'));
        auto *p = new VmeProgram;
        p->number = f.at(0).toInt();
        p->level = p->number < 0 ? -p->number : 2;
        const int reads = f.value(1).toInt(), write = f.value(2).toInt();
        const bool ack = f.value(4) == QLatin1String("a");
        for (int i = 0, count = reads + (write > 0) + ack; i < count; ++i) {
            auto *ins = p->instructions.emplace_back(new VmeInstruction);
            ins->addressMode = 1;
            ins->read = i != reads || write == 0;
            ins->length = ins->read ? 1 : write;
            ins->data = ins->read ? QByteArray() : QByteArray(write, char(0xAA));
            if (ack && i == count - 1)
                ins->getMode(VmeModeWord::IntrMode), ins->address = quint32(2 * p->level);
            host.setID(ins->id = id++, true);
        }
        p->data = QByteArray::fromHex(f.value(3).toLatin1());
        list.insert(ProgramBook::insertPosition(list, p), p);
    }
    return list;
}
