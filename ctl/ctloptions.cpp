// tarnixctl's command line: the options, their checks and the dispatch to a command.
#include "ctlcommands.h"
#include "ctlprogram.h"
#include "ctlrecord.h"

#include "datatext.h"
#include "metricsserver.h"
#include "modeword.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHostAddress>

#include <cstdio>

namespace Ctl {

void say(const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
}

int fail(Status status, const QString &text)
{
    std::fflush(stdout);
    std::fprintf(stderr, "tarnixctl: %s\n", text.toLocal8Bit().constData());
    return status;
}

namespace {

const char Description[] =
    "Drives a VME master module from a shell: its network settings over RBCP,\n"
    "single VME reads and writes over the TCP command channel, program files, and\n"
    "the reports of its programs.\n"
    "\n"
    "read, write and scan give their commands IDs from --id-range and take as the\n"
    "answer only the packet with the command's ID and mode word; every other\n"
    "packet is a program's report and is skipped. The range must not hold IDs\n"
    "that the module's programs use.\n"
    "\n"
    "--timeout bounds each wait: the connection, each TCP command's answer, and\n"
    "each of the three attempts of an RBCP request (an attempt lasts its --timeout\n"
    "whatever else arrives).\n"
    "\n"
    "Each option belongs to the commands its help names; given to another command\n"
    "it is refused. -a, --tcp-port, --udp-port and --timeout are taken by every\n"
    "command but decode, hist, run-info and program. The environment variables\n"
    "TARNIX_ADDRESS, TARNIX_TCP_PORT and TARNIX_UDP_PORT stand in for -a,\n"
    "--tcp-port and --udp-port for every command; an option on the command line\n"
    "wins.\n"
    "\n";

// The lists, after the program texts' help; each "Heading:" becomes a section of the man page.
const char Lists[] =
    "\n"
    "Commands:\n"
    "  info                   the module's network settings and logic version\n"
    "  read ADDRESS [COUNT]   read COUNT items (default 1), print them as a hex dump\n"
    "  write ADDRESS DATA...  write one item per DATA (0x hex, 0 octal, or decimal)\n"
    "  download FILE          write a program file (binary or text) into the module:\n"
    "                         stop, tables and image, then the enable mask; --verify\n"
    "                         reads every byte back before the mask, and the mask\n"
    "                         after it; a text with a fault is refused, nothing sent\n"
    "  program show FILE      print a program file (binary or text) as text\n"
    "  program check FILE     print the warnings of a program file (binary or text):\n"
    "                         programs that never run, clashing IDs, accesses the bus\n"
    "                         refuses; exit status 1 when there are any\n"
    "  program build TEXT -o FILE\n"
    "                         write the binary program file of a text, as the window\n"
    "                         saves it\n"
    "  stop                   stop every program (event enable mask 0)\n"
    "  run FILE               run a set-up sequence (see below) on one connection,\n"
    "                         printing each step as it is done; --dry-run checks\n"
    "                         the whole file and prints its accesses, sending nothing\n"
    "  listen                 print every report in the log's text, or save them raw\n"
    "  decode FILE            turn a run file or a raw capture (- : standard input)\n"
    "                         into the log's text, CSV or JSON lines (--format);\n"
    "                         --id, --level, and --from/--to in seconds into the run\n"
    "                         pick the reports shown\n"
    "  hist FILE --id N       count one data item of the reports of a run file or a\n"
    "                         raw capture (- : standard input) into bins, printed\n"
    "                         as CSV (value,count; 2D: x,y,count), the non-empty\n"
    "                         ones unless --all\n"
    "  record FILE            record every report into a run file until --count,\n"
    "                         --seconds, SIGINT or SIGTERM (see docs/runfile.md)\n"
    "  run-info FILE          a run file's header, counts per source and end record\n"
    "  scan                   read one item at every step of an address range and\n"
    "                         print the addresses that answer (default A24, D16,\n"
    "                         every 0x10000)\n"
    "\n"
    "Exit status:\n"
    "  0                      success\n"
    "  1                      the module refused or a check failed (run: the step\n"
    "                         named with its file and line)\n"
    "  2                      bad usage or (run) a faulty file: nothing was sent\n"
    "  3                      no answer or a network failure";

int indexOf(const QStringList &labels, const QString &text)
{
    for (int i = 0; i < labels.size(); ++i) {
        if (labels.at(i).compare(text, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

} // namespace

bool parseNumber(const QString &text, quint64 max, quint64 &value)
{
    return DataText::readBasePrefix(text, value) && value <= max;
}

Status parse(const QStringList &arguments, Options &o, QString &text)
{
    QCommandLineParser p;
    p.setApplicationDescription(QString::fromLatin1(Description) + programTextHelp() + sequenceHelp() +
                                QString::fromLatin1(Lists));
    p.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("Show the version and exit."));
    const QCommandLineOption target({QStringLiteral("a"), QStringLiteral("target")},
                                    QStringLiteral("The module's IP address (required for every command but decode, hist, run-info and program)."),
                                    QStringLiteral("ADDR"));
    const QCommandLineOption tcpPort(QStringLiteral("tcp-port"), QStringLiteral("TCP command channel port (default 24)."),
                                     QStringLiteral("N"));
    const QCommandLineOption udpPort(QStringLiteral("udp-port"), QStringLiteral("RBCP port (default 4660)."),
                                     QStringLiteral("N"));
    const QCommandLineOption timeout(QStringLiteral("timeout"),
                                     QStringLiteral("Wait for a connection, a TCP answer or one RBCP attempt, "
                                                    "in ms (default 3000)."),
                                     QStringLiteral("MS"));
    const QCommandLineOption idRange(QStringLiteral("id-range"),
                                     QStringLiteral("read, write, scan: command IDs, MIN-MAX within 0-255 "
                                                    "(default 128-255); no ID of a program may lie inside."),
                                     QStringLiteral("MIN-MAX"));
    const QCommandLineOption addressMode(QStringLiteral("address-mode"), QStringLiteral("read, write, scan: A16, A24 or A32 (default A32; scan: A24)."),
                                         QStringLiteral("MODE"));
    const QCommandLineOption dataMode(QStringLiteral("data-mode"), QStringLiteral("read, write, scan: D8, D16 or D32 (default D32; scan: D16)."),
                                      QStringLiteral("MODE"));
    const QCommandLineOption access(QStringLiteral("access"),
                                    QStringLiteral("read, write, scan: access mode, as the window names it (default \"User Data\"): ") +
                                        VmeModeWord::accessModeLabels().mid(0, 10).join(QStringLiteral(", ")) + QLatin1Char('.'),
                                    QStringLiteral("TEXT"));
    const QCommandLineOption echo(QStringLiteral("echo"), QStringLiteral("write: ask for the data back and print it."));
    const QCommandLineOption verify(QStringLiteral("verify"), QStringLiteral("download: read every written byte back."));
    const QCommandLineOption count(QStringLiteral("count"), QStringLiteral("listen, record: stop after N reports (0: no limit, the default)."),
                                   QStringLiteral("N"));
    const QCommandLineOption seconds(QStringLiteral("seconds"), QStringLiteral("listen, record: stop after S seconds (more than 0, at most 1e9)."),
                                     QStringLiteral("S"));
    const QCommandLineOption raw(QStringLiteral("raw"),
                                 QStringLiteral("listen: write the raw packets to FILE instead of text. FILE is opened "
                                                "once the module is connected; a file with something in it is replaced only with --force."),
                                 QStringLiteral("FILE"));
    const QCommandLineOption force(QStringLiteral("force"), QStringLiteral("listen, record: let --raw or record replace an earlier capture or run."));
    const QCommandLineOption metrics(QStringLiteral("metrics"),
                                     QStringLiteral("listen, record: serve Prometheus metrics at http://HOST:PORT/metrics "
                                                    "(PORT alone: on 127.0.0.1; port 0: a free one, printed)."),
                                     QStringLiteral("HOST:PORT"));
    const QCommandLineOption publish(QStringLiteral("publish"),
                                     QStringLiteral("listen, record: publish the reports on a ZeroMQ PUB socket bound to "
                                                    "ENDPOINT (tcp://HOST:PORT, tcp://HOST:* for a free port, ipc://PATH)."),
                                     QStringLiteral("ENDPOINT"));
    const QCommandLineOption publishHwm(QStringLiteral("publish-hwm"),
                                        QStringLiteral("listen, record: messages a subscriber may fall behind before "
                                                       "messages are dropped (default 1000)."),
                                        QStringLiteral("N"));
    const QCommandLineOption output(QStringLiteral("o"), QStringLiteral("program build: the binary file to write."),
                                    QStringLiteral("FILE"));
    p.addOptions({help, version, target, tcpPort, udpPort, timeout, idRange, addressMode, dataMode, access,
                  echo, verify, count, seconds, raw, force, output, metrics, publish, publishHwm});
    const RunOptions runs = runOptions();
    p.addOptions({runs.program, runs.format, runs.id, runs.level});
    const QCommandLineOption dryRun(QStringLiteral("dry-run"),
                                    QStringLiteral("run: check the sequence, every file it includes and every program file it "
                                                   "names, and print its accesses without contacting the module."));
    p.addOption(dryRun);
    const QList<QCommandLineOption> scanning = scanOptions();
    p.addOptions(scanning);
    const QList<QCommandLineOption> histogram = histOptions();
    p.addOptions(histogram);
    p.addPositionalArgument(QStringLiteral("COMMAND"), QStringLiteral("One of the commands above, with its arguments."),
                            QStringLiteral("COMMAND [ARGS...]"));

    if (!p.parse(arguments)) {
        text = p.errorText();
        return BadUsage;
    }
    if (p.isSet(help)) {
        text = p.helpText();
        return Success;
    }
    if (p.isSet(version)) {
        text = QCoreApplication::applicationName() + QLatin1Char(' ') + QCoreApplication::applicationVersion() +
               QLatin1Char('\n');
        return Success;
    }
    const QStringList positional = p.positionalArguments();
    if (positional.isEmpty()) {
        text = QStringLiteral("no command given");
        return BadUsage;
    }
    o.command = positional.first();
    o.args = positional.mid(1);
    static const QStringList commands = {QStringLiteral("info"), QStringLiteral("read"), QStringLiteral("write"),
                                         QStringLiteral("download"), QStringLiteral("stop"), QStringLiteral("listen"),
                                         QStringLiteral("decode"), QStringLiteral("program"),
                                         QStringLiteral("scan"), QStringLiteral("record"),
                                         QStringLiteral("run-info"), QStringLiteral("run"),
                                         QStringLiteral("hist")};
    if (!commands.contains(o.command)) {
        text = QStringLiteral("unknown command \"%1\"").arg(o.command);
        return BadUsage;
    }

    // Options of one command are refused by the others, so that a misplaced one is not ignored.
    const QString c = o.command;
    const bool scan = c == QStringLiteral("scan");
    const bool vme = c == QStringLiteral("read") || c == QStringLiteral("write") || scan;
    const bool sequence = c == QStringLiteral("run");
    const bool listening = c == QStringLiteral("listen");
    const bool recording = c == QStringLiteral("record");
    const bool decoding = c == QStringLiteral("decode");
    const bool offline = decoding || c == QStringLiteral("program") || c == QStringLiteral("run-info") ||
                         c == QStringLiteral("hist");
    QList<std::pair<const QCommandLineOption *, bool>> applies = {
        {&target, !offline}, {&tcpPort, !offline}, {&udpPort, !offline}, {&timeout, !offline},
        {&output, c == QStringLiteral("program")},
        {&idRange, vme || sequence}, {&dryRun, sequence}, {&addressMode, vme}, {&dataMode, vme}, {&access, vme},
        {&echo, c == QStringLiteral("write")}, {&verify, c == QStringLiteral("download")},
        {&count, listening || recording}, {&seconds, listening || recording}, {&raw, listening},
        {&force, listening || recording}, {&runs.program, recording}, {&runs.format, decoding},
        {&runs.id, decoding || c == QStringLiteral("hist")}, {&runs.level, decoding || c == QStringLiteral("hist")},
        {&metrics, listening || recording}, {&publish, listening || recording},
        {&publishHwm, listening || recording}};
    for (const QCommandLineOption &opt : scanning)
        applies.append({&opt, scan || (decoding && isRunRange(opt))});
    for (const QCommandLineOption &opt : histogram)
        applies.append({&opt, c == QStringLiteral("hist")});
    for (const auto &[opt, ok] : applies) {
        if (!ok && p.isSet(*opt)) {
            text = QStringLiteral("--%1 does not apply to %2").arg(opt->names().last(), c);
            return BadUsage;
        }
    }

    quint64 v = 0;
    auto number = [&](const QCommandLineOption &opt, quint64 max, quint64 &out) {
        if (!p.isSet(opt))
            return true;
        if (parseNumber(p.value(opt), max, out))
            return true;
        text = QStringLiteral("bad value \"%1\" for --%2").arg(p.value(opt), opt.names().last());
        return false;
    };
    // The environment names the module for options left out; the command line wins.
    auto fromEnvironment = [&](const QCommandLineOption &opt, const char *name, quint16 &port) {
        const QString value = qEnvironmentVariable(name);
        if (offline || p.isSet(opt) || value.isEmpty())
            return true;
        quint64 n = 0;
        if (parseNumber(value, 65535, n) && n > 0) {
            port = quint16(n);
            return true;
        }
        text = QStringLiteral("bad value \"%1\" in %2 (1 to 65535)").arg(value, QLatin1String(name));
        return false;
    };
    if (!fromEnvironment(tcpPort, "TARNIX_TCP_PORT", o.tcpPort) || !fromEnvironment(udpPort, "TARNIX_UDP_PORT", o.udpPort))
        return BadUsage;
    // Port 0 names no port of the module: it would only be refused by the network.
    auto port = [&](const QCommandLineOption &opt, quint16 &out) {
        v = out;
        if (!number(opt, 65535, v) || v == 0) {
            text = QStringLiteral("bad value \"%1\" for --%2 (1 to 65535)").arg(p.value(opt), opt.names().last());
            return false;
        }
        out = quint16(v);
        return true;
    };
    if (!port(tcpPort, o.tcpPort) || !port(udpPort, o.udpPort))
        return BadUsage;
    v = quint64(o.timeoutMs);
    if (!number(timeout, 3600000, v) || v == 0) {
        if (text.isEmpty())
            text = QStringLiteral("--timeout must be at least 1 ms");
        return BadUsage;
    }
    o.timeoutMs = int(v);
    if (p.isSet(count)) {
        if (!number(count, quint64(1) << 62, v))
            return BadUsage;
        o.count = v == 0 ? -1 : qint64(v);
    }
    if (p.isSet(seconds)) {
        bool ok = false;
        o.seconds = p.value(seconds).toDouble(&ok);
        // Finite, above 0, and small enough for a count of milliseconds.
        if (!ok || !(o.seconds > 0 && o.seconds <= 1e9)) {
            text = QStringLiteral("bad value \"%1\" for --seconds").arg(p.value(seconds));
            return BadUsage;
        }
    }
    auto pick = [&](const QCommandLineOption &opt, const QStringList &labels, int &out) {
        if (!p.isSet(opt))
            return true;
        out = indexOf(labels, p.value(opt));
        if (out >= 0)
            return true;
        text = QStringLiteral("bad value \"%1\" for --%2").arg(p.value(opt), opt.names().last());
        return false;
    };
    if (!pick(addressMode, VmeModeWord::addressModeLabels(), o.addressMode) ||
        !pick(dataMode, VmeModeWord::dataModeLabels(), o.dataMode) ||
        !pick(access, VmeModeWord::accessModeLabels().mid(0, 10), o.accessMode))
        return BadUsage;
    if (p.isSet(idRange)) {
        const QStringList ends = p.value(idRange).split(QLatin1Char('-'));
        quint64 first = 0, last = 0;
        if (ends.size() != 2 || !parseNumber(ends.at(0), 255, first) || !parseNumber(ends.at(1), 255, last) ||
            first > last) {
            text = QStringLiteral("bad value \"%1\" for --id-range: give MIN-MAX, 0 <= MIN <= MAX <= 255")
                       .arg(p.value(idRange));
            return BadUsage;
        }
        o.idFirst = quint8(first);
        o.idLast = quint8(last);
    }
    o.echo = p.isSet(echo);
    o.force = p.isSet(force);
    o.verify = p.isSet(verify);
    o.dryRun = p.isSet(dryRun);
    o.raw = p.value(raw);
    o.output = p.value(output);
    o.metrics = p.value(metrics);
    if (!o.metrics.isEmpty() &&
        !MetricsServer::parseHostPort(o.metrics, o.metricsAddress, o.metricsPort, text)) {
        text = QStringLiteral("bad value for --metrics: ") + text;
        return BadUsage;
    }
    o.publish = p.value(publish);
    if (p.isSet(publishHwm)) {
        if (!number(publishHwm, 1000000, v) || v == 0) {
            text = QStringLiteral("bad value \"%1\" for --publish-hwm: give 1 to 1000000").arg(p.value(publishHwm));
            return BadUsage;
        }
        o.publishHighWaterMark = int(v);
    }
    if (!readScanOptions(p, o, text))
        return BadUsage;
    if (!readRunOptions(p, runs, o, text))
        return BadUsage;
    if (!readHistOptions(p, o, text))
        return BadUsage;

    // A dry run needs no module; one named is still checked.
    if (!offline && !(o.dryRun && !p.isSet(target) && qEnvironmentVariable("TARNIX_ADDRESS").isEmpty())) {
        o.target = p.isSet(target) ? p.value(target) : qEnvironmentVariable("TARNIX_ADDRESS");
        QHostAddress host;
        if (o.target.isEmpty() || !host.setAddress(o.target)) {
            text = o.target.isEmpty() ? QStringLiteral("no target: give -a ADDR or set TARNIX_ADDRESS")
                                      : QStringLiteral("\"%1\" is not an IP address").arg(o.target);
            return BadUsage;
        }
    }
    return Success;
}

int run(const QStringList &arguments)
{
    Options o;
    QString text;
    if (parse(arguments, o, text) != Success)
        return fail(BadUsage, text + QStringLiteral("\nTry 'tarnixctl --help'."));
    if (!text.isEmpty()) {
        say(text);
        std::fflush(stdout);
        return Success;
    }
    if (o.command == QStringLiteral("info"))
        return infoCommand(o);
    if (o.command == QStringLiteral("read"))
        return readCommand(o);
    if (o.command == QStringLiteral("write"))
        return writeCommand(o);
    if (o.command == QStringLiteral("download"))
        return downloadCommand(o);
    if (o.command == QStringLiteral("stop"))
        return stopCommand(o);
    if (o.command == QStringLiteral("program"))
        return programCommand(o);
    if (o.command == QStringLiteral("listen"))
        return listenCommand(o);
    if (o.command == QStringLiteral("scan"))
        return scanCommand(o);
    if (o.command == QStringLiteral("record"))
        return recordCommand(o);
    if (o.command == QStringLiteral("run-info"))
        return runInfoCommand(o);
    if (o.command == QStringLiteral("run"))
        return runCommand(o);
    if (o.command == QStringLiteral("hist"))
        return histCommand(o);
    return decodeCommand(o);
}

} // namespace Ctl
