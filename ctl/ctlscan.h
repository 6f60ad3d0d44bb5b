#pragma once

#include <QCommandLineOption>
#include <QList>
#include <QString>
#include <QtGlobal>

class QCommandLineParser;

namespace Ctl {

struct Options;

// What `scan` reads: one item at base + offset for every base from `from` to `to` in steps.
struct ScanOptions
{
    int addressMode = 1; // A24
    int dataMode = 1;    // D16
    quint64 from = 0;
    quint64 to = 0;
    quint64 step = 0;
    quint64 offset = 0;
    int inFlight = 64;   // reads sent and not yet answered, at most one per ID of --id-range
    bool ranges = false;
    bool keepGoing = false; // a parameter error is reported and the scan goes on
};

// The options only scan takes, for the command line's parser.
QList<QCommandLineOption> scanOptions();

// For scan, fills o.scan from the parsed command line (after the shared options) and checks it;
// false with text set on bad usage.
bool readScanOptions(const QCommandLineParser &parser, Options &o, QString &text);

// Reads one item at every step and prints the addresses that answer; the process's exit status.
int scanCommand(const Options &o);

} // namespace Ctl
