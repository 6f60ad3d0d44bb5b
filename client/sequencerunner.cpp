#include "sequencerunner.h"

#include "modeword.h"

#include <QDeadlineTimer>

using Sequence::Step;

namespace {
QString hex8(quint32 v) { return QStringLiteral("0x%1").arg(v, 8, 16, QLatin1Char('0')); }

quint32 item(const QByteArray &data, int index, int size)
{
    quint32 v = 0;
    for (int b = 0; b < size; ++b)
        v = (v << 8) | quint8(data.at(index * size + b));
    return v;
}

QString items(const QByteArray &data, int size)
{
    QStringList parts;
    for (int i = 0; i < data.size() / size; ++i)
        parts << QStringLiteral("0x%1").arg(item(data, i, size), 2 * size, 16, QLatin1Char('0'));
    return parts.join(QLatin1Char(' '));
}
} // namespace

SequenceRunner::SequenceRunner(QList<Step> steps, SequenceAccess &access, Observer observer)
    : steps(std::move(steps)), access(access), observer(std::move(observer))
{
}

QList<SequenceAccess::Vme> SequenceRunner::commands(const Step &step)
{
    VmeModeWord word;
    word.read = step.kind != Step::Write;
    word.dataMode = step.dataMode;
    word.addressMode = step.addressMode;
    word.accessMode = step.accessMode;
    const int size = step.itemSize();
    const int perCommand = 255 / size;
    QList<SequenceAccess::Vme> list;
    for (int done = 0; done < step.count;) {
        const int n = qMin(step.count - done, perCommand);
        SequenceAccess::Vme v;
        v.address = step.fixedAddress() ? step.address : step.address + quint32(done * size);
        v.mode = word.mode();
        v.length = n * size;
        if (step.kind == Step::Write) {
            for (int i = done; i < done + n; ++i)
                for (int b = size - 1; b >= 0; --b)
                    v.data.append(char(step.data.at(i) >> (8 * b)));
        }
        list << v;
        done += n;
    }
    return list;
}

QString SequenceRunner::mismatch(const Step &step, const QByteArray &data)
{
    if (step.expect.isEmpty())
        return QString();
    const int size = step.itemSize();
    for (int i = 0; i < data.size() / size; ++i) {
        const quint32 want = step.expect.value(i, step.expect.at(0));
        const quint32 got = item(data, i, size);
        if ((got & step.mask) != (want & step.mask)) {
            const quint32 where = step.fixedAddress() ? step.address : step.address + quint32(i * size);
            return QStringLiteral("at %1 read 0x%2, expected 0x%3")
                       .arg(hex8(where))
                       .arg(got, 2 * size, 16, QLatin1Char('0'))
                       .arg(want & step.mask, 2 * size, 16, QLatin1Char('0')) +
                   (step.mask == quint32((1ull << (8 * size)) - 1)
                        ? QString()
                        : QStringLiteral(" under mask 0x%1").arg(step.mask, 2 * size, 16, QLatin1Char('0')));
        }
    }
    return QString();
}

void SequenceRunner::start()
{
    next = 0;
    result = Running;
    advance();
}

void SequenceRunner::fail(Outcome outcome, int index, const QString &message)
{
    if (result != Running)
        return;
    result = outcome;
    const Step &s = steps.at(index);
    if (observer.finished)
        observer.finished(outcome, QStringLiteral("%1: %2: %3").arg(s.place.text(), s.label(index), message));
}

void SequenceRunner::finishStep(int index, const SequenceAccess::Result &r, const QString &text)
{
    if (result != Running)
        return;
    if (r.outcome != SequenceAccess::Result::Ok) {
        fail(r.outcome == SequenceAccess::Result::NoAnswer ? NoAnswer : Refused, index, r.message);
        return;
    }
    if (observer.stepDone)
        observer.stepDone(index, text);
}

// Issues steps while it can: consecutive writes up to the pipeline's depth, any other step
// alone once every write before it is answered. Completions that come while this runs (a
// blocking access) only mark that it should look again, so the stack stays flat.
void SequenceRunner::advance()
{
    if (inLoop) {
        again = true;
        return;
    }
    inLoop = true;
    do {
        again = false;
        while (result == Running && !busy) {
            if (next >= steps.size() || stopAsked || steps.at(next).kind != Step::Write) {
                if (writesInFlight > 0) {
                    access.drain();
                    if (writesInFlight > 0)
                        break; // the answers come later
                    continue;
                }
                if (result != Running)
                    break;
                if (stopAsked) {
                    result = Stopped;
                    if (observer.finished)
                        observer.finished(Stopped, QStringLiteral("stopped before step %1 of %2").arg(next + 1).arg(steps.size()));
                    break;
                }
                if (next >= steps.size()) {
                    result = Done;
                    if (observer.finished)
                        observer.finished(Done, QStringLiteral("%1 steps done").arg(steps.size()));
                    break;
                }
                busy = true;
                issue(next++);
                continue;
            }
            // A write: sent now, answered later; a VME error stops the run at its answer.
            const QList<SequenceAccess::Vme> list = commands(steps.at(next));
            if (writesInFlight + list.size() > qMax(1, access.pipelineDepth()) && writesInFlight > 0) {
                access.drain();
                if (writesInFlight > 0)
                    break;
                continue;
            }
            const int index = next++;
            if (observer.started)
                observer.started(index);
            auto left = std::make_shared<int>(int(list.size()));
            writesInFlight += int(list.size());
            for (const SequenceAccess::Vme &v : list) {
                access.vmeWrite(v, [this, index, left](const SequenceAccess::Result &r) {
                    --writesInFlight;
                    if (r.outcome != SequenceAccess::Result::Ok)
                        finishStep(index, r);
                    else if (--*left == 0)
                        finishStep(index, r);
                    advance();
                });
                if (result != Running)
                    break;
            }
        }
    } while (again && result == Running);
    inLoop = false;
}

