// hist: one histogram of a data item of the reports in a file, printed as CSV.
#include "ctlcommands.h"
#include "ctlhist.h"

#include "runreader.h"

#include <QCommandLineParser>
#include <QFile>

#include <cstdio>

namespace Ctl {

namespace {

QCommandLineOption option(const char *name, const char *help, const char *value = nullptr)
{
    return value ? QCommandLineOption(QString::fromLatin1(name), QString::fromLatin1(help), QString::fromLatin1(value))
                 : QCommandLineOption(QString::fromLatin1(name), QString::fromLatin1(help));
}

// "LOW:WIDTH" into an axis.
bool readBits(const QString &text, HistogramDef::Axis &axis)
{
    const QStringList f = text.split(QLatin1Char(':'));
    quint64 low = 0, width = 0;
    if (f.size() != 2 || !parseNumber(f[0], 31, low) || !parseNumber(f[1], 32, width))
        return false;
    axis.low = int(low);
    axis.width = int(width);
    return true;
}

} // namespace

QList<QCommandLineOption> histOptions()
{
    return {
        option("polling", "hist: only reports of polling programs."),
        option("interrupt", "hist: only reports of interrupt programs."),
        option("item", "hist: the data item, by its position in the report (default 0, the first).", "K"),
        option("bits", "hist: the item's bits counted, LOW:WIDTH, at most 16 bits (default 0:16).", "LOW:WIDTH"),
        option("item2", "hist: a second item for a 2D histogram (both ranges at most 10 bits).", "K"),
        option("bits2", "hist: the second item's bits, LOW:WIDTH (default 0:10).", "LOW:WIDTH"),
        option("all", "hist: print empty bins too."),
    };
}

bool readHistOptions(const QCommandLineParser &p, Options &o, QString &text)
{
    if (o.command != QStringLiteral("hist"))
        return true;
    const auto value = [&](const char *name) { return p.value(QString::fromLatin1(name)); };
    const auto isSet = [&](const char *name) { return p.isSet(QString::fromLatin1(name)); };
    const auto bad = [&](const char *name) {
        text = QStringLiteral("bad value \"%1\" for --%2").arg(value(name), QString::fromLatin1(name));
        return false;
    };
    HistogramDef &d = o.hist.def;
    quint64 v = 0;
    // --id and --level are decode's, read into o.ids and o.levels already: one of each here.
    if (o.ids.count(true) != 1) {
        text = QStringLiteral("hist: give the one ID of the reports counted with --id N");
        return false;
    }
    for (int i = 0; i < o.ids.size(); ++i)
        if (o.ids.testBit(i))
            d.id = i;
    if (o.levels) {
        if (o.levels & (o.levels - 1)) {
            text = QStringLiteral("hist: give one level with --level, or none for any");
            return false;
        }
        for (int l = 0; l < 8; ++l)
            if (o.levels == (1u << l))
                d.level = l;
    }
    if (isSet("polling") && isSet("interrupt")) {
        text = QStringLiteral("hist: give --polling or --interrupt, not both");
        return false;
    }
    d.kind = isSet("polling") ? HistogramDef::Polling : isSet("interrupt") ? HistogramDef::Interrupt : HistogramDef::AnyKind;
    d.x = {0, 0, 16};
    if (isSet("item")) {
        if (!parseNumber(value("item"), 255, v))
            return bad("item");
        d.x.item = int(v);
    }
    if (isSet("bits") && !readBits(value("bits"), d.x))
        return bad("bits");
    d.twoD = isSet("item2");
    if (d.twoD) {
        if (!isSet("bits"))
            d.x.width = HistogramDef::MaxWidth2D;
        d.y = {0, 0, HistogramDef::MaxWidth2D};
        if (!parseNumber(value("item2"), 255, v))
            return bad("item2");
        d.y.item = int(v);
        if (isSet("bits2") && !readBits(value("bits2"), d.y))
            return bad("bits2");
    } else if (isSet("bits2")) {
        text = QStringLiteral("hist: --bits2 needs --item2");
        return false;
    }
    const QString problem = d.problem();
    if (!problem.isEmpty()) {
        text = QStringLiteral("hist: ") + problem;
        return false;
    }
    o.hist.all = isSet("all");
    return true;
}

int histCommand(const Options &o)
{
    if (o.args.size() != 1)
        return fail(BadUsage, QStringLiteral("hist: give one FILE"));
    RunReader reader;
    if (!reader.open(o.args.at(0)))
        return fail(BadUsage, QStringLiteral("cannot read \"%1\": %2").arg(o.args.at(0), reader.errorString()));

    HistogramSet set;
    const int handle = set.add(o.hist.def);
    HistogramFill fill(&set);
    quint64 reports = 0;
    RunBatch batch;
    bool broken = false;
    while (!broken && reader.next(batch)) {
        broken = !forEachReport(batch, [&](const RunReport &r) {
            ++reports;
            fill.observe(r.header, r.data, r.dataSize);
        });
        fill.publish(); // a batch is at most a socket read or a MiB: far from a bin's limit
    }
    fill.publish();
    HistogramCounts c;
    set.counts(handle, c);
    say(QString::fromLatin1(histogramCsv(o.hist.def, c.bins, o.hist.all)));
    std::fflush(stdout);
    std::fprintf(stderr, "tarnixctl: %llu reports: %llu counted, %llu of the source too short for the item, "
                         "%llu of other sources\n",
                 static_cast<unsigned long long>(reports), static_cast<unsigned long long>(c.entries),
                 static_cast<unsigned long long>(c.notFilled), static_cast<unsigned long long>(c.otherSources));
    if (broken)
        return fail(Refused, QStringLiteral("a block of \"%1\" holds something that is not a whole report").arg(o.args.at(0)));
    if (reader.status() != RunReader::Status::Complete)
        return fail(Refused, reader.errorString());
    return Success;
}

} // namespace Ctl
