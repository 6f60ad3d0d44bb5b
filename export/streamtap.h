#pragma once

#include "reportpublisher.h"
#include "reportrecorder.h"

#include <QByteArray>

// The command thread's report path into the stream: it takes each report as framed and sends
// the reports of one socket read as one message. Optionally hands every report on to a further
// recorder too (a run file), so that publishing and recording run side by side.
class StreamTap final : public ReportRecorder
{
public:
    explicit StreamTap(ReportPublisher &publisher) : publisher(publisher) {}

    void setNext(ReportRecorder *recorder) { next = recorder; }

    void addPacket(const char *packet, int size, qint64 timeNs) override
    {
        if (next)
            next->addPacket(packet, size, timeNs);
        if (timeNs != time)
            send();
        time = timeNs;
        batch.append(packet, size);
        ++reports;
    }
    void countCrcError() override
    {
        send();
        if (next)
            next->countCrcError();
    }
    bool flush() override
    {
        send();
        return next ? next->flush() : true;
    }

private:
    void send()
    {
        if (reports)
            publisher.publish(batch.constData(), batch.size(), reports, time);
        batch.resize(0); // keeps the capacity
        reports = 0;
    }

    ReportPublisher &publisher;
    ReportRecorder *next = nullptr;
    QByteArray batch;
    qint64 time = -1;
    quint32 reports = 0;
};
