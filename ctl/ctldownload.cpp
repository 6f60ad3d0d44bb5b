// download: a program file as the window saves it, written into the module as the window's
// download writes it. The file is read and checked whole before the first write.
#include "ctlcommands.h"
#include "ctlprogram.h"
#include "ctlrbcp.h"

#include "modulememory.h"
#include "programfile.h"
#include "vmeprogram.h"


#include <cstdio>

namespace Ctl {

namespace {

// Reads every write back; the first byte that differs, or empty when all match.
QString verify(QUdpThread &udp, const QList<ModuleMemory::Write> &writes)
{
    for (const ModuleMemory::Write &w : writes) {
        QByteArray back(w.data.size(), '\0');
        const uint length = uint(back.size());
        if (udp.Read(w.address, back.data(), length) != length)
            return QStringLiteral("verify: cannot read back 0x%1").arg(w.address, 8, 16, QLatin1Char('0'));
        for (int i = 0; i < back.size(); ++i) {
            if (back.at(i) != w.data.at(i))
                return QStringLiteral("verify: byte at 0x%1 is 0x%2, written 0x%3")
                    .arg(w.address + uint(i), 8, 16, QLatin1Char('0'))
                    .arg(quint8(back.at(i)), 2, 16, QLatin1Char('0'))
                    .arg(quint8(w.data.at(i)), 2, 16, QLatin1Char('0'));
        }
    }
    return QString();
}

} // namespace

int downloadCommand(const Options &o)
{
    if (o.args.size() != 1)
        return fail(BadUsage, QStringLiteral("download: give one FILE"));
    const QString name = o.args.at(0);
    QByteArray bytes;
    QString failure;
    if (!readProgramFile(name, bytes, failure))
        return fail(BadUsage, failure);
    // The same checks as opening the file in the window: every program must read back.
    ModuleMemory memory;
    QList<QByteArray> defaults;
    ProgramFile::Table table;
    failure = ProgramFile::readWhole(bytes, name, memory, defaults, table);
    if (!failure.isEmpty())
        return fail(BadUsage, failure);
    if (memory.image.size() > ModuleMemory::ImageLimit)
        return fail(BadUsage, QStringLiteral("\"%1\": the program image holds %2 bytes, more than %3")
                                  .arg(name).arg(memory.image.size()).arg(ModuleMemory::ImageLimit));

    // The module runs nothing while its memory is written and checked: the mask goes last,
    // and only after every other byte read back as written when --verify asks for it.
    QList<ModuleMemory::Write> writes = memory.downloadWrites(memory.savedEnable);
    const ModuleMemory::Write mask = writes.takeLast();
    Q_ASSERT(mask.address == ModuleMemory::EnableAddress);
    return rbcpJob(o, [&](QUdpThread &udp) {
        const char stop = 0;
        if (udp.write(ModuleMemory::EnableAddress, &stop, 1) < 1)
            return fail(Refused, QStringLiteral("Write ERROR"));
        for (const ModuleMemory::Write &w : writes) {
            const uint length = uint(w.data.size());
            if (udp.Write(w.address, w.data.constData(), length) != length)
                return fail(Refused, QStringLiteral("Write ERROR at 0x%1; the module's programs stay stopped")
                                         .arg(w.address, 8, 16, QLatin1Char('0')));
        }
        QString difference;
        if (o.verify && !(difference = verify(udp, writes)).isEmpty())
            return fail(Refused, difference + QStringLiteral("; the module's programs stay stopped"));
        const uint length = uint(mask.data.size());
        if (udp.Write(mask.address, mask.data.constData(), length) != length)
            return fail(Refused, QStringLiteral("Write ERROR at 0x%1").arg(mask.address, 8, 16, QLatin1Char('0')));
        if (!o.verify)
            return int(Success);
        difference = verify(udp, {mask});
        if (!difference.isEmpty())
            return fail(Refused, difference);
        qsizetype bytes = mask.data.size();
        for (const ModuleMemory::Write &w : writes)
            bytes += w.data.size();
        std::printf("verified %lld bytes\n", static_cast<long long>(bytes));
        return int(Success);
    });
}

} // namespace Ctl
