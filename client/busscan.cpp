#include "busscan.h"

#include "modeword.h"
#include "tarnixcmd.h"
#include "vmeaccess.h"

namespace {

QString hex(quint64 value, int digits)
{
    return QStringLiteral("0x%1").arg(value, digits, 16, QLatin1Char('0'));
}

} // namespace

quint64 BusScan::defaultStep(int addressMode)
{
    return addressMode == 0 ? 0x100 : 0x10000;
}

QString BusScan::check(const ScanRange &s)
{
    if (s.from > s.to)
        return QStringLiteral("scan: --from %1 lies after --to %2").arg(hex(s.from, 8), hex(s.to, 8));
    const int size = VmeModeWord::itemSize(s.dataMode);
    if ((s.from + s.offset) % size || s.step % size)
        return QStringLiteral("scan: every read must be %1byte aligned: --from + --offset and --step").arg(size);
    const quint64 last = VmeAccess::addressSpaceTop(s.addressMode);
    const quint64 lastBase = s.from + (s.to - s.from) / s.step * s.step;
    if (lastBase + s.offset + size - 1 > last)
        return QStringLiteral("scan: the read at %1 + %2 leaves the %3 space")
            .arg(hex(lastBase, 8), hex(s.offset, 1), VmeModeWord::addressModeLabels().at(s.addressMode));
    return QString();
}

BusScan::BusScan(CommandClient &client, const CommandIdRange &ids, const ScanRange &range)
    : client(client), ids(ids), range(range), size(VmeModeWord::itemSize(range.dataMode))
{
    VmeModeWord word;
    word.read = true;
    word.dataMode = range.dataMode;
    word.addressMode = range.addressMode;
    word.accessMode = range.accessMode;
    mode = word.mode();
    stepCount = (range.to - range.from) / range.step + 1;
    stepOfId.assign(256, 0);
}

BusScan::Outcome BusScan::run()
{
    using Status = Outcome::Status;
    for (;;) {
        retire();
        // After a failed send the answers already on their way are still taken.
        if (!sendFailed && sendMore() != CommandClient::Result::Ok)
            sendFailed = true;
        if (reads.empty() && sendFailed)
            return stop(Status::NoAnswer, QStringLiteral("sending to the module failed: ") + client.errorString());
        if (reads.empty())
            break;
        if (idle)
            idle();
        const QDeadlineTimer due = reads.front().deadline;
        CommandClient::Packet answer;
        CommandClient::Result r =
            client.answer(answer, waitSliceMs > 0 ? qMin(due, QDeadlineTimer(waitSliceMs)) : due);
        bool took = false;
        // With the first answer, every other one already received, so the window refills in one write.
        for (; r == CommandClient::Result::Ok; r = client.answer(answer, QDeadlineTimer(0))) {
            took = true;
            if (!take(answer))
                return stop(Status::Refused, QStringLiteral("parameter error (MODE:%1) at %2")
                                                 .arg(hex(answer.header.mode, 4), hex(refusedAt + range.offset, 8)));
        }
        if (took && r != CommandClient::Result::CrcError)
            continue;
        switch (r) {
        case CommandClient::Result::Ok:
        case CommandClient::Result::TimedOut:
            if (!due.hasExpired())
                continue;
            return stop(Status::NoAnswer, QStringLiteral("no answer from the module for the read at %1")
                                              .arg(hex(reads.front().base + range.offset, 8)));
        case CommandClient::Result::Closed:
            return stop(Status::NoAnswer, QStringLiteral("the module closed the connection: ") + client.errorString());
        case CommandClient::Result::CrcError:
            return stop(Status::NoAnswer, QStringLiteral("CRC error in a header from the module"));
        }
    }
    if (refusals > 0)
        return stop(Status::Refused,
                     QStringLiteral("%1 of the addresses refused the read with a parameter error").arg(refusals));
    return stop(Status::Done, QString());
}

// Fills the window with new reads, all in one write.
CommandClient::Result BusScan::sendMore()
{
    QList<TarnixCmd> batch;
    const QDeadlineTimer deadline(client.timeout());
    for (; next + batch.size() < stepCount && reads.size() + batch.size() < size_t(range.inFlight);) {
        TarnixCmd cmd;
        cmd.address = quint32(range.from + (next + batch.size()) * range.step + range.offset);
        cmd.length = quint32(size);
        cmd.mode = mode;
        cmd.id = ids.next();
        batch.append(cmd);
    }
    if (batch.isEmpty())
        return CommandClient::Result::Ok;
    const CommandClient::Result sent = client.send(batch, deadline);
    if (sent != CommandClient::Result::Ok)
        return sent;
    for (const TarnixCmd &cmd : batch) {
        stepOfId[cmd.id] = qint64(next);
        reads.push_back({range.from + next * range.step, deadline});
        ++next;
    }
    return CommandClient::Result::Ok;
}

// Notes the outcome of the read an answer belongs to; false on a parameter error.
bool BusScan::take(const CommandClient::Packet &answer)
{
    const quint16 status = answer.header.mode;
    Read &r = reads[size_t(quint64(stepOfId[answer.header.id]) - retired)];
    if (status & VmeModeWord::StatusParamError && range.keepGoing) {
        ++refusals;
        r.state = State::NoSlave;
        if (refusedRead)
            refusedRead(QStringLiteral("parameter error (MODE:%1) at %2").arg(hex(status, 4), hex(r.base + range.offset, 8)));
        return true;
    }
    if (status & VmeModeWord::StatusParamError) {
        refusal = true;
        refusedAt = r.base;
        return false;
    }
    if (status & VmeModeWord::StatusVmeError) {
        r.state = State::NoSlave;
        return true;
    }
    r.state = State::Answered;
    for (int i = 0; i < qMin(int(answer.data.size()), 4); ++i)
        r.value = (r.value << 8) | quint8(answer.data.at(i));
    return true;
}

// Reports the reads at the head of the window whose outcome is known, in scan order.
void BusScan::retire()
{
    while (!reads.empty() && reads.front().state != State::Waiting) {
        report(reads.front());
        reads.pop_front();
        ++retired;
    }
}

void BusScan::report(const Read &r)
{
    const bool answered = r.state == State::Answered;
    answering += answered ? 1 : 0;
    if (step)
        step(r.base, answered, r.value);
}

// Ends the scan: what is known of the reads still in the window is reported (an answer that
// came in after an unanswered read still counts; after a refusal, only the reads before it).
BusScan::Outcome BusScan::stop(Outcome::Status status, const QString &message)
{
    quint64 known = retired;
    for (const Read &r : reads) {
        if (refusal && r.base >= refusedAt)
            break;
        report(r);
        known += r.state == State::Waiting ? 0 : 1;
    }
    reads.clear();
    Outcome outcome;
    outcome.status = status;
    outcome.message = message;
    outcome.tried = known;
    outcome.answering = answering;
    return outcome;
}