void SequenceRunner::readAll(int index, QList<SequenceAccess::Vme> list, QByteArray sofar,
                             std::function<void(const QByteArray &)> then)
{
    if (list.isEmpty()) {
        then(sofar);
        return;
    }
    const SequenceAccess::Vme v = list.takeFirst();
    access.vmeRead(v, [this, index, v, list, sofar, then](const SequenceAccess::Result &r) {
        if (r.outcome != SequenceAccess::Result::Ok) {
            finishStep(index, r);
            busy = false;
            advance();
            return;
        }
        if (r.data.size() != v.length) {
            // An answer without the data asked for is no answer to check against.
            finishStep(index, SequenceAccess::Result{SequenceAccess::Result::Refused,
                                                     QStringLiteral("the answer at %1 holds %2 bytes of %3")
                                                         .arg(hex8(v.address)).arg(r.data.size()).arg(v.length),
                                                     {}});
            busy = false;
            advance();
            return;
        }
        readAll(index, list, sofar + r.data, then);
    });
}

void SequenceRunner::issue(int index)
{
    const Step &s = steps.at(index);
    if (observer.started)
        observer.started(index);
    auto end = [this, index](const SequenceAccess::Result &r, const QString &text = QStringLiteral("ok")) {
        finishStep(index, r, text);
        busy = false;
        advance();
    };
    switch (s.kind) {
    case Step::Write:
        break; // issued by advance()
    case Step::Read:
        readAll(index, commands(s), QByteArray(), [this, index, end](const QByteArray &data) {
            const Step &s = steps.at(index);
            const QString diff = mismatch(s, data);
            if (!diff.isEmpty()) {
                fail(CheckFailed, index, diff);
                busy = false;
                return;
            }
            end(SequenceAccess::Result(), QStringLiteral(": ") + items(data, s.itemSize()) + (s.expect.isEmpty() ? QString() : QStringLiteral(" ok")));
        });
        break;
    case Step::Poll:
        pollOnce(index, QDeadlineTimer::current().deadline() + s.waitMs);
        break;
    case Step::Wait:
        access.wait(s.waitMs, [end](const SequenceAccess::Result &r) { end(r); });
        break;
    case Step::RegisterWrite: {
        QByteArray bytes;
        for (quint32 v : s.data)
            bytes.append(char(v));
        access.registerWrite(s.address, bytes, [end](const SequenceAccess::Result &r) { end(r); });
        break;
    }
    case Step::RegisterRead:
        access.registerRead(s.address, s.count, [this, index, end](const SequenceAccess::Result &r) {
            const Step &s = steps.at(index);
            if (r.outcome == SequenceAccess::Result::Ok) {
                const QString diff = mismatch(s, r.data);
                if (!diff.isEmpty()) {
                    fail(CheckFailed, index, diff);
                    busy = false;
                    return;
                }
            }
            end(r, QStringLiteral(": ") + items(r.data, 1) + (s.expect.isEmpty() ? QString() : QStringLiteral(" ok")));
        });
        break;
    case Step::Download:
        access.download(s.plan, [end](const SequenceAccess::Result &r) {
            end(r, r.message.isEmpty() ? QStringLiteral("ok") : r.message);
        });
        break;
    case Step::Enable:
        access.enable(s.enable, [end](const SequenceAccess::Result &r) { end(r); });
        break;
    }
}

// One read of a poll; again after its interval until the bits match or the time is up. An
// access that completes at once repeats here in a loop rather than deeper on the stack.
void SequenceRunner::pollOnce(int index, qint64 deadlineMs)
{
    if (pollInLoop) {
        pollAgain = true;
        return;
    }
    pollInLoop = true;
    do {
        pollAgain = false;
        readAll(index, commands(steps.at(index)), QByteArray(), [this, index, deadlineMs](const QByteArray &data) {
            const Step &s = steps.at(index);
            const QString diff = mismatch(s, data);
            if (diff.isEmpty()) {
                finishStep(index, SequenceAccess::Result(), QStringLiteral(": ") + items(data, s.itemSize()) + QStringLiteral(" ok"));
                busy = false;
                advance();
                return;
            }
            const qint64 left = deadlineMs - QDeadlineTimer::current().deadline();
            if (left <= 0 || stopAsked) {
                fail(stopAsked ? Stopped : CheckFailed, index,
                     stopAsked ? QStringLiteral("stopped while polling: ") + diff
                               : QStringLiteral("no match within %1 ms: %2").arg(s.waitMs).arg(diff));
                busy = false;
                return;
            }
            access.wait(int(qMin<qint64>(left, s.intervalMs)),
                        [this, index, deadlineMs](const SequenceAccess::Result &) { pollOnce(index, deadlineMs); });
        });
    } while (pollAgain && result == Running);
    pollInLoop = false;
}
