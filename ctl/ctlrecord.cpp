// record and run-info: a run of the module's reports into a run file, and what a run file holds.
#include "ctlcommands.h"
#include "ctlprogram.h"
#include "ctlrecord.h"

#include "commandclient.h"
#include "packet.h"
#include "programtext.h"
#include "readoutexport.h"
#include "runreader.h"
#include "runrecording.h"
#include "runwriter.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QBitArray>
#include <QMap>
#include <QSysInfo>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace Ctl {

namespace {

std::atomic_bool stopAsked{false};

void onStopSignal(int) { stopAsked = true; }

QString timeText(qint64 ns)
{
    if (ns <= 0)
        return QStringLiteral("-");
    return QDateTime::fromMSecsSinceEpoch(ns / 1000000, Qt::UTC).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) +
           QStringLiteral(".%1 UTC").arg(ns % 1000000000, 9, 10, QLatin1Char('0'));
}

void progress(const RunCounters &c, double seconds, bool last)
{
    const quint64 reports = c.reports.load(std::memory_order_relaxed);
    std::fprintf(stderr, "\r%llu reports, %.0f reports/s, %llu bytes, %.1f s%s",
                 static_cast<unsigned long long>(reports), seconds > 0 ? double(reports) / seconds : 0.0,
                 static_cast<unsigned long long>(c.fileBytes.load(std::memory_order_relaxed)), seconds,
                 last ? "\n" : "   ");
}

// A list of numbers and ranges, "5,7,10-12", each within 0..max.
bool readList(const QString &text, quint64 max, QBitArray &bits)
{
    bits.resize(int(max) + 1);
    for (const QString &part : text.split(QLatin1Char(','))) {
        const QStringList ends = part.split(QLatin1Char('-'));
        quint64 first = 0, last = 0;
        if (ends.size() > 2 || !parseNumber(ends.first().trimmed(), max, first) ||
            !parseNumber(ends.last().trimmed(), max, last) || first > last)
            return false;
        bits.fill(true, int(first), int(last) + 1);
    }
    return true;
}

} // namespace

RunOptions runOptions()
{
    const auto s = [](const char *t) { return QString::fromLatin1(t); };
    return {
        QCommandLineOption(s("program"), s("record: the program file (binary or text) that the module runs; "
                                           "its name and text go into the run's header."), s("FILE")),
        QCommandLineOption(s("format"), s("decode: text (the log's, the default), csv (a first line names the "
                                          "columns) or jsonl (one JSON object a line)."), s("FORMAT")),
        QCommandLineOption(s("id"), s("decode: only reports of these IDs, e.g. 5,7,10-12; hist: the one ID counted."), s("IDS")),
        QCommandLineOption(s("level"), s("decode: only reports of these priority levels (0-7), e.g. 1,3; hist: the one level counted "
                                              "(default any)."),
                           s("LEVELS")),
    };
}

bool isRunRange(const QCommandLineOption &opt)
{
    return opt.names().contains(QStringLiteral("from")) || opt.names().contains(QStringLiteral("to"));
}

bool readRunOptions(const QCommandLineParser &p, const RunOptions &r, Options &o, QString &text)
{
    o.program = p.value(r.program);
    o.format = p.value(r.format);
    if (p.isSet(r.id) && !readList(p.value(r.id), 255, o.ids)) {
        text = QStringLiteral("bad value \"%1\" for --id: give IDs 0-255, e.g. 5,7,10-12").arg(p.value(r.id));
        return false;
    }
    if (p.isSet(r.level)) {
        QBitArray levels;
        if (!readList(p.value(r.level), 7, levels)) {
            text = QStringLiteral("bad value \"%1\" for --level: give levels 0-7, e.g. 1,3").arg(p.value(r.level));
            return false;
        }
        for (int i = 0; i < 8; ++i)
            o.levels |= levels.testBit(i) ? quint8(1u << i) : 0;
    }
    if (o.command != QStringLiteral("decode"))
        return true;
    // scan's --from and --to, in seconds into the run for decode.
    for (const auto &[name, out] : {std::pair{"from", &o.from}, std::pair{"to", &o.to}}) {
        const QString n = QString::fromLatin1(name);
        if (!p.isSet(n))
            continue;
        bool ok = false;
        *out = p.value(n).toDouble(&ok);
        if (!ok || !(*out >= 0 && *out <= 1e9)) {
            text = QStringLiteral("bad value \"%1\" for --%2: give seconds from 0").arg(p.value(n), n);
            return false;
        }
    }
    if (o.from >= 0 && o.to >= 0 && o.to <= o.from) {
        text = QStringLiteral("--to must be after --from");
        return false;
    }
    return true;
}

