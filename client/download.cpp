#include "download.h"

#include "programfile.h"
#include "programtext.h"
#include "rbcp.h"
#include "vmeprogram.h"

#include <QFile>

#include <QDeadlineTimer>
#include <QThread>

namespace {
QString hex8(quint32 value) { return QStringLiteral("0x%1").arg(value, 8, 16, QLatin1Char('0')); }
} // namespace

DownloadPlan DownloadPlan::of(const ModuleMemory &memory, quint8 enable)
{
    DownloadPlan plan;
    plan.tables = memory.downloadWrites(enable);
    plan.mask = plan.tables.takeLast();
    Q_ASSERT(plan.mask.address == ModuleMemory::EnableAddress);
    return plan;
}

bool DownloadPlan::load(const QString &name, DownloadPlan &plan, QString &failure)
{
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly)) {
        failure = ProgramFile::openFailureText(name, file.errorString());
        return false;
    }
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        failure = ProgramFile::readFailureText(name, file.errorString());
        return false;
    }
    if (ProgramText::isText(bytes.left(512))) {
        QByteArray built;
        if (const auto fault = ProgramText::build(bytes, built)) {
            failure = name + (fault->line > 0 ? QStringLiteral(":") : QStringLiteral(": ")) + fault->text();
            return false;
        }
        bytes = built;
    }
    return fromProgramFile(bytes, name, plan, failure);
}

bool DownloadPlan::fromProgramFile(const QByteArray &bytes, const QString &name, DownloadPlan &plan, QString &failure)
{
    // The same checks as opening the file in the window: every program must read back.
    ModuleMemory memory;
    QList<QByteArray> defaults;
    ProgramFile::Table table;
    failure = ProgramFile::readWhole(bytes, name, memory, defaults, table);
    if (!failure.isEmpty())
        return false;
    if (memory.image.size() > ModuleMemory::ImageLimit) {
        failure = QStringLiteral("\"%1\": the program image holds %2 bytes, more than %3")
                      .arg(name).arg(memory.image.size()).arg(ModuleMemory::ImageLimit);
        return false;
    }
    plan = of(memory, memory.savedEnable);
    return true;
}

QList<ModuleMemory::Write> DownloadPlan::writes() const
{
    QList<ModuleMemory::Write> all = tables;
    all << mask;
    return all;
}

qint64 DownloadPlan::bytes() const
{
    qint64 n = mask.data.size();
    for (const ModuleMemory::Write &w : tables)
        n += w.data.size();
    return n;
}

QString DownloadPlan::verify(QRbcp &rbcp, const QList<ModuleMemory::Write> &writes)
{
    for (const ModuleMemory::Write &w : writes) {
        QByteArray back(w.data.size(), '\0');
        const uint length = uint(back.size());
        if (rbcp.Read(w.address, back.data(), length) != length)
            return QStringLiteral("verify: cannot read back %1").arg(hex8(w.address));
        for (int i = 0; i < back.size(); ++i) {
            if (back.at(i) != w.data.at(i))
                return QStringLiteral("verify: byte at %1 is 0x%2, written 0x%3")
                    .arg(hex8(w.address + uint(i)))
                    .arg(quint8(back.at(i)), 2, 16, QLatin1Char('0'))
                    .arg(quint8(w.data.at(i)), 2, 16, QLatin1Char('0'));
        }
    }
    return QString();
}

QString DownloadPlan::run(QRbcp &rbcp, bool verifying) const
{
    const char stop = 0;
    if (rbcp.write(StopAddress, &stop, 1) < 1)
        return QStringLiteral("Write ERROR");
    // A program still running finishes its run before its tables change under it.
    const QDeadlineTimer stopped(StopWaitMs, Qt::PreciseTimer);
    while (!stopped.hasExpired())
        QThread::msleep(ulong(qMax<qint64>(1, stopped.remainingTime())));

    const QString stays = QStringLiteral("; the module's programs stay stopped");
    for (const ModuleMemory::Write &w : tables) {
        const uint length = uint(w.data.size());
        if (rbcp.Write(w.address, w.data.constData(), length) != length)
            return QStringLiteral("Write ERROR at %1").arg(hex8(w.address)) + stays;
    }
    QString difference;
    if (verifying && !(difference = verify(rbcp, tables)).isEmpty())
        return difference + stays;
    const uint length = uint(mask.data.size());
    if (rbcp.Write(mask.address, mask.data.constData(), length) != length)
        return QStringLiteral("Write ERROR at %1").arg(hex8(mask.address));
    return verifying ? verify(rbcp, {mask}) : QString();
}
