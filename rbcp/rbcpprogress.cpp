#include "rbcpprogress.h"

QString RbcpProgress::stepText(Step step)
{
    switch (step) {
    case ReadingSettings:
        return QStringLiteral("Reading settings");
    case WritingSettings:
        return QStringLiteral("Writing settings");
    case StoppingPrograms:
        return QStringLiteral("Stopping programs");
    case WritingRegisters:
        return QStringLiteral("Writing registers");
    case Enabling:
        return QStringLiteral("Enabling");
    case Idle:
        break;
    }
    return QString();
}

QString RbcpProgress::text() const
{
    QString out = stepText(step);
    if (step == WritingRegisters)
        out += QStringLiteral(": %1 of %2 bytes").arg(done).arg(total);
    if (attempt > 1)
        out += QStringLiteral(", no answer, attempt %1 of %2").arg(attempt).arg(attempts);
    return out;
}

int RbcpProgress::permille() const
{
    if (total <= 0)
        return 0;
    return int(qBound(qint64(0), done * 1000 / total, qint64(1000)));
}
