#include "ctlcommands.h"

#include "ctlclient.h"
#include "ctlprogram.h"
#include "ctlrbcp.h"
#include "hexlayout.h"
#include "modeword.h"
#include "packet.h"
#include "reporttext.h"
#include "tarnixcmd.h"

#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>

#include <atomic>
#include <csignal>
#include <cstdio>

namespace Ctl {

namespace {

// First ID of the interactive range the window uses by default; the commands of one run
// count up from there, so a response is never mistaken for a program's report.
constexpr quint8 FirstCommandId = 128;

std::atomic_bool interrupted{false};

void onSignal(int) { interrupted = true; }

// A hex dump as the interactive tab lays it out, ended by a line feed.
void sayDump(const QByteArray &data, int dataMode, quint32 address)
{
    QString text = HexLayout::plainText(data, dataMode, true, address);
    if (!text.isEmpty() && !text.endsWith(QLatin1Char('\n')))
        text += QLatin1Char('\n');
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
}

void say(const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
}

} // namespace

int fail(Status status, const QString &text)
{
    std::fflush(stdout);
    std::fprintf(stderr, "tarnixctl: %s\n", text.toLocal8Bit().constData());
    return status;
}

namespace {

const char Description[] =
    "Drives a VME master module from a shell: its network settings over RBCP, single VME reads\n"
    "and writes over the TCP command channel, program files, and the reports of its programs.\n"
    "\n"
    "Commands:\n"
    "  info                    the module's network settings and logic version\n"
    "  read ADDRESS [COUNT]    read COUNT items (default 1) and print them as a hex dump\n"
    "  write ADDRESS DATA...   write one item per DATA (0x hexadecimal, 0 octal, else decimal)\n"
    "  download FILE           write a program file (binary or text) into the module: stop,\n"
    "                          tables and image, then the enable mask; --verify reads every\n"
    "                          byte back; a text with a fault is refused and nothing is sent\n"
    "  program show FILE       print a program file (binary or text) as text, in one fixed form\n"
    "  program build TEXT -o FILE\n"
    "                          write the binary program file of a text, as the window saves it\n"
    "  stop                    stop every program (event enable mask 0)\n"
    "  listen                  print every report in the log's text, or save them raw (--raw)\n"
    "  decode FILE             turn a raw capture into the log's text\n"
    "\n"
    "Exit status: 0 success, 1 the module refused or a check failed, 2 bad usage (nothing was\n"
    "sent), 3 no answer or a network failure.";

int indexOf(const QStringList &labels, const QString &text)
{
    for (int i = 0; i < labels.size(); ++i) {
        if (labels.at(i).compare(text, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

int itemLimit(int dataMode) { return 255 / VmeModeWord::itemSize(dataMode); }

bool fixedAddress(int accessMode) { return accessMode >= 6 && accessMode <= 9; }

QString alignmentError(quint32 address, int dataMode)
{
    if (dataMode == 2 && address % 4)
        return QStringLiteral("The address must be 4byte aligned.");
    if (dataMode == 1 && address % 2)
        return QStringLiteral("The address must be 2byte aligned.");
    return QString();
}

QString statusText(quint16 mode)
{
    QStringList parts;
    if (mode & VmeModeWord::StatusVmeError)
        parts << QStringLiteral("VME error");
    if (mode & VmeModeWord::StatusParamError)
        parts << QStringLiteral("parameter error");
    return parts.join(QStringLiteral(", ")) +
           QStringLiteral(" (MODE:0x%1)").arg(mode, 4, 16, QLatin1Char('0'));
}

QString clientFailure(CtlTcpClient::Result r, const CtlTcpClient &client)
{
    switch (r) {
    case CtlTcpClient::Result::TimedOut: return QStringLiteral("no answer from the module");
    case CtlTcpClient::Result::Closed: return QStringLiteral("the module closed the connection: ") + client.errorString();
    case CtlTcpClient::Result::CrcError: return QStringLiteral("CRC error in a header from the module");
    case CtlTcpClient::Result::Ok: break;
    }
    return QString();
}

// One VME access of the command channel, split into as many commands as the length byte needs.
int vmeAccess(const Options &o, quint32 address, bool read, const QByteArray &writeData,
              quint64 items)
{
    const int size = VmeModeWord::itemSize(o.dataMode);
    CtlTcpClient client(o.timeoutMs);
    if (!client.connectTo(o.target, o.tcpPort))
        return fail(NoAnswer, QStringLiteral("cannot connect to %1:%2: %3")
                                  .arg(o.target).arg(o.tcpPort).arg(client.errorString()));
    VmeModeWord word;
    word.read = read;
    word.echo = !read && o.echo;
    word.dataMode = o.dataMode;
    word.addressMode = o.addressMode;
    word.accessMode = o.accessMode;

    QByteArray shown;
    quint8 id = FirstCommandId;
    quint64 done = 0;
    do {
        const quint64 n = qMin<quint64>(items - done, quint64(itemLimit(o.dataMode)));
        TarnixCmd cmd;
        cmd.address = fixedAddress(o.accessMode) ? address : quint32(address + done * size);
        cmd.length = quint32(n * size);
        cmd.mode = word.mode();
        cmd.id = id;
        if (!read)
            cmd.data = writeData.mid(qsizetype(done * size), qsizetype(n * size));
        kelvo_vme_master_header header;
        QByteArray data;
        const CtlTcpClient::Result r = client.exchange(cmd.toPacket(), id, header, data);
        if (r != CtlTcpClient::Result::Ok)
            return fail(NoAnswer, clientFailure(r, client));
        if (VmeModeWord::hasError(header.mode)) {
            sayDump(shown, o.dataMode, address);
            return fail(Refused, QStringLiteral("%1 at 0x%2")
                                     .arg(statusText(header.mode))
                                     .arg(cmd.address, 8, 16, QLatin1Char('0')));
        }
        shown += data;
        done += n;
        id = id == 255 ? FirstCommandId : quint8(id + 1);
    } while (done < items);
    if (read || o.echo)
        sayDump(shown, o.dataMode, address);
    std::fflush(stdout);
    return Success;
}

int readCommand(const Options &o)
{
    if (o.args.isEmpty() || o.args.size() > 2)
        return fail(BadUsage, QStringLiteral("read: give ADDRESS and at most a COUNT"));
    quint64 address = 0;
    if (!parseNumber(o.args.at(0), 0xFFFFFFFFu, address))
        return fail(BadUsage, QStringLiteral("read: bad address \"%1\"").arg(o.args.at(0)));
    quint64 count = 1;
    if (o.args.size() == 2 && (!parseNumber(o.args.at(1), 0xFFFFFFu, count) || count == 0))
        return fail(BadUsage, QStringLiteral("read: bad count \"%1\"").arg(o.args.at(1)));
    const QString aligned = alignmentError(quint32(address), o.dataMode);
    if (!aligned.isEmpty())
        return fail(BadUsage, aligned);
    return vmeAccess(o, quint32(address), true, QByteArray(), count);
}

int writeCommand(const Options &o)
{
    if (o.args.size() < 2)
        return fail(BadUsage, QStringLiteral("write: give ADDRESS and at least one DATA item"));
    quint64 address = 0;
    if (!parseNumber(o.args.at(0), 0xFFFFFFFFu, address))
        return fail(BadUsage, QStringLiteral("write: bad address \"%1\"").arg(o.args.at(0)));
    const QString aligned = alignmentError(quint32(address), o.dataMode);
    if (!aligned.isEmpty())
        return fail(BadUsage, aligned);
    const int size = VmeModeWord::itemSize(o.dataMode);
    const quint64 max = size == 4 ? 0xFFFFFFFFu : size == 2 ? 0xFFFFu : 0xFFu;
    QByteArray data;
    for (int i = 1; i < o.args.size(); ++i) {
        quint64 v = 0;
        if (!parseNumber(o.args.at(i), max, v))
            return fail(BadUsage, QStringLiteral("write: \"%1\" is not a %2-bit item")
                                      .arg(o.args.at(i)).arg(size * 8));
        for (int b = size - 1; b >= 0; --b)
            data.append(char(v >> (8 * b)));
    }
    return vmeAccess(o, quint32(address), false, data, quint64(o.args.size() - 1));
}

int infoCommand(const Options &o)
{
    if (!o.args.isEmpty())
        return fail(BadUsage, QStringLiteral("info takes no arguments"));
    return rbcpJob(o, [](QUdpThread &udp) {
        if (!udp.ReadInfoKelvo())
            return fail(NoAnswer, QStringLiteral("Unable to read Kelvo information"));
        if (!udp.readRegister())
            return fail(NoAnswer, QStringLiteral("Unable to read information from Register"));
        QString text;
        udp.GetInfoKelvo(&text);
        udp.getInfo(&text);
        say(text);
        return int(Success);
    });
}

int stopCommand(const Options &o)
{
    if (!o.args.isEmpty())
        return fail(BadUsage, QStringLiteral("stop takes no arguments"));
    return rbcpJob(o, [](QUdpThread &udp) {
        const char mask = 0;
        if (udp.write(QUdpThread::EventEnableAddress, &mask, 1) < 1)
            return fail(Refused, QStringLiteral("Write ERROR"));
        return int(Success);
    });
}

// Cuts packets out of a byte stream and hands them on: as the log's text to out, or their raw
// bytes to a file. Counts what went by for the summary.
class Sink
{
public:
    Sink(FILE *text, QFile *raw) : text(text), raw(raw) {}

    // Takes every whole packet of the stream, at most limit of them (-1: no limit). crcError
    // is set when a header's CRC was wrong (the packets before it are taken).
    void take(PacketStream &stream, qint64 limit, bool &crcError)
    {
        crcError = false;
        const char *first = nullptr; // raw bytes of the packets taken, which lie end to end
        qsizetype taken = 0;
        while (limit < 0 || reports < limit) {
            kelvo_vme_master_header header;
            const char *data = nullptr;
            int dataSize = 0;
            const auto frame = stream.peek(header, data, dataSize);
            if (frame == KelvoPacket::Frame::CrcError) {
                crcError = true;
                ++crcErrors;
                break;
            }
            if (frame == KelvoPacket::Frame::Incomplete)
                break;
            if (!first)
                first = data - KelvoPacket::HeaderSize;
            if (!raw) {
                ReportText::appendReport(header, data, dataSize, log);
                // Text goes out in pieces that stay in the cache, not as one string per read.
                if (log.size() >= TextPiece)
                    flushText();
            }
            stream.take(dataSize);
            taken += KelvoPacket::HeaderSize + dataSize;
            ++reports;
        }
        if (raw) {
            if (taken && raw->write(first, taken) != taken)
                writeFailed = true;
        } else {
            flushText();
            // Whoever reads the text through a pipe sees each report as it arrives.
            if (taken && std::fflush(text) != 0)
                writeFailed = true;
        }
        bytes += taken;
    }

    qint64 reports = 0;
    qint64 bytes = 0;
    qint64 crcErrors = 0;
    bool writeFailed = false;

private:
    static constexpr qsizetype TextPiece = 64 * 1024;

    void flushText()
    {
        if (log.isEmpty())
            return;
        const QByteArray latin = log.toLatin1();
        if (std::fwrite(latin.constData(), 1, size_t(latin.size()), text) != size_t(latin.size()))
            writeFailed = true;
        log.resize(0); // keeps the capacity for the next piece
    }

    FILE *text;
    QFile *raw;
    QString log;
};

void summary(const Sink &sink, qint64 ns)
{
    const double s = ns / 1e9;
    std::fflush(stdout);
    std::fprintf(stderr, "tarnixctl: %lld reports, %lld bytes in %.3f s (%.0f reports/s), %lld CRC errors\n",
                 static_cast<long long>(sink.reports), static_cast<long long>(sink.bytes), s,
                 s > 0 ? sink.reports / s : 0.0, static_cast<long long>(sink.crcErrors));
}

int listenCommand(const Options &o)
{
    if (!o.args.isEmpty())
        return fail(BadUsage, QStringLiteral("listen takes no arguments"));
    QFile rawFile(o.raw);
    if (!o.raw.isEmpty() && !rawFile.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return fail(BadUsage, QStringLiteral("cannot write \"%1\": %2").arg(o.raw, rawFile.errorString()));
    CtlTcpClient client(o.timeoutMs);
    if (!client.connectTo(o.target, o.tcpPort))
        return fail(NoAnswer, QStringLiteral("cannot connect to %1:%2: %3")
                                  .arg(o.target).arg(o.tcpPort).arg(client.errorString()));
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);

    Sink sink(stdout, o.raw.isEmpty() ? nullptr : &rawFile);
    QElapsedTimer clock;
    clock.start();
    const qint64 limitMs = o.seconds < 0 ? -1 : qint64(o.seconds * 1000);
    int status = Success;
    for (;;) {
        bool crcError = false;
        sink.take(client.stream(), o.count, crcError);
        if (crcError) {
            status = fail(NoAnswer, QStringLiteral("CRC error in a header from the module"));
            break;
        }
        if (sink.writeFailed) {
            status = fail(Refused, QStringLiteral("writing the reports failed"));
            break;
        }
        if ((o.count >= 0 && sink.reports >= o.count) || interrupted ||
            (limitMs >= 0 && clock.elapsed() >= limitMs))
            break;
        if (!client.fill(100) && !client.isOpen()) {
            // Every whole packet before the close has been taken above.
            status = fail(NoAnswer, client.stream().pending() == 0
                                        ? QStringLiteral("the module closed the connection")
                                        : QStringLiteral("the module closed the connection inside a packet"));
            break;
        }
    }
    if (rawFile.isOpen() && !rawFile.flush())
        status = fail(Refused, QStringLiteral("writing \"%1\" failed: %2").arg(o.raw, rawFile.errorString()));
    summary(sink, clock.nsecsElapsed());
    return status;
}

int decodeCommand(const Options &o)
{
    if (o.args.size() != 1)
        return fail(BadUsage, QStringLiteral("decode: give one FILE"));
    QFile file(o.args.at(0));
    if (!file.open(QIODevice::ReadOnly))
        return fail(BadUsage, QStringLiteral("cannot read \"%1\": %2").arg(o.args.at(0), file.errorString()));
    Sink sink(stdout, nullptr);
    QElapsedTimer clock;
    clock.start();
    PacketStream stream;
    int status = Success;
    for (;;) {
        const QByteArray chunk = file.read(1 << 20);
        stream.append(chunk);
        bool crcError = false;
        sink.take(stream, -1, crcError);
        if (crcError) {
            status = fail(Refused, QStringLiteral("CRC error in the header at byte %1").arg(sink.bytes));
            break;
        }
        if (chunk.isEmpty()) {
            if (stream.pending())
                status = fail(Refused, QStringLiteral("%1 bytes at the end are not a whole packet")
                                           .arg(stream.pending()));
            break;
        }
    }
    summary(sink, clock.nsecsElapsed());
    return status;
}

} // namespace

bool parseNumber(const QString &text, quint64 max, quint64 &value)
{
    bool ok = false;
    value = text.trimmed().toULongLong(&ok, 0);
    return ok && value <= max;
}

Status parse(const QStringList &arguments, Options &o, QString &text)
{
    QCommandLineParser p;
    p.setApplicationDescription(QString::fromLatin1(Description) + programTextHelp());
    p.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("Show the version and exit."));
    const QCommandLineOption target({QStringLiteral("a"), QStringLiteral("target")},
                                    QStringLiteral("The module's IP address (required for every command but decode)."),
                                    QStringLiteral("ADDR"));
    const QCommandLineOption tcpPort(QStringLiteral("tcp-port"), QStringLiteral("TCP command channel port (default 24)."),
                                     QStringLiteral("N"));
    const QCommandLineOption udpPort(QStringLiteral("udp-port"), QStringLiteral("RBCP port (default 4660)."),
                                     QStringLiteral("N"));
    const QCommandLineOption timeout(QStringLiteral("timeout"),
                                     QStringLiteral("Wait for a connection or an answer, in ms (default 3000)."),
                                     QStringLiteral("MS"));
    const QCommandLineOption addressMode(QStringLiteral("address-mode"), QStringLiteral("A16, A24 or A32 (default A32)."),
                                         QStringLiteral("MODE"));
    const QCommandLineOption dataMode(QStringLiteral("data-mode"), QStringLiteral("D8, D16 or D32 (default D32)."),
                                      QStringLiteral("MODE"));
    const QCommandLineOption access(QStringLiteral("access"),
                                    QStringLiteral("Access mode, as the window names it (default \"User Data\"): ") +
                                        VmeModeWord::accessModeLabels().mid(0, 10).join(QStringLiteral(", ")) + QLatin1Char('.'),
                                    QStringLiteral("TEXT"));
    const QCommandLineOption echo(QStringLiteral("echo"), QStringLiteral("write: ask for the data back and print it."));
    const QCommandLineOption verify(QStringLiteral("verify"), QStringLiteral("download: read every written byte back."));
    const QCommandLineOption count(QStringLiteral("count"), QStringLiteral("listen: stop after N reports."),
                                   QStringLiteral("N"));
    const QCommandLineOption seconds(QStringLiteral("seconds"), QStringLiteral("listen: stop after S seconds."),
                                     QStringLiteral("S"));
    const QCommandLineOption raw(QStringLiteral("raw"),
                                 QStringLiteral("listen: write the raw packets to FILE instead of text."),
                                 QStringLiteral("FILE"));
    const QCommandLineOption output(QStringLiteral("o"), QStringLiteral("program build: the binary file to write."),
                                    QStringLiteral("FILE"));
    p.addOptions({help, version, target, tcpPort, udpPort, timeout, addressMode, dataMode, access, echo,
                  verify, count, seconds, raw, output});
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
                                         QStringLiteral("decode"), QStringLiteral("program")};
    if (!commands.contains(o.command)) {
        text = QStringLiteral("unknown command \"%1\"").arg(o.command);
        return BadUsage;
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
    v = o.tcpPort;
    if (!number(tcpPort, 65535, v))
        return BadUsage;
    o.tcpPort = quint16(v);
    v = o.udpPort;
    if (!number(udpPort, 65535, v))
        return BadUsage;
    o.udpPort = quint16(v);
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
        o.count = qint64(v);
    }
    if (p.isSet(seconds)) {
        bool ok = false;
        o.seconds = p.value(seconds).toDouble(&ok);
        if (!ok || o.seconds < 0) {
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
    o.echo = p.isSet(echo);
    o.verify = p.isSet(verify);
    o.raw = p.value(raw);
    o.output = p.value(output);

    if (o.command != QStringLiteral("decode") && o.command != QStringLiteral("program")) {
        o.target = p.value(target);
        QHostAddress host;
        if (o.target.isEmpty() || !host.setAddress(o.target)) {
            text = o.target.isEmpty() ? QStringLiteral("no target: give -a ADDR")
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
    return decodeCommand(o);
}

} // namespace Ctl
