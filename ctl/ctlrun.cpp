// run: a set-up sequence on one TCP connection and one RBCP client.
#include "ctlcommands.h"

#include "commandclient.h"
#include "modeword.h"
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

using Result = SequenceAccess::Result;

QString statusText(quint16 mode)
{
    QStringList parts;
    if (mode & VmeModeWord::StatusVmeError)
        parts << QStringLiteral("VME error");
    if (mode & VmeModeWord::StatusParamError)
        parts << QStringLiteral("parameter error");
    return parts.join(QStringLiteral(", ")) + QStringLiteral(" (MODE:0x%1)").arg(mode, 4, 16, QLatin1Char('0'));
}

// The module over blocking clients on this thread. Writes wait in a batch that goes out in one
// system call when the runner needs their answers, or when the batch holds as many commands as
// the ID range has IDs.
class CtlAccess : public SequenceAccess
{
public:
    explicit CtlAccess(const Options &o) : o(o), client(o.timeoutMs), ids(o.idFirst, o.idLast) {}

    void vmeWrite(const Vme &v, Done done) override
    {
        if (!connect(done))
            return;
        batch << command(v);
        pending.push_back(std::move(done));
    }

    void vmeRead(const Vme &v, Done done) override
    {
        if (!connect(done))
            return;
        drain();
        batch << command(v);
        pending.push_back(std::move(done));
        drain();
    }

    void drain() override
    {
        if (batch.isEmpty() && pending.empty())
            return;
        const QDeadlineTimer deadline(o.timeoutMs);
        CommandClient::Result r = batch.isEmpty() ? CommandClient::Result::Ok : client.send(batch, deadline);
        const QList<TarnixCmd> sent = batch;
        batch.clear();
        for (int i = 0; i < sent.size(); ++i) {
            CommandClient::Packet answer;
            // Each answer has its own time-out from the moment the one before it came.
            if (r == CommandClient::Result::Ok)
                r = client.answer(answer, QDeadlineTimer(o.timeoutMs));
            Done done = std::move(pending.front());
            pending.pop_front();
            Result result;
            if (r != CommandClient::Result::Ok) {
                result.outcome = Result::NoAnswer;
                result.message = r == CommandClient::Result::TimedOut ? QStringLiteral("no answer from the module")
                                 : r == CommandClient::Result::CrcError ? QStringLiteral("CRC error in a header from the module")
                                 : QStringLiteral("the module closed the connection: ") + client.errorString();
            } else if (VmeModeWord::hasError(answer.header.mode)) {
                result.outcome = Result::Refused;
                result.message = QStringLiteral("%1 at 0x%2").arg(statusText(answer.header.mode)).arg(answer.header.address, 8, 16, QLatin1Char('0'));
            } else {
                result.data = answer.data;
            }
            done(result);
        }
    }

    int pipelineDepth() const override { return ids.size(); }

    void registerWrite(quint32 address, const QByteArray &data, Done done) override
    {
        rbcp(done, [&](QUdpThread &u) {
            if (u.Write(address, data.constData(), uint(data.size())) != uint(data.size()))
                return Result{Result::Refused, QStringLiteral("Write ERROR at 0x%1").arg(address, 8, 16, QLatin1Char('0')), {}};
            return Result();
        });
    }

    void registerRead(quint32 address, int length, Done done) override
    {
        rbcp(done, [&](QUdpThread &u) {
            Result r;
            r.data = QByteArray(length, '\0');
            if (u.Read(address, r.data.data(), uint(length)) != uint(length))
                return Result{Result::Refused, QStringLiteral("Read ERROR at 0x%1").arg(address, 8, 16, QLatin1Char('0')), {}};
            return r;
        });
    }

    void download(const DownloadPlan &plan, Done done) override
    {
        rbcp(done, [&](QUdpThread &u) {
            const QString failure = plan.run(u, true);
            return failure.isEmpty() ? Result{Result::Ok, QStringLiteral("verified %1 bytes").arg(plan.bytes()), {}}
                                     : Result{Result::Refused, failure, {}};
        });
    }

    void wait(int ms, Done done) override
    {
        QThread::msleep(ulong(ms));
        done(Result());
    }

private:
    TarnixCmd command(const Vme &v)
    {
        TarnixCmd cmd;
        cmd.address = v.address;
        cmd.length = quint32(v.length);
        cmd.mode = v.mode;
        cmd.id = ids.next();
        cmd.data = v.data;
        return cmd;
    }

    bool connect(const Done &done)
    {
        if (connected)
            return true;
        if (client.connectTo(o.target, o.tcpPort)) {
            connected = true;
            return true;
        }
        done(Result{Result::NoAnswer, QStringLiteral("cannot connect to %1:%2: %3").arg(o.target).arg(o.tcpPort).arg(client.errorString()), {}});
        return false;
    }

    template <typename F>
    void rbcp(const Done &done, F job)
    {
        if (!udp) {
            udp = std::make_unique<QUdpThread>();
            udp->SetIpAddress(QHostAddress(o.target), o.udpPort);
            udp->SetWaitCount(qMax(1, o.timeoutMs / QRbcp::WaitSliceMs));
            if (!udp->startUDP()) {
                udp.reset();
                done(Result{Result::NoAnswer, QStringLiteral("cannot open the RBCP socket for %1").arg(o.target), {}});
                return;
            }
        }
        Result r;
        try {
            r = job(*udp);
        } catch (QRbcp::ErrSts code) {
            udp->strError(code);
            QStringList lines = udp->errorString().split(QLatin1Char('\n'), Qt::SkipEmptyParts);
            for (QString &line : lines)
                line = line.trimmed();
            r = Result{code == QRbcp::BusError ? Result::Refused : Result::NoAnswer, lines.join(QStringLiteral("; ")), {}};
            // The next access starts with a clean error text.
            udp.reset();
        } catch (const QString &text) {
            r = Result{Result::Refused, text, {}};
        }
        done(r);
    }

    const Options &o;
    CommandClient client;
    CommandIdRange ids;
    bool connected = false;
    QList<TarnixCmd> batch;
    std::deque<Done> pending;
    std::unique_ptr<QUdpThread> udp;
};

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
    CtlAccess access(o);
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
        "    - read: {address: 0x00100000, count: 2, expect: [0x1, 0x2], mask: 0xffff}\n"
        "    - wait: 50 ms                  # s, ms or us\n"
        "    - poll: {address: 0x00100010, mask: 0x1, expect: 0x1, timeout: 1 s,\n"
        "             interval: 10 ms}\n"
        "    - register write: {address: 0x100, data: [0x12, 0x34]}\n"
        "    - register read: {address: 0x100, count: 2, expect: [0x12, 0x34]}\n"
        "    - download: adc.yaml           # a program file, text or binary; verified\n"
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
