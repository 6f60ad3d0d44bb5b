#pragma once

#include "commandclient.h"

#include <QString>
#include <QtGlobal>

#include <functional>

class ReportTally;
class RunWriter;

// The reports of a connected command channel into an open run file: every whole packet with the
// time of the socket read that brought it, until a count or a time is reached, stop() says so,
// or the connection or the file fails. The caller opens the file before and finishes it after,
// with the outcome's reason as the end record's.
struct RunRecording
{
    enum class Status { Done, NoAnswer, WriteFailed };
    Status status = Status::Done;
    QString reason;  // "count", "seconds", "signal", "closed", "crc-error", "write-error"
    QString message; // empty when done
    qint64 reports = 0;

    // What a caller watches of a run besides the file; every member may be left empty.
    struct Hooks
    {
        // Asked after every pass over a read: true ends the run ("signal").
        std::function<bool()> stop;
        // At the start of every pass, before its reports are framed (stamps, a progress display).
        std::function<void()> tick;
        // Counts every report and the CRC error that ends a run (the Rates counting, metrics).
        ReportTally *tally = nullptr;
        // Every pass's reports, whole packets end to end as read (a stream to subscribers).
        std::function<void(const char *packets, qsizetype size, quint32 reports)> batch;
    };

    // count -1 and limitMs -1: no limit.
    static RunRecording record(CommandClient &client, RunWriter &writer, qint64 count, qint64 limitMs,
                               const Hooks &hooks);
};
