// run: a set-up sequence on one TCP connection and one RBCP client.
#include "ctlcommands.h"

#include "commandclient.h"
#include "modeword.h"
#include "blockingaccess.h"
#include "sequencerunner.h"
#include "tarnixcmd.h"
#include "udpthread.h"

#include <QHostAddress>
#include <QThread>

#include <cstdio>
#include <deque>
#include <memory>

namespace Ctl {

namespace {

void line(const QString &text)
{
    say(text + QLatin1Char('\n'));
    std::fflush(stdout);
}

} // namespace

int runCommand(const Options &o)
{
    if (o.args.size() != 1)
        return fail(BadUsage, QStringLiteral("run: give one sequence FILE"));
    QList<Sequence::Step> steps;
    if (const auto fault = Sequence::load(o.args.at(0), steps))
        return fail(BadUsage, fault->text() + QStringLiteral("; nothing was sent"));
    if (o.dryRun) {
        for (int i = 0; i < steps.size(); ++i)
            line(steps.at(i).line(i));
        line(QStringLiteral("%1 steps checked, nothing sent").arg(steps.size()));
        return Success;
    }
    BlockingSequenceAccess access(o.target, o.tcpPort, o.udpPort, o.timeoutMs, CommandIdRange(o.idFirst, o.idLast));
    int status = Success;
    QString message;
    SequenceRunner::Observer observer;
    observer.stepDone = [&steps](int index, const QString &result) {
        line(steps.at(index).line(index) + (result.startsWith(QLatin1Char(':')) ? result : QLatin1Char(' ') + result));
    };
    observer.finished = [&](SequenceRunner::Outcome outcome, const QString &text) {
        message = text;
        status = outcome == SequenceRunner::Done       ? Success
                 : outcome == SequenceRunner::NoAnswer ? NoAnswer
                                                       : Refused;
    };
    SequenceRunner runner(steps, access, observer);
    runner.start();
    if (status != Success)
        return fail(Status(status), message);
    return Success;
}

} // namespace Ctl

namespace Ctl {

QString sequenceHelp()
{
    return QStringLiteral(
        "\n\n"
        "Sequences (YAML, for run): the steps that bring a module up, in order:\n"
        "  defaults: {address mode: A32, data mode: D32, access mode: User Data}\n"
        "  steps:\n"
        "    - write: {address: 0x00100000, data: [0x1, 0x2]}\n"
        "    - read: {address: 0x00100000, count: 2, expect: [0x1, 0x2], mask: 0xff}\n"
        "    - wait: 50 ms                  # s, ms or us\n"
        "    - poll: {address: 0x00100010, mask: 0x1, expect: 0x1, timeout: 1 s,\n"
        "             interval: 10 ms}\n"
        "    - register write: {address: 0x100, data: [0x12, 0x34]}\n"
        "    - register read: {address: 0x100, count: 2, expect: [0x12, 0x34]}\n"
        "    - download: adc.yaml           # program file, text or binary; verified\n"
        "    - enable: [Polling, Interrupt3] # or: enable: stop\n"
        "    - include: tdc.yaml            # relative to this file; no loops\n"
        "    - {name: reset, write: {address: 0x00100020, data: 0x1}}\n"
        "VME steps take address mode (A16, A24, A32), data mode (D8, D16, D32) and\n"
        "access mode (as --access) of their own, else the file's defaults. A read's\n"
        "or poll's expect is one value for every item or one per item; a difference\n"
        "under the mask stops the run. Register items are bytes; the network core's\n"
        "settings block (0xfffffc00 and up) needs \"settings: true\" in the step.\n"
        "Writes go out together until a step needs their answers. Each step is\n"
        "printed as done (\"12 write 0x00100000 A32 D32 0x00000001 ok\"); a fault\n"
        "is named as FILE:LINE:COLUMN. For example:\n"
        "  export TARNIX_ADDRESS=192.168.10.16\n"
        "  tarnixctl run crate.yaml --dry-run && tarnixctl run crate.yaml");
}

} // namespace Ctl
