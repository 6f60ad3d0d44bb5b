#pragma once

#include <QtGlobal>

// Where the command thread hands every report packet while a run is recorded (a run file is
// one). Called on the worker thread only, for each report as framed, so an implementation
// must not allocate or lock per call.
class ReportRecorder
{
public:
    virtual ~ReportRecorder() = default;
    // One whole report packet (header and data), read from the socket at timeNs (ns since the
    // epoch). The packets of one socket read share a time stamp.
    virtual void addPacket(const char *packet, int size, qint64 timeNs) = 0;
    // A header with a wrong CRC ended the stream.
    virtual void countCrcError() = 0;
    // Nothing came for a while: what is held back goes to its destination.
    virtual bool flush() = 0;
};
