#include "simoptions.h"
#include "simreplay.h"
#include "simstatus.h"

#include <QCommandLineParser>
#include <QHostAddress>

#include <limits>
#include <type_traits>

namespace SimOptions {

namespace {

QList<QCommandLineOption> options()
{
    const auto opt = [](const QStringList &names, const QString &description,
                        const QString &valueName = QString(), const QString &def = QString()) {
        QCommandLineOption o(names, description, valueName, def);
        return o;
    };
    const auto s = [](const char *text) { return QString::fromLatin1(text); };
    return {
        opt({s("address")}, s("Address both channels listen on (default 127.0.0.1)."), s("addr"), s("127.0.0.1")),
        opt({s("tcp-port")}, s("TCP command channel port (default 24; 0 picks a free port)."), s("port"), s("24")),
        opt({s("udp-port")}, s("RBCP (UDP) port (default 4660; 0 picks a free port)."), s("port"), s("4660")),
        opt({s("version-register")}, s("Value of the 4-byte version register at 0 (default 0x01020AFF)."),
            s("value"), s("0x01020AFF")),
        opt({s("mac")}, s("MAC address in the settings block (default 00:1A:2B:3C:4D:5E)."), s("mac"),
            s("00:1A:2B:3C:4D:5E")),
        opt({s("ip")}, s("IPv4 address in the settings block (default: the listening address if IPv4, "
                         "else 127.0.0.1). Stored only; the module never binds it."), s("a.b.c.d")),
        opt({s("flags")}, s("Flags byte of the settings block (default 0x04: keep-alive on)."), s("value"),
            s("0x04")),
        opt({s("close-timeout")}, s("Value of the TCP close time-out register (default 5)."), s("value"), s("5")),
        opt({s("interrupt-vector")}, s("Vector returned by an interrupt acknowledge (INTR) on the command "
                                       "channel, or in a program that serves no raised interrupt (default 0)."),
            s("value"), s("0")),
        opt({s("irq")}, s("Raise VME interrupt level L (1..7) with vector V (0..255): once at start, or every "
                          "period-ms milliseconds. A raised level stays pending until its interrupt program "
                          "has run (its bit in the event enable mask set). Repeatable."),
            s("L:V[:period-ms]")),
        opt({s("unmapped")}, s("VME range where no slave answers (VME error bit), e.g. A24:0x100000-0x1FFFFF "
                               "or A32:0x8000+0x100. Repeatable."), s("mode:range")),
        opt({s("slave")}, s("VME range where a slave answers, e.g. A24:0x100000-0x10FFFF; repeatable, to "
                            "stand for a crate with a few modules. Once an address mode has a slave, every "
                            "access of that mode outside the slaves ends with the VME error bit; a mode "
                            "without slaves answers everywhere. --unmapped holes apply inside slaves too."),
            s("mode:range")),
        opt({s("status-register")}, s("VME range that behaves as a status register: a write touching the trigger "
                                      "address clears the bits in each 32-bit word of the range, and delay-ms later "
                                      "they read as set, e.g. A32:0x100010+4:0x100000:0x1:50. Repeatable."),
            s("mode:range:trigger:bits:delay-ms")),
        opt({s("drop")}, s("Fault: fraction (0..1) of RBCP replies that are lost; the request is still "
                           "carried out."), s("fraction"), s("0")),
        opt({s("seed")}, s("Fault: seed of the reply drop decisions (default 1)."), s("n"), s("1")),
        opt({s("delay")}, s("Fault: send every RBCP reply this many milliseconds late."), s("ms"), s("0")),
        opt({s("stale-id")}, s("Fault: precede every RBCP reply by a copy carrying the previous request's ID "
                               "and inverted data.")),
        opt({s("bus-error")}, s("Fault: RBCP accesses touching this register range answer with the bus error "
                                "flag, e.g. 0x4-0x7. Repeatable."), s("range")),
        opt({s("lost-write")}, s("Fault: RBCP writes are acknowledged, but the bytes inside this register range "
                                 "keep their old values, e.g. 0x900-0x900. Repeatable."), s("range")),
        opt({s("param-error")}, s("Fault: VME accesses touching this range are refused with the parameter "
                                  "error bit, e.g. A24:0x200000-0x20FFFF. Repeatable."), s("mode:range")),
        opt({s("corrupt-crc")}, s("Fault: the Nth packet sent on each TCP connection (counting from 1) leaves "
                                  "with a wrong header CRC."), s("n"), s("0")),
        opt({s("close-after")}, s("Fault: close each TCP connection after N packets were sent."), s("n"), s("0")),
        opt({s("mute-after")}, s("Fault: send nothing more on a TCP connection once N packets were sent on it; "
                                 "commands are still carried out and the connection stays open."), s("n"), s("0")),
        opt({s("no-answers")}, s("Fault: carry out TCP commands but send no response (reports still go out).")),
        opt({s("byte-at-a-time")}, s("Fault: write every TCP packet one byte at a time, flushing between bytes.")),
        opt({s("byte-interval")}, s("Pause between the bytes of --byte-at-a-time (default 1 ms)."), s("ms"),
            s("1")),
        opt({s("reports")}, s("Send this many reports to every client as it connects (0: until it "
                              "disconnects). Report k carries k in its first data item."), s("count")),
        opt({s("report-rate")}, s("Reports per second (default 0: as fast as the socket takes them)."), s("n"),
            s("0")),
        opt({s("report-id")}, s("ID of the reports (default 5)."), s("id"), s("5")),
        opt({s("report-flow")}, s("Flow ID of the reports, 0..4095 (default 0)."), s("n"), s("0")),
        opt({s("report-level")}, s("Priority level of the reports, 0..7 (default 0)."), s("n"), s("0")),
        opt({s("report-interrupt")}, s("Mark reports as coming from an interrupt program (polling bit clear).")),
        opt({s("report-address")}, s("VME address in the report headers (default 0)."), s("addr"), s("0")),
        opt({s("report-items")}, s("Data size of a report in D32 items, 1..63 (default 1)."), s("n"), s("1")),
        opt({s("report-no-data")}, s("Send reports as bare headers (Read(No Echo))."), QString()),
        opt({s("report-peak")}, s("Make data item ITEM (0..62) of the reports look like a detector channel: a peak at "
                                   "PEAK with standard deviation WIDTH over a flat background that takes a FLAT share "
                                   "(default 0.1) of the reports, values 0..MAX (default 4095). Item 0 then no longer "
                                   "carries the report's number. Repeatable, one item each."),
            s("ITEM:PEAK:WIDTH[:FLAT[:MAX]]")),
        opt({s("report-seed")}, s("Seed of the --report-peak values (default 1): the same seed gives every "
                                  "connection the same values, report by report."), s("n"), s("1")),
        opt({s("replay")}, s("Send the reports of a run file (or a raw capture) to every client as it connects, "
                              "at the recorded pace (see --replay-speed)."), s("file")),
        opt({s("replay-speed")}, s("Pace of --replay: 1 as recorded (the default), 2 twice as fast, ..., 0 as fast "
                                    "as the socket takes them."), s("factor"), s("1")),
        opt({s("v"), s("verbose")}, s("Log every command, register access, raised interrupt, program run and program "
                                         "instruction to stderr.")),
    };
}

bool number(const QString &text, quint64 max, quint64 *value)
{
    bool ok = false;
    const quint64 v = text.trimmed().toULongLong(&ok, 0);
    if (!ok || v > max)
        return false;
    *value = v;
    return true;
}

} // namespace

Outcome parse(const QStringList &arguments, SimConfig *config, QString *text)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Software VME master module: answers the TCP command channel and RBCP register accesses "
        "like the hardware, with VME memory, program memory and fault injection.\n"
        "RBCP datagrams shorter than 8 bytes get no reply; an unknown version or command byte, a length "
        "of 0 or a write short of its data gets a bus error reply.\n"
        "A fixed-address access (access codes 0x8, 0x9, 0xC, 0xD) moves every item through its one "
        "address, as at a FIFO register that holds one item: a write leaves its last item there, a "
        "read returns the address's value for every item; only that item must lie in a slave.\n"
        "Once the event enable mask at register 4 is written, the module runs the programs in its "
        "program memory: the polling program every interval (rounded to whole milliseconds, at least "
        "1 ms), the interrupt program of a raised and enabled level, and after its interrupt acknowledge "
        "the program that the vector table names for the vector (after the interrupt program's last "
        "instruction). Each instruction is carried out on the VME memory like a command and sends one "
        "report to every client: the instruction's ID, address and mode word with the status bits, "
        "data as for a command, and in the length word the polling bit, the priority level (the polling "
        "level, or the interrupt level for interrupt and vector programs) and as flow ID the number of "
        "the run (counting from 0, wrapping after 4095; an interrupt program and its vector program "
        "share one). A program that leaves the program image ends its run. While the clients hold more "
        "than 256 KiB of unsent output a polling run is skipped and an interrupt stays pending.\n"
        "On start it prints one line: tarnix-sim listening: tcp=<addr>:<port> udp=<addr>:<port>"));
    const QCommandLineOption help = parser.addHelpOption();
    parser.addOptions(options());
    if (!parser.parse(arguments)) {
        *text = parser.errorText();
        return Outcome::Error;
    }
    if (parser.isSet(help)) {
        *text = parser.helpText();
        return Outcome::Help;
    }
    if (!parser.positionalArguments().isEmpty()) {
        *text = QStringLiteral("unexpected argument: %1").arg(parser.positionalArguments().first());
        return Outcome::Error;
    }

    SimConfig c;
    QString bad;
    const auto value = [&](const char *name) { return parser.value(QString::fromLatin1(name)); };
    const auto num = [&](const char *name, quint64 max, auto *out) {
        quint64 v = 0;
        if (!number(value(name), max, &v)) {
            if (bad.isEmpty())
                bad = QStringLiteral("invalid value for --%1: %2").arg(QString::fromLatin1(name), value(name));
            return;
        }
        *out = static_cast<std::remove_pointer_t<decltype(out)>>(v);
    };

    if (!c.address.setAddress(value("address")))
        bad = QStringLiteral("invalid address: %1").arg(value("address"));
    num("tcp-port", 0xFFFF, &c.tcpPort);
    num("udp-port", 0xFFFF, &c.udpPort);
    num("version-register", 0xFFFFFFFFu, &c.version);
    if (!parseSimMac(value("mac"), &c.mac) && bad.isEmpty())
        bad = QStringLiteral("invalid MAC address: %1").arg(value("mac"));
    {
        QHostAddress ip(QHostAddress::LocalHost);
        if (parser.isSet(QStringLiteral("ip"))) {
            if (!ip.setAddress(value("ip")) || ip.protocol() != QAbstractSocket::IPv4Protocol) {
                if (bad.isEmpty())
                    bad = QStringLiteral("invalid IPv4 address: %1").arg(value("ip"));
            }
        } else if (c.address.protocol() == QAbstractSocket::IPv4Protocol && !c.address.isEqual(QHostAddress::AnyIPv4)) {
            ip = c.address;
        }
        c.settingsIp = ip.toIPv4Address();
    }
    num("flags", 0xFF, &c.flags);
    num("close-timeout", 0xFFFF, &c.closeTimeout);
    num("interrupt-vector", 0xFFFFFFFFu, &c.interruptVector);
    for (const QString &i : parser.values(QStringLiteral("irq"))) {
        SimIrq irq;
        if (!parseSimIrq(i, &irq)) {
            if (bad.isEmpty())
                bad = QStringLiteral("invalid interrupt: %1").arg(i);
        } else {
            c.irqs.append(irq);
        }
    }
    for (const QString &u : parser.values(QStringLiteral("unmapped"))) {
        SimUnmapped range;
        if (!parseSimUnmapped(u, &range)) {
            if (bad.isEmpty())
                bad = QStringLiteral("invalid unmapped range: %1").arg(u);
        } else {
            c.unmapped.append(range);
        }
    }

    auto vmeRanges = [&](const QString &name, QVector<SimVmeRange> &out) {
        for (const QString &r : parser.values(name)) {
            SimVmeRange range;
            if (parseSimVmeRange(r, &range))
                out.append(range);
            else if (bad.isEmpty())
                bad = QStringLiteral("invalid %1 range: %2").arg(name, r);
        }
    };
    vmeRanges(QStringLiteral("slave"), c.slaves);
    for (const QString &r : parser.values(QStringLiteral("status-register"))) {
        SimStatusRegister status;
        if (parseSimStatusRegister(r, &status))
            c.statusRegisters.append(status);
        else if (bad.isEmpty())
            bad = QStringLiteral("invalid status register: %1").arg(r);
    }
    vmeRanges(QStringLiteral("param-error"), c.faults.vmeParamErrors);

    bool ok = false;
    c.faults.rbcpDropFraction = value("drop").toDouble(&ok);
    if ((!ok || c.faults.rbcpDropFraction < 0.0 || c.faults.rbcpDropFraction > 1.0) && bad.isEmpty())
        bad = QStringLiteral("invalid value for --drop: %1").arg(value("drop"));
    num("seed", 0xFFFFFFFFu, &c.faults.rbcpDropSeed);
    num("delay", 600000, &c.faults.rbcpDelayMs);
    c.faults.rbcpStaleId = parser.isSet(QStringLiteral("stale-id"));
    auto ranges = [&](const QString &name, const QString &what, QVector<SimRange> &out) {
        for (const QString &r : parser.values(name)) {
            SimRange range;
            if (parseSimRange(r, &range))
                out.append(range);
            else if (bad.isEmpty())
                bad = QStringLiteral("invalid %1 range: %2").arg(what, r);
        }
    };
    ranges(QStringLiteral("bus-error"), QStringLiteral("bus error"), c.faults.rbcpBusErrors);
    ranges(QStringLiteral("lost-write"), QStringLiteral("lost write"), c.faults.rbcpLostWrites);
    num("corrupt-crc", quint64(std::numeric_limits<qint64>::max()), &c.faults.tcpCorruptCrcPacket);
    num("close-after", quint64(std::numeric_limits<qint64>::max()), &c.faults.tcpCloseAfterPackets);
    num("mute-after", quint64(std::numeric_limits<qint64>::max()), &c.faults.tcpMuteAfterPackets);
    c.faults.tcpByteAtATime = parser.isSet(QStringLiteral("byte-at-a-time"));
    c.faults.tcpNoAnswers = parser.isSet(QStringLiteral("no-answers"));
    num("byte-interval", 60000, &c.faults.tcpByteIntervalMs);

    c.reportsOnConnect = parser.isSet(QStringLiteral("reports"));
    if (c.reportsOnConnect)
        num("reports", quint64(std::numeric_limits<qint64>::max()), &c.reports.count);
    num("report-rate", 100000000, &c.reports.rate);
    num("report-id", 0xFF, &c.reports.id);
    num("report-flow", 0xFFF, &c.reports.flowId);
    num("report-level", 7, &c.reports.level);
    c.reports.polling = !parser.isSet(QStringLiteral("report-interrupt"));
    num("report-address", 0xFFFFFFFFu, &c.reports.address);
    num("report-items", 63, &c.reports.items);
    if (c.reports.items < 1 && bad.isEmpty())
        bad = QStringLiteral("invalid value for --report-items: %1").arg(value("report-items"));
    c.reports.withData = !parser.isSet(QStringLiteral("report-no-data"));
    for (const QString &t : parser.values(QStringLiteral("report-peak"))) {
        SimChannel channel;
        if (!parseSimChannel(t, &channel) && bad.isEmpty())
            bad = QStringLiteral("invalid value for --report-peak: %1 (give ITEM:PEAK:WIDTH[:FLAT[:MAX]])").arg(t);
        else if (channel.item >= c.reports.items && bad.isEmpty())
            bad = QStringLiteral("--report-peak %1: item %2 is beyond --report-items").arg(t).arg(channel.item);
        c.reports.channels.append(channel);
    }
    num("report-seed", 0xFFFFFFFFu, &c.reports.channelSeed);
    c.verbose = parser.isSet(QStringLiteral("verbose"));
    c.replaySpeed = value("replay-speed").toDouble(&ok);
    if ((!ok || !(c.replaySpeed >= 0 && c.replaySpeed <= 1e6)) && bad.isEmpty())
        bad = QStringLiteral("invalid value for --replay-speed: %1").arg(value("replay-speed"));
    if (parser.isSet(QStringLiteral("replay")) && bad.isEmpty()) {
        auto run = std::make_shared<SimRun>();
        if (run->load(value("replay"), &bad))
            c.replay = run;
    }

    if (!bad.isEmpty()) {
        *text = bad;
        return Outcome::Error;
    }
    *config = c;
    return Outcome::Run;
}

} // namespace SimOptions
