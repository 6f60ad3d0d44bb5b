#pragma once

#include "packet.h"
#include "runformat.h"
#include "runwriter.h"

#include <QByteArray>
#include <QFile>
#include <QString>

// Whole packets of one socket read, as a run file stores them, or a piece of a raw capture.
// data points into the parser's buffer and stays valid until it is fed again.
struct RunBatch
{
    qint64 timeNs = 0; // when the packets were read (ns since the epoch); 0 in a raw capture
    const char *data = nullptr;
    qsizetype size = 0;
};

// One report of a batch.
struct RunReport
{
    qint64 timeNs = 0;
    kelvo_vme_master_header header;
    const char *data = nullptr; // the data items as sent (big-endian), dataSize bytes
    int dataSize = 0;
};

// The reports of a batch in order; f(const RunReport &) is called for each. False when the
// batch holds something that is not a whole packet with a good header (f has had the reports
// before it).
template<class F>
bool forEachReport(const RunBatch &batch, F &&f)
{
    RunReport r;
    r.timeNs = batch.timeNs;
    const char *p = batch.data;
    qsizetype left = batch.size;
    while (left > 0) {
        if (KelvoPacket::frameAt(p, left, r.header, r.dataSize) != KelvoPacket::Frame::Complete)
            return false;
        r.data = p + KelvoPacket::HeaderSize;
        f(static_cast<const RunReport &>(r));
        const qsizetype n = KelvoPacket::HeaderSize + r.dataSize;
        p += n;
        left -= n;
    }
    return true;
}

// Parses a run file from bytes fed in any pieces, without I/O: the blocks' lengths are checked
// before anything is taken, "need more bytes" is told apart from "malformed", and the header,
// the end record and the packet blocks come out as they are complete.
class RunParser
{
public:
    enum class Step { Batch, NeedMore, Malformed };

    void append(const char *data, qsizetype size);
    void append(const QByteArray &bytes) { append(bytes.constData(), bytes.size()); }
    // The next packet block; the other blocks on the way fill header() and end().
    Step next(RunBatch &batch);

    const RunHeader &header() const { return head; }
    const RunEnd &end() const { return tail; }
    // Whether the section header and the interface description have been read.
    bool started() const { return interfaceSeen; }
    QString errorString() const { return error; }
    // Bytes of the file taken as whole blocks so far; bytes fed and not yet a whole block.
    qint64 consumed() const { return offset; }
    qsizetype pending() const { return buffer.size() - taken; }
    // Packet blocks that did not belong to the module's interface (another link type), skipped.
    qint64 skippedBlocks() const { return skipped; }

    // Whether bytes at the start of a file are a run file's (a section header), not a raw capture.
    static bool isRunFile(const QByteArray &head);

private:
    bool takeSectionHeader(const RunFormat::Block &b);
    bool takeInterface(const RunFormat::Block &b);
    bool takeStatistics(const RunFormat::Block &b);
    Step malformed(const QString &why);

    QByteArray buffer;
    qsizetype taken = 0;
    qint64 offset = 0;
    bool bigEndian = false;
    bool sectionSeen = false;
    bool interfaceSeen = false;
    RunHeader head;
    RunEnd tail;
    QString error;
    qint64 skipped = 0;
    struct Interface
    {
        bool ours = false;
        quint64 nsPerUnit = 1000;
        quint64 divisor = 1;
    };
    QList<Interface> interfaces;
};

// Reads a run file or a raw capture (the module's bytes as they came, told apart by content)
// from a file or standard input ("-"), in pieces of a MiB, and hands out its batches. A file cut
// short (a crash, a full disk) gives every whole block before the cut and then says so.
class RunReader
{
public:
    enum class Status { Reading, Complete, Cut, Malformed, ReadError };

    bool open(const QString &path);
    // The next batch; false at the end of the input or on an error (see status()).
    bool next(RunBatch &batch);

    bool isRaw() const { return raw; }
    Status status() const { return state; }
    QString errorString() const { return error; }
    // Valid once the first batch was asked for (open() reads up to it).
    const RunHeader &header() const { return parser.header(); }
    const RunEnd &end() const { return parser.end(); }
    qint64 fileBytes() const { return read; }

private:
    bool fill();
    bool nextRaw(RunBatch &batch);

    QFile file;
    RunParser parser;
    PacketStream rawStream;
    QByteArray rawHead;
    bool raw = false;
    bool eof = false;
    qint64 read = 0;
    Status state = Status::Reading;
    QString error;
};
