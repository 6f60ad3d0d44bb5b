#pragma once

#include "packet.h"
#include "reportobserver.h"

#include <QByteArray>
#include <QMutex>
#include <QString>
#include <QVector>

#include <vector>

// What one histogram counts: the reports of one source (ID, and the level and the polling bit, or
// any of them), a data item of those reports by its position (0 = the first item, in the report's
// own data width, big-endian) and a range of that item's bits. A second item makes it 2D.
struct HistogramDef
{
    enum Kind { AnyKind = -1, Interrupt = 0, Polling = 1 };
    struct Axis
    {
        int item = 0;   // position of the data item in the report
        int low = 0;    // lowest bit taken
        int width = 12; // bits taken: 1 << width bins
        bool operator==(const Axis &o) const { return item == o.item && low == o.low && width == o.width; }
    };

    static constexpr int MaxWidth = 16;   // 1D: at most 65,536 bins
    static constexpr int MaxWidth2D = 10; // 2D: at most 1024 x 1024 bins

    int id = 0;
    int level = -1; // -1: any level
    int kind = AnyKind;
    Axis x;
    bool twoD = false;
    Axis y;

    int xBins() const { return 1 << x.width; }
    int yBins() const { return twoD ? 1 << y.width : 1; }
    int bins() const { return xBins() * yBins(); }
    // Whether reports of this source key (as the Rates tab keys them) are counted.
    bool matches(int sourceKey) const;
    // Empty when the definition can be filled, else why not.
    QString problem() const;
    // "ID 0x05, level 0, polling: item 1 bits 0-11", for lists and file headers.
    QString name() const;
    bool operator==(const HistogramDef &o) const;
};

// A histogram's contents: bins (x fastest in 2D, bin = (y << x.width) | x) and what did not go in.
struct HistogramCounts
{
    QVector<quint64> bins;
    quint64 entries = 0;      // reports of the source that filled a bin
    quint64 notFilled = 0;    // reports of the source too short for the item (or with no data)
    quint64 otherSources = 0; // reports of other sources, seen while the histogram existed
};

// Entries, mean and RMS (the standard deviation about the mean) of bins from..to of a 1D histogram,
// the value of a bin being its number.
struct HistogramStats
{
    quint64 entries = 0;
    double mean = 0;
    double rms = 0;
    static HistogramStats of(const QVector<quint64> &bins, int from, int to);
};

// The CSV of a histogram: a header line, then "value,count" (2D: "x,y,count") per bin, only the
// non-empty ones unless all.
QByteArray histogramCsv(const HistogramDef &def, const QVector<quint64> &bins, bool all);

class HistogramFill;

// The histograms of the window (or of a shell command), shared between the command threads that
// fill them (through a HistogramFill each, merged a few times a second) and the window that shows
// them; a mutex guards it. Kept across connections until cleared or removed.
class HistogramSet
{
public:
    struct Info
    {
        quint64 key = 0;     // changes on Clear: counts gathered before it are not merged
        HistogramDef def;
        quint64 entries = 0;
        quint64 notFilled = 0;
        quint64 otherSources = 0;
        quint64 version = 0; // goes up with every merge that changed the counts
    };

    // Adds a histogram (the definition must have no problem); its handle (stable across Clear).
    int add(const HistogramDef &def);
    void remove(int handle);
    void clear(int handle);
    void clearAll();
    QVector<int> handles() const;
    bool info(int handle, Info &out) const;
    // The counts of a histogram, when it exists.
    bool counts(int handle, HistogramCounts &out) const;

private:
    friend class HistogramFill;
    struct Entry
    {
        int handle = 0;
        Info info;
        QVector<quint64> bins;
    };
    const Entry *find(int handle) const;
    Entry *find(int handle);

    mutable QMutex mutex;
    std::vector<Entry> entries;
    int nextHandle = 1;
    quint64 nextKey = 1;
    quint64 layout = 1; // goes up when a histogram is added, removed or cleared
};

// The worker's side: flat tables, no lock per report. observe() fills the histograms of the
// report's source only; publish() adds what was filled to the set and takes the set's current
// histograms for what follows.
class HistogramFill : public ReportObserver
{
public:
    explicit HistogramFill(HistogramSet *set);
    void observe(const kelvo_vme_master_header &header, const char *data, int dataSize) override;
    void publish() override;

private:
    struct Slot
    {
        quint64 key = 0;
        HistogramDef::Axis x, y;
        bool twoD = false;
        quint64 entries = 0, notFilled = 0;
        std::vector<quint32> bins;
    };
    void takeLayout(); // with the set's mutex held

    HistogramSet *set;
    quint64 layout = 0;
    quint64 reports = 0; // every report observed since the last publish
    std::vector<Slot> fills;
    // The fills of source key k are index[first[k]] .. index[first[k + 1] - 1].
    std::vector<quint32> first;
    std::vector<quint16> index;
};
