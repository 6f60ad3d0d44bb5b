#include "histogram.h"

#include "modeword.h"
#include "reportrates.h"

#include <QMutexLocker>

#include <algorithm>
#include <cmath>

namespace {

QString axisText(const HistogramDef::Axis &a)
{
    return QStringLiteral("item %1 bits %2-%3").arg(a.item).arg(a.low).arg(a.low + a.width - 1);
}

QString axisProblem(const HistogramDef::Axis &a, int maxWidth)
{
    if (a.item < 0 || a.item > 255)
        return QStringLiteral("the item position must be 0 to 255");
    if (a.width < 1 || a.width > maxWidth)
        return QStringLiteral("the width must be 1 to %1 bits").arg(maxWidth);
    if (a.low < 0 || a.low + a.width > 32)
        return QStringLiteral("the bits must lie within 0 to 31");
    return {};
}

// The bits of the axis from the report's item, or -1 when the report is too short for the item.
inline int axisValue(const HistogramDef::Axis &a, const uchar *data, int dataSize, int itemSize)
{
    const int at = a.item * itemSize;
    if (at + itemSize > dataSize)
        return -1;
    const uchar *p = data + at;
    quint32 v = p[0];
    if (itemSize == 2)
        v = (v << 8) | p[1];
    else if (itemSize == 4)
        v = (v << 24) | (quint32(p[1]) << 16) | (quint32(p[2]) << 8) | p[3];
    // The item as a number: bits above its width are 0.
    return int((v >> a.low) & ((1u << a.width) - 1));
}

} // namespace

bool HistogramDef::matches(int sourceKey) const
{
    if ((sourceKey & 0xFF) != id)
        return false;
    if (level >= 0 && (sourceKey >> 9) != level)
        return false;
    return kind == AnyKind || ((sourceKey & 0x100) != 0) == (kind == Polling);
}

QString HistogramDef::problem() const
{
    if (id < 0 || id > 255)
        return QStringLiteral("the ID must be 0 to 255");
    if (level < -1 || level > 7)
        return QStringLiteral("the level must be 0 to 7");
    QString p = axisProblem(x, twoD ? MaxWidth2D : MaxWidth);
    if (p.isEmpty() && twoD)
        p = axisProblem(y, MaxWidth2D);
    return p;
}

QString HistogramDef::name() const
{
    QString s = QStringLiteral("ID 0x%1").arg(id, 2, 16, QLatin1Char('0'));
    s += level >= 0 ? QStringLiteral(", level %1").arg(level) : QStringLiteral(", any level");
    if (kind != AnyKind)
        s += kind == Polling ? QStringLiteral(", polling") : QStringLiteral(", interrupt");
    s += QStringLiteral(": ") + axisText(x);
    if (twoD)
        s += QStringLiteral(" x ") + axisText(y);
    return s;
}

bool HistogramDef::operator==(const HistogramDef &o) const
{
    return id == o.id && level == o.level && kind == o.kind && x == o.x && twoD == o.twoD && (!twoD || y == o.y);
}

HistogramStats HistogramStats::of(const QVector<quint64> &bins, int from, int to)
{
    HistogramStats s;
    from = std::max(from, 0);
    to = std::min(to, int(bins.size()) - 1);
    double sum = 0;
    for (int v = from; v <= to; ++v) {
        s.entries += bins[v];
        sum += double(bins[v]) * v;
    }
    if (s.entries == 0)
        return s;
    s.mean = sum / double(s.entries);
    double squares = 0;
    for (int v = from; v <= to; ++v) {
        const double d = v - s.mean;
        squares += double(bins[v]) * d * d;
    }
    s.rms = std::sqrt(squares / double(s.entries));
    return s;
}

QByteArray histogramCsv(const HistogramDef &def, const QVector<quint64> &bins, bool all)
{
    QByteArray out = def.twoD ? QByteArrayLiteral("x,y,count\n") : QByteArrayLiteral("value,count\n");
    const int nx = def.xBins();
    for (int b = 0; b < bins.size(); ++b) {
        if (!all && bins[b] == 0)
            continue;
        if (def.twoD)
            out += QByteArray::number(b % nx) + ',' + QByteArray::number(b / nx);
        else
            out += QByteArray::number(b);
        out += ',' + QByteArray::number(bins[b]) + '\n';
    }
    return out;
}

int HistogramSet::add(const HistogramDef &def)
{
    QMutexLocker lock(&mutex);
    Entry e;
    e.handle = nextHandle++;
    e.info.key = nextKey++;
    e.info.def = def;
    e.bins.resize(def.bins());
    entries.push_back(std::move(e));
    ++layout;
    return entries.back().handle;
}

