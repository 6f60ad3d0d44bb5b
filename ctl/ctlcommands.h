#pragma once

#include "ctlhist.h"
#include "ctlscan.h"

#include <QBitArray>
#include <QHostAddress>
#include <QString>
#include <QStringList>
#include <QtGlobal>

class ReadoutExport;

namespace Ctl {

// Exit status of every command.
enum Status {
    Success = 0,
    Refused = 1,   // the module refused (VME or parameter error, bus error) or a check failed
    BadUsage = 2,  // bad arguments; nothing was sent
    NoAnswer = 3,  // no answer, or the network failed
};

struct Options
{
    QString target;
    quint16 tcpPort = 24;
    quint16 udpPort = 4660;
    int timeoutMs = 3000;
    int addressMode = 2; // A32
    int dataMode = 2;    // D32
    int accessMode = 0;  // User Data
    bool echo = false;
    bool verify = false;
    quint8 idFirst = 128; // read, write: the IDs of their commands
    quint8 idLast = 255;
    qint64 count = -1;   // listen: reports to take (-1: no limit)
    double seconds = -1; // listen: time to listen (-1: no limit)
    QString raw;         // listen: file for the raw packets
    bool force = false;  // listen: --raw may replace an existing file
    QString output;      // program build: the binary file to write
    QString metrics;     // listen: HOST:PORT to serve metrics on (empty: none)
    QHostAddress metricsAddress;
    quint16 metricsPort = 0;
    QString publish;     // listen: ZeroMQ endpoint of the report stream (empty: none)
    int publishHighWaterMark = 1000;
    QString program;     // record: the program file named in the run's header
    QString format;      // decode: text, csv or jsonl (empty: text)
    QBitArray ids;       // decode: the IDs to show (empty: all)
    quint8 levels = 0;   // decode: bit n shows priority level n (0: all)
    double from = -1;    // decode: seconds into the run, from (-1: the start)
    double to = -1;      //         and before (-1: the end)
    bool dryRun = false; // run: check the file and print its accesses, send nothing
    ScanOptions scan;
    HistOptions hist;
    QString command;
    QStringList args;
};

// Parses the command line (program name first). BadUsage with text set when it is wrong;
// Success with text set for --help and --version; otherwise Success with text empty.
Status parse(const QStringList &arguments, Options &options, QString &text);

// Parses and runs one command; the process's exit status.
int run(const QStringList &arguments);

// Prints text on standard output as it stands.
void say(const QString &text);
// Prints "tarnixctl: text" on standard error (after what standard output holds) and returns status.
int fail(Status status, const QString &text);

// The commands, one per group of files: each checks its arguments, then talks to the module.
int readCommand(const Options &o);
int writeCommand(const Options &o);
int infoCommand(const Options &o);
int stopCommand(const Options &o);
int downloadCommand(const Options &o);
int listenCommand(const Options &o);
int decodeCommand(const Options &o);
int recordCommand(const Options &o);
int runInfoCommand(const Options &o);
int runCommand(const Options &o);
// The help's part on sequences, for --help and the man page.
QString sequenceHelp();

// listen's --metrics and --publish: started before the module is connected (BadUsage, with the
// message printed, when they cannot), and the stream's counts after the summary.
int startExport(const Options &o, ReadoutExport &out);
void exportSummary(const ReadoutExport &out);

// Reads one number in C notation (0x hexadecimal, leading 0 octal, else decimal) of at most max.
bool parseNumber(const QString &text, quint64 max, quint64 &value);

// The last address of an address mode's space (index of the A16, A24, A32 labels).
quint64 addressSpaceTop(int addressMode);

} // namespace Ctl
