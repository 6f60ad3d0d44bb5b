#include "runwriter.h"

#include "runformat.h"

#include <QDateTime>
#include <QtEndian>

#include <chrono>
#include <cstdio>

namespace {

constexpr qsizetype FlushBytes = 1 << 20;
constexpr qint64 FlushNs = 100'000'000;

QByteArray utf8(const QString &s) { return s.toUtf8(); }

QByteArray comment(const char *key, const QString &value)
{
    return QByteArray(key) + '=' + value.toUtf8();
}

void put32(QByteArray &out, quint32 v)
{
    uchar b[4];
    qToLittleEndian(v, b);
    out.append(reinterpret_cast<const char *>(b), 4);
}

void put64(QByteArray &out, quint64 v)
{
    uchar b[8];
    qToLittleEndian(v, b);
    out.append(reinterpret_cast<const char *>(b), 8);
}

// A time stamp as two 32-bit words, high first, in ns.
QByteArray stamp(qint64 ns)
{
    QByteArray out;
    put32(out, quint32(quint64(ns) >> 32));
    put32(out, quint32(quint64(ns)));
    return out;
}

QString isoTime(qint64 ns)
{
    const QDateTime t = QDateTime::fromMSecsSinceEpoch(ns / 1000000, Qt::UTC);
    return t.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) +
           QStringLiteral(".%1Z").arg(ns % 1000000000, 9, 10, QLatin1Char('0'));
}

} // namespace

QByteArray RunHeader::fileHead() const
{
    using namespace RunFormat;
    QByteArray shb;
    put32(shb, ByteOrderMagic);
    shb.append("\x01\x00\x00\x00", 4); // version 1.0
    put64(shb, ~quint64(0));           // section length not known
    if (!os.isEmpty())
        appendOption(shb, ShbOs, utf8(os));
    if (!tool.isEmpty())
        appendOption(shb, ShbUserAppl, utf8(tool));
    if (!moduleAddress.isEmpty())
        appendOption(shb, OptComment, comment("module", moduleAddress));
    if (tcpPort)
        appendOption(shb, OptComment, comment("tcp-port", QString::number(tcpPort)));
    if (udpPort)
        appendOption(shb, OptComment, comment("udp-port", QString::number(udpPort)));
    if (startNs)
        appendOption(shb, OptComment, comment("start", isoTime(startNs)));
    if (!programFile.isEmpty())
        appendOption(shb, OptComment, comment("program-file", programFile));
    const QByteArray text = comment("program-text", QLatin1Char('\n') + programText);
    if (!programText.isEmpty() && text.size() <= 0xFFFF)
        appendOption(shb, OptComment, text);
    for (const QString &c : comments)
        appendOption(shb, OptComment, utf8(c).left(0xFFFF));
    appendEndOfOptions(shb);

    QByteArray idb;
    idb.append(char(LinkType & 0xFF)).append(char(LinkType >> 8)).append(2, '\0');
    put32(idb, 0); // no snapshot limit
    appendOption(idb, IfName, QByteArrayLiteral("module-tcp"));
    appendOption(idb, IfTsResol, QByteArray(1, char(9))); // nanoseconds
    appendEndOfOptions(idb);

    QByteArray out;
    appendBlock(out, SectionHeaderType, shb);
    appendBlock(out, InterfaceDescriptionType, idb);
    return out;
}

QByteArray RunEnd::block() const
{
    using namespace RunFormat;
    QByteArray body;
    put32(body, 0); // interface 0
    body.append(stamp(endNs));
    if (startNs)
        appendOption(body, IsbStartTime, stamp(startNs));
    appendOption(body, IsbEndTime, stamp(endNs));
    QByteArray recv;
    put64(recv, reports);
    appendOption(body, IsbIfRecv, recv);
    appendOption(body, OptComment, "bytes=" + QByteArray::number(bytes));
    appendOption(body, OptComment, "reports=" + QByteArray::number(reports));
    appendOption(body, OptComment, "crc-errors=" + QByteArray::number(crcErrors));
    appendOption(body, OptComment, "end=" + reason.toUtf8().left(1000));
    appendEndOfOptions(body);
    QByteArray out;
    appendBlock(out, InterfaceStatisticsType, body);
    return out;
}

RunWriter::RunWriter() = default;

RunWriter::~RunWriter()
{
    if (file.isOpen())
        finish(QStringLiteral("stopped"), nowNs());
}

