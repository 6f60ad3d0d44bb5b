#pragma once

#include "histogram.h"

#include <QCommandLineOption>
#include <QList>
#include <QString>

class QCommandLineParser;

namespace Ctl {

struct Options;

// What `hist` counts, and whether empty bins are printed too.
struct HistOptions
{
    HistogramDef def;
    bool all = false;
};

// The options only hist takes, for the command line's parser.
QList<QCommandLineOption> histOptions();

// For hist, fills o.hist from the parsed command line and checks it; false with text set on bad usage.
bool readHistOptions(const QCommandLineParser &parser, Options &o, QString &text);

// Fills one histogram from a file of reports and prints its bins as CSV; the exit status.
int histCommand(const Options &o);

} // namespace Ctl
