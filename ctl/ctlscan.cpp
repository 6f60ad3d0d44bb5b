// tarnixctl scan: which addresses answer on the VME bus. One read of one item per step; a read
// that comes back without the VME error bit answers. Several reads are in flight at once, so a
// long scan is bounded by the module rather than by round trips.
#include "ctlscan.h"

#include "commandclient.h"
#include "ctlcommands.h"
#include "modeword.h"
#include "tarnixcmd.h"

#include <QCommandLineParser>
#include <QDeadlineTimer>
#include <QElapsedTimer>

#include <cstdio>
#include <deque>
#include <functional>
#include <vector>

#include <unistd.h>

namespace Ctl {

namespace {

QString hex(quint64 value, int digits)
{
    return QStringLiteral("0x%1").arg(value, digits, 16, QLatin1Char('0'));
}

// Status of one read of the scan.
enum class Outcome { Waiting, Answered, NoSlave };

struct Read
{
    quint64 base = 0;
    QDeadlineTimer deadline;
    Outcome outcome = Outcome::Waiting;
    quint32 value = 0;
};

// Prints answering addresses in scan order, one line each or folded into ranges. beforeLine
// runs before each line (it takes the progress display off the terminal).
class Lines
{
public:
    explicit Lines(const ScanOptions &s, std::function<void()> beforeLine)
        : folding(s.ranges), size(VmeModeWord::itemSize(s.dataMode)), step(s.step),
          top(addressSpaceTop(s.addressMode)), beforeLine(std::move(beforeLine))
    {
        modes = (VmeModeWord::addressModeLabels().at(s.addressMode) + QLatin1Char(' ') +
                 VmeModeWord::dataModeLabels().at(s.dataMode)).toLatin1();
    }

    void answered(quint64 base, quint32 value)
    {
        ++count;
        if (run++ == 0)
            first = {base, value};
        last = base;
        if (!folding)
            endRange();
    }
    // A step that did not answer (or whose answer is not known) ends a range.
    void gap() { endRange(); }

    quint64 count = 0;

private:
    void endRange()
    {
        if (run == 0)
            return;
        beforeLine();
        const auto base = static_cast<unsigned long long>(first.first);
        if (run == 1)
            std::printf("0x%08llx %s 0x%0*x\n", base, modes.constData(), 2 * size, first.second);
        else // from the first base to the end of the last step, within the address space
            std::printf("0x%08llx-0x%08llx %s %llu addresses\n", base,
                        static_cast<unsigned long long>(last + qMin(step - 1, top - last)), modes.constData(),
                        static_cast<unsigned long long>(run));
        // Out at once, so a scan cut short by Ctrl-C still leaves what it found in a file.
        std::fflush(stdout);
        run = 0;
    }

    bool folding;
    int size;
    quint64 step;
    quint64 top;
    std::function<void()> beforeLine;
    QByteArray modes;
    quint64 run = 0;
    std::pair<quint64, quint32> first;
    quint64 last = 0;
};

class Scan
{
public:
    explicit Scan(const Options &o)
        : o(o), s(o.scan), size(VmeModeWord::itemSize(s.dataMode)), ids(o.idFirst, o.idLast), client(o.timeoutMs),
          lines(s, [this] { hideProgress(); })
    {
        VmeModeWord word;
        word.read = true;
        word.dataMode = s.dataMode;
        word.addressMode = s.addressMode;
        word.accessMode = o.accessMode;
        mode = word.mode();
        steps = (s.to - s.from) / s.step + 1;
        stepOfId.assign(256, 0);
        progress = isatty(STDERR_FILENO) == 1;
    }