void HistogramSet::remove(int handle)
{
    QMutexLocker lock(&mutex);
    entries.erase(std::remove_if(entries.begin(), entries.end(), [&](const Entry &e) { return e.handle == handle; }),
                  entries.end());
    ++layout;
}

void HistogramSet::clear(int handle)
{
    QMutexLocker lock(&mutex);
    if (Entry *e = find(handle)) {
        e->bins.fill(0);
        const HistogramDef def = e->info.def;
        const quint64 version = e->info.version + 1;
        e->info = Info();
        e->info.def = def;
        e->info.key = nextKey++;
        e->info.version = version;
        ++layout;
    }
}

void HistogramSet::clearAll()
{
    for (int h : handles())
        clear(h);
}

QVector<int> HistogramSet::handles() const
{
    QMutexLocker lock(&mutex);
    QVector<int> out;
    for (const Entry &e : entries)
        out.append(e.handle);
    return out;
}

bool HistogramSet::info(int handle, Info &out) const
{
    QMutexLocker lock(&mutex);
    const Entry *e = find(handle);
    if (e)
        out = e->info;
    return e != nullptr;
}

bool HistogramSet::counts(int handle, HistogramCounts &out) const
{
    QMutexLocker lock(&mutex);
    const Entry *e = find(handle);
    if (!e)
        return false;
    out.bins = e->bins;
    out.entries = e->info.entries;
    out.notFilled = e->info.notFilled;
    out.otherSources = e->info.otherSources;
    return true;
}

const HistogramSet::Entry *HistogramSet::find(int handle) const
{
    for (const Entry &e : entries)
        if (e.handle == handle)
            return &e;
    return nullptr;
}

HistogramSet::Entry *HistogramSet::find(int handle)
{
    return const_cast<Entry *>(static_cast<const HistogramSet *>(this)->find(handle));
}

HistogramFill::HistogramFill(HistogramSet *shared) : set(shared), first(ReportTally::SourceCount + 1, 0)
{
    QMutexLocker lock(&set->mutex);
    takeLayout();
}

void HistogramFill::observe(const kelvo_vme_master_header &header, const char *data, int dataSize)
{
    ++reports;
    const int key = ReportTally::sourceKey(header);
    const quint32 end = first[size_t(key) + 1];
    quint32 i = first[size_t(key)];
    if (i == end)
        return;
    const int itemSize = VmeModeWord::itemSize((header.mode >> 10) & 0x3);
    const auto *bytes = reinterpret_cast<const uchar *>(data);
    for (; i < end; ++i) {
        Slot &s = fills[index[i]];
        const int vx = axisValue(s.x, bytes, dataSize, itemSize);
        const int vy = s.twoD ? axisValue(s.y, bytes, dataSize, itemSize) : 0;
        if (vx < 0 || vy < 0) {
            ++s.notFilled;
            continue;
        }
        ++s.bins[size_t((vy << s.x.width) | vx)];
        ++s.entries;
    }
}

void HistogramFill::publish()
{
    QMutexLocker lock(&set->mutex);
    for (Slot &s : fills) {
        HistogramSet::Entry *target = nullptr;
        for (HistogramSet::Entry &e : set->entries)
            if (e.info.key == s.key)
                target = &e;
        if (target) {
            if (s.entries) {
                quint64 *to = target->bins.data();
                for (size_t b = 0; b < s.bins.size(); ++b)
                    to[b] += s.bins[b];
            }
            HistogramSet::Info &info = target->info;
            info.entries += s.entries;
            info.notFilled += s.notFilled;
            info.otherSources += reports - s.entries - s.notFilled;
            if (s.entries || s.notFilled)
                ++info.version;
        }
        if (s.entries)
            std::fill(s.bins.begin(), s.bins.end(), 0);
        s.entries = s.notFilled = 0;
    }
    reports = 0;
    if (layout != set->layout)
        takeLayout();
}

void HistogramFill::takeLayout()
{
    // Counts of histograms that were removed or cleared since the last publish are dropped with
    // their fills.
    fills.clear();
    for (const HistogramSet::Entry &e : set->entries) {
        Slot s;
        s.key = e.info.key;
        s.x = e.info.def.x;
        s.twoD = e.info.def.twoD;
        s.y = e.info.def.y;
        s.bins.assign(size_t(e.info.def.bins()), 0);
        fills.push_back(std::move(s));
    }
    index.clear();
    for (int k = 0; k < ReportTally::SourceCount; ++k) {
        first[size_t(k)] = quint32(index.size());
        for (size_t i = 0; i < fills.size(); ++i)
            if (set->entries[i].info.def.matches(k))
                index.push_back(quint16(i));
    }
    first[ReportTally::SourceCount] = quint32(index.size());
    layout = set->layout;
}
