#include "simconfig.h"

#include <QRegularExpression>
#include <QStringList>

namespace {

bool parseNumber(const QString &text, quint64 *value)
{
    bool ok = false;
    *value = text.trimmed().toULongLong(&ok, 0);
    return ok;
}

} // namespace

bool parseSimRange(const QString &text, SimRange *range)
{
    const bool sized = text.contains(QLatin1Char('+'));
    const QStringList parts = text.split(sized ? QLatin1Char('+') : QLatin1Char('-'));
    if (parts.size() != 2)
        return false;
    quint64 first = 0;
    quint64 second = 0;
    if (!parseNumber(parts[0], &first) || !parseNumber(parts[1], &second) || first > 0xFFFFFFFFu)
        return false;
    quint64 last = second;
    if (sized) {
        if (second == 0)
            return false;
        last = first + second - 1;
    }
    if (last < first || last > 0xFFFFFFFFu)
        return false;
    range->first = quint32(first);
    range->last = quint32(last);
    return true;
}

bool parseSimUnmapped(const QString &text, SimUnmapped *unmapped)
{
    const int colon = text.indexOf(QLatin1Char(':'));
    if (colon < 0)
        return false;
    const QString mode = text.left(colon).trimmed().toUpper();
    int addressMode = -1;
    if (mode == QLatin1String("A16"))
        addressMode = SimA16;
    else if (mode == QLatin1String("A24"))
        addressMode = SimA24;
    else if (mode == QLatin1String("A32"))
        addressMode = SimA32;
    else
        return false;
    SimRange range;
    if (!parseSimRange(text.mid(colon + 1), &range))
        return false;
    unmapped->addressMode = addressMode;
    unmapped->range = range;
    return true;
}

bool parseSimVmeRange(const QString &text, SimVmeRange *range)
{
    SimUnmapped parsed;
    if (!parseSimUnmapped(text, &parsed))
        return false;
    range->addressMode = parsed.addressMode;
    range->range = parsed.range;
    return true;
}

bool parseSimIrq(const QString &text, SimIrq *irq)
{
    const QStringList parts = text.split(QLatin1Char(':'));
    quint64 level = 0;
    quint64 vector = 0;
    quint64 period = 0;
    if (parts.size() < 2 || parts.size() > 3 || !parseNumber(parts[0], &level) || level < 1 || level > 7
        || !parseNumber(parts[1], &vector) || vector > 0xFF)
        return false;
    if (parts.size() == 3 && (!parseNumber(parts[2], &period) || period < 1 || period > 3600000))
        return false;
    irq->level = int(level);
    irq->vector = quint8(vector);
    irq->periodMs = int(period);
    return true;
}

bool parseSimMac(const QString &text, QByteArray *mac)
{
    static const QRegularExpression pattern(
        QStringLiteral("^([0-9A-Fa-f]{2})[:-]([0-9A-Fa-f]{2})[:-]([0-9A-Fa-f]{2})[:-]"
                       "([0-9A-Fa-f]{2})[:-]([0-9A-Fa-f]{2})[:-]([0-9A-Fa-f]{2})$"));
    const QRegularExpressionMatch match = pattern.match(text.trimmed());
    if (!match.hasMatch())
        return false;
    QByteArray bytes;
    for (int i = 1; i <= 6; ++i)
        bytes.append(char(match.captured(i).toUInt(nullptr, 16)));
    *mac = bytes;
    return true;
}
