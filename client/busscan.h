#pragma once

#include "commandclient.h"

#include <QDeadlineTimer>
#include <QString>
#include <QtGlobal>

#include <deque>
#include <functional>
#include <vector>

// What a bus scan reads: one item at base + offset for every base from `from` to `to` in steps.
struct ScanRange
{
    int addressMode = 1; // A24
    int dataMode = 1;    // D16
    int accessMode = 0;  // User Data
    quint64 from = 0;
    quint64 to = 0;
    quint64 step = 0;
    quint64 offset = 0;
    int inFlight = 64; // reads sent and not yet answered, at most one per ID of the ID range
    bool keepGoing = false; // a parameter error is reported (refusedRead) and the scan goes on
};

// Which addresses answer on the VME bus. One read of one item per step; a read that comes back
// without the VME error bit answers. Several reads are in flight at once, so a long scan is
// bounded by the module rather than by round trips.
class BusScan
{
public:
    struct Outcome
    {
        enum class Status { Done, Refused, NoAnswer };
        Status status = Status::Done;
        QString message; // empty when done
        quint64 tried = 0;     // steps whose outcome is known
        quint64 answering = 0;
    };

    // The step a scan takes when none is given: 0x100 in A16, 0x10000 in A24 and A32.
    static quint64 defaultStep(int addressMode);
    // What keeps the range from being scanned (empty when nothing): from after to, a read
    // not aligned to the item size, the last read leaving the address mode's space.
    static QString check(const ScanRange &range);

    // The client must be connected; the range checked. At most ids.size() reads are in flight.
    BusScan(CommandClient &client, const CommandIdRange &ids, const ScanRange &range);

    // Every step, in scan order, once its outcome is known: answered with the item read. When
    // the scan ends early the steps still waiting come as not answered (their outcome unknown).
    std::function<void(quint64 base, bool answered, quint32 value)> step;
    // Called before each wait for answers; with waitSliceMs above 0 a wait lasts at most that
    // long, so that idle() runs that often (a progress display).
    std::function<void()> idle;
    int waitSliceMs = 0;
    // With keepGoing: the message of each read refused with a parameter error, as it comes.
    std::function<void(const QString &message)> refusedRead;

    Outcome run();

    quint64 steps() const { return stepCount; }
    quint64 retiredSteps() const { return retired; }
    quint64 answeringSteps() const { return answering; }

private:
    enum class State { Waiting, Answered, NoSlave };
    struct Read
    {
        quint64 base = 0;
        QDeadlineTimer deadline;
        State state = State::Waiting;
        quint32 value = 0;
    };

    CommandClient::Result sendMore();
    bool take(const CommandClient::Packet &answer);
    void retire();
    void report(const Read &r);
    Outcome stop(Outcome::Status status, const QString &message);

    CommandClient &client;
    CommandIdRange ids;
    const ScanRange range;
    const int size;
    quint16 mode = 0;
    quint64 stepCount = 0;
    quint64 next = 0;    // the next step to send
    quint64 retired = 0; // steps before the window, reported
    quint64 answering = 0;
    std::deque<Read> reads;
    std::vector<qint64> stepOfId; // the step each ID was last sent for
    bool refusal = false;         // a read came back with a parameter error
    quint64 refusals = 0;         // parameter errors passed over with keepGoing
    bool sendFailed = false;
    quint64 refusedAt = 0;
};
