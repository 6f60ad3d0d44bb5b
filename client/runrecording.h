#pragma once

#include "commandclient.h"

#include <QString>
#include <QtGlobal>

#include <functional>

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

    // count -1 and limitMs -1: no limit. stop() is asked after every read; tick() runs between
    // reads (a progress display) and may be empty.
    static RunRecording record(CommandClient &client, RunWriter &writer, qint64 count, qint64 limitMs,
                               const std::function<bool()> &stop, const std::function<void()> &tick);
};
