#include "reportrates.h"

#include "modeword.h"

#include <QMutexLocker>

#include <algorithm>

namespace {
// Without a merge for this long no command thread is counting: the time goes on all the same.
constexpr qint64 IdleMs = 500;
constexpr qint64 RateWindowMs = 1000;
constexpr qint64 HistoryMs = 60000;

double ratePerSecond(quint64 from, quint64 to, qint64 ms)
{
    return ms > 0 ? double(to - from) * 1000.0 / double(ms) : 0.0;
}
} // namespace

void ReportRates::merge(ReportTally &tally, qint64 time)
{
    QMutexLocker lock(&mutex);
    for (quint16 key : tally.active) {
        ReportTally::Entry &e = tally.entries[key];
        Count &c = counts[key];
        total += e.count;
        e.count += c.count;
        e.bytes += c.bytes;
        c = e;
        e = ReportTally::Entry();
    }
    tally.active.clear();
    crcErrors += tally.crcErrors;
    tally.crcErrors = 0;
    mergedAt = std::max(mergedAt, time);
}

ReportRates::Snapshot ReportRates::sample(qint64 now)
{
    QMutexLocker lock(&mutex);
    // The counts are exact as of the last merge: rates go by that time while a thread counts.
    Sample s;
    s.time = now - mergedAt < IdleMs ? mergedAt : now;
    if (!recent.empty() && s.time < recent.back().time)
        s.time = recent.back().time;
    s.total = total;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        s.counts.insert(it.key(), it.value().count);
    recent.push_back(s);
    // Keep the newest sample at least a second old as the base of the rates.
    while (recent.size() > 2 && recent[1].time <= s.time - RateWindowMs)
        recent.pop_front();
    const Sample &base = recent.front();
    const qint64 span = s.time - base.time;

    Snapshot out;
    out.total = total;
    out.crcErrors = crcErrors;
    out.perSecond = ratePerSecond(base.total, total, span);
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        const Count &c = it.value();
        Source src;
        src.id = quint8(it.key() & 0xFF);
        src.level = quint8(it.key() >> 9);
        src.polling = (it.key() & 0x100) != 0;
        src.count = c.count;
        src.bytes = c.bytes;
        src.perSecond = ratePerSecond(base.counts.value(it.key()), c.count, span);
        src.lastSeen = c.lastSeen;
        const int item = VmeModeWord::itemSize((c.mode >> 10) & 0x3);
        if (c.tailSize >= item)
            src.lastItem = QString::fromLatin1(QByteArray(c.tail + c.tailSize - item, item).toHex());
        out.sources.append(src);
    }
    std::sort(out.sources.begin(), out.sources.end(), [](const Source &a, const Source &b) {
        if (a.level != b.level)
            return a.level < b.level;
        if (a.polling != b.polling)
            return a.polling;
        return a.id < b.id;
    });

    if (span > 0)
        minute.append({s.time, out.perSecond});
    while (!minute.isEmpty() && minute.first().first < now - HistoryMs)
        minute.removeFirst();
    out.minute = minute;
    return out;
}

ReportRates::Snapshot ReportRates::totals()
{
    QMutexLocker lock(&mutex);
    Snapshot out;
    out.total = total;
    out.crcErrors = crcErrors;
    QList<int> keys = counts.keys();
    std::sort(keys.begin(), keys.end());
    out.sources.reserve(keys.size());
    for (const int key : keys) {
        const Count &c = counts[key];
        Source src;
        src.id = quint8(key & 0xFF);
        src.level = quint8(key >> 9);
        src.polling = (key & 0x100) != 0;
        src.count = c.count;
        src.bytes = c.bytes;
        src.lastSeen = c.lastSeen;
        out.sources.append(src);
    }
    return out;
}

void ReportRates::reset()
{
    QMutexLocker lock(&mutex);
    counts.clear();
    total = 0;
    crcErrors = 0;
    recent.clear();
    minute.clear();
}

QString ReportRates::sourceText(const Source &s)
{
    return QStringLiteral("ID 0x%1, level %2, %3")
        .arg(s.id, 2, 16, QLatin1Char('0'))
        .arg(s.level)
        .arg(s.polling ? QStringLiteral("polling") : QStringLiteral("interrupt"));
}