int recordCommand(const Options &o)
{
    if (o.args.size() != 1)
        return fail(BadUsage, QStringLiteral("record: give one FILE"));
    const QString path = o.args.at(0);
    // As for listen --raw: an earlier run is replaced only when asked for, and not before the
    // module is connected.
    const QFileInfo earlier(path);
    if (!o.force && earlier.isFile() && earlier.size() > 0)
        return fail(BadUsage, QStringLiteral("\"%1\" exists: give --force to replace it").arg(path));
    RunHeader header;
    if (!o.program.isEmpty()) {
        QByteArray bytes;
        QString failure;
        if (!readProgramFile(o.program, bytes, failure))
            return fail(BadUsage, failure);
        if (!ProgramText::print(bytes, o.program, header.programText, failure))
            return fail(BadUsage, failure);
        header.programFile = QFileInfo(o.program).absoluteFilePath();
    }
    header.tool = QCoreApplication::applicationName() + QLatin1Char(' ') + QCoreApplication::applicationVersion();
    header.os = QSysInfo::prettyProductName();
    header.moduleAddress = o.target;
    header.tcpPort = o.tcpPort;
    header.udpPort = o.udpPort;

    ReadoutExport out;
    if (const int refused = startExport(o, out))
        return refused;
    CommandClient client(o.timeoutMs);
    if (!client.connectTo(o.target, o.tcpPort))
        return fail(NoAnswer, QStringLiteral("cannot connect to %1:%2: %3")
                                  .arg(o.target).arg(o.tcpPort).arg(client.errorString()));
    out.setConnected(true);
    header.startNs = RunWriter::nowNs();
    RunWriter writer;
    if (!writer.open(path, header))
        return fail(BadUsage, QStringLiteral("cannot write \"%1\": %2").arg(path, writer.errorString()));
    out.setRecorder(&writer.counters());
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);

    const bool terminal = isatty(STDERR_FILENO) == 1;
    QElapsedTimer clock, sinceProgress;
    clock.start();
    sinceProgress.start();
    RunRecording::Hooks hooks;
    hooks.stop = [] { return stopAsked.load(); };
    hooks.tick = [&] {
        out.tick();
        if (terminal && sinceProgress.elapsed() >= 500) {
            sinceProgress.start();
            progress(writer.counters(), clock.nsecsElapsed() / 1e9, false);
        }
    };
    hooks.tally = out.tally();
    hooks.batch = [&out](const char *packets, qsizetype size, quint32 reports) { out.batch(packets, size, reports); };
    const RunRecording run =
        RunRecording::record(client, writer, o.count, o.seconds < 0 ? -1 : qint64(o.seconds * 1000), hooks);
    const QString &reason = run.reason;
    int status = Success;
    if (run.status == RunRecording::Status::NoAnswer)
        status = fail(NoAnswer, run.message);
    else if (run.status == RunRecording::Status::WriteFailed)
        status = fail(Refused, run.message);
    if (!writer.finish(reason, RunWriter::nowNs()) && status == Success)
        status = fail(Refused, QStringLiteral("writing \"%1\" failed: %2").arg(path, writer.errorString()));
    out.setConnected(false);
    out.tick(true);
    out.setRecorder(nullptr); // the writer goes before the metrics server

    const double s = clock.nsecsElapsed() / 1e9;
    if (terminal)
        progress(writer.counters(), s, true);
    const RunCounters &c = writer.counters();
    std::fprintf(stderr, "tarnixctl: %llu reports, %llu bytes in %.3f s (%.0f reports/s), %llu CRC errors, ended: %s\n",
                 static_cast<unsigned long long>(c.reports.load()), static_cast<unsigned long long>(c.bytes.load()), s,
                 s > 0 ? double(c.reports.load()) / s : 0.0, static_cast<unsigned long long>(c.crcErrors.load()),
                 reason.toLocal8Bit().constData());
    exportSummary(out);
    return status;
}

