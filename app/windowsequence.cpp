#include "windowsequence.h"

#include "commandclient.h"
#include "modeword.h"
#include "tcpthread.h"
#include "udpthread.h"

WindowSequence::WindowSequence(QTcpThread *tcp, QUdpThread *udp, quint8 idLow, quint8 idHigh, int timeoutMs,
                               QObject *parent)
    : QObject(parent), tcp(tcp), udp(udp), idLow(idLow), idHigh(idHigh), nextId(idLow), timeoutMs(timeoutMs)
{
    if (udp)
        connect(udp, &QRbcp::closed, this, [this](bool ok) {
            if (auto then = std::exchange(jobEnd, nullptr))
                then(ok);
        });
    answerTimer.setSingleShot(true);
    connect(&answerTimer, &QTimer::timeout, this, [this] {
        // The oldest command got no answer in time: the run ends there.
        const auto list = std::exchange(waiting, {});
        for (const Waiting &w : list)
            w.done(Result{Result::NoAnswer, QStringLiteral("no answer from the module"), {}});
    });
}

WindowSequence::~WindowSequence() = default;

QString WindowSequence::refusal(const QList<Sequence::Step> &steps, bool connected, bool worker)
{
    for (int i = 0; i < steps.size(); ++i) {
        const Sequence::Step &s = steps.at(i);
        const bool vme = s.kind == Sequence::Step::Write || s.kind == Sequence::Step::Read || s.kind == Sequence::Step::Poll;
        const bool rbcp = s.kind == Sequence::Step::RegisterWrite || s.kind == Sequence::Step::Download ||
                          s.kind == Sequence::Step::Enable;
        QString why;
        if (s.kind == Sequence::Step::RegisterRead)
            why = QStringLiteral("the window reads no registers in a sequence; run it with tarnixctl run");
        else if (vme && !connected)
            why = QStringLiteral("a VME step needs the connection: Connect on the General tab first");
        else if (rbcp && !worker)
            why = QStringLiteral("a register step needs the module's settings read: Read on the General tab first");
        if (!why.isEmpty())
            return QStringLiteral("%1: %2: %3").arg(s.place.text(), s.label(i), why);
    }
    return QString();
}

void WindowSequence::run(QList<Sequence::Step> steps, SequenceRunner::Observer observer)
{
    runner = std::make_unique<SequenceRunner>(std::move(steps), *this, std::move(observer));
    runner->start();
}

void WindowSequence::stop()
{
    if (runner)
        runner->stop();
}

void WindowSequence::command(const Vme &access, Done done)
{
    if (!tcp || !tcp->isConnected()) {
        done(Result{Result::NoAnswer, QStringLiteral("the connection is closed"), {}});
        return;
    }
    auto *cmd = new TarnixCmd;
    cmd->address = access.address;
    cmd->length = quint32(access.length);
    cmd->mode = access.mode;
    cmd->data = access.data;
    cmd->id = nextId;
    nextId = nextId == idHigh ? idLow : quint8(nextId + 1);
    waiting.insert(cmd->id, Waiting{access.mode, std::move(done)});
    answerTimer.start(timeoutMs);
    tcp->setCmd(cmd);
}

void WindowSequence::answered(quint8 id, quint16 mode, QByteArray *buf)
{
    const auto it = waiting.find(id);
    kelvo_vme_master_header header;
    header.id = id;
    header.mode = mode;
    if (it == waiting.end() || !CommandClient::answers(header, id, it->mode))
        return;
    const Done done = it->done;
    waiting.erase(it);
    if (waiting.isEmpty())
        answerTimer.stop();
    Result r;
    if (VmeModeWord::hasError(mode)) {
        r.outcome = Result::Refused;
        r.message = QStringLiteral("%1 (MODE:0x%2)")
                        .arg(mode & VmeModeWord::StatusVmeError ? QStringLiteral("VME error") : QStringLiteral("parameter error"))
                        .arg(mode, 4, 16, QLatin1Char('0'));
    } else if (buf) {
        r.data = *buf;
    }
    done(r);
}

void WindowSequence::rbcpJob(std::function<void()> set, std::function<void(bool)> then)
{
    if (!udp) {
        then(false);
        return;
    }
    if (udp->isRunning()) {
        // The last run has sent its end and is leaving: look again in a moment.
        QTimer::singleShot(1, this, [this, set, then] { rbcpJob(set, then); });
        return;
    }
    set();
    jobEnd = std::move(then);
    udp->start();
}

void WindowSequence::registerWrite(quint32 address, const QByteArray &data, Done done)
{
    rbcpJob([this, address, data] { udp->setWrite(address, data); },
            [done, address](bool ok) {
                done(ok ? Result() : Result{Result::Refused, QStringLiteral("Write ERROR at 0x%1").arg(address, 8, 16, QLatin1Char('0')), {}});
            });
}

void WindowSequence::registerRead(quint32, int, Done done)
{
    done(Result{Result::Refused, QStringLiteral("the window reads no registers in a sequence"), {}});
}

void WindowSequence::download(const DownloadPlan &plan, Done done)
{
    // The stop, the module's time to stop, then every write with the mask last, as the
    // Program tab's download does.
    const QList<ModuleMemory::Write> writes = plan.writes();
    rbcpJob([this] { udp->setCmd(QUdpThread::CmdSetFlag); }, [this, writes, done, plan](bool ok) {
        if (!ok) {
            done(Result{Result::Refused, QStringLiteral("Write ERROR at 0x00000004"), {}});
            return;
        }
        QTimer::singleShot(DownloadPlan::StopWaitMs, Qt::PreciseTimer, this, [this, writes, done, plan] {
            rbcpJob(
                [this, writes] {
                    for (const ModuleMemory::Write &w : writes)
                        udp->setWrite(w.address, w.data);
                },
                [done, bytes = plan.bytes()](bool ok) {
                    // The worker writes without reading back.
                    done(ok ? Result{Result::Ok, QStringLiteral("written %1 bytes").arg(bytes), {}}
                            : Result{Result::Refused, QStringLiteral("Write ERROR; the module's programs stay stopped"), {}});
                });
        });
    });
}

void WindowSequence::wait(int ms, Done done)
{
    QTimer::singleShot(ms, Qt::PreciseTimer, this, [done] { done(Result()); });
}
