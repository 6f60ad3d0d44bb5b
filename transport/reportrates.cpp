#include "reportrates.h"

#include "modeword.h"

#include <QMutexLocker>

#include <algorithm>

namespace {
constexpr qint64 RateWindowMs = 1000;
constexpr qint64 HistoryMs = 60000;
constexpr qint64 None = std::numeric_limits<qint64>::min();
} // namespace

ReportRates::Step &ReportRates::step(qint64 time)
{
    const qint64 start = time - ((time % StepMs) + StepMs) % StepMs;
    if (steps.empty() || steps.back().start < start) {
        steps.push_back(Step{start, 0, {}});
        return steps.back();
    }
    // A late merge: its reports go back to the step they were framed in.
    auto it = std::lower_bound(steps.begin(), steps.end(), start,
                               [](const Step &s, qint64 t) { return s.start < t; });
    if (it == steps.end() || it->start != start)
        it = steps.insert(it, Step{start, 0, {}});
    return *it;
}

void ReportRates::merge(ReportTally &tally, qint64 time, bool last)
{
    QMutexLocker lock(&mutex);
    if (origin == None)
        origin = tally.runs.empty() ? time : std::min(time, tally.runs.front().time);
    for (const ReportTally::Run &r : tally.runs) {
        if (r.time <= resetAt)
            continue; // framed before the reset
        Step &s = step(r.time);
        s.total += r.count;
        if (s.start + RateWindowMs >= rateEnd)
            s.counts[r.key] += r.count;
        counts[r.key].count += r.count;
        counts[r.key].bytes += r.bytes;
        total += r.count;
    }
    tally.runs.clear();
    for (quint16 key : tally.active) {
        ReportTally::Entry &e = tally.entries[key];
        // The source's newest report, when it came after the reset.
        if (e.lastSeen > resetAt) {
            Count &c = counts[key];
            const quint64 n = c.count, bytes = c.bytes;
            c = e;
            c.count = n;
            c.bytes = bytes;
        }
        e = ReportTally::Entry();
    }
    tally.active.clear();
    if (tally.crcAt > resetAt)
        crcErrors += tally.crcErrors;
    tally.crcErrors = 0;
    mergedAt = std::max(mergedAt, time);
    counting = !last;
}

ReportRates::Snapshot ReportRates::sample(qint64 now)
{
    QMutexLocker lock(&mutex);
    // The counts are complete up to the last merge while a thread counts (also while it is held
    // up: the rates wait for its counts rather than fall), else the time goes on.
    qint64 end = counting ? mergedAt : std::max(now, mergedAt);
    end -= ((end % StepMs) + StepMs) % StepMs;
    rateEnd = std::max(rateEnd, end);
    end = rateEnd;
    while (!steps.empty() && steps.front().start < end - HistoryMs - RateWindowMs)
        steps.pop_front();

    Snapshot out;
    out.total = total;
    out.crcErrors = crcErrors;
    QHash<int, quint64> lastSecond;
    for (Step &s : steps) {
        if (s.start < end - RateWindowMs) {
            s.counts.clear(); // in no rate from now on
        } else if (s.start < end) {
            out.perSecond += double(s.total);
            for (auto it = s.counts.cbegin(); it != s.counts.cend(); ++it)
                lastSecond[it.key()] += it.value();
        }
    }
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        const Count &c = it.value();
        Source src;
        src.id = quint8(it.key() & 0xFF);
        src.level = quint8(it.key() >> 9);
        src.polling = (it.key() & 0x100) != 0;
        src.count = c.count;
        src.bytes = c.bytes;
        src.perSecond = double(lastSecond.value(it.key()));
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

    // One point per step of the last minute: the reports of the whole second before it.
    if (origin != None) {
        qint64 at = std::max(origin, end - HistoryMs);
        at += (StepMs - ((at % StepMs) + StepMs) % StepMs) % StepMs;
        size_t added = 0, dropped = 0;
        quint64 sum = 0;
        for (; at <= end; at += StepMs) {
            for (; added < steps.size() && steps[added].start < at; ++added)
                sum += steps[added].total;
            for (; dropped < added && steps[dropped].start < at - RateWindowMs; ++dropped)
                sum -= steps[dropped].total;
            out.minute.append({at, double(sum)});
        }
    }
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

void ReportRates::reset(qint64 now)
{
    QMutexLocker lock(&mutex);
    counts.clear();
    total = 0;
    crcErrors = 0;
    steps.clear();
    resetAt = std::max(resetAt, now);
    origin = now;
}

QString ReportRates::sourceText(const Source &s)
{
    return QStringLiteral("ID 0x%1, level %2, %3")
        .arg(s.id, 2, 16, QLatin1Char('0'))
        .arg(s.level)
        .arg(s.polling ? QStringLiteral("polling") : QStringLiteral("interrupt"));
}
