// tarnixctl scan: which addresses answer on the VME bus. One read of one item per step; a read
// that comes back without the VME error bit answers. Several reads are in flight at once, so a
// long scan is bounded by the module rather than by round trips.
#include "ctlscan.h"

#include "busscan.h"
#include "commandclient.h"
#include "ctlcommands.h"
#include "modeword.h"
#include "vmeaccess.h"

#include <QCommandLineParser>
#include <QElapsedTimer>

#include <cstdio>
#include <functional>

#include <unistd.h>

namespace Ctl {

namespace {

QString hex(quint64 value, int digits)
{
    return QStringLiteral("0x%1").arg(value, digits, 16, QLatin1Char('0'));
}

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

// The core's scan with the answering addresses on standard output and, on a terminal, its
// progress on standard error.
class Scan
{
public:
    explicit Scan(const Options &o)
        : o(o), s(o.scan), client(o.timeoutMs), lines(s, [this] { hideProgress(); })
    {
        progress = isatty(STDERR_FILENO) == 1;
    }

    int run()
    {
        if (!client.connectTo(o.target, o.tcpPort))
            return fail(NoAnswer, VmeAccess::connectFailureText(o.target, o.tcpPort, client));
        ScanRange range;
        range.addressMode = s.addressMode;
        range.dataMode = s.dataMode;
        range.accessMode = o.accessMode;
        range.from = s.from;
        range.to = s.to;
        range.step = s.step;
        range.offset = s.offset;
        range.inFlight = s.inFlight;
        range.keepGoing = s.keepGoing;
        BusScan scan(client, CommandIdRange(o.idFirst, o.idLast), range);
        scan.step = [this](quint64 base, bool answered, quint32 value) {
            if (answered)
                lines.answered(base, value);
            else
                lines.gap();
        };
        scan.refusedRead = [this](const QString &message) {
            hideProgress();
            fail(Refused, message);
        };
        // On a terminal the wait is cut every 200 ms to redraw the progress line.
        if (progress) {
            scan.waitSliceMs = 200;
            scan.idle = [this, &scan] { showProgress(scan); };
        }
        QElapsedTimer clock;
        clock.start();
        const BusScan::Outcome outcome = scan.run();
        lines.gap();
        std::fflush(stdout);
        const double secs = clock.nsecsElapsed() / 1e9;
        hideProgress();
        std::fprintf(stderr, "tarnixctl: %llu addresses tried, %llu answering in %.3f s (%.0f addresses/s)\n",
                     static_cast<unsigned long long>(outcome.tried), static_cast<unsigned long long>(outcome.answering),
                     secs, secs > 0 ? outcome.tried / secs : 0.0);
        switch (outcome.status) {
        case BusScan::Outcome::Status::Done: return Success;
        case BusScan::Outcome::Status::Refused: return fail(Refused, outcome.message);
        case BusScan::Outcome::Status::NoAnswer: break;
        }
        return fail(NoAnswer, outcome.message);
    }

private:
    // On a terminal: one line on stderr, redrawn at most five times a second, taken off before
    // an address is printed and at the end.
    void showProgress(const BusScan &scan)
    {
        if (shown.isValid() && !shown.hasExpired(200))
            return;
        shown.start();
        showing = true;
        std::fprintf(stderr, "\rscan: %llu of %llu tried, %llu answering, at %s",
                     static_cast<unsigned long long>(scan.retiredSteps()), static_cast<unsigned long long>(scan.steps()),
                     static_cast<unsigned long long>(lines.count),
                     qPrintable(hex(s.from + scan.retiredSteps() * s.step, 8)));
    }

    void hideProgress()
    {
        if (!showing)
            return;
        std::fputs("\r\x1b[K", stderr);
        showing = false;
        shown.invalidate();
    }

    const Options &o;
    const ScanOptions &s;
    CommandClient client;
    Lines lines;
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
    s.step = BusScan::defaultStep(s.addressMode);
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
    ScanRange range;
    range.addressMode = s.addressMode;
    range.dataMode = s.dataMode;
    range.from = s.from;
    range.to = s.to;
    range.step = s.step;
    range.offset = s.offset;
    text = BusScan::check(range);
    if (!text.isEmpty())
        return false;
    return true;
}

int scanCommand(const Options &o)
{
    Scan scan(o);
    return scan.run();
}

} // namespace Ctl
