#pragma once

#include "packet.h"

#include <QHash>
#include <QMutex>
#include <QString>
#include <QVector>

#include <cstring>
#include <deque>
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
        e.bytes += quint64(KelvoPacket::HeaderSize + dataSize);
        e.lastSeen = now;
        e.mode = header.mode;
        // The last (up to) 4 bytes: the last item of any data width.
        const int tail = dataSize < 4 ? dataSize : 4;
        e.tailSize = quint8(tail);
        if (tail > 0)
            std::memcpy(e.tail, data + dataSize - tail, size_t(tail));
    }
    void countCrcError() { ++crcErrors; }

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
    };
    std::vector<Entry> entries;
    std::vector<quint16> active; // keys counted since the last merge, in order of first report
    quint64 crcErrors = 0;
    qint64 now = 0;
};

// The counts of every connection since the last reset, shared between the command thread (which
// merges its tally into them a few times a second) and the window (which samples them, a few
// times a second); a mutex guards both sides. Rates are worked out from the samples: over the
// last second per source and in all, and in all for every sample of the last minute.
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

    // Worker: adds the tally's counts (and empties it); time is when the counted reports had
    // all arrived. Also called with an empty tally, so that the rates know the time went on.
    void merge(ReportTally &tally, qint64 time);
    // Window: the counts now, with the rates since the sample of about a second ago.
    Snapshot sample(qint64 now);
    // The counts as of the last merge, sources by key (level, interrupt before polling, ID),
    // without rates: for readers other than the window (a metrics scrape), which must not
    // disturb the window's samples.
    Snapshot totals();
    // Back to nothing counted (the log is not the business of this class).
    void reset();

    static QString sourceText(const Source &s);

private:
    using Count = ReportTally::Entry; // the count of a source, its time last seen and its last report
    struct Sample
    {
        qint64 time = 0;
        quint64 total = 0;
        QHash<int, quint64> counts;
    };

    QMutex mutex;
    QHash<int, Count> counts;
    quint64 total = 0;
    quint64 crcErrors = 0;
    qint64 mergedAt = 0;
    std::deque<Sample> recent; // samples of the last second and a bit
    QVector<QPair<qint64, double>> minute;
};
