#pragma once

#include "packet.h"

#include <QHash>
#include <QMutex>
#include <QString>
#include <QVector>

#include <cstring>
#include <deque>
#include <limits>
#include <vector>

// Reports counted where the command thread frames them, per source: a source is the report's
// ID with its priority level and polling bit (the upper 4 bits of the length word), 4096 in all.
// Plain and unlocked: one thread counts, and hands its counts over with ReportRates::merge.
class ReportTally
{
public:
    static constexpr int SourceCount = 4096;

    static int sourceKey(const kelvo_vme_master_header &header)
    {
        return int((header.length >> 28) << 8) | header.id;
    }

    // The time that "last seen" takes for the reports counted from now on (ms since the epoch):
    // set once per pass over a read, not per report.
    void setTime(qint64 ms) { now = ms; }

    void count(const kelvo_vme_master_header &header, const char *data, int dataSize)
    {
        if (entries.empty())
            entries.resize(SourceCount);
        const int key = sourceKey(header);
        Entry &e = entries[size_t(key)];
        if (e.count++ == 0)
            active.push_back(quint16(key));
        // The counts go by their times: a run per source and pass.
        if (e.count == 1 || runs[e.run].time != now) {
            e.run = quint32(runs.size());
            runs.push_back(Run{now, 0, quint16(key), 0});
        }
        ++runs[e.run].count;
        runs[e.run].bytes += quint32(KelvoPacket::HeaderSize + dataSize);
        e.lastSeen = now;
        e.mode = header.mode;
        // The last (up to) 4 bytes: the last item of any data width.
        const int tail = dataSize < 4 ? dataSize : 4;
        e.tailSize = quint8(tail);
        if (tail > 0)
            std::memcpy(e.tail, data + dataSize - tail, size_t(tail));
    }
    void countCrcError()
    {
        ++crcErrors;
        crcAt = now;
    }

private:
    friend class ReportRates;
    struct Entry
    {
        quint64 count = 0;
        quint64 bytes = 0; // headers included, as on the wire
        qint64 lastSeen = 0;
        quint16 mode = 0;
        quint8 tailSize = 0;
        char tail[4] = {};
        quint32 run = 0; // the source's newest run
    };
    struct Run
    {
        qint64 time;
        quint32 count;
        quint16 key;
        quint32 bytes; // headers included
    };
    std::vector<Entry> entries;
    std::vector<quint16> active; // keys counted since the last merge, in order of first report
    std::vector<Run> runs;       // reports of one source at one time, in the order counted
    quint64 crcErrors = 0;
    qint64 crcAt = 0;
    qint64 now = 0;
};

// The counts of every connection since the last reset, shared between the command thread (which
// merges its tally into them a few times a second) and the window (which samples them, a few
// times a second); a mutex guards both sides. The counts are kept by the times the thread framed
// them, in 100 ms steps, so that a late merge lands where its reports belong: a rate is the
// number of reports framed in the last whole second before the time the counts are complete to
// (the last merge while a thread counts, else the time of the sample), per source and in all, and
// in all for every step of the last minute.
class ReportRates
{
public:
    struct Source
    {
        quint8 id = 0;
        quint8 level = 0;
        bool polling = false;
        quint64 count = 0;
        quint64 bytes = 0; // headers included
        double perSecond = 0;
        qint64 lastSeen = 0; // ms since the epoch
        QString lastItem;    // hexadecimal, in the report's data width; empty without data
    };
    struct Snapshot
    {
        quint64 total = 0;
        double perSecond = 0;
        quint64 crcErrors = 0;
        QVector<Source> sources;                       // by level, polling first, then ID
        QVector<QPair<qint64, double>> minute;         // (ms since the epoch, reports/s), oldest first
    };

    // Worker: adds the tally's counts (and empties it), but those of reports framed before the
    // last reset; time is when the counted reports had all arrived. Also called with an empty
    // tally, so that the rates know the time went on; last says the thread counts no more.
    void merge(ReportTally &tally, qint64 time, bool last = false);
    // Window: the counts now, with the rates over the last whole second.
    Snapshot sample(qint64 now);
    // The counts as of the last merge, sources by key (level, interrupt before polling, ID),
    // without rates: for readers other than the window (a metrics scrape), which must not
    // disturb the window's samples.
    Snapshot totals();
    // Back to nothing counted, as of now: a tally's reports framed before are never counted
    // (the log is not the business of this class).
    void reset(qint64 now);

    static QString sourceText(const Source &s);

private:
    using Count = ReportTally::Entry; // the count of a source, its time last seen and its last report
    struct Step
    {
        qint64 start = 0; // ms since the epoch, a multiple of StepMs
        quint64 total = 0;
        QHash<int, quint64> counts; // per source, only while the step may still be in a rate
    };
    static constexpr qint64 StepMs = 100;

    Step &step(qint64 time);

    QMutex mutex;
    QHash<int, Count> counts;
    quint64 total = 0;
    quint64 crcErrors = 0;
    qint64 mergedAt = 0;
    qint64 resetAt = std::numeric_limits<qint64>::min();
    qint64 origin = std::numeric_limits<qint64>::min(); // when counting began: the first step shown
    qint64 rateEnd = std::numeric_limits<qint64>::min(); // end of the last whole second rated
    bool counting = false;
    std::deque<Step> steps; // by start, oldest first, over the last minute and a second
};
