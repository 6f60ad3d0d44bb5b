#pragma once

#include <QCommandLineOption>
#include <QList>
#include <QString>
#include <QtGlobal>

class QCommandLineParser;

namespace Ctl {

struct Options;

// The range of command IDs a run may use, both ends included (the window's interactive range).
struct IdRange
{
    quint8 min = 128;
    quint8 max = 255;
    int size() const { return max - min + 1; }
};

// "MIN-MAX", both 0..255 and MIN <= MAX.
bool parseIdRange(const QString &text, IdRange &range);

// What `scan` reads: one item at base + offset for every base from `from` to `to` in steps.
struct ScanOptions
{
    int addressMode = 1; // A24
    int dataMode = 1;    // D16
    quint64 from = 0;
    quint64 to = 0;
    quint64 step = 0;
    quint64 offset = 0;
    int inFlight = 64;   // reads sent and not yet answered, at most one per ID of the range
    bool ranges = false;
    IdRange ids;
};

// The options only scan takes (and --id-range), for the command line's parser.
QList<QCommandLineOption> scanOptions();

// Fills o.scan from the parsed command line and checks it; false with text set on bad usage.
// Refuses the scan's options on other commands and the options of other commands on scan.
bool readScanOptions(const QCommandLineParser &parser, Options &o, QString &text);

// Reads one item at every step and prints the addresses that answer; the process's exit status.
int scanCommand(const Options &o);

} // namespace Ctl