int runInfoCommand(const Options &o)
{
    if (o.args.size() != 1)
        return fail(BadUsage, QStringLiteral("run-info: give one FILE"));
    RunReader reader;
    if (!reader.open(o.args.at(0)))
        return fail(BadUsage, QStringLiteral("cannot read \"%1\": %2").arg(o.args.at(0), reader.errorString()));
    // Per source: the ID with its level and polling bit.
    struct Count
    {
        quint64 reports = 0;
        quint64 bytes = 0;
    };
    QMap<int, Count> sources;
    quint64 reports = 0, bytes = 0, batches = 0;
    qint64 first = 0, last = 0;
    RunBatch batch;
    bool broken = false;
    while (reader.next(batch)) {
        ++batches;
        if (!first)
            first = batch.timeNs;
        last = batch.timeNs;
        bytes += quint64(batch.size);
        broken |= !forEachReport(batch, [&](const RunReport &r) {
            const int key = int((r.header.length >> 28) << 8) | r.header.id;
            Count &c = sources[key];
            ++c.reports;
            c.bytes += quint64(KelvoPacket::HeaderSize + r.dataSize);
            ++reports;
        });
    }
    QString out;
    const RunHeader &h = reader.header();
    if (reader.isRaw()) {
        out += QStringLiteral("raw capture (no header, no time stamps)\n");
    } else {
        out += QStringLiteral("tool: %1\n").arg(h.tool);
        if (!h.os.isEmpty())
            out += QStringLiteral("os: %1\n").arg(h.os);
        out += QStringLiteral("module: %1 tcp %2 udp %3\n").arg(h.moduleAddress).arg(h.tcpPort).arg(h.udpPort);
        out += QStringLiteral("start: %1\n").arg(timeText(h.startNs));
        if (!h.programFile.isEmpty())
            out += QStringLiteral("program file: %1\n").arg(h.programFile);
        out += QStringLiteral("program text: %1\n")
                   .arg(h.programText.isEmpty() ? QStringLiteral("none")
                                                : QStringLiteral("%1 lines").arg(h.programText.count(QLatin1Char('\n'))));
        for (const QString &c : h.comments)
            out += QStringLiteral("comment: %1\n").arg(c);
        out += QStringLiteral("first block: %1\nlast block: %2\n").arg(timeText(first), timeText(last));
    }
    out += QStringLiteral("blocks: %1, reports: %2, bytes: %3\n").arg(batches).arg(reports).arg(bytes);
    out += QStringLiteral("sources:\n  level source    id    reports      bytes\n");
    for (auto it = sources.cbegin(); it != sources.cend(); ++it) {
        const int key = it.key();
        out += QStringLiteral("  %1 %2 0x%3 %4 %5\n")
                   .arg(key >> 9, 5)
                   .arg((key >> 8) & 1 ? QStringLiteral("polling  ") : QStringLiteral("interrupt"))
                   .arg(key & 0xFF, 2, 16, QLatin1Char('0'))
                   .arg(it->reports, 10)
                   .arg(it->bytes, 10);
    }
    const RunEnd &e = reader.end();
    if (!reader.isRaw()) {
        if (e.present)
            out += QStringLiteral("end: %1 at %2; recorded %3 reports, %4 bytes, %5 CRC errors\n")
                       .arg(e.reason, timeText(e.endNs)).arg(e.reports).arg(e.bytes).arg(e.crcErrors);
        else
            out += QStringLiteral("end: no end record\n");
    }
    say(out);
    if (broken)
        return fail(Refused, QStringLiteral("a block holds something that is not a whole report"));
    switch (reader.status()) {
    case RunReader::Status::Complete:
        return Success;
    case RunReader::Status::Cut:
        return fail(Refused, QStringLiteral("\"%1\": %2").arg(o.args.at(0), reader.errorString()));
    default:
        return fail(Refused, QStringLiteral("\"%1\": %2").arg(o.args.at(0), reader.errorString()));
    }
}

} // namespace Ctl