qint64 RunWriter::nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

bool RunWriter::open(const QString &path_, const RunHeader &header)
{
    path = path_;
    error.clear();
    const bool toStdout = path == QStringLiteral("-");
    if (!toStdout)
        file.setFileName(path);
    // Unbuffered: the writer keeps its own buffer and decides when bytes reach the file system.
    const bool ok = toStdout ? file.open(stdout, QIODevice::WriteOnly | QIODevice::Unbuffered)
                             : file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered);
    if (!ok) {
        error = file.errorString();
        counterSet.state = RunCounters::Failed;
        return false;
    }
    capacity = FlushBytes + 2 * BlockLimit + 16;
    buffer.reset(new char[size_t(capacity)]);
    fill = 0;
    blockStart = -1;
    blockTime = -1;
    bytes = reports = 0;
    pendingCrcErrors = 0;
    counterSet.bytes = 0;
    counterSet.reports = 0;
    counterSet.crcErrors = 0;
    counterSet.fileBytes = 0;
    startNs = header.startNs;
    flushedAt = 0;
    const QByteArray head = header.fileHead();
    counterSet.state = RunCounters::Recording;
    if (file.write(head) != head.size()) {
        error = file.errorString();
        counterSet.state = RunCounters::Failed;
        return false;
    }
    counterSet.fileBytes = quint64(head.size());
    return true;
}

void RunWriter::startBlock(qint64 timeNs)
{
    closeBlock();
    if (fill >= FlushBytes || timeNs - flushedAt >= FlushNs) {
        flushedAt = timeNs;
        writeOut();
    }
    blockStart = fill;
    blockTime = timeNs;
    fill += 28;
}

void RunWriter::closeBlock()
{
    if (blockStart < 0)
        return;
    char *b = buffer.get() + blockStart;
    const quint32 data = quint32(fill - blockStart - 28);
    const quint32 padding = (4 - data % 4) % 4;
    std::memset(buffer.get() + fill, 0, padding);
    fill += padding;
    const quint32 size = quint32(fill - blockStart) + 4;
    const auto t = quint64(blockTime);
    auto *u = reinterpret_cast<uchar *>(b);
    qToLittleEndian<quint32>(RunFormat::EnhancedPacketType, u);
    qToLittleEndian<quint32>(size, u + 4);
    qToLittleEndian<quint32>(0, u + 8); // interface 0
    qToLittleEndian<quint32>(quint32(t >> 32), u + 12);
    qToLittleEndian<quint32>(quint32(t), u + 16);
    qToLittleEndian<quint32>(data, u + 20);
    qToLittleEndian<quint32>(data, u + 24);
    qToLittleEndian<quint32>(size, reinterpret_cast<uchar *>(buffer.get() + fill));
    fill += 4;
    blockStart = -1;
    blockTime = -1;
    bytes += data;
    reports += blockReports;
    blockReports = 0;
    counterSet.bytes.store(bytes, std::memory_order_relaxed);
    counterSet.reports.store(reports, std::memory_order_relaxed);
    counterSet.crcErrors.store(pendingCrcErrors, std::memory_order_relaxed);
}

bool RunWriter::writeOut()
{
    if (fill == 0)
        return !failed();
    if (!failed()) {
        const qint64 n = file.write(buffer.get(), fill);
        if (n != fill) {
            error = file.errorString();
            counterSet.state = RunCounters::Failed;
        } else {
            counterSet.fileBytes.fetch_add(quint64(n), std::memory_order_relaxed);
        }
    }
    fill = 0;
    return !failed();
}

bool RunWriter::flush()
{
    closeBlock();
    return writeOut();
}

bool RunWriter::finish(const QString &reason, qint64 endNs)
{
    if (!file.isOpen())
        return false;
    closeBlock();
    writeOut();
    RunEnd end;
    end.present = true;
    end.bytes = bytes;
    end.reports = reports;
    end.crcErrors = pendingCrcErrors;
    end.reason = reason;
    end.startNs = startNs;
    end.endNs = endNs;
    const QByteArray block = end.block();
    if (!failed() && file.write(block) != block.size()) {
        error = file.errorString();
        counterSet.state = RunCounters::Failed;
    }
    if (!failed())
        counterSet.fileBytes.fetch_add(quint64(block.size()));
    file.close();
    if (!failed())
        counterSet.state = RunCounters::Finished;
    return !failed();
}
