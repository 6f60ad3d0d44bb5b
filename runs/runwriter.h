#pragma once

#include "reportrecorder.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <atomic>
#include <cstring>
#include <memory>

// What a run file says about its run in its section header.
struct RunHeader
{
    QString tool;          // the program that recorded it, e.g. "tarnixctl 2.0"
    QString os;
    QString moduleAddress; // the module's IP address
    quint16 tcpPort = 0;
    quint16 udpPort = 0;
    qint64 startNs = 0;    // start of the run, ns since the epoch (UTC); 0: not known
    QString programFile;   // the program file named for the run, if any
    QString programText;   // the program table as program text, when it is known
    QStringList comments;  // any other comments of the section header

    // The section header and interface description blocks of a run file with this header.
    QByteArray fileHead() const;
};

// The counts at the end of a run, as the end record stores them.
struct RunEnd
{
    bool present = false;  // false: the file ends without an end record (cut short)
    quint64 bytes = 0;     // packet bytes recorded
    quint64 reports = 0;
    quint64 crcErrors = 0;
    QString reason;        // why the run ended: "count", "seconds", "signal", "stopped", "closed", ...
    qint64 startNs = 0;
    qint64 endNs = 0;

    QByteArray block() const;
};

// The recorder's counters, readable from any thread while it records (a status bar, a metrics
// exporter). They advance a block at a time, not per report.
struct RunCounters
{
    enum State { Idle = 0, Recording = 1, Finished = 2, Failed = 3 };
    std::atomic<quint64> bytes{0};     // packet bytes taken
    std::atomic<quint64> reports{0};
    std::atomic<quint64> crcErrors{0};
    std::atomic<quint64> fileBytes{0}; // bytes handed to the file system
    std::atomic<int> state{Idle};
};

// Writes a run file: whole packets as received, one packet block per socket read (a read of more
// than MaxBatchData bytes takes several), flushed to the file system at least every 100 ms of
// packet time and every MiB, so that a recorder killed at any moment leaves every block before
// the last few written whole. Packets are copied into one buffer sized at open(): nothing is
// allocated per report. One thread writes; counters() may be read from any.
class RunWriter final : public ReportRecorder
{
public:
    RunWriter();
    ~RunWriter() override;
    RunWriter(const RunWriter &) = delete;
    RunWriter &operator=(const RunWriter &) = delete;

    // Creates (truncates) the file and writes the header. path "-" is standard output.
    bool open(const QString &path, const RunHeader &header);
    // One whole packet (header and data) read at timeNs (ns since the epoch). Packets of one
    // read share a time stamp and a block.
    void addPacket(const char *packet, int size, qint64 timeNs) override
    {
        if (timeNs != blockTime || fill - blockStart + size > BlockLimit)
            startBlock(timeNs);
        std::memcpy(buffer.get() + fill, packet, size_t(size));
        fill += size;
        ++blockReports;
    }
    // Whole packets lying end to end (reports of them, at most MaxBatchData bytes in all), read
    // at timeNs: one copy for the lot.
    void addPackets(const char *packets, int size, quint64 reports, qint64 timeNs)
    {
        if (timeNs != blockTime || fill - blockStart + size > BlockLimit)
            startBlock(timeNs);
        std::memcpy(buffer.get() + fill, packets, size_t(size));
        fill += size;
        blockReports += reports;
    }
    void countCrcError() override { ++pendingCrcErrors; }
    // Closes the open block and hands everything to the file system.
    bool flush() override;
    // Writes the end record and closes the file; false if anything failed on the way.
    bool finish(const QString &reason, qint64 endNs);

    bool isOpen() const { return file.isOpen(); }
    bool failed() const { return counterSet.state.load() == RunCounters::Failed; }
    QString errorString() const { return error; }
    QString fileName() const { return path; }
    const RunCounters &counters() const { return counterSet; }
    static qint64 nowNs();

    static constexpr int BlockLimit = 65536 + 28; // block head + MaxBatchData

private:
    void startBlock(qint64 timeNs);
    void closeBlock();
    bool writeOut();

    QFile file;
    QString path;
    QString error;
    RunCounters counterSet;
    qint64 startNs = 0;
    std::unique_ptr<char[]> buffer;
    qsizetype capacity = 0;
    qsizetype fill = 0;
    qsizetype blockStart = -1; // offset of the open block's head in buffer; -1: none open
    qint64 blockTime = -1;
    quint64 blockReports = 0;
    quint64 pendingCrcErrors = 0;
    qint64 flushedAt = 0; // packet time of the last write to the file system
    quint64 bytes = 0, reports = 0;
};
