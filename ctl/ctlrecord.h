#pragma once

#include "ctlcommands.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

namespace Ctl {

// The options of record and decode beyond those they share with listen.
struct RunOptions
{
    QCommandLineOption program, format, id, level;
};
RunOptions runOptions();
// Whether opt is one of scan's --from and --to, which decode takes as seconds into the run.
bool isRunRange(const QCommandLineOption &opt);
// Reads them into o; false with text set when a value is bad.
bool readRunOptions(const QCommandLineParser &p, const RunOptions &r, Options &o, QString &text);

} // namespace Ctl