    int run()
    {
        if (!client.connectTo(o.target, o.tcpPort))
            return fail(NoAnswer, QStringLiteral("cannot connect to %1:%2: %3")
                                      .arg(o.target).arg(o.tcpPort).arg(client.errorString()));
        clock.start();
        for (;;) {
            retire();
            // After a failed send the answers already on their way are still taken.
            if (!sendFailed && sendMore() != CommandClient::Result::Ok)
                sendFailed = true;
            if (reads.empty() && sendFailed)
                return stop(NoAnswer, QStringLiteral("sending to the module failed: ") + client.errorString());
            if (reads.empty())
                break;
            showProgress();
            // On a terminal the wait is cut every 200 ms to redraw the progress line.
            const QDeadlineTimer due = reads.front().deadline;
            CommandClient::Packet answer;
            CommandClient::Result r = client.answer(answer, progress ? qMin(due, QDeadlineTimer(200)) : due);
            bool took = false;
            // With the first answer, every other one already received, so the window refills in one write.
            for (; r == CommandClient::Result::Ok; r = client.answer(answer, QDeadlineTimer(0))) {
                took = true;
                if (!take(answer))
                    return stop(Refused, QStringLiteral("parameter error (MODE:%1) at %2")
                                             .arg(hex(answer.header.mode, 4), hex(refusedAt + s.offset, 8)));
            }
            if (took && r != CommandClient::Result::CrcError)
                continue;
            switch (r) {
            case CommandClient::Result::Ok:
            case CommandClient::Result::TimedOut:
                if (!due.hasExpired())
                    continue;
                return stop(NoAnswer, QStringLiteral("no answer from the module for the read at %1")
                                          .arg(hex(reads.front().base + s.offset, 8)));
            case CommandClient::Result::Closed:
                return stop(NoAnswer, QStringLiteral("the module closed the connection: ") + client.errorString());
            case CommandClient::Result::CrcError:
                return stop(NoAnswer, QStringLiteral("CRC error in a header from the module"));
            }
        }
        if (refusals > 0)
            return stop(Refused, QStringLiteral("%1 of the addresses refused the read with a parameter error")
                                     .arg(refusals));
        return stop(Success, QString());
    }

private:
    // Fills the window with new reads, all in one write.
    CommandClient::Result sendMore()
    {
        QList<TarnixCmd> batch;
        const QDeadlineTimer deadline(o.timeoutMs);
        for (; next + batch.size() < steps && reads.size() + batch.size() < size_t(s.inFlight);) {
            TarnixCmd cmd;
            cmd.address = quint32(s.from + (next + batch.size()) * s.step + s.offset);
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
            reads.push_back({s.from + next * s.step, deadline});
            ++next;
        }
        return CommandClient::Result::Ok;
    }

    // Notes the outcome of the read an answer belongs to; false on a parameter error.
    bool take(const CommandClient::Packet &answer)
    {
        const quint16 status = answer.header.mode;
        Read &r = reads[size_t(quint64(stepOfId[answer.header.id]) - retired)];
        if (status & VmeModeWord::StatusParamError && s.keepGoing) {
            ++refusals;
            r.outcome = Outcome::NoSlave;
            hideProgress();
            fail(Refused, QStringLiteral("parameter error (MODE:%1) at %2")
                              .arg(hex(status, 4), hex(r.base + s.offset, 8)));
            return true;
        }
        if (status & VmeModeWord::StatusParamError) {
            refusal = true;
            refusedAt = r.base;
            return false;
        }
        if (status & VmeModeWord::StatusVmeError) {
            r.outcome = Outcome::NoSlave;
            return true;
        }
        r.outcome = Outcome::Answered;
        for (int i = 0; i < qMin(int(answer.data.size()), 4); ++i)
            r.value = (r.value << 8) | quint8(answer.data.at(i));
        return true;
    }

    // Prints the reads at the head of the window whose outcome is known, in scan order.
    void retire()
    {
        while (!reads.empty() && reads.front().outcome != Outcome::Waiting) {
            report(reads.front());
            reads.pop_front();
            ++retired;
        }
    }

    void report(const Read &r)
    {
        if (r.outcome == Outcome::Answered)
            lines.answered(r.base, r.value);
        else
            lines.gap();
    }

    // On a terminal: one line on stderr, redrawn at most five times a second, taken off before
    // an address is printed and at the end.
    void showProgress()
    {
        if (!progress || (shown.isValid() && !shown.hasExpired(200)))
            return;
        shown.start();
        showing = true;
        std::fprintf(stderr, "\rscan: %llu of %llu tried, %llu answering, at %s",
                     static_cast<unsigned long long>(retired), static_cast<unsigned long long>(steps),
                     static_cast<unsigned long long>(lines.count), qPrintable(hex(s.from + retired * s.step, 8)));
    }

    void hideProgress()
    {
        if (!showing)
            return;
        std::fputs("\r\x1b[K", stderr);
        showing = false;
        shown.invalidate();
    }

    // Ends the scan: what is known of the reads still in the window is printed (an answer
    // that came in after an unanswered read still counts; after a refusal, only the reads
    // before it), then the summary and the message.
    int stop(Status status, const QString &message)
    {
        quint64 known = retired;
        for (const Read &r : reads) {
            if (refusal && r.base >= refusedAt)
                break;
            report(r);
            known += r.outcome == Outcome::Waiting ? 0 : 1;
        }
        lines.gap();
        std::fflush(stdout);
        const double secs = clock.nsecsElapsed() / 1e9;
        hideProgress();
        std::fprintf(stderr, "tarnixctl: %llu addresses tried, %llu answering in %.3f s (%.0f addresses/s)\n",
                     static_cast<unsigned long long>(known), static_cast<unsigned long long>(lines.count), secs,
                     secs > 0 ? known / secs : 0.0);
        return message.isEmpty() ? int(status) : fail(status, message);
    }

    const Options &o;
    const ScanOptions &s;
    const int size;
    quint16 mode = 0;
    quint64 steps = 0;
    quint64 next = 0;    // the next step to send
    quint64 retired = 0; // steps before the window, printed
    std::deque<Read> reads;
    std::vector<qint64> stepOfId; // the step each ID was last sent for
    bool refusal = false;         // a read came back with a parameter error
    quint64 refusals = 0;         // parameter errors passed over with --keep-going
    bool sendFailed = false;
    quint64 refusedAt = 0;
    CommandIdRange ids;
    CommandClient client;
    Lines lines;
    QElapsedTimer clock;
    QElapsedTimer shown;
    bool progress = false; // stderr is a terminal
    bool showing = false;  // the progress line is on it
};

} // namespace

QList<QCommandLineOption> scanOptions()
{
    const auto o = [](const char *name, const char *text, const char *value = nullptr) {
        return value ? QCommandLineOption(QString::fromLatin1(name), QString::fromLatin1(text), QString::fromLatin1(value))
                     : QCommandLineOption(QString::fromLatin1(name), QString::fromLatin1(text));
    };
    return {
        o("from", "scan: first base address (default 0).", "ADDR"),
        o("to", "scan: last base address (default: the end of the address mode's space).", "ADDR"),
        o("step", "scan: distance between two bases (default 0x100 in A16, 0x10000 in A24 and A32).", "N"),
        o("offset", "scan: read at base + N, for modules whose identification register is elsewhere "
                    "(default 0).", "N"),
        o("in-flight", "scan: reads sent ahead of their answers, 1 to 256, at most one per ID of "
                       "--id-range (default 64).", "N"),
        o("ranges", "scan: fold answering neighbours into one line per range: its first base, the "
                    "last base plus --step minus 1, and the number of addresses."),
        o("keep-going", "scan: report a parameter error on standard error and go on (exit status 1 at "
                        "the end)."),
    };
}

bool readScanOptions(const QCommandLineParser &p, Options &o, QString &text)
{
    const auto isSet = [&](const char *name) { return p.isSet(QString::fromLatin1(name)); };
    if (o.command != QStringLiteral("scan"))
        return true;
    if (!o.args.isEmpty()) {
        text = QStringLiteral("scan takes no arguments: give the range with --from and --to");
        return false;
    }
    ScanOptions &s = o.scan;
    s.addressMode = isSet("address-mode") ? o.addressMode : 1;
    s.dataMode = isSet("data-mode") ? o.dataMode : 1;
    const quint64 last = addressSpaceTop(s.addressMode);
    const QString space = VmeModeWord::addressModeLabels().at(s.addressMode);
    s.from = 0;
    s.to = last;
    s.step = s.addressMode == 0 ? 0x100 : 0x10000;
    quint64 inFlight = quint64(s.inFlight);
    const auto number = [&](const char *name, quint64 min, quint64 max, quint64 &out) {
        if (!isSet(name))
            return true;
        const QString value = p.value(QString::fromLatin1(name));
        if (parseNumber(value, max, out) && out >= min)
            return true;
        text = QStringLiteral("bad value \"%1\" for --%2 (%3 to %4 in %5)")
                   .arg(value, QString::fromLatin1(name), hex(min, 1), hex(max, 1), space);
        return false;
    };
    if (!number("from", 0, last, s.from) || !number("to", 0, last, s.to) || !number("step", 1, last + 1, s.step) ||
        !number("offset", 0, last, s.offset) || !number("in-flight", 1, 256, inFlight))
        return false;
    s.ranges = isSet("ranges");
    s.keepGoing = isSet("keep-going");
    s.inFlight = int(qMin<quint64>(inFlight, quint64(o.idLast - o.idFirst + 1)));
    if (s.from > s.to) {
        text = QStringLiteral("scan: --from %1 lies after --to %2").arg(hex(s.from, 8), hex(s.to, 8));
        return false;
    }
    const int size = VmeModeWord::itemSize(s.dataMode);
    if ((s.from + s.offset) % size || s.step % size) {
        text = QStringLiteral("scan: every read must be %1byte aligned: --from + --offset and --step").arg(size);
        return false;
    }
    const quint64 lastBase = s.from + (s.to - s.from) / s.step * s.step;
    if (lastBase + s.offset + size - 1 > last) {
        text = QStringLiteral("scan: the read at %1 + %2 leaves the %3 space")
                   .arg(hex(lastBase, 8), hex(s.offset, 1), space);
        return false;
    }
    return true;
}

int scanCommand(const Options &o)
{
    Scan scan(o);
    return scan.run();
}

} // namespace Ctl
